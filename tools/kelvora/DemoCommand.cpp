#include "tools/kelvora/DemoCommand.h"

#include "tools/kelvora/AnalyseCommand.h"
#include "tools/kelvora/AudioFile.h"
#include "tools/kelvora/AudioFormat.h"
#include "tools/kelvora/Console.h"
#include "tools/kelvora/DrumLoopSynth.h"
#include "tools/kelvora/EngineSession.h"
#include "tools/kelvora/Interruption.h"
#include "tools/kelvora/LoopReport.h"
#include "tools/kelvora/RenderCommand.h"
#include "tools/kelvora/ToolError.h"

#include <cstdio>
#include <filesystem>
#include <iostream>

namespace KelvoraCli
{

namespace
{

constexpr uint32_t DemoSampleRate = 44100;
constexpr uint32_t DemoBars = 2;
const char* const LoopName = "drum-loop";

std::string Seconds(uint64_t frames, uint32_t rate)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(frames) / rate);
    return text;
}

} // namespace

void DemoCommand::Register(CLI::App& app)
{
    command = app.add_subcommand(
        "demo", "Synthesise a drum loop, slice it, and render it at two other tempos");
    command->add_option("-d,--dir", folder, "Folder for the demo's files (created if missing)")
        ->capture_default_str()
        ->type_name("DIR");
    command->footer("Example: kelvora demo --dir my-demo\n"
                    "  needs no input and shows what the tool does in a few seconds.");
}

int DemoCommand::Run()
{
    try
    {
        const std::filesystem::path dir(folder);
        std::error_code error;
        std::filesystem::create_directories(dir, error);
        if (error || !std::filesystem::is_directory(dir))
            throw ToolError::About(folder,
                                   "cannot create output folder: " +
                                       (error ? error.message() : std::string("not a folder")));

        console.Progress("synthesising the drum loop");
        const DrumLoopSynth synth(DemoSampleRate, LoopTempo, DemoBars);
        AudioFile audio = synth.Render();
        const std::filesystem::path loopPath = dir / (std::string(LoopName) + ".wav");
        const AudioFormat wav = AudioFormat::ForPath(loopPath, AudioFormat::DefaultBitDepth);
        audio.Write(loopPath, wav);

        console.Progress("analysing the drum loop");
        EngineSettings settings;
        LoopReport report = EngineSession(audio, settings, loopPath.string()).Report();
        console.EndProgress();
        std::cout << "A " << DemoBars << "-bar drum loop at " << LoopTempo << " BPM ("
                  << synth.Hits().size() << " drum hits), sliced by the engine:\n\n";
        report.PrintTable(std::cout, true);
        std::cout << "\n";

        const std::filesystem::path svgPath = dir / (std::string(LoopName) + ".svg");
        AnalyseCommand::WriteSvg(audio, report, svgPath);

        std::cout << "Wrote into " << dir.string() << "/:\n";
        std::cout << "  " << loopPath.filename().string() << "  the loop, "
                  << Seconds(audio.FrameCount(), audio.SampleRate()) << ", " << wav.Describe()
                  << "\n";
        for (const float tempo : {SlowTempo, FastTempo})
        {
            EngineSettings playback = settings;
            playback.tempo = tempo;
            const std::filesystem::path path =
                dir / (std::string(LoopName) + RenderCommand::TempoSuffix(tempo) + ".wav");
            EngineSession session(audio, playback, loopPath.string());
            const RenderCommand::Result result = RenderCommand::RenderLoop(
                session, loopPath.string(), 1, false, path, wav, console, playback.blockSize);
            console.EndProgress();
            std::cout << "  " << path.filename().string() << "  played at " << tempo << " BPM, "
                      << Seconds(result.frames, audio.SampleRate()) << "\n";
        }
        std::cout << "  " << svgPath.filename().string()
                  << "  waveform with slice markers (active ones in red)\n";
        return 0;
    }
    catch (const ToolError& error)
    {
        console.Error(error.what());
        return Interruption::Requested() ? Interruption::ExitStatus() : 1;
    }
}

} // namespace KelvoraCli
