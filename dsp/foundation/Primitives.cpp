#include "dsp/foundation/Primitives.h"

#include "dsp/foundation/RealFftPlan.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace DSP::Primitives
{

// The handle behind FftPlan*: a kind tag in front of the transform, so that every plan operation
// can tell a plan from any other object handed to it.
struct FftPlan
{
    uint32_t kindTag = 0;
    RealFftPlan transform;
};

namespace
{

constexpr uint32_t kRealFftPlanTag = 0x54464652u; // "RFFT" in memory order
constexpr int32_t kLargestOrder = 30;
constexpr size_t kAlignment = 32;
// Room to reach the next 32-byte boundary and to keep the raw heap address below it.
constexpr size_t kAllocationSlack = sizeof(void*) + kAlignment;
constexpr size_t kWorkAlignment = 16;

// Reads the tag byte-wise: the pointer may point at anything that is not a plan.
bool IsPlan(const FftPlan* plan)
{
    uint32_t tag = 0;
    std::memcpy(&tag, plan, sizeof(tag));
    return tag == kRealFftPlanTag;
}

int32_t CheckPlan(const FftPlan* plan)
{
    if (!plan)
        return StatusNullPointer;
    return IsPlan(plan) ? StatusOk : StatusNotAnFftPlan;
}

// Runs a transform with the caller's work memory rounded up to 16 bytes, or with a temporary
// block when the caller gave none.
template <typename Transform> int32_t WithWork(size_t need, uint8_t* work, Transform transform)
{
    if (need == 0)
    {
        transform(nullptr);
        return StatusOk;
    }
    uint8_t* temporary = nullptr;
    if (!work)
    {
        temporary = static_cast<uint8_t*>(AlignedAllocate(need + kWorkAlignment, 1));
        if (!temporary)
            return StatusMemoryAllocation;
        work = temporary;
    }
    const uintptr_t address = reinterpret_cast<uintptr_t>(work);
    const uintptr_t rounded = (address + (kWorkAlignment - 1)) & ~uintptr_t{kWorkAlignment - 1};
    transform(reinterpret_cast<float*>(work + (rounded - address)));
    AlignedFree(temporary);
    return StatusOk;
}

} // namespace

int32_t CopyBytes(int32_t count, const uint8_t* source, uint8_t* destination)
{
    if (!source || !destination)
        return StatusNullPointer;
    if (count <= 0)
        return StatusBadSize;
    // memmove: an overlapping call stays defined.
    std::memmove(destination, source, static_cast<size_t>(count));
    return StatusOk;
}

int32_t MoveFloats(int32_t count, const float* source, float* destination)
{
    if (!source || !destination)
        return StatusNullPointer;
    if (count <= 0)
        return StatusBadSize;
    std::memmove(destination, source, static_cast<size_t>(count) * sizeof(float));
    return StatusOk;
}

int32_t SetFloats(int32_t count, float* destination, float value)
{
    if (!destination)
        return StatusNullPointer;
    if (count <= 0)
        return StatusBadSize;
    for (int32_t i = 0; i < count; ++i)
        destination[i] = value;
    return StatusOk;
}

int32_t ZeroFloats(int32_t count, float* destination)
{
    return SetFloats(count, destination, 0.0f);
}

int32_t AddFloatsInPlace(int32_t count, const float* source, float* sourceDestination)
{
    if (!source || !sourceDestination)
        return StatusNullPointer;
    if (count <= 0)
        return StatusBadSize;
    // No restrict: overlapping arrays must see the additions in index order, and the compiler's
    // vector loop checks for overlap at run time.
    for (int32_t i = 0; i < count; ++i)
        sourceDestination[i] += source[i];
    return StatusOk;
}

int32_t ScaleFloatsInPlace(int32_t count, float* sourceDestination, float value)
{
    if (!sourceDestination)
        return StatusNullPointer;
    if (count <= 0)
        return StatusBadSize;
    for (int32_t i = 0; i < count; ++i)
        sourceDestination[i] *= value;
    return StatusOk;
}

void* AlignedAllocate(size_t count, size_t itemSize)
{
    if (count == 0 || itemSize == 0 || count > (SIZE_MAX - kAllocationSlack) / itemSize)
        return nullptr;
    // Through the global allocator, like every other allocation of the library, so that a host
    // that replaces or instruments operator new sees these blocks too.
    void* raw = ::operator new(count* itemSize + kAllocationSlack, std::nothrow);
    if (!raw)
        return nullptr;
    const uintptr_t aligned =
        (reinterpret_cast<uintptr_t>(raw) + kAllocationSlack - 1) & ~uintptr_t{kAlignment - 1};
    std::memcpy(reinterpret_cast<void*>(aligned - sizeof(void*)), &raw, sizeof(raw));
    return reinterpret_cast<void*>(aligned);
}

uint8_t* AlignedAllocBytes(int32_t count)
{
    if (count <= 0)
        return nullptr;
    return static_cast<uint8_t*>(AlignedAllocate(static_cast<size_t>(count), 1));
}

float* AlignedAllocFloats(int32_t count)
{
    if (count <= 0)
        return nullptr;
    return static_cast<float*>(AlignedAllocate(static_cast<size_t>(count), sizeof(float)));
}

void AlignedFree(void* block)
{
    if (!block)
        return;
    void* raw = nullptr;
    std::memcpy(&raw, static_cast<uint8_t*>(block) - sizeof(void*), sizeof(raw));
    ::operator delete(raw);
}

int32_t FftCreate(FftPlan** out, int32_t order, int32_t scaling, int32_t hint)
{
    if (!out)
        return StatusNullPointer;
    if (order < 0 || order > kLargestOrder)
        return StatusFftOrderOutOfRange;
    if (scaling != FftDivideForwardByN && scaling != FftDivideInverseByN &&
        scaling != FftDivideBySqrtN && scaling != FftNoDivide)
        return StatusFftFlagInvalid;
    FftPlan* plan = new (std::nothrow) FftPlan;
    if (!plan)
        return StatusMemoryAllocation;
    if (!plan->transform.Build(order, scaling, hint))
    {
        delete plan;
        return StatusMemoryAllocation;
    }
    plan->kindTag = kRealFftPlanTag;
    *out = plan;
    return StatusOk;
}

int32_t FftWorkSize(const FftPlan* plan, int32_t* bytes)
{
    if (!bytes)
        return StatusNullPointer;
    if (const int32_t status = CheckPlan(plan); status != StatusOk)
        return status;
    const size_t need = plan->transform.WorkBytes();
    // Plans only take a work buffer when need + 16 fits (see RealFftPlan::LargestAutosortOrder).
    *bytes = need == 0 ? 0 : static_cast<int32_t>(need + kWorkAlignment);
    return StatusOk;
}

int32_t FftForward(const float* source, float* destination, const FftPlan* plan, uint8_t* work)
{
    if (!source || !destination)
        return StatusNullPointer;
    if (const int32_t status = CheckPlan(plan); status != StatusOk)
        return status;
    return WithWork(plan->transform.WorkBytes(), work,
                    [&](float* aligned) { plan->transform.Forward(source, destination, aligned); });
}

int32_t FftInverse(const float* source, float* destination, const FftPlan* plan, uint8_t* work)
{
    if (!source || !destination)
        return StatusNullPointer;
    if (const int32_t status = CheckPlan(plan); status != StatusOk)
        return status;
    return WithWork(plan->transform.WorkBytes(), work,
                    [&](float* aligned) { plan->transform.Inverse(source, destination, aligned); });
}

int32_t FftBatchWorkSize(const FftPlan* plan, int32_t* bytes)
{
    if (!bytes)
        return StatusNullPointer;
    if (const int32_t status = CheckPlan(plan); status != StatusOk)
        return status;
    const size_t need = plan->transform.BatchWorkBytes() + kWorkAlignment;
    if (need > static_cast<size_t>(INT32_MAX))
        return StatusBadSize;
    *bytes = static_cast<int32_t>(need);
    return StatusOk;
}

int32_t FftForwardBatch(const float* source, float* destination, const FftPlan* plan, uint8_t* work)
{
    static_assert(FftBatchLanes == RealFftPlan::BatchLanes);
    if (!source || !destination)
        return StatusNullPointer;
    if (const int32_t status = CheckPlan(plan); status != StatusOk)
        return status;
    return WithWork(plan->transform.BatchWorkBytes(), work,
                    [&](float* aligned)
                    { plan->transform.ForwardBatch(source, destination, aligned); });
}

int32_t FftFree(FftPlan* plan)
{
    if (const int32_t status = CheckPlan(plan); status != StatusOk)
        return status;
    // Cleared so that the released memory no longer carries a plan's tag.
    plan->kindTag = 0;
    delete plan;
    return StatusOk;
}

} // namespace DSP::Primitives
