// The tool in a shell: pipes, folders, signals, damaged files and loud renders.
#include "ToolTest.h"

#include <cmath>
#include <fstream>
#include <sys/wait.h>

namespace
{

using ToolTest = ClickLoopTest;

TEST_F(ToolTest, ReadsStdinWritesStdoutAndTakesAFolderAsItsAudioFiles)
{
    // One bar at 120 BPM played at 60 from a pipe to a pipe: twice the frames.
    const ProcessResult piped =
        Kelvora({"render", "-", "-o", "-", "-t", "60", "--bars", "1"}, {}, 0, loop);
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_NE(piped.err.find("- -> stdout: 176400 frames at 60 BPM"), std::string::npos)
        << piped.err;
    std::ofstream(folder / "piped.wav", std::ios::binary) << piped.out;
    EXPECT_EQ(TestAudio::Read(folder / "piped.wav").Frames(), 2 * Frames);

    // A folder stands for its audio files, in name order; other files are left out.
    std::filesystem::create_directory(folder / "set");
    source.Write(folder / "set" / "b.wav");
    source.Write(folder / "set" / "a.wav");
    std::ofstream(folder / "set" / "notes.txt") << "not audio";
    const ProcessResult listed = Kelvora({"analyse", "--json", (folder / "set").string()});
    ASSERT_EQ(listed.status, 0) << listed.err;
    const nlohmann::json records = nlohmann::json::parse(listed.out);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["file"], (folder / "set" / "a.wav").string());
    EXPECT_EQ(records[1]["file"], (folder / "set" / "b.wav").string());
}

TEST_F(ToolTest, EveryTerminatingSignalLeavesNoStagedFileBehind)
{
    // A render of about 80 minutes, stopped as soon as its staged file appears, so the signal
    // always lands in the middle of writing however fast the machine renders.
    for (const auto& [signal, status] :
         {std::pair<std::string, int>{"HUP", 129}, {"PIPE", 141}, {"TERM", 143}, {"USR1", 138}})
    {
        const std::string script =
            std::string("'") + KELVORA_TOOL + "' render '" + loop.string() + "' -o '" +
            (folder / "long.wav").string() + "' -t 30 --passes 600 2>'" +
            (folder / "said").string() + "' & for i in $(seq 1000); do " + "ls '" +
            folder.Path().string() + "'/.long.wav.part-* >/dev/null 2>&1 && break; sleep 0.01; " +
            "done; kill -" + signal + " $!; wait $!";
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
    const std::string bytes = folder.Text("clicks.wav");
    std::ofstream(folder / "cut.wav", std::ios::binary) << bytes.substr(0, 40000);
    const ProcessResult cut = Kelvora({"analyse", (folder / "cut.wav").string(), "--bars", "1"});
    EXPECT_EQ(cut.status, 0) << cut.err;
    const size_t held = TestAudio::Read(folder / "cut.wav").Frames();
    EXPECT_NE(
        cut.err.find("holds " + std::to_string(held) + " of the 88200 frames its header announces"),
        std::string::npos)
        << cut.err;

    const std::string loud = (folder / "loud.wav").string();
    const ProcessResult clipped =
        Run("render", {"-o", loud, "-t", "120", "-b", "16", "--gain", "12", "--bars", "1"});
    ASSERT_EQ(clipped.status, 0) << clipped.err;
    EXPECT_NE(clipped.err.find("samples clipped at full scale (peak +"), std::string::npos)
        << clipped.err;

    const std::string fitted = (folder / "fitted.wav").string();
    const ProcessResult normalized = Run("render", {"-o", fitted, "-t", "120", "-b", "16", "--gain",
                                                    "12", "--normalize", "--bars", "1"});
    ASSERT_EQ(normalized.status, 0) << normalized.err;
    EXPECT_EQ(normalized.err, "");
    float peak = 0.0f;
    for (const auto& channel : TestAudio::Read(fitted).samples)
        for (const float sample : channel)
            peak = std::max(peak, std::fabs(sample));
    EXPECT_NEAR(20.0 * std::log10(peak), -1.0, 0.01);
}

} // namespace
