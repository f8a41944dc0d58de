// Exports a sampler takes as they are: the lead-in belongs to the first slice, more slices than
// keys still map, a re-export leaves one clean set, names are safe, and cue markers read back.
#include "ToolTest.h"

#include <fstream>
#include <sndfile.h>

namespace
{

std::vector<uint32_t> CuePositions(const std::filesystem::path& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    std::vector<uint32_t> positions;
    if (!file)
        return positions;
    SF_CUES cues{};
    if (sf_command(file, SFC_GET_CUE, &cues, sizeof cues) == SF_TRUE)
        for (uint32_t i = 0; i < cues.cue_count && i < 100; ++i)
            positions.push_back(cues.cue_points[i].sample_offset);
    sf_close(file);
    return positions;
}

TEST(SamplerExportTest, LeadInsFoldIntoTheFirstSliceAndCueMarkersSitAtEachSlice)
{
    struct Case
    {
        std::string name;
        uint32_t firstHit; // frames of lead-in: a sliver, or 100 ms of silence
    };
    for (const Case& c : {Case{"kick key=40 <x>.wav", 40}, Case{"silent start.wav", 4410}})
    {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const std::vector<uint32_t> hits{c.firstHit, 11025, 22050, 33075, 44100, 55125, 66150};
        TestAudio::Clicks(44100, 88200, 2, hits).Write(folder / c.name);
        const ProcessResult run = Kelvora(
            {"export", (folder / c.name).string(), "--dir", (folder / "out").string(), "--cues"});
        ASSERT_EQ(run.status, 0) << run.err;

        // Names with nothing that could split an SFZ line.
        const std::string stem = c.name == "silent start.wav" ? "silent_start" : "kick_key_40__x_";
        const std::string sfz = folder.Text("out/" + stem + ".sfz");
        for (const std::string& region : {"key=36 sample=" + stem + "-slice01.wav\n",
                                          "key=42 sample=" + stem + "-slice07.wav\n"})
            EXPECT_NE(sfz.find("<region> " + region), std::string::npos) << sfz;

        // One slice per hit; the first runs from the loop start to the second hit.
        const TestAudio first = TestAudio::Read(folder / "out" / (stem + "-slice01.wav"));
        EXPECT_NEAR(static_cast<double>(first.Frames()), 11025.0, 16.0);
        const std::vector<uint32_t> cues = CuePositions(folder / "out" / (stem + "-cues.wav"));
        ASSERT_EQ(cues.size(), hits.size());
        EXPECT_EQ(cues[0], 0u);
        for (size_t i = 1; i < cues.size(); ++i)
            EXPECT_NEAR(static_cast<double>(cues[i]), hits[i], 16.0) << i;
        EXPECT_EQ(TestAudio::Read(folder / "out" / (stem + "-cues.wav")).samples,
                  TestAudio::Read(folder / c.name).samples);
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
    const ProcessResult many = Run("export", {"--dir", out.string(), "--base-note", "125"});
    ASSERT_EQ(many.status, 0) << many.err;
    EXPECT_NE(many.err.find("8 slices do not fit on the 3 keys from 125 up"), std::string::npos)
        << many.err;
    const nlohmann::json midi = ReadBack("midi", out / "clicks.mid");
    ASSERT_EQ(midi["notes"].size(), Hits.size());
    for (size_t i = 0; i < Hits.size(); ++i)
    {
        EXPECT_EQ(midi["notes"][i]["note"], 125 + i % 3) << i;
        EXPECT_EQ(midi["notes"][i]["channel"], i / 3) << i;
    }
    EXPECT_NE(folder.Text("out/clicks.sfz")
                  .find("<region> key=126 lochan=3 hichan=3 sample=clicks-slice08.wav\n"),
              std::string::npos);

    // Cut in two halves, the set shrinks to two slices, and the earlier files of this input go.
    const ProcessResult fewer = Run("export", {"--dir", out.string(), "--grid", "1/2"});
    ASSERT_EQ(fewer.status, 0) << fewer.err;
    EXPECT_NE(fewer.out.find("(removed 6 slice files of an earlier export)"), std::string::npos)
        << fewer.out;
    const std::set<std::string> expected{
        "other-slice09.wav",  "clicks-slice09.txt", "clicks-slices.wav", "clicks-slice01.wav",
        "clicks-slice02.wav", "clicks.mid",         "clicks.sfz"};
    std::set<std::string> entries;
    for (const std::string& entry : folder.Entries())
        if (entry.rfind("out/", 0) == 0)
            entries.insert(entry.substr(4));
    EXPECT_EQ(entries, expected);
    EXPECT_EQ(folder.Text("out/other-slice09.wav"), "keep");
}

} // namespace
