#pragma once

#include <cstddef>
#include <cstdint>

namespace DSP
{

// A growable float array whose storage is a 32-byte aligned block, so the vector primitives and
// FFTs can use aligned loads on it. New elements are 0.0 unless a fill value is given. Growth
// takes max(1.5 * capacity, needed) elements. Throws std::bad_alloc when the aligned allocator
// has no memory and std::length_error beyond max_size().
class AlignedFloatVector
{
public:
    using value_type = float;
    using size_type = size_t;
    using iterator = float*;
    using const_iterator = const float*;

    AlignedFloatVector() noexcept = default;
    explicit AlignedFloatVector(size_t count, float fill = 0.0f);
    AlignedFloatVector(const AlignedFloatVector& other);
    AlignedFloatVector(AlignedFloatVector&& other) noexcept;
    AlignedFloatVector& operator=(const AlignedFloatVector& other);
    AlignedFloatVector& operator=(AlignedFloatVector&& other) noexcept;
    ~AlignedFloatVector();

    size_t size() const noexcept { return size_; }
    size_t capacity() const noexcept { return capacity_; }
    bool empty() const noexcept { return size_ == 0; }
    static constexpr size_t max_size() noexcept { return kMaxSize; }

    float* data() noexcept { return data_; }
    const float* data() const noexcept { return data_; }
    float& operator[](size_t index) noexcept { return data_[index]; }
    const float& operator[](size_t index) const noexcept { return data_[index]; }

    iterator begin() noexcept { return data_; }
    iterator end() noexcept { return data_ + size_; }
    const_iterator begin() const noexcept { return data_; }
    const_iterator end() const noexcept { return data_ + size_; }

    // Elements past the old size become fill; shrinking keeps the capacity.
    void resize(size_t count, float fill = 0.0f);
    // Makes the capacity at least count without changing the elements.
    void reserve(size_t count);
    // Size 0; the storage is kept for reuse.
    void clear() noexcept { size_ = 0; }
    void swap(AlignedFloatVector& other) noexcept;

private:
    static constexpr size_t kMaxSize = size_t{0xFFFFFFFFu};

    // Moves the elements into a new block of exactly newCapacity floats.
    void Reallocate(size_t newCapacity);

    float* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

} // namespace DSP
