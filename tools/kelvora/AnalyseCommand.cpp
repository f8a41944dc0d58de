#include "tools/kelvora/AnalyseCommand.h"

#include "tools/kelvora/AudioFile.h"
#include "tools/kelvora/Console.h"
#include "tools/kelvora/EngineOptions.h"
#include "tools/kelvora/EngineSession.h"
#include "tools/kelvora/FileBatch.h"
#include "tools/kelvora/LoopReport.h"
#include "tools/kelvora/OutputPaths.h"
#include "tools/kelvora/StagedFile.h"
#include "tools/kelvora/ViewCommand.h"
#include "tools/kelvora/ViewPage.h"
#include "tools/kelvora/WaveformSvg.h"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>

namespace KelvoraCli
{

namespace
{

constexpr int SvgWidth = 1200;
constexpr int SvgHeight = 360;

} // namespace

void AnalyseCommand::Register(CLI::App& app)
{
    command = app.add_subcommand(
        "analyse", "Find the slices of one or more loops and print each loop's slice table");
    command->alias("analyze");
    command
        ->add_option("FILE", files,
                     "Audio files (WAV, AIFF, FLAC, Ogg, ...) or folders of them ('-': stdin)")
        ->required()
        ->type_name("FILE");
    EngineOptions::AddAnalysis(*command, settings);
    command->add_flag("-a,--active-only", activeOnly,
                      "List only the slice points that cut the loop at this sensitivity");
    command->add_flag("--json", json, "Print one JSON array with a record per file instead");
    command
        ->add_option("--svg", svgPath,
                     "Draw the waveform with its slice markers into this SVG file (with "
                     "several inputs: a folder, or a name that gets each input's name "
                     "appended)")
        ->type_name("FILE");
    command
        ->add_option("--html", htmlPath,
                     "Write the interactive page of `kelvora view` into this HTML file (with "
                     "several inputs: a folder, or a name that gets each input's name appended)")
        ->type_name("FILE");
    command->footer("Example: kelvora analyse --json loop.wav > loop.json\n"
                    "  prints the slice table as JSON; render loop.wav --slices loop.json cuts "
                    "exactly there again.");
}

void AnalyseCommand::WriteSvg(const AudioFile& audio, const LoopReport& report,
                              const std::filesystem::path& path)
{
    StagedFile file(path);
    file.Write(WaveformSvg(SvgWidth, SvgHeight).Draw(audio, report));
    file.Commit();
}

int AnalyseCommand::Run()
{
    files = FileBatch::Expand(files);
    StagedFile::ProtectInputs(files);
    nlohmann::ordered_json records = nlohmann::ordered_json::array();
    std::optional<OutputPaths> svgPaths;
    std::error_code error;
    if (!svgPath.empty() && !std::filesystem::is_directory(svgPath, error))
    {
        std::string extension = std::filesystem::path(svgPath).extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (extension != ".svg" && !(files.size() > 1 && extension.empty()))
        {
            console.Error("--svg " + svgPath +
                          ": the picture is an SVG drawing; give a name that ends in .svg");
            return 2;
        }
    }
    if (!svgPath.empty())
        svgPaths.emplace(svgPath, files.size() > 1, "", ".svg");
    std::optional<OutputPaths> htmlPaths;
    if (!htmlPath.empty())
        htmlPaths.emplace(htmlPath, files.size() > 1, "", ".html");

    FileBatch batch(console, "analysing");
    batch.OnFailure(
        [&](const std::string& file, const std::string& message) {
            records.push_back({{"file", file}, {"error", message}});
        });
    const int status = batch.Run(files,
                                 [&](const std::string& file)
                                 {
                                     const AudioFile audio = batch.Load(file);
                                     EngineSession session(audio, settings, file);
                                     batch.Warn(file, session.Warnings());
                                     const LoopReport report = session.Report();
                                     if (svgPaths)
                                         WriteSvg(audio, report, svgPaths->For(file));
                                     if (htmlPaths)
                                         ViewCommand::WritePage(ViewPage(audio, report, settings),
                                                                htmlPaths->For(file));
                                     if (json)
                                     {
                                         records.push_back(report.ToJson());
                                         return;
                                     }
                                     console.EndProgress();
                                     report.PrintTable(std::cout, activeOnly);
                                     if (&file != &files.back())
                                         std::cout << "\n";
                                     std::cout.flush();
                                 });
    if (json)
        std::cout << records.dump(2) << std::endl;
    return status;
}

} // namespace KelvoraCli
