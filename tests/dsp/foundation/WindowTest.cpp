#include "dsp/foundation/Window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace
{

using DSP::MakeWindow;
using DSP::WindowNorm;

// The Hann shape at cell centres, computed directly in double as a reference.
double Hann(int i, int n)
{
    return 0.5 * (1.0 - std::cos(2.0 * M_PI * (i + 0.5) / n));
}

std::vector<float> Make(int n, WindowNorm norm, float exponent)
{
    std::vector<float> w(n > 0 ? n : 0);
    MakeWindow(w.data(), n, norm, exponent);
    return w;
}

TEST(Window, SinglePointIsOneInEveryMode)
{
    for (WindowNorm norm : {WindowNorm::UnitRms, WindowNorm::UnitMean, WindowNorm::None})
    {
        const auto w = Make(1, norm, 1.0f);
        EXPECT_EQ(w[0], 1.0f);
    }
}

TEST(Window, FourPointsRawAndNormalised)
{
    const auto raw = Make(4, WindowNorm::None, 1.0f);
    EXPECT_NEAR(raw[0], 0.1464466, 1e-6);
    EXPECT_NEAR(raw[1], 0.8535534, 1e-6);
    EXPECT_EQ(raw[0], raw[3]);
    EXPECT_EQ(raw[1], raw[2]);

    // Unit mean: the raw values sum to 2, so they double, keeping their proportion.
    const auto mean = Make(4, WindowNorm::UnitMean, 1.0f);
    EXPECT_NEAR((mean[0] + mean[1] + mean[2] + mean[3]) / 4.0, 1.0, 1e-6);
    EXPECT_NEAR(mean[0], 0.2928932, 1e-6);
    EXPECT_NEAR(mean[1], 1.7071068, 1e-6);
    EXPECT_NEAR(mean[1] / mean[0], 0.8535534 / 0.1464466, 1e-5);
}

TEST(Window, MatchesHannShapeAndNormalisations)
{
    for (int n : {2, 5, 16, 64, 255, 256, 1024})
    {
        const auto raw = Make(n, WindowNorm::None, 1.0f);
        const auto mean = Make(n, WindowNorm::UnitMean, 1.0f);
        const auto rms = Make(n, WindowNorm::UnitRms, 1.0f);
        double rawSum = 0.0, rawSquares = 0.0, meanSum = 0.0, rmsSquares = 0.0;
        for (int i = 0; i < n; ++i)
        {
            EXPECT_NEAR(raw[i], Hann(i, n), 2e-7) << "n=" << n << " i=" << i;
            rawSum += Hann(i, n);
            rawSquares += Hann(i, n) * Hann(i, n);
            meanSum += mean[i];
            rmsSquares += static_cast<double>(rms[i]) * rms[i];
        }
        EXPECT_NEAR(meanSum / n, 1.0, 1e-6) << n;
        EXPECT_NEAR(rmsSquares / n, 1.0, 1e-6) << n;
        // Both normalisations are one common factor applied to the raw shape.
        const double meanFactor = n / rawSum;
        const double rmsFactor = 1.0 / std::sqrt(rawSquares / n);
        for (int i = 0; i < n; ++i)
        {
            EXPECT_NEAR(mean[i], Hann(i, n) * meanFactor, 1e-6 * meanFactor) << n;
            EXPECT_NEAR(rms[i], Hann(i, n) * rmsFactor, 1e-6 * rmsFactor) << n;
        }
    }
}

TEST(Window, ExactlySymmetricForEveryLength)
{
    for (int n = 1; n <= 300; ++n)
    {
        const auto w = Make(n, WindowNorm::UnitMean, 1.0f);
        for (int j = 0; j < n; ++j)
            ASSERT_EQ(w[j], w[n - 1 - j]) << "n=" << n << " j=" << j;
    }
}

TEST(Window, OddLengthPeaksAtTheMiddle)
{
    const auto raw = Make(7, WindowNorm::None, 1.0f);
    // The middle cell's centre sits at half a period: angle pi, value exactly 1.
    EXPECT_EQ(raw[3], 1.0f);
    for (int j = 0; j < 7; ++j)
    {
        if (j == 3)
            continue;
        EXPECT_LT(raw[j], raw[3]);
    }
    const auto mean = Make(7, WindowNorm::UnitMean, 1.0f);
    for (int j = 0; j < 7; ++j)
    {
        if (j == 3)
            continue;
        EXPECT_LT(mean[j], mean[3]);
    }
}

TEST(Window, ExponentTwoSquaresTheRawShape)
{
    for (int n : {4, 9, 128})
    {
        const auto plain = Make(n, WindowNorm::None, 1.0f);
        const auto squared = Make(n, WindowNorm::None, 2.0f);
        for (int i = 0; i < n; ++i)
        {
            // A float squared is exact in double, so the rounded square must match bit for bit.
            EXPECT_EQ(squared[i], static_cast<float>(static_cast<double>(plain[i]) * plain[i]));
            EXPECT_NEAR(squared[i], Hann(i, n) * Hann(i, n), 3e-7);
        }
        // Normalised, the squared shape still averages 1.
        const auto mean = Make(n, WindowNorm::UnitMean, 2.0f);
        double sum = 0.0;
        for (float v : mean)
            sum += v;
        EXPECT_NEAR(sum / n, 1.0, 1e-6);
    }
}

TEST(Window, UnknownNormBehavesLikeUnitMean)
{
    const auto mean = Make(33, WindowNorm::UnitMean, 1.0f);
    const auto other = Make(33, static_cast<WindowNorm>(7), 1.0f);
    const auto negative = Make(33, static_cast<WindowNorm>(-1), 1.0f);
    EXPECT_EQ(mean, other);
    EXPECT_EQ(mean, negative);
}

TEST(Window, NonPositiveLengthWritesNothing)
{
    std::vector<float> w(4, 42.0f);
    MakeWindow(w.data(), 0, WindowNorm::UnitMean, 1.0f);
    MakeWindow(w.data(), -5, WindowNorm::UnitRms, 2.0f);
    MakeWindow(nullptr, 16, WindowNorm::UnitMean, 1.0f);
    EXPECT_EQ(w, std::vector<float>(4, 42.0f));
}

} // namespace
