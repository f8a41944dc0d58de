// The loop-meter estimator on drum loops of known tempo, meter and bar count, sliced by the real
// engine at the tool's sensitivity, and the file-name tempo reader on pack-style names.
#include "engine/KelvoraEngine.h"
#include "tools/kelvora/DrumLoopSynth.h"
#include "tools/kelvora/LoopMeterEstimator.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace KelvoraCli;

namespace
{

using Groove = DrumLoopSynth::Groove;

struct LoopCase
{
    uint32_t sampleRate;
    double bpm; // beats of the meter per minute
    uint32_t bars;
    Groove groove;
};

MeterEstimate EstimateFromEngineSlices(const LoopCase& c)
{
    AudioFile audio = DrumLoopSynth(c.sampleRate, c.bpm, c.bars, c.groove).Render();
    VoKelvora::KelvoraEngine* engine = nullptr;
    VoKelvora::KelvoraEngine::Create(&engine, audio.ChannelCount(), c.sampleRate, 0);
    engine->SetLoop(audio.FrameCount(), audio.ChannelCount(), audio.ChannelPointers(), 0.0f,
                    nullptr, 0);
    engine->SetSensitivity(0.5f);
    std::vector<VoKelvora::SliceInfo> slices(engine->GetSliceCount());
    engine->GetSlices(slices.data());
    VoKelvora::KelvoraEngine::Destroy(engine);
    std::vector<Onset> onsets;
    for (const VoKelvora::SliceInfo& s : slices)
        onsets.push_back({s.position, s.strength});
    return EstimateLoopMeter(audio.FrameCount(), c.sampleRate, onsets);
}

} // namespace

TEST(LoopMeterTest, FindsTheTempoAndMeterOfEachFeel)
{
    const LoopCase cases[] = {
        {44100, 120.0, 1, {}},
        {48000, 92.0, 2, {}},
        {22050, 174.0, 4, {}},
        {44100, 96.0, 2, {.swing = 0.8}},
        {96000, 128.0, 1, {.pickup = true}},
        {48000, 110.0, 2, {.leadInSeconds = 0.04}},
        {44100, 150.0, 2, {.beatsPerBar = 3, .beatUnit = 4}},
        {44100, 240.0, 2, {.beatsPerBar = 6, .beatUnit = 8}},
    };
    for (const LoopCase& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.bpm << " BPM at " << c.sampleRate << " Hz");
        const MeterEstimate e = EstimateFromEngineSlices(c);
        EXPECT_EQ(e.best.bars, c.bars);
        EXPECT_EQ(e.best.beatsPerBar, c.groove.beatsPerBar);
        EXPECT_EQ(e.best.beatUnit, c.groove.beatUnit);
        EXPECT_NEAR(e.best.tempoBpm, c.bpm, c.bpm * 0.001);
        EXPECT_FALSE(e.weakEvidence) << e.reason;
        EXPECT_TRUE(e.reason.ends_with(", from the onsets")) << e.reason;
        ASSERT_TRUE(e.runnerUp);
        EXPECT_LE(e.runnerUp->confidence, e.best.confidence);
    }
}

TEST(LoopMeterTest, AccuracyOnAGeneratedSetStaysAboveItsFloor)
{
    // Six loops of each feel at 70..180 BPM (a dotted-quarter pulse of 50..110 in 6/8), in 1, 2
    // and 4 bars at four sample rates, chosen by a fixed stride so the set is the same on every
    // run. The estimator gets 57 of these 60 right today (two half-time loops read at half tempo,
    // one swung loop read as 6/8). Half or double the tempo in the right meter is a near miss;
    // anything else is wrong.
    const Groove feels[] = {{},
                            {.swing = 0.7},
                            {.halfTime = true},
                            {.pickup = true},
                            {.leadInSeconds = 0.03},
                            {.beatsPerBar = 3, .beatUnit = 4},
                            {.beatsPerBar = 6, .beatUnit = 8},
                            {.hatsPerBeat = 4},
                            {.hatsPerBeat = 0},
                            {.swing = 0.3, .jitterSeconds = 0.012}};
    const uint32_t rates[] = {22050, 44100, 48000, 96000}, barCounts[] = {1, 2, 4};
    uint32_t right = 0, wrong = 0, total = 0;
    for (const Groove& groove : feels)
        for (uint32_t i = 0; i < 6; ++i, ++total)
        {
            const double pulse = groove.beatUnit == 8 ? 3.0 * (50.0 + std::fmod(i * 37.3, 60.0))
                                                      : 70.0 + std::fmod(i * 37.3, 110.0);
            const double bpm = std::round(pulse * 10.0) / 10.0;
            const MeterEstimate e = EstimateFromEngineSlices(
                {rates[(i * 3 + 1) % 4], bpm, barCounts[(i * 5 + i / 3) % 3], groove});
            // A 6/8 loop read as 3/4 (or the reverse) at the same bar length is a wrong meter.
            const bool sameMeter = e.best.beatsPerBar == groove.beatsPerBar &&
                                   e.best.beatUnit == groove.beatUnit && e.best.extraBeats == 0;
            const double ratio = e.best.tempoBpm / bpm;
            const auto near = [&](double r)
            { return sameMeter && std::fabs(ratio / r - 1.0) < 0.005; };
            right += near(1.0);
            wrong += !near(1.0) && !near(0.5) && !near(2.0);
        }
    EXPECT_GE(right * 10, total * 9);
    EXPECT_LE(wrong * 30, total);
}

TEST(LoopMeterTest, DegenerateLoopsGiveWeakGuessesAtPlausibleTempos)
{
    const uint32_t rate = 48000;
    const uint64_t twoSeconds = 2 * rate;
    // What the loop is, its frames and onsets, and the tempo of the 4/4 length nearest the
    // prior's centre (0 when not even a beat fits).
    const std::tuple<const char*, uint64_t, std::vector<Onset>, double> cases[] = {
        {"no onsets", twoSeconds, {}, 120.0},
        {"one onset", twoSeconds, {{0, 1.0f}}, 120.0},
        {"silence", twoSeconds, {{0, 0.0f}, {24000, 0.0f}}, 120.0},
        {"hostile strengths", twoSeconds, {{0, NAN}, {9, INFINITY}, {99, -1.0f}}, 120.0},
        {"past the end", twoSeconds, {{200000, 1.0f}, {300000, 1.0f}, {400000, 1.0f}}, 120.0},
        {"ten minutes", 600ull * rate, {{0, 1.0f}, {24000, 1.0f}, {48000, 1.0f}}, 115.0},
        {"a quarter second", 12000, {{0, 1.0f}}, 240.0},
        {"nothing", 0, {{0, 1.0f}}, 0.0},
        {"not a beat at 300 BPM", 9599, {{0, 1.0f}}, 0.0},
    };
    for (const auto& [what, frames, onsets, tempo] : cases)
    {
        SCOPED_TRACE(what);
        const MeterEstimate e = EstimateLoopMeter(frames, rate, onsets);
        EXPECT_TRUE(e.weakEvidence);
        EXPECT_NEAR(e.best.tempoBpm, tempo, 0.5);
        EXPECT_EQ(e.best.tempoBpm == 0.0, e.best.bars + e.best.extraBeats == 0);
        EXPECT_TRUE(tempo == 0.0 || e.reason.find("a guess") != std::string::npos) << e.reason;
    }
}

TEST(LoopMeterTest, ReadsPackStyleTemposAndSkipsOtherNumbers)
{
    const std::pair<const char*, std::optional<double>> cases[] = {
        {"Funk_Drums_128bpm.wav", 128.0},     {"loops/Breakbeat 128 BPM.aiff", 128.0},
        {"drums-96-dry.wav", 96.0},           {"Loop 140bpm Am.wav", 140.0},
        {"Kit_BPM_85_Cmin.wav", 85.0},        {"Shaker 87.5bpm.flac", 87.5},
        {"07 - Groove 122.wav", 122.0},       {"Top_Loop_44100.wav", std::nullopt},
        {"Perc 48k 24bit.wav", std::nullopt}, {"Perc 96 kHz.wav", std::nullopt},
        {"Room Take 2019.wav", std::nullopt}, {"120 Groove.wav", std::nullopt},
        {"Loop A140 F#m.wav", std::nullopt},  {"Drums 44.1.wav", std::nullopt},
        {"Fill 4 bars.wav", std::nullopt},    {"Hats_90_120.wav", std::nullopt},
        {"Snare 500bpm.wav", std::nullopt},   {"120bpm/loop.wav", std::nullopt},
    };
    for (const auto& [name, tempo] : cases)
        EXPECT_EQ(TempoFromFileName(name), tempo) << name;
}

TEST(LoopMeterTest, FitsWholeBarsToAKnownTempo)
{
    // Frames, tempo and beats per bar given; bars, extra beats, exact tempo and confidence.
    const std::tuple<uint64_t, double, uint32_t, uint32_t, uint32_t, double, double> cases[] = {
        {88200, 120.0, 4, 1, 0, 120.0, 1.0},  // 2 s
        {88200, 60.0, 4, 0, 2, 60.0, 1.0},    // too short for a bar
        {352800, 121.0, 4, 4, 0, 120.0, 1.0}, // within 2 %
        {110250, 120.0, 4, 1, 1, 120.0, 1.0}, // 2.5 s: a bar and a beat
        {132300, 120.0, 3, 2, 0, 120.0, 1.0}, // 3 s of 3/4
        {88200, 100.0, 4, 0, 3, 90.0, 0.2},   // 3.33 beats: 3 fit best, 10 % off
    };
    for (const auto& [frames, tempo, beatsPerBar, bars, extraBeats, exactTempo, confidence] : cases)
    {
        SCOPED_TRACE(testing::Message() << frames << " frames at " << tempo);
        const MeterChoice m = MeterForTempo(frames, 44100, tempo, beatsPerBar);
        EXPECT_EQ(m.bars, bars);
        EXPECT_EQ(m.extraBeats, extraBeats);
        EXPECT_NEAR(m.tempoBpm, exactTempo, 1e-9);
        EXPECT_NEAR(m.confidence, confidence, 1e-9);
    }
    EXPECT_EQ(MeterForTempo(88200, 44100, NAN).tempoBpm, 0.0);
    EXPECT_EQ(MeterForTempo(88200, 0, 120.0).tempoBpm, 0.0);
    EXPECT_EQ(DescribeMeter(MeterForTempo(110250, 44100, 120.0)), "1 bar and 1 beat of 4/4");
}
