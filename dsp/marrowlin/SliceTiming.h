#pragma once

#include "dsp/marrowlin/SourceAudio.h"

#include <cstdint>
#include <optional>

namespace DSP::Marrowlin
{

// The last frame before the slice's final 20 ms that is louder than twice the peak of those
// 20 ms; the slice start when there is none or the slice is too short.
uint32_t FindSoundEnd(uint32_t start, uint32_t length, const SourceAudio& source);

struct GateLengths
{
    uint32_t attack = 0;
    uint32_t hold = 0;
    uint32_t release = 0;
};

// Gate envelope of a slice of `length` source frames played transposed by `semitones` in a slot
// of `stretch` times its duration (no stretch: as long as it plays).
GateLengths ComputeGate(double semitones, uint32_t length, float srcRate, float outRate,
                        std::optional<double> stretch, double tailExtension,
                        bool extendByPlayTime);

} // namespace DSP::Marrowlin
