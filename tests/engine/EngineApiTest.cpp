// Host-side checks of the engine's surface: creation, the output-rate pin, added and disabled
// points. Defaults, hostile arguments, read-back (of edited points too) and the import are the
// host simulation's.
#include "tests/engine/HostEngine.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

using namespace HostEngine;

TEST(EngineApi, Creation)
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
    EXPECT_EQ(engine->GetRenderedLength(), 0u);
}

// An engine created at 44.1 kHz, rendering at the source rate, gets a one-second 48 kHz loop at
// 120 BPM. SetSampleRate pins the output at the old source rate, over an output rate the host set
// before it too: only setting the source rate first renders at 48 kHz.
TEST(EngineApi, SampleRateChangeRepinsTheOutputRate)
{
    PlanarAudio loop(2, 48000);
    const SliceInfo slices[] = {HostSlice(0)};
    for (const auto [outputBefore, outputAfter, rendered] :
         {std::array{0u, 0u, 44100u}, {48000u, 0u, 44100u}, {0u, 48000u, 48000u}})
    {
        EnginePtr engine = Make(2, 44100, 0);
        if (outputBefore != 0)
            engine->SetOutputSampleRate(outputBefore);
        engine->SetSampleRate(48000);
        engine->SetSampleRate(48000); // the same rate again changes nothing
        if (outputAfter != 0)
            engine->SetOutputSampleRate(outputAfter);
        engine->SetLoop(48000, 2, loop.Channels(), 120.0f, slices, 1);
        EXPECT_EQ(engine->GetRenderedLength(), rendered) << outputBefore << " " << outputAfter;
        EXPECT_EQ(engine->GetOutputSampleRate(), 44100.0);
        engine->SetOutputSampleRate(0); // back to rendering at the source rate
        EXPECT_EQ(engine->GetRenderedLength(), 48000u);
    }
}

TEST(EngineApi, AddedAndDisabledPointsCut)
{
    // Two silent seconds at 44.1 kHz with host points at 0 and 44100 (locked on).
    PlanarAudio audio(1, 88200);
    EnginePtr engine = Make(1, 44100, 0);
    const SliceInfo given[] = {HostSlice(0), HostSlice(44100, true)};
    engine->SetLoop(88200, 1, audio.Channels(), 120.0f, given, 2);
    EXPECT_TRUE(engine->AddSlice(88200)); // the region end itself is accepted
    EXPECT_TRUE(engine->AddSlice(30000));
    const std::vector<SliceInfo> slices = Slices(*engine);
    ASSERT_EQ(slices.size(), 4u);
    EXPECT_EQ(slices[1].position, 30000u);
    EXPECT_EQ(slices[3].position, 88200u);
    EXPECT_EQ(Region(*engine, 35000), std::make_pair(30000u, 14100u)); // an added point cuts

    EXPECT_TRUE(engine->DisableSlice(1));
    EXPECT_TRUE(engine->DisableSlice(2)); // locked on: keeps cutting
    EXPECT_EQ(Region(*engine, 35000), std::make_pair(0u, 44100u));
    EXPECT_EQ(Region(*engine, 50000), std::make_pair(44100u, 44100u)); // up to the source's end
}
