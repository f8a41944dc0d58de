#include "ClickLoopTest.h"

#include <algorithm>
#include <cmath>
#include <sndfile.h>

namespace
{

float Peak(const TestAudio& audio)
{
    float peak = 0.0f;
    for (const auto& channel : audio.samples)
        for (const float s : channel)
            peak = std::max(peak, std::fabs(s));
    return peak;
}

class RenderTest : public ClickLoopTest
{
protected:
    TestAudio Render(const std::string& output, std::vector<std::string> options)
    {
        options.insert(options.begin(), {"-o", (folder / output).string()});
        const ProcessResult run = Run("render", options);
        EXPECT_EQ(run.status, 0) << run.err;
        return TestAudio::Read(folder / output);
    }
};

TEST_F(RenderTest, LengthOnsetsAndFormatFollowTheOptions)
{
    struct Case
    {
        std::string file;
        std::vector<std::string> options;
        double scale; // output frames per loop frame
        size_t passes;
        int format; // chosen by the extension and bit depth
        int rate = Rate;
    };
    // clang-format off
    const Case cases[] = {
        {"half.wav", {"--tempo", "120"}, 2.0, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        {"double.aiff", {"-t", "480", "-b", "16"}, 0.5, 1, SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
        {"three.flac", {"-t", "240", "--passes", "3"}, 1.0, 3, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {"low.wav", {"-t", "240", "--output-rate", "22050", "-b", "24"}, 0.5, 1,
         SF_FORMAT_WAV | SF_FORMAT_PCM_24, 22050}};
    // clang-format on
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.file);
        const TestAudio out = Render(c.file, c.options);
        EXPECT_EQ(out.format, c.format);
        EXPECT_EQ(out.sampleRate, c.rate);
        ASSERT_EQ(out.samples.size(), 2u);
        const double length = Frames * c.scale;
        EXPECT_EQ(out.Frames(), static_cast<size_t>(length * c.passes));
        // The slices start a few frames before the clicks, where the detector placed them, so
        // each click lands within a few frames of its scaled position.
        const std::vector<size_t> onsets = out.Onsets(0.05f, 2000);
        ASSERT_EQ(onsets.size(), Hits.size() * c.passes);
        for (size_t i = 0; i < onsets.size(); ++i)
            EXPECT_NEAR(static_cast<double>(onsets[i]),
                        Hits[i % Hits.size()] * c.scale + double(i / Hits.size()) * length, 16.0)
                << "onset " << i;
    }
}

TEST_F(RenderTest, GainScalesTheOutputAndBlockSizeChangesNothing)
{
    const TestAudio tiny = Render("tiny.wav", {"--tempo", "150", "--block-size", "7"});
    const TestAudio large = Render("large.wav", {"--tempo", "150", "--block-size", "4096"});
    EXPECT_EQ(tiny.samples, large.samples);
    const float quieter = Peak(Render("quiet.wav", {"--tempo", "150", "--gain", "-12"}));
    ASSERT_GT(Peak(large), 0.1f);
    EXPECT_NEAR(quieter / Peak(large), std::pow(10.0, -12.0 / 20.0), 1e-3);
}

TEST_F(RenderTest, SeveralInputsIntoAFolderGetNamesWithTheirTempo)
{
    std::filesystem::copy_file(loop, folder / "other.wav");
    std::filesystem::create_directory(folder / "out");
    const ProcessResult run =
        Run("render", {(folder / "other.wav").string(), "-o", (folder / "out").string(), "-t",
                       "97.5", "--format", "ogg"});
    ASSERT_EQ(run.status, 0) << run.err;
    const TestAudio first = TestAudio::Read(folder / "out" / "clicks-97.5bpm.ogg");
    EXPECT_EQ(first.format, SF_FORMAT_OGG | SF_FORMAT_VORBIS);
    // 240 / 97.5 times longer, rounded to whole frames.
    EXPECT_NEAR(static_cast<double>(first.Frames()), std::round(Frames * (240.0 / 97.5)), 1.0);
    EXPECT_EQ(TestAudio::Read(folder / "out" / "other-97.5bpm.ogg").samples, first.samples);
}

} // namespace
