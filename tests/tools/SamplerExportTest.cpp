// Exports a sampler takes as they are: the lead-in belongs to the first slice, more slices than
// keys still map, a re-export leaves one clean set, names are safe, and cue markers read back.
#include "ToolTest.h"

#include <fstream>
#include <gmock/gmock.h>
#include <sndfile.h>

namespace
{

using testing::HasSubstr;

std::vector<uint32_t> CuePositions(const std::filesystem::path& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    std::vector<uint32_t> positions;
    SF_CUES cues{};
    if (file && sf_command(file, SFC_GET_CUE, &cues, sizeof cues) == SF_TRUE)
        for (uint32_t i = 0; i < cues.cue_count && i < 100; ++i)
            positions.push_back(cues.cue_points[i].sample_offset);
    sf_close(file);
    return positions;
}

TEST(SamplerExportTest, LeadInsFoldIntoTheFirstSliceAndCueMarkersSitAtEachSlice)
{
    // A sliver of lead-in, or 100 ms of silence; names with nothing that could split an SFZ line.
    for (const auto& [name, stem, firstHit] : {std::tuple<std::string, std::string, uint32_t>{
                                                   "kick key=40 <x>.wav", "kick_key_40__x_", 40},
                                               {"silent start.wav", "silent_start", 4410}})
    {
        SCOPED_TRACE(name);
        TempFolder folder;
        const std::vector<uint32_t> hits{firstHit, 11025, 22050, 33075, 44100, 55125, 66150};
        TestAudio::Clicks(44100, 88200, 2, hits).Write(folder / name);
        const ProcessResult run = Kelvora(
            {"export", (folder / name).string(), "--dir", (folder / "out").string(), "--cues"});
        const std::string sfz = folder.Text("out/" + stem + ".sfz");
        EXPECT_THAT(sfz, HasSubstr("<region> key=36 sample=" + stem + "-slice01.wav\n"));
        EXPECT_THAT(sfz, HasSubstr("<region> key=42 sample=" + stem + "-slice07.wav\n"));

        // One slice per hit; the first runs from the loop start to the second hit.
        const TestAudio first = TestAudio::Read(folder / "out" / (stem + "-slice01.wav"));
        EXPECT_NEAR(static_cast<double>(first.Frames()), 11025.0, 16.0);
        const std::vector<uint32_t> cues = CuePositions(folder / "out" / (stem + "-cues.wav"));
        ASSERT_EQ(cues.size(), hits.size());
        EXPECT_EQ(cues[0], 0u);
        for (size_t i = 1; i < cues.size(); ++i)
            EXPECT_NEAR(static_cast<double>(cues[i]), hits[i], 16.0) << i;
        EXPECT_EQ(TestAudio::Read(folder / "out" / (stem + "-cues.wav")).samples,
                  TestAudio::Read(folder / name).samples);
    }
}

using SamplerExportClicks = ClickLoopTest;

TEST_F(SamplerExportClicks, MoreSlicesThanKeysSpreadOverChannelsAndAReExportLeavesOneCleanSet)
{
    const std::filesystem::path out = folder / "out";
    std::filesystem::create_directory(out);
    // Not ours, though close: another input's slice, another kind of file, and a file whose name
    // only starts like ours.
    for (const std::string name : {"other-slice09.wav", "clicks-slice09.txt", "clicks-slices.wav"})
        std::ofstream(out / name) << "keep";

    // Three keys from 125: slices 1-3 on channel 1, 4-6 on channel 2, 7-8 on channel 3.
    const ProcessResult many =
        Kelvora({"export", loop.string(), "--dir", out.string(), "--base-note", "125"});
    EXPECT_THAT(many.err, HasSubstr("8 slices do not fit on the 3 keys from 125 up"));
    const nlohmann::json midi = ReadBack("midi", out / "clicks.mid");
    ASSERT_EQ(midi["notes"].size(), Hits.size());
    for (size_t i = 0; i < Hits.size(); ++i)
    {
        EXPECT_EQ(midi["notes"][i]["note"], 125 + i % 3) << i;
        EXPECT_EQ(midi["notes"][i]["channel"], i / 3) << i;
    }
    EXPECT_THAT(folder.Text("out/clicks.sfz"),
                HasSubstr("<region> key=126 lochan=3 hichan=3 sample=clicks-slice08.wav\n"));

    // Cut in two halves, the set shrinks to two slices, and the earlier files of this input go.
    const ProcessResult fewer =
        Kelvora({"export", loop.string(), "--dir", out.string(), "--grid", "1/2"});
    EXPECT_THAT(fewer.out, HasSubstr("(removed 6 slice files of an earlier export)"));
    EXPECT_EQ(folder.Entries(),
              (std::set<std::string>{"clicks.wav", "out", "out/other-slice09.wav",
                                     "out/clicks-slice09.txt", "out/clicks-slices.wav",
                                     "out/clicks-slice01.wav", "out/clicks-slice02.wav",
                                     "out/clicks.mid", "out/clicks.sfz"}));
    EXPECT_EQ(folder.Text("out/other-slice09.wav"), "keep");
}

} // namespace
