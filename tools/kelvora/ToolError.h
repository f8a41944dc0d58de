// A failure the tool reports to the user as one line and then moves on from (to the next file,
// or to a non-zero exit status).
#pragma once

#include <stdexcept>
#include <string>

namespace KelvoraCli
{

class ToolError : public std::runtime_error
{
public:
    explicit ToolError(const std::string& message);

    // "<subject>: <problem>", the form every message about a file takes.
    static ToolError About(const std::string& subject, const std::string& problem);
};

} // namespace KelvoraCli
