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
    // Runs program with args in workingFolder (the current folder when empty).
    static ProcessResult Run(const std::string& program, const std::vector<std::string>& args,
                             const std::filesystem::path& workingFolder = {});
    static ProcessResult Kelvora(const std::vector<std::string>& args,
                                 const std::filesystem::path& workingFolder = {});
    // Runs one of the checker scripts next to the tests with the Python that has mido.
    static ProcessResult Python(const std::string& script, const std::vector<std::string>& args);
};
