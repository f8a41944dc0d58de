#include "dsp/render/StageEnvelope.h"

#include <gtest/gtest.h>

#include <vector>

TEST(StageEnvelope, WorkedContoursAcrossBlocks)
{
    // Gains over consecutive blocks, read from a stereo signal of 1 and -2 that must get one gain.
    const auto gainsOf = [](DSP::StageEnvelope& envelope, const std::vector<uint32_t>& sizes)
    {
        std::vector<float> gains;
        for (uint32_t size : sizes)
        {
            std::vector<float> left(size, 1.0f), right(size, -2.0f);
            float* channels[2] = {left.data(), right.data()};
            envelope.Apply(channels, 2, size);
            for (uint32_t j = 0; j < size; ++j)
                EXPECT_EQ(right[j], -2.0f * left[j]) << j;
            gains.insert(gains.end(), left.begin(), left.end());
        }
        return gains;
    };
    DSP::StageEnvelope envelope;
    envelope.Configure(0, 0, 0, true, 0.5f, false);
    envelope.Start();
    EXPECT_FALSE(envelope.IsRunning());
    EXPECT_EQ(gainsOf(envelope, {8}), std::vector<float>(8, 1.0f));

    envelope.Configure(2, 3, 4, false, 0.0f, true);
    envelope.Start();
    EXPECT_TRUE(envelope.IsRunning());
    EXPECT_EQ(gainsOf(envelope, {12}),
              (std::vector<float>{0, 0.5f, 1, 1, 1, 1, 0.75f, 0.5f, 0.25f, 0, 0, 0}));
    EXPECT_FALSE(envelope.IsRunning());
    EXPECT_EQ(gainsOf(envelope, {4}), std::vector<float>(4, 1.0f));

    envelope.Configure(0, 0, 1, true, 0.5f, false);
    envelope.Start();
    std::vector<float> expected(1020, 0.5f);
    expected[0] = 1.0f;
    EXPECT_EQ(gainsOf(envelope, {4, 16, 1000}), expected);
    EXPECT_EQ(envelope.GetStage(), DSP::EnvelopeStage::Sustain);

    // Curved amp stages run on seamlessly across block boundaries.
    DSP::StageEnvelope whole, pieces;
    for (DSP::StageEnvelope* e : {&whole, &pieces})
    {
        e->Configure(100, 5, 100, true, 0.2f, false);
        e->Start();
    }
    expected = gainsOf(whole, {240});
    EXPECT_EQ(gainsOf(pieces, {1, 3, 7, 0, 13, 4, 90, 122}), expected);
    // A quarter of the attack at half way, 98.5 % of the decay.
    EXPECT_NEAR(expected[50], 0.25, 1e-6);
    EXPECT_NEAR(expected[155], 1.0 - 0.8 * 0.985, 1e-5);
    EXPECT_EQ(expected[239], 0.2f);
}
