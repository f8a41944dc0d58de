// Numbers as the tool prints them in messages, reports and pictures, so one value reads the same
// everywhere.
#pragma once

#include <cstdint>
#include <string>

namespace KelvoraCli
{

// `value` through a printf pattern that takes one double, e.g. "%.3f"; never cut short.
std::string Formatted(const char* pattern, double value);

// One decimal, as tempos and drawing coordinates are shown: "120.0".
std::string OneDecimal(double value);

// A byte count in gigabytes with two decimals: "4.29 GB".
std::string Gigabytes(uint64_t bytes);

} // namespace KelvoraCli
