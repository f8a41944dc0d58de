#include "dsp/marrowlin/SliceTiming.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace DSP::Marrowlin;

namespace
{

constexpr uint32_t MaxFrame = std::numeric_limits<uint32_t>::max();

struct Audio
{
    std::vector<std::vector<float>> data;
    std::vector<float*> pointers;
    SourceAudio source;

    Audio(uint32_t frames, uint32_t channels) : data(channels, std::vector<float>(frames, 0.0f))
    {
        for (auto& channel : data)
        {
            pointers.push_back(channel.data());
        }
        source.sampleRate = 44100;
        source.channelCount = channels;
        source.frameCount = frames;
        source.channels = pointers.data();
    }
};

void ExpectGate(const GateLengths& gate, uint32_t attack, uint32_t hold, uint32_t release)
{
    EXPECT_EQ(gate.attack, attack);
    EXPECT_EQ(gate.hold, hold);
    EXPECT_EQ(gate.release, release);
}

} // namespace

TEST(RoundToFrame, HalvesAwayFromZeroAndSaturates)
{
    EXPECT_EQ(RoundToFrame(2.5), 3u);
    EXPECT_EQ(RoundToFrame(2.4999), 2u);
    EXPECT_EQ(RoundToFrame(0.5), 1u);
    EXPECT_EQ(RoundToFrame(-0.4), 0u);
    EXPECT_EQ(RoundToFrame(-7.0), 0u);
    EXPECT_EQ(RoundToFrame(std::nan("")), 0u);
    EXPECT_EQ(RoundToFrame(-INFINITY), 0u);
    EXPECT_EQ(RoundToFrame(INFINITY), MaxFrame);
    EXPECT_EQ(RoundToFrame(1e300), MaxFrame);
    EXPECT_EQ(RoundToFrame(4294967294.5), MaxFrame);
    EXPECT_EQ(RoundToFrame(4294967294.4), 4294967294u);
}

TEST(ComputeGate, SliceShorterThanItsSlot)
{
    // 100 ms slice in a 200 ms slot: 0.2 ms attack, 4 ms release.
    ExpectGate(ComputeGate(0.0, 4410, 44100.0f, 44100.0f, 2.0, 0.0, false), 9, 4225, 176);
    // Half of the 100 ms gap joins the release: 54 ms; the total becomes 150 ms.
    ExpectGate(ComputeGate(0.0, 4410, 44100.0f, 44100.0f, 2.0, 0.5, false), 9, 4225, 2381);
    // Slot 150 ms, gap 50 ms, a quarter of it: release 16.5 ms, total 112.5 ms.
    ExpectGate(ComputeGate(0.0, 4410, 44100.0f, 44100.0f, 1.5, 0.25, false), 9, 4224, 728);
    // Extending by play time: a quarter of 100 ms; the total 125 ms is 5512.5 frames -> 5513.
    ExpectGate(ComputeGate(0.0, 4410, 44100.0f, 44100.0f, 1.5, 0.25, true), 9, 4225, 1279);
    // The extension never exceeds the play time: 300 ms of gap, 100 ms added.
    ExpectGate(ComputeGate(0.0, 4410, 44100.0f, 44100.0f, 4.0, 1.0, false), 9, 4225, 4586);
    // No stretch, or 0: the slot is the play time.
    ExpectGate(ComputeGate(0.0, 4410, 44100.0f, 44100.0f, std::nullopt, 1.0, false), 9, 4225, 176);
    ExpectGate(ComputeGate(0.0, 4410, 44100.0f, 44100.0f, 0.0, 1.0, false), 9, 4225, 176);
}

TEST(ComputeGate, PitchRatesAndShortSlices)
{
    // An octave up plays the 100 ms slice in 50 ms: total 2205 frames.
    ExpectGate(ComputeGate(12.0, 4410, 44100.0f, 44100.0f, 2.0, 0.0, false), 9, 2020, 176);
    // Output at twice the source rate doubles every length.
    ExpectGate(ComputeGate(0.0, 4410, 44100.0f, 88200.0f, 2.0, 0.0, false), 18, 8449, 353);
    // Four frames: the 0.09 ms play time leaves a 0.0036 ms release and 0.087 ms attack.
    ExpectGate(ComputeGate(0.0, 4, 44100.0f, 44100.0f, 2.0, 0.0, false), 4, 0, 0);
}

TEST(ComputeGate, SliceLongerThanItsSlot)
{
    // 50 ms slot: cut 1.5 ms after it, total 51.5 ms.
    ExpectGate(ComputeGate(0.0, 4410, 44100.0f, 44100.0f, 0.5, 0.0, false), 9, 2196, 66);
    // A slot shorter than the fades: the hold stays 0 instead of wrapping.
    ExpectGate(ComputeGate(0.0, 441, 44100.0f, 44100.0f, 0.01, 0.0, false), 9, 0, 66);
}

TEST(ComputeGate, ExtremeArguments)
{
    ExpectGate(ComputeGate(0.0, 4410, 0.0f, 44100.0f, 2.0, 0.0, false), 0, 0, 0);
    ExpectGate(ComputeGate(0.0, 4410, NAN, 44100.0f, 2.0, 0.0, false), 0, 0, 0);
    const GateLengths huge = ComputeGate(0.0, 4410, 44100.0f, INFINITY, 2.0, 0.0, false);
    EXPECT_EQ(huge.attack, MaxFrame);
    EXPECT_EQ(huge.release, MaxFrame);
    EXPECT_EQ(huge.hold, 0u);
    // Transposed beyond single precision the slice plays for no time at all.
    ExpectGate(ComputeGate(1e300, 4410, 44100.0f, 44100.0f, 2.0, 0.0, false), 0, 0, 0);
    // An infinite extension is still capped at the play time.
    ExpectGate(ComputeGate(0.0, 4410, 44100.0f, 44100.0f, 2.0, INFINITY, false), 9, 4225, 4586);
    // A negative slot ends at once: only the fades remain.
    ExpectGate(ComputeGate(0.0, 4410, 44100.0f, 44100.0f, -1.0, 0.0, false), 9, 0, 66);
}

TEST(FindSoundEnd, ShortSlicesEndAtTheirStart)
{
    Audio audio(2000, 1);
    audio.data[0][1000] = 1.0f;
    EXPECT_EQ(FindSoundEnd(1000, 882, audio.source), 1000u); // exactly 20 ms
    EXPECT_EQ(FindSoundEnd(0, 1883, audio.source), 1000u);   // the spike precedes the tail
    EXPECT_EQ(FindSoundEnd(0, 1882, audio.source), 0u);      // the spike is the tail's peak
}

TEST(FindSoundEnd, DecayFallsBelowTwiceTheTailPeak)
{
    // exp(-n / 2000) from frame 1000 on, 8820 frames. The last 882 frames peak at
    // exp(-7938 / 2000); twice that is reached at n = 7938 - 2000 ln 2 = 6551.7.
    Audio audio(12000, 2);
    for (uint32_t n = 0; n < 8820; ++n)
    {
        audio.data[1][1000 + n] = -std::exp(-float(n) / 2000.0f);
    }
    const uint32_t expected = 1000 + uint32_t(std::floor(7938.0 - 2000.0 * std::log(2.0)));
    EXPECT_EQ(FindSoundEnd(1000, 8820, audio.source), expected);

    audio.data[0][1000 + 7000] = 0.5f; // a louder frame later on the other channel wins
    EXPECT_EQ(FindSoundEnd(1000, 8820, audio.source), 8000u);
}

TEST(FindSoundEnd, ReadsNothingPastTheSource)
{
    Audio audio(2000, 1);
    audio.data[0][1499] = 0.1f;
    EXPECT_EQ(FindSoundEnd(0, 4000000000u, audio.source), 1499u);
    EXPECT_EQ(FindSoundEnd(3000, 100000, audio.source), 3000u);
    EXPECT_EQ(FindSoundEnd(1000, MaxFrame - 1000, audio.source), 1499u);

    audio.source.channels = nullptr;
    EXPECT_EQ(FindSoundEnd(0, 2000, audio.source), 0u);
}
