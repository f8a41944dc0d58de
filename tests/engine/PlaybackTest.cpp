// What a host hears from a loop it sliced itself.
#include "engine/KelvoraEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

using VoKelvora::KelvoraEngine;

namespace
{

constexpr uint32_t LoopFrames = 88200; // two bars of 4/4 at 240 BPM and 44.1 kHz
const std::vector<uint32_t> Starts{0, 9000, 20000, 33000, 44100, 60000, 70000, 80000};

uint32_t SliceLength(size_t s)
{
    return (s + 1 < Starts.size() ? Starts[s + 1] : LoopFrames) - Starts[s];
}

// Frames at the end of a slice that its release (1/25 of it) or tail crossfade (220) touch.
uint32_t EndMargin(uint32_t length)
{
    return std::max(length / 25 + 2, 222u);
}

// A stereo loop of decaying noise bursts, one per slice, handed to an engine with the host's
// cuts at the bursts.
struct HostLoop
{
    HostLoop() : left(LoopFrames), right(LoopFrames)
    {
        uint32_t seed = 12345;
        for (size_t s = 0; s < Starts.size(); ++s)
            for (uint32_t k = 0; k < SliceLength(s); ++k)
            {
                seed = seed * 1664525u + 1013904223u;
                const float noise = static_cast<float>(seed >> 8) / 8388608.0f - 1.0f;
                left[Starts[s] + k] = 0.8f * noise * std::exp(-static_cast<float>(k) / 3000.0f);
                right[Starts[s] + k] = -0.5f * left[Starts[s] + k] + 0.01f;
            }
        KelvoraEngine* raw = nullptr;
        KelvoraEngine::Create(&raw, 2, 44100, 0);
        engine.reset(raw);
        std::vector<VoKelvora::SliceInfo> slices(Starts.size());
        for (size_t s = 0; s < Starts.size(); ++s)
        {
            slices[s] =
                VoKelvora::SliceInfo{Starts[s], Starts[s], -1.0f, 1.0f, true, false, false, false};
        }
        engine->SetLoop(LoopFrames, 2, channels, 0.0f, slices.data(), 8);
    }

    // Renders `frames` frames in blocks of `block`, appending to outLeft and outRight.
    void Render(uint32_t frames, uint32_t block)
    {
        std::vector<float> l(block);
        std::vector<float> r(block);
        float* outputs[2] = {l.data(), r.data()};
        for (uint32_t done = 0; done < frames; done += block)
        {
            const uint32_t n = std::min(block, frames - done);
            engine->Render(n, outputs);
            outLeft.insert(outLeft.end(), l.begin(), l.begin() + n);
            outRight.insert(outRight.end(), r.begin(), r.begin() + n);
        }
    }

    // Frames of slice s whose output at `placed` onwards differs from the source, away from the
    // slice's edges (the gate's 9-frame fade-in; the release and tail crossfade at the end).
    uint32_t Mismatches(size_t s, uint32_t placed) const
    {
        uint32_t count = 0;
        for (uint32_t k = 10; k < SliceLength(s) - EndMargin(SliceLength(s)); ++k)
            count += outLeft[placed + k] != left[Starts[s] + k] ||
                     outRight[placed + k] != right[Starts[s] + k];
        return count;
    }

    std::vector<float> left;
    std::vector<float> right;
    float* channels[2] = {left.data(), right.data()}; // the engine keeps this array
    std::unique_ptr<KelvoraEngine, void (*)(KelvoraEngine*)> engine{nullptr,
                                                                    KelvoraEngine::Destroy};
    std::vector<float> outLeft;
    std::vector<float> outRight;
};

} // namespace

TEST(Playback, OwnTempoReproducesTheSourceInsideEverySlice)
{
    HostLoop host;
    ASSERT_EQ(host.engine->GetTempo(), 240.0f);
    ASSERT_EQ(host.engine->GetRenderedLength(), LoopFrames);
    host.engine->Transport(0, 0);
    host.Render(LoopFrames, 512);
    for (size_t s = 0; s < Starts.size(); ++s)
    {
        EXPECT_EQ(host.outLeft[Starts[s]], 0.0f) << s; // the gate opens from silence
        EXPECT_EQ(host.Mismatches(s, Starts[s]), 0u) << "slice " << s;
    }
}

TEST(Playback, HalfTempoStartsEachSliceWhereTheStretchedTimelinePutsIt)
{
    HostLoop host;
    host.engine->SetTempo(120.0f);
    ASSERT_EQ(host.engine->GetRenderedLength(), 2 * LoopFrames);
    host.engine->Transport(0, 0);
    host.Render(2 * LoopFrames, 1000);
    uint32_t previousEnd = 0;
    for (size_t s = 0; s < Starts.size(); ++s)
    {
        // Source 0..N-1 mapped onto output 0..2N-1: about twice the source position.
        const uint32_t placed = static_cast<uint32_t>(
            std::llround(Starts[s] * (2.0 * LoopFrames - 1.0) / (LoopFrames - 1.0)));
        EXPECT_LE(placed - 2 * Starts[s], 1u) << s;
        for (uint32_t j = previousEnd + 1; j < placed; ++j) // silence since the previous slice
            ASSERT_EQ(host.outLeft[j], 0.0f) << "slice " << s << " frame " << j;
        EXPECT_NE(host.outLeft[placed + 10], 0.0f) << s;
        EXPECT_EQ(host.Mismatches(s, placed), 0u) << "slice " << s;
        previousEnd = placed + SliceLength(s);
    }
}

TEST(Playback, PlayPositionFollowsPlayback)
{
    HostLoop host;
    EXPECT_EQ(host.engine->GetPlayPosition(), 0u);
    host.engine->Transport(0, 0);
    uint32_t rendered = 0;
    for (int block = 0; block < 400; ++block, rendered += 512) // a little over two passes
    {
        if (rendered % LoopFrames != 0)
        {
            ASSERT_EQ(host.engine->GetPlayPosition(), rendered % LoopFrames) << block;
        }
        host.Render(512, 512);
    }
    host.engine->Transport(1, 0);
    EXPECT_EQ(host.engine->GetPlayPosition(), 0u);

    host.engine->SetTempo(120.0f); // the slice at source 20000 now starts at output 40000
    host.engine->Transport(0, 0);
    host.Render(41000, 1000);
    EXPECT_EQ(host.engine->GetPlayPosition(), 21000u);

    host.engine->Transport(2, 2); // audition the slice from 20000
    EXPECT_EQ(host.engine->GetPlayPosition(), 20000u);
    host.Render(13500, 500);
    EXPECT_EQ(host.engine->GetPlayPosition(), 0u); // played once, it is over
}
