#pragma once

#include <cstdint>

namespace DSP::Marrowlin
{

// Per-slice envelope, tail, pitch and gain settings.
struct ShapingSettings
{
    float attackMs = 0.0f;
    float holdMs = 0.0f;
    float decayMs = 0.0f;
    float sustainLevel = 0.0f; // linear
    float tailExtension = 0.0f;
    float tailLoopPosition = 0.0f;
    uint8_t tailFromSoundEnd = 1;
    float semitones = 0.0f;
    float cents = 0.0f;
    float gainDb = 0.0f;
};

} // namespace DSP::Marrowlin
