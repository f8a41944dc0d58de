#pragma once

#include <cstdint>

namespace DSP
{

// How MakeWindow scales the raw shape. Any value other than these behaves like UnitMean.
enum class WindowNorm : int32_t
{
    UnitRms = 0,  // the mean of the squared values becomes 1
    UnitMean = 1, // the mean of the values becomes 1
    None = 2,     // the raw (possibly exponentiated) values stay unscaled
};

// Writes n values of a Hann window sampled at the centres of n equal cells of one period (so
// neither end is zero), raised to `exponent` unless it is exactly 1, then normalised by `norm`.
// The result is exactly symmetric. Nothing is written for n <= 0 or a null `out`.
void MakeWindow(float* out, int32_t n, WindowNorm norm, float exponent);

} // namespace DSP
