#include "tools/kelvora/RenderCommand.h"

#include "tools/kelvora/AudioFile.h"
#include "tools/kelvora/AudioFormat.h"
#include "tools/kelvora/AudioWriter.h"
#include "tools/kelvora/Console.h"
#include "tools/kelvora/EngineOptions.h"
#include "tools/kelvora/EngineSession.h"
#include "tools/kelvora/FileBatch.h"
#include "tools/kelvora/Interruption.h"
#include "tools/kelvora/NumberText.h"
#include "tools/kelvora/OptionChecks.h"
#include "tools/kelvora/OutputPaths.h"
#include "tools/kelvora/StagedFile.h"
#include "tools/kelvora/ToolError.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <limits>
#include <sys/statvfs.h>

namespace KelvoraCli
{

namespace
{

// Longer than any musical use; a render past it is a mistyped tempo, not a wish.
constexpr double MaxRenderHours = 24.0;
// --normalize brings the peak to -1 dBFS, leaving room for converters that overshoot.
constexpr double NormalizedPeakDb = -1.0;

std::string Decibels(float level)
{
    char text[32];
    std::snprintf(text, sizeof text, "%+.1f dBFS", 20.0 * std::log10(std::max(level, 1e-30f)));
    return text;
}

// Refuses, before anything is written, a render that could not be finished: longer than any
// musical use, more frames than one file can count, or more bytes than the format or the disk
// can take. Returns the format that can hold it.
AudioFormat CheckRenderSize(const EngineSession& session, uint32_t passes,
                            const std::filesystem::path& path, const AudioFormat& format,
                            const std::string& name)
{
    const double seconds = session.RequestedSeconds() * passes;
    if (seconds > MaxRenderHours * 3600.0)
    {
        char text[96];
        std::snprintf(text, sizeof text, "the render would last %.0f hours, more than %.0f",
                      seconds / 3600.0, MaxRenderHours);
        throw ToolError::About(name, std::string(text) + "; check --tempo and --passes");
    }
    const uint64_t total = uint64_t(session.RenderedLength()) * passes;
    if (total == 0)
        throw ToolError::About(name, "the engine renders nothing for this loop");
    if (total > std::numeric_limits<uint32_t>::max())
        throw ToolError::About(name, "the render would be " + std::to_string(total) +
                                         " frames, more than " +
                                         std::to_string(std::numeric_limits<uint32_t>::max()));
    const AudioFormat holding = format.Holding(total, session.ChannelCount(), name);
    const uint64_t bytes = holding.DataBytes(total, session.ChannelCount());
    const std::filesystem::path folder =
        path == StagedFile::StandardStream
            ? std::filesystem::temp_directory_path()
            : (path.has_parent_path() ? path.parent_path() : std::filesystem::path("."));
    struct statvfs space
    {
    };
    if (statvfs(folder.c_str(), &space) == 0)
    {
        const uint64_t free = uint64_t(space.f_bavail) * space.f_frsize;
        if (bytes > free)
            throw ToolError::About(name, "the render needs " + Gigabytes(bytes) + ", but only " +
                                             Gigabytes(free) + " are free in " + folder.string());
    }
    return holding;
}

} // namespace

void RenderCommand::Register(CLI::App& app)
{
    command = app.add_subcommand(
        "render", "Play loops at another tempo through the engine and write the result");
    command->add_option("FILE", files, "Audio files or folders of them to render ('-': stdin)")
        ->required()
        ->type_name("FILE");
    command
        ->add_option("-o,--output", output,
                     "Output file; its extension picks the format (.wav, .aiff, .flac, .ogg, ...). "
                     "A folder gets <name>-<tempo>bpm.<format> per input; '-' writes to stdout")
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
    command->add_flag("--normalize", normalize,
                      "Scale the render so its peak is at -1 dBFS (integer formats clip above 0)");
    command
        ->add_option("--format", formatExtension,
                     "File format when OUT is a folder or '-': wav, aiff, flac, ogg, w64, rf64 or "
                     "caf")
        ->capture_default_str();
    EngineOptions::AddAnalysis(*command, settings);
    EngineOptions::AddPlayback(*command, settings);
    command->footer("Example: kelvora render loop.wav -o loop-90.wav --tempo 90\n"
                    "  plays loop.wav at 90 BPM; its own tempo is read from the file name or "
                    "found from its onsets (or give --bars or --loop-tempo).");
}

std::string RenderCommand::TempoSuffix(float bpm)
{
    char text[48];
    std::snprintf(text, sizeof text, "-%gbpm", static_cast<double>(bpm));
    return text;
}

RenderCommand::Result RenderCommand::RenderLoop(EngineSession& session, const std::string& name,
                                                uint32_t passes, bool normalize,
                                                const std::filesystem::path& path,
                                                const AudioFormat& requestedFormat,
                                                Console& console, uint32_t blockSize)
{
    const AudioFormat format = CheckRenderSize(session, passes, path, requestedFormat, name);
    const uint64_t total = uint64_t(session.RenderedLength()) * passes;
    const uint32_t channels = session.ChannelCount();
    const uint32_t block = std::max<uint32_t>(blockSize, 1);
    std::vector<std::vector<float>> buffers(channels, std::vector<float>(block, 0.0f));
    std::vector<float*> pointers;
    for (auto& buffer : buffers)
        pointers.push_back(buffer.data());

    // Plays the whole render once, handing every block to `use`.
    const auto play = [&](const std::string& label, const auto& use)
    {
        session.Start();
        for (uint64_t done = 0; done < total;)
        {
            const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(block, total - done));
            Interruption::Check();
            session.Render(count, pointers.data());
            use(count);
            done += count;
            console.Percent(label, done, total);
        }
    };

    float gain = 1.0f;
    if (normalize)
    {
        // A first pass finds the peak; starting again plays the same samples.
        float peak = 0.0f;
        play("measuring " + name,
             [&](uint32_t count)
             {
                 for (const float* channel : pointers)
                     for (uint32_t i = 0; i < count; ++i)
                         peak = std::max(peak, std::fabs(channel[i]));
             });
        if (peak > 0.0f)
            gain = static_cast<float>(std::pow(10.0, NormalizedPeakDb / 20.0) / peak);
    }

    AudioWriter writer(path, channels, session.OutputSampleRate(), format);
    writer.SetGain(gain);
    play("rendering " + name, [&](uint32_t count) { writer.Write(pointers.data(), count); });
    writer.Commit();
    return {total, format, writer.ClippedSamples(), writer.Peak()};
}

int RenderCommand::Run()
{
    files = FileBatch::Expand(files);
    StagedFile::ProtectInputs(files);
    const bool toStandardOutput = output == StagedFile::StandardStream;
    if (toStandardOutput && files.size() > 1)
    {
        console.Error("-o -: standard output takes one render; give one input");
        return 2;
    }
    const std::string extension = "." + formatExtension;
    OutputPaths paths(output, files.size() > 1, TempoSuffix(settings.tempo.value_or(0.0f)),
                      extension);
    FileBatch batch(console, "rendering");
    return batch.Run(
        files,
        [&](const std::string& file)
        {
            const std::filesystem::path path = paths.For(file);
            // The format is checked before the input is read: a wrong name should not cost an
            // analysis.
            const AudioFormat format = AudioFormat::ForPath(
                toStandardOutput ? std::filesystem::path("stdout" + extension) : path, bitDepth);
            const AudioFile audio = batch.Load(file);
            EngineSession session(audio, settings, file);
            batch.Warn(file, session.Warnings());
            const Result result = RenderLoop(session, file, passes, normalize, path, format,
                                             console, settings.blockSize);
            console.EndProgress();
            // With the audio on stdout, the words go to stderr.
            std::ostream& out = toStandardOutput ? std::cerr : std::cout;
            out << file << ": " << session.MeterSummary() << "\n"
                << file << " -> " << (toStandardOutput ? "stdout" : path.string()) << ": "
                << Counted(result.frames, "frame") << " at " << *settings.tempo << " BPM ("
                << result.format.Describe() << ")" << std::endl;
            if (result.clippedSamples > 0)
                console.Warning(path.string() + ": " + Counted(result.clippedSamples, "sample") +
                                " clipped at full scale (peak " + Decibels(result.peak) +
                                "); use --normalize, --gain or a float output");
        });
}

} // namespace KelvoraCli
