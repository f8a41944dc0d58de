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
constexpr uint32_t Frames = 88200;
constexpr uint32_t Hits[] = {1500, 11025, 22050, 27560, 44100, 55125, 66150, 71660, 77175};
constexpr float Levels[] = {1.0f, 0.45f, 0.8f, 0.35f, 0.95f, 0.5f, 0.75f, 0.4f, 0.6f};
// A few milliseconds.
constexpr int64_t Near = Rate * 3 / 1000;

// Decaying noise bursts at the hits, a little different in each channel: kick-like ones over
// ~40 ms, weaker hat-like ones over ~15 ms. Held by the test, as a host holds its audio.
struct DrumLoop
{
    DrumLoop() : samples(2, std::vector<float>(Frames, 0.0f))
    {
        std::mt19937 rng(2024);
        std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
        for (size_t h = 0; h < std::size(Hits); ++h)
        {
            const double decay = (Levels[h] > 0.7f ? 0.040 : 0.015) * Rate;
            for (uint32_t i = Hits[h]; i < Frames && i < Hits[h] + 8000; ++i)
            {
                const double age = i - Hits[h];
                const float envelope = Levels[h] * static_cast<float>(std::exp(-age / decay));
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
    if (engine != nullptr)
        engine->SetLoop(Frames, 2, loop.pointers.data(), 0.0f, nullptr, 0);
    return EnginePtr(engine);
}

std::vector<SliceInfo> Points(KelvoraEngine& engine)
{
    std::vector<SliceInfo> points(engine.GetSliceCount());
    if (!points.empty())
        engine.GetSlices(points.data());
    return points;
}

bool NearAHit(uint32_t position)
{
    for (uint32_t hit : Hits)
    {
        if (std::abs(static_cast<int64_t>(position) - hit) <= Near)
            return true;
    }
    return false;
}

bool HitFound(uint32_t hit, const std::vector<uint32_t>& positions)
{
    for (uint32_t p : positions)
    {
        if (std::abs(static_cast<int64_t>(p) - hit) <= Near)
            return true;
    }
    return false;
}

TEST(Analysis, RaisedSensitivityCutsAtTheHits)
{
    DrumLoop loop;
    auto engine = Analysed(loop);
    ASSERT_NE(engine, nullptr);
    float strongest = 0.0f;
    for (const auto& p : Points(*engine))
    {
        EXPECT_TRUE(p.detected);
        EXPECT_FALSE(p.aboveThreshold); // the sensitivity starts at 0
        EXPECT_GT(p.strength, 0.0f);
        EXPECT_LE(p.strength, 1.0f);
        strongest = std::max(strongest, p.strength);
    }
    EXPECT_EQ(strongest, 1.0f);

    engine->SetSensitivity(0.8f); // strength >= 0.04 cuts
    std::vector<uint32_t> active;
    for (const auto& p : Points(*engine))
    {
        if (p.aboveThreshold)
            active.push_back(p.position);
    }
    for (uint32_t position : active)
        EXPECT_TRUE(NearAHit(position)) << position;
    for (uint32_t hit : Hits)
        EXPECT_TRUE(HitFound(hit, active)) << hit;

    // The slice around the middle of the loop runs from the hit at 44100 to the next one.
    uint32_t start = 0, length = 0;
    engine->GetSliceRegion(50000, &start, &length);
    EXPECT_LE(std::abs(static_cast<int64_t>(start) - 44100), Near);
    EXPECT_LE(std::abs(static_cast<int64_t>(start + length) - 55125), Near);
}

TEST(Analysis, DetectionWindowReplacesThePoints)
{
    DrumLoop loop;
    auto engine = Analysed(loop);
    ASSERT_NE(engine, nullptr);
    const auto original = Points(*engine);
    ASSERT_TRUE(engine->AddSlice(60000));

    // No suppression: more points, all detected, the host's one gone.
    engine->SetDetectionWindow(0.0f);
    const auto dense = Points(*engine);
    EXPECT_GT(dense.size(), original.size());
    for (const auto& p : dense)
        EXPECT_TRUE(p.detected);

    // When even the narrowest pass (half the window) reaches across the loop at full weight,
    // only the strongest onset is left: the first hit.
    engine->SetDetectionWindow(20000.0f);
    const auto sparse = Points(*engine);
    ASSERT_EQ(sparse.size(), 1u);
    EXPECT_LE(std::abs(static_cast<int64_t>(sparse[0].position) - Hits[0]), Near);

    // Back at the default, the first detection returns exactly.
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
