#include "ToolTest.h"

#include <algorithm>
#include <fstream>
#include <gmock/gmock.h>
#include <sndfile.h>

namespace
{

using testing::HasSubstr;
using ToolTest = ClickLoopTest;

TEST_F(ToolTest, AnalyseFindsExactlyTheHitsAndItsRegionsTileTheLoop)
{
    const nlohmann::json report = Analysed({loop.string()});
    EXPECT_EQ(report["frames"], Frames);
    EXPECT_EQ(report["sampleRate"], Rate);
    EXPECT_EQ(report["channels"], 2);
    std::vector<long> active;
    for (const auto& slice : report["slices"])
        if (slice["active"].get<bool>())
            active.push_back(slice["position"].get<long>());
    ASSERT_EQ(active.size(), Hits.size());
    EXPECT_EQ(report["activeSlices"], active.size());
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
        Kelvora({"render", "-", "-o", "-", "-t", "60", "--bars", "1"}, {}, 0, loop);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr("- -> stdout: 176400 frames at 60 BPM"));
    std::ofstream(folder / "half.wav", std::ios::binary) << run.out;
    const TestAudio out = TestAudio::Read(folder / "half.wav");
    EXPECT_EQ(out.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(out.sampleRate, Rate);
    ASSERT_EQ(out.samples.size(), 2u);
    EXPECT_EQ(out.Frames(), 2 * Frames);
    const std::vector<size_t> onsets = out.Onsets(0.05f, 2000);
    ASSERT_EQ(onsets.size(), Hits.size());
    for (size_t i = 0; i < onsets.size(); ++i)
        EXPECT_NEAR(static_cast<double>(onsets[i]), 2.0 * Hits[i], 16.0) << i;
}

TEST_F(ToolTest, ExportedSlicesJoinToTheSourceAndMidiNotesSitWhereTheyDo)
{
    const std::filesystem::path out = folder / "slices";
    const ProcessResult run = Run("export", {"--dir", out.string()});
    ASSERT_EQ(run.status, 0) << run.err;
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
    std::vector<std::vector<float>> joined(2);
    for (size_t i = 0; i < Hits.size(); ++i)
    {
        const TestAudio slice =
            TestAudio::Read(out / ("clicks-slice0" + std::to_string(i + 1) + ".wav"));
        EXPECT_EQ(slice.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        EXPECT_EQ(slice.sampleRate, Rate);
        ASSERT_EQ(slice.samples.size(), 2u);
        const auto start = static_cast<double>(joined[0].size());
        EXPECT_NEAR(start, Hits[i], 16) << i;
        const nlohmann::json& note = midi["notes"][i];
        EXPECT_EQ(note["note"], 36 + i);
        EXPECT_NEAR(note["start"].get<double>(), start / Rate, tick) << i;
        EXPECT_NEAR(note["end"].get<double>(), (start + slice.Frames()) / Rate, tick) << i;
        for (size_t c = 0; c < 2; ++c)
            joined[c].insert(joined[c].end(), slice.samples[c].begin(), slice.samples[c].end());
    }
    EXPECT_EQ(joined, source.samples);
}

TEST(DemoTest, WritesTheLoopTwoRendersAndAPictureWithAMarkerPerSlice)
{
    TempFolder folder;
    const ProcessResult run = Kelvora({"demo"}, folder.Path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("Wrote into kelvora-demo/"));
    const std::filesystem::path demo = folder / "kelvora-demo";

    // Two bars of 4/4 at 120 BPM: four seconds of stereo at 44.1 kHz; at 90 and 150 BPM
    // 4 x 120/90 and 4 x 120/150 seconds.
    const TestAudio loop = TestAudio::Read(demo / "drum-loop.wav");
    EXPECT_EQ(loop.sampleRate, 44100);
    EXPECT_EQ(loop.samples.size(), 2u);
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
    double tallest = 0.0;
    for (const auto& marker : markers)
        tallest = std::max(tallest, marker["height"].get<double>());
    for (size_t i = 0; i < markers.size(); ++i)
    {
        for (const char* key : {"index", "position", "active"})
            EXPECT_EQ(markers[i][key], slices[i][key]) << key << " " << i;
        EXPECT_NEAR(markers[i]["height"].get<double>() / tallest,
                    slices[i]["strength"].get<double>(), 0.002);
    }
}

} // namespace
