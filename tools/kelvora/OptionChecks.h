// Validators for numeric command-line options. Each checks the text before CLI11 converts it,
// so "nan", "inf", "12abc" and out-of-range values are refused with a message that says what
// the option accepts.
#pragma once

#include <CLI/CLI.hpp>

namespace KelvoraCli
{

class OptionChecks
{
public:
    // A finite number in [low, high]; with lowExclusive, in (low, high].
    static CLI::Validator Number(double low, double high, bool lowExclusive = false);
    // A whole number in [low, high].
    static CLI::Validator Integer(long long low, long long high);
};

} // namespace KelvoraCli
