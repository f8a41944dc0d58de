#include "dsp/foundation/DataTail1D.h"

#include <algorithm>
#include <limits>

namespace DSP
{

DataTail1D::DataTail1D(uint32_t length) : block(length)
{
    data.resize(length);
}

void DataTail1D::SetBlockLength(uint32_t newBlock)
{
    // 64-bit so that a long tail plus a long block cannot wrap around to a small size.
    const uint64_t wanted = static_cast<uint64_t>(tail) + newBlock;
    const uint64_t largest = std::numeric_limits<uint32_t>::max();
    data.resize(static_cast<uint32_t>(std::clamp<uint64_t>(wanted, 1, largest)));
    block = newBlock;
    fill = tail;
}

} // namespace DSP
