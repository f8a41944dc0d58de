// Host-side checks of the loop model: slice import, tempo, point edits and the timing queries.
#include "tests/engine/HostEngine.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using namespace HostEngine;

namespace
{

// A mono 44.1 kHz engine holding a loop of `frames` frames: silent up to `soundFrom`, then a
// constant 0.5, with host slices at 0 and 44100 (the second locked on).
struct LoadedEngine
{
    LoadedEngine(uint32_t frames, float tempo, uint32_t soundFrom = 0xFFFFFFFFu)
        : audio(1, frames), engine(Make(1, 44100, 0))
    {
        for (uint32_t i = soundFrom; i < frames; ++i)
            audio.samples[0][i] = 0.5f;
        Load(tempo);
    }
    void Load(float tempo)
    {
        const SliceInfo slices[] = {HostSlice(0), HostSlice(44100, true)};
        engine->SetLoop(static_cast<uint32_t>(audio.samples[0].size()), 1, audio.Channels(), tempo,
                        slices, 2);
    }
    // First output frame of the playing loop that is not silent, or -1.
    long FirstSound(uint32_t frames)
    {
        engine->Transport(0, 0);
        PlanarAudio block(1, 4096);
        for (uint32_t done = 0; done < frames; done += 4096)
        {
            engine->Render(4096, block.Channels());
            for (uint32_t i = 0; i < 4096; ++i)
                if (block.samples[0][i] != 0.0f)
                    return long(done + i);
        }
        return -1;
    }

    PlanarAudio audio;
    EnginePtr engine;
};

} // namespace

TEST(LoopModelApi, ImportedSlicesTempoAndShapingReset)
{
    LoadedEngine loaded(88200, 120.0f);
    KelvoraEngine& engine = *loaded.engine;
    const std::vector<SliceInfo> slices = Slices(engine);
    ASSERT_EQ(slices.size(), 2u);
    EXPECT_EQ(slices[1].position, 44100u);
    EXPECT_TRUE(slices[1].lockedOn);
    EXPECT_FALSE(slices[1].detected);
    EXPECT_FALSE(slices[1].aboveThreshold); // sensitivity 0 lets nothing through
    EXPECT_FLOAT_EQ(engine.GetLoopTempo(), 120.0f);
    EXPECT_FLOAT_EQ(engine.GetTempo(), 120.0f);
    EXPECT_EQ(engine.GetRenderedLength(), 88200u);
    // The locked point cuts; the region ends at the last frame of the source.
    EXPECT_EQ(Region(engine, 100), std::make_pair(0u, 44100u));
    EXPECT_EQ(Region(engine, 50000), std::make_pair(44100u, 44100u));

    // A new import stops playback and brings every shaping setting back to its default.
    for (auto set : {&KelvoraEngine::SetTranspose, &KelvoraEngine::SetFineTune,
                     &KelvoraEngine::SetTailExtension, &KelvoraEngine::SetTailLoopPosition,
                     &KelvoraEngine::SetGain})
        (engine.*set)(0.25f);
    engine.SetTailFromSoundEnd(false);
    const VoKelvora::EnvelopeSettings shaped{5.0f, 6.0f, 7.0f, -3.0f};
    engine.SetEnvelope(&shaped);
    loaded.FirstSound(8192); // plays two blocks of the silent loop
    ASSERT_NE(engine.GetPlayPosition(), 0u);
    ASSERT_EQ(engine.GetGain(), 0.25f);
    loaded.Load(120.0f);
    EXPECT_EQ(engine.GetPlayPosition(), 0u);
    for (auto get : {&KelvoraEngine::GetTranspose, &KelvoraEngine::GetFineTune,
                     &KelvoraEngine::GetTailExtension, &KelvoraEngine::GetTailLoopPosition,
                     &KelvoraEngine::GetGain})
        EXPECT_EQ((engine.*get)(), 0.0f);
    EXPECT_TRUE(engine.GetTailFromSoundEnd());
    VoKelvora::EnvelopeSettings envelope{};
    engine.GetEnvelope(&envelope);
    EXPECT_EQ(envelope.attackMs + envelope.holdMs + envelope.decayMs, 0.0f);
    EXPECT_EQ(envelope.sustainDb, -400.0f);
}

TEST(LoopModelApi, LoopTempoFollowsMeterUnlessFixed)
{
    LoadedEngine loaded(88200, 0.0f); // two seconds: 8 beats of 2 bars in 4/4 give 240 BPM
    KelvoraEngine& engine = *loaded.engine;
    EXPECT_FLOAT_EQ(engine.GetLoopTempo(), 240.0f);
    EXPECT_FLOAT_EQ(engine.GetTempo(), 240.0f);
    EXPECT_EQ(engine.GetRenderedLength(), 88200u); // unstretched
    for (float removal : {0.0f, -5.0f, std::numeric_limits<float>::quiet_NaN()})
    {
        engine.SetLoopTempo(100.0f);
        EXPECT_FLOAT_EQ(engine.GetLoopTempo(), 100.0f);
        engine.SetLoopTempo(removal);
        EXPECT_FLOAT_EQ(engine.GetLoopTempo(), 240.0f) << removal;
        EXPECT_FLOAT_EQ(engine.GetTempo(), 240.0f) << removal;
    }
    // A 3/4 meter of 2 bars and 1 extra beat is 7 beats over 2 s: 210 BPM.
    const VoKelvora::MeterLayout meter{2, 1, 3, 4};
    engine.SetMeter(&meter);
    EXPECT_FLOAT_EQ(engine.GetLoopTempo(), 210.0f);
    EXPECT_EQ(Meter(engine), (std::vector<uint32_t>{2, 1, 3, 4}));
}

TEST(LoopModelApi, PointEditsIndexChecksAndTransport)
{
    LoadedEngine loaded(88200, 120.0f);
    KelvoraEngine& engine = *loaded.engine;
    EXPECT_FALSE(engine.Transport(3, 0));
    EXPECT_FALSE(engine.Transport(0xFFFFFFFFu, 0));
    EXPECT_FALSE(engine.Transport(2, 2)); // index equal to the count
    EXPECT_TRUE(engine.Transport(2, 1));
    EXPECT_TRUE(engine.Transport(0, 0));
    EXPECT_TRUE(engine.Transport(1, 0));
    EXPECT_EQ(engine.GetPlayPosition(), 0u);

    EXPECT_FALSE(engine.AddSlice(88201));
    EXPECT_TRUE(engine.AddSlice(88200)); // the region end itself is accepted
    EXPECT_TRUE(engine.AddSlice(30000));
    std::vector<SliceInfo> slices = Slices(engine); // sorted by position
    ASSERT_EQ(slices.size(), 4u);
    EXPECT_EQ(slices[1].position, 30000u);
    EXPECT_EQ(slices[2].position, 44100u);
    EXPECT_EQ(slices[3].position, 88200u);
    EXPECT_EQ(slices[1].strength, 1.0f);
    EXPECT_EQ(slices[1].tickPosition, -1.0f);
    EXPECT_EQ(Region(engine, 35000), std::make_pair(30000u, 14100u)); // an added point cuts

    EXPECT_TRUE(engine.DisableSlice(1));
    EXPECT_TRUE(engine.DisableSlice(2)); // locked on: keeps cutting
    EXPECT_FALSE(engine.DisableSlice(4));
    EXPECT_EQ(engine.GetSliceCount(), 4u);
    EXPECT_EQ(Region(engine, 35000), std::make_pair(0u, 44100u));
    EXPECT_EQ(Region(engine, 50000), std::make_pair(44100u, 44100u));

    SliceInfo untouched = HostSlice(999);
    engine.GetSlice(4, &untouched);
    EXPECT_EQ(untouched.position, 999u);
    const SliceInfo edit = HostSlice(5000);
    EXPECT_FALSE(engine.SetSlice(4, &edit));
    EXPECT_FALSE(engine.SetSlice(0xFFFFFFFFu, &edit));
    EXPECT_FALSE(engine.SetSlice(0, nullptr));
    EXPECT_TRUE(engine.SetSlice(0, &edit));
    engine.GetSlices(nullptr);
    slices = Slices(engine);
    EXPECT_EQ(slices[0].position, 5000u);
    EXPECT_EQ(slices[0].sourcePosition, 0u); // never edited
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
    // Only the second slice has sound, so the first sound marks its trigger. Unpinned, it would
    // start near output 88200 at 60 BPM.
    LoadedEngine pinned(88200, 120.0f, 44100);
    pinned.engine->SetTempo(60.0f);
    SliceInfo edit = HostSlice(44100, true);
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
