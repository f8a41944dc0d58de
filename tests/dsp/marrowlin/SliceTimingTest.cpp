#include "dsp/marrowlin/SliceTiming.h"
#include "tests/dsp/marrowlin/LoopInputs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <tuple>

using namespace DSP::Marrowlin;

TEST(RoundToFrame, HalvesAwayFromZeroAndSaturates)
{
    const std::pair<double, uint32_t> cases[] = {
        {2.5, 3}, {2.4999, 2}, {-7.0, 0}, {NAN, 0}, {1e300, 4294967295u}};
    for (const auto& [x, frame] : cases)
        EXPECT_EQ(RoundToFrame(x), frame) << x;
}

TEST(ComputeGate, WorkedLengths)
{
    // A 4410-frame slice at 44.1 kHz in and out; lengths in output frames. A slot of 0.1 ms
    // totals round(1.6 ms) = 71 frames against fades of 9 + 66, so the hold wraps to 2^32 - 4 and
    // the gate stays open.
    // semitones, stretch, tail extension, by play time -> attack, hold, release
    const std::tuple<double, std::optional<double>, double, bool, uint32_t, uint32_t, uint32_t>
        cases[] = {
            {0, 2.0, 0.0, false, 9, 4225, 176},          {0, 2.0, 0.5, false, 9, 4225, 2381},
            {0, 0.5, 0.0, false, 9, 2196, 66},           {0, 1.5, 0.25, false, 9, 4224, 728},
            {0, 1.5, 0.25, true, 9, 4225, 1279},         {0, 4.0, 1.0, false, 9, 4225, 4586},
            {0, std::nullopt, 1.0, false, 9, 4225, 176}, {12, 2.0, 0.0, false, 9, 2020, 176},
            {0, 0.001, 0.0, false, 9, 4294967292u, 66},  {0, -1.0, 0.0, false, 9, 4294967221u, 66},
            {1e300, 2.0, 0.0, false, 0, 0, 0},
        };
    for (const auto& [semitones, stretch, extension, byPlayTime, attack, hold, release] : cases)
    {
        const GateLengths gate =
            ComputeGate(semitones, 4410, 44100, 44100, stretch, extension, byPlayTime);
        EXPECT_EQ(std::tuple(gate.attack, gate.hold, gate.release),
                  std::tuple(attack, hold, release))
            << stretch.value_or(-99) << " " << extension;
    }
    EXPECT_EQ(ComputeGate(0, 4410, NAN, 44100, 2.0, 0.0, false).hold, 0u);
}

TEST(FindSoundEnd, DecayFallsBelowTwiceTheTailPeak)
{
    // exp(-n / 2000) from frame 1000 on, 8820 frames: the last 882 frames peak at
    // exp(-7938 / 2000), twice that at n = 7938 - 2000 ln 2.
    PlanarSource audio(12000, 2);
    for (uint32_t n = 0; n < 8820; ++n)
        audio.data[1][1000 + n] = -std::exp(-float(n) / 2000.0f);
    const uint32_t expected = 1000 + uint32_t(std::floor(7938.0 - 2000.0 * std::log(2.0)));
    EXPECT_EQ(FindSoundEnd(1000, 8820, audio.audio), expected);
    EXPECT_EQ(FindSoundEnd(1000, 882, audio.audio), 1000u); // at most 20 ms
    EXPECT_EQ(FindSoundEnd(0, 4000000000u, audio.audio), 9819u);
    EXPECT_EQ(FindSoundEnd(30000, 100000, audio.audio), 30000u);
}
