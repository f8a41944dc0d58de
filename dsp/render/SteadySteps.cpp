#include "dsp/render/SteadySteps.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

namespace DSP::SteadySteps
{
namespace
{

// Runs shorter than this are left to the chain: working out the closed form costs more.
constexpr uint32_t ShortestRun = 8;
// Frames of one run at most; their step counts as doubles, so that the heads come from one
// multiply and one add each, without converting integers on the way.
constexpr uint32_t LongestRun = 128;

constexpr std::array<double, LongestRun> StepCounts = []
{
    std::array<double, LongestRun> counts{};
    for (uint32_t k = 0; k < LongestRun; ++k)
        counts[k] = k;
    return counts;
}();

// `direction` is +1 or -1. The sums must stay strictly inside the head's binade, one ulp away
// from its bounds, so that even the exact (unrounded) sums lie inside it and are rounded to
// multiples of its ulp.
uint32_t Run(double head, double step, double direction, double stop, uint32_t maxFrames,
             double* heads, double& next)
{
    next = head;
    maxFrames = std::min(maxFrames, LongestRun);
    // Heads from 1 up to 2^52 are normal numbers with a fractional part; a step that is not a
    // positive finite number (or so large it leaves the binade at once) takes the chain.
    if (maxFrames < ShortestRun || !(head >= 1.0 && head < 0x1p52) || !(step > 0.0 && step < head))
        return 0;
    // The head with its mantissa cleared is the power of two that starts its binade.
    constexpr uint64_t mantissa = (uint64_t{1} << 52) - 1;
    const double low = std::bit_cast<double>(std::bit_cast<uint64_t>(head) & ~mantissa);
    const double ulp = low * 0x1p-52;
    const double high = 2.0 * low;
    // The rounded step, taken from one real addition; it and its difference from the step are
    // exact (the error of a rounded sum is a double).
    const double delta = direction * ((head + direction * step) - head);
    if (!(delta > 0.0) || std::fabs(delta - step) == 0.5 * ulp)
        return 0;
    const double inner = direction > 0.0 ? std::min(stop, high - ulp) : std::max(stop, low + ulp);
    const double room = (inner - head) * direction / delta;
    if (!(room >= 1.0))
        return 0;
    uint32_t m = room >= maxFrames ? maxFrames : static_cast<uint32_t>(room);
    // The division may round up by one; the last value must stay strictly inside.
    const auto inside = [&](uint32_t k)
    {
        const double value = head + direction * (k * delta);
        return direction > 0.0 ? value < stop && value <= high - ulp
                               : value > stop && value >= low + ulp;
    };
    while (m > 0 && !inside(m))
        --m;
    if (m < ShortestRun)
        return 0;
    const double signedDelta = direction * delta;
    for (uint32_t k = 0; k < m; ++k)
        heads[k] = head + StepCounts[k] * signedDelta;
    next = head + static_cast<double>(m) * signedDelta;
    return m;
}

} // namespace

uint32_t Forward(double head, double step, double stop, uint32_t maxFrames, double* heads,
                 double& next)
{
    return Run(head, step, 1.0, stop, maxFrames, heads, next);
}

uint32_t Backward(double head, double step, double stop, uint32_t maxFrames, double* heads,
                  double& next)
{
    return Run(head, step, -1.0, stop, maxFrames, heads, next);
}

} // namespace DSP::SteadySteps
