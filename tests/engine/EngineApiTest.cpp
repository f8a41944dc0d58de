// Host-side checks of the engine's surface: creation, defaults, conversions and argument checks.
#include "engine/KelvoraEngine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using VoKelvora::EnvelopeSettings;
using VoKelvora::KelvoraEngine;
using VoKelvora::MeterLayout;
using VoKelvora::SliceInfo;

namespace
{

struct EngineDeleter
{
    void operator()(KelvoraEngine* engine) const { KelvoraEngine::Destroy(engine); }
};
using EnginePtr = std::unique_ptr<KelvoraEngine, EngineDeleter>;

EnginePtr MakeEngine(uint32_t channels, uint32_t rate, uint32_t outputRate)
{
    KelvoraEngine* engine = nullptr;
    KelvoraEngine::Create(&engine, channels, rate, outputRate);
    return EnginePtr(engine);
}

SliceInfo HostSlice(uint32_t position)
{
    SliceInfo info{};
    info.sourcePosition = position;
    info.position = position;
    info.tickPosition = -1.0f;
    info.strength = 1.0f;
    return info;
}

// A stereo loop of `frames` frames held by the test, as a host would hold it.
struct HostLoop
{
    explicit HostLoop(uint32_t frames, uint32_t channelCount = 2)
        : samples(channelCount, std::vector<float>(frames, 0.0f))
    {
        for (auto& channel : samples)
            pointers.push_back(channel.data());
    }
    std::vector<std::vector<float>> samples;
    std::vector<float*> pointers;
};

} // namespace

TEST(EngineApi, VersionIs1001)
{
    EXPECT_EQ(VoKelvora::GetKelvoraVersion(), 1001u);
}

TEST(EngineApi, CreateChecksItsArguments)
{
    KelvoraEngine::Create(nullptr, 2, 44100, 0); // must simply return

    KelvoraEngine* engine = reinterpret_cast<KelvoraEngine*>(0x1);
    KelvoraEngine::Create(&engine, 0, 44100, 0);
    EXPECT_EQ(engine, nullptr);

    engine = reinterpret_cast<KelvoraEngine*>(0x1);
    KelvoraEngine::Create(&engine, 2, 0, 48000);
    EXPECT_EQ(engine, nullptr);

    KelvoraEngine::Create(&engine, 1, 44100, 0);
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->GetSampleRate(), 44100.0);
    EXPECT_EQ(engine->GetOutputSampleRate(), 44100.0); // 0 means: the source rate
    KelvoraEngine::Destroy(engine);

    KelvoraEngine::Create(&engine, 3, 4294967295u, 96000);
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->GetSampleRate(), 4294967295.0);
    EXPECT_EQ(engine->GetOutputSampleRate(), 96000.0);
    KelvoraEngine::Destroy(engine);

    KelvoraEngine::Destroy(nullptr);
}

TEST(EngineApi, DefaultsBeforeAnyLoop)
{
    EnginePtr engine = MakeEngine(2, 44100, 0);
    MeterLayout meter{};
    engine->GetMeter(&meter);
    EXPECT_EQ(meter.bars, 2u);
    EXPECT_EQ(meter.extraBeats, 0u);
    EXPECT_EQ(meter.beatsPerBar, 4u);
    EXPECT_EQ(meter.beatUnit, 4u);
    EXPECT_EQ(engine->GetTicksPerBeat(), 96u);
    EXPECT_EQ(engine->GetDetectionWindow(), 75.0f);
    EXPECT_EQ(engine->GetSliceCount(), 0u);
    EXPECT_EQ(engine->GetLoopTempo(), 0.0f);
    EXPECT_EQ(engine->GetTempo(), 0.0f);
    EXPECT_EQ(engine->GetSensitivity(), 0.0f);
    EXPECT_EQ(engine->GetFineTune(), 0.0f);
    EXPECT_EQ(engine->GetTranspose(), 0.0f);
    EXPECT_EQ(engine->GetTailExtension(), 0.0f);
    EXPECT_TRUE(engine->GetTailFromSoundEnd());
    EXPECT_EQ(engine->GetTailLoopPosition(), 0.0f);
    EXPECT_EQ(engine->GetGain(), 0.0f);
    EXPECT_EQ(engine->GetPlayPosition(), 0u);
    EXPECT_EQ(engine->GetRenderedLength(), 0u);
    EXPECT_EQ(engine->TicksToSamples(96.0f, 120.0f), 0u); // empty loop
    EXPECT_EQ(engine->OutputToSourcePosition(100, 0.0f), 0u);

    EnvelopeSettings envelope{1, 2, 3, 4};
    engine->GetEnvelope(&envelope);
    EXPECT_EQ(envelope.attackMs, 0.0f);
    EXPECT_EQ(envelope.holdMs, 0.0f);
    EXPECT_EQ(envelope.decayMs, 0.0f);
    EXPECT_EQ(envelope.sustainDb, -400.0f); // sustain level 0 reads as silence

    uint32_t start = 7, length = 7;
    engine->GetSliceRegion(10, &start, &length);
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(length, 0u);
}

TEST(EngineApi, RenderBeforeAnyLoopWritesNothing)
{
    EnginePtr engine = MakeEngine(2, 44100, 0);
    std::vector<float> left(64, 0.25f), right(64, 0.5f);
    float* outputs[] = {left.data(), right.data()};
    EXPECT_TRUE(engine->Transport(0, 0)); // nothing to play, still true
    engine->Render(64, outputs);
    for (float sample : left)
        EXPECT_EQ(sample, 0.25f);
    for (float sample : right)
        EXPECT_EQ(sample, 0.5f);
    EXPECT_EQ(engine->GetPlayPosition(), 0u);
}

TEST(EngineApi, EnvelopeLevelConversions)
{
    EnginePtr engine = MakeEngine(1, 44100, 0);
    EnvelopeSettings in{5.0f, 10.0f, 20.0f, 0.0f};
    engine->SetEnvelope(&in);
    EnvelopeSettings out{};
    engine->GetEnvelope(&out);
    EXPECT_EQ(out.attackMs, 5.0f);
    EXPECT_EQ(out.holdMs, 10.0f);
    EXPECT_EQ(out.decayMs, 20.0f);
    EXPECT_NEAR(out.sustainDb, 0.0f, 1e-5f);

    // -6 dB is a level of 10^(-6/20) = 0.501187; it reads back as -6 dB.
    in.sustainDb = -6.0f;
    engine->SetEnvelope(&in);
    engine->GetEnvelope(&out);
    EXPECT_NEAR(out.sustainDb, -6.0f, 1e-3f);

    // Just above the silence threshold a level remains; at and below it the level is 0.
    in.sustainDb = -79.9f;
    engine->SetEnvelope(&in);
    engine->GetEnvelope(&out);
    EXPECT_NEAR(out.sustainDb, -79.9f, 1e-2f);
    for (float silent : {-80.0f, -120.0f, -std::numeric_limits<float>::infinity(),
                         std::numeric_limits<float>::quiet_NaN()})
    {
        in.sustainDb = silent;
        engine->SetEnvelope(&in);
        engine->GetEnvelope(&out);
        EXPECT_EQ(out.sustainDb, -400.0f) << silent;
    }
    engine->SetEnvelope(nullptr);
    engine->GetEnvelope(nullptr);
}

TEST(EngineApi, LoopTempoFollowsMeterUnlessFixed)
{
    EnginePtr engine = MakeEngine(2, 44100, 0);
    HostLoop loop(88200); // two seconds: 8 beats of 2 bars in 4/4 give 240 BPM
    SliceInfo slices[] = {HostSlice(0), HostSlice(44100)};
    engine->SetLoop(88200, 2, loop.pointers.data(), 0.0f, slices, 2);
    EXPECT_FLOAT_EQ(engine->GetLoopTempo(), 240.0f);
    EXPECT_FLOAT_EQ(engine->GetTempo(), 240.0f);

    engine->SetLoopTempo(100.0f);
    EXPECT_FLOAT_EQ(engine->GetLoopTempo(), 100.0f);
    for (float removal : {0.0f, -5.0f, std::numeric_limits<float>::quiet_NaN()})
    {
        engine->SetLoopTempo(100.0f);
        engine->SetLoopTempo(removal);
        EXPECT_FLOAT_EQ(engine->GetLoopTempo(), 240.0f) << removal;
        EXPECT_FLOAT_EQ(engine->GetTempo(), 240.0f) << removal;
    }

    // A 3/4 meter of 2 bars and 1 extra beat is 7 beats over 2 s: 210 BPM.
    MeterLayout meter{2, 1, 3, 4};
    engine->SetMeter(&meter);
    EXPECT_FLOAT_EQ(engine->GetLoopTempo(), 210.0f);
    MeterLayout back{};
    engine->GetMeter(&back);
    EXPECT_EQ(back.bars, 2u);
    EXPECT_EQ(back.extraBeats, 1u);
    EXPECT_EQ(back.beatsPerBar, 3u);
    EXPECT_EQ(back.beatUnit, 4u);
}

TEST(EngineApi, SampleRateChangesKeepTheOutputRate)
{
    // Created with output rate 0: the output follows the source rate until the source rate
    // changes, then stays at the old source rate.
    EnginePtr engine = MakeEngine(2, 44100, 0);
    HostLoop loop(48000);
    SliceInfo slices[] = {HostSlice(0)};
    engine->SetSampleRate(48000);
    EXPECT_EQ(engine->GetSampleRate(), 48000.0);
    EXPECT_EQ(engine->GetOutputSampleRate(), 44100.0);
    engine->SetLoop(48000, 2, loop.pointers.data(), 120.0f, slices, 1);
    // 48000 source frames at 120 BPM rendered at 44.1 kHz: one pass lasts 1 s = 44100 frames.
    EXPECT_EQ(engine->GetRenderedLength(), 44100u);

    // The same rate again changes nothing.
    engine->SetSampleRate(48000);
    EXPECT_EQ(engine->GetRenderedLength(), 44100u);

    // An explicit output rate of 0 goes back to rendering at the source rate.
    engine->SetOutputSampleRate(0);
    EXPECT_EQ(engine->GetRenderedLength(), 48000u);
    EXPECT_EQ(engine->GetOutputSampleRate(), 44100.0);
}

TEST(EngineApi, TransportResults)
{
    EnginePtr engine = MakeEngine(2, 44100, 0);
    HostLoop loop(44100);
    SliceInfo slices[] = {HostSlice(0), HostSlice(22050)};
    engine->SetLoop(44100, 2, loop.pointers.data(), 120.0f, slices, 2);
    EXPECT_FALSE(engine->Transport(3, 0));
    EXPECT_FALSE(engine->Transport(0xFFFFFFFFu, 0));
    EXPECT_FALSE(engine->Transport(2, 2)); // index equal to the count
    EXPECT_TRUE(engine->Transport(2, 1));
    EXPECT_TRUE(engine->Transport(0, 0));
    EXPECT_TRUE(engine->Transport(1, 0));
    EXPECT_EQ(engine->GetPlayPosition(), 0u);
}

TEST(EngineApi, IndexChecksOfSliceOperations)
{
    EnginePtr engine = MakeEngine(2, 44100, 0);
    HostLoop loop(44100);
    SliceInfo slices[] = {HostSlice(0), HostSlice(11025), HostSlice(22050)};
    engine->SetLoop(44100, 2, loop.pointers.data(), 120.0f, slices, 3);
    ASSERT_EQ(engine->GetSliceCount(), 3u);

    SliceInfo untouched = HostSlice(999);
    engine->GetSlice(3, &untouched);
    EXPECT_EQ(untouched.position, 999u);
    engine->GetSlice(2, &untouched);
    EXPECT_EQ(untouched.position, 22050u);
    EXPECT_FALSE(untouched.detected);

    SliceInfo edit = HostSlice(5000);
    EXPECT_FALSE(engine->SetSlice(3, &edit));
    EXPECT_FALSE(engine->SetSlice(0xFFFFFFFFu, &edit));
    EXPECT_FALSE(engine->SetSlice(0, nullptr));
    EXPECT_FALSE(engine->DisableSlice(3));
    EXPECT_EQ(engine->GetSliceCount(), 3u);

    EXPECT_TRUE(engine->SetSlice(1, &edit));
    SliceInfo edited{};
    engine->GetSlice(1, &edited);
    EXPECT_EQ(edited.position, 5000u);
    EXPECT_EQ(edited.sourcePosition, 11025u); // never edited

    EXPECT_TRUE(engine->DisableSlice(2));
    EXPECT_EQ(engine->GetSliceCount(), 3u);

    std::vector<SliceInfo> all(3);
    engine->GetSlices(all.data());
    EXPECT_EQ(all[0].position, 0u);
    EXPECT_EQ(all[1].position, 5000u);
    EXPECT_EQ(all[2].position, 22050u);
    engine->GetSlices(nullptr);
}

TEST(EngineApi, SettersSurviveHostileValues)
{
    EnginePtr engine = MakeEngine(2, 44100, 0);
    HostLoop loop(22050);
    SliceInfo slices[] = {HostSlice(0), HostSlice(5000), HostSlice(15000)};
    engine->SetLoop(22050, 2, loop.pointers.data(), 120.0f, slices, 3);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> left(512), right(512);
    float* outputs[] = {left.data(), right.data()};
    for (float value : {nan, inf, -inf, -1.0f, 0.0f, 1e30f, -1e30f, 1e-30f})
    {
        engine->SetSensitivity(value);
        engine->SetTempo(value);
        engine->SetLoopTempo(value);
        engine->SetTranspose(value);
        engine->SetFineTune(value);
        engine->SetTailExtension(value);
        engine->SetTailLoopPosition(value);
        engine->SetGain(value);
        EnvelopeSettings envelope{value, value, value, value};
        engine->SetEnvelope(&envelope);
        engine->TicksToSamples(value, value);
        engine->OutputToSourcePosition(1000, value);
        engine->Transport(0, 0);
        engine->Render(512, outputs);
        engine->Transport(2, 1);
        engine->Render(512, outputs);
    }
    engine->SetTicksPerBeat(0);
    engine->SetOutputSampleRate(0xFFFFFFFFu);
    MeterLayout zero{0, 0, 0, 0};
    engine->SetMeter(&zero);
    engine->Transport(0, 0);
    engine->Render(512, outputs);
    EXPECT_EQ(engine->GetSliceCount(), 3u);

    // A new detection window analyses the (silent) loop afresh: the host's points are replaced
    // by what the detector finds, which in silence is nothing.
    for (float value : {nan, inf, -inf, -1.0f, 0.0f, 1e30f, 20.0f})
    {
        engine->SetDetectionWindow(value);
        engine->Transport(0, 0);
        engine->Render(512, outputs);
    }
    EXPECT_EQ(engine->GetSliceCount(), 0u);
    EXPECT_EQ(engine->GetDetectionWindow(), 20.0f);
}
