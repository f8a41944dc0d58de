#pragma once

#include <cstdint>

namespace DSP::Marrowlin
{

enum SlicePointKind : uint32_t
{
    Marker = 0,
    Detected = 1,
    User = 2,
};

// One candidate cut of the loop. The defaults are those of a point the host creates.
struct SlicePoint
{
    uint32_t kind = User;
    uint32_t sourcePosition = 0; // source frame where the point was found
    uint32_t position = 0;       // source frame at which the point cuts
    uint32_t outputPosition = 0; // output frame of a pinned point (derived from tickPosition)
    float tickPosition = -1.0f;  // ticks from the loop start; -1 means not pinned
    uint8_t forceOn = 0;
    uint8_t conditional = 0;
    uint8_t forceOff = 0;
    uint8_t lockedOn = 0; // wins over forceOff
    uint8_t deleted = 0;  // wins over everything
    float strength = 1.0f;
};

} // namespace DSP::Marrowlin
