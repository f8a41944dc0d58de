// The tool end to end: folders, pipes, exports, signals, loud renders and the demo.
#include "ToolTest.h"

#include <cmath>
#include <fstream>
#include <gmock/gmock.h>
#include <sndfile.h>
#include <sys/wait.h>

namespace
{

using testing::HasSubstr;
using ToolTest = ClickLoopTest;

TEST_F(ToolTest, AnalyseTakesAFolderFindsExactlyTheHitsAndTellsOfAShortFile)
{
    // A folder stands for its audio files in name order. The second is cut after 40 000 bytes,
    // while its header still announces 88 200 frames.
    const std::filesystem::path set = folder / "set";
    std::filesystem::create_directory(set);
    source.Write(set / "a.wav");
    std::ofstream(set / "b.wav", std::ios::binary) << folder.Text("clicks.wav").substr(0, 40000);
    std::ofstream(set / "notes.txt") << "not audio";
    const ProcessResult run = Kelvora({"analyse", "--json", set.string()});
    const size_t held = TestAudio::Read(set / "b.wav").Frames();
    EXPECT_THAT(run.err, HasSubstr("holds " + std::to_string(held) +
                                   " of the 88200 frames its header announces"));
    const nlohmann::json records = nlohmann::json::parse(run.out);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["file"], (set / "a.wav").string());
    EXPECT_EQ(records[1]["file"], (set / "b.wav").string());
    EXPECT_EQ(records[1]["frames"], held);

    const nlohmann::json& report = records[0];
    EXPECT_EQ(report["frames"], Frames);
    EXPECT_EQ(report["sampleRate"], Rate);
    EXPECT_EQ(report["channels"], 2);
    std::vector<long> active;
    for (const auto& slice : report["slices"])
        if (slice["active"].get<bool>())
            active.push_back(slice["position"].get<long>());
    ASSERT_EQ(active.size(), Hits.size());
    // A region starts at each active point (the first at the loop start) and runs to the next.
    const nlohmann::json& regions = report["regions"];
    ASSERT_EQ(regions.size(), Hits.size());
    uint64_t next = 0;
    for (size_t i = 0; i < regions.size(); ++i)
    {
        EXPECT_NEAR(active[i], Hits[i], 16) << i;
        EXPECT_EQ(regions[i]["start"], i == 0 ? 0 : active[i]) << i;
        EXPECT_EQ(regions[i]["start"], next) << i;
        next += regions[i]["length"].get<uint64_t>();
    }
    EXPECT_EQ(next, Frames);
}

TEST_F(ToolTest, RendersFromAPipeToAPipeAtHalfTempoWithTheOnsetsMoved)
{
    // One bar at 120 BPM played at 60: twice the frames, each hit twice as late.
    const ProcessResult run =
        Kelvora({"render", "-", "-o", "-", "-t", "60", "--bars", "1"}, 0, {}, 0, loop);
    EXPECT_THAT(run.err, HasSubstr("- -> stdout: 176400 frames at 60 BPM"));
    std::ofstream(folder / "half.wav", std::ios::binary) << run.out;
    const TestAudio out = TestAudio::Read(folder / "half.wav");
    EXPECT_EQ(out.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(out.sampleRate, Rate);
    EXPECT_EQ(out.channels, 2);
    EXPECT_EQ(out.Frames(), 2 * Frames);
    const std::vector<size_t> onsets = out.Onsets(0.05f, 2000);
    ASSERT_EQ(onsets.size(), Hits.size());
    for (size_t i = 0; i < onsets.size(); ++i)
        EXPECT_NEAR(static_cast<double>(onsets[i]), 2.0 * Hits[i], 16.0) << i;
}

TEST_F(ToolTest, ExportedSlicesJoinToTheSourceAndMidiNotesSitWhereTheyDo)
{
    const std::filesystem::path out = folder / "slices";
    const ProcessResult run = Kelvora({"export", loop.string(), "--dir", out.string()});
    EXPECT_FALSE(std::filesystem::exists(out / "clicks-slice09.wav"));
    // 120 quarter notes a minute are 500 000 us each; notes start at key 36.
    const nlohmann::json midi = ReadBack("midi", out / "clicks.mid");
    EXPECT_EQ(midi["type"], 1);
    EXPECT_EQ(midi["tracks"], 2);
    EXPECT_EQ(midi["unfinishedNotes"], 0);
    EXPECT_EQ(midi["tempos"], nlohmann::json::array({500000}));
    EXPECT_EQ(midi["timeSignatures"], nlohmann::json::array({{4, 4}}));
    ASSERT_EQ(midi["notes"].size(), Hits.size());
    // Note times are whole ticks, so they are within one tick of the slices' frames.
    const double tick = 0.5 / midi["ticksPerBeat"].get<double>();
    std::vector<float> joined;
    for (size_t i = 0; i < Hits.size(); ++i)
    {
        const TestAudio slice =
            TestAudio::Read(out / ("clicks-slice0" + std::to_string(i + 1) + ".wav"));
        EXPECT_EQ(slice.sampleRate, Rate);
        const auto start = static_cast<double>(joined.size() / 2);
        EXPECT_NEAR(start, Hits[i], 16) << i;
        const nlohmann::json& note = midi["notes"][i];
        EXPECT_EQ(note["note"], 36 + i);
        EXPECT_NEAR(note["start"].get<double>(), start / Rate, tick) << i;
        EXPECT_NEAR(note["end"].get<double>(), (start + slice.Frames()) / Rate, tick) << i;
        joined.insert(joined.end(), slice.samples.begin(), slice.samples.end());
    }
    EXPECT_EQ(joined, source.samples);
}

TEST_F(ToolTest, ClippedRendersAreReportedAndNormalizeLeavesHeadroom)
{
    std::vector<std::string> args{"render", loop.string(), "-o",     (folder / "loud.wav").string(),
                                  "-t",     "120",         "-b",     "16",
                                  "--gain", "12",          "--bars", "1"};
    const ProcessResult clipped = Kelvora(args);
    EXPECT_THAT(clipped.err, HasSubstr("samples clipped at full scale (peak +"));

    args[3] = (folder / "fitted.wav").string();
    args.push_back("--normalize");
    const ProcessResult normalized = Kelvora(args);
    EXPECT_EQ(normalized.err, "");
    const TestAudio fitted = TestAudio::Read(folder / "fitted.wav");
    EXPECT_EQ(fitted.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_NEAR(20.0 * std::log10(fitted.Peak(0, fitted.Frames())), -1.0, 0.01);
}

TEST_F(ToolTest, EveryTerminatingSignalLeavesNoStagedFileBehind)
{
    // A render of about 80 minutes, stopped as soon as its staged file appears, so the signal
    // always lands in the middle of writing however fast the machine renders.
    for (const auto& [signal, status] :
         {std::pair<std::string, int>{"HUP", 129}, {"PIPE", 141}, {"TERM", 143}, {"USR1", 138}})
    {
        const std::string script =
            ShellWord(KELVORA_TOOL) + " render" + ShellWord(loop) + " -o" +
            ShellWord(folder / "long.wav") + " -t 30 --passes 600 2>" + ShellWord(folder / "said") +
            " & for i in $(seq 1000); do ls" + ShellWord(folder.Path()) +
            "/.long.wav.part-* >/dev/null 2>&1 && break; sleep 0.01; done; kill -" + signal +
            " $!; wait $!";
        const int result = std::system(script.c_str());
        EXPECT_EQ(WIFEXITED(result) ? WEXITSTATUS(result) : -1, status) << signal;
        EXPECT_EQ(folder.Entries(), (std::set<std::string>{"clicks.wav", "said"})) << signal;
        // A reader that went away is told nothing; anyone else learns why the work stopped.
        const std::string said = folder.Text("said");
        EXPECT_EQ(said.find("interrupted") != std::string::npos, signal != "PIPE") << said;
    }
}

TEST(DemoTest, WritesTheLoopTwoRendersAndAPictureWithAMarkerPerSlice)
{
    TempFolder folder;
    const ProcessResult run = Kelvora({"demo"}, 0, folder.Path());
    EXPECT_THAT(run.out, HasSubstr("Wrote into kelvora-demo/"));
    const std::filesystem::path demo = folder / "kelvora-demo";

    // Two bars of 4/4 at 120 BPM: four seconds of stereo at 44.1 kHz; at 90 and 150 BPM
    // 4 x 120/90 and 4 x 120/150 seconds.
    const TestAudio loop = TestAudio::Read(demo / "drum-loop.wav");
    EXPECT_EQ(loop.sampleRate, 44100);
    EXPECT_EQ(loop.channels, 2);
    EXPECT_EQ(loop.Frames(), 176400u);
    EXPECT_EQ(TestAudio::Read(demo / "drum-loop-90bpm.wav").Frames(), 235200u);
    EXPECT_EQ(TestAudio::Read(demo / "drum-loop-150bpm.wav").Frames(), 141120u);

    // The picture parses as XML and has a marker for each slice point, weak and strong, as tall
    // as its strength (the strongest is 1).
    const nlohmann::json report = Analysed({(demo / "drum-loop.wav").string()});
    const nlohmann::json drawing = ReadBack("svg", demo / "drum-loop.svg");
    EXPECT_EQ(drawing["root"], "{http://www.w3.org/2000/svg}svg");
    const nlohmann::json& markers = drawing["markers"];
    const nlohmann::json& slices = report["slices"];
    ASSERT_EQ(markers.size(), slices.size());
    ASSERT_GT(markers.size(), report["activeSlices"].get<size_t>());
    for (size_t i = 0; i < markers.size(); ++i)
    {
        for (const char* key : {"index", "position", "active"})
            EXPECT_EQ(markers[i][key], slices[i][key]) << key << " " << i;
        EXPECT_NEAR(markers[i]["height"].get<double>(), slices[i]["strength"].get<double>(), 0.002);
    }
}

} // namespace
