#pragma once

#include <cstdint>
#include <vector>

namespace DSP
{

struct DetectedTransient
{
    uint32_t position = 0; // samples from the start of the audio
    float strength = 0.0f; // (0, 1]
};

// Finds the transients of planar audio; `out` is cleared first and filled in fine-frame order.
void DetectTransients(uint32_t sampleRate, uint32_t channelCount, uint32_t length,
                      const float* const* channels, std::vector<DetectedTransient>& out,
                      float detectionWindowMs);

} // namespace DSP
