// `kelvora render FILE -o OUT --tempo BPM`: the loop played by the engine at another tempo,
// block by block through Transport and Render, for a number of passes.
#pragma once

#include "tools/kelvora/AudioFormat.h"
#include "tools/kelvora/Command.h"
#include "tools/kelvora/EngineSettings.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace KelvoraCli
{

class EngineSession;

class RenderCommand : public Command
{
public:
    using Command::Command;

    void Register(CLI::App& app) override;
    int Run() override;

    struct Result
    {
        uint64_t frames;    // passes x the engine's rendered length
        AudioFormat format; // as requested, or RF64 for a WAV too large for its sizes
        uint64_t clippedSamples;
        float peak; // largest magnitude written, 1 = full scale
    };

    // Plays `passes` passes of the session's loop into `path` (StagedFile::StandardStream for
    // stdout), scaled to a -1 dBFS peak when `normalize`. Refuses, before writing anything, a
    // render longer than a day or larger than the format or the disk can take. Throws ToolError
    // naming `name` or the output.
    static Result RenderLoop(EngineSession& session, const std::string& name, uint32_t passes,
                             bool normalize, const std::filesystem::path& path,
                             const AudioFormat& format, Console& console, uint32_t blockSize);

    // "loop-90bpm" style name suffix for a tempo.
    static std::string TempoSuffix(float bpm);

private:
    std::vector<std::string> files;
    std::string output;
    std::string formatExtension = "wav";
    EngineSettings settings;
    uint32_t passes = 1;
    int bitDepth = 0;
    bool normalize = false;
};

} // namespace KelvoraCli
