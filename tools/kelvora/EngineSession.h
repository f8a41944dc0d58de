// One engine working on one loop, set up from the command line's settings. Owns the engine and
// destroys it; the audio stays the caller's and must outlive the session, as the engine reads
// it in place.
//
// Setting up chooses the loop's meter (options, else a tempo in the file name, else an estimate
// from the detected onsets), takes the user's own cuts where given (a slice file or a grid,
// through the engine's host slice list), moves cuts to zero crossings on request, and folds a
// sliver of a first slice into the next one (a cut a few milliseconds after the loop start that
// would make a slice nobody can play). Every command, and anything else built on the session,
// therefore slices the same way.
#pragma once

#include "engine/KelvoraEngine.h"
#include "tools/kelvora/EngineSettings.h"
#include "tools/kelvora/LoopReport.h"
#include "tools/kelvora/SliceList.h"

#include <cstdint>
#include <string>
#include <vector>

namespace KelvoraCli
{

class AudioFile;

class EngineSession
{
public:
    // Creates the engine, hands it the loop (which runs the analysis unless the user's cuts make
    // it needless) and applies every setting. Throws ToolError naming `name` when the engine
    // cannot be created or a slice file cannot be used.
    EngineSession(const AudioFile& audio, const EngineSettings& settings, const std::string& name);
    ~EngineSession();

    EngineSession(const EngineSession&) = delete;
    EngineSession& operator=(const EngineSession&) = delete;

    LoopReport Report() const;
    // "tempo 120.0 BPM: 1 bar of 4/4, from the onsets": what the loop was taken to be, and why.
    const std::string& MeterSummary() const { return meter.summary; }
    // Things the user should know that did not stop the work (weak evidence for the meter).
    const std::vector<std::string>& Warnings() const { return warnings; }

    // One pass of the loop at the target tempo, in output frames.
    uint32_t RenderedLength() const;
    uint32_t OutputSampleRate() const;
    uint32_t ChannelCount() const { return channelCount; }
    // The output length the settings ask for, in seconds, worked out without the engine's 32-bit
    // frame counts: what a render would be before anything checks whether it can be written.
    double RequestedSeconds() const;

    // Starts looped playback from the loop's start (again from the same state when repeated).
    void Start();
    // Fills frameCount frames of one buffer per source channel.
    void Render(uint32_t frameCount, float** outputs);

private:
    float** Loop() const;
    void SetCuts(const std::vector<SliceList::Point>& cuts);
    double TempoOf(const MeterChoice& choice) const; // of the loop's length as that meter
    void TakeSavedMeter(const SliceList::Saved& saved);
    void ChooseMeter(const EngineSettings& settings);
    void CutOnGrid(const EngineSettings& settings);
    void ApplyAnalysisSettings(const EngineSettings& settings);
    void ApplyPlaybackSettings(const EngineSettings& settings);
    void SnapToZeroCrossings();
    uint32_t SliverFrames() const;
    void FoldSliverLeadIn();
    bool IsActive(const VoKelvora::SliceInfo& info, uint32_t index) const;
    std::vector<VoKelvora::SliceInfo> Points() const;
    std::vector<LoopReport::Region> ActiveRegions() const;

    VoKelvora::KelvoraEngine* engine = nullptr;
    const float* const* channels;
    std::string name;
    uint32_t channelCount;
    uint32_t frameCount;
    uint32_t sampleRate;
    LoopReport::MeterSource meter;
    std::optional<float> savedSensitivity;
    bool cutsFromAnalysis = true;
    std::vector<bool> disabled;        // per point: switched off by this session
    std::vector<bool> foundByAnalysis; // per point of a saved analysis: detected, not edited
    std::vector<std::string> warnings;
};

} // namespace KelvoraCli
