// `kelvora analyse FILE...`: the slice table of each loop, as text or JSON, and optionally a
// picture of it.
#pragma once

#include "tools/kelvora/Command.h"
#include "tools/kelvora/EngineSettings.h"

#include <filesystem>
#include <string>
#include <vector>

namespace KelvoraCli
{

class AudioFile;
struct LoopReport;

class AnalyseCommand : public Command
{
public:
    using Command::Command;

    void Register(CLI::App& app) override;
    int Run() override;

    // The SVG picture of one analysed loop, written through a StagedFile.
    static void WriteSvg(const AudioFile& audio, const LoopReport& report,
                         const std::filesystem::path& path);

private:
    std::vector<std::string> files;
    EngineSettings settings;
    bool json = false;
    bool activeOnly = false;
    std::string svgPath;
    std::string htmlPath;
};

} // namespace KelvoraCli
