#include "dsp/foundation/Window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace
{

using DSP::MakeWindow;
using DSP::WindowNorm;

std::vector<float> Make(int n, WindowNorm norm, float exponent = 1.0f)
{
    std::vector<float> w(n > 0 ? n : 0);
    MakeWindow(w.data(), n, norm, exponent);
    return w;
}

TEST(Window, WorkedValues)
{
    for (WindowNorm norm : {WindowNorm::UnitRms, WindowNorm::UnitMean, WindowNorm::None})
        EXPECT_EQ(Make(1, norm)[0], 1.0f);
    const auto odd = Make(7, WindowNorm::None);
    EXPECT_EQ(odd[3], 1.0f);
    EXPECT_LT(odd[2], odd[3]);
    std::vector<float> w(4, 42.0f);
    MakeWindow(w.data(), 0, WindowNorm::UnitMean, 1.0f);
    MakeWindow(w.data(), -5, WindowNorm::UnitRms, 2.0f);
    MakeWindow(nullptr, 16, WindowNorm::UnitMean, 1.0f);
    EXPECT_EQ(w, std::vector<float>(4, 42.0f));
}

// Against the Hann shape at cell centres in double; both normalisations scale it by one factor.
TEST(Window, ShapeSymmetryAndNormalisations)
{
    for (int n : {2, 17, 1024})
        for (float exponent : {1.0f, 2.0f})
        {
            SCOPED_TRACE(::testing::Message() << "n " << n << " exponent " << exponent);
            const auto raw = Make(n, WindowNorm::None, exponent);
            const auto mean = Make(n, WindowNorm::UnitMean, exponent);
            const auto rms = Make(n, WindowNorm::UnitRms, exponent);
            EXPECT_EQ(Make(n, WindowNorm(7), exponent), mean); // unknown modes act as unit mean
            double meanSum = 0.0, rmsSquares = 0.0;
            for (int i = 0; i < n; ++i)
            {
                const double hann = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * (i + 0.5) / n);
                ASSERT_NEAR(raw[i], std::pow(hann, exponent), 3e-7) << i;
                ASSERT_EQ(mean[i], mean[n - 1 - i]) << i;
                meanSum += mean[i];
                rmsSquares += double(rms[i]) * rms[i];
                EXPECT_NEAR(mean[i] / mean[n / 2], raw[i] / raw[n / 2], 1e-6);
                EXPECT_NEAR(rms[i] / rms[n / 2], raw[i] / raw[n / 2], 1e-6);
            }
            EXPECT_NEAR(meanSum / n, 1.0, 1e-6);
            EXPECT_NEAR(rmsSquares / n, 1.0, 1e-6);
        }
}

} // namespace
