// The command-line options that set the engine, shared by the subcommands that use them.
#pragma once

#include "tools/kelvora/EngineSettings.h"

#include <CLI/CLI.hpp>

namespace KelvoraCli
{

class EngineOptions
{
public:
    // Sensitivity, detection window, meter and loop tempo.
    static void AddAnalysis(CLI::App& command, EngineSettings& settings);
    // Pitch, gain, envelope, tail, output rate and block size (not the target tempo, which
    // each command words in its own way).
    static void AddPlayback(CLI::App& command, EngineSettings& settings);
    // The target tempo, required where given.
    static CLI::Option* AddTempo(CLI::App& command, EngineSettings& settings, bool required);
};

} // namespace KelvoraCli
