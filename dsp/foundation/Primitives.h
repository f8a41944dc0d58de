#pragma once

#include <cstddef>
#include <cstdint>

// The primitive layer under VectorOps: every operation returns a status code and never throws.
// Outputs are left untouched whenever a status other than StatusOk is returned. Pointer arguments
// are checked before counts, so a null pointer with a count of 0 reports StatusNullPointer.
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

// Algorithm hints of FftCreate. Every hint computes the same transform. Fast plans keep their
// passes in a work buffer of 8 * N bytes (+ 16) and run autosorting radix-4 passes; compact plans
// work in place in the destination, need no work buffer and keep root tables of about 2 * sqrt(N)
// entries (under a megabyte at order 30).
// Any value other than FftHintCompact means fast. Orders above 27 are always compact because their
// work buffer would not be expressible as a 32-bit byte count.
enum FftHint : int32_t
{
    FftHintFast = 1,
    FftHintCompact = 2,
};

// Bulk float and byte operations: element count first, then sources, then destination.
// StatusNullPointer for a null pointer, StatusBadSize for a count <= 0.
// CopyBytes tolerates overlapping ranges; MoveFloats gives the result of copying through a
// temporary for any overlap. AddFloatsInPlace adds in index order. ScaleFloatsInPlace is a plain
// multiplication (the exact 1.0 and 0.0 rules belong to VectorOps).
int32_t CopyBytes(int32_t count, const uint8_t* source, uint8_t* destination);
int32_t MoveFloats(int32_t count, const float* source, float* destination);
int32_t SetFloats(int32_t count, float* destination, float value);
int32_t ZeroFloats(int32_t count, float* destination);
int32_t AddFloatsInPlace(int32_t count, const float* source, float* sourceDestination);
int32_t ScaleFloatsInPlace(int32_t count, float* sourceDestination, float value);

// 32-byte aligned blocks from the general heap. The raw heap address is kept in the pointer-sized
// word just below the returned address. Null when count <= 0, when count * itemSize (plus the
// alignment slack) does not fit in a size_t, or when the heap is exhausted.
void* AlignedAllocate(size_t count, size_t itemSize);
uint8_t* AlignedAllocBytes(int32_t count);
float* AlignedAllocFloats(int32_t count);
// Releases a block from any of the allocators above; null is ignored.
void AlignedFree(void* block);

struct FftPlan; // opaque real-FFT plan for N = 2^order

// Status: StatusNullPointer for a null out, StatusFftOrderOutOfRange for an order outside 0..30,
// StatusFftFlagInvalid for a scaling other than the four flags, StatusMemoryAllocation when the
// plan cannot be built (then *out is left untouched).
int32_t FftCreate(FftPlan** out, int32_t order, int32_t scaling, int32_t hint);
// Work buffer size in bytes: 0 when the plan needs none (N <= 8 and compact plans), else its
// need + 16 bytes of alignment slack.
int32_t FftWorkSize(const FftPlan* plan, int32_t* bytes);
// Forward transform of N reals into N + 2 floats packed as CCS (Re0, 0, Re1, Im1, ..., ReN/2, 0).
// Source and destination may be the same array (N + 2 floats). A null work buffer makes the call
// take and release a temporary one; a given buffer is first rounded up to 16 bytes.
// For N = 1 the destination is {x0, 0, 0}: X0 followed by the two imaginary slots that CCS always
// zeroes (entry 1 and entry N + 1).
int32_t FftForward(const float* source, float* destination, const FftPlan* plan, uint8_t* work);
// Inverse transform of a CCS spectrum into N reals; Im0 and ImN/2 are never read.
int32_t FftInverse(const float* source, float* destination, const FftPlan* plan, uint8_t* work);
int32_t FftFree(FftPlan* plan);

// Forward transforms of FftBatchLanes signals of one plan side by side: sample i of signal l at
// source[FftBatchLanes * i + l], CCS entry j of its spectrum at destination[FftBatchLanes * j + l].
// Each signal gets the bits FftForward gives it alone, at a fraction of the cost for short
// transforms. Source and destination must not overlap. Work memory as for FftForward, sized by
// FftBatchWorkSize (StatusBadSize when that would not fit in an int32_t; a null work buffer still
// works then).
constexpr int32_t FftBatchLanes = 16;
int32_t FftBatchWorkSize(const FftPlan* plan, int32_t* bytes);
int32_t FftForwardBatch(const float* source, float* destination, const FftPlan* plan,
                        uint8_t* work);

} // namespace DSP::Primitives
