// A host's view of the loop analysis: a synthetic drum loop goes in through SetLoop, slice points
// come out where the hits are.
#include "engine/KelvoraEngine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

using VoKelvora::KelvoraEngine;
using VoKelvora::SliceInfo;

namespace
{

struct EngineDeleter
{
    void operator()(KelvoraEngine* engine) const { KelvoraEngine::Destroy(engine); }
};
using EnginePtr = std::unique_ptr<KelvoraEngine, EngineDeleter>;

constexpr uint32_t Rate = 44100;
constexpr uint32_t Frames = 88200; // two bars of 4/4 at 240 BPM, or one second per bar at 120
constexpr uint32_t Hits[] = {1500, 11025, 22050, 27560, 44100, 55125, 66150, 71660, 77175};
constexpr float Levels[] = {1.0f, 0.45f, 0.8f, 0.35f, 0.95f, 0.5f, 0.75f, 0.4f, 0.6f};

// Decaying noise bursts at the hits, a little different in each channel, as a host holds them.
struct DrumLoop
{
    DrumLoop() : samples(2, std::vector<float>(Frames, 0.0f))
    {
        std::mt19937 rng(2024);
        std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
        for (size_t h = 0; h < std::size(Hits); ++h)
        {
            // Kick-like hits decay over ~40 ms, the weaker hat-like ones over ~15 ms.
            const double decay = Levels[h] > 0.7f ? 0.040 : 0.015;
            for (uint32_t i = Hits[h]; i < Frames && i < Hits[h] + 8000; ++i)
            {
                const float envelope =
                    Levels[h] * static_cast<float>(
                                    std::exp(-static_cast<double>(i - Hits[h]) / (decay * Rate)));
                samples[0][i] += envelope * noise(rng);
                samples[1][i] += envelope * noise(rng);
            }
        }
        for (auto& channel : samples)
            pointers.push_back(channel.data());
    }
    std::vector<std::vector<float>> samples;
    std::vector<float*> pointers;
};

EnginePtr Analysed(DrumLoop& loop)
{
    KelvoraEngine* engine = nullptr;
    KelvoraEngine::Create(&engine, 2, Rate, 0);
    EnginePtr owned(engine);
    if (engine != nullptr)
        engine->SetLoop(Frames, 2, loop.pointers.data(), 0.0f, nullptr, 0);
    return owned;
}

std::vector<SliceInfo> Points(KelvoraEngine& engine)
{
    std::vector<SliceInfo> points(engine.GetSliceCount());
    if (!points.empty())
        engine.GetSlices(points.data());
    return points;
}

uint32_t DistanceToNearestHit(uint32_t position)
{
    uint32_t best = Frames;
    for (uint32_t hit : Hits)
        best = std::min<uint32_t>(
            best, static_cast<uint32_t>(std::abs(static_cast<int64_t>(position) - hit)));
    return best;
}

// A few milliseconds: the refinement places an onset 8 samples ahead of a clean rise.
constexpr uint32_t Near = Rate * 3 / 1000;

TEST(Analysis, DetectedPointsCarryStrengths)
{
    DrumLoop loop;
    auto engine = Analysed(loop);
    ASSERT_NE(engine, nullptr);
    const auto points = Points(*engine);
    ASSERT_GE(points.size(), std::size(Hits));
    float strongest = 0.0f;
    for (const auto& p : points)
    {
        EXPECT_TRUE(p.detected);
        EXPECT_LT(p.position, Frames);
        EXPECT_EQ(p.position, p.sourcePosition);
        EXPECT_EQ(p.tickPosition, -1.0f);
        EXPECT_GT(p.strength, 0.0f);
        EXPECT_LE(p.strength, 1.0f);
        // Sensitivity starts at 0: nothing cuts yet.
        EXPECT_FALSE(p.aboveThreshold);
        strongest = std::max(strongest, p.strength);
    }
    EXPECT_EQ(strongest, 1.0f);
    // Every hit was found.
    for (uint32_t hit : Hits)
    {
        bool found = false;
        for (const auto& p : points)
            found = found || std::abs(static_cast<int64_t>(p.position) - hit) <= Near;
        EXPECT_TRUE(found) << hit;
    }
}

TEST(Analysis, RaisedSensitivityCutsAtTheHits)
{
    DrumLoop loop;
    auto engine = Analysed(loop);
    ASSERT_NE(engine, nullptr);
    engine->SetSensitivity(0.8f); // strength >= 0.04 cuts
    const auto points = Points(*engine);
    std::vector<uint32_t> active;
    for (const auto& p : points)
    {
        EXPECT_EQ(p.aboveThreshold, p.strength >= 0.2f * 0.2f - 1e-7f) << p.position;
        if (p.aboveThreshold)
            active.push_back(p.position);
    }
    // No active point is far from a hit...
    for (uint32_t position : active)
        EXPECT_LE(DistanceToNearestHit(position), Near) << position;
    // ...and every hit has one.
    for (uint32_t hit : Hits)
    {
        bool found = false;
        for (uint32_t position : active)
            found = found || std::abs(static_cast<int64_t>(position) - hit) <= Near;
        EXPECT_TRUE(found) << hit;
    }

    // The region around the middle of the loop runs from the hit at 44100 (less the refinement's
    // lead) to the next hit.
    uint32_t start = 0, length = 0;
    engine->GetSliceRegion(50000, &start, &length);
    EXPECT_LE(44100 - start, Near);
    EXPECT_LE(DistanceToNearestHit(start + length), Near);
    EXPECT_GT(start + length, 50000u);
}

TEST(Analysis, DetectionWindowReplacesThePoints)
{
    DrumLoop loop;
    auto engine = Analysed(loop);
    ASSERT_NE(engine, nullptr);
    const auto original = Points(*engine);
    ASSERT_TRUE(engine->AddSlice(60000));
    EXPECT_EQ(engine->GetSliceCount(), original.size() + 1);

    // No suppression at all: every coarse flux peak becomes a point, the host's is gone.
    engine->SetDetectionWindow(0.0f);
    EXPECT_EQ(engine->GetDetectionWindow(), 0.0f);
    const auto dense = Points(*engine);
    EXPECT_GT(dense.size(), original.size());
    for (const auto& p : dense)
        EXPECT_TRUE(p.detected);

    // When even the narrowest pass (half the window) reaches across the loop at full weight,
    // only the single strongest onset is left: the first hit.
    engine->SetDetectionWindow(20000.0f);
    const auto sparse = Points(*engine);
    ASSERT_EQ(sparse.size(), 1u);
    EXPECT_LE(DistanceToNearestHit(sparse[0].position), Near);
    EXPECT_LE(std::abs(static_cast<int64_t>(sparse[0].position) - Hits[0]), Near);
    EXPECT_EQ(sparse[0].strength, 1.0f);

    // Back at the default the first detection comes back exactly.
    engine->SetDetectionWindow(75.0f);
    const auto again = Points(*engine);
    ASSERT_EQ(again.size(), original.size());
    for (size_t i = 0; i < again.size(); ++i)
    {
        EXPECT_EQ(again[i].position, original[i].position);
        EXPECT_EQ(again[i].strength, original[i].strength);
    }
}

TEST(Analysis, SilentLoopHasNoPoints)
{
    KelvoraEngine* raw = nullptr;
    KelvoraEngine::Create(&raw, 1, Rate, 0);
    EnginePtr engine(raw);
    ASSERT_NE(engine, nullptr);
    std::vector<float> silence(Frames, 0.0f);
    float* channels[] = {silence.data()};
    engine->SetLoop(Frames, 1, channels, 0.0f, nullptr, 0);
    EXPECT_EQ(engine->GetSliceCount(), 0u);
}

} // namespace
