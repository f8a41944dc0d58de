// Runs one piece of work per input file. A file that fails is reported on one line and the
// others still run; the exit status says whether any failed.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace KelvoraCli
{

class Console;

class FileBatch
{
public:
    FileBatch(Console& console, std::string verb);

    // Returns 0 when every file succeeded, 1 otherwise, 128 + signal when interrupted (the
    // remaining files are then skipped). work reports failure by throwing
    // ToolError (or any std::exception, reported with the file's name).
    int Run(const std::vector<std::string>& files,
            const std::function<void(const std::string& file)>& work);

    // Called with the file's name and the error message for every failure, after it is
    // reported; lets --json list failures too.
    void OnFailure(std::function<void(const std::string&, const std::string&)> callback);

private:
    Console& console;
    std::string verb;
    std::function<void(const std::string&, const std::string&)> failureCallback;
};

} // namespace KelvoraCli
