#include "dsp/foundation/RealFFT.h"

#include "dsp/foundation/VectorOps.h"

namespace DSP
{

RealFFT::RealFFT(int32_t n)
{
    if (n != 0)
        SetSize(n);
}

RealFFT::RealFFT(const RealFFT& other)
{
    if (other.size != 0)
        SetSize(other.size);
}

RealFFT& RealFFT::operator=(const RealFFT& other)
{
    if (this != &other)
    {
        Release();
        size = 0;
        if (other.size != 0)
            SetSize(other.size);
    }
    return *this;
}

RealFFT::~RealFFT()
{
    Release();
}

void RealFFT::Release()
{
    // The work buffer belongs to the plan's size, so it goes first.
    if (plan != nullptr)
    {
        VectorOps::AlignedFree(work);
        VectorOps::AlignedFree(batchWork);
        Primitives::FftFree(plan);
    }
    plan = nullptr;
    work = nullptr;
    batchWork = nullptr;
}

int32_t RealFFT::OrderFor(int32_t n)
{
    int32_t order = 1;
    // 64-bit so that lengths near the top of the signed range cannot overflow the doubling.
    int64_t length = 2;
    if (n > 2)
    {
        while (length < n)
        {
            ++order;
            length *= 2;
        }
    }
    return order;
}

void RealFFT::SetSize(int32_t n)
{
    if (n == size)
        return;
    Release();
    size = n;

    // Statuses are not examined: a failed creation leaves the plan null, and the transforms then
    // report the primitive's null-plan status without writing.
    Primitives::FftCreate(&plan, OrderFor(n), Primitives::FftDivideInverseByN,
                          Primitives::FftHintFast);
    if (plan == nullptr)
        return;
    int32_t bytes = 0;
    Primitives::FftWorkSize(plan, &bytes);
    work = VectorOps::AlignedAllocBytes(bytes);
}

int32_t RealFFT::Forward(const float* source, float* destination)
{
    return Primitives::FftForward(source, destination, plan, work);
}

int32_t RealFFT::ForwardBatch(const float* source, float* destination)
{
    if (plan != nullptr && batchWork == nullptr)
    {
        // Left null when the size does not fit: the batch then takes a temporary buffer.
        int32_t bytes = 0;
        if (Primitives::FftBatchWorkSize(plan, &bytes) == Primitives::StatusOk)
            batchWork = VectorOps::AlignedAllocBytes(bytes);
    }
    return Primitives::FftForwardBatch(source, destination, plan, batchWork);
}

int32_t RealFFT::Inverse(const float* source, float* destination)
{
    return Primitives::FftInverse(source, destination, plan, work);
}

} // namespace DSP
