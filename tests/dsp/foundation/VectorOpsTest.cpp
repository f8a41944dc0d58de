#include "dsp/foundation/VectorOps.h"
#include "dsp/foundation/Primitives.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>
#include <vector>

namespace
{

using namespace DSP;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::vector<float> Ramp(size_t n, float start = 0.0f)
{
    std::vector<float> v(n);
    std::iota(v.begin(), v.end(), start);
    return v;
}

bool SameBits(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

TEST(VectorOps, CopySetZeroAddScaleCompute)
{
    const std::vector<uint8_t> bytes = {1, 2, 3, 250, 0, 7};
    std::vector<uint8_t> copied(6, 9);
    VectorOps::CopyBytes(5, bytes.data(), copied.data());
    EXPECT_EQ(copied, (std::vector<uint8_t>{1, 2, 3, 250, 0, 9}));

    std::vector<float> v(7, -1.0f);
    VectorOps::SetFloats(6, v.data(), 2.5f);
    EXPECT_EQ(v, (std::vector<float>{2.5f, 2.5f, 2.5f, 2.5f, 2.5f, 2.5f, -1.0f}));

    std::vector<float> z(9, -3.0f);
    VectorOps::ZeroFloats(8, z.data());
    for (int i = 0; i < 8; ++i)
        EXPECT_TRUE(z[i] == 0.0f && !std::signbit(z[i])) << i;
    EXPECT_EQ(z[8], -3.0f);

    // Long enough for vector code plus a remainder.
    std::vector<float> sum = Ramp(37, 1.0f);
    const std::vector<float> add = Ramp(37, 100.0f);
    VectorOps::AddFloatsInPlace(37, add.data(), sum.data());
    for (int i = 0; i < 37; ++i)
        EXPECT_EQ(sum[i], 101.0f + 2.0f * static_cast<float>(i)) << i;

    std::vector<float> scaled = Ramp(37, -5.0f);
    VectorOps::ScaleFloatsInPlace(36, scaled.data(), -0.5f);
    for (int i = 0; i < 36; ++i)
        EXPECT_EQ(scaled[i], (static_cast<float>(i) - 5.0f) * -0.5f) << i;
    EXPECT_EQ(scaled[36], 31.0f);
}

TEST(VectorOps, MoveFloatsHandlesOverlapBothWays)
{
    // Destination one float above the source: a forward copy would smear element 0.
    std::vector<float> up = Ramp(10);
    VectorOps::MoveFloats(9, up.data(), up.data() + 1);
    EXPECT_EQ(up, (std::vector<float>{0, 0, 1, 2, 3, 4, 5, 6, 7, 8}));

    std::vector<float> down = Ramp(10);
    VectorOps::MoveFloats(9, down.data() + 1, down.data());
    EXPECT_EQ(down, (std::vector<float>{1, 2, 3, 4, 5, 6, 7, 8, 9, 9}));

    // Larger overlapping shifts, as when a block of history slides along.
    std::vector<float> shifted = Ramp(1000);
    VectorOps::MoveFloats(700, shifted.data() + 300, shifted.data());
    for (int i = 0; i < 700; ++i)
        ASSERT_EQ(shifted[i], static_cast<float>(i + 300)) << i;
    for (int i = 700; i < 1000; ++i)
        ASSERT_EQ(shifted[i], static_cast<float>(i)) << i;
}

// Additions happen in index order: with the destination one above the source, every element
// adds the one just updated, giving running sums.
TEST(VectorOps, AddInPlaceRunsInIndexOrder)
{
    std::vector<float> v(40, 1.0f);
    VectorOps::AddFloatsInPlace(39, v.data(), v.data() + 1);
    for (int i = 0; i < 40; ++i)
        ASSERT_EQ(v[i], static_cast<float>(i + 1)) << i;
}

TEST(VectorOps, ScaleByExactlyZeroOrOne)
{
    const std::vector<float> special = {kInf, kNaN, -kInf, -0.0f, 3.0f, -kNaN, 1e38f};
    for (float zero : {0.0f, -0.0f})
    {
        std::vector<float> v = special;
        VectorOps::ScaleFloatsInPlace(static_cast<uint32_t>(v.size()), v.data(), zero);
        for (float x : v)
            EXPECT_TRUE(x == 0.0f && !std::signbit(x));
    }

    std::vector<float> withNaN = special;
    // A NaN with a payload must come back bit for bit.
    const uint32_t payloadBits = 0x7FA12345u;
    std::memcpy(&withNaN[2], &payloadBits, sizeof(float));
    const std::vector<float> before = withNaN;
    VectorOps::ScaleFloatsInPlace(static_cast<uint32_t>(withNaN.size()), withNaN.data(), 1.0f);
    EXPECT_TRUE(SameBits(withNaN, before));
}

// A count of 0 returns before looking at any pointer; null pointers leave destinations alone.
TEST(VectorOps, CountZeroAndNullPointersTouchNothing)
{
    VectorOps::CopyBytes(0, nullptr, nullptr);
    VectorOps::MoveFloats(0, nullptr, nullptr);
    VectorOps::SetFloats(0, nullptr, 1.0f);
    VectorOps::ZeroFloats(0, nullptr);
    VectorOps::AddFloatsInPlace(0, nullptr, nullptr);
    VectorOps::ScaleFloatsInPlace(0, nullptr, 0.0f);
    VectorOps::ScaleFloatsInPlace(0, nullptr, 3.0f);

    const std::vector<float> original = {1.0f, kNaN, kInf, -2.0f};
    std::vector<float> v = original;
    std::vector<uint8_t> bytes = {5, 6, 7};
    VectorOps::CopyBytes(0, bytes.data(), bytes.data() + 1);
    VectorOps::MoveFloats(0, v.data() + 1, v.data());
    VectorOps::SetFloats(0, v.data(), 9.0f);
    VectorOps::ZeroFloats(0, v.data());
    VectorOps::AddFloatsInPlace(0, v.data(), v.data());
    VectorOps::ScaleFloatsInPlace(0, v.data(), 0.0f);
    VectorOps::ScaleFloatsInPlace(0, v.data(), 2.0f);
    EXPECT_TRUE(SameBits(v, original));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{5, 6, 7}));

    VectorOps::CopyBytes(3, nullptr, bytes.data());
    VectorOps::MoveFloats(4, nullptr, v.data());
    VectorOps::AddFloatsInPlace(4, nullptr, v.data());
    VectorOps::CopyBytes(3, bytes.data(), nullptr);
    VectorOps::MoveFloats(4, v.data(), nullptr);
    VectorOps::SetFloats(4, nullptr, 1.0f);
    VectorOps::ZeroFloats(4, nullptr);
    VectorOps::AddFloatsInPlace(4, v.data(), nullptr);
    VectorOps::ScaleFloatsInPlace(4, nullptr, 0.0f);
    VectorOps::ScaleFloatsInPlace(4, nullptr, 2.0f);
    EXPECT_TRUE(SameBits(v, original));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{5, 6, 7}));
}

TEST(Primitives, StatusCodesOfBulkOperations)
{
    using namespace Primitives;
    std::vector<float> v(4, 1.0f), w(4, 2.0f);
    std::vector<uint8_t> b(4, 3);
    const std::vector<float> original = v;

    EXPECT_EQ(CopyBytes(4, b.data(), b.data()), StatusOk);
    EXPECT_EQ(CopyBytes(4, nullptr, b.data()), StatusNullPointer);
    EXPECT_EQ(CopyBytes(4, b.data(), nullptr), StatusNullPointer);
    EXPECT_EQ(MoveFloats(4, nullptr, v.data()), StatusNullPointer);
    EXPECT_EQ(SetFloats(4, nullptr, 0.0f), StatusNullPointer);
    EXPECT_EQ(ZeroFloats(4, nullptr), StatusNullPointer);
    EXPECT_EQ(AddFloatsInPlace(4, nullptr, v.data()), StatusNullPointer);
    EXPECT_EQ(AddFloatsInPlace(4, w.data(), nullptr), StatusNullPointer);
    EXPECT_EQ(ScaleFloatsInPlace(4, nullptr, 2.0f), StatusNullPointer);

    for (int32_t count : {0, -1, std::numeric_limits<int32_t>::min()})
    {
        EXPECT_EQ(CopyBytes(count, b.data(), b.data() + 1), StatusBadSize);
        EXPECT_EQ(MoveFloats(count, w.data(), v.data()), StatusBadSize);
        EXPECT_EQ(SetFloats(count, v.data(), 7.0f), StatusBadSize);
        EXPECT_EQ(ZeroFloats(count, v.data()), StatusBadSize);
        EXPECT_EQ(AddFloatsInPlace(count, w.data(), v.data()), StatusBadSize);
        EXPECT_EQ(ScaleFloatsInPlace(count, v.data(), 2.0f), StatusBadSize);
    }
    EXPECT_EQ(v, original);
    EXPECT_EQ(b, std::vector<uint8_t>(4, 3));

    EXPECT_EQ(ScaleFloatsInPlace(4, v.data(), 3.0f), StatusOk);
    EXPECT_EQ(v, std::vector<float>(4, 3.0f));
    // The primitive is a plain product; the exact-zero rule lives in VectorOps.
    std::vector<float> inf = {kInf};
    EXPECT_EQ(ScaleFloatsInPlace(1, inf.data(), 0.0f), StatusOk);
    EXPECT_TRUE(std::isnan(inf[0]));
}

TEST(AlignedMemory, BlocksAreAlignedUsableAndFreed)
{
    for (int32_t count : {0, -1, -32, std::numeric_limits<int32_t>::min()})
    {
        EXPECT_EQ(VectorOps::AlignedAllocBytes(count), nullptr) << count;
        EXPECT_EQ(VectorOps::AlignedAllocFloats(count), nullptr) << count;
    }
    // Many sizes so that the heap hands out differently aligned raw addresses.
    for (int32_t count = 1; count <= 200; count += 7)
    {
        uint8_t* bytes = VectorOps::AlignedAllocBytes(count);
        float* floats = VectorOps::AlignedAllocFloats(count);
        ASSERT_NE(bytes, nullptr);
        ASSERT_NE(floats, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(bytes) % 32, 0u);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(floats) % 32, 0u);
        // Every item is writable (the sanitizer build checks the bounds).
        std::memset(bytes, 0xAB, static_cast<size_t>(count));
        VectorOps::SetFloats(static_cast<uint32_t>(count), floats, 1.5f);
        EXPECT_EQ(floats[count - 1], 1.5f);
        VectorOps::AlignedFree(bytes);
        VectorOps::AlignedFree(floats);
    }
    VectorOps::AlignedFree(nullptr);
}

TEST(AlignedMemory, OversizedRequestsFailWithoutOverflow)
{
    const size_t most = std::numeric_limits<size_t>::max();
    EXPECT_EQ(Primitives::AlignedAllocate(most, 1), nullptr);
    EXPECT_EQ(Primitives::AlignedAllocate(most / 4 + 1, sizeof(float)), nullptr);
    EXPECT_EQ(Primitives::AlignedAllocate(most / 2, sizeof(double)), nullptr);
    EXPECT_EQ(Primitives::AlignedAllocate(0, sizeof(float)), nullptr);
    EXPECT_EQ(Primitives::AlignedAllocate(16, 0), nullptr);
}

} // namespace
