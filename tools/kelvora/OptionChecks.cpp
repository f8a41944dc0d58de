#include "tools/kelvora/OptionChecks.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace KelvoraCli
{

namespace
{

std::string Show(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

bool ParseWhole(const std::string& text, double& value)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end != text.c_str() && *end == '\0' && errno != ERANGE;
}

} // namespace

CLI::Validator OptionChecks::Number(double low, double high, bool lowExclusive)
{
    const std::string range =
        (lowExclusive ? "above " + Show(low) + " and up to " : "from " + Show(low) + " to ") +
        Show(high);
    return CLI::Validator(
        [=](std::string& text) -> std::string
        {
            double value = 0.0;
            if (!ParseWhole(text, value) || !std::isfinite(value))
                return "'" + text + "' is not a number " + range;
            const bool tooLow = lowExclusive ? value <= low : value < low;
            if (tooLow || value > high)
                return "'" + text + "' is out of range; use a number " + range;
            return std::string();
        },
        std::string(lowExclusive ? "(" : "[") + Show(low) + ", " + Show(high) + "]");
}

CLI::Validator OptionChecks::Integer(long long low, long long high)
{
    const std::string range = "from " + std::to_string(low) + " to " + std::to_string(high);
    return CLI::Validator(
        [=](std::string& text) -> std::string
        {
            if (text.empty())
                return "'' is not a whole number " + range;
            errno = 0;
            char* end = nullptr;
            const long long value = std::strtoll(text.c_str(), &end, 10);
            if (end == text.c_str() || *end != '\0' || errno == ERANGE)
                return "'" + text + "' is not a whole number " + range;
            if (value < low || value > high)
                return "'" + text + "' is out of range; use a whole number " + range;
            return std::string();
        },
        "[" + std::to_string(low) + ", " + std::to_string(high) + "]");
}

} // namespace KelvoraCli
