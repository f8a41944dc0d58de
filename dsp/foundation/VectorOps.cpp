#include "dsp/foundation/VectorOps.h"

#include <cstdlib>
#include <cstring>

// Plain versions; the primitive layer replaces them.
namespace DSP::VectorOps
{

void CopyBytes(uint32_t count, const uint8_t* source, uint8_t* destination)
{
    if (count && source && destination)
        std::memcpy(destination, source, count);
}

void MoveFloats(uint32_t count, const float* source, float* destination)
{
    if (count && source && destination)
        std::memmove(destination, source, count * sizeof(float));
}

void SetFloats(uint32_t count, float* destination, float value)
{
    if (destination)
        for (uint32_t i = 0; i < count; ++i)
            destination[i] = value;
}

void ZeroFloats(uint32_t count, float* destination)
{
    SetFloats(count, destination, 0.0f);
}

void AddFloatsInPlace(uint32_t count, const float* source, float* sourceDestination)
{
    if (source && sourceDestination)
        for (uint32_t i = 0; i < count; ++i)
            sourceDestination[i] += source[i];
}

void ScaleFloatsInPlace(uint32_t count, float* sourceDestination, float value)
{
    if (!sourceDestination || value == 1.0f)
        return;
    if (value == 0.0f)
    {
        ZeroFloats(count, sourceDestination);
        return;
    }
    for (uint32_t i = 0; i < count; ++i)
        sourceDestination[i] *= value;
}

uint8_t* AlignedAllocBytes(int32_t count)
{
    if (count <= 0)
        return nullptr;
    return static_cast<uint8_t*>(std::aligned_alloc(32, (static_cast<size_t>(count) + 31) / 32 * 32));
}

float* AlignedAllocFloats(int32_t count)
{
    if (count <= 0)
        return nullptr;
    return static_cast<float*>(
        std::aligned_alloc(32, (static_cast<size_t>(count) * 4 + 31) / 32 * 32));
}

void AlignedFree(void* block)
{
    std::free(block);
}

} // namespace DSP::VectorOps
