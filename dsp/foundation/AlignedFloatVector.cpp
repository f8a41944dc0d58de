#include "dsp/foundation/AlignedFloatVector.h"

#include "dsp/foundation/Primitives.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

namespace DSP
{
namespace
{

float* AllocateFloats(size_t count)
{
    auto* block = static_cast<float*>(Primitives::AlignedAllocate(count, sizeof(float)));
    if (!block)
        throw std::bad_alloc();
    return block;
}

} // namespace

AlignedFloatVector::AlignedFloatVector(size_t count, float fill)
{
    resize(count, fill);
}

AlignedFloatVector::AlignedFloatVector(const AlignedFloatVector& other)
{
    if (other.size_ == 0)
        return;
    data_ = AllocateFloats(other.size_);
    capacity_ = other.size_;
    size_ = other.size_;
    std::memcpy(data_, other.data_, size_ * sizeof(float));
}

AlignedFloatVector::AlignedFloatVector(AlignedFloatVector&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0))
{
}

AlignedFloatVector& AlignedFloatVector::operator=(const AlignedFloatVector& other)
{
    if (this == &other)
        return *this;
    if (other.size_ > capacity_)
    {
        // Allocate before letting go, so a failure leaves this vector as it was.
        float* block = AllocateFloats(other.size_);
        Primitives::AlignedFree(data_);
        data_ = block;
        capacity_ = other.size_;
    }
    if (other.size_ != 0)
        std::memcpy(data_, other.data_, other.size_ * sizeof(float));
    size_ = other.size_;
    return *this;
}

AlignedFloatVector& AlignedFloatVector::operator=(AlignedFloatVector&& other) noexcept
{
    if (this != &other)
    {
        AlignedFloatVector taken(std::move(other));
        swap(taken);
    }
    return *this;
}

AlignedFloatVector::~AlignedFloatVector()
{
    Primitives::AlignedFree(data_);
}

void AlignedFloatVector::resize(size_t count, float fill)
{
    if (count > kMaxSize)
        throw std::length_error("AlignedFloatVector::resize");
    if (count > capacity_)
    {
        const size_t grown = capacity_ + capacity_ / 2;
        Reallocate(std::max(std::min(grown, kMaxSize), count));
    }
    if (count > size_)
        std::fill(data_ + size_, data_ + count, fill);
    size_ = count;
}

void AlignedFloatVector::reserve(size_t count)
{
    if (count > kMaxSize)
        throw std::length_error("AlignedFloatVector::reserve");
    if (count > capacity_)
        Reallocate(count);
}

void AlignedFloatVector::swap(AlignedFloatVector& other) noexcept
{
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
}

void AlignedFloatVector::Reallocate(size_t newCapacity)
{
    float* block = AllocateFloats(newCapacity);
    if (size_ != 0)
        std::memcpy(block, data_, size_ * sizeof(float));
    Primitives::AlignedFree(data_);
    data_ = block;
    capacity_ = newCapacity;
}

} // namespace DSP
