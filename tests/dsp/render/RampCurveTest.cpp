#include "dsp/render/RampCurve.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

TEST(RampCurve, WorkedAndClampedBendsThenHoldTheEnd)
{
    DSP::RampCurve ramp;
    const auto take = [&](uint32_t n)
    {
        std::vector<float> out(n, -99.0f);
        ramp.Generate(n, out.data());
        return out;
    };
    for (double straight : {0.0, double(NAN)})
    {
        ramp.Set(0.0, 1.0, straight, 4);
        EXPECT_EQ(take(7), (std::vector<float>{0, 0.25f, 0.5f, 0.75f, 1, 1, 1}));
    }

    // Bend 0.5: midpoint 0.25, r = 3, factor = sqrt(3), increment = (sqrt(3) - 1) / 8.
    ramp.Set(0.0, 1.0, 0.5, 4);
    const std::vector<float> bent = take(6);
    EXPECT_EQ(bent[0], 0.0f);
    EXPECT_NEAR(bent[1], 0.0915, 5e-5);
    EXPECT_NEAR(bent[2], 0.25, 1e-6);
    EXPECT_NEAR(bent[3], 0.5245, 5e-5);
    EXPECT_EQ(std::vector<float>(bent.begin() + 4, bent.end()), std::vector<float>(2, 1.0f));

    ramp.Set(0.3, 0.8, 0.5, 0);
    EXPECT_EQ(take(3), std::vector<float>(3, 0.8f));
    ramp.Set(0.6, 0.6, 0.9, 10);
    EXPECT_EQ(ramp.GetMidpoint(), 0.5);
    EXPECT_EQ(take(12), std::vector<float>(12, 0.6f));

    for (const auto& [bend, midpoint] : {std::pair{1.0, 0.0001}, std::pair{-3.0, 0.9999}})
    {
        ramp.Set(0.0, 1.0, bend, 10);
        EXPECT_EQ(ramp.GetMidpoint(), midpoint) << bend;
        const std::vector<float> out = take(11);
        EXPECT_NEAR(out[5], midpoint, 1e-6) << bend;
        EXPECT_EQ(out[10], 1.0f) << bend;
    }
}
