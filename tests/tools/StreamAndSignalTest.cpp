// The tool in a shell: folders, signals, damaged files and loud renders.
#include "ToolTest.h"

#include <cmath>
#include <fstream>
#include <sndfile.h>
#include <sys/wait.h>

namespace
{

using ToolTest = ClickLoopTest;

TEST_F(ToolTest, AFolderStandsForItsAudioFilesInNameOrder)
{
    const std::filesystem::path set = folder / "set";
    std::filesystem::create_directory(set);
    source.Write(set / "b.wav");
    source.Write(set / "a.wav");
    std::ofstream(set / "notes.txt") << "not audio";
    const ProcessResult listed = Kelvora({"analyse", "--json", set.string()});
    ASSERT_EQ(listed.status, 0) << listed.err;
    const nlohmann::json records = nlohmann::json::parse(listed.out);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["file"], (set / "a.wav").string());
    EXPECT_EQ(records[1]["file"], (set / "b.wav").string());
}

TEST_F(ToolTest, EveryTerminatingSignalLeavesNoStagedFileBehind)
{
    // A render of about 80 minutes, stopped as soon as its staged file appears, so the signal
    // always lands in the middle of writing however fast the machine renders.
    for (const auto& [signal, status] :
         {std::pair<std::string, int>{"HUP", 129}, {"PIPE", 141}, {"TERM", 143}, {"USR1", 138}})
    {
        const std::string script =
            ShellWord(KELVORA_TOOL) + " render" + ShellWord(loop) + " -o" +
            ShellWord(folder / "long.wav") + " -t 30 --passes 600 2>" + ShellWord(folder / "said") +
            " & for i in $(seq 1000); do ls" + ShellWord(folder.Path()) +
            "/.long.wav.part-* >/dev/null 2>&1 && break; sleep 0.01; done; kill -" + signal +
            " $!; wait $!";
        const int result = std::system(script.c_str());
        EXPECT_EQ(WIFEXITED(result) ? WEXITSTATUS(result) : -1, status) << signal;
        EXPECT_EQ(folder.Entries(), (std::set<std::string>{"clicks.wav", "said"})) << signal;
        // A reader that went away is told nothing; anyone else learns why the work stopped.
        const std::string said = folder.Text("said");
        EXPECT_EQ(said.find("interrupted") != std::string::npos, signal != "PIPE") << said;
    }
}

TEST_F(ToolTest, ShortFilesAndClippedRendersAreReportedAndNormalizeLeavesHeadroom)
{
    // The file cut after 40 000 bytes: the header still announces 88 200 frames.
    std::ofstream(folder / "cut.wav", std::ios::binary)
        << folder.Text("clicks.wav").substr(0, 40000);
    const ProcessResult cut = Kelvora({"analyse", (folder / "cut.wav").string(), "--bars", "1"});
    EXPECT_EQ(cut.status, 0) << cut.err;
    const size_t held = TestAudio::Read(folder / "cut.wav").Frames();
    EXPECT_NE(
        cut.err.find("holds " + std::to_string(held) + " of the 88200 frames its header announces"),
        std::string::npos)
        << cut.err;

    const std::vector<std::string> loud{"-t", "120", "-b", "16", "--gain", "12", "--bars", "1"};
    std::vector<std::string> args{"-o", (folder / "loud.wav").string()};
    args.insert(args.end(), loud.begin(), loud.end());
    const ProcessResult clipped = Run("render", args);
    ASSERT_EQ(clipped.status, 0) << clipped.err;
    EXPECT_NE(clipped.err.find("samples clipped at full scale (peak +"), std::string::npos)
        << clipped.err;

    args[1] = (folder / "fitted.wav").string();
    args.push_back("--normalize");
    const ProcessResult normalized = Run("render", args);
    ASSERT_EQ(normalized.status, 0) << normalized.err;
    EXPECT_EQ(normalized.err, "");
    const TestAudio fitted = TestAudio::Read(folder / "fitted.wav");
    EXPECT_EQ(fitted.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_NEAR(20.0 * std::log10(fitted.Peak(0, fitted.Frames())), -1.0, 0.01);
}

} // namespace
