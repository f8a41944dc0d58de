#include "tools/kelvora/RenderCommand.h"

#include "tools/kelvora/AudioFile.h"
#include "tools/kelvora/AudioFormat.h"
#include "tools/kelvora/AudioWriter.h"
#include "tools/kelvora/Console.h"
#include "tools/kelvora/EngineOptions.h"
#include "tools/kelvora/EngineSession.h"
#include "tools/kelvora/FileBatch.h"
#include "tools/kelvora/Interruption.h"
#include "tools/kelvora/OptionChecks.h"
#include "tools/kelvora/OutputPaths.h"
#include "tools/kelvora/ToolError.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <limits>

namespace KelvoraCli
{

RenderCommand::RenderCommand(Console& out) : console(out) {}

void RenderCommand::Register(CLI::App& app)
{
    command = app.add_subcommand(
        "render", "Play loops at another tempo through the engine and write the result");
    command->add_option("FILE", files, "Audio files to render")->required()->type_name("FILE");
    command
        ->add_option("-o,--output", output,
                     "Output file; its extension picks the format (.wav, .aiff, .flac, .ogg, ...). "
                     "A folder gets <name>-<tempo>bpm.<format> per input")
        ->required()
        ->type_name("OUT");
    EngineOptions::AddTempo(*command, settings, true);
    command->add_option("-p,--passes", passes, "How many times the loop plays")
        ->check(OptionChecks::Integer(1, 1000))
        ->capture_default_str();
    command
        ->add_option("-b,--bit-depth", bitDepth,
                     "16 or 24 (integer) or 32 (float); default: 32-bit float, 24-bit for FLAC")
        ->check(CLI::IsMember({16, 24, 32}));
    command
        ->add_option("--format", formatExtension,
                     "File format when OUT is a folder: wav, aiff, flac, ogg, w64, rf64 or caf")
        ->capture_default_str();
    EngineOptions::AddAnalysis(*command, settings);
    EngineOptions::AddPlayback(*command, settings);
}

std::string RenderCommand::TempoSuffix(float bpm)
{
    char text[48];
    std::snprintf(text, sizeof text, "-%gbpm", static_cast<double>(bpm));
    return text;
}

uint64_t RenderCommand::RenderLoop(AudioFile& audio, const EngineSettings& settings,
                                   const std::string& name, uint32_t passes,
                                   const std::filesystem::path& path, const AudioFormat& format,
                                   Console& console)
{
    EngineSession session(audio, settings, name);
    const uint64_t total = uint64_t(session.RenderedLength()) * passes;
    if (total == 0)
        throw ToolError::About(name, "the engine renders nothing for this loop");
    if (total > std::numeric_limits<uint32_t>::max())
        throw ToolError::About(name, "the render would be " + std::to_string(total) +
                                         " frames, more than " +
                                         std::to_string(std::numeric_limits<uint32_t>::max()));

    const uint32_t channels = session.ChannelCount();
    const uint32_t block = std::max<uint32_t>(settings.blockSize, 1);
    std::vector<std::vector<float>> buffers(channels, std::vector<float>(block, 0.0f));
    std::vector<float*> pointers;
    for (auto& buffer : buffers)
        pointers.push_back(buffer.data());

    AudioWriter writer(path, channels, session.OutputSampleRate(), format);
    session.Start();
    const std::string label = "rendering " + name;
    uint64_t done = 0;
    while (done < total)
    {
        const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(block, total - done));
        Interruption::Check();
        session.Render(count, pointers.data());
        writer.Write(pointers.data(), count);
        done += count;
        console.Percent(label, done, total);
    }
    writer.Commit();
    return total;
}

int RenderCommand::Run()
{
    const std::string extension = "." + formatExtension;
    OutputPaths paths(output, files.size() > 1, TempoSuffix(settings.tempo.value_or(0.0f)),
                      extension);
    FileBatch batch(console, "rendering");
    return batch.Run(files,
                     [&](const std::string& file)
                     {
                         const std::filesystem::path path = paths.For(file);
                         // The format is checked before the input is read: a wrong name should
                         // not cost an analysis.
                         const AudioFormat format = AudioFormat::ForPath(path, bitDepth);
                         AudioFile audio = AudioFile::Read(file);
                         const uint64_t frames =
                             RenderLoop(audio, settings, file, passes, path, format, console);
                         console.EndProgress();
                         std::cout << file << " -> " << path.string() << ": " << frames
                                   << " frames at " << *settings.tempo << " BPM ("
                                   << format.Describe() << ")" << std::endl;
                     });
}

} // namespace KelvoraCli
