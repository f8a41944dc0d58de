#include "dsp/foundation/RealFFT.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <memory>
#include <random>
#include <vector>

namespace
{

using DSP::RealFFT;

constexpr float Canary = 12345.0f;

std::vector<float> Random(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> x(n);
    for (float& v : x)
        v = dist(rng);
    return x;
}

// Transforms x, whose length must be the object's N, and checks the CCS result against the DFT
// computed from its definition, and that nothing past N + 2 floats was written.
void ExpectForwardMatches(RealFFT& fft, const std::vector<float>& x)
{
    const size_t n = x.size();
    std::vector<float> spectrum(n + 3, Canary);
    ASSERT_EQ(fft.Forward(x.data(), spectrum.data()), 0);
    for (size_t k = 0; k <= n / 2; ++k)
    {
        std::complex<double> expected = 0.0;
        for (size_t i = 0; i < n; ++i)
            expected += static_cast<double>(x[i]) * std::polar(1.0, -2.0 * M_PI * k * i / n);
        EXPECT_NEAR(spectrum[2 * k], expected.real(), 1e-5 * n) << "N " << n << " k " << k;
        EXPECT_NEAR(spectrum[2 * k + 1], expected.imag(), 1e-5 * n) << "N " << n << " k " << k;
    }
    EXPECT_EQ(spectrum[n + 2], Canary);
}

TEST(RealFFT, TransformLengthIsThePowerOfTwoCoveringTheSize)
{
    // 1 and 2 use N = 2, 3 uses N = 4, 1025 uses N = 2048.
    const std::pair<int32_t, size_t> cases[] = {{1, 2}, {2, 2}, {3, 4}, {1024, 1024}, {1025, 2048}};
    for (auto [size, n] : cases)
    {
        RealFFT fft(size);
        EXPECT_EQ(fft.GetSize(), size);
        ExpectForwardMatches(fft, Random(n, size));
    }
    EXPECT_EQ(RealFFT::OrderFor(1024), 10);
    EXPECT_EQ(RealFFT::OrderFor(1025), 11);
    EXPECT_EQ(RealFFT::OrderFor(-7), 1);
    EXPECT_EQ(RealFFT::OrderFor(std::numeric_limits<int32_t>::max()), 31);
}

TEST(RealFFT, SameSizeKeepsPlanAndBuffer)
{
    RealFFT fft;
    EXPECT_EQ(fft.GetPlan(), nullptr);
    fft.SetSize(1024);
    const auto* plan = fft.GetPlan();
    const auto* work = fft.GetWork();
    ASSERT_NE(plan, nullptr);
    fft.SetSize(1024);
    EXPECT_EQ(fft.GetPlan(), plan);
    EXPECT_EQ(fft.GetWork(), work);
    fft.SetSize(100);
    ExpectForwardMatches(fft, Random(128, 6));
}

TEST(RealFFT, CopiesAreIndependent)
{
    const auto x = Random(512, 7);
    auto original = std::make_unique<RealFFT>(512);
    RealFFT copy(*original);
    EXPECT_EQ(copy.GetSize(), 512);
    EXPECT_NE(copy.GetPlan(), original->GetPlan());
    ExpectForwardMatches(*original, x);
    original.reset();
    ExpectForwardMatches(copy, x);
    {
        RealFFT second(copy);
        copy.SetSize(64);
        ExpectForwardMatches(second, x);
    }
    ExpectForwardMatches(copy, Random(64, 8));
    RealFFT assigned;
    assigned = copy;
    EXPECT_NE(assigned.GetPlan(), copy.GetPlan());
    ExpectForwardMatches(assigned, Random(64, 9));
}

TEST(RealFFT, RampRoundTrip)
{
    for (int32_t n : {2, 16, 4096})
    {
        RealFFT fft(n);
        std::vector<float> ramp(n), spectrum(n + 2), back(n);
        for (int32_t i = 0; i < n; ++i)
            ramp[i] = static_cast<float>(i) / n;
        ASSERT_EQ(fft.Forward(ramp.data(), spectrum.data()), 0);
        EXPECT_NEAR(spectrum[0], (n - 1) / 2.0, 1e-4 * n); // unscaled: the plain sum
        ASSERT_EQ(fft.Inverse(spectrum.data(), back.data()), 0);
        for (int32_t i = 0; i < n; ++i)
            EXPECT_NEAR(back[i], ramp[i], 1e-5) << "N " << n << " i " << i;
    }
}

TEST(RealFFT, WithoutAPlanNothingIsWritten)
{
    const float x[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    float out[6] = {Canary, Canary, Canary, Canary, Canary, Canary};
    RealFFT empty;
    EXPECT_NE(empty.Forward(x, out), 0);
    RealFFT huge(std::numeric_limits<int32_t>::max()); // past 2^30 no plan can be made
    EXPECT_NE(huge.Forward(x, out), 0);
    for (float v : out)
        EXPECT_EQ(v, Canary);
    // Zero after a length builds the 2-point plan.
    RealFFT fft(64);
    fft.SetSize(0);
    ASSERT_EQ(fft.Forward(x, out), 0);
    EXPECT_FLOAT_EQ(out[0], 3.0f);
    EXPECT_FLOAT_EQ(out[2], -1.0f);
}

} // namespace
