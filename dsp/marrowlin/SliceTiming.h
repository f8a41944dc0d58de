#pragma once

#include "dsp/marrowlin/SourceAudio.h"

#include <cstdint>
#include <optional>

namespace DSP::Marrowlin
{

// Every double that becomes a frame position or length goes through here: rounds half away from
// zero and saturates, so NaN and anything below zero give 0 and anything above the u32 range
// gives UINT32_MAX instead of an undefined conversion.
uint32_t RoundToFrame(double value);

// The last frame before the slice's final 20 ms that is louder than twice the peak of those
// 20 ms; the slice start when there is none or the slice is too short. Frames past the end of
// the source count as silence, so a slice reaching beyond the audio is never read out of range.
uint32_t FindSoundEnd(uint32_t start, uint32_t length, const SourceAudio& source);

struct GateLengths
{
    uint32_t attack = 0;
    uint32_t hold = 0;
    uint32_t release = 0;
};

// Gate envelope of a slice of `length` source frames played transposed by `semitones` in a slot
// of `stretch` times its duration (no stretch, or 0: as long as it plays). All three lengths are
// output frames.
GateLengths ComputeGate(double semitones, uint32_t length, float srcRate, float outRate,
                        std::optional<double> stretch, double tailExtension, bool extendByPlayTime);

} // namespace DSP::Marrowlin
