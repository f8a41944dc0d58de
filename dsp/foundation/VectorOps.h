#pragma once

#include <cstdint>

// Bulk float operations and aligned memory, as thin fronts over the primitive layer
// (dsp/foundation/Primitives.h, which also holds the real FFT). Element count first, then
// sources, then destination; a count of 0 returns at once and touches no pointer. Statuses of the
// primitives are dropped: a null pointer leaves the destination untouched. The whole unsigned
// count is processed (the primitives take at most 2^31 - 1 elements per call).
namespace DSP::VectorOps
{

void CopyBytes(uint32_t count, const uint8_t* source, uint8_t* destination);
void MoveFloats(uint32_t count, const float* source, float* destination);
void SetFloats(uint32_t count, float* destination, float value);
void ZeroFloats(uint32_t count, float* destination);
void AddFloatsInPlace(uint32_t count, const float* source, float* sourceDestination);
// A value of exactly 1.0 leaves the array untouched; 0.0 (of either sign) writes +0.0 everywhere,
// NaNs and infinities included.
void ScaleFloatsInPlace(uint32_t count, float* sourceDestination, float value);

// 32-byte aligned blocks; null for a count <= 0 or when the heap is exhausted. Contents are not
// initialised. AlignedFree ignores null.
uint8_t* AlignedAllocBytes(int32_t count);
float* AlignedAllocFloats(int32_t count);
void AlignedFree(void* block);

} // namespace DSP::VectorOps
