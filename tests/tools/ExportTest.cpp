#include "ClickLoopTest.h"

#include <fstream>
#include <map>
#include <sndfile.h>

namespace
{

std::string SliceName(size_t index)
{
    return "clicks-slice" + std::string(index < 9 ? "0" : "") + std::to_string(index + 1) + ".wav";
}

class ExportTest : public ClickLoopTest
{
protected:
    // Exports the loop and reads back every slice file it wrote.
    std::vector<TestAudio> Export(std::vector<std::string> options)
    {
        options.insert(options.begin(), {"--dir", out.string()});
        const ProcessResult run = Run("export", options);
        EXPECT_EQ(run.status, 0) << run.err;
        std::vector<TestAudio> slices;
        while (std::filesystem::exists(out / SliceName(slices.size())))
            slices.push_back(TestAudio::Read(out / SliceName(slices.size())));
        return slices;
    }

    std::filesystem::path out = folder / "slices";
};

TEST_F(ExportTest, SliceFilesStartAtTheHitsAndPutBackTogetherAreTheSource)
{
    const std::vector<TestAudio> slices = Export({"--base-note", "48"});
    ASSERT_EQ(slices.size(), Hits.size());
    std::vector<std::vector<float>> joined(2);
    for (size_t i = 0; i < slices.size(); ++i)
    {
        EXPECT_EQ(slices[i].format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        EXPECT_EQ(slices[i].sampleRate, Rate);
        ASSERT_EQ(slices[i].samples.size(), 2u);
        EXPECT_NEAR(static_cast<double>(joined[0].size()), Hits[i], 16) << i; // its start
        for (size_t c = 0; c < 2; ++c)
            joined[c].insert(joined[c].end(), slices[i].samples[c].begin(),
                             slices[i].samples[c].end());
    }
    EXPECT_EQ(joined, source.samples);

    // Each <region> line of the sampler map puts one slice file on one key, from the base up.
    std::ifstream sfz(out / "clicks.sfz");
    std::map<int, std::string> keys;
    for (std::string line; std::getline(sfz, line);)
        if (line.rfind("<region>", 0) == 0 && line.find("key=") != std::string::npos)
            keys[std::stoi(line.substr(line.find("key=") + 4))] =
                line.substr(line.find("sample=") + 7);
    ASSERT_EQ(keys.size(), slices.size());
    for (size_t i = 0; i < slices.size(); ++i)
        EXPECT_EQ(keys[48 + static_cast<int>(i)], SliceName(i));
}

TEST_F(ExportTest, MidiNotesSitWhereTheSliceFilesDo)
{
    struct Case
    {
        std::vector<std::string> options;
        int type, tracks, microseconds, denominator, baseNote;
    };
    // 240 quarter notes a minute are 250 000 us each. Two bars of 4/8 in two seconds are 240
    // eighth notes, that is 120 quarter notes: 500 000 us.
    const Case cases[] = {
        {{}, 1, 2, 250000, 4, 36},
        {{"--midi-format", "0", "--beat-unit", "8", "--base-note", "60"}, 0, 1, 500000, 8, 60}};
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.type);
        std::filesystem::remove_all(out);
        const std::vector<TestAudio> slices = Export(c.options);
        const nlohmann::json midi = ToolProcess::ReadBack("midi", out / "clicks.mid");
        EXPECT_EQ(midi["type"], c.type);
        EXPECT_EQ(midi["tracks"], c.tracks);
        EXPECT_EQ(midi["unfinishedNotes"], 0);
        EXPECT_EQ(midi["tempos"], nlohmann::json::array({c.microseconds}));
        EXPECT_EQ(midi["timeSignatures"], nlohmann::json::array({{4, c.denominator}}));
        // Note times are whole ticks, so they are within one tick of the slices' frames.
        const double tick = c.microseconds * 1e-6 / midi["ticksPerBeat"].get<double>();
        const nlohmann::json& notes = midi["notes"];
        ASSERT_EQ(notes.size(), slices.size());
        double start = 0.0;
        for (size_t i = 0; i < notes.size(); ++i)
        {
            const double end = start + static_cast<double>(slices[i].Frames()) / Rate;
            EXPECT_EQ(notes[i]["note"], c.baseNote + static_cast<int>(i));
            EXPECT_NEAR(notes[i]["start"].get<double>(), start, tick) << i;
            EXPECT_NEAR(notes[i]["end"].get<double>(), end, tick) << i;
            start = end;
        }
    }
}

TEST_F(ExportTest, TooManySlicesForTheKeysIsAnErrorAndWritesNothing)
{
    const ProcessResult run = Run("export", {"--dir", out.string(), "--base-note", "121"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kelvora: " + loop.string() +
                           ": 8 slices do not fit on the MIDI keys from 121 up; lower "
                           "--base-note or --sensitivity\n");
    EXPECT_FALSE(std::filesystem::exists(out));
}

} // namespace
