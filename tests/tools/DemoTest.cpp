#include "TempFolder.h"
#include "TestAudio.h"
#include "ToolProcess.h"

#include <gtest/gtest.h>
#include <sstream>

namespace
{

// The frame and seconds columns of the slice table the demo prints (index, frame, seconds,
// strength, "yes" for the active slices it lists).
std::vector<std::pair<long, double>> ActiveRows(const std::string& out)
{
    std::istringstream lines(out);
    std::vector<std::pair<long, double>> rows;
    long index = 0, frame = 0;
    double seconds = 0.0, strength = 0.0;
    std::string active;
    for (std::string line; std::getline(lines, line);)
        if (std::istringstream(line) >> index >> frame >> seconds >> strength >> active &&
            active == "yes")
            rows.emplace_back(frame, seconds);
    return rows;
}

TEST(DemoTest, WritesTheLoopTwoRendersAndAPictureOfItsSlicesTheSameEveryTime)
{
    TempFolder folder;
    const ProcessResult run = ToolProcess::Kelvora({"demo"}, folder.Path());
    ASSERT_EQ(run.status, 0) << run.err;
    for (const std::string line :
         {"176400 frames, 4.000 s, 44100 Hz, 2 channels", "tempo 120.00 BPM, meter 2 bars of 4/4",
          "Wrote into kelvora-demo/"})
        EXPECT_NE(run.out.find(line), std::string::npos) << run.out;
    const std::filesystem::path demo = folder / "kelvora-demo";

    // Two bars of 4/4 at 120 BPM: four seconds of stereo at 44.1 kHz; at 90 and 150 BPM
    // 4 x 120/90 and 4 x 120/150 seconds.
    const TestAudio loop = TestAudio::Read(demo / "drum-loop.wav");
    EXPECT_EQ(loop.sampleRate, 44100);
    EXPECT_EQ(loop.samples.size(), 2u);
    EXPECT_EQ(loop.Frames(), 176400u);
    EXPECT_EQ(TestAudio::Read(demo / "drum-loop-90bpm.wav").Frames(), 235200u);
    EXPECT_EQ(TestAudio::Read(demo / "drum-loop-150bpm.wav").Frames(), 141120u);

    // A hit on every eighth note: sixteen active slices, each close to its eighth (11 025 frames
    // apart). Hits that follow a ringing kick are placed a little early by the detector, hence
    // the tolerance of a quarter of a sixteenth.
    const auto rows = ActiveRows(run.out);
    ASSERT_EQ(rows.size(), 16u) << run.out;
    for (size_t i = 0; i < rows.size(); ++i)
    {
        EXPECT_NEAR(rows[i].first, static_cast<long>(i) * 11025, 1378) << run.out;
        EXPECT_NEAR(rows[i].second, rows[i].first / 44100.0, 0.00006) << rows[i].first;
    }

    // The picture has a marker for each slice point, weak and strong ones, as tall as its
    // strength (the strongest is 1).
    const ProcessResult analysed =
        ToolProcess::Kelvora({"analyse", "--json", (demo / "drum-loop.wav").string()});
    ASSERT_EQ(analysed.status, 0) << analysed.err;
    const nlohmann::json slices = nlohmann::json::parse(analysed.out).at(0)["slices"];
    const nlohmann::json drawing = ToolProcess::ReadBack("svg", demo / "drum-loop.svg");
    EXPECT_EQ(drawing["root"], "{http://www.w3.org/2000/svg}svg");
    const nlohmann::json& markers = drawing["markers"];
    ASSERT_EQ(markers.size(), slices.size());
    ASSERT_GT(markers.size(), rows.size());
    double tallest = 0.0;
    for (const auto& marker : markers)
        tallest = std::max(tallest, marker["height"].get<double>());
    for (size_t i = 0; i < markers.size(); ++i)
    {
        EXPECT_EQ(markers[i]["index"], slices[i]["index"]);
        EXPECT_EQ(markers[i]["position"], slices[i]["position"]);
        EXPECT_EQ(markers[i]["active"], slices[i]["active"]);
        EXPECT_NEAR(markers[i]["height"].get<double>() / tallest,
                    slices[i]["strength"].get<double>(), 0.002);
    }

    TempFolder again;
    ASSERT_EQ(ToolProcess::Kelvora({"demo", "--dir", again.Path().string()}).status, 0);
    EXPECT_EQ(TestAudio::Read(again / "drum-loop.wav").samples, loop.samples);
    EXPECT_EQ(TestAudio::Read(again / "drum-loop-90bpm.wav").samples,
              TestAudio::Read(demo / "drum-loop-90bpm.wav").samples);
}

} // namespace
