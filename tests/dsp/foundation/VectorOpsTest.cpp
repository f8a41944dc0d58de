#include "dsp/foundation/VectorOps.h"
#include "dsp/foundation/Primitives.h"

#include <gtest/gtest.h>

#include <cmath>
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

// 37 elements: long enough for vector code plus a remainder; element 37 must stay untouched.
TEST(VectorOps, BulkOperationsComputeAndMoveHandlesOverlap)
{
    const auto a = Ramp(37, -5.0f), b = Ramp(37, 100.0f);
    std::vector<float> set(38, -1.0f), zero(38, -3.0f), sum = a, scaled = a, running(40, 1.0f);
    const std::vector<uint8_t> bytes = {1, 2, 3, 250, 0, 7};
    std::vector<uint8_t> copied(6, 9);
    VectorOps::CopyBytes(5, bytes.data(), copied.data());
    VectorOps::SetFloats(37, set.data(), 2.5f);
    VectorOps::ZeroFloats(37, zero.data());
    VectorOps::AddFloatsInPlace(37, b.data(), sum.data());
    VectorOps::ScaleFloatsInPlace(37, scaled.data(), -0.5f);
    VectorOps::AddFloatsInPlace(39, running.data(), running.data() + 1); // in index order
    EXPECT_EQ(copied, (std::vector<uint8_t>{1, 2, 3, 250, 0, 9}));
    EXPECT_EQ(running, Ramp(40, 1.0f));
    for (int i = 0; i < 37; ++i)
    {
        EXPECT_EQ(set[i], 2.5f) << i;
        EXPECT_TRUE(zero[i] == 0.0f && !std::signbit(zero[i])) << i;
        EXPECT_EQ(sum[i], 95.0f + 2.0f * float(i)) << i;
        EXPECT_EQ(scaled[i], (float(i) - 5.0f) * -0.5f) << i;
    }
    std::vector<float> up = Ramp(10), down = Ramp(10);
    VectorOps::MoveFloats(9, up.data(), up.data() + 1);
    VectorOps::MoveFloats(9, down.data() + 1, down.data());
    EXPECT_EQ(up, (std::vector<float>{0, 0, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(down, (std::vector<float>{1, 2, 3, 4, 5, 6, 7, 8, 9, 9}));
    EXPECT_EQ(set[37], -1.0f);
    EXPECT_EQ(zero[37], -3.0f);
}

TEST(VectorOps, ScaleByExactlyZeroOrOne)
{
    std::vector<float> special = {kInf, kNaN, -kInf, -0.0f, 3.0f, -kNaN, 1e38f};
    for (float zero : {0.0f, -0.0f})
    {
        std::vector<float> v = special;
        VectorOps::ScaleFloatsInPlace(uint32_t(v.size()), v.data(), zero);
        for (float x : v)
            EXPECT_TRUE(x == 0.0f && !std::signbit(x));
    }
    const uint32_t payloadBits = 0x7FA12345u; // a NaN with a payload comes back bit for bit
    std::memcpy(&special[2], &payloadBits, sizeof(float));
    const std::vector<float> before = special;
    VectorOps::ScaleFloatsInPlace(uint32_t(special.size()), special.data(), 1.0f);
    EXPECT_TRUE(SameBits(special, before));
}

// A count of 0 touches no pointer; a null pointer or a bad size leaves the other array alone.
TEST(VectorOps, CountZeroNullPointersAndBadSizesTouchNothing)
{
    using namespace Primitives;
    const std::vector<float> original = {1.0f, kNaN, kInf, -2.0f};
    std::vector<float> v = original;
    float* p = v.data();
    uint8_t* b = reinterpret_cast<uint8_t*>(p);
    for (uint32_t n : {0u, 4u})
        for (float* none : {static_cast<float*>(nullptr), p + 1})
        {
            if (n > 0 && none)
                continue;
            uint8_t* noBytes = reinterpret_cast<uint8_t*>(none);
            VectorOps::CopyBytes(n, noBytes, b);
            VectorOps::CopyBytes(n, b, noBytes);
            VectorOps::MoveFloats(n, none, p);
            VectorOps::MoveFloats(n, p, none);
            VectorOps::AddFloatsInPlace(n, none, p);
            VectorOps::AddFloatsInPlace(n, p, none);
            VectorOps::SetFloats(n, none, 7.0f);
            VectorOps::ZeroFloats(n, none);
            VectorOps::ScaleFloatsInPlace(n, none, 0.0f);
        }
    EXPECT_EQ((std::vector<int32_t>{CopyBytes(4, nullptr, b), CopyBytes(4, b, nullptr),
                                    MoveFloats(4, nullptr, p), MoveFloats(4, p, nullptr),
                                    AddFloatsInPlace(4, nullptr, p),
                                    AddFloatsInPlace(4, p, nullptr), SetFloats(4, nullptr, 1.0f),
                                    ZeroFloats(4, nullptr), ScaleFloatsInPlace(4, nullptr, 2.0f)}),
              std::vector<int32_t>(9, StatusNullPointer));
    for (int32_t count : {0, -1, std::numeric_limits<int32_t>::min()})
        EXPECT_EQ(
            (std::vector<int32_t>{CopyBytes(count, b, b + 4), MoveFloats(count, p, p + 1),
                                  AddFloatsInPlace(count, p, p + 1), SetFloats(count, p, 1.0f),
                                  ZeroFloats(count, p), ScaleFloatsInPlace(count, p, 2.0f)}),
            std::vector<int32_t>(6, StatusBadSize));
    EXPECT_TRUE(SameBits(v, original));
}

TEST(AlignedMemory, BlocksAreAlignedUsableAndFreed)
{
    for (int32_t count : {0, -1, std::numeric_limits<int32_t>::min()})
    {
        EXPECT_EQ(VectorOps::AlignedAllocBytes(count), nullptr) << count;
        EXPECT_EQ(VectorOps::AlignedAllocFloats(count), nullptr) << count;
    }
    for (int32_t count : {1, 5, 37, 200})
    {
        uint8_t* bytes = VectorOps::AlignedAllocBytes(count);
        float* floats = VectorOps::AlignedAllocFloats(count);
        ASSERT_TRUE(bytes && floats);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(bytes) % 32, 0u);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(floats) % 32, 0u);
        std::memset(bytes, 0xAB, size_t(count));
        VectorOps::SetFloats(uint32_t(count), floats, 1.5f);
        VectorOps::AlignedFree(bytes);
        VectorOps::AlignedFree(floats);
    }
    VectorOps::AlignedFree(nullptr);
    const size_t most = std::numeric_limits<size_t>::max(); // overflowing byte counts fail
    EXPECT_EQ(Primitives::AlignedAllocate(most, 1), nullptr);
    EXPECT_EQ(Primitives::AlignedAllocate(most / 4 + 1, sizeof(float)), nullptr);
}

} // namespace
