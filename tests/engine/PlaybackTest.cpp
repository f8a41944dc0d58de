// What a host hears from a loop it sliced itself.
#include "tests/engine/HostEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace HostEngine;

namespace
{

constexpr uint32_t LoopFrames = 88200; // two bars of 4/4 at 240 BPM and 44.1 kHz
const std::vector<uint32_t> Starts{0, 9000, 20000, 33000, 44100, 60000, 70000, 80000};

uint32_t SliceLength(size_t s)
{
    return (s + 1 < Starts.size() ? Starts[s + 1] : LoopFrames) - Starts[s];
}

// A stereo loop of decaying noise bursts, one per slice, handed to an engine with the host's
// cuts (locked on) at the bursts.
struct BurstLoop
{
    BurstLoop() : source(2, LoopFrames), engine(Make(2, 44100, 0))
    {
        std::vector<SliceInfo> slices;
        uint32_t seed = 12345;
        for (size_t s = 0; s < Starts.size(); ++s)
        {
            slices.push_back(HostSlice(Starts[s], true));
            for (uint32_t k = 0; k < SliceLength(s); ++k)
            {
                seed = seed * 1664525u + 1013904223u;
                const float noise = static_cast<float>(seed >> 8) / 8388608.0f - 1.0f;
                const float left = 0.8f * noise * std::exp(-static_cast<float>(k) / 3000.0f);
                source.samples[0][Starts[s] + k] = left;
                source.samples[1][Starts[s] + k] = -0.5f * left + 0.01f;
            }
        }
        engine->SetLoop(LoopFrames, 2, source.Channels(), 0.0f, slices.data(), 8);
    }

    // Frames of slice s whose output at `placed` onwards differs from the source, away from the
    // slice's edges: the gate's 9-frame fade-in, and at the end the release (1/25 of the slice)
    // or the tail crossfade (220 frames).
    uint32_t Mismatches(size_t s, uint32_t placed) const
    {
        const uint32_t endMargin = std::max(SliceLength(s) / 25 + 2, 222u);
        uint32_t count = 0;
        for (uint32_t k = 10; k < SliceLength(s) - endMargin; ++k)
            for (int c = 0; c < 2; ++c)
                count += out[c][placed + k] != source.samples[c][Starts[s] + k];
        return count;
    }

    PlanarAudio source;
    EnginePtr engine;
    std::vector<std::vector<float>> out{2};
};

} // namespace

// At its own tempo the loop reproduces the source; at half tempo every slice starts where the
// stretched timeline puts it (source 0..N-1 onto output 0..2N-1), after silence, and still plays
// its source unchanged. The play position follows: output frame 41000 is source 41000 at the own
// tempo and 1000 frames into the slice from 20000 at half tempo.
TEST(Playback, SlicesLandOnTheStretchedTimelineAndReproduceTheSource)
{
    for (const uint32_t stretch : {1u, 2u})
    {
        SCOPED_TRACE(stretch);
        BurstLoop host;
        ASSERT_EQ(host.engine->GetTempo(), 240.0f);
        host.engine->SetTempo(240.0f / stretch);
        const uint32_t length = stretch * LoopFrames;
        ASSERT_EQ(host.engine->GetRenderedLength(), length);
        host.engine->Transport(0, 0);
        Render(*host.engine, host.out, 41000, 500 * stretch + 12);
        EXPECT_EQ(host.engine->GetPlayPosition(), stretch == 1 ? 41000u : 21000u);
        Render(*host.engine, host.out, length - 41000, 500 * stretch + 12);
        uint32_t previousEnd = 0;
        for (size_t s = 0; s < Starts.size(); ++s)
        {
            const uint32_t placed = static_cast<uint32_t>(
                std::llround(Starts[s] * (length - 1.0) / (LoopFrames - 1.0)));
            EXPECT_LE(placed - stretch * Starts[s], 1u) << s;
            for (uint32_t j = previousEnd + 1; j < placed; ++j)
                ASSERT_EQ(host.out[0][j], 0.0f) << "slice " << s << " frame " << j;
            EXPECT_EQ(host.out[0][placed], 0.0f) << s; // the gate opens from silence
            EXPECT_NE(host.out[0][placed + 10], 0.0f) << s;
            EXPECT_EQ(host.Mismatches(s, placed), 0u) << "slice " << s;
            previousEnd = placed + SliceLength(s);
        }
        host.engine->Transport(2, 2); // audition the slice from 20000, once
        EXPECT_EQ(host.engine->GetPlayPosition(), 20000u);
        Render(*host.engine, host.out, 13500, 500);
        EXPECT_EQ(host.engine->GetPlayPosition(), 0u);
    }
}

// Gain, envelope and tail settings reach a slice when it starts: changed in the middle of a slice,
// they leave the rest of that slice (and the tail of the one before) as it was and change the
// slices after it. Transposition instead retunes the sounding slice at once.
TEST(Playback, ShapingReachesASliceWhenItStarts)
{
    static constexpr VoKelvora::EnvelopeSettings envelope{1.0f, 5.0f, 30.0f, -12.0f};
    const struct
    {
        const char* name;
        void (*change)(KelvoraEngine&);
        bool atSliceStart;
    } cases[] = {
        {"gain", [](KelvoraEngine& e) { e.SetGain(-6.0f); }, true},
        {"envelope", [](KelvoraEngine& e) { e.SetEnvelope(&envelope); }, true},
        {"tail extension", [](KelvoraEngine& e) { e.SetTailExtension(0.2f); }, true},
        {"tail-loop position", [](KelvoraEngine& e) { e.SetTailLoopPosition(0.9f); }, true},
        {"tail from sound end", [](KelvoraEngine& e) { e.SetTailFromSoundEnd(true); }, true},
        {"transposition", [](KelvoraEngine& e) { e.SetTranspose(3.0f); }, false},
    };
    // At half tempo slice 2 (source 20000..33000) plays from output 40000 to 66000.
    constexpr uint32_t changeAt = 50000, nextSlice = 66000, length = 2 * LoopFrames;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        BurstLoop steady, changed;
        for (BurstLoop* host : {&steady, &changed})
        {
            host->engine->SetTempo(120.0f);
            host->engine->SetTailExtension(1.0f);
            host->engine->SetTailFromSoundEnd(false);
            host->engine->Transport(0, 0);
        }
        Render(*steady.engine, steady.out, length, 1000);
        Render(*changed.engine, changed.out, changeAt, 1000);
        c.change(*changed.engine);
        Render(*changed.engine, changed.out, length - changeAt, 1000);
        const auto differs = [&](uint32_t from, uint32_t to)
        {
            return !std::equal(steady.out[0].begin() + from, steady.out[0].begin() + to,
                               changed.out[0].begin() + from);
        };
        EXPECT_EQ(differs(changeAt, nextSlice), !c.atSliceStart);
        EXPECT_TRUE(differs(nextSlice, length));
    }
}
