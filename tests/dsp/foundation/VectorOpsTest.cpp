#include "dsp/foundation/VectorOps.h"
#include "dsp/foundation/Primitives.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
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

TEST(VectorOps, BulkOperationsCompute)
{
    // 37 elements: long enough for vector code plus a remainder.
    const auto a = Ramp(37, -5.0f), b = Ramp(37, 100.0f);
    std::vector<float> set(38, -1.0f), zero(38, -3.0f), sum = a, scaled = a, running(40, 1.0f);
    const std::vector<uint8_t> bytes = {1, 2, 3, 250, 0, 7};
    std::vector<uint8_t> copied(6, 9);
    VectorOps::CopyBytes(5, bytes.data(), copied.data());
    VectorOps::SetFloats(37, set.data(), 2.5f);
    VectorOps::ZeroFloats(37, zero.data());
    VectorOps::AddFloatsInPlace(37, b.data(), sum.data());
    VectorOps::ScaleFloatsInPlace(37, scaled.data(), -0.5f);
    // Additions run in index order: one above the source, each adds the one just updated.
    VectorOps::AddFloatsInPlace(39, running.data(), running.data() + 1);
    EXPECT_EQ(copied, (std::vector<uint8_t>{1, 2, 3, 250, 0, 9}));
    EXPECT_EQ(running, Ramp(40, 1.0f));
    for (int i = 0; i < 37; ++i)
    {
        EXPECT_EQ(set[i], 2.5f) << i;
        EXPECT_TRUE(zero[i] == 0.0f && !std::signbit(zero[i])) << i;
        EXPECT_EQ(sum[i], 95.0f + 2.0f * float(i)) << i;
        EXPECT_EQ(scaled[i], (float(i) - 5.0f) * -0.5f) << i;
    }
    EXPECT_EQ(set[37], -1.0f);
    EXPECT_EQ(zero[37], -3.0f);
}

TEST(VectorOps, MoveFloatsHandlesOverlapBothWays)
{
    std::vector<float> up = Ramp(10), down = Ramp(10), shifted = Ramp(1000);
    VectorOps::MoveFloats(9, up.data(), up.data() + 1); // a forward copy would smear element 0
    VectorOps::MoveFloats(9, down.data() + 1, down.data());
    EXPECT_EQ(up, (std::vector<float>{0, 0, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(down, (std::vector<float>{1, 2, 3, 4, 5, 6, 7, 8, 9, 9}));
    VectorOps::MoveFloats(700, shifted.data() + 300, shifted.data());
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(shifted[i], float(i < 700 ? i + 300 : i)) << i;
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

uint8_t* Bytes(float* p)
{
    return reinterpret_cast<uint8_t*>(p);
}

// Every bulk operation as (count, source, destination); single-array ones ignore the source.
struct BulkOp
{
    const char* name;
    bool hasSource;
    std::function<int32_t(int32_t, float*, float*)> primitive;
    std::function<void(uint32_t, float*, float*)> front;
};

const BulkOp kBulkOps[] = {
    {"CopyBytes", true,
     [](int32_t n, float* s, float* d) { return Primitives::CopyBytes(n, Bytes(s), Bytes(d)); },
     [](uint32_t n, float* s, float* d) { VectorOps::CopyBytes(n, Bytes(s), Bytes(d)); }},
    {"MoveFloats", true,
     [](int32_t n, float* s, float* d) { return Primitives::MoveFloats(n, s, d); },
     [](uint32_t n, float* s, float* d) { VectorOps::MoveFloats(n, s, d); }},
    {"SetFloats", false,
     [](int32_t n, float*, float* d) { return Primitives::SetFloats(n, d, 7.0f); },
     [](uint32_t n, float*, float* d) { VectorOps::SetFloats(n, d, 7.0f); }},
    {"ZeroFloats", false, [](int32_t n, float*, float* d) { return Primitives::ZeroFloats(n, d); },
     [](uint32_t n, float*, float* d) { VectorOps::ZeroFloats(n, d); }},
    {"AddFloatsInPlace", true,
     [](int32_t n, float* s, float* d) { return Primitives::AddFloatsInPlace(n, s, d); },
     [](uint32_t n, float* s, float* d) { VectorOps::AddFloatsInPlace(n, s, d); }},
    {"ScaleFloatsInPlace", false,
     [](int32_t n, float*, float* d) { return Primitives::ScaleFloatsInPlace(n, d, 2.0f); },
     [](uint32_t n, float*, float* d) { VectorOps::ScaleFloatsInPlace(n, d, 0.0f); }},
};

// A count of 0 touches no pointer; a null pointer or a bad size leaves the other array alone and
// reports its status in the primitive layer.
TEST(VectorOps, CountZeroNullPointersAndBadSizesTouchNothing)
{
    const std::vector<float> original = {1.0f, kNaN, kInf, -2.0f};
    for (const BulkOp& op : kBulkOps)
    {
        SCOPED_TRACE(op.name);
        std::vector<float> v = original, w = original;
        op.front(0, nullptr, nullptr);
        op.front(0, v.data() + 1, v.data());
        op.front(4, v.data(), nullptr);
        EXPECT_EQ(op.primitive(4, v.data(), nullptr), Primitives::StatusNullPointer);
        if (op.hasSource)
        {
            op.front(4, nullptr, w.data());
            EXPECT_EQ(op.primitive(4, nullptr, w.data()), Primitives::StatusNullPointer);
        }
        for (int32_t count : {0, -1, std::numeric_limits<int32_t>::min()})
            EXPECT_EQ(op.primitive(count, v.data(), w.data()), Primitives::StatusBadSize);
        EXPECT_TRUE(SameBits(v, original));
        EXPECT_TRUE(SameBits(w, original));
        EXPECT_EQ(op.primitive(1, v.data(), w.data()), Primitives::StatusOk);
    }
}

TEST(AlignedMemory, BlocksAreAlignedUsableAndFreed)
{
    for (int32_t count : {0, -1, -32, std::numeric_limits<int32_t>::min()})
    {
        EXPECT_EQ(VectorOps::AlignedAllocBytes(count), nullptr) << count;
        EXPECT_EQ(VectorOps::AlignedAllocFloats(count), nullptr) << count;
    }
    // Many sizes, so that the heap hands out differently aligned raw addresses; every item is
    // written (the sanitizer build checks the bounds).
    for (int32_t count = 1; count <= 200; count += 7)
    {
        uint8_t* bytes = VectorOps::AlignedAllocBytes(count);
        float* floats = VectorOps::AlignedAllocFloats(count);
        ASSERT_TRUE(bytes && floats);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(bytes) % 32, 0u);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(floats) % 32, 0u);
        std::memset(bytes, 0xAB, size_t(count));
        VectorOps::SetFloats(uint32_t(count), floats, 1.5f);
        EXPECT_EQ(floats[count - 1], 1.5f);
        VectorOps::AlignedFree(bytes);
        VectorOps::AlignedFree(floats);
    }
    VectorOps::AlignedFree(nullptr);
    // Byte counts that overflow fail instead of wrapping to a small block.
    const size_t most = std::numeric_limits<size_t>::max();
    EXPECT_EQ(Primitives::AlignedAllocate(most, 1), nullptr);
    EXPECT_EQ(Primitives::AlignedAllocate(most / 4 + 1, sizeof(float)), nullptr);
}

} // namespace
