// `kelvora view FILE...`: one self-contained HTML page per loop to look at and listen to its
// slices in a browser, offline.
#pragma once

#include "tools/kelvora/EngineSettings.h"

#include <CLI/CLI.hpp>
#include <filesystem>
#include <string>
#include <vector>

namespace KelvoraCli
{

class Console;
class ViewPage;

class ViewCommand
{
public:
    explicit ViewCommand(Console& console);

    void Register(CLI::App& app);
    bool Chosen() const { return command && command->parsed(); }
    int Run();

    // Writes a page through a StagedFile, so it appears complete or not at all.
    static void WritePage(const ViewPage& page, const std::filesystem::path& path);

private:
    Console& console;
    CLI::App* command = nullptr;
    std::vector<std::string> files;
    EngineSettings settings;
    std::string outputPath;
};

} // namespace KelvoraCli
