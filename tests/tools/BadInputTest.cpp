#include "TempFolder.h"
#include "TestAudio.h"
#include "ToolProcess.h"

#include <cstdint>
#include <fstream>
#include <gtest/gtest.h>

namespace
{

std::string Le(uint64_t value, int bytes)
{
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

// An RF64 file of 8-bit mono audio with 2^32 + 16 frames, the data a sparse hole: more frames
// than a 32-bit count can hold, without using 4 GB of disk.
void WriteHugeRf64(const std::filesystem::path& path)
{
    const uint64_t data = (uint64_t(1) << 32) + 16;
    const std::string header =
        "RF64" + Le(0xFFFFFFFF, 4) + "WAVEds64" + Le(28, 4) + Le(data + 72, 8) + Le(data, 8) +
        Le(data, 8) + Le(0, 4) +                          // RIFF, data, samples, no table
        "fmt " + Le(16, 4) + Le(1, 2) + Le(1, 2) +        // PCM, one channel
        Le(8000, 4) + Le(8000, 4) + Le(1, 2) + Le(8, 2) + // rate, bytes/s, align, bits
        "data" + Le(0xFFFFFFFF, 4);
    std::ofstream(path, std::ios::binary) << header;
    std::filesystem::resize_file(path, header.size() + data);
}

// Every way of calling the tool wrongly must fail with its status, say exactly one line that
// starts with "kelvora: " and holds every expected piece, and leave the folder as it was.
TEST(BadInputTest, EveryBadInputIsRefusedWithItsErrorAndLeavesNothingBehind)
{
    TempFolder folder;
    const std::string good = (folder / "good.wav").string();
    const std::string out = (folder / "out.wav").string();
    TestAudio::Clicks(44100, 44100, 2, {0, 11025, 22050}).Write(good);
    std::ofstream(out, std::ios::binary) << "an earlier render";
    std::filesystem::create_directory(folder / "takes.wav");
    std::ofstream(folder / "notes.wav") << "not samples, just words in a text file\n";
    std::ofstream(folder / "empty.wav").close();
    TestAudio{44100, 0, {{}, {}}}.Write(folder / "nothing.wav"); // stereo, no frames
    WriteHugeRf64(folder / "huge.wav");
    const std::set<std::string> before = folder.Entries();

    struct Case
    {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> pieces;
        int fileSizeLimitKiB = 0;
    };
    std::vector<Case> cases;
    const std::pair<std::string, std::vector<std::string>> inputs[] = {
        {"missing.wav", {"file not found"}},
        {"takes.wav", {"is a folder"}},
        {"notes.wav", {"unsupported or unrecognised audio format"}},
        {"empty.wav", {"file is empty"}},
        {"nothing.wav", {"contains no audio frames"}},
        {"huge.wav", {"4294967312 frames", "more than the engine can address"}}};
    for (auto [name, pieces] : inputs)
    {
        pieces.push_back((folder / name).string());
        cases.push_back({{"render", (folder / name).string(), "-o", out, "-t", "100"}, 1, pieces});
    }
    for (const std::string tempo : {"0", "-120", "nan", "inf", "abc", "12x", ""})
        cases.push_back({{"render", good, "-o", out, "--tempo", tempo}, 2, {"--tempo"}});
    for (const std::string sensitivity : {"1.5", "-0.1", "NaN", "1e400"})
        cases.push_back({{"analyse", good, "-s", sensitivity}, 2, {"--sensitivity", sensitivity}});
    for (const auto& [option, value] : std::initializer_list<std::pair<std::string, std::string>>{
             {"--passes", "0"},
             {"--block-size", "0"},
             {"--output-rate", "10"},
             {"--tail-from-sound-end", "maybe"}})
        cases.push_back(
            {{"render", good, "-o", out, "-t", "100", option, value}, 2, {option, value}});
    const std::string nowhere = (folder / "no-such-folder" / "out.wav").string();
    const std::string underFile = (folder / "out.wav" / "slices").string();
    cases.insert(
        cases.end(),
        {{{"analyse", good, "--bars", "0"}, 2, {"--bars", "'0'"}},
         {{"render", good, "-o", out}, 2, {"--tempo is required"}},
         {{"render", good, "-o", nowhere, "-t", "100"},
          1,
          {nowhere, "cannot write to folder", "No such file or directory"}},
         {{"export", good, "--dir", underFile}, 1, {underFile, "cannot create output folder"}},
         {{"demo", "--dir", underFile}, 1, {underFile, "cannot create output folder"}},
         {{"render", good, "-o", (folder / "out.mp9").string(), "-t", "100"},
          1,
          {"out.mp9", "unsupported output format '.mp9'"}},
         {{"render", good, "-o", (folder / "out.flac").string(), "-t", "100", "-b", "32"},
          1,
          {"out.flac", ".flac cannot store 32-bit float samples"}},
         // A 64 KiB cap on file sizes makes writes fail well before they are complete: the old
         // file stays, and the export's new folder goes again with the failed slices.
         {{"render", good, "-o", out, "-t", "60"}, 1, {out, "write failed"}, 64},
         {{"export", good, "--dir", (folder / "slices").string()},
          1,
          {"good-slice01.wav", "write failed"},
          64}});

    for (const Case& c : cases)
    {
        std::string command = "kelvora";
        for (const std::string& arg : c.args)
            command += " '" + arg + "'";
        SCOPED_TRACE(command);
        const ProcessResult run = ToolProcess::Kelvora(c.args, {}, c.fileSizeLimitKiB);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err.rfind("kelvora: ", 0), 0u) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        for (const std::string& piece : c.pieces)
            EXPECT_NE(run.err.find(piece), std::string::npos) << run.err << " lacks " << piece;
        EXPECT_EQ(folder.Entries(), before);
        EXPECT_EQ(folder.Text("out.wav"), "an earlier render");
    }
}

} // namespace
