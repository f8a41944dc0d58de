#pragma once

#include <cmath>

namespace DSP
{

// The linear level of a gain in decibels, e^(db x ln(10) / 20). The exponent and the result are
// each rounded to single precision, as levels are stored.
inline float DecibelsToLevel(float db)
{
    constexpr double NepersPerDecibel = 0.115129254758358; // ln(10) / 20
    const float exponent = static_cast<float>(db * NepersPerDecibel);
    return static_cast<float>(std::exp(static_cast<double>(exponent)));
}

} // namespace DSP
