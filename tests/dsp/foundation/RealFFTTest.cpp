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

// X_k for k = 0..N/2 by the definition, in double.
std::vector<std::complex<double>> Dft(const std::vector<float>& x)
{
    const size_t n = x.size();
    std::vector<std::complex<double>> out(n / 2 + 1);
    for (size_t k = 0; k <= n / 2; ++k)
    {
        for (size_t i = 0; i < n; ++i)
            out[k] += static_cast<double>(x[i]) * std::polar(1.0, -2.0 * M_PI * k * i / n);
    }
    return out;
}

std::vector<float> Random(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> x(n);
    for (float& v : x)
        v = dist(rng);
    return x;
}

// Transforms x (whose length must be the object's N) and checks the CCS result against the DFT
// and that nothing past N + 2 floats was written.
void ExpectForwardMatches(RealFFT& fft, const std::vector<float>& x)
{
    const size_t n = x.size();
    std::vector<float> spectrum(n + 3, Canary);
    ASSERT_EQ(fft.Forward(x.data(), spectrum.data()), 0);
    const auto expected = Dft(x);
    const double tolerance = 1e-5 * n;
    for (size_t k = 0; k <= n / 2; ++k)
    {
        EXPECT_NEAR(spectrum[2 * k], expected[k].real(), tolerance) << "N " << n << " k " << k;
        EXPECT_NEAR(spectrum[2 * k + 1], expected[k].imag(), tolerance) << "N " << n << " k " << k;
    }
    EXPECT_EQ(spectrum[1], 0.0f);
    EXPECT_EQ(spectrum[n + 1], 0.0f);
    EXPECT_EQ(spectrum[n + 2], Canary);
}

TEST(RealFFT, OrderIsTheSmallestPowerOfTwoCoveringTheLength)
{
    EXPECT_EQ(RealFFT::OrderFor(1), 1);
    EXPECT_EQ(RealFFT::OrderFor(2), 1);
    EXPECT_EQ(RealFFT::OrderFor(3), 2);
    EXPECT_EQ(RealFFT::OrderFor(4), 2);
    EXPECT_EQ(RealFFT::OrderFor(5), 3);
    EXPECT_EQ(RealFFT::OrderFor(1024), 10);
    EXPECT_EQ(RealFFT::OrderFor(1025), 11);
    EXPECT_EQ(RealFFT::OrderFor(1 << 30), 30);
    EXPECT_EQ(RealFFT::OrderFor((1 << 30) + 1), 31);
    EXPECT_EQ(RealFFT::OrderFor(std::numeric_limits<int32_t>::max()), 31);
    EXPECT_EQ(RealFFT::OrderFor(0), 1);
    EXPECT_EQ(RealFFT::OrderFor(-7), 1);
    EXPECT_EQ(RealFFT::OrderFor(std::numeric_limits<int32_t>::min()), 1);
}

TEST(RealFFT, LengthsOneAndTwoUseTwoPoints)
{
    for (int32_t n : {1, 2})
    {
        RealFFT fft(n);
        EXPECT_EQ(fft.GetSize(), n);
        const float x[2] = {3.0f, 5.0f};
        float spectrum[5] = {Canary, Canary, Canary, Canary, Canary};
        ASSERT_EQ(fft.Forward(x, spectrum), 0);
        // X0 = 3 + 5, X1 = 3 - 5, both real.
        EXPECT_FLOAT_EQ(spectrum[0], 8.0f);
        EXPECT_EQ(spectrum[1], 0.0f);
        EXPECT_FLOAT_EQ(spectrum[2], -2.0f);
        EXPECT_EQ(spectrum[3], 0.0f);
        EXPECT_EQ(spectrum[4], Canary);
    }
}

TEST(RealFFT, LengthThreeUsesFourPoints)
{
    RealFFT fft(3);
    const float x[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    float spectrum[7] = {Canary, Canary, Canary, Canary, Canary, Canary, Canary};
    ASSERT_EQ(fft.Forward(x, spectrum), 0);
    // X0 = 10; X1 = 1 - 2i - 3 + 4i = -2 + 2i; X2 = 1 - 2 + 3 - 4 = -2.
    const float expected[6] = {10.0f, 0.0f, -2.0f, 2.0f, -2.0f, 0.0f};
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(spectrum[i], expected[i], 1e-5) << i;
    EXPECT_EQ(spectrum[6], Canary);
}

TEST(RealFFT, MatchesTheDefinition)
{
    for (int32_t n : {8, 16, 64, 1024})
    {
        RealFFT fft(n);
        ExpectForwardMatches(fft, Random(n, n));
    }
    // 1025 is served by a 2048-point transform.
    RealFFT fft(1025);
    EXPECT_EQ(fft.GetSize(), 1025);
    ExpectForwardMatches(fft, Random(2048, 3));
}

TEST(RealFFT, SameLengthKeepsPlanAndBuffer)
{
    RealFFT fft;
    EXPECT_EQ(fft.GetSize(), 0);
    EXPECT_EQ(fft.GetPlan(), nullptr);
    fft.SetSize(1024);
    const auto* plan = fft.GetPlan();
    const auto* work = fft.GetWork();
    ASSERT_NE(plan, nullptr);
    fft.SetSize(1024);
    EXPECT_EQ(fft.GetPlan(), plan);
    EXPECT_EQ(fft.GetWork(), work);
    ExpectForwardMatches(fft, Random(1024, 5));

    // A new length gives a plan for it.
    fft.SetSize(100);
    EXPECT_EQ(fft.GetSize(), 100);
    ExpectForwardMatches(fft, Random(128, 6));
}

TEST(RealFFT, CopiesAreIndependent)
{
    const auto x = Random(512, 7);
    auto original = std::make_unique<RealFFT>(512);
    RealFFT copy(*original);
    EXPECT_EQ(copy.GetSize(), 512);
    EXPECT_NE(copy.GetPlan(), original->GetPlan());
    ExpectForwardMatches(copy, x);
    ExpectForwardMatches(*original, x);

    // Destroying the original leaves the copy usable, and the other way round.
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
    EXPECT_EQ(assigned.GetSize(), 64);
    EXPECT_NE(assigned.GetPlan(), copy.GetPlan());
    ExpectForwardMatches(assigned, Random(64, 9));
    RealFFT empty;
    assigned = empty;
    EXPECT_EQ(assigned.GetSize(), 0);
    EXPECT_EQ(assigned.GetPlan(), nullptr);

    // A copy of an empty object is empty.
    RealFFT emptyCopy(empty);
    EXPECT_EQ(emptyCopy.GetPlan(), nullptr);
}

TEST(RealFFT, RampSurvivesTheRoundTrip)
{
    for (int32_t n : {2, 4, 16, 256, 4096})
    {
        RealFFT fft(n);
        std::vector<float> ramp(n);
        for (int32_t i = 0; i < n; ++i)
            ramp[i] = static_cast<float>(i) / n - 0.25f;
        std::vector<float> spectrum(n + 2);
        std::vector<float> back(n, Canary);
        ASSERT_EQ(fft.Forward(ramp.data(), spectrum.data()), 0);
        // The forward transform is unscaled: X0 is the plain sum.
        double sum = 0.0;
        for (float v : ramp)
            sum += v;
        EXPECT_NEAR(spectrum[0], sum, 1e-4 * n);
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
    EXPECT_NE(empty.Inverse(x, out), 0);
    // Past 2^30 no plan can be made.
    RealFFT huge(std::numeric_limits<int32_t>::max());
    EXPECT_EQ(huge.GetPlan(), nullptr);
    EXPECT_NE(huge.Forward(x, out), 0);
    for (float v : out)
        EXPECT_EQ(v, Canary);

    // Zero after a length releases the old plan and builds the 2-point one.
    RealFFT fft(64);
    fft.SetSize(0);
    EXPECT_EQ(fft.GetSize(), 0);
    ASSERT_NE(fft.GetPlan(), nullptr);
    ASSERT_EQ(fft.Forward(x, out), 0);
    EXPECT_FLOAT_EQ(out[0], 3.0f);
    EXPECT_FLOAT_EQ(out[2], -1.0f);
    EXPECT_EQ(out[4], Canary);
}

} // namespace
