// A small, fully deterministic drum machine: kick, snare and closed hi-hat voices with their own
// decays, played from a fixed sixteen-step pattern. The same arguments always give the same
// samples (the noise comes from an integer generator), so the demo and the tests have a loop
// whose hits are known exactly.
#pragma once

#include "tools/kelvora/AudioFile.h"

#include <cstdint>
#include <vector>

namespace KelvoraCli
{

class DrumLoopSynth
{
public:
    enum class Voice
    {
        Kick,
        Snare,
        HiHat
    };

    struct Hit
    {
        uint32_t step; // sixteenth note from the loop start
        Voice voice;
        float velocity;
    };

    // bars of 4/4 at bpm; bars 1..64, bpm 30..300 and sampleRate 8000..384000 (clamped).
    DrumLoopSynth(uint32_t sampleRate, double bpm, uint32_t bars);

    // Stereo loop: kick in the middle, snare a little left, hats a little right; peak -1 dBFS.
    AudioFile Render() const;

    const std::vector<Hit>& Hits() const { return hits; }
    // The frame a step starts at, rounded half away from zero.
    uint32_t StepFrame(uint32_t step) const;
    uint32_t FrameCount() const;

private:
    void AddVoice(AudioFile& audio, const Hit& hit) const;

    uint32_t sampleRate;
    double bpm;
    uint32_t bars;
    std::vector<Hit> hits;
};

} // namespace KelvoraCli
