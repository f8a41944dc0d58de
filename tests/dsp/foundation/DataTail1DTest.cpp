#include "dsp/foundation/DataTail1D.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace
{

using DSP::DataTail1D;

bool Aligned(const float* p)
{
    return reinterpret_cast<uintptr_t>(p) % 32 == 0;
}

TEST(DataTail1D, LengthGivesAlignedZeros)
{
    DataTail1D empty(0);
    EXPECT_EQ(empty.Size(), 0u);
    EXPECT_EQ(empty.GetCapacity(), 0u);
    for (uint32_t length : {5u, 33u, 1u << 20})
    {
        DataTail1D buffer(length);
        EXPECT_TRUE(Aligned(buffer.Data())) << length;
        EXPECT_EQ(buffer.GetCapacity(), length);
        EXPECT_EQ(buffer.Size(), 0u); // nothing filled yet
        for (uint32_t i = 0; i < length; ++i)
            ASSERT_EQ(buffer.Data()[i], 0.0f) << length << " " << i;
    }
}

TEST(DataTail1D, SetBlockLength)
{
    DataTail1D buffer(8);
    buffer.Data()[0] = 7.0f;
    buffer.SetBlockLength(100);
    EXPECT_EQ(buffer.GetBlockLength(), 100u);
    EXPECT_EQ(buffer.GetCapacity(), 100u);
    EXPECT_TRUE(Aligned(buffer.Data()));
    EXPECT_EQ(buffer.Size(), 0u); // fill = tail, and there is no tail
    EXPECT_EQ(buffer.Data()[99], 0.0f);
    // The storage never drops below one sample.
    buffer.SetBlockLength(0);
    EXPECT_EQ(buffer.GetCapacity(), 1u);
}

} // namespace
