#pragma once

#include <cstdint>

namespace DSP
{

// A ramp of a given number of samples from one value to another, straight or bent, that holds
// its end value once it has run out. The bend is fixed by one number: how far from start to end
// the curve has come at half its length (0.5 is a straight line).
class RampCurve
{
public:
    RampCurve() = default;

    // bend 0 is straight; 0.5 covers a quarter of the way at half the length (slow start);
    // -0.97 covers 98.5 % of it (fast, exponential-like start). A length of 0 jumps to `to`.
    void Set(double from, double to, double bend, uint32_t length);
    // Writes the next n samples, then `to` for every sample past the end of the ramp.
    void Generate(uint32_t n, float* out);
    double Current() const { return value; }

    uint32_t GetRemaining() const { return remaining; }
    double GetMidpoint() const { return midpoint; }
    bool IsFlat() const { return flat; }

private:
    double from = 0.0;
    double to = 0.0;
    double midpoint = 0.0;
    double value = 0.0;
    uint32_t length = 0;
    uint32_t remaining = 0;
    double increment = 0.0;
    double factor = 0.0;
    bool flat = true;
};

} // namespace DSP
