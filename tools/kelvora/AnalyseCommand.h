// `kelvora analyse FILE...`: the slice table of each loop, as text or JSON, and optionally a
// picture of it.
#pragma once

#include "tools/kelvora/EngineSettings.h"

#include <CLI/CLI.hpp>
#include <filesystem>
#include <string>
#include <vector>

namespace KelvoraCli
{

class AudioFile;
class Console;
struct LoopReport;

class AnalyseCommand
{
public:
    explicit AnalyseCommand(Console& console);

    void Register(CLI::App& app);
    bool Chosen() const { return command && command->parsed(); }
    int Run();

    // The SVG picture of one analysed loop, written through a StagedFile.
    static void WriteSvg(const AudioFile& audio, const LoopReport& report,
                         const std::filesystem::path& path);

private:
    Console& console;
    CLI::App* command = nullptr;
    std::vector<std::string> files;
    EngineSettings settings;
    bool json = false;
    bool activeOnly = false;
    std::string svgPath;
    std::string htmlPath;
};

} // namespace KelvoraCli
