// Everything a user can set on the engine from the command line. Unset optional values leave
// the choice to the tool (the loop's meter is estimated, see MeterChoice) or to the engine (the
// shaping defaults, the detection window).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace KelvoraCli
{

struct EngineSettings
{
    // A point cuts when its strength reaches (1 - sensitivity)^2. The engine starts at 0, where
    // nothing cuts; a tool that is asked to slice should slice, so it starts in the middle.
    static constexpr float DefaultSensitivity = 0.5f;
    // The engine's default of 0 lets a slice that plays shorter than its slot fall silent after a
    // 20 ms release, which at slower tempos leaves audible holes in any sustained bed (pads,
    // rides, room tone). Lengthening the release over the whole gap keeps the render continuous.
    static constexpr float DefaultTailExtension = 1.0f;

    // Analysis and meter.
    std::optional<float> sensitivity; // DefaultSensitivity, or the saved one with --slices JSON
    std::optional<float> detectionWindowMs;
    std::optional<float> loopTempo;
    // Set together with or without bars; when neither bars nor a loop tempo is given the meter
    // is chosen from the file name or the onsets.
    std::optional<uint32_t> bars;
    std::optional<uint32_t> beatsPerBar;
    uint32_t extraBeats = 0;
    uint32_t beatUnit = 4;

    // User-chosen cuts: a file of slice points, a musical grid (a division of the whole note,
    // 16 for sixteenths), and moving every active cut to the nearest zero crossing.
    std::string slicesFile;
    std::optional<uint32_t> gridDivision;
    bool snapToZeroCrossing = false;

    // Playback.
    std::optional<float> tempo;
    std::optional<float> transpose;
    std::optional<float> fineTune;
    std::optional<float> gainDb;
    std::optional<float> attackMs;
    std::optional<float> holdMs;
    std::optional<float> decayMs;
    std::optional<float> sustainDb;
    float tailExtension = DefaultTailExtension;
    std::optional<bool> tailFromSoundEnd;
    std::optional<float> tailLoopPosition;
    uint32_t outputSampleRate = 0; // 0: the source's rate
    uint32_t blockSize = 512;
};

} // namespace KelvoraCli
