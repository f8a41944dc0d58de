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
    command
        .add_option("-s,--sensitivity", settings.sensitivity,
                    "Slice sensitivity, 0 to 1: a slice point cuts the loop when its strength "
                    "reaches (1 - sensitivity)^2. 0 cuts nowhere, 1 everywhere")
        ->check(OptionChecks::Number(0.0, 1.0))
        ->capture_default_str();
    AddOptional(command, "-w,--detection-window", settings.detectionWindowMs,
                "Transient detection window in milliseconds; wider windows keep fewer, stronger "
                "hits (default 75)",
                OptionChecks::Number(0.0, 1000.0));
    command.add_option("--bars", settings.bars, "Whole bars in the loop")
        ->check(OptionChecks::Integer(1, 1024))
        ->capture_default_str();
    command.add_option("--beats-per-bar", settings.beatsPerBar, "Beats in one bar")
        ->check(OptionChecks::Integer(1, 64))
        ->capture_default_str();
    command.add_option("--beat-unit", settings.beatUnit, "Note value of one beat (4 = quarter)")
        ->check(CLI::IsMember({1u, 2u, 4u, 8u, 16u, 32u}))
        ->capture_default_str();
    command.add_option("--extra-beats", settings.extraBeats, "Beats after the whole bars")
        ->check(OptionChecks::Integer(0, 63))
        ->capture_default_str();
    AddOptional(command, "--loop-tempo", settings.loopTempo,
                "The loop's own tempo in BPM, instead of deriving it from meter and length",
                OptionChecks::Number(0.0, MaxTempo, true));
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
    AddOptional(command, "--tail-extension", settings.tailExtension,
                "Share (0 to 1) of the silence after a short slice by which its release is "
                "lengthened",
                OptionChecks::Number(0.0, 1.0));
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
