#include "dsp/foundation/Window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace
{

using DSP::MakeWindow;
using DSP::WindowNorm;

// The Hann shape at cell centres, in double, as a reference.
double Hann(int i, int n)
{
    return 0.5 * (1.0 - std::cos(2.0 * M_PI * (i + 0.5) / n));
}

std::vector<float> Make(int n, WindowNorm norm, float exponent = 1.0f)
{
    std::vector<float> w(n > 0 ? n : 0);
    MakeWindow(w.data(), n, norm, exponent);
    return w;
}

TEST(Window, SmallSizes)
{
    for (WindowNorm norm : {WindowNorm::UnitRms, WindowNorm::UnitMean, WindowNorm::None})
        EXPECT_EQ(Make(1, norm)[0], 1.0f);

    const auto raw = Make(4, WindowNorm::None);
    EXPECT_NEAR(raw[0], 0.1464466, 1e-6);
    EXPECT_NEAR(raw[1], 0.8535534, 1e-6);
    // Unit mean doubles the raw values, which sum to 2, keeping their proportion.
    const auto mean = Make(4, WindowNorm::UnitMean);
    EXPECT_NEAR(mean[0], 0.2928932, 1e-6);
    EXPECT_NEAR(mean[1], 1.7071068, 1e-6);
    EXPECT_EQ(mean[0], mean[3]);
    EXPECT_EQ(mean[1], mean[2]);
}

TEST(Window, ShapeAndNormalisations)
{
    for (int n : {5, 16, 255, 1024})
    {
        const auto raw = Make(n, WindowNorm::None);
        const auto mean = Make(n, WindowNorm::UnitMean);
        const auto rms = Make(n, WindowNorm::UnitRms);
        const auto other = Make(n, static_cast<WindowNorm>(7)); // behaves like unit mean
        EXPECT_EQ(other, mean);
        double meanSum = 0.0, rmsSquares = 0.0;
        for (int i = 0; i < n; ++i)
        {
            EXPECT_NEAR(raw[i], Hann(i, n), 2e-7) << n << " " << i;
            meanSum += mean[i];
            rmsSquares += static_cast<double>(rms[i]) * rms[i];
            // Both normalisations scale the raw shape by one factor.
            EXPECT_NEAR(mean[i] / mean[n / 2], raw[i] / raw[n / 2], 1e-6);
            EXPECT_NEAR(rms[i] / rms[n / 2], raw[i] / raw[n / 2], 1e-6);
        }
        EXPECT_NEAR(meanSum / n, 1.0, 1e-6) << n;
        EXPECT_NEAR(rmsSquares / n, 1.0, 1e-6) << n;
    }
}

TEST(Window, ExactlySymmetricWithTheLargestValueInTheMiddle)
{
    for (int n = 1; n <= 200; ++n)
    {
        const auto w = Make(n, WindowNorm::UnitMean);
        for (int j = 0; j < n; ++j)
            ASSERT_EQ(w[j], w[n - 1 - j]) << "n=" << n << " j=" << j;
    }
    // Odd length: the middle cell is centred on half a period, raw value exactly 1.
    const auto odd = Make(7, WindowNorm::None);
    EXPECT_EQ(odd[3], 1.0f);
    for (int j : {0, 1, 2})
        EXPECT_LT(odd[j], odd[3]);
}

TEST(Window, ExponentTwoSquaresTheShape)
{
    const auto plain = Make(9, WindowNorm::None);
    const auto squared = Make(9, WindowNorm::None, 2.0f);
    for (int i = 0; i < 9; ++i)
    {
        // A float squared is exact in double, so the rounded square matches bit for bit.
        EXPECT_EQ(squared[i], static_cast<float>(static_cast<double>(plain[i]) * plain[i]));
        EXPECT_NEAR(squared[i], Hann(i, 9) * Hann(i, 9), 3e-7);
    }
    double sum = 0.0;
    for (float v : Make(9, WindowNorm::UnitMean, 2.0f))
        sum += v;
    EXPECT_NEAR(sum / 9, 1.0, 1e-6);
}

TEST(Window, NothingWrittenForNonPositiveLengths)
{
    std::vector<float> w(4, 42.0f);
    MakeWindow(w.data(), 0, WindowNorm::UnitMean, 1.0f);
    MakeWindow(w.data(), -5, WindowNorm::UnitRms, 2.0f);
    MakeWindow(nullptr, 16, WindowNorm::UnitMean, 1.0f);
    EXPECT_EQ(w, std::vector<float>(4, 42.0f));
}

} // namespace
