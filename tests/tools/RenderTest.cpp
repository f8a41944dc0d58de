#include "TempFolder.h"
#include "TestAudio.h"
#include "ToolProcess.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <sndfile.h>

namespace
{

constexpr int Rate = 44100;
constexpr size_t LoopFrames = 88200; // two seconds: 240 BPM as two bars of 4/4
const std::vector<uint32_t> Hits{0, 9000, 22050, 31000, 44100, 57500, 66150, 80000};

// Onsets found in a render, against where the hits should be. The slices start a few frames
// before each click (the detector's placement), so a click lands within a few frames of its
// scaled position.
void ExpectOnsetsAt(const TestAudio& audio, const std::vector<double>& expected, double tolerance)
{
    const std::vector<size_t> onsets = audio.Onsets(0.05f, 2000);
    ASSERT_EQ(onsets.size(), expected.size());
    for (size_t i = 0; i < onsets.size(); ++i)
        EXPECT_NEAR(static_cast<double>(onsets[i]), expected[i], tolerance) << "onset " << i;
}

float Peak(const TestAudio& audio)
{
    float peak = 0.0f;
    for (const auto& channel : audio.samples)
        for (const float s : channel)
            peak = std::max(peak, std::fabs(s));
    return peak;
}

class RenderTest : public ::testing::Test
{
protected:
    void SetUp() override { TestAudio::Clicks(Rate, LoopFrames, 2, Hits).Write(loop); }

    TestAudio Render(const std::string& output, std::vector<std::string> options)
    {
        std::vector<std::string> args{"render", loop.string(), "-o", (folder / output).string()};
        args.insert(args.end(), options.begin(), options.end());
        const ProcessResult run = ToolProcess::Kelvora(args);
        EXPECT_EQ(run.status, 0) << run.err;
        return TestAudio::Read(folder / output);
    }

    TempFolder folder;
    std::filesystem::path loop = folder / "clicks.wav";
};

TEST_F(RenderTest, HalfTempoDoublesTheLengthAndMovesEveryOnset)
{
    const TestAudio out = Render("half.wav", {"--tempo", "120"});
    EXPECT_EQ(out.sampleRate, Rate);
    ASSERT_EQ(out.samples.size(), 2u);
    EXPECT_EQ(out.Frames(), 2 * LoopFrames);
    std::vector<double> expected;
    for (const uint32_t hit : Hits)
        expected.push_back(2.0 * hit);
    ExpectOnsetsAt(out, expected, 24.0);
}

TEST_F(RenderTest, DoubleTempoHalvesTheLength)
{
    const TestAudio out = Render("double.wav", {"-t", "480"});
    EXPECT_EQ(out.Frames(), LoopFrames / 2);
    std::vector<double> expected;
    for (const uint32_t hit : Hits)
        expected.push_back(hit / 2.0);
    ExpectOnsetsAt(out, expected, 24.0);
}

TEST_F(RenderTest, PassesRepeatTheLoop)
{
    const TestAudio out = Render("three.wav", {"--tempo", "240", "--passes", "3"});
    EXPECT_EQ(out.Frames(), 3 * LoopFrames);
    std::vector<double> expected;
    for (int pass = 0; pass < 3; ++pass)
        for (const uint32_t hit : Hits)
            expected.push_back(double(hit) + pass * double(LoopFrames));
    ExpectOnsetsAt(out, expected, 24.0);
}

TEST_F(RenderTest, OutputRateResamplesTheTimeline)
{
    const TestAudio out = Render("low.wav", {"--tempo", "240", "--output-rate", "22050"});
    EXPECT_EQ(out.sampleRate, 22050);
    EXPECT_EQ(out.Frames(), LoopFrames / 2);
    std::vector<double> expected;
    for (const uint32_t hit : Hits)
        expected.push_back(hit / 2.0);
    ExpectOnsetsAt(out, expected, 16.0);
}

TEST_F(RenderTest, GainScalesTheOutput)
{
    const float unity = Peak(Render("unity.wav", {"--tempo", "240"}));
    const float quieter = Peak(Render("quiet.wav", {"--tempo", "240", "--gain", "-12"}));
    ASSERT_GT(unity, 0.1f);
    EXPECT_NEAR(quieter / unity, std::pow(10.0, -12.0 / 20.0), 1e-3);
}

TEST_F(RenderTest, BlockSizeDoesNotChangeTheAudio)
{
    const TestAudio tiny = Render("tiny.wav", {"--tempo", "150", "--block-size", "7"});
    const TestAudio large = Render("large.wav", {"--tempo", "150", "--block-size", "4096"});
    ASSERT_EQ(tiny.Frames(), large.Frames());
    EXPECT_EQ(tiny.samples, large.samples);
}

TEST_F(RenderTest, ExtensionAndBitDepthChooseTheFormat)
{
    EXPECT_EQ(Render("a.flac", {"-t", "240"}).format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    EXPECT_EQ(Render("b.wav", {"-t", "240", "-b", "16"}).format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(Render("c.aiff", {"-t", "240", "-b", "24"}).format,
              SF_FORMAT_AIFF | SF_FORMAT_PCM_24);
    EXPECT_EQ(Render("d.wav", {"-t", "240"}).format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const TestAudio vorbis = Render("e.ogg", {"-t", "240"});
    EXPECT_EQ(vorbis.format, SF_FORMAT_OGG | SF_FORMAT_VORBIS);
    EXPECT_EQ(vorbis.Frames(), LoopFrames);
}

TEST_F(RenderTest, SeveralInputsIntoAFolderGetNamesWithTheirTempo)
{
    std::filesystem::copy_file(loop, folder / "other.wav");
    std::filesystem::create_directory(folder / "out");
    const ProcessResult run =
        ToolProcess::Kelvora({"render", loop.string(), (folder / "other.wav").string(), "-o",
                              (folder / "out").string(), "-t", "97.5", "--format", "flac"});
    ASSERT_EQ(run.status, 0) << run.err;
    const TestAudio first = TestAudio::Read(folder / "out" / "clicks-97.5bpm.flac");
    const TestAudio second = TestAudio::Read(folder / "out" / "other-97.5bpm.flac");
    // 240 / 97.5 times longer, rounded to whole frames.
    const size_t expected = static_cast<size_t>(std::floor(LoopFrames * (240.0 / 97.5) + 0.5));
    EXPECT_NEAR(static_cast<double>(first.Frames()), static_cast<double>(expected), 1.0);
    EXPECT_EQ(first.samples, second.samples);
}

} // namespace
