// Host-side checks of the engine's surface: creation, defaults, conversions and argument checks.
#include "tests/engine/HostEngine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace HostEngine;
using VoKelvora::EnvelopeSettings;
using VoKelvora::MeterLayout;

namespace
{

const float NaN = std::numeric_limits<float>::quiet_NaN();
const float Inf = std::numeric_limits<float>::infinity();

} // namespace

TEST(EngineApi, CreateDestroyAndVersion)
{
    EXPECT_EQ(VoKelvora::GetKelvoraVersion(), 1001u);
    KelvoraEngine::Create(nullptr, 2, 44100, 0); // must simply return
    KelvoraEngine::Destroy(nullptr);
    for (auto [channels, rate] : {std::pair{0u, 44100u}, std::pair{2u, 0u}})
    {
        KelvoraEngine* engine = reinterpret_cast<KelvoraEngine*>(0x1);
        KelvoraEngine::Create(&engine, channels, rate, 48000);
        EXPECT_EQ(engine, nullptr) << channels << " " << rate;
    }
    EnginePtr engine = Make(1, 44100, 0);
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->GetSampleRate(), 44100.0);
    EXPECT_EQ(engine->GetOutputSampleRate(), 44100.0); // 0 means: the source rate
    engine = Make(3, 4294967295u, 96000);
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->GetSampleRate(), 4294967295.0);
    EXPECT_EQ(engine->GetOutputSampleRate(), 96000.0);
}

TEST(EngineApi, DefaultsBeforeAnyLoop)
{
    EnginePtr engine = Make(2, 44100, 0);
    EXPECT_EQ(Meter(*engine), (std::vector<uint32_t>{2, 0, 4, 4}));
    EXPECT_EQ(engine->GetTicksPerBeat(), 96u);
    EXPECT_EQ(engine->GetDetectionWindow(), 75.0f);
    EXPECT_EQ(engine->GetSliceCount(), 0u);
    EXPECT_EQ(engine->GetLoopTempo(), 0.0f);
    EXPECT_EQ(engine->GetTempo(), 0.0f);
    EXPECT_EQ(engine->GetSensitivity(), 0.0f);
    EXPECT_EQ(engine->GetTailLoopPosition(), 0.0f);
    EXPECT_TRUE(engine->GetTailFromSoundEnd());
    EXPECT_EQ(engine->GetRenderedLength(), 0u);
    EXPECT_EQ(engine->TicksToSamples(96.0f, 120.0f), 0u); // empty loop
    EXPECT_EQ(engine->OutputToSourcePosition(100, 0.0f), 0u);
    EXPECT_EQ(Region(*engine, 10), std::make_pair(0u, 0u));
    EnvelopeSettings envelope{1, 2, 3, 4};
    engine->GetEnvelope(&envelope);
    EXPECT_EQ(envelope.attackMs, 0.0f);
    EXPECT_EQ(envelope.sustainDb, -400.0f); // sustain level 0 reads as silence

    // Nothing to play: Transport still succeeds, Render leaves the host's buffers alone.
    PlanarAudio out(2, 64);
    for (auto& channel : out.samples)
        channel.assign(64, 0.25f);
    EXPECT_TRUE(engine->Transport(0, 0));
    engine->Render(64, out.Channels());
    for (const auto& channel : out.samples)
        EXPECT_EQ(channel, std::vector<float>(64, 0.25f));
    EXPECT_EQ(engine->GetPlayPosition(), 0u);
}

TEST(EngineApi, EnvelopeLevelConversions)
{
    EnginePtr engine = Make(1, 44100, 0);
    // Anything at or below -80 dB is silence, stored as level 0 and read back as -400 dB.
    const struct
    {
        float in, out, tolerance;
    } cases[] = {{0.0f, 0.0f, 1e-5f},     {-6.0f, -6.0f, 1e-3f},    {-79.9f, -79.9f, 1e-2f},
                 {-80.0f, -400.0f, 0.0f}, {-120.0f, -400.0f, 0.0f}, {-Inf, -400.0f, 0.0f},
                 {NaN, -400.0f, 0.0f}};
    for (const auto& c : cases)
    {
        const EnvelopeSettings in{5.0f, 10.0f, 20.0f, c.in};
        engine->SetEnvelope(&in);
        EnvelopeSettings out{};
        engine->GetEnvelope(&out);
        EXPECT_EQ(out.attackMs, 5.0f);
        EXPECT_EQ(out.holdMs, 10.0f);
        EXPECT_EQ(out.decayMs, 20.0f);
        EXPECT_NEAR(out.sustainDb, c.out, c.tolerance) << c.in;
    }
    engine->SetEnvelope(nullptr);
    engine->GetEnvelope(nullptr);
}

TEST(EngineApi, SampleRateChangesKeepTheOutputRate)
{
    // Created with output rate 0: the output follows the source rate until the source rate
    // changes, then stays at the old source rate.
    EnginePtr engine = Make(2, 44100, 0);
    PlanarAudio loop(2, 48000);
    const SliceInfo slices[] = {HostSlice(0)};
    engine->SetSampleRate(48000);
    EXPECT_EQ(engine->GetSampleRate(), 48000.0);
    EXPECT_EQ(engine->GetOutputSampleRate(), 44100.0);
    engine->SetLoop(48000, 2, loop.Channels(), 120.0f, slices, 1);
    // 48000 source frames at 120 BPM rendered at 44.1 kHz: one pass lasts 1 s = 44100 frames.
    EXPECT_EQ(engine->GetRenderedLength(), 44100u);
    engine->SetSampleRate(48000); // the same rate again changes nothing
    EXPECT_EQ(engine->GetRenderedLength(), 44100u);
    // An explicit output rate of 0 goes back to rendering at the source rate.
    engine->SetOutputSampleRate(0);
    EXPECT_EQ(engine->GetRenderedLength(), 48000u);
    EXPECT_EQ(engine->GetOutputSampleRate(), 44100.0);
}

TEST(EngineApi, SettersSurviveHostileValues)
{
    EnginePtr engine = Make(2, 44100, 0);
    PlanarAudio loop(2, 22050), out(2, 512);
    const SliceInfo slices[] = {HostSlice(0), HostSlice(5000), HostSlice(15000)};
    engine->SetLoop(22050, 2, loop.Channels(), 120.0f, slices, 3);
    const auto play = [&]
    {
        engine->Transport(0, 0);
        engine->Render(512, out.Channels());
        engine->Transport(2, 1);
        engine->Render(512, out.Channels());
    };
    for (float value : {NaN, Inf, -Inf, -1.0f, 0.0f, 1e30f, -1e30f, 1e-30f})
    {
        for (auto set : {&KelvoraEngine::SetSensitivity, &KelvoraEngine::SetTempo,
                         &KelvoraEngine::SetLoopTempo, &KelvoraEngine::SetTranspose,
                         &KelvoraEngine::SetFineTune, &KelvoraEngine::SetTailExtension,
                         &KelvoraEngine::SetTailLoopPosition, &KelvoraEngine::SetGain})
            (engine.get()->*set)(value);
        const EnvelopeSettings envelope{value, value, value, value};
        engine->SetEnvelope(&envelope);
        engine->TicksToSamples(value, value);
        engine->OutputToSourcePosition(1000, value);
        play();
    }
    engine->SetTicksPerBeat(0);
    engine->SetOutputSampleRate(0xFFFFFFFFu);
    const MeterLayout zero{0, 0, 0, 0};
    engine->SetMeter(&zero);
    play();
    EXPECT_EQ(engine->GetSliceCount(), 3u);

    // A new detection window analyses the (silent) loop afresh: the host's points are replaced
    // by what the detector finds, which in silence is nothing.
    for (float value : {NaN, Inf, -Inf, -1.0f, 0.0f, 1e30f, 20.0f})
    {
        engine->SetDetectionWindow(value);
        play();
    }
    EXPECT_EQ(engine->GetSliceCount(), 0u);
    EXPECT_EQ(engine->GetDetectionWindow(), 20.0f);
}
