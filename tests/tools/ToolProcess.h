// Runs the kelvora tool (or the Python reader) as a child process and captures what it says.
#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

struct ProcessResult
{
    int status = -1; // exit status; -1 when the process did not exit normally
    std::string out;
    std::string err;
};

class ToolProcess
{
public:
    // Runs program with args in workingFolder (the current folder when empty). A non-zero
    // fileSizeLimit caps every file the program writes at that many KiB (writes past it fail
    // with EFBIG), which makes a disk-full failure part-way through a write reproducible.
    static ProcessResult Run(const std::string& program, const std::vector<std::string>& args,
                             const std::filesystem::path& workingFolder = {},
                             int fileSizeLimitKiB = 0);
    static ProcessResult Kelvora(const std::vector<std::string>& args,
                                 const std::filesystem::path& workingFolder = {},
                                 int fileSizeLimitKiB = 0);
    // What read_back.py, run with the Python that has mido, says about a "midi" or "svg" file;
    // null (and a test failure) when it cannot read it.
    static nlohmann::json ReadBack(const std::string& kind, const std::filesystem::path& file);
};
