#include "dsp/marrowlin/SliceRenderer.h"

#include "dsp/marrowlin/Loop.h"
#include "tests/dsp/marrowlin/LoopInputs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <tuple>
#include <vector>

using namespace DSP::Marrowlin;

namespace
{

// 30 000 stereo frames at 44.1 kHz holding 0.5 on the left and -0.25 on the right.
class SliceRendererTest : public ::testing::Test
{
protected:
    SliceRendererTest()
    {
        audio.data[1].assign(30000, -0.25f);
        loop.SetSource(&audio.audio, false);
        voice.SetSource(&audio.audio);
    }
    std::vector<std::vector<float>> Render(uint32_t frames, float fill = 0.0f)
    {
        std::vector<std::vector<float>> out(2, std::vector<float>(frames, fill));
        float* outputs[2] = {out[0].data(), out[1].data()};
        voice.Render(frames, outputs, 0, nullptr);
        return out;
    }

    PlanarSource audio{30000, 2, 44100, 0.5f};
    Loop loop;
    SliceRenderer voice{&loop};
};

// Plays at rate 1 without a tail, behind a gate that is fully open for `open` frames.
RenderSlice OpenSlice(uint32_t start, uint32_t length, uint32_t open)
{
    return {.sourceStart = start,
            .sourceLength = length,
            .initialRate = 1.0,
            .tailLoopStart = length,
            .gateHold = open};
}

} // namespace

// A start refuses slices that do not fit the source and takes the gain and rate from the loop.
TEST_F(SliceRendererTest, StartRefusesUnplayableSlicesAndTakesGainAndRate)
{
    for (const RenderSlice& slice :
         {OpenSlice(0, 0, 100), OpenSlice(29950, 51, 100), OpenSlice(10, 0xFFFFFFFFu, 100)})
    {
        voice.Start(slice);
        EXPECT_FALSE(voice.IsActive()) << slice.sourceStart << "+" << slice.sourceLength;
    }
    voice.Start(OpenSlice(29950, 50, 0)); // accepted, but a closed gate ends it at once
    EXPECT_EQ(voice.GetSliceStart(), 29950u);
    EXPECT_FALSE(voice.IsActive());
    EXPECT_EQ(Render(64, 3.0f)[0], std::vector<float>(64, 3.0f));
    voice.Start(OpenSlice(29950, 50, 100)); // ends exactly at the last frame
    EXPECT_TRUE(voice.IsActive());

    // The gain is fixed when a slice starts (that a change leaves the sounding slice alone is the
    // engine's playback check); the rate follows the sample rates and the transposition at once.
    // semitones, cents, gain (dB), output rate (0: the source's) -> gain, rate within a tolerance;
    // the last row is 10^(-6 / 20) and 2^(7.3 / 12)
    const std::tuple<float, float, float, float, double, double, double> cases[] = {
        {0, 0, 0, 0, 1.0, 1.0, 0},
        {12, 0, 20, 0, 10.0, 2.0, 0},
        {0, -1200, 0, 0, 1.0, 0.5, 0},
        {0, 0, 0, 22050, 1.0, 2.0, 0},
        {7, 30, -6, 0, 0.501187, 1.524497, 1e-6},
    };
    for (const auto& [semitones, cents, gainDb, outputRate, gain, rate, tolerance] : cases)
    {
        loop.SetShaping({.semitones = semitones, .cents = cents, .gainDb = gainDb});
        loop.SetOutputSampleRate(outputRate);
        voice.Start(OpenSlice(0, 1000, 100));
        voice.UpdateRate();
        EXPECT_NEAR(voice.GetGain().value_or(0.0f), gain, 1e-5) << gainDb;
        EXPECT_NEAR(voice.GetRate(), rate, tolerance) << semitones << " " << cents;
    }
    RenderSlice slice = OpenSlice(0, 5000, 10);
    slice.gateAttack = 4;
    voice.Start(slice);
    EXPECT_FLOAT_EQ(Render(8)[1][2], -0.25f * 0.5f * 0.501187f); // half the attack, -6 dB
}

TEST_F(SliceRendererTest, HandsTheTailLoopAndAmpAttackToPlayerAndEnvelope)
{
    // A ramp on the left makes every read visible: frame k of the source holds k.
    std::iota(audio.data[0].begin(), audio.data[0].end(), 0.0f);
    RenderSlice slice = OpenSlice(1000, 8, 16);
    slice.tailLoopStart = 4; // tail 4..8 without a crossfade: hard turns
    slice.ampAttack = 4;     // bent attack, then a long hold at 1
    slice.ampHold = 100;
    voice.Start(slice);
    const auto out = Render(16);

    // Forward, a turn at the end (reads clamp to the last frame), back to the tail start, forward.
    const float played[16] = {1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007,
                              1007, 1007, 1006, 1005, 1004, 1005, 1006, 1007};
    // Bend 0.5 (a quarter of the rise at half the attack): factor sqrt(3), step (sqrt(3) - 1) / 8.
    double level = 0.0;
    for (uint32_t j = 0; j < 16; ++j)
    {
        const float amp = j < 4 ? static_cast<float>(level) : 1.0f;
        level = std::sqrt(3.0) * level + (std::sqrt(3.0) - 1.0) / 8.0;
        EXPECT_FLOAT_EQ(out[0][j], played[j] * amp) << j;
        EXPECT_FLOAT_EQ(out[1][j], -0.25f * amp) << j;
    }
    // The gate's empty release is only passed at the next block, which it silences.
    EXPECT_TRUE(voice.IsActive());
    EXPECT_EQ(Render(4)[0], std::vector<float>(4, 0.0f));
    EXPECT_FALSE(voice.IsActive());
}
