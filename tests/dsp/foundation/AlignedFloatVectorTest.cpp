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

// Capacity grows to max(1.5 * capacity, needed); shrinking keeps the storage.
TEST(AlignedFloatVector, GrowsByHalfOrToTheNeededSize)
{
    EXPECT_EQ(Values(AlignedFloatVector(3, -2.5f)), std::vector<float>(3, -2.5f));
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
    EXPECT_EQ(v.data(), storage);
    EXPECT_EQ(Values(v), (std::vector<float>{1, 2, 3, 0, 0, 0}));
    if constexpr (sizeof(size_t) > 4)
    {
        const size_t tooMany = size_t{AlignedFloatVector::max_size()} + 1;
        EXPECT_THROW(v.resize(tooMany), std::length_error);
        EXPECT_THROW(v.reserve(tooMany), std::length_error);
        EXPECT_EQ(v.size(), 6u);
    }
}

TEST(AlignedFloatVector, CopiesAreIndependentMovesTakeTheStorage)
{
    AlignedFloatVector original(6), big(50, 9.0f);
    std::iota(original.begin(), original.end(), 1.0f);
    AlignedFloatVector copy(original);
    copy[0] = -1.0f;
    EXPECT_EQ(original[0], 1.0f);
    const float* bigStorage = big.data();
    big = original;
    const AlignedFloatVector& alias = big;
    big = alias;
    EXPECT_EQ(Values(big), Values(original));
    AlignedFloatVector moved(std::move(big)), target(10, 1.0f);
    target = std::move(moved);
    EXPECT_EQ(target.data(), bigStorage);
    EXPECT_EQ(Values(target), Values(original));
}

TEST(DataTail1D, LengthGivesAlignedZeros)
{
    EXPECT_EQ(DSP::DataTail1D(0).GetCapacity(), 0u);
    EXPECT_EQ(DSP::DataTail1D(0).Size(), 0u);
    const DSP::DataTail1D buffer(5);
    EXPECT_TRUE(Aligned(buffer.Data()));
    EXPECT_EQ(std::vector<float>(buffer.Data(), buffer.Data() + 5), std::vector<float>(5, 0.0f));
}

} // namespace
