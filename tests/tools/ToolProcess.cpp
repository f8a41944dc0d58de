#include "ToolProcess.h"

#include "TempFolder.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

namespace
{

// A space and text in single quotes, which keep every character but the quote itself literal
// in the shell.
std::string Word(const std::string& text)
{
    std::string word = " '";
    for (const char c : text)
        word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

} // namespace

ProcessResult ToolProcess::Run(const std::string& program, const std::vector<std::string>& args,
                               const std::filesystem::path& workingFolder, int fileSizeLimitKiB)
{
    const TempFolder capture;
    std::string command;
    if (!workingFolder.empty())
        command += "cd" + Word(workingFolder) + " && ";
    // With SIGXFSZ ignored a write past the limit fails instead of killing the process; ulimit
    // counts in 512-byte blocks.
    if (fileSizeLimitKiB > 0)
        command += "trap '' XFSZ && ulimit -f " + std::to_string(2 * fileSizeLimitKiB) + " && ";
    command += "exec" + Word(program);
    for (const std::string& arg : args)
        command += Word(arg);
    command += " </dev/null >" + Word(capture / "out") + " 2>" + Word(capture / "err");
    const int status = std::system(command.c_str());
    ProcessResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = capture.Text("out");
    result.err = capture.Text("err");
    return result;
}

ProcessResult ToolProcess::Kelvora(const std::vector<std::string>& args,
                                   const std::filesystem::path& workingFolder, int fileSizeLimitKiB)
{
    return Run(KELVORA_TOOL, args, workingFolder, fileSizeLimitKiB);
}

nlohmann::json ToolProcess::ReadBack(const std::string& kind, const std::filesystem::path& file)
{
    const ProcessResult run =
        Run(KELVORA_TEST_PYTHON,
            {std::string(KELVORA_TEST_SCRIPTS) + "/read_back.py", kind, file.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    return run.status == 0 ? nlohmann::json::parse(run.out) : nlohmann::json();
}
