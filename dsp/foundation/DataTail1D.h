#pragma once

#include "dsp/foundation/AlignedFloatVector.h"

#include <cstdint>

namespace DSP
{

// A float buffer with 32-byte aligned storage, laid out as a tail region of history at the front
// followed by a block region for new input. Constructed from a length it is simply a
// zero-initialised aligned scratch array of that many floats, which is how the analysis uses it.
class DataTail1D
{
public:
    DataTail1D() = default;
    explicit DataTail1D(uint32_t length);
    virtual ~DataTail1D() = default;

    DataTail1D(const DataTail1D&) = delete;
    DataTail1D& operator=(const DataTail1D&) = delete;

    // Makes the block region newBlock samples long (storage at least one sample in total) while
    // the tail region keeps its contents at the front; afterwards only the tail counts as filled.
    virtual void SetBlockLength(uint32_t newBlock);

    float* Data() { return data.data(); }
    const float* Data() const { return data.data(); }
    // The number of valid samples from the start.
    uint32_t Size() const { return fill; }

    uint32_t GetTailLength() const { return tail; }
    uint32_t GetBlockLength() const { return block; }
    // Floats of storage, tail and block together.
    uint32_t GetCapacity() const { return static_cast<uint32_t>(data.size()); }

private:
    AlignedFloatVector data;
    uint32_t tail = 0;
    uint32_t fill = 0;
    uint32_t block = 0;
};

} // namespace DSP
