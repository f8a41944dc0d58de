#include "ToolTest.h"

#include <fstream>
#include <gmock/gmock.h>

namespace
{

// Each bad call fails with its status, says one line that starts with "kelvora: " and holds
// every expected piece, and leaves the folder as it was.
TEST(BadInputTest, EachIsRefusedWithItsErrorAndLeavesNothingBehind)
{
    TempFolder folder;
    const auto at = [&](const std::string& name) { return (folder / name).string(); };
    // The name gives the tempo, so no case warns about a guessed one.
    const std::string good = at("good-120bpm.wav"), out = at("out.wav"), link = at("link.wav");
    TestAudio::Clicks(44100, 44100, 2, {0, 11025, 22050}).Write(good);
    std::filesystem::create_symlink("good-120bpm.wav", link);
    std::ofstream(out, std::ios::binary) << "an earlier render";
    std::ofstream(folder / "late.csv") << "0\n44101\n";
    std::ofstream(folder / "notes.wav") << "not samples, just words in a text file\n";
    std::ofstream(folder / "empty.wav").close();
    const std::set<std::string> before = folder.Entries();

    struct Case
    {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> pieces;
        int fileSizeLimitKiB = 0;
    };
    std::vector<Case> cases;
    for (const auto& [name, piece] :
         {std::pair<std::string, std::string>{"missing.wav", "file not found"},
          {"notes.wav", "unsupported or unrecognised audio format"},
          {"empty.wav", "file is empty"}})
        cases.push_back({{"render", at(name), "-o", out, "-t", "100"}, 1, {at(name), piece}});
    for (const std::string tempo : {"0", "nan", "inf", "abc"})
        cases.push_back({{"render", good, "-o", out, "--tempo", tempo}, 2, {"--tempo"}});
    for (const std::string sensitivity : {"1.5", "NaN"})
        cases.push_back({{"analyse", good, "-s", sensitivity}, 2, {"--sensitivity", sensitivity}});
    const std::string nowhere = at("no-such-folder/out.wav");
    const std::string aiff = at("big.aiff"), csv = at("late.csv");
    // clang-format off
    cases.insert(cases.end(), {
        {{"frob", good}, 2, {"'frob' is not a kelvora command", "render, export"}},
        {{"render", good, "-o", out, "-t", "90", "-t", "100"}, 2, {"--tempo was given 2 times; give it once"}},
        {{"analyse", "--svg", at("x.png"), good}, 2, {"--svg", "x.png", "ends in .svg"}},
        // Outputs that are an input, directly or through a link.
        {{"render", good, "-o", good, "-t", "100"}, 1, {good, "is one of the inputs"}},
        {{"render", good, "-o", link, "-t", "100"}, 1, {link, "is one of the inputs"}},
        // Refused before writing: at 0.001 BPM the one-second loop lasts 33 333 hours; 200
        // passes at 1 BPM (6.7 hours) are 8.5 GB, past what AIFF's sizes can say.
        {{"render", good, "-o", out, "-t", "0.001"}, 1, {"hours, more than 24"}},
        {{"render", good, "-o", aiff, "-t", "1", "--passes", "200"}, 1, {"8.47 GB", "more than AIFF 32-bit float can"}},
        {{"render", good, "-o", out, "-t", "90", "--slices", csv}, 1, {"late.csv", "frame 44101 lies past the end"}},
        {{"render", good, "-o", nowhere, "-t", "100"}, 1, {nowhere, "cannot write to folder", "No such file or directory"}},
        // A 64 KiB cap on file sizes makes the writes fail part-way: the old file stays, and
        // the export's new folder goes again with the failed slices.
        {{"render", good, "-o", out, "-t", "60"}, 1, {out, "write failed"}, 64},
        {{"export", good, "--dir", at("slices")}, 1, {"good-120bpm-slice01.wav", "write failed"}, 64}});
    // clang-format on

    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const ProcessResult run = Kelvora(c.args, c.status, {}, c.fileSizeLimitKiB);
        EXPECT_THAT(run.err, testing::MatchesRegex("kelvora: [^\n]*\n"));
        for (const std::string& piece : c.pieces)
            EXPECT_THAT(run.err, testing::HasSubstr(piece));
        EXPECT_EQ(folder.Entries(), before);
        EXPECT_EQ(folder.Text("out.wav"), "an earlier render");
    }
}

} // namespace
