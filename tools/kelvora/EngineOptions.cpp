#include "tools/kelvora/EngineOptions.h"

#include "tools/kelvora/OptionChecks.h"

namespace KelvoraCli
{

namespace
{

constexpr double MaxTempo = 10000.0;

template <typename T>
void AddOptional(CLI::App& command, const std::string& name, std::optional<T>& target,
                 const std::string& help, const CLI::Validator& check)
{
    command
        .add_option_function<T>(
            name, [&target](const T& value) { target = value; }, help)
        ->check(check);
}

} // namespace

void EngineOptions::AddAnalysis(CLI::App& command, EngineSettings& settings)
{
    AddOptional(command, "-s,--sensitivity", settings.sensitivity,
                "Slice sensitivity, 0 to 1: a slice point cuts the loop when its strength "
                "reaches (1 - sensitivity)^2. 0 cuts nowhere, 1 everywhere (default 0.5)",
                OptionChecks::Number(0.0, 1.0));
    AddOptional(command, "-w,--detection-window", settings.detectionWindowMs,
                "Transient detection window in milliseconds; wider windows keep fewer, stronger "
                "hits (default 75)",
                OptionChecks::Number(0.0, 1000.0));
    AddOptional(command, "--bars", settings.bars,
                "Whole bars in the loop. Without --bars or --loop-tempo the meter comes from a "
                "tempo in the file name (loop_128bpm.wav), else from the onsets",
                OptionChecks::Integer(1, 1024));
    AddOptional(command, "--beats-per-bar", settings.beatsPerBar, "Beats in one bar (default 4)",
                OptionChecks::Integer(1, 64));
    command.add_option("--beat-unit", settings.beatUnit, "Note value of one beat (4 = quarter)")
        ->check(CLI::IsMember({1u, 2u, 4u, 8u, 16u, 32u}))
        ->capture_default_str();
    command.add_option("--extra-beats", settings.extraBeats, "Beats after the whole bars")
        ->check(OptionChecks::Integer(0, 63))
        ->capture_default_str();
    AddOptional(command, "--loop-tempo", settings.loopTempo,
                "The loop's own tempo in BPM, instead of finding it",
                OptionChecks::Number(0.0, MaxTempo, true));
    CLI::Option* slices =
        command
            .add_option("--slices", settings.slicesFile,
                        "Cut where this file says instead of analysing: the JSON of analyse --json "
                        "(restores its points, edits, meter and sensitivity exactly) or a CSV/text "
                        "file of frame positions")
            ->type_name("FILE");
    command
        .add_option_function<std::string>(
            "--grid",
            [&settings](const std::string& text)
            { settings.gridDivision = static_cast<uint32_t>(std::stoul(text.substr(2))); },
            "Cut on a musical grid of the loop's meter instead of at its onsets, e.g. 1/16")
        ->check(CLI::IsMember({"1/1", "1/2", "1/4", "1/8", "1/16", "1/32", "1/64"}))
        ->type_name("1/N")
        ->excludes(slices);
    command
        .add_option_function<std::string>(
            "--snap", [&settings](const std::string&) { settings.snapToZeroCrossing = true; },
            "zero-crossing: move every active cut to the nearest zero crossing within 2 ms, "
            "so slices start without a click")
        ->check(CLI::IsMember({"zero-crossing"}))
        ->type_name("zero-crossing");
}

void EngineOptions::AddPlayback(CLI::App& command, EngineSettings& settings)
{
    AddOptional(command, "--transpose", settings.transpose, "Transposition in semitones",
                OptionChecks::Number(-48.0, 48.0));
    AddOptional(command, "--fine-tune", settings.fineTune, "Fine tune in cents",
                OptionChecks::Number(-100.0, 100.0));
    AddOptional(command, "--gain", settings.gainDb, "Output gain of every slice in dB",
                OptionChecks::Number(-96.0, 24.0));
    AddOptional(command, "--attack", settings.attackMs, "Slice envelope attack in ms",
                OptionChecks::Number(0.0, 10000.0));
    AddOptional(command, "--hold", settings.holdMs, "Slice envelope hold in ms",
                OptionChecks::Number(0.0, 10000.0));
    AddOptional(command, "--decay", settings.decayMs, "Slice envelope decay in ms",
                OptionChecks::Number(0.0, 10000.0));
    AddOptional(command, "--sustain", settings.sustainDb,
                "Slice envelope sustain level in dB (-80 or below: silence)",
                OptionChecks::Number(-400.0, 0.0));
    command
        .add_option("--tail-extension", settings.tailExtension,
                    "Share (0 to 1) of the silence after a slice that plays shorter than its "
                    "place by which its release is lengthened; the default 1 keeps beds and "
                    "room sound continuous at slow tempos, 0 leaves gaps")
        ->check(OptionChecks::Number(0.0, 1.0))
        ->capture_default_str();
    command
        .add_option_function<bool>(
            "--tail-from-sound-end",
            [&settings](const bool& value) { settings.tailFromSoundEnd = value; },
            "on: a slice's tail loop starts where its sound ends; off: at --tail-loop-position "
            "(default on)")
        ->type_name("on|off");
    AddOptional(command, "--tail-loop-position", settings.tailLoopPosition,
                "Where the tail loop starts when not from the sound end, 0 (slice end) to 1 "
                "(slice start)",
                OptionChecks::Number(0.0, 1.0));
    command
        .add_option("--output-rate", settings.outputSampleRate,
                    "Sample rate of the rendered audio in Hz (default: the input's rate)")
        ->check(OptionChecks::Integer(1000, 768000));
    command.add_option("--block-size", settings.blockSize, "Frames rendered per engine call")
        ->check(OptionChecks::Integer(1, 65536))
        ->capture_default_str();
}

CLI::Option* EngineOptions::AddTempo(CLI::App& command, EngineSettings& settings, bool required)
{
    CLI::Option* option =
        command
            .add_option_function<float>(
                "-t,--tempo", [&settings](const float& value) { settings.tempo = value; },
                "Target tempo in BPM")
            ->check(OptionChecks::Number(0.0, MaxTempo, true));
    option->required(required);
    return option;
}

} // namespace KelvoraCli
