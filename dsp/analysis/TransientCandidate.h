#pragma once

#include <cstdint>

namespace DSP
{

// The best onset found for one fine analysis frame. Entry i of a candidate list stands for the
// sample position i * hopFine + offset.
struct TransientCandidate
{
    float strength = 0.0f;
    // Samples after the frame start. For small hops this can be a small negative number stored
    // modulo 2^32, so it is read back as a signed value when positions are formed.
    uint32_t offset = 0;
};

} // namespace DSP
