// Host-side checks of playback: what a host hears from a loop it sliced itself.
#include "engine/KelvoraEngine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

using VoKelvora::KelvoraEngine;
using VoKelvora::SliceInfo;

namespace
{

constexpr uint32_t Rate = 44100;
constexpr uint32_t LoopFrames = 88200; // two bars of 4/4 at 240 BPM

struct EngineDeleter
{
    void operator()(KelvoraEngine* engine) const { KelvoraEngine::Destroy(engine); }
};
using EnginePtr = std::unique_ptr<KelvoraEngine, EngineDeleter>;

// A stereo loop of decaying noise bursts, one at every cut, sliced by the host at those cuts.
struct HostLoop
{
    HostLoop() : left(LoopFrames), right(LoopFrames)
    {
        uint32_t seed = 12345;
        for (uint32_t s = 0; s < Starts.size(); ++s)
        {
            const uint32_t end = s + 1 < Starts.size() ? Starts[s + 1] : LoopFrames;
            for (uint32_t j = Starts[s]; j < end; ++j)
            {
                seed = seed * 1664525u + 1013904223u;
                const float noise = static_cast<float>(seed >> 8) / 8388608.0f - 1.0f;
                const float decay = std::exp(-static_cast<float>(j - Starts[s]) / 3000.0f);
                left[j] = 0.8f * noise * decay;
                right[j] = -0.5f * left[j] + 0.01f;
            }
        }
        pointers[0] = left.data();
        pointers[1] = right.data();

        KelvoraEngine* raw = nullptr;
        KelvoraEngine::Create(&raw, 2, Rate, 0);
        engine.reset(raw);
        std::vector<SliceInfo> slices;
        for (uint32_t start : Starts)
        {
            SliceInfo info{};
            info.sourcePosition = start;
            info.position = start;
            info.tickPosition = -1.0f;
            info.strength = 1.0f;
            info.lockedOn = true;
            slices.push_back(info);
        }
        engine->SetLoop(LoopFrames, 2, pointers, 0.0f, slices.data(),
                        static_cast<uint32_t>(slices.size()));
    }

    uint32_t SliceEnd(size_t s) const { return s + 1 < Starts.size() ? Starts[s + 1] : LoopFrames; }

    // Renders `frames` frames in blocks of `block`, appending to the two output channels.
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

    const std::vector<uint32_t> Starts{0, 9000, 20000, 33000, 44100, 60000, 70000, 80000};
    std::vector<float> left;
    std::vector<float> right;
    float* pointers[2];
    EnginePtr engine;
    std::vector<float> outLeft;
    std::vector<float> outRight;
};

// Frames at the end of a slice that its gate release (1/25 of the slice) and its tail
// crossfade (220 frames) may touch.
uint32_t EndMargin(uint32_t length)
{
    return std::max(length / 25 + 2, 222u);
}

} // namespace

TEST(Playback, OwnTempoReproducesTheSourceInsideEverySlice)
{
    HostLoop host;
    ASSERT_EQ(host.engine->GetTempo(), 240.0f);
    ASSERT_EQ(host.engine->GetRenderedLength(), LoopFrames);
    host.engine->Transport(0, 0);
    host.Render(LoopFrames, 512);

    for (size_t s = 0; s < host.Starts.size(); ++s)
    {
        const uint32_t start = host.Starts[s];
        const uint32_t end = host.SliceEnd(s);
        // The gate fades in over 9 frames (0.2 ms) from silence.
        EXPECT_EQ(host.outLeft[start], 0.0f) << s;
        uint32_t mismatches = 0;
        for (uint32_t j = start + 10; j < end - EndMargin(end - start); ++j)
            mismatches += host.outLeft[j] != host.left[j] || host.outRight[j] != host.right[j];
        EXPECT_EQ(mismatches, 0u) << "slice " << s;
        // The release brings the slice down to silence as the next one starts.
        EXPECT_LT(std::fabs(host.outLeft[end - 1]), std::fabs(host.left[end - 1]) + 1e-3f) << s;
    }
}

TEST(Playback, HalfTempoStartsEachSliceWhereTheStretchedTimelinePutsIt)
{
    HostLoop host;
    host.engine->SetTempo(120.0f);
    const uint32_t outputLength = host.engine->GetRenderedLength();
    ASSERT_EQ(outputLength, 2 * LoopFrames);
    host.engine->Transport(0, 0);
    host.Render(outputLength, 1000);

    uint32_t previousEnd = 0;
    for (size_t s = 0; s < host.Starts.size(); ++s)
    {
        const uint32_t start = host.Starts[s];
        const uint32_t length = host.SliceEnd(s) - start;
        // The first output frame of the slice: its source position mapped from 0..N-1 onto
        // 0..2N-1, about twice where it lies in the source.
        const uint32_t placed = static_cast<uint32_t>(
            std::llround(start * (2.0 * LoopFrames - 1.0) / (LoopFrames - 1.0)));
        EXPECT_LE(placed - 2 * start, 1u) << s;
        // Between the end of the previous slice and this one: silence.
        for (uint32_t j = previousEnd + 1; j < placed; ++j)
            ASSERT_EQ(host.outLeft[j], 0.0f) << "slice " << s << " frame " << j;
        // The slice itself plays at its own rate from its slot's start.
        uint32_t mismatches = 0;
        for (uint32_t k = 10; k < length - EndMargin(length); ++k)
            mismatches += host.outLeft[placed + k] != host.left[start + k] ||
                          host.outRight[placed + k] != host.right[start + k];
        EXPECT_EQ(mismatches, 0u) << "slice " << s;
        EXPECT_NE(host.outLeft[placed + 10], 0.0f) << s;
        previousEnd = placed + length;
    }
}

TEST(Playback, PlayPositionFollowsPlayback)
{
    HostLoop host;
    EXPECT_EQ(host.engine->GetPlayPosition(), 0u);
    host.engine->Transport(0, 0);
    EXPECT_EQ(host.engine->GetPlayPosition(), 0u);
    uint32_t rendered = 0;
    for (int block = 0; block < 400; ++block) // a little over two passes
    {
        host.Render(512, 512);
        rendered += 512;
        if (rendered % LoopFrames != 0)
        {
            ASSERT_EQ(host.engine->GetPlayPosition(), rendered % LoopFrames) << block;
        }
    }
    host.engine->Transport(1, 0);
    EXPECT_EQ(host.engine->GetPlayPosition(), 0u);

    // At half the tempo the position is the source frame being played.
    host.engine->SetTempo(120.0f);
    host.engine->Transport(0, 0);
    host.outLeft.clear();
    host.Render(40000 + 1000, 1000); // the slice at source 20000 starts at output 40000
    EXPECT_EQ(host.engine->GetPlayPosition(), 20000u + 1000u);
}

TEST(Playback, AuditionPlaysOneSliceFromTheStart)
{
    HostLoop host;
    ASSERT_TRUE(host.engine->Transport(2, 2)); // the slice from 20000 to 33000
    EXPECT_EQ(host.engine->GetPlayPosition(), 20000u);
    host.Render(14000, 500);
    EXPECT_EQ(host.outLeft[0], 0.0f);
    uint32_t mismatches = 0;
    for (uint32_t k = 10; k < 13000 - EndMargin(13000); ++k)
        mismatches += host.outLeft[k] != host.left[20000 + k];
    EXPECT_EQ(mismatches, 0u);
    for (uint32_t k = 13000; k < 14000; ++k)
        ASSERT_EQ(host.outLeft[k], 0.0f) << k;
    // Played once, the audition is over.
    EXPECT_EQ(host.engine->GetPlayPosition(), 0u);
}
