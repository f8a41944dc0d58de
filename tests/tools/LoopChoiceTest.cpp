// How the tool takes a loop: its tempo and bars found (or given), the cuts the user chooses, and
// renders that stay continuous.
#include "ToolTest.h"

#include "tools/kelvora/AudioFormat.h"
#include "tools/kelvora/DrumLoopSynth.h"

#include <cmath>
#include <fstream>
#include <gmock/gmock.h>

namespace
{

using testing::HasSubstr;

// Eighth notes of one bar of 4/4 at 120 BPM over two seconds.
const std::vector<uint32_t> Eighths{0, 11025, 22050, 33075, 44100, 55125, 66150, 77175};

TEST(LoopChoiceTest, EachLoopPlaysAtItsOwnTempoFromOptionsFileNameOrOnsets)
{
    // A loop of the drum synth at bpm, bars long, analysed with the options, and the tempo, bar
    // count and summary the tool should take it to have. Bar counts, swing, pickups and other
    // meters read from the onsets are the estimator's own cases; here the tool takes each source of
    // the tempo in its order.
    using Case = std::tuple<std::string, double, uint32_t, std::vector<std::string>, double,
                            uint32_t, std::string>;
    // clang-format off
    const std::vector<Case> cases{
        {"one-bar.wav", 120, 1, {}, 120, 1, "tempo 120.0 BPM: 1 bar of 4/4, from the onsets"},
        {"Funk Loop 87 BPM.wav", 87, 1, {}, 87, 1, "tempo 87.0 BPM: 1 bar of 4/4, from the file name"},
        // The options win over the file name and the onsets.
        {"break_90bpm.wav", 90, 2, {"--bars", "4"}, 180, 4, "tempo 180.0 BPM: 4 bars of 4/4, from --bars"},
        {"ride.wav", 120, 1, {"--loop-tempo", "240"}, 240, 2, "tempo 240.0 BPM: 2 bars of 4/4, from --loop-tempo"},
    };
    // clang-format on
    TempFolder folder;
    for (const auto& [name, bpm, bars, options, tempo, expectedBars, summary] : cases)
    {
        SCOPED_TRACE(name);
        const std::filesystem::path loop = folder / name;
        KelvoraCli::DrumLoopSynth(44100, bpm, bars, {})
            .Render()
            .Write(loop, KelvoraCli::AudioFormat::ForPath(loop, 0));
        std::vector<std::string> args{loop.string()};
        args.insert(args.end(), options.begin(), options.end());
        const nlohmann::json report = Analysed(args);
        EXPECT_NEAR(report["loopTempo"].get<double>(), tempo, tempo * 1e-4);
        EXPECT_EQ(report["meter"]["bars"], expectedBars);
        EXPECT_EQ(report["meterChoice"]["summary"], summary);
        EXPECT_GT(report["meterChoice"]["confidence"].get<double>(), 0.0);
    }

    // Two lone clicks a second apart say nothing of bars: the tool warns instead of guessing
    // silently.
    const std::string sparse = (folder / "sparse.wav").string();
    TestAudio::Clicks(44100, 88200, 1, {0, 44100}).Write(sparse);
    const ProcessResult warned = Kelvora({"analyse", sparse});
    EXPECT_THAT(warned.err,
                HasSubstr("warning: " + sparse + ": the onsets say little about the loop's tempo"));
}

// Cuts the user chooses replace the analysis: a saved analysis (with the sliver the tool switched
// off before the first hit) re-renders bit for bit, a CSV cuts exactly there, a grid cuts on the
// meter's grid, and snapping moves each cut onto a zero crossing nearby.
TEST(LoopChoiceTest, UserCutsComeFromASavedAnalysisACsvAGridOrZeroCrossings)
{
    TempFolder folder;
    const std::string loop = (folder / "groove.wav").string();
    const std::string saved = (folder / "saved.json").string();
    // The first hit 40 frames in: the analysis cuts just before it, and the tool switches that
    // cut off rather than leave a sliver of a slice.
    std::vector<uint32_t> hits = Eighths;
    hits[0] = 40;
    const TestAudio audio = TestAudio::Clicks(44100, 88200, 2, hits);
    audio.Write(loop);
    const ProcessResult analysis = Kelvora({"analyse", "--json", loop});
    std::ofstream(saved) << analysis.out;
    const nlohmann::json original = nlohmann::json::parse(analysis.out).at(0);
    std::vector<uint32_t> disabled;
    for (const auto& slice : original["slices"])
        if (slice["disabled"].get<bool>())
            disabled.push_back(slice["position"].get<uint32_t>());
    ASSERT_EQ(disabled.size(), 1u);
    EXPECT_LT(disabled[0], 220u); // 5 ms
    EXPECT_GT(disabled[0], 0u);

    const auto starts = [](const nlohmann::json& report)
    {
        std::vector<uint32_t> positions;
        for (const auto& region : report["regions"])
            positions.push_back(region["start"].get<uint32_t>());
        return positions;
    };
    const nlohmann::json reloaded = Analysed({loop, "--slices", saved});
    for (const char* key : {"slices", "regions", "meter"})
        EXPECT_EQ(reloaded[key], original[key]) << key;
    std::ofstream(folder / "cuts.csv") << "frame\n0\n1000\n30000, 60000\n";
    EXPECT_EQ(starts(Analysed({loop, "--slices", (folder / "cuts.csv").string()})),
              (std::vector<uint32_t>{0, 1000, 30000, 60000}));
    EXPECT_EQ(starts(Analysed({loop, "--grid", "1/8"})), Eighths);

    // The saved analysis renders the same bytes as the analysis itself.
    std::vector<std::string> render{"render", loop, "-o", (folder / "plain.wav").string(),
                                    "-t",     "97"};
    // Its first line says what the loop was taken to be, as the analysis's summary does.
    EXPECT_THAT(Kelvora(render).out,
                testing::StartsWith(loop + ": tempo 120.0 BPM: 1 bar of 4/4, from the onsets\n"));
    render[3] = (folder / "restored.wav").string();
    render.insert(render.end(), {"--slices", saved});
    Kelvora(render);
    EXPECT_EQ(folder.Text("plain.wav"), folder.Text("restored.wav"));
    EXPECT_GT(folder.Text("plain.wav").size(), 100000u);

    // Snapped cuts sit where the mono sum changes sign, at most 2 ms (88 frames) from the
    // analysis's cut.
    const nlohmann::json snapped = Analysed({loop, "--snap", "zero-crossing"});
    ASSERT_EQ(snapped["regions"].size(), original["regions"].size());
    for (size_t i = 1; i < snapped["regions"].size(); ++i)
    {
        const auto at = snapped["regions"][i]["start"].get<size_t>();
        const auto was = original["regions"][i]["start"].get<size_t>();
        EXPECT_LE(std::max(at, was) - std::min(at, was), 88u) << i;
        const float before = audio.Mono(at - 1), after = audio.Mono(at);
        EXPECT_TRUE(after == 0.0f || (before < 0.0f) != (after < 0.0f)) << i;
    }
}

// A loop over a sustained pad played 25 % slower: by default no 10 ms window of the render falls
// silent, as in the source; without tail extension a quarter of them do.
TEST(LoopChoiceTest, RendersStayContinuousOverASustainedBedByDefault)
{
    TempFolder folder;
    TestAudio pad = TestAudio::Clicks(44100, 88200, 2, Eighths);
    for (size_t i = 0; i < pad.samples.size(); ++i)
        pad.samples[i] += 0.1f * static_cast<float>(std::sin(2.0 * 3.14159265358979 * 220.0 *
                                                             static_cast<double>(i / 2) / 44100.0));
    pad.Write(folder / "pad.wav");
    EXPECT_EQ(pad.GapPercent(), 0.0);
    std::vector<std::string> args{"render", (folder / "pad.wav").string(),
                                  "-o",     (folder / "out.wav").string(),
                                  "-t",     "90",
                                  "--bars", "1"};
    for (const auto& [low, high] : {std::pair{0.0, 0.0}, {15.0, 35.0}})
    {
        SCOPED_TRACE(args.back());
        Kelvora(args);
        const double gaps = TestAudio::Read(folder / "out.wav").GapPercent();
        EXPECT_GE(gaps, low);
        EXPECT_LE(gaps, high);
        args.insert(args.end(), {"--tail-extension", "0"});
    }
}

} // namespace
