#include "dsp/render/RampCurve.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace
{

std::vector<float> Take(DSP::RampCurve& ramp, uint32_t n)
{
    std::vector<float> out(n, -99.0f);
    ramp.Generate(n, out.data());
    return out;
}

} // namespace

TEST(RampCurve, StraightRampQuartersThenHoldsEnd)
{
    DSP::RampCurve ramp;
    ramp.Set(0.0, 1.0, 0.0, 4);
    const std::vector<float> expected{0.0f, 0.25f, 0.5f, 0.75f, 1.0f, 1.0f, 1.0f, 1.0f};
    EXPECT_EQ(Take(ramp, 8), expected);
    EXPECT_EQ(Take(ramp, 3), std::vector<float>(3, 1.0f));
    EXPECT_EQ(ramp.Current(), 1.0);
}

TEST(RampCurve, BentRampReachesAQuarterAtHalfLength)
{
    // r = 3, factor = sqrt(3), increment = (sqrt(3) - 1) / 8.
    DSP::RampCurve ramp;
    ramp.Set(0.0, 1.0, 0.5, 4);
    EXPECT_DOUBLE_EQ(ramp.GetMidpoint(), 0.25);
    const std::vector<float> out = Take(ramp, 6);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_NEAR(out[1], 0.0915, 5e-5);
    EXPECT_NEAR(out[2], 0.25, 1e-6);
    EXPECT_NEAR(out[3], 0.5245, 5e-5);
    EXPECT_EQ(out[4], 1.0f);
    EXPECT_EQ(out[5], 1.0f);
    EXPECT_NEAR(out[1], (std::sqrt(3.0) - 1.0) / 8.0, 1e-7);
}

TEST(RampCurve, BentDecayPassesItsMidpointAndLandsOnTheEnd)
{
    // A decay from 1 to 0.2 with bend -0.97 has covered 98.5 % of its fall at half its length.
    DSP::RampCurve ramp;
    ramp.Set(1.0, 0.2, -0.97, 100);
    const std::vector<float> out = Take(ramp, 102);
    EXPECT_NEAR(out[50], 1.0 - 0.8 * 0.985, 1e-5);
    EXPECT_NEAR(out[99], 0.2, 1e-3);
    EXPECT_GT(out[99], 0.2f);
    EXPECT_EQ(out[100], 0.2f);
    EXPECT_EQ(out[101], 0.2f);
    for (int k = 1; k < 100; ++k)
        EXPECT_LT(out[k], out[k - 1]) << k;
    EXPECT_NEAR(ramp.Current(), 0.2, 1e-6);
}

TEST(RampCurve, LengthZeroAndEqualEndsAreFlat)
{
    DSP::RampCurve ramp;
    ramp.Set(0.3, 0.8, 0.5, 0);
    EXPECT_TRUE(ramp.IsFlat());
    EXPECT_EQ(Take(ramp, 3), std::vector<float>(3, 0.8f));

    ramp.Set(0.6, 0.6, 0.9, 10);
    EXPECT_TRUE(ramp.IsFlat());
    EXPECT_DOUBLE_EQ(ramp.GetMidpoint(), 0.5);
    EXPECT_EQ(Take(ramp, 12), std::vector<float>(12, 0.6f));
}

TEST(RampCurve, ExtremeBendsAreClamped)
{
    DSP::RampCurve ramp;
    for (double bend : {1.0, 5.0})
    {
        ramp.Set(0.0, 1.0, bend, 10);
        EXPECT_DOUBLE_EQ(ramp.GetMidpoint(), 0.0001) << bend;
    }
    for (double bend : {-1.0, -3.0})
    {
        ramp.Set(0.0, 1.0, bend, 10);
        EXPECT_DOUBLE_EQ(ramp.GetMidpoint(), 0.9999) << bend;
    }
    // The clamped curve still passes its midpoint and ends on time.
    ramp.Set(0.0, 1.0, 1.0, 10);
    const std::vector<float> slow = Take(ramp, 11);
    EXPECT_NEAR(slow[5], 0.0001, 1e-6);
    EXPECT_EQ(slow[10], 1.0f);
    ramp.Set(0.0, 1.0, -1.0, 10);
    const std::vector<float> fast = Take(ramp, 11);
    EXPECT_NEAR(fast[5], 0.9999, 1e-6);
    EXPECT_EQ(fast[10], 1.0f);
}

TEST(RampCurve, SplitGenerationMatchesOneBlock)
{
    for (double bend : {0.0, 0.5, -0.97})
    {
        DSP::RampCurve whole;
        DSP::RampCurve pieces;
        whole.Set(0.1, 0.9, bend, 37);
        pieces.Set(0.1, 0.9, bend, 37);
        const std::vector<float> expected = Take(whole, 50);
        std::vector<float> got;
        for (uint32_t n : {1u, 6u, 0u, 13u, 17u, 13u})
        {
            const std::vector<float> part = Take(pieces, n);
            got.insert(got.end(), part.begin(), part.end());
        }
        EXPECT_EQ(got, expected) << bend;
    }
}

TEST(RampCurve, LongStraightRampDoesNotDrift)
{
    const uint32_t length = 1000000;
    DSP::RampCurve ramp;
    ramp.Set(0.0, 1.0, 0.0, length);
    std::vector<float> out(length + 1);
    ramp.Generate(length + 1, out.data());
    for (uint32_t j : {1u, 12345u, 500000u, 999999u})
        EXPECT_EQ(out[j], static_cast<float>(static_cast<double>(j) / length)) << j;
    EXPECT_EQ(out[length], 1.0f);
}

TEST(RampCurve, NanBendIsAStraightLine)
{
    DSP::RampCurve ramp;
    ramp.Set(0.0, 1.0, std::numeric_limits<double>::quiet_NaN(), 4);
    const std::vector<float> expected{0.0f, 0.25f, 0.5f, 0.75f, 1.0f};
    EXPECT_EQ(Take(ramp, 5), expected);
}

TEST(RampCurve, NullOutputIsIgnored)
{
    DSP::RampCurve ramp;
    ramp.Set(0.0, 1.0, 0.0, 4);
    ramp.Generate(4, nullptr);
    EXPECT_EQ(ramp.GetRemaining(), 4u);
}
