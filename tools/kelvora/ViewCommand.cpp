#include "tools/kelvora/ViewCommand.h"

#include "tools/kelvora/AudioFile.h"
#include "tools/kelvora/Console.h"
#include "tools/kelvora/EngineOptions.h"
#include "tools/kelvora/EngineSession.h"
#include "tools/kelvora/FileBatch.h"
#include "tools/kelvora/LoopReport.h"
#include "tools/kelvora/OutputPaths.h"
#include "tools/kelvora/StagedFile.h"
#include "tools/kelvora/ViewPage.h"

#include <cstdio>
#include <iostream>

namespace KelvoraCli
{

void ViewCommand::Register(CLI::App& app)
{
    command = app.add_subcommand(
        "view", "Write an HTML page per loop that shows its slices and plays them, offline");
    command
        ->add_option("FILE", files,
                     "Audio files (WAV, AIFF, FLAC, Ogg, ...) or folders of them ('-': stdin)")
        ->required()
        ->type_name("FILE");
    command
        ->add_option("-o,--output", outputPath,
                     "The page to write (default: <input name>.html in the current folder; with "
                     "several inputs: a folder, or a name that gets each input's name appended)")
        ->type_name("OUT.html");
    EngineOptions::AddAnalysis(*command, settings);
    command->footer("Example: kelvora view loop.wav -o loop.html\n"
                    "  writes the page; open it in a browser to hear each slice and try other "
                    "sensitivities.");
}

void ViewCommand::WritePage(const ViewPage& page, const std::filesystem::path& path)
{
    StagedFile file(path);
    file.Write(page.Html());
    file.Commit();
}

int ViewCommand::Run()
{
    files = FileBatch::Expand(files);
    StagedFile::ProtectInputs(files);
    OutputPaths paths(outputPath.empty() ? std::filesystem::path(".")
                                         : std::filesystem::path(outputPath),
                      files.size() > 1, "", ".html");
    FileBatch batch(console, "writing pages for");
    return batch.Run(files,
                     [&](const std::string& file)
                     {
                         const std::filesystem::path path = paths.For(file);
                         const AudioFile audio = batch.Load(file);
                         EngineSession session(audio, settings, file);
                         batch.Warn(file, session.Warnings());
                         const LoopReport report = session.Report();
                         const ViewPage page(audio, report, settings);
                         WritePage(page, path);
                         char size[96];
                         std::snprintf(size, sizeof size, "%.1f MB with the audio as %s WAV",
                                       page.Html().size() / 1e6,
                                       page.AudioBitDepth() == 32   ? "32-bit float"
                                       : page.AudioBitDepth() == 24 ? "24-bit"
                                                                    : "16-bit");
                         console.EndProgress();
                         std::cout << file << ": " << session.MeterSummary() << "\n"
                                   << file << " -> " << path.lexically_normal().string() << ": "
                                   << Counted(report.slices.size(), "slice point") << ", "
                                   << report.ActiveCount() << " active, " << size << std::endl;
                     });
}

} // namespace KelvoraCli
