#include "dsp/foundation/DataTail1D.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

namespace
{

using DSP::DataTail1D;

bool Aligned(const float* p)
{
    return reinterpret_cast<uintptr_t>(p) % 32 == 0;
}

TEST(DataTail1D, EmptyConstructions)
{
    DataTail1D empty;
    EXPECT_EQ(empty.Size(), 0u);
    EXPECT_EQ(empty.GetCapacity(), 0u);
    DataTail1D zero(0);
    EXPECT_EQ(zero.Size(), 0u);
    EXPECT_EQ(zero.GetCapacity(), 0u);
    EXPECT_EQ(zero.GetBlockLength(), 0u);
}

TEST(DataTail1D, LengthGivesAlignedZeros)
{
    for (uint32_t length : {1u, 5u, 33u, 4096u, 1u << 20})
    {
        DataTail1D buffer(length);
        ASSERT_NE(buffer.Data(), nullptr);
        EXPECT_TRUE(Aligned(buffer.Data())) << length;
        EXPECT_EQ(buffer.GetCapacity(), length);
        EXPECT_EQ(buffer.GetBlockLength(), length);
        EXPECT_EQ(buffer.GetTailLength(), 0u);
        // Nothing has been filled yet.
        EXPECT_EQ(buffer.Size(), 0u);
        for (uint32_t i = 0; i < length; ++i)
            ASSERT_EQ(buffer.Data()[i], 0.0f) << length << " " << i;
    }
}

TEST(DataTail1D, ValuesWrittenThroughDataStay)
{
    DataTail1D buffer(5);
    for (int i = 0; i < 5; ++i)
        buffer.Data()[i] = 1.5f * i;
    const DataTail1D& view = buffer;
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(view.Data()[i], 1.5f * i);
}

TEST(DataTail1D, SetBlockLength)
{
    std::unique_ptr<DataTail1D> buffer = std::make_unique<DataTail1D>(8);
    buffer->Data()[0] = 7.0f;
    buffer->SetBlockLength(100);
    EXPECT_EQ(buffer->GetBlockLength(), 100u);
    EXPECT_EQ(buffer->GetCapacity(), 100u);
    EXPECT_TRUE(Aligned(buffer->Data()));
    // With no tail, nothing counts as filled.
    EXPECT_EQ(buffer->Size(), 0u);
    // New samples are zero.
    for (uint32_t i = 8; i < 100; ++i)
        ASSERT_EQ(buffer->Data()[i], 0.0f);

    // The storage never drops below one sample.
    buffer->SetBlockLength(0);
    EXPECT_EQ(buffer->GetBlockLength(), 0u);
    EXPECT_EQ(buffer->GetCapacity(), 1u);
    ASSERT_NE(buffer->Data(), nullptr);

    DataTail1D fresh;
    fresh.SetBlockLength(3);
    EXPECT_EQ(fresh.GetCapacity(), 3u);
    EXPECT_EQ(fresh.Data()[2], 0.0f);
}

} // namespace
