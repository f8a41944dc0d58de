#include "tools/kelvora/ToolError.h"

namespace KelvoraCli
{

ToolError::ToolError(const std::string& message) : std::runtime_error(message) {}

ToolError ToolError::About(const std::string& subject, const std::string& problem)
{
    return ToolError(subject + ": " + problem);
}

} // namespace KelvoraCli
