// One engine working on one loop, set up from the command line's settings. Owns the engine and
// destroys it; the audio stays the caller's and must outlive the session, as the engine reads
// it in place.
#pragma once

#include "engine/KelvoraEngine.h"
#include "tools/kelvora/EngineSettings.h"
#include "tools/kelvora/LoopReport.h"

#include <cstdint>
#include <string>

namespace KelvoraCli
{

class AudioFile;

class EngineSession
{
public:
    // Creates the engine, hands it the loop (which runs the analysis) and applies every
    // setting. Throws ToolError naming `name` when the engine cannot be created.
    EngineSession(AudioFile& audio, const EngineSettings& settings, const std::string& name);
    ~EngineSession();

    EngineSession(const EngineSession&) = delete;
    EngineSession& operator=(const EngineSession&) = delete;

    LoopReport Report() const;

    // One pass of the loop at the target tempo, in output frames.
    uint32_t RenderedLength() const;
    uint32_t OutputSampleRate() const;
    uint32_t ChannelCount() const { return channelCount; }

    // Starts looped playback from the loop's start.
    void Start();
    // Fills frameCount frames of one buffer per source channel.
    void Render(uint32_t frameCount, float** outputs);

private:
    void ApplyAnalysisSettings(const EngineSettings& settings);
    void ApplyPlaybackSettings(const EngineSettings& settings);
    std::vector<LoopReport::Region> ActiveRegions() const;

    VoKelvora::KelvoraEngine* engine = nullptr;
    std::string name;
    uint32_t channelCount;
    uint32_t frameCount;
    uint32_t sampleRate;
};

} // namespace KelvoraCli
