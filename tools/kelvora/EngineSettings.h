// Everything a user can set on the engine from the command line. Unset optional values leave
// the engine's own choice in place (the analysis picks the loop tempo, the shaping defaults come
// from the engine, and so on).
#pragma once

#include <cstdint>
#include <optional>

namespace KelvoraCli
{

struct EngineSettings
{
    // Analysis and meter.
    // A point cuts when its strength reaches (1 - sensitivity)^2. The engine starts at 0, where
    // nothing cuts; a tool that is asked to slice should slice, so it starts in the middle.
    float sensitivity = 0.5f;
    std::optional<float> detectionWindowMs;
    std::optional<float> loopTempo;
    uint32_t bars = 2;
    uint32_t extraBeats = 0;
    uint32_t beatsPerBar = 4;
    uint32_t beatUnit = 4;

    // Playback.
    std::optional<float> tempo;
    std::optional<float> transpose;
    std::optional<float> fineTune;
    std::optional<float> gainDb;
    std::optional<float> attackMs;
    std::optional<float> holdMs;
    std::optional<float> decayMs;
    std::optional<float> sustainDb;
    std::optional<float> tailExtension;
    std::optional<bool> tailFromSoundEnd;
    std::optional<float> tailLoopPosition;
    uint32_t outputSampleRate = 0; // 0: the source's rate
    uint32_t blockSize = 512;
};

} // namespace KelvoraCli
