#include "dsp/render/RampCurve.h"

#include "dsp/foundation/VectorOps.h"

#include <algorithm>
#include <cmath>

namespace DSP
{

namespace
{
constexpr double MinMidpoint = 0.0001;
constexpr double MaxMidpoint = 0.9999;
} // namespace

void RampCurve::Set(double fromIn, double toIn, double bend, uint32_t lengthIn)
{
    if (lengthIn == 0)
        fromIn = toIn;
    from = fromIn;
    to = toIn;
    value = from;
    length = lengthIn;
    remaining = lengthIn;
    increment = 0.0;
    factor = 0.0;

    flat = (to == from);
    if (flat)
    {
        midpoint = 0.5;
        return;
    }
    midpoint = (1.0 - bend) * 0.5;
    // A NaN bend has no shape to offer; a straight line is the only neutral reading of it.
    if (std::isnan(midpoint))
        midpoint = 0.5;
    midpoint = std::clamp(midpoint, MinMidpoint, MaxMidpoint);

    if (midpoint == 0.5)
    {
        increment = (to - from) / length;
        return;
    }

    // One-pole recursion value(k + 1) = factor * value(k) + increment with value(0) = from, tuned
    // so that it passes through `mid` at half the length and lands on `to` at the full length.
    const double mid = from + (to - from) * midpoint;
    const double r = (mid - to) / (from - mid);
    factor = std::pow(r, 2.0 / length);
    const double p = std::pow(factor, static_cast<double>(length));
    increment = (factor - 1.0) * (to - from * p) / (p - 1.0);
}

void RampCurve::Generate(uint32_t n, float* out)
{
    if (out == nullptr)
        return;
    const uint32_t k = std::min(n, remaining);

    if (flat)
    {
        value = to;
        VectorOps::SetFloats(k, out, static_cast<float>(value));
    }
    else if (midpoint == 0.5)
    {
        // Every value is taken from the start value and the step count rather than summed from
        // the previous one, so a long ramp lands on its end value without drift. Stepping from an
        // integer count keeps the loop free of a carried floating-point dependency.
        const uint32_t done = length - remaining;
        if (k > 0)
            out[0] = static_cast<float>(value);
        for (uint32_t j = 1; j < k; ++j)
            out[j] = static_cast<float>(increment * static_cast<double>(done + j) + from);
        if (k > 0)
            value = increment * static_cast<double>(done + k) + from;
    }
    else
    {
        double v = value;
        for (uint32_t j = 0; j < k; ++j)
        {
            out[j] = static_cast<float>(v);
            v = factor * v + increment;
        }
        value = v;
    }

    remaining -= k;
    if (remaining == 0 && k < n)
        VectorOps::SetFloats(n - k, out + k, static_cast<float>(to));
}

} // namespace DSP
