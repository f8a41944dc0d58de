// Host-side checks of the loop model: slice import, tempo, point edits and the timing queries.
#include "engine/KelvoraEngine.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using VoKelvora::EnvelopeSettings;
using VoKelvora::KelvoraEngine;
using VoKelvora::SliceInfo;

namespace
{

struct LoopEngineDeleter
{
    void operator()(KelvoraEngine* engine) const { KelvoraEngine::Destroy(engine); }
};

// A mono 44.1 kHz engine holding a loop of `frames` frames: silent up to `soundFrom`, then a
// constant 0.5, with host slices at 0 and 44100 (the second locked on) and the given tempo.
struct LoadedEngine
{
    std::vector<float> samples;
    std::vector<float*> channels;
    std::unique_ptr<KelvoraEngine, LoopEngineDeleter> engine;

    LoadedEngine(uint32_t frames, float tempo, uint32_t soundFrom = 0xFFFFFFFFu)
        : samples(frames, 0.0f)
    {
        for (uint32_t i = soundFrom; i < frames; ++i)
        {
            samples[i] = 0.5f;
        }
        channels.push_back(samples.data());
        KelvoraEngine* created = nullptr;
        KelvoraEngine::Create(&created, 1, 44100, 0);
        engine.reset(created);
        SliceInfo slices[2] = {Slice(0, false), Slice(44100, true)};
        engine->SetLoop(frames, 1, channels.data(), tempo, slices, 2);
    }

    static SliceInfo Slice(uint32_t position, bool lockedOn)
    {
        SliceInfo info{};
        info.sourcePosition = position;
        info.position = position;
        info.tickPosition = -1.0f;
        info.strength = 1.0f;
        info.lockedOn = lockedOn;
        return info;
    }

    std::pair<uint32_t, uint32_t> Region(uint32_t position)
    {
        uint32_t start = 1, length = 1;
        engine->GetSliceRegion(position, &start, &length);
        return {start, length};
    }

    std::vector<uint32_t> Positions()
    {
        std::vector<SliceInfo> infos(engine->GetSliceCount());
        engine->GetSlices(infos.data());
        std::vector<uint32_t> positions;
        for (const SliceInfo& info : infos)
        {
            positions.push_back(info.position);
        }
        return positions;
    }

    // First output frame of the playing loop that is not silent, or -1.
    long FirstSound(uint32_t frames)
    {
        engine->Transport(0, 0);
        std::vector<float> block(4096);
        float* out[1] = {block.data()};
        for (uint32_t done = 0; done < frames; done += 4096)
        {
            engine->Render(4096, out);
            for (uint32_t i = 0; i < 4096; ++i)
            {
                if (block[i] != 0.0f)
                {
                    return long(done + i);
                }
            }
        }
        return -1;
    }
};

} // namespace

TEST(LoopModelApi, ImportedSlicesAndTempo)
{
    LoadedEngine loaded(88200, 120.0f);
    KelvoraEngine& engine = *loaded.engine;
    ASSERT_EQ(engine.GetSliceCount(), 2u);
    SliceInfo second{};
    engine.GetSlice(1, &second);
    EXPECT_EQ(second.position, 44100u);
    EXPECT_TRUE(second.lockedOn);
    EXPECT_FALSE(second.detected);
    EXPECT_FALSE(second.aboveThreshold); // sensitivity 0 lets nothing through

    EXPECT_FLOAT_EQ(engine.GetLoopTempo(), 120.0f);
    EXPECT_FLOAT_EQ(engine.GetTempo(), 120.0f);
    EXPECT_EQ(engine.GetRenderedLength(), 88200u);
    // The locked point cuts; the region ends at the last frame of the source.
    EXPECT_EQ(loaded.Region(100), std::make_pair(0u, 44100u));
    EXPECT_EQ(loaded.Region(50000), std::make_pair(44100u, 44100u));

    EXPECT_EQ(engine.GetTranspose(), 0.0f);
    EXPECT_EQ(engine.GetFineTune(), 0.0f);
    EXPECT_EQ(engine.GetTailExtension(), 0.0f);
    EXPECT_EQ(engine.GetTailLoopPosition(), 0.0f);
    EXPECT_TRUE(engine.GetTailFromSoundEnd());
    EXPECT_EQ(engine.GetGain(), 0.0f);
    EnvelopeSettings envelope{};
    engine.GetEnvelope(&envelope);
    EXPECT_EQ(envelope.attackMs, 0.0f);
    EXPECT_EQ(envelope.sustainDb, -400.0f);
}

TEST(LoopModelApi, WithoutTempoTheLengthDecides)
{
    LoadedEngine loaded(88200, 0.0f); // 8 beats in 2 s
    EXPECT_FLOAT_EQ(loaded.engine->GetLoopTempo(), 240.0f);
    EXPECT_FLOAT_EQ(loaded.engine->GetTempo(), 240.0f);
    EXPECT_EQ(loaded.engine->GetRenderedLength(), 88200u);
}

TEST(LoopModelApi, AddAndDisableSlices)
{
    LoadedEngine loaded(88200, 120.0f);
    KelvoraEngine& engine = *loaded.engine;
    EXPECT_FALSE(engine.AddSlice(88201));
    EXPECT_TRUE(engine.AddSlice(88200));
    EXPECT_TRUE(engine.AddSlice(30000));
    EXPECT_EQ(loaded.Positions(), (std::vector<uint32_t>{0, 30000, 44100, 88200}));
    SliceInfo added{};
    engine.GetSlice(1, &added);
    EXPECT_EQ(added.strength, 1.0f);
    EXPECT_EQ(added.tickPosition, -1.0f);
    EXPECT_EQ(loaded.Region(35000), std::make_pair(30000u, 14100u)); // an added point cuts

    EXPECT_TRUE(engine.DisableSlice(1));
    EXPECT_TRUE(engine.DisableSlice(2)); // locked on: keeps cutting
    EXPECT_FALSE(engine.DisableSlice(4));
    EXPECT_EQ(engine.GetSliceCount(), 4u);
    EXPECT_EQ(loaded.Region(35000), std::make_pair(0u, 44100u));
    EXPECT_EQ(loaded.Region(50000), std::make_pair(44100u, 44100u));
}

TEST(LoopModelApi, TimingQueriesFollowTheTargetTempo)
{
    LoadedEngine loaded(88200, 120.0f);
    KelvoraEngine& engine = *loaded.engine;
    engine.SetTempo(60.0f);
    EXPECT_EQ(engine.GetRenderedLength(), 176400u);
    EXPECT_EQ(engine.TicksToSamples(96.0f, 0.0f), 44100u); // one beat at 60 BPM
    EXPECT_EQ(engine.TicksToSamples(48.0f, 120.0f), 11025u);
    EXPECT_EQ(engine.OutputToSourcePosition(0, 0.0f), 0u);
    EXPECT_EQ(engine.OutputToSourcePosition(176399, 0.0f), 88199u);
    EXPECT_EQ(engine.OutputToSourcePosition(1000, 120.0f), 1000u);
    EXPECT_EQ(engine.OutputToSourcePosition(90000, 120.0f), 88199u);
}

TEST(LoopModelApi, TickPositionPinsASlice)
{
    // Only the second slice has sound, so the first sound marks its trigger.
    LoadedEngine unpinned(88200, 120.0f, 44100);
    unpinned.engine->SetTempo(60.0f);
    const long stretched = unpinned.FirstSound(176400);
    EXPECT_GE(stretched, 88201); // 44100 * 176399 / 88199 = 88200.5
    EXPECT_LE(stretched, 88210);

    LoadedEngine pinned(88200, 120.0f, 44100);
    pinned.engine->SetTempo(60.0f);
    SliceInfo edit = LoadedEngine::Slice(44100, true);
    edit.tickPosition = 48.0f; // half a beat: 22050 frames at 60 BPM
    ASSERT_TRUE(pinned.engine->SetSlice(1, &edit));
    SliceInfo read{};
    pinned.engine->GetSlice(1, &read);
    EXPECT_EQ(read.tickPosition, 48.0f);
    EXPECT_EQ(read.position, 44100u);
    const long early = pinned.FirstSound(176400);
    EXPECT_GE(early, 22050);
    EXPECT_LE(early, 22059);
}
