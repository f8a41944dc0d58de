#pragma once

#include <cstdint>

namespace DSP::Marrowlin
{

// One playable slice of the loop's playback plan. A new record is all zero.
struct RenderSlice
{
    uint32_t sourceStart = 0;  // first source frame
    uint32_t sourceLength = 0; // source frames, > 0
    uint32_t soundEnd = 0;     // absolute source frame where the slice's sound has died away
    uint32_t outputStart = 0;  // frame on the output timeline
    uint8_t pinned = 0;        // placed by its tick position instead of by the stretch
    uint32_t ampAttack = 0;    // amplitude envelope stages, output frames
    uint32_t ampHold = 0;
    uint32_t ampDecay = 0;
    float ampSustain = 0.0f;
    double initialRate = 0.0;   // source frames per output frame
    uint32_t tailLoopStart = 0; // frames from sourceStart
    uint32_t tailCrossfade = 0; // source frames
    uint32_t gateAttack = 0;    // gate envelope stages, output frames
    uint32_t gateHold = 0;
    uint32_t gateRelease = 0;
};

} // namespace DSP::Marrowlin
