// Host-side checks of the engine's surface: creation, defaults, conversions, the loop model's
// import and point edits, and argument checks.
#include "tests/engine/HostEngine.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using namespace HostEngine;
using VoKelvora::EnvelopeSettings;

namespace
{

const float NaN = std::numeric_limits<float>::quiet_NaN();
const float Inf = std::numeric_limits<float>::infinity();

// A mono 44.1 kHz engine holding two silent seconds, host slices at 0 and 44100 (locked on).
struct Loaded
{
    explicit Loaded(float tempo) : audio(1, 88200), engine(Make(1, 44100, 0)) { Load(tempo); }
    void Load(float tempo)
    {
        const SliceInfo slices[] = {HostSlice(0), HostSlice(44100, true)};
        engine->SetLoop(88200, 1, audio.Channels(), tempo, slices, 2);
    }
    PlanarAudio audio;
    EnginePtr engine;
};

} // namespace

TEST(EngineApi, CreationAndDefaults)
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
    EnginePtr engine = Make(2, 4294967295u, 0);
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->GetOutputSampleRate(), 4294967295.0); // 0 means: the source rate
    VoKelvora::MeterLayout meter{};
    engine->GetMeter(&meter);
    EXPECT_EQ(
        std::vector<uint32_t>({meter.bars, meter.extraBeats, meter.beatsPerBar, meter.beatUnit}),
        (std::vector<uint32_t>{2, 0, 4, 4}));
    EXPECT_EQ(engine->GetTicksPerBeat(), 96u);
    EXPECT_EQ(engine->GetDetectionWindow(), 75.0f);
    EXPECT_EQ(engine->GetSliceCount() + engine->GetRenderedLength(), 0u);
    EXPECT_EQ(engine->GetLoopTempo(), 0.0f);
    EXPECT_EQ(engine->GetTempo(), 0.0f);

    PlanarAudio out(2, 64);
    out.samples[1].assign(64, 0.25f);
    EXPECT_TRUE(engine->Transport(0, 0)); // nothing to play, still a success
    engine->Render(64, out.Channels());
    EXPECT_EQ(out.samples[1], std::vector<float>(64, 0.25f)); // the host's buffer is left alone
    EXPECT_EQ(engine->GetPlayPosition(), 0u);
}

TEST(EngineApi, EnvelopeLevelConversions)
{
    EnginePtr engine = Make(1, 44100, 0);
    const struct
    {
        float in, out, tolerance;
    } cases[] = {{0.0f, 0.0f, 1e-5f},      {-79.9f, -79.9f, 1e-2f}, {-80.0f, -400.0f, 0.0f},
                 {-120.0f, -400.0f, 0.0f}, {-Inf, -400.0f, 0.0f},   {NaN, -400.0f, 0.0f}};
    for (const auto& c : cases)
    {
        const EnvelopeSettings in{5.0f, 10.0f, 20.0f, c.in};
        engine->SetEnvelope(&in);
        EnvelopeSettings out{};
        engine->GetEnvelope(&out);
        EXPECT_EQ(out.holdMs, 10.0f);
        EXPECT_NEAR(out.sustainDb, c.out, c.tolerance) << c.in;
    }
    engine->SetEnvelope(nullptr);
    engine->GetEnvelope(nullptr);
}

// An engine created at 44.1 kHz, rendering at the source rate, gets a one-second 48 kHz loop at
// 120 BPM. SetSampleRate pins the output at the old source rate, over an output rate the host set
// before it too: only setting the source rate first renders at 48 kHz.
TEST(EngineApi, SampleRateChangeRepinsTheOutputRate)
{
    const struct
    {
        uint32_t outputBefore, outputAfter, rendered;
    } cases[] = {{0, 0, 44100}, {48000, 0, 44100}, {0, 48000, 48000}};
    PlanarAudio loop(2, 48000);
    const SliceInfo slices[] = {HostSlice(0)};
    for (const auto& c : cases)
    {
        EnginePtr engine = Make(2, 44100, 0);
        if (c.outputBefore != 0)
            engine->SetOutputSampleRate(c.outputBefore);
        engine->SetSampleRate(48000);
        engine->SetSampleRate(48000); // the same rate again changes nothing
        if (c.outputAfter != 0)
            engine->SetOutputSampleRate(c.outputAfter);
        engine->SetLoop(48000, 2, loop.Channels(), 120.0f, slices, 1);
        EXPECT_EQ(engine->GetRenderedLength(), c.rendered)
            << c.outputBefore << " " << c.outputAfter;
        EXPECT_EQ(engine->GetOutputSampleRate(), 44100.0);
        engine->SetOutputSampleRate(0); // back to rendering at the source rate
        EXPECT_EQ(engine->GetRenderedLength(), 48000u);
    }
}

TEST(EngineApi, ImportedSlicesTempoAndShapingReset)
{
    Loaded loaded(120.0f);
    KelvoraEngine& engine = *loaded.engine;
    const std::vector<SliceInfo> slices = Slices(engine);
    ASSERT_EQ(slices.size(), 2u);
    EXPECT_EQ(slices[1].position, 44100u);
    EXPECT_TRUE(slices[1].lockedOn);
    EXPECT_FALSE(slices[1].detected);
    EXPECT_FLOAT_EQ(engine.GetLoopTempo(), 120.0f);
    EXPECT_FLOAT_EQ(engine.GetTempo(), 120.0f);

    // A new import stops playback and brings the shaping back to its defaults.
    engine.SetGain(0.25f);
    PlanarAudio out(1, 4096);
    engine.Transport(0, 0);
    engine.Render(4096, out.Channels());
    ASSERT_NE(engine.GetPlayPosition(), 0u);
    loaded.Load(120.0f);
    EXPECT_EQ(engine.GetPlayPosition(), 0u);
    EXPECT_EQ(engine.GetGain(), 0.0f);

    // Without a tempo, two seconds of two bars of 4/4 give 240 BPM; removing a fixed loop tempo
    // goes back to that and leaves the target tempo alone.
    loaded.Load(0.0f);
    EXPECT_FLOAT_EQ(engine.GetLoopTempo(), 240.0f);
    EXPECT_FLOAT_EQ(engine.GetTempo(), 240.0f);
    for (float removal : {0.0f, -5.0f, NaN})
    {
        engine.SetLoopTempo(100.0f);
        engine.SetLoopTempo(removal);
        EXPECT_FLOAT_EQ(engine.GetLoopTempo(), 240.0f) << removal;
        EXPECT_FLOAT_EQ(engine.GetTempo(), 240.0f) << removal;
    }
}

TEST(EngineApi, PointEditsAndIndexChecks)
{
    Loaded loaded(120.0f);
    KelvoraEngine& engine = *loaded.engine;
    EXPECT_FALSE(engine.Transport(3, 0));
    EXPECT_FALSE(engine.Transport(2, 2)); // index equal to the count
    EXPECT_TRUE(engine.Transport(2, 1));
    EXPECT_TRUE(engine.Transport(1, 0));
    EXPECT_EQ(engine.GetPlayPosition(), 0u); // stopping goes back to the start

    EXPECT_FALSE(engine.AddSlice(88201));
    EXPECT_TRUE(engine.AddSlice(88200)); // the region end itself is accepted
    EXPECT_TRUE(engine.AddSlice(30000));
    const std::vector<SliceInfo> slices = Slices(engine);
    ASSERT_EQ(slices.size(), 4u);
    EXPECT_EQ(slices[1].position, 30000u);
    EXPECT_EQ(slices[3].position, 88200u);
    EXPECT_EQ(Region(engine, 35000), std::make_pair(30000u, 14100u)); // an added point cuts

    EXPECT_TRUE(engine.DisableSlice(1));
    EXPECT_TRUE(engine.DisableSlice(2)); // locked on: keeps cutting
    EXPECT_FALSE(engine.DisableSlice(4));
    EXPECT_EQ(engine.GetSliceCount(), 4u);
    EXPECT_EQ(Region(engine, 35000), std::make_pair(0u, 44100u));
    EXPECT_EQ(Region(engine, 50000), std::make_pair(44100u, 44100u)); // up to the source's end

    const SliceInfo edit = HostSlice(5000);
    EXPECT_FALSE(engine.SetSlice(4, &edit));
    EXPECT_FALSE(engine.SetSlice(0, nullptr));
    EXPECT_TRUE(engine.SetSlice(0, &edit));
    engine.GetSlices(nullptr);
    EXPECT_EQ(Slices(engine)[0].sourcePosition, 0u); // never edited
}

TEST(EngineApi, SettersSurviveHostileValues)
{
    Loaded loaded(120.0f);
    KelvoraEngine& engine = *loaded.engine;
    PlanarAudio out(1, 512);
    const auto play = [&]
    {
        engine.Transport(0, 0);
        engine.Render(512, out.Channels());
        engine.Transport(2, 1);
        engine.Render(512, out.Channels());
    };
    for (float value : {NaN, Inf, -Inf, 0.0f, 1e30f, -1e30f})
    {
        for (auto set : {&KelvoraEngine::SetSensitivity, &KelvoraEngine::SetTempo,
                         &KelvoraEngine::SetLoopTempo, &KelvoraEngine::SetTranspose,
                         &KelvoraEngine::SetFineTune, &KelvoraEngine::SetTailExtension,
                         &KelvoraEngine::SetTailLoopPosition, &KelvoraEngine::SetGain})
            (engine.*set)(value);
        const EnvelopeSettings envelope{value, value, value, value};
        engine.SetEnvelope(&envelope);
        engine.TicksToSamples(value, value);
        engine.OutputToSourcePosition(1000, value);
        play();
    }
    engine.SetTicksPerBeat(0);
    engine.SetOutputSampleRate(0xFFFFFFFFu);
    const VoKelvora::MeterLayout zero{0, 0, 0, 0};
    engine.SetMeter(&zero);
    play();
    EXPECT_EQ(engine.GetSliceCount(), 2u);
    for (float value : {NaN, Inf, -1.0f, 1e30f, 20.0f}) // each analyses the silence afresh
        engine.SetDetectionWindow(value);
    play();
    EXPECT_EQ(engine.GetSliceCount(), 0u);
    EXPECT_EQ(engine.GetDetectionWindow(), 20.0f);
}
