#pragma once

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

// The two inner loops of slice playback, built once for the baseline x86-64 instruction set and,
// where the processor has them, once with AVX2 and once with AVX-512 (F and VL). All versions do
// the same double-precision operations in the same order without contraction into fused
// multiply-adds, so every version gives the same bits; the choice only changes the speed.
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

enum class Path : uint32_t
{
    Baseline = 0,
    Avx2 = 1,
    Avx512 = 2,
};
constexpr uint32_t PathCount = 3;

// The versions for one path; both null when this processor cannot run it.
Functions ForPath(Path path);
// The fastest versions this processor runs, chosen when the library is loaded.
const Functions& Best();

} // namespace InterpolationKernel
} // namespace DSP
