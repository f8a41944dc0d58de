// A synthetic drum loop goes in through SetLoop, slice points come out where the hits are.
#include "tests/engine/HostEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

using namespace HostEngine;

namespace
{

constexpr uint32_t Rate = 44100;
constexpr uint32_t Frames = 88200;
constexpr uint32_t Hits[] = {1500, 11025, 22050, 27560, 44100, 55125, 66150, 71660, 77175};
constexpr float Levels[] = {1.0f, 0.45f, 0.8f, 0.35f, 0.95f, 0.5f, 0.75f, 0.4f, 0.6f};

// Within a few milliseconds.
bool Near(uint32_t position, uint32_t target)
{
    return std::max(position, target) - std::min(position, target) <= Rate * 3 / 1000;
}

} // namespace

TEST(Analysis, DrumLoopIsCutAtItsHits)
{
    // Decaying noise bursts at the hits, a little different in each channel: kick-like ones over
    // ~40 ms, weaker hat-like ones over ~15 ms; analysed by a fresh engine.
    PlanarAudio audio(2, Frames);
    std::mt19937 rng(2024);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    for (size_t h = 0; h < std::size(Hits); ++h)
    {
        const double decay = (Levels[h] > 0.7f ? 0.040 : 0.015) * Rate;
        for (uint32_t i = Hits[h]; i < Frames && i < Hits[h] + 8000; ++i)
        {
            const double age = i - Hits[h];
            const float envelope = Levels[h] * static_cast<float>(std::exp(-age / decay));
            audio.samples[0][i] += envelope * noise(rng);
            audio.samples[1][i] += envelope * noise(rng);
        }
    }
    EnginePtr owner = Make(2, Rate, 0);
    KelvoraEngine& engine = *owner;
    engine.SetLoop(Frames, 2, audio.Channels(), 0.0f, nullptr, 0);
    float strongest = 0.0f;
    for (const SliceInfo& p : Slices(engine))
    {
        EXPECT_TRUE(p.detected);
        EXPECT_FALSE(p.aboveThreshold); // the sensitivity starts at 0
        strongest = std::max(strongest, p.strength);
    }
    EXPECT_EQ(strongest, 1.0f);

    engine.SetSensitivity(0.8f); // strength >= 0.04 cuts
    std::vector<uint32_t> active;
    for (const SliceInfo& p : Slices(engine))
        if (p.aboveThreshold)
            active.push_back(p.position);
    ASSERT_EQ(active.size(), std::size(Hits)); // one cut per hit, in order
    for (size_t h = 0; h < active.size(); ++h)
        EXPECT_TRUE(Near(active[h], Hits[h])) << active[h];

    // The slice around the middle of the loop runs from the hit at 44100 to the next one.
    const auto [start, length] = Region(engine, 50000);
    EXPECT_TRUE(Near(start, 44100)) << start;
    EXPECT_TRUE(Near(start + length, 55125)) << start + length;

    // A new detection window replaces every point, the host's too. When even the narrowest pass
    // (half the window) reaches across the loop, only the strongest onset is left: the first hit.
    ASSERT_TRUE(engine.AddSlice(60000));
    engine.SetDetectionWindow(20000.0f);
    const std::vector<SliceInfo> sparse = Slices(engine);
    ASSERT_EQ(sparse.size(), 1u);
    EXPECT_TRUE(Near(sparse[0].position, Hits[0])) << sparse[0].position;
}
