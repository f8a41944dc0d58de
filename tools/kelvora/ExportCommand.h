// `kelvora export FILE --dir DIR`: each loop's active slices as audio files of their own, a
// MIDI file that plays them back in place (one note per slice at the loop's tempo), and an SFZ
// instrument that maps those notes to the slice files.
#pragma once

#include "tools/kelvora/EngineSettings.h"

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

namespace KelvoraCli
{

class AudioFile;
class AudioFormat;
class Console;
class MidiFile;
struct LoopReport;

class ExportCommand
{
public:
    static constexpr uint16_t TicksPerQuarter = 480;

    explicit ExportCommand(Console& console);

    void Register(CLI::App& app);
    bool Chosen() const { return command && command->parsed(); }
    int Run();

    // One note per region of the report, key baseNote upwards, at the loop's own tempo.
    // Throws ToolError when the notes would run past key 127.
    static MidiFile SliceMidi(const LoopReport& report, uint8_t baseNote, int format);

private:
    void ExportFile(const std::string& file);
    void WriteSlices(const std::string& file, const AudioFile& audio, const LoopReport& report,
                     const MidiFile& midi, const AudioFormat& format);

    Console& console;
    CLI::App* command = nullptr;
    std::vector<std::string> files;
    std::string folder;
    std::string formatExtension = "wav";
    EngineSettings settings;
    int bitDepth = 0;
    int midiFormat = 1;
    int baseNote = 36;
};

} // namespace KelvoraCli
