#include "tools/kelvora/ExportCommand.h"

#include "tools/kelvora/AudioFile.h"
#include "tools/kelvora/AudioFormat.h"
#include "tools/kelvora/AudioWriter.h"
#include "tools/kelvora/Console.h"
#include "tools/kelvora/EngineOptions.h"
#include "tools/kelvora/EngineSession.h"
#include "tools/kelvora/FileBatch.h"
#include "tools/kelvora/Interruption.h"
#include "tools/kelvora/LoopReport.h"
#include "tools/kelvora/MidiFile.h"
#include "tools/kelvora/OptionChecks.h"
#include "tools/kelvora/SfzMap.h"
#include "tools/kelvora/StagedFile.h"
#include "tools/kelvora/ToolError.h"

#include <cmath>
#include <cstring>
#include <iostream>
#include <memory>
#include <set>

namespace KelvoraCli
{

namespace
{

constexpr uint8_t NoteVelocity = 100;

// Ticks from the loop start for a source frame, at the loop's own tempo, rounded half away from
// zero. Exact frame positions map to exact tick positions; only the rounding is lost.
uint32_t TickOf(uint64_t frame, const LoopReport& report, double bpm)
{
    const double quartersPerBeat = 4.0 / report.beatUnit;
    const double seconds = static_cast<double>(frame) / report.sampleRate;
    const double ticks = seconds * bpm / 60.0 * quartersPerBeat * ExportCommand::TicksPerQuarter;
    return static_cast<uint32_t>(
        std::min(std::floor(ticks + 0.5), double(MidiFile::MaxVariableLength)));
}

std::string Numbered(size_t number, size_t count)
{
    const int width = std::max<int>(2, static_cast<int>(std::to_string(count).size()));
    std::string text = std::to_string(number);
    return std::string(static_cast<size_t>(std::max<int>(0, width - int(text.size()))), '0') + text;
}

} // namespace

ExportCommand::ExportCommand(Console& out) : console(out) {}

void ExportCommand::Register(CLI::App& app)
{
    command = app.add_subcommand(
        "export", "Write each loop's slices as audio files, with a MIDI file and an SFZ map");
    command->add_option("FILE", files, "Audio files to slice")->required()->type_name("FILE");
    command->add_option("-d,--dir", folder, "Folder for the exported files (created if missing)")
        ->required()
        ->type_name("DIR");
    command
        ->add_option("--format", formatExtension,
                     "Slice file format: wav, aiff, flac, ogg, w64, rf64 or caf")
        ->capture_default_str();
    command
        ->add_option("-b,--bit-depth", bitDepth,
                     "16 or 24 (integer) or 32 (float); default: 32-bit float, 24-bit for FLAC")
        ->check(CLI::IsMember({16, 24, 32}));
    command->add_option("--midi-format", midiFormat, "Standard MIDI File format, 0 or 1")
        ->check(CLI::IsMember({0, 1}))
        ->capture_default_str();
    command->add_option("--base-note", baseNote, "MIDI key of the first slice (36 = C1)")
        ->check(OptionChecks::Integer(0, 127))
        ->capture_default_str();
    EngineOptions::AddAnalysis(*command, settings);
}

MidiFile ExportCommand::SliceMidi(const LoopReport& report, uint8_t baseNote, int format)
{
    const size_t count = report.regions.size();
    if (baseNote + count > 128)
        throw ToolError::About(
            report.file, std::to_string(count) + " slices do not fit on the MIDI keys from " +
                             std::to_string(baseNote) + " up; lower --base-note or --sensitivity");
    const double bpm = report.loopTempo > 0.0f && std::isfinite(report.loopTempo)
                           ? static_cast<double>(report.loopTempo)
                           : 120.0;
    const std::string name = std::filesystem::path(report.file).stem().string();

    MidiFile midi(TicksPerQuarter);
    const size_t conductor = midi.AddTrack(name);
    const size_t notes = format == 0 ? conductor : midi.AddTrack(name + " slices");
    midi.AddTempo(conductor, 0, MidiFile::MicrosecondsPerQuarter(bpm, report.beatUnit));
    midi.AddTimeSignature(conductor, 0, static_cast<uint8_t>(std::min(report.beatsPerBar, 255u)),
                          report.beatUnit);
    for (size_t i = 0; i < count; ++i)
    {
        const LoopReport::Region& region = report.regions[i];
        const uint32_t start = TickOf(region.start, report, bpm);
        const uint32_t end = TickOf(uint64_t(region.start) + region.length, report, bpm);
        midi.AddNote(notes, 0, static_cast<uint8_t>(baseNote + i), NoteVelocity, start, end);
    }
    return midi;
}

void ExportCommand::ExportFile(const std::string& file)
{
    const std::filesystem::path dir(folder);
    const std::string stem = std::filesystem::path(file).stem().string();
    // Checked before the work: a bad format or bit depth should not cost an analysis.
    const AudioFormat format = AudioFormat::ForPath(dir / (stem + "." + formatExtension), bitDepth);

    AudioFile audio = AudioFile::Read(file);
    EngineSession session(audio, settings, file);
    const LoopReport report = session.Report();
    const MidiFile midi = SliceMidi(report, static_cast<uint8_t>(baseNote), midiFormat);

    // The folder is made only now, so an input that fails early leaves no empty folder behind,
    // and removed again if this export made it and then failed.
    std::error_code error;
    const bool folderExisted = std::filesystem::exists(dir, error);
    std::filesystem::create_directories(dir, error);
    if (error || !std::filesystem::is_directory(dir))
        throw ToolError::About(folder, "cannot create output folder: " +
                                           (error ? error.message() : std::string("not a folder")));
    try
    {
        WriteSlices(file, audio, report, midi, format);
    }
    catch (...)
    {
        if (!folderExisted)
            std::filesystem::remove(dir, error); // only succeeds while it is empty
        throw;
    }
}

void ExportCommand::WriteSlices(const std::string& file, const AudioFile& audio,
                                const LoopReport& report, const MidiFile& midi,
                                const AudioFormat& format)
{
    const std::filesystem::path dir(folder);
    const std::string stem = std::filesystem::path(file).stem().string();

    SfzMap sfz("Slices of " + std::filesystem::path(file).filename().string() + ", " +
               std::to_string(report.regions.size()) + " keys from " + std::to_string(baseNote));
    // Everything is staged first and renamed at the end, so a failure leaves no partial set.
    std::vector<std::unique_ptr<AudioWriter>> slices;
    for (size_t i = 0; i < report.regions.size(); ++i)
    {
        Interruption::Check();
        const LoopReport::Region& region = report.regions[i];
        const std::string name =
            stem + "-slice" + Numbered(i + 1, report.regions.size()) + "." + format.Extension();
        slices.push_back(std::make_unique<AudioWriter>(dir / name, audio.ChannelCount(),
                                                       audio.SampleRate(), format));
        const AudioFile part = audio.Excerpt(region.start, region.length);
        slices.back()->Write(part.ChannelPointers(), part.FrameCount());
        slices.back()->Finish();
        sfz.AddRegion(name, static_cast<uint8_t>(baseNote + i));
    }
    StagedFile midiFile(dir / (stem + ".mid"));
    midiFile.Write(midi.Serialise(midiFormat));
    StagedFile sfzFile(dir / (stem + ".sfz"));
    sfzFile.Write(sfz.Text());

    for (auto& slice : slices)
        slice->Commit();
    midiFile.Commit();
    sfzFile.Commit();

    console.EndProgress();
    std::cout << file << ": " << report.regions.size()
              << (report.regions.size() == 1 ? " slice" : " slices") << " -> "
              << (dir / (stem + "-slice*." + format.Extension())).string() << ", "
              << (dir / (stem + ".mid")).string() << ", " << (dir / (stem + ".sfz")).string()
              << std::endl;
}

int ExportCommand::Run()
{
    std::set<std::string> stems;
    FileBatch batch(console, "exporting");
    return batch.Run(files,
                     [&](const std::string& file)
                     {
                         const std::string stem = std::filesystem::path(file).stem().string();
                         if (!stems.insert(stem).second)
                             throw ToolError::About(file, "an earlier input named '" + stem +
                                                              "' already exported into " + folder);
                         ExportFile(file);
                     });
}

} // namespace KelvoraCli
