#pragma once

#include "dsp/foundation/KernelPath.h"

#include <cstdint>

namespace DSP
{

// Where one output frame reads a slice: two neighbouring frames and their weights, for a run of
// frames, as parallel arrays so that the reads of a run can be done several frames at a time.
struct TapRun
{
    uint32_t* first;
    uint32_t* second;
    double* firstWeight;
    double* secondWeight;
};

// The two inner loops of slice playback, built once per KernelPath. All versions do the same
// double-precision operations in the same order without contraction into fused multiply-adds, so
// every version gives the same bits; the path only changes the speed. Any slice length up to
// 2^32 - 1 frames is handled by every version.
namespace InterpolationKernel
{

// Turns read heads (source frames from the slice start) into taps for a slice of `length`
// frames. A head before the slice (or NaN) reads its first frame; a head at or past its end
// reads the last frame.
using MakeTapsFunction = void (*)(uint32_t count, const double* heads, uint32_t length,
                                  const TapRun& taps);
// out[j] += gain[j] * (slice[first[j]] * firstWeight[j] + slice[second[j]] * secondWeight[j]),
// the sum of products in double precision, rounded to single before the gain. The taps must lie
// in a slice of `length` frames.
using InterpolateFunction = void (*)(uint32_t count, const float* slice, const TapRun& taps,
                                     const float* gain, float* out, uint32_t length);

struct Functions
{
    MakeTapsFunction makeTaps;
    InterpolateFunction interpolate;
};

// One tap's read, the rule every version follows: slice[first[j]] * firstWeight[j] +
// slice[second[j]] * secondWeight[j] in double precision, rounded to single.
inline float Read(const float* slice, const TapRun& taps, uint32_t j)
{
    return static_cast<float>(static_cast<double>(slice[taps.first[j]]) * taps.firstWeight[j] +
                              static_cast<double>(slice[taps.second[j]]) * taps.secondWeight[j]);
}

// The versions for `path`, which must be available on this processor (KernelPathAvailable).
Functions ForPath(KernelPath path);
// The versions of the active kernel path; cheap (one atomic load), real-time safe.
Functions Active();

} // namespace InterpolationKernel
} // namespace DSP
