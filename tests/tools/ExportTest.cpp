#include "TempFolder.h"
#include "TestAudio.h"
#include "ToolProcess.h"

#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <sndfile.h>
#include <sstream>

namespace
{

constexpr int Rate = 44100;
constexpr size_t LoopFrames = 88200;
const std::vector<uint32_t> Hits{0, 9000, 22050, 31000, 44100, 57500, 66150, 80000};

std::string SliceName(size_t index)
{
    return "clicks-slice" + std::string(index < 9 ? "0" : "") + std::to_string(index + 1) + ".wav";
}

class ExportTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        source = TestAudio::Clicks(Rate, LoopFrames, 2, Hits);
        source.Write(loop);
        const ProcessResult run = ToolProcess::Kelvora({"analyse", "--json", loop.string()});
        ASSERT_EQ(run.status, 0) << run.err;
        regions = nlohmann::json::parse(run.out).at(0).at("regions");
        ASSERT_EQ(regions.size(), Hits.size());
    }

    ProcessResult Export(std::vector<std::string> options)
    {
        std::vector<std::string> args{"export", loop.string(), "--dir", out.string()};
        args.insert(args.end(), options.begin(), options.end());
        return ToolProcess::Kelvora(args);
    }

    static nlohmann::json ReadMidi(const std::filesystem::path& path)
    {
        const ProcessResult run = ToolProcess::Python("midi_notes.py", {path.string()});
        EXPECT_EQ(run.status, 0) << run.err;
        return nlohmann::json::parse(run.out);
    }

    TempFolder folder;
    std::filesystem::path loop = folder / "clicks.wav";
    std::filesystem::path out = folder / "slices";
    TestAudio source;
    nlohmann::json regions;
};

TEST_F(ExportTest, SliceFilesPutBackTogetherAreTheSource)
{
    const ProcessResult run = Export({});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::vector<float>> joined(2);
    for (size_t i = 0; i < regions.size(); ++i)
    {
        const std::string name = SliceName(i);
        const TestAudio slice = TestAudio::Read(out / name);
        EXPECT_EQ(slice.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        EXPECT_EQ(slice.sampleRate, Rate);
        ASSERT_EQ(slice.samples.size(), 2u);
        EXPECT_EQ(slice.Frames(), regions[i]["length"].get<size_t>()) << name;
        for (size_t c = 0; c < 2; ++c)
            joined[c].insert(joined[c].end(), slice.samples[c].begin(), slice.samples[c].end());
    }
    EXPECT_EQ(joined, source.samples);
    EXPECT_FALSE(std::filesystem::exists(out / "clicks-slice09.wav"));
}

TEST_F(ExportTest, MidiNotesSitWhereTheSlicesStart)
{
    ASSERT_EQ(Export({}).status, 0);
    const nlohmann::json midi = ReadMidi(out / "clicks.mid");
    EXPECT_EQ(midi["type"], 1);
    EXPECT_EQ(midi["tracks"], 2);
    EXPECT_EQ(midi["unfinishedNotes"], 0);
    // 240 quarter notes per minute: 250 000 microseconds each.
    ASSERT_EQ(midi["tempos"].size(), 1u);
    EXPECT_EQ(midi["tempos"][0]["microseconds"], 250000);
    EXPECT_EQ(midi["timeSignatures"][0]["numerator"], 4);
    EXPECT_EQ(midi["timeSignatures"][0]["denominator"], 4);

    const double tick = 0.25 / midi["ticksPerBeat"].get<double>();
    const nlohmann::json& notes = midi["notes"];
    ASSERT_EQ(notes.size(), regions.size());
    for (size_t i = 0; i < notes.size(); ++i)
    {
        const double start = regions[i]["start"].get<double>() / Rate;
        const double end = start + regions[i]["length"].get<double>() / Rate;
        EXPECT_EQ(notes[i]["note"], 36 + static_cast<int>(i));
        EXPECT_NEAR(notes[i]["start"].get<double>(), start, tick) << i;
        EXPECT_NEAR(notes[i]["end"].get<double>(), end, tick) << i;
    }
}

TEST_F(ExportTest, FormatZeroAndAnEighthNoteBeatKeepTheSameTimes)
{
    // Two bars of 4/8 in two seconds: 240 eighth notes, that is 120 quarter notes, a minute.
    ASSERT_EQ(Export({"--midi-format", "0", "--beat-unit", "8", "--base-note", "60"}).status, 0);
    const nlohmann::json midi = ReadMidi(out / "clicks.mid");
    EXPECT_EQ(midi["type"], 0);
    EXPECT_EQ(midi["tracks"], 1);
    EXPECT_EQ(midi["tempos"][0]["microseconds"], 500000);
    EXPECT_EQ(midi["timeSignatures"][0]["denominator"], 8);
    const nlohmann::json& notes = midi["notes"];
    ASSERT_EQ(notes.size(), regions.size());
    for (size_t i = 0; i < notes.size(); ++i)
    {
        EXPECT_EQ(notes[i]["note"], 60 + static_cast<int>(i));
        EXPECT_NEAR(notes[i]["start"].get<double>(), regions[i]["start"].get<double>() / Rate,
                    0.5 / midi["ticksPerBeat"].get<double>());
    }
}

TEST_F(ExportTest, SfzMapsEachNoteToItsSliceFile)
{
    ASSERT_EQ(Export({"--base-note", "48"}).status, 0);
    std::ifstream sfz(out / "clicks.sfz");
    std::map<int, std::string> keys;
    std::string line;
    while (std::getline(sfz, line))
    {
        if (line.rfind("<region>", 0) != 0)
            continue;
        const size_t key = line.find("key=");
        const size_t sample = line.find("sample=");
        ASSERT_NE(key, std::string::npos) << line;
        ASSERT_NE(sample, std::string::npos) << line;
        keys[std::stoi(line.substr(key + 4))] = line.substr(sample + 7);
    }
    ASSERT_EQ(keys.size(), regions.size());
    for (size_t i = 0; i < regions.size(); ++i)
    {
        const std::string name = SliceName(i);
        EXPECT_EQ(keys[48 + static_cast<int>(i)], name);
        EXPECT_TRUE(std::filesystem::exists(out / keys[48 + static_cast<int>(i)]));
    }
}

TEST_F(ExportTest, FlacSlicesHoldTheSourceToWithinTheirResolution)
{
    ASSERT_EQ(Export({"--format", "flac", "-b", "16"}).status, 0);
    const TestAudio first = TestAudio::Read(out / "clicks-slice01.flac");
    EXPECT_EQ(first.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    ASSERT_EQ(first.Frames(), regions[0]["length"].get<size_t>());
    for (size_t i = 0; i < first.Frames(); ++i)
        ASSERT_NEAR(first.samples[0][i], source.samples[0][i], 1.0 / 32768.0) << i;
}

TEST_F(ExportTest, TooManySlicesForTheKeysIsAnErrorAndWritesNothing)
{
    const ProcessResult run = Export({"--base-note", "121"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kelvora: " + loop.string() +
                           ": 8 slices do not fit on the MIDI keys from 121 up; lower "
                           "--base-note or --sensitivity\n");
    EXPECT_FALSE(std::filesystem::exists(out));
}

} // namespace
