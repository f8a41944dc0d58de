// Chooses output file names when one command handles several inputs: a requested folder gets
// one file per input named after it, and a requested file name gets the input's name appended
// when there is more than one input. Refuses to hand out the same name twice, so a later input
// never silently replaces an earlier one's output.
#pragma once

#include <filesystem>
#include <set>
#include <string>

namespace KelvoraCli
{

class OutputPaths
{
public:
    // requested: what the user gave (a file or an existing folder). suffix and extension make
    // the name inside a folder: <input stem><suffix><extension>.
    OutputPaths(std::filesystem::path requested, bool severalInputs, std::string suffix,
                std::string extension);

    // Throws ToolError naming the input when the name was already given to another input.
    std::filesystem::path For(const std::string& inputFile);

private:
    std::filesystem::path requested;
    bool severalInputs;
    std::string suffix;
    std::string extension;
    std::set<std::string> handedOut;
};

} // namespace KelvoraCli
