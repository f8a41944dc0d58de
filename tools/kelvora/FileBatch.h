// Runs one piece of work per input file. A file that fails is reported on one line and the
// others still run; the exit status says whether any failed.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace KelvoraCli
{

class AudioFile;
class Console;

class FileBatch
{
public:
    FileBatch(Console& console, std::string verb);

    // The inputs as the user means them: a folder stands for the audio files directly in it
    // (by extension, in name order); anything else stays as given.
    static std::vector<std::string> Expand(const std::vector<std::string>& inputs);

    // Reads one input, telling the user about anything odd in it.
    AudioFile Load(const std::string& file);

    // Tells the user, one line each, what the work on one input noticed without failing.
    void Warn(const std::string& file, const std::vector<std::string>& warnings);

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
