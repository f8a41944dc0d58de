#pragma once

#include <cstdint>

// The primitive layer under VectorOps: every operation returns a status code and never throws.
namespace DSP::Primitives
{

enum Status : int32_t
{
    StatusOk = 0,
    StatusBadSize = -6,
    StatusNullPointer = -8,
    StatusMemoryAllocation = -9,
    StatusFftOrderOutOfRange = -15,
    StatusFftFlagInvalid = -16,
    StatusNotAnFftPlan = -17,
};

// Scaling flags of FftCreate.
enum FftScaling : int32_t
{
    FftDivideForwardByN = 1,
    FftDivideInverseByN = 2,
    FftDivideBySqrtN = 4,
    FftNoDivide = 8,
};

enum FftHint : int32_t
{
    FftHintFast = 1,
};

struct FftPlan; // opaque real-FFT plan for N = 2^order

int32_t FftCreate(FftPlan** out, int32_t order, int32_t scaling, int32_t hint);
// Work buffer size in bytes: 0 when the plan needs none (N <= 8), else its need + 16.
int32_t FftWorkSize(const FftPlan* plan, int32_t* bytes);
// Forward transform of N reals into N + 2 floats packed as CCS (Re0, 0, Re1, Im1, ..., ReN/2, 0).
// Source and destination may be the same array (N + 2 floats). A null work buffer makes the call
// take and release a temporary one.
int32_t FftForward(const float* source, float* destination, const FftPlan* plan, uint8_t* work);
// Inverse transform of a CCS spectrum into N reals; Im0 and ImN/2 are never read.
int32_t FftInverse(const float* source, float* destination, const FftPlan* plan, uint8_t* work);
int32_t FftFree(FftPlan* plan);

} // namespace DSP::Primitives
