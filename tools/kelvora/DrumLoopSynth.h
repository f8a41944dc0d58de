// A small, fully deterministic drum machine: kick, snare and closed hi-hat voices with their own
// decays, played from fixed patterns of sixteenths in 4/4, 3/4 or 6/8, straight or with a groove
// (swing, half-time, a pickup fill, a lead-in, played timing). The same arguments always give the
// same samples (the noise comes from an integer generator), so the demo and the tests have loops
// whose hits, tempo and bars are known exactly.
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

    // How the pattern is played. The default is the straight 4/4 loop.
    struct Groove
    {
        uint32_t beatsPerBar = 4; // 4 or 3 with beatUnit 4, or 6 with beatUnit 8
        uint32_t beatUnit = 4;
        // 0..1: how far the off-beat eighths and sixteenths lean towards the triplet position
        // (1 = full triplet swing). Ignored in 6/8, which is in threes already.
        double swing = 0.0;
        bool halfTime = false;      // 4/4 only: one snare per bar, on beat 3
        bool pickup = false;        // a snare fill on the last beat, leading into the loop start
        double leadInSeconds = 0.0; // silence before the first hit; the loop keeps its length
        uint32_t hatsPerBeat = 2;   // x/4 only: 0, 2 (eighths) or 4 (sixteenths); else 2
        // Each hit lands early or late by up to this much (0..0.05 s), as played by hand; the
        // same hit always moves the same way.
        double jitterSeconds = 0.0;
    };

    // bars of 4/4 at bpm; bars 1..64, bpm 30..300 and sampleRate 8000..384000 (clamped).
    DrumLoopSynth(uint32_t sampleRate, double bpm, uint32_t bars);
    // bars of groove's meter at bpm beats of that meter per minute (a 6/8 bpm counts eighths,
    // 30..600); an unknown meter falls back to 4/4, swing is clamped to 0..1, the lead-in to
    // 0..1 s.
    DrumLoopSynth(uint32_t sampleRate, double bpm, uint32_t bars, const Groove& groove);

    // Stereo loop: kick in the middle, snare a little left, hats a little right; peak -1 dBFS.
    AudioFile Render() const;

    const std::vector<Hit>& Hits() const { return hits; }
    // The frame a step starts at, rounded half away from zero.
    uint32_t StepFrame(uint32_t step) const;
    // Where a hit sounds: its step, moved by the swing, the played timing and the lead-in.
    uint32_t HitFrame(const Hit& hit) const;
    uint32_t FrameCount() const;

private:
    void AddVoice(AudioFile& audio, const Hit& hit) const;

    uint32_t sampleRate;
    double bpm;
    uint32_t bars;
    Groove groove;
    uint32_t stepsPerBar;
    std::vector<Hit> hits;
};

} // namespace KelvoraCli
