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

#include <cctype>
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

void ExportCommand::Register(CLI::App& app)
{
    command = app.add_subcommand(
        "export", "Write each loop's slices as audio files, with a MIDI file and an SFZ map");
    command->add_option("FILE", files, "Audio files or folders of them to slice ('-': stdin)")
        ->required()
        ->type_name("FILE");
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
    command->add_flag("--cues", withCues,
                      "Also write <name>-cues.wav: the whole loop with a WAV cue marker where each "
                      "slice starts");
    EngineOptions::AddAnalysis(*command, settings);
    command->footer("Example: kelvora export loop.wav --dir slices --cues\n"
                    "  writes slices/loop-slice01.wav ..., loop.mid, loop.sfz and loop-cues.wav; "
                    "an earlier export of loop.wav there is replaced.");
}

ExportCommand::SliceKey ExportCommand::KeyFor(size_t index, size_t count, uint8_t baseNote)
{
    const size_t keys = 128u - std::min<size_t>(baseNote, 127);
    if (count <= keys)
        return {true, 0, static_cast<uint8_t>(baseNote + index)};
    // One bank of keys per MIDI channel: channel 1 plays the first slices, channel 2 the next.
    const size_t channel = index / keys;
    if (channel >= MidiChannels)
        return {false, 0, 0};
    return {true, static_cast<uint8_t>(channel + 1), static_cast<uint8_t>(baseNote + index % keys)};
}

MidiFile ExportCommand::SliceMidi(const LoopReport& report, uint8_t baseNote, int format)
{
    const size_t count = report.regions.size();
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
        const SliceKey key = KeyFor(i, count, baseNote);
        if (!key.mapped)
            break;
        const LoopReport::Region& region = report.regions[i];
        const uint32_t start = TickOf(region.start, report, bpm);
        const uint32_t end = TickOf(uint64_t(region.start) + region.length, report, bpm);
        midi.AddNote(notes, static_cast<uint8_t>(key.channel > 0 ? key.channel - 1 : 0), key.key,
                     NoteVelocity, start, end);
    }
    return midi;
}

void ExportCommand::ExportFile(const std::string& file, FileBatch& batch)
{
    const std::filesystem::path dir(folder);
    const std::string stem = OutputStem(file);
    // Checked before the work: a bad format or bit depth should not cost an analysis.
    const AudioFormat format = AudioFormat::ForPath(dir / (stem + "." + formatExtension), bitDepth);
    const AudioFormat cueFormat = AudioFormat::ForPath(dir / (stem + ".wav"), bitDepth);

    const AudioFile audio = batch.Load(file);
    EngineSession session(audio, settings, file);
    batch.Warn(file, session.Warnings());
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
        WriteSlices(file, audio, report, midi, format, cueFormat, session.MeterSummary());
    }
    catch (...)
    {
        if (!folderExisted)
            std::filesystem::remove(dir, error); // only succeeds while it is empty
        throw;
    }
}

std::string ExportCommand::OutputStem(const std::string& file)
{
    return SfzMap::SafeName(file == "-" ? std::string("stdin")
                                        : std::filesystem::path(file).stem().string());
}

void ExportCommand::WriteSlices(const std::string& file, const AudioFile& audio,
                                const LoopReport& report, const MidiFile& midi,
                                const AudioFormat& format, const AudioFormat& cueFormat,
                                const std::string& meterSummary)
{
    const std::filesystem::path dir(folder);
    const std::string stem = OutputStem(file);
    const size_t count = report.regions.size();

    const SliceKey last = KeyFor(count - 1, count, static_cast<uint8_t>(baseNote));
    const std::string keys =
        last.channel > 0 ? Counted(count, "slice") + " on keys " + std::to_string(baseNote) +
                               " to 127 of MIDI channels 1 to " + std::to_string(last.channel)
                         : Counted(count, "key") + " from " + std::to_string(baseNote);
    SfzMap sfz("Slices of " + std::filesystem::path(file).filename().string() + ", " + keys);
    // Everything is staged first and renamed at the end, so a failure leaves no partial set.
    std::vector<std::unique_ptr<AudioWriter>> slices;
    std::set<std::string> names;
    size_t unmapped = 0;
    for (size_t i = 0; i < count; ++i)
    {
        Interruption::Check();
        const LoopReport::Region& region = report.regions[i];
        const std::string name =
            stem + "-slice" + Numbered(i + 1, count) + "." + format.Extension();
        names.insert(name);
        slices.push_back(std::make_unique<AudioWriter>(dir / name, audio.ChannelCount(),
                                                       audio.SampleRate(), format));
        const AudioFile part = audio.Excerpt(region.start, region.length);
        slices.back()->Write(part.ChannelPointers(), part.FrameCount());
        slices.back()->Finish();
        const SliceKey key = KeyFor(i, count, static_cast<uint8_t>(baseNote));
        if (key.mapped)
            sfz.AddRegion(name, key.key, key.channel);
        else
            ++unmapped;
    }
    std::unique_ptr<AudioWriter> cues;
    if (withCues)
    {
        // The whole loop with a marker where each slice starts, for editors and samplers that
        // slice by markers themselves.
        cues = std::make_unique<AudioWriter>(dir / (stem + "-cues.wav"), audio.ChannelCount(),
                                             audio.SampleRate(), cueFormat);
        std::vector<uint32_t> starts;
        for (const LoopReport::Region& region : report.regions)
            starts.push_back(region.start);
        cues->SetCues(starts);
        cues->Write(audio.ChannelPointers(), audio.FrameCount());
        cues->Finish();
    }
    StagedFile midiFile(dir / (stem + ".mid"));
    midiFile.Write(midi.Serialise(midiFormat));
    StagedFile sfzFile(dir / (stem + ".sfz"));
    sfzFile.Write(sfz.Text());

    for (auto& slice : slices)
        slice->Commit();
    if (cues)
        cues->Commit();
    midiFile.Commit();
    sfzFile.Commit();
    const size_t removed = RemoveEarlierSlices(dir, stem, names);

    console.EndProgress();
    std::cout << file << ": " << meterSummary << "\n"
              << file << ": " << Counted(count, "slice") << " -> "
              << (dir / (stem + "-slice*." + format.Extension())).string() << ", "
              << (dir / (stem + ".mid")).string() << ", " << (dir / (stem + ".sfz")).string();
    if (cues)
        std::cout << ", " << (dir / (stem + "-cues.wav")).string();
    if (removed > 0)
        std::cout << " (removed " << Counted(removed, "slice file") << " of an earlier export)";
    std::cout << std::endl;
    if (last.channel > 0)
        console.Warning(file + ": " + Counted(count, "slice") + " do not fit on the " +
                        Counted(128u - baseNote, "key") + " from " + std::to_string(baseNote) +
                        " up; the MIDI file and the SFZ use one bank of keys per MIDI channel, " +
                        "channels 1 to " + std::to_string(last.channel));
    if (unmapped > 0)
        console.Warning(file + ": " + Counted(unmapped, "slice") +
                        " past MIDI channel 16 have files but no key; lower --sensitivity");
}

size_t ExportCommand::RemoveEarlierSlices(const std::filesystem::path& dir, const std::string& stem,
                                          const std::set<std::string>& keep)
{
    // Only names this command writes for this input: <stem>-slice<digits>.<audio extension>.
    const std::string prefix = stem + "-slice";
    size_t removed = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error))
    {
        const std::string name = entry.path().filename().string();
        if (keep.count(name) || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const size_t dot = name.find('.', prefix.size());
        if (dot == std::string::npos || dot == prefix.size())
            continue;
        const bool digits = std::all_of(name.begin() + static_cast<long>(prefix.size()),
                                        name.begin() + static_cast<long>(dot),
                                        [](unsigned char c) { return std::isdigit(c); });
        bool audio = false;
        if (digits && entry.is_regular_file(error) && !entry.is_symlink(error))
        {
            try
            {
                AudioFormat::ForPath(entry.path(), AudioFormat::DefaultBitDepth);
                audio = true;
            }
            catch (const ToolError&)
            {
            }
        }
        if (audio && !StagedFile::IsProtected(entry.path()) &&
            std::filesystem::remove(entry.path(), error))
            ++removed;
    }
    return removed;
}

int ExportCommand::Run()
{
    files = FileBatch::Expand(files);
    StagedFile::ProtectInputs(files);
    std::set<std::string> stems;
    FileBatch batch(console, "exporting");
    return batch.Run(files,
                     [&](const std::string& file)
                     {
                         const std::string stem = OutputStem(file);
                         if (!stems.insert(stem).second)
                             throw ToolError::About(file, "an earlier input named '" + stem +
                                                              "' already exported into " + folder);
                         ExportFile(file, batch);
                     });
}

} // namespace KelvoraCli
