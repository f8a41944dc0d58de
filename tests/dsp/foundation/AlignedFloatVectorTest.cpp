#include "dsp/foundation/AlignedFloatVector.h"
#include "dsp/foundation/DataTail1D.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <stdexcept>
#include <utility>
#include <vector>

namespace
{

using DSP::AlignedFloatVector;

bool Aligned(const float* p)
{
    return reinterpret_cast<uintptr_t>(p) % 32 == 0;
}

std::vector<float> Values(const AlignedFloatVector& v)
{
    return std::vector<float>(v.begin(), v.end());
}

// New elements are 0 or the fill; capacity grows to max(1.5 * capacity, needed), keeping the
// values. Shrinking keeps the storage, and growing inside it writes fresh values.
TEST(AlignedFloatVector, GrowsByHalfOrToTheNeededSize)
{
    const AlignedFloatVector none, filled(3, -2.5f);
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(none.capacity(), 0u);
    EXPECT_EQ(Values(filled), std::vector<float>(3, -2.5f));
    AlignedFloatVector v(10);
    EXPECT_EQ(Values(v), std::vector<float>(10, 0.0f));
    std::iota(v.begin(), v.end(), 1.0f);
    const size_t sizes[] = {11, 16, 100}, capacities[] = {15, 22, 100};
    for (int step = 0; step < 3; ++step)
    {
        v.resize(sizes[step], step == 1 ? 7.0f : 0.0f);
        EXPECT_EQ(v.capacity(), capacities[step]);
        EXPECT_TRUE(Aligned(v.data()));
    }
    for (size_t i = 0; i < 100; ++i)
        ASSERT_EQ(v[i], i < 10 ? float(i + 1) : (i > 10 && i < 16) ? 7.0f : 0.0f) << i;
    const float* storage = v.data();
    v.resize(3);
    v.resize(6);
    v.reserve(20); // within the capacity: nothing moves
    EXPECT_EQ(v.data(), storage);
    EXPECT_EQ(Values(v), (std::vector<float>{1, 2, 3, 0, 0, 0}));
    v.reserve(120); // exactly what is asked, elements kept
    EXPECT_EQ(v.capacity(), 120u);
    EXPECT_EQ(Values(v), (std::vector<float>{1, 2, 3, 0, 0, 0}));
    if constexpr (sizeof(size_t) > 4) // past the 32-bit maximum count
    {
        const size_t tooMany = size_t{AlignedFloatVector::max_size()} + 1;
        EXPECT_THROW(v.resize(tooMany), std::length_error);
        EXPECT_THROW(v.reserve(tooMany), std::length_error);
        EXPECT_EQ(v.size(), 6u);
    }
}

TEST(AlignedFloatVector, CopiesAreIndependentMovesTakeTheStorage)
{
    AlignedFloatVector original(6);
    std::iota(original.begin(), original.end(), 1.0f);
    AlignedFloatVector copy(original), small(2, 9.0f), big(50, 9.0f);
    EXPECT_TRUE(Aligned(copy.data()));
    copy[0] = -1.0f;
    EXPECT_EQ(original[0], 1.0f);
    small = original; // grows
    const float* bigStorage = big.data();
    big = original; // reuses its storage
    EXPECT_EQ(big.data(), bigStorage);
    const AlignedFloatVector& alias = big;
    big = alias;
    EXPECT_EQ(Values(small), Values(original));
    EXPECT_EQ(Values(big), Values(original));

    AlignedFloatVector moved(std::move(big)), target(10, 1.0f);
    EXPECT_TRUE(big.empty());
    target = std::move(moved);
    EXPECT_EQ(target.data(), bigStorage);
    EXPECT_EQ(Values(target), Values(original));
    moved.resize(3, 4.0f); // a moved-from vector is usable again
    EXPECT_EQ(Values(moved), std::vector<float>(3, 4.0f));
}

// The analysis uses DataTail1D as a zeroed aligned scratch array of a given length.
TEST(DataTail1D, LengthGivesAlignedZerosAndBlockLengthResizes)
{
    const DSP::DataTail1D empty(0);
    EXPECT_EQ(empty.Size(), 0u);
    EXPECT_EQ(empty.GetCapacity(), 0u);
    for (uint32_t length : {5u, 33u, 1u << 20})
    {
        const DSP::DataTail1D buffer(length);
        EXPECT_TRUE(Aligned(buffer.Data())) << length;
        EXPECT_EQ(buffer.GetCapacity(), length);
        EXPECT_EQ(buffer.Size(), 0u); // nothing filled yet
        for (uint32_t i = 0; i < length; ++i)
            ASSERT_EQ(buffer.Data()[i], 0.0f) << length << " " << i;
    }
    DSP::DataTail1D buffer(8);
    buffer.SetBlockLength(100);
    EXPECT_EQ(buffer.GetBlockLength(), 100u);
    EXPECT_EQ(buffer.GetCapacity(), 100u);
    EXPECT_TRUE(Aligned(buffer.Data()));
    EXPECT_EQ(buffer.Size(), 0u); // fill = tail, and there is no tail
    buffer.SetBlockLength(0);     // the storage never drops below one sample
    EXPECT_EQ(buffer.GetCapacity(), 1u);
}

} // namespace
