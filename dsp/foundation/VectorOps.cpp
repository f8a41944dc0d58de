#include "dsp/foundation/VectorOps.h"

#include "dsp/foundation/Primitives.h"

#include <algorithm>

namespace DSP::VectorOps
{
namespace
{

// The primitives count in signed 32 bits; longer runs are handed over in pieces.
constexpr uint32_t kLargestPiece = 0x7FFFFFFFu;

template <typename Operation> void InPieces(uint32_t count, Operation operation)
{
    for (uint32_t done = 0; done < count;)
    {
        const uint32_t piece = std::min(count - done, kLargestPiece);
        operation(done, static_cast<int32_t>(piece));
        done += piece;
    }
}

} // namespace

void CopyBytes(uint32_t count, const uint8_t* source, uint8_t* destination)
{
    if (count == 0 || !source || !destination)
        return;
    InPieces(count, [&](uint32_t offset, int32_t piece)
             { Primitives::CopyBytes(piece, source + offset, destination + offset); });
}

void MoveFloats(uint32_t count, const float* source, float* destination)
{
    if (count == 0 || !source || !destination)
        return;
    if (count <= kLargestPiece)
    {
        Primitives::MoveFloats(static_cast<int32_t>(count), source, destination);
        return;
    }
    // Pieces in the direction of the move, so that no piece overwrites source floats that a
    // later piece still has to read.
    if (reinterpret_cast<uintptr_t>(destination) <= reinterpret_cast<uintptr_t>(source))
    {
        InPieces(count, [&](uint32_t offset, int32_t piece)
                 { Primitives::MoveFloats(piece, source + offset, destination + offset); });
        return;
    }
    for (uint32_t end = count; end > 0;)
    {
        const uint32_t piece = std::min(end, kLargestPiece);
        end -= piece;
        Primitives::MoveFloats(static_cast<int32_t>(piece), source + end, destination + end);
    }
}

void SetFloats(uint32_t count, float* destination, float value)
{
    if (count == 0 || !destination)
        return;
    InPieces(count, [&](uint32_t offset, int32_t piece)
             { Primitives::SetFloats(piece, destination + offset, value); });
}

void ZeroFloats(uint32_t count, float* destination)
{
    if (count == 0 || !destination)
        return;
    InPieces(count, [&](uint32_t offset, int32_t piece)
             { Primitives::ZeroFloats(piece, destination + offset); });
}

void AddFloatsInPlace(uint32_t count, const float* source, float* sourceDestination)
{
    if (count == 0 || !source || !sourceDestination)
        return;
    InPieces(count, [&](uint32_t offset, int32_t piece)
             { Primitives::AddFloatsInPlace(piece, source + offset, sourceDestination + offset); });
}

void ScaleFloatsInPlace(uint32_t count, float* sourceDestination, float value)
{
    if (count == 0 || !sourceDestination || value == 1.0f)
        return;
    // Zero gain silences whatever the buffer held; a multiplication would keep NaNs and turn
    // infinities into NaNs.
    if (value == 0.0f)
    {
        ZeroFloats(count, sourceDestination);
        return;
    }
    InPieces(count, [&](uint32_t offset, int32_t piece)
             { Primitives::ScaleFloatsInPlace(piece, sourceDestination + offset, value); });
}

uint8_t* AlignedAllocBytes(int32_t count)
{
    return Primitives::AlignedAllocBytes(count);
}

float* AlignedAllocFloats(int32_t count)
{
    return Primitives::AlignedAllocFloats(count);
}

void AlignedFree(void* block)
{
    Primitives::AlignedFree(block);
}

} // namespace DSP::VectorOps
