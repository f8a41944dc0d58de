#include "dsp/marrowlin/SliceTiming.h"
#include "tests/dsp/marrowlin/LoopInputs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

using namespace DSP::Marrowlin;

namespace
{
constexpr uint32_t MaxFrame = std::numeric_limits<uint32_t>::max();
constexpr double Inf = std::numeric_limits<double>::infinity();
} // namespace

TEST(RoundToFrame, HalvesAwayFromZeroAndSaturates)
{
    EXPECT_EQ(RoundToFrame(2.5), 3u);
    EXPECT_EQ(RoundToFrame(2.4999), 2u);
    EXPECT_EQ(RoundToFrame(0.5), 1u);
    EXPECT_EQ(RoundToFrame(4294967294.4), 4294967294u);
    for (double value : {-0.4, -7.0, -Inf, double(NAN)})
        EXPECT_EQ(RoundToFrame(value), 0u) << value;
    for (double value : {Inf, 1e300, 4294967294.5})
        EXPECT_EQ(RoundToFrame(value), MaxFrame) << value;
}

TEST(ComputeGate, WorkedLengths)
{
    // A 100 ms slice (4410 frames at 44.1 kHz) unless said otherwise; lengths in output frames.
    const struct
    {
        const char* what;
        double semitones;
        uint32_t length;
        float srcRate, outRate;
        std::optional<double> stretch;
        double extension;
        bool byPlayTime;
        uint32_t attack, hold, release;
    } cases[] = {
        // Shorter than its slot: 0.2 ms attack, a release of 1/25 of it, 4 ms.
        {"200 ms slot", 0, 4410, 44100, 44100, 2.0, 0.0, false, 9, 4225, 176},
        {"half the gap: release 54 ms", 0, 4410, 44100, 44100, 2.0, 0.5, false, 9, 4225, 2381},
        {"1/4 of 50 ms: 16.5, 112.5 ms", 0, 4410, 44100, 44100, 1.5, 0.25, false, 9, 4224, 728},
        {"by play: 125 ms = 5512.5", 0, 4410, 44100, 44100, 1.5, 0.25, true, 9, 4225, 1279},
        {"capped at play time", 0, 4410, 44100, 44100, 4.0, 1.0, false, 9, 4225, 4586},
        {"infinite, capped", 0, 4410, 44100, 44100, 2.0, Inf, false, 9, 4225, 4586},
        {"no stretch", 0, 4410, 44100, 44100, std::nullopt, 1.0, false, 9, 4225, 176},
        {"stretch 0", 0, 4410, 44100, 44100, 0.0, 1.0, false, 9, 4225, 176},
        {"octave up: 50 ms", 12, 4410, 44100, 44100, 2.0, 0.0, false, 9, 2020, 176},
        {"output rate x2", 0, 4410, 44100, 88200, 2.0, 0.0, false, 18, 8449, 353},
        {"four frames", 0, 4, 44100, 44100, 2.0, 0.0, false, 4, 0, 0},
        // Longer than its slot: cut 1.5 ms after it.
        {"slot 50 ms: 51.5", 0, 4410, 44100, 44100, 0.5, 0.0, false, 9, 2196, 66},
        {"slot < fades", 0, 441, 44100, 44100, 0.01, 0.0, false, 9, 0, 66},
        {"negative slot", 0, 4410, 44100, 44100, -1.0, 0.0, false, 9, 0, 66},
        // Arguments no slice has.
        {"source rate 0", 0, 4410, 0, 44100, 2.0, 0.0, false, 0, 0, 0},
        {"source rate NaN", 0, 4410, NAN, 44100, 2.0, 0.0, false, 0, 0, 0},
        {"1e300 semitones", 1e300, 4410, 44100, 44100, 2.0, 0.0, false, 0, 0, 0},
        {"infinite out", 0, 4410, 44100, INFINITY, 2.0, 0.0, false, MaxFrame, 0, MaxFrame},
    };
    for (const auto& c : cases)
    {
        const GateLengths gate = ComputeGate(c.semitones, c.length, c.srcRate, c.outRate, c.stretch,
                                             c.extension, c.byPlayTime);
        EXPECT_EQ(gate.attack, c.attack) << c.what;
        EXPECT_EQ(gate.hold, c.hold) << c.what;
        EXPECT_EQ(gate.release, c.release) << c.what;
    }
}

TEST(FindSoundEnd, ShortSlicesAndTheEdgesOfTheSource)
{
    PlanarSource audio(2000);
    audio.data[0][1000] = 1.0f;
    EXPECT_EQ(FindSoundEnd(1000, 882, audio.audio), 1000u); // exactly 20 ms
    EXPECT_EQ(FindSoundEnd(0, 1883, audio.audio), 1000u);   // the spike precedes the tail
    EXPECT_EQ(FindSoundEnd(0, 1882, audio.audio), 0u);      // the spike is the tail's peak
    // Frames past the source count as silence and are never read.
    audio.data[0][1000] = 0.0f;
    audio.data[0][1499] = 0.1f;
    EXPECT_EQ(FindSoundEnd(0, 4000000000u, audio.audio), 1499u);
    EXPECT_EQ(FindSoundEnd(3000, 100000, audio.audio), 3000u);
    EXPECT_EQ(FindSoundEnd(1000, MaxFrame - 1000, audio.audio), 1499u);
    audio.audio.channels = nullptr;
    EXPECT_EQ(FindSoundEnd(0, 2000, audio.audio), 0u);
}

TEST(FindSoundEnd, DecayFallsBelowTwiceTheTailPeak)
{
    // exp(-n / 2000) from frame 1000 on, 8820 frames. The last 882 frames peak at
    // exp(-7938 / 2000); twice that is reached at n = 7938 - 2000 ln 2 = 6551.7.
    PlanarSource audio(12000, 2);
    for (uint32_t n = 0; n < 8820; ++n)
        audio.data[1][1000 + n] = -std::exp(-float(n) / 2000.0f);
    const uint32_t expected = 1000 + uint32_t(std::floor(7938.0 - 2000.0 * std::log(2.0)));
    EXPECT_EQ(FindSoundEnd(1000, 8820, audio.audio), expected);
    audio.data[0][1000 + 7000] = 0.5f; // a louder frame later on the other channel wins
    EXPECT_EQ(FindSoundEnd(1000, 8820, audio.audio), 8000u);
}
