// Runs the kelvora tool (or the Python checkers) as a child process and captures what it says.
#pragma once

#include <filesystem>
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
    // fileSizeLimit caps every file the program writes at that many bytes (writes past it fail
    // with EFBIG), which makes a disk-full failure part-way through a write reproducible.
    static ProcessResult Run(const std::string& program, const std::vector<std::string>& args,
                             const std::filesystem::path& workingFolder = {},
                             long fileSizeLimit = 0);
    static ProcessResult Kelvora(const std::vector<std::string>& args,
                                 const std::filesystem::path& workingFolder = {},
                                 long fileSizeLimit = 0);
    // Runs one of the checker scripts next to the tests with the Python that has mido.
    static ProcessResult Python(const std::string& script, const std::vector<std::string>& args);
};
