#include "dsp/render/StageEnvelope.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{

// Two channels of constant audio (1 and -2), so the gain applied to each frame can be read back
// from either channel.
struct Block
{
    explicit Block(uint32_t frames) : left(frames, 1.0f), right(frames, -2.0f) {}
    float* pointers[2] = {nullptr, nullptr};
    std::vector<float> left;
    std::vector<float> right;
    float** Channels()
    {
        pointers[0] = left.data();
        pointers[1] = right.data();
        return pointers;
    }
};

// Gains the envelope applies over `sizes` consecutive blocks, checking that both channels get
// the same gain.
std::vector<float> Gains(DSP::StageEnvelope& envelope, const std::vector<uint32_t>& sizes)
{
    std::vector<float> gains;
    for (uint32_t size : sizes)
    {
        Block block(size);
        envelope.Apply(block.Channels(), 2, size);
        for (uint32_t j = 0; j < size; ++j)
        {
            EXPECT_EQ(block.right[j], -2.0f * block.left[j]) << j;
            gains.push_back(block.left[j]);
        }
    }
    return gains;
}

} // namespace

TEST(StageEnvelope, NewEnvelopeIsFinishedAndBypasses)
{
    DSP::StageEnvelope envelope;
    EXPECT_FALSE(envelope.IsRunning());
    EXPECT_EQ(Gains(envelope, {5}), std::vector<float>(5, 1.0f));
}

TEST(StageEnvelope, AllLengthsZeroStaysFinished)
{
    DSP::StageEnvelope envelope;
    envelope.Configure(0, 0, 0, true, 0.5f, false);
    envelope.Start();
    EXPECT_FALSE(envelope.IsRunning());
    EXPECT_EQ(envelope.GetStage(), DSP::EnvelopeStage::Finished);
    // The amp use with a sustain level of 0.5: the level is never applied.
    EXPECT_EQ(Gains(envelope, {8}), std::vector<float>(8, 1.0f));
}

TEST(StageEnvelope, GateFadesInHoldsFadesOutThenSilences)
{
    DSP::StageEnvelope gate;
    gate.Configure(2, 3, 4, false, 0.0f, true);
    gate.Start();
    EXPECT_TRUE(gate.IsRunning());
    const std::vector<float> expected{0.0f,  0.5f, 1.0f,  1.0f, 1.0f, 1.0f,
                                      0.75f, 0.5f, 0.25f, 0.0f, 0.0f, 0.0f};
    EXPECT_EQ(Gains(gate, {12}), expected);
    EXPECT_FALSE(gate.IsRunning());
    // Once finished the envelope no longer touches the audio.
    EXPECT_EQ(Gains(gate, {4}), std::vector<float>(4, 1.0f));
}

TEST(StageEnvelope, GateEndingOnABlockBoundaryFinishesThere)
{
    DSP::StageEnvelope gate;
    gate.Configure(2, 3, 4, false, 0.0f, true);
    gate.Start();
    const std::vector<float> expected{0.0f, 0.5f, 1.0f, 1.0f, 1.0f, 1.0f, 0.75f, 0.5f, 0.25f};
    EXPECT_EQ(Gains(gate, {9}), expected);
    EXPECT_FALSE(gate.IsRunning());
}

TEST(StageEnvelope, SingleFrameDecayThenSustainsForEver)
{
    DSP::StageEnvelope amp;
    amp.Configure(0, 0, 1, true, 0.5f, false);
    amp.Start();
    EXPECT_EQ(amp.GetStage(), DSP::EnvelopeStage::Attack);
    std::vector<float> expected(20, 0.5f);
    expected[0] = 1.0f;
    EXPECT_EQ(Gains(amp, {4, 16}), expected);
    EXPECT_EQ(amp.GetStage(), DSP::EnvelopeStage::Sustain);
    EXPECT_TRUE(amp.IsRunning());
    EXPECT_EQ(Gains(amp, {1000}), std::vector<float>(1000, 0.5f));
}

TEST(StageEnvelope, BentStagesHaveTheirShapes)
{
    DSP::StageEnvelope amp;
    amp.Configure(100, 10, 100, true, 0.2f, false);
    amp.Start();
    const std::vector<float> gains = Gains(amp, {260});
    EXPECT_EQ(gains[0], 0.0f);
    EXPECT_NEAR(gains[50], 0.25, 1e-6); // slow start: a quarter of the rise at half the attack
    EXPECT_EQ(gains[100], 1.0f);        // hold
    EXPECT_EQ(gains[109], 1.0f);
    EXPECT_EQ(gains[110], 1.0f);                      // decay starts at 1
    EXPECT_NEAR(gains[160], 1.0 - 0.8 * 0.985, 1e-5); // fast fall: 98.5 % at half the decay
    EXPECT_EQ(gains[210], 0.2f);
    EXPECT_EQ(gains[259], 0.2f);
}

TEST(StageEnvelope, BlockBoundariesContinueSeamlessly)
{
    for (bool linear : {true, false})
    {
        DSP::StageEnvelope whole;
        DSP::StageEnvelope pieces;
        whole.Configure(10, 5, 20, !linear, 0.3f, linear);
        pieces.Configure(10, 5, 20, !linear, 0.3f, linear);
        whole.Start();
        pieces.Start();
        const std::vector<float> expected = Gains(whole, {64});
        EXPECT_EQ(Gains(pieces, {1, 3, 7, 0, 13, 4, 1, 35}), expected) << linear;
    }
}

TEST(StageEnvelope, StartRestartsAndConfigureAloneChangesNoStage)
{
    DSP::StageEnvelope gate;
    gate.Configure(2, 0, 2, false, 0.0f, true);
    gate.Start();
    Gains(gate, {10});
    EXPECT_FALSE(gate.IsRunning());
    gate.Configure(4, 0, 0, false, 0.0f, true);
    EXPECT_FALSE(gate.IsRunning());
    gate.Start();
    const std::vector<float> expected{0.0f, 0.25f, 0.5f, 0.75f, 0.0f, 0.0f};
    EXPECT_EQ(Gains(gate, {6}), expected);
}

TEST(StageEnvelope, ZeroLengthStagesAreSkipped)
{
    DSP::StageEnvelope gate;
    gate.Configure(0, 2, 0, false, 0.0f, true);
    gate.Start();
    const std::vector<float> expected{1.0f, 1.0f, 0.0f, 0.0f};
    EXPECT_EQ(Gains(gate, {4}), expected);
}

TEST(StageEnvelope, NullChannelsAndEmptyBlocksAreHarmless)
{
    DSP::StageEnvelope gate;
    gate.Configure(2, 0, 2, false, 0.0f, true);
    gate.Start();
    gate.Apply(nullptr, 2, 3); // consumes frames without touching memory
    EXPECT_EQ(gate.GetStage(), DSP::EnvelopeStage::Decay);
    EXPECT_EQ(gate.GetStagePosition(), 1u);
    float* holes[2] = {nullptr, nullptr};
    gate.Apply(holes, 2, 0);
    gate.Apply(holes, 2, 1);
    EXPECT_EQ(gate.GetStage(), DSP::EnvelopeStage::Finished);
}
