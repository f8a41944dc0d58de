#include "dsp/foundation/RealFFT.h"
#include "dsp/foundation/KernelPath.h"
#include "tests/dsp/foundation/ReferenceDft.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>

namespace
{

using DSP::RealFFT;

constexpr float Canary = 12345.0f;

// A ramp of length N against the direct sums, nothing written past N + 2, and back.
void ExpectRoundTrip(RealFFT& fft, size_t n)
{
    std::vector<float> ramp(n), spectrum(n + 3, Canary), back(n);
    for (size_t i = 0; i < n; ++i)
        ramp[i] = float(i) / float(n);
    ASSERT_EQ(fft.Forward(ramp.data(), spectrum.data()), 0);
    EXPECT_EQ(spectrum[n + 2], Canary) << n;
    spectrum.pop_back();
    EXPECT_LT(ReferenceDft::RelativeError(spectrum, ReferenceDft::Forward(ramp)), 1e-6) << n;
    ASSERT_EQ(fft.Inverse(spectrum.data(), back.data()), 0);
    for (size_t i = 0; i < n; ++i)
        ASSERT_NEAR(back[i], ramp[i], 1e-6) << "N " << n << " i " << i;
}

TEST(RealFFT, TransformLengthIsThePowerOfTwoCoveringTheSize)
{
    const std::pair<int32_t, size_t> cases[] = {{1, 2}, {2, 2}, {3, 4}, {1024, 1024}, {1025, 2048}};
    for (auto [size, n] : cases)
    {
        RealFFT fft(size);
        EXPECT_EQ(fft.GetSize(), size);
        ExpectRoundTrip(fft, n);
    }
    EXPECT_EQ(RealFFT::OrderFor(-7), 1);
    EXPECT_EQ(RealFFT::OrderFor(std::numeric_limits<int32_t>::max()), 31);
}

TEST(RealFFT, CopiesAreIndependent)
{
    auto original = std::make_unique<RealFFT>(512);
    RealFFT copy(*original);
    original.reset();
    ExpectRoundTrip(copy, 512);
    RealFFT assigned;
    assigned = copy;
    copy.SetSize(100);
    ExpectRoundTrip(copy, 128);
    ExpectRoundTrip(assigned, 512);
}

TEST(RealFFT, WithoutAPlanNothingIsWritten)
{
    const float x[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    float out[6] = {Canary, Canary, Canary, Canary, Canary, Canary};
    RealFFT empty, huge(std::numeric_limits<int32_t>::max()); // past 2^30 no plan can be made
    EXPECT_NE(empty.Forward(x, out), 0);
    EXPECT_NE(huge.Forward(x, out), 0);
    EXPECT_NE(huge.Inverse(x, out), 0);
    EXPECT_EQ(std::vector<float>(out, out + 6), std::vector<float>(6, Canary));
    RealFFT fft(64);
    fft.SetSize(0); // the 2-point plan: {1 + 2, 0, 1 - 2, 0}
    ASSERT_EQ(fft.Forward(x, out), 0);
    EXPECT_EQ(out[0], 3.0f);
    EXPECT_EQ(out[2], -1.0f);
}

// Every build of the transform the processor can run, forced in turn, gives the bits of the
// baseline build, forward, inverse and sixteen forward transforms side by side, for each pass
// layout (last pass radix 2, 4 and 8) and the small direct kernels.
TEST(RealFFT, EveryKernelPathGivesTheBaselineBits)
{
    using DSP::KernelPath;
    constexpr size_t Lanes = DSP::Primitives::FftBatchLanes;
    const KernelPath initial = DSP::ActiveKernelPath();
    for (size_t n : {8u, 16u, 32u, 64u, 128u, 4096u, 8192u})
    {
        RealFFT fft{int32_t(n)};
        const std::vector<float> x = ReferenceDft::RandomSignal(Lanes * (n + 2), unsigned(n), 1.0f);
        auto run = [&](KernelPath path)
        {
            EXPECT_TRUE(DSP::SetKernelPath(path));
            std::vector<float> out(n + 2 + n + Lanes * (n + 2));
            fft.Forward(x.data(), out.data());
            fft.Inverse(x.data(), out.data() + n + 2); // any spectrum will do
            fft.ForwardBatch(x.data(), out.data() + 2 * n + 2);
            return out;
        };
        const std::vector<float> baseline = run(KernelPath::Baseline);
        // Lane l of the batch is the transform of x[Lanes * i + l] on its own.
        for (size_t lane : {size_t{0}, Lanes - 1})
        {
            std::vector<float> signal(n), alone(n + 2);
            for (size_t i = 0; i < n; ++i)
                signal[i] = x[Lanes * i + lane];
            fft.Forward(signal.data(), alone.data());
            for (size_t j = 0; j < n + 2; ++j)
                ASSERT_EQ(std::memcmp(&alone[j], &baseline[2 * n + 2 + Lanes * j + lane], 4), 0)
                    << "N " << n << " lane " << lane << " entry " << j;
        }
        for (KernelPath path : {KernelPath::Avx2, KernelPath::Avx512})
        {
            if (!DSP::KernelPathAvailable(path))
                continue;
            const std::vector<float> wide = run(path);
            EXPECT_EQ(std::memcmp(wide.data(), baseline.data(), sizeof(float) * wide.size()), 0)
                << "N " << n << " path " << int(path);
        }
    }
    DSP::SetKernelPath(initial);
}

} // namespace
