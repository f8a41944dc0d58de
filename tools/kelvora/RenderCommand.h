// `kelvora render FILE -o OUT --tempo BPM`: the loop played by the engine at another tempo,
// block by block through Transport and Render, for a number of passes.
#pragma once

#include "tools/kelvora/EngineSettings.h"

#include <CLI/CLI.hpp>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace KelvoraCli
{

class AudioFile;
class AudioFormat;
class Console;

class RenderCommand
{
public:
    explicit RenderCommand(Console& console);

    void Register(CLI::App& app);
    bool Chosen() const { return command && command->parsed(); }
    int Run();

    // Plays `passes` passes of the loop at the settings' tempo into `path`. Returns the number
    // of frames written: passes x the engine's rendered length. Throws ToolError naming `name`
    // or the output.
    static uint64_t RenderLoop(AudioFile& audio, const EngineSettings& settings,
                               const std::string& name, uint32_t passes,
                               const std::filesystem::path& path, const AudioFormat& format,
                               Console& console);

    // "loop-90bpm" style name suffix for a tempo.
    static std::string TempoSuffix(float bpm);

private:
    Console& console;
    CLI::App* command = nullptr;
    std::vector<std::string> files;
    std::string output;
    std::string formatExtension = "wav";
    EngineSettings settings;
    uint32_t passes = 1;
    int bitDepth = 0;
};

} // namespace KelvoraCli
