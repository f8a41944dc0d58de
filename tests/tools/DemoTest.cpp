#include "TempFolder.h"
#include "TestAudio.h"
#include "ToolProcess.h"

#include <gtest/gtest.h>
#include <sstream>

namespace
{

TEST(DemoTest, WritesTheLoopTwoRendersAndAPictureAndPrintsTheSlices)
{
    TempFolder folder;
    const ProcessResult run = ToolProcess::Kelvora({"demo"}, folder.Path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Wrote into kelvora-demo/"), std::string::npos) << run.out;

    const std::filesystem::path demo = folder / "kelvora-demo";
    // Two bars of 4/4 at 120 BPM: four seconds of stereo at 44.1 kHz.
    const TestAudio loop = TestAudio::Read(demo / "drum-loop.wav");
    EXPECT_EQ(loop.sampleRate, 44100);
    EXPECT_EQ(loop.samples.size(), 2u);
    EXPECT_EQ(loop.Frames(), 176400u);
    // The same loop at 90 and 150 BPM: 4 x 120/90 and 4 x 120/150 seconds.
    EXPECT_EQ(TestAudio::Read(demo / "drum-loop-90bpm.wav").Frames(), 235200u);
    EXPECT_EQ(TestAudio::Read(demo / "drum-loop-150bpm.wav").Frames(), 141120u);
    const ProcessResult svg =
        ToolProcess::Python("svg_markers.py", {(demo / "drum-loop.svg").string()});
    EXPECT_EQ(svg.status, 0) << svg.err;

    // The pattern has a hit on every eighth note, so the table lists sixteen active slices,
    // each close to its eighth (11 025 frames apart). Hits that follow a ringing kick are placed
    // a little early by the detector, hence the tolerance of a quarter of a sixteenth.
    std::istringstream lines(run.out);
    std::string line;
    std::vector<long> frames;
    while (std::getline(lines, line))
    {
        std::istringstream fields(line);
        long index = 0;
        long frame = 0;
        double seconds = 0.0;
        double strength = 0.0;
        std::string active;
        if (fields >> index >> frame >> seconds >> strength >> active && active == "yes")
            frames.push_back(frame);
    }
    ASSERT_EQ(frames.size(), 16u) << run.out;
    for (size_t i = 0; i < frames.size(); ++i)
        EXPECT_NEAR(frames[i], static_cast<long>(i) * 11025, 1378) << run.out;
}

TEST(DemoTest, IsTheSameEveryTime)
{
    TempFolder first;
    TempFolder second;
    ASSERT_EQ(ToolProcess::Kelvora({"demo", "--dir", first.Path().string()}).status, 0);
    ASSERT_EQ(ToolProcess::Kelvora({"demo", "--dir", second.Path().string()}).status, 0);
    EXPECT_EQ(TestAudio::Read(first / "drum-loop.wav").samples,
              TestAudio::Read(second / "drum-loop.wav").samples);
    EXPECT_EQ(TestAudio::Read(first / "drum-loop-90bpm.wav").samples,
              TestAudio::Read(second / "drum-loop-90bpm.wav").samples);
}

} // namespace
