// `kelvora view FILE...`: one self-contained HTML page per loop to look at and listen to its
// slices in a browser, offline.
#pragma once

#include "tools/kelvora/Command.h"
#include "tools/kelvora/EngineSettings.h"

#include <filesystem>
#include <string>
#include <vector>

namespace KelvoraCli
{

class ViewPage;

class ViewCommand : public Command
{
public:
    using Command::Command;

    void Register(CLI::App& app) override;
    int Run() override;

    // Writes a page through a StagedFile, so it appears complete or not at all.
    static void WritePage(const ViewPage& page, const std::filesystem::path& path);

private:
    std::vector<std::string> files;
    EngineSettings settings;
    std::string outputPath;
};

} // namespace KelvoraCli
