#pragma once

#include "dsp/marrowlin/SlicePoint.h"

#include <cstdint>
#include <vector>

namespace DSP::Marrowlin
{

// Where the loop may be cut, and how strict the cut is.
struct SlicePoints
{
    float sensitivity = 0.0f; // a point passes when strength >= (1 - sensitivity)^2
    uint8_t useMarkers = 0;
    uint8_t useDetected = 0;
    uint8_t useUser = 0;
    std::vector<SlicePoint> points;
    uint32_t regionStart = 0; // first source frame of the loop region
    uint32_t regionEnd = 0;   // source frame just past the loop region
};

} // namespace DSP::Marrowlin
