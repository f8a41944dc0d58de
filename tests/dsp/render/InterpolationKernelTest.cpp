#include "dsp/render/InterpolationKernel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <random>
#include <vector>

using namespace DSP::InterpolationKernel;

namespace
{

// The reading rule written out frame by frame: clamp the head into the slice (NaN and heads below
// it read frame 0 as they are, heads past it the last frame with their fraction), interpolate in
// double precision, round to single, scale and add.
float ReferenceRead(const std::vector<float>& slice, double head, float gain, float out)
{
    const uint32_t last = static_cast<uint32_t>(slice.size()) - 1;
    const bool inside = head >= 0.0 && head < static_cast<double>(slice.size());
    const uint32_t i0 = inside ? static_cast<uint32_t>(std::trunc(head)) : head > 0.0 ? last : 0;
    const uint32_t i1 = inside ? std::min(i0 + 1, last) : i0;
    const double frac = head >= 0.0 && std::isfinite(head) ? head - std::floor(head) : 0.0;
    const double v = double(slice[i0]) * (1.0 - frac) + double(slice[i1]) * frac;
    return out + gain * static_cast<float>(v);
}

} // namespace

// Every path this processor runs, forced in turn, gives the reference's bits on heads inside
// the slice, on its edges and outside it, NaN and infinities included.
TEST(InterpolationKernel, EveryPathMatchesTheReferenceBitForBit)
{
    std::mt19937 rng(17);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
    const uint32_t length = 1000;
    std::vector<float> slice(length);
    std::generate(slice.begin(), slice.end(), [&] { return sample(rng); });
    const uint32_t count = 203; // not a multiple of any vector width
    std::vector<double> heads(count);
    std::vector<float> gains(count), start(count);
    std::uniform_real_distribution<double> inside(0.0, length);
    const double edges[] = {-0.5, -1e300, NAN, INFINITY, -INFINITY, 999.0, 999.999, 1000.0, 1e12};
    for (uint32_t j = 0; j < count; ++j)
    {
        // A run that moves like a playing head (one window load serves four or eight frames),
        // then scattered reads.
        const double head = j < 120 ? 400.0 + 1.19 * j : inside(rng);
        heads[j] = j % 23 == 5 ? edges[(j / 23) % std::size(edges)] : head;
        gains[j] = j % 3 == 0 ? 1.0f : sample(rng);
        start[j] = sample(rng);
    }

    for (const DSP::KernelPath p :
         {DSP::KernelPath::Baseline, DSP::KernelPath::Avx2, DSP::KernelPath::Avx512})
    {
        if (!DSP::KernelPathAvailable(p))
            continue;
        const Functions path = ForPath(p);
        std::vector<uint32_t> first(count), second(count);
        std::vector<double> w0(count), w1(count);
        const DSP::TapRun taps{first.data(), second.data(), w0.data(), w1.data()};
        path.makeTaps(count, heads.data(), length, taps);
        std::vector<float> out = start;
        path.interpolate(count, slice.data(), taps, gains.data(), out.data(), length);
        for (uint32_t j = 0; j < count; ++j)
            EXPECT_EQ(std::bit_cast<uint32_t>(out[j]),
                      std::bit_cast<uint32_t>(ReferenceRead(slice, heads[j], gains[j], start[j])))
                << "path " << static_cast<int>(p) << " frame " << j << " head " << heads[j];
    }
}
