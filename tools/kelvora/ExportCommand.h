// `kelvora export FILE --dir DIR`: each loop's active slices as audio files of their own, a
// MIDI file that plays them back in place (one note per slice at the loop's tempo), and an SFZ
// instrument that maps those notes to the slice files.
#pragma once

#include "tools/kelvora/Command.h"
#include "tools/kelvora/EngineSettings.h"

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace KelvoraCli
{

class AudioFile;
class AudioFormat;
class FileBatch;
class MidiFile;
struct LoopReport;

class ExportCommand : public Command
{
public:
    static constexpr uint16_t TicksPerQuarter = 480;

    using Command::Command;

    void Register(CLI::App& app) override;
    int Run() override;

    static constexpr size_t MidiChannels = 16;

    // Where slice `index` of `count` sits on the keyboard: keys from baseNote up; when there are
    // more slices than keys, one bank of those keys per MIDI channel (channel 1..16), and past
    // channel 16 nowhere (mapped false).
    struct SliceKey
    {
        bool mapped;
        uint8_t channel; // 0: any channel, the slices fit on one
        uint8_t key;
    };
    static SliceKey KeyFor(size_t index, size_t count, uint8_t baseNote);

    // One note per mapped region of the report, at the loop's own tempo.
    static MidiFile SliceMidi(const LoopReport& report, uint8_t baseNote, int format);

private:
    static std::string OutputStem(const std::string& file);
    void ExportFile(const std::string& file, FileBatch& batch);
    void WriteSlices(const std::string& file, const AudioFile& audio, const LoopReport& report,
                     const MidiFile& midi, const AudioFormat& format, const AudioFormat& cueFormat,
                     const std::string& meterSummary);
    // Deletes the slice files of an earlier export of the same input that this one did not
    // write again; returns how many.
    static size_t RemoveEarlierSlices(const std::filesystem::path& dir, const std::string& stem,
                                      const std::set<std::string>& keep);

    std::vector<std::string> files;
    std::string folder;
    std::string formatExtension = "wav";
    EngineSettings settings;
    int bitDepth = 0;
    int midiFormat = 1;
    int baseNote = 36;
    bool withCues = false;
};

} // namespace KelvoraCli
