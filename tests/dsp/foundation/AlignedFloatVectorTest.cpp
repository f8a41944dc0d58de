#include "dsp/foundation/AlignedFloatVector.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <stdexcept>
#include <utility>

namespace
{

using DSP::AlignedFloatVector;

bool Aligned(const AlignedFloatVector& v)
{
    return reinterpret_cast<uintptr_t>(v.data()) % 32 == 0;
}

void FillRamp(AlignedFloatVector& v)
{
    std::iota(v.begin(), v.end(), 1.0f);
}

TEST(AlignedFloatVector, StartsEmptyAndConstructsValues)
{
    const AlignedFloatVector none;
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(none.size(), 0u);
    EXPECT_EQ(none.capacity(), 0u);
    EXPECT_EQ(none.begin(), none.end());

    const AlignedFloatVector zeros(5);
    ASSERT_EQ(zeros.size(), 5u);
    EXPECT_TRUE(Aligned(zeros));
    for (float x : zeros)
        EXPECT_EQ(x, 0.0f);

    const AlignedFloatVector filled(3, -2.5f);
    EXPECT_EQ(filled[0], -2.5f);
    EXPECT_EQ(filled[2], -2.5f);
    EXPECT_EQ(AlignedFloatVector::max_size(), 4294967295u);
}

// Capacity grows to max(1.5 * capacity, needed); kept values survive, new ones are 0 or the fill.
TEST(AlignedFloatVector, GrowsByHalfOrToTheNeededSize)
{
    AlignedFloatVector v;
    v.resize(10);
    EXPECT_EQ(v.capacity(), 10u);
    FillRamp(v);

    v.resize(11);
    EXPECT_EQ(v.capacity(), 15u);
    v.resize(16, 7.0f);
    EXPECT_EQ(v.capacity(), 22u);
    v.resize(100);
    EXPECT_EQ(v.capacity(), 100u);
    EXPECT_TRUE(Aligned(v));
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(v[i], static_cast<float>(i + 1)) << i;
    EXPECT_EQ(v[10], 0.0f);
    for (int i = 11; i < 16; ++i)
        ASSERT_EQ(v[i], 7.0f) << i;
    for (int i = 16; i < 100; ++i)
        ASSERT_EQ(v[i], 0.0f) << i;
}

// Shrinking keeps the storage; growing again inside it writes fresh values over the old ones.
TEST(AlignedFloatVector, ShrinkKeepsStorageRegrowRefillsReserveIsExact)
{
    AlignedFloatVector v(8, 5.0f);
    const float* storage = v.data();
    v.resize(3);
    EXPECT_EQ(v.size(), 3u);
    EXPECT_EQ(v.capacity(), 8u);
    v.resize(6);
    EXPECT_EQ(v.data(), storage);
    EXPECT_EQ(v[2], 5.0f);
    EXPECT_EQ(v[3], 0.0f);
    EXPECT_EQ(v[5], 0.0f);

    v.clear();
    EXPECT_TRUE(v.empty());
    EXPECT_EQ(v.capacity(), 8u);

    // reserve takes exactly what is asked and keeps the elements.
    v.resize(2, 1.0f);
    v.reserve(5);
    EXPECT_EQ(v.data(), storage);
    v.reserve(20);
    EXPECT_EQ(v.capacity(), 20u);
    EXPECT_EQ(v.size(), 2u);
    EXPECT_EQ(v[1], 1.0f);
    EXPECT_TRUE(Aligned(v));
}

TEST(AlignedFloatVector, CopiesAreIndependent)
{
    AlignedFloatVector original(6);
    FillRamp(original);

    AlignedFloatVector copy(original);
    EXPECT_NE(copy.data(), original.data());
    EXPECT_TRUE(Aligned(copy));
    EXPECT_EQ(copy.capacity(), 6u);
    copy[0] = -1.0f;
    EXPECT_EQ(original[0], 1.0f);
    EXPECT_EQ(copy[5], 6.0f);

    AlignedFloatVector small(2, 9.0f);
    small = original; // grows
    ASSERT_EQ(small.size(), 6u);
    EXPECT_EQ(small[5], 6.0f);

    AlignedFloatVector big(50, 9.0f);
    const float* bigStorage = big.data();
    big = original; // reuses its storage
    EXPECT_EQ(big.size(), 6u);
    EXPECT_EQ(big.data(), bigStorage);
    EXPECT_EQ(big[3], 4.0f);

    const AlignedFloatVector& alias = big;
    big = alias;
    EXPECT_EQ(big[3], 4.0f);
    big = AlignedFloatVector();
    EXPECT_TRUE(big.empty());
}

TEST(AlignedFloatVector, MovesTakeTheStorage)
{
    AlignedFloatVector source(4, 2.0f);
    const float* storage = source.data();
    AlignedFloatVector moved(std::move(source));
    EXPECT_EQ(moved.data(), storage);
    EXPECT_EQ(moved.size(), 4u);
    EXPECT_TRUE(source.empty());
    EXPECT_EQ(source.capacity(), 0u);

    AlignedFloatVector target(10, 1.0f);
    target = std::move(moved);
    EXPECT_EQ(target.data(), storage);
    EXPECT_EQ(target.size(), 4u);
    EXPECT_TRUE(moved.empty());

    // A moved-from vector is usable again.
    moved.resize(3, 4.0f);
    EXPECT_EQ(moved[2], 4.0f);
}

TEST(AlignedFloatVector, RejectsSizesBeyondTheMaximum)
{
    if constexpr (sizeof(size_t) > 4)
    {
        AlignedFloatVector v(2, 1.0f);
        const size_t tooMany = static_cast<size_t>(AlignedFloatVector::max_size()) + 1;
        EXPECT_THROW(v.resize(tooMany), std::length_error);
        EXPECT_THROW(v.reserve(tooMany), std::length_error);
        EXPECT_EQ(v.size(), 2u);
        EXPECT_EQ(v[1], 1.0f);
    }
}

} // namespace
