#include "tools/kelvora/NumberText.h"

#include <cstdio>

namespace KelvoraCli
{

std::string Formatted(const char* pattern, double value)
{
    const int length = std::snprintf(nullptr, 0, pattern, value);
    if (length <= 0)
        return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), pattern, value);
    text.resize(static_cast<size_t>(length));
    return text;
}

std::string OneDecimal(double value)
{
    return Formatted("%.1f", value);
}

std::string Gigabytes(uint64_t bytes)
{
    return Formatted("%.2f GB", static_cast<double>(bytes) / 1e9);
}

} // namespace KelvoraCli
