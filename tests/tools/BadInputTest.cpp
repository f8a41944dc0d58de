#include "TempFolder.h"
#include "TestAudio.h"
#include "ToolProcess.h"

#include <cstdint>
#include <fstream>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sstream>

namespace
{

std::string Slurp(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void Put(std::string& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// An RF64 header for 8-bit mono audio with 2^32 + 16 frames, followed by a sparse hole of that
// size: more frames than a 32-bit count can hold, without using 4 GB of disk.
void WriteHugeRf64(const std::filesystem::path& path)
{
    const uint64_t dataBytes = (uint64_t(1) << 32) + 16;
    std::string header = "RF64";
    Put(header, 0xFFFFFFFF, 4);
    header += "WAVEds64";
    Put(header, 28, 4);
    Put(header, dataBytes + 72, 8); // RIFF size: the file less its first 8 bytes
    Put(header, dataBytes, 8);      // data size
    Put(header, dataBytes, 8);      // sample count
    Put(header, 0, 4);              // no table
    header += "fmt ";
    Put(header, 16, 4);
    Put(header, 1, 2);    // PCM
    Put(header, 1, 2);    // one channel
    Put(header, 8000, 4); // sample rate
    Put(header, 8000, 4); // bytes per second
    Put(header, 1, 2);    // block align
    Put(header, 8, 2);    // bits
    header += "data";
    Put(header, 0xFFFFFFFF, 4);
    std::ofstream(path, std::ios::binary) << header;
    std::filesystem::resize_file(path, header.size() + dataBytes);
}

class BadInputTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TestAudio::Clicks(44100, 44100, 2, {0, 11025, 22050}).Write(good);
        std::ofstream(existing, std::ios::binary) << "an earlier render";
        before = folder.Entries();
    }

    // The run failed with status, said exactly one line that starts with "kelvora: " and holds
    // every expected piece, and left the folder as it was.
    void ExpectRefused(const ProcessResult& run, int status, std::vector<std::string> pieces)
    {
        EXPECT_EQ(run.status, status);
        ASSERT_FALSE(run.err.empty());
        EXPECT_EQ(run.err.rfind("kelvora: ", 0), 0u) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        for (const std::string& piece : pieces)
            EXPECT_NE(run.err.find(piece), std::string::npos) << run.err << " lacks " << piece;
        EXPECT_EQ(folder.Entries(), before);
        EXPECT_EQ(Slurp(existing), "an earlier render");
    }

    ProcessResult Render(const std::string& input, std::vector<std::string> options = {})
    {
        std::vector<std::string> args{"render", input, "-o", existing.string(), "-t", "100"};
        args.insert(args.end(), options.begin(), options.end());
        return ToolProcess::Kelvora(args);
    }

    TempFolder folder;
    std::filesystem::path good = folder / "good.wav";
    std::filesystem::path existing = folder / "out.wav";
    std::set<std::string> before;
};

TEST_F(BadInputTest, UnreadableInputsNameTheFileAndTheProblem)
{
    const std::string missing = (folder / "missing.wav").string();
    ExpectRefused(Render(missing), 1, {missing, "file not found"});

    std::filesystem::create_directory(folder / "takes.wav");
    before = folder.Entries();
    ExpectRefused(Render((folder / "takes.wav").string()), 1, {"takes.wav", "is a folder"});

    std::ofstream(folder / "notes.wav") << "these are not samples, just words in a text file\n";
    before = folder.Entries();
    ExpectRefused(Render((folder / "notes.wav").string()), 1,
                  {"notes.wav", "unsupported or unrecognised audio format"});

    std::ofstream(folder / "empty.wav").close();
    before = folder.Entries();
    ExpectRefused(Render((folder / "empty.wav").string()), 1, {"empty.wav", "file is empty"});
}

TEST_F(BadInputTest, AudioFileWithoutFramesIsRefused)
{
    TestAudio silence;
    silence.sampleRate = 44100;
    silence.samples.assign(2, {});
    silence.Write(folder / "nothing.wav");
    before = folder.Entries();
    ExpectRefused(Render((folder / "nothing.wav").string()), 1,
                  {"nothing.wav", "contains no audio frames"});
}

TEST_F(BadInputTest, MoreFramesThanTheEngineCanAddressIsRefused)
{
    WriteHugeRf64(folder / "huge.wav");
    before = folder.Entries();
    ExpectRefused(Render((folder / "huge.wav").string()), 1,
                  {"huge.wav", "4294967312 frames", "more than the engine can address"});
}

TEST_F(BadInputTest, BadNumbersAreRefusedBeforeAnyWork)
{
    for (const std::string tempo : {"0", "-120", "nan", "inf", "abc", "12x", ""})
    {
        SCOPED_TRACE("tempo '" + tempo + "'");
        ExpectRefused(ToolProcess::Kelvora(
                          {"render", good.string(), "-o", existing.string(), "--tempo", tempo}),
                      2, {"--tempo"});
    }
    for (const std::string sensitivity : {"1.5", "-0.1", "NaN", "1e400"})
    {
        SCOPED_TRACE("sensitivity '" + sensitivity + "'");
        ExpectRefused(ToolProcess::Kelvora({"analyse", good.string(), "-s", sensitivity}), 2,
                      {"--sensitivity", sensitivity});
    }
    ExpectRefused(Render(good.string(), {"--passes", "0"}), 2, {"--passes", "'0'"});
    ExpectRefused(Render(good.string(), {"--block-size", "0"}), 2, {"--block-size"});
    ExpectRefused(Render(good.string(), {"--output-rate", "10"}), 2, {"--output-rate"});
    ExpectRefused(Render(good.string(), {"--tail-from-sound-end", "maybe"}), 2,
                  {"--tail-from-sound-end"});
    ExpectRefused(ToolProcess::Kelvora({"analyse", good.string(), "--bars", "0"}), 2, {"--bars"});
    ExpectRefused(ToolProcess::Kelvora({"render", good.string(), "-o", existing.string()}), 2,
                  {"--tempo is required"});
}

TEST_F(BadInputTest, OutputThatCannotBeWrittenIsRefused)
{
    const std::string nowhere = (folder / "no-such-folder" / "out.wav").string();
    ExpectRefused(ToolProcess::Kelvora({"render", good.string(), "-o", nowhere, "-t", "100"}), 1,
                  {nowhere, "cannot write to folder", "No such file or directory"});

    const std::string underFile = (folder / "out.wav" / "slices").string();
    ExpectRefused(ToolProcess::Kelvora({"export", good.string(), "--dir", underFile}), 1,
                  {underFile, "cannot create output folder"});

    ExpectRefused(ToolProcess::Kelvora({"demo", "--dir", underFile}), 1,
                  {underFile, "cannot create output folder"});

    const std::string mp9 = (folder / "out.mp9").string();
    ExpectRefused(ToolProcess::Kelvora({"render", good.string(), "-o", mp9, "-t", "100"}), 1,
                  {"out.mp9", "unsupported output format '.mp9'"});
    const std::string flac = (folder / "out.flac").string();
    ExpectRefused(
        ToolProcess::Kelvora({"render", good.string(), "-o", flac, "-t", "100", "-b", "32"}), 1,
        {"out.flac", ".flac cannot store 32-bit float samples"});
}

TEST_F(BadInputTest, AWriteThatFailsHalfWayLeavesTheOldFileAndNoLeftovers)
{
    // A 64 KiB cap on file sizes makes the render's output fail well before it is complete.
    const ProcessResult run = ToolProcess::Kelvora(
        {"render", good.string(), "-o", existing.string(), "-t", "60"}, {}, 64 * 1024);
    ExpectRefused(run, 1, {existing.string(), "write failed"});

    // The export's folder did not exist before; it goes again with the failed slices.
    const ProcessResult exported = ToolProcess::Kelvora(
        {"export", good.string(), "--dir", (folder / "slices").string()}, {}, 64 * 1024);
    ExpectRefused(exported, 1, {"good-slice01.wav", "write failed"});
}

} // namespace
