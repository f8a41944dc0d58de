#pragma once

#include <cstdint>

// Bulk float operations, aligned memory and the real FFT, as thin fronts over the primitive layer
// (dsp/foundation/Primitives.h). Element count first, then sources, then destination; a count of
// 0 does nothing. Statuses of the primitives are dropped: a null pointer or bad size leaves the
// destination untouched.
namespace DSP::VectorOps
{

void CopyBytes(uint32_t count, const uint8_t* source, uint8_t* destination);
void MoveFloats(uint32_t count, const float* source, float* destination);
void SetFloats(uint32_t count, float* destination, float value);
void ZeroFloats(uint32_t count, float* destination);
void AddFloatsInPlace(uint32_t count, const float* source, float* sourceDestination);
// A value of exactly 1.0 leaves the array untouched; exactly 0.0 writes +0.0 everywhere.
void ScaleFloatsInPlace(uint32_t count, float* sourceDestination, float value);

// 32-byte aligned blocks; null for a count <= 0 or when the heap is exhausted.
uint8_t* AlignedAllocBytes(int32_t count);
float* AlignedAllocFloats(int32_t count);
void AlignedFree(void* block);

} // namespace DSP::VectorOps
