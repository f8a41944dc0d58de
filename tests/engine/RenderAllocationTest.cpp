// Proves that rendering allocates nothing once its buffers have grown to the largest block.
//
// The global allocation functions of this test program are replaced by counting versions that
// forward to malloc and free. The engine library resolves its allocations to them as well, so
// every operator new the engine makes while the counter is armed is seen. The replacements stay
// complete and correct for every other test linked into the same program.
#include "engine/KelvoraEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

namespace
{

std::atomic<bool> counting{false};
std::atomic<size_t> allocations{0};

void* Allocate(size_t size, size_t alignment, bool nothrow)
{
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    if (size == 0)
        size = 1;
    for (;;)
    {
        void* block = nullptr;
        if (alignment <= alignof(std::max_align_t))
            block = std::malloc(size);
        else if (posix_memalign(&block, alignment, size) != 0)
            block = nullptr;
        if (block)
            return block;
        std::new_handler handler = std::get_new_handler();
        if (!handler)
        {
            if (nothrow)
                return nullptr;
            throw std::bad_alloc();
        }
        if (nothrow)
        {
            try
            {
                handler();
            }
            catch (...)
            {
                return nullptr;
            }
        }
        else
        {
            handler();
        }
    }
}

} // namespace

void* operator new(size_t size)
{
    return Allocate(size, 0, false);
}
void* operator new[](size_t size)
{
    return Allocate(size, 0, false);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size, 0, true);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size, 0, true);
}
void* operator new(size_t size, std::align_val_t alignment)
{
    return Allocate(size, static_cast<size_t>(alignment), false);
}
void* operator new[](size_t size, std::align_val_t alignment)
{
    return Allocate(size, static_cast<size_t>(alignment), false);
}
void* operator new(size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return Allocate(size, static_cast<size_t>(alignment), true);
}
void* operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return Allocate(size, static_cast<size_t>(alignment), true);
}

void operator delete(void* block) noexcept
{
    std::free(block);
}
void operator delete[](void* block) noexcept
{
    std::free(block);
}
void operator delete(void* block, size_t) noexcept
{
    std::free(block);
}
void operator delete[](void* block, size_t) noexcept
{
    std::free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept
{
    std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept
{
    std::free(block);
}
void operator delete(void* block, std::align_val_t) noexcept
{
    std::free(block);
}
void operator delete[](void* block, std::align_val_t) noexcept
{
    std::free(block);
}
void operator delete(void* block, size_t, std::align_val_t) noexcept
{
    std::free(block);
}
void operator delete[](void* block, size_t, std::align_val_t) noexcept
{
    std::free(block);
}
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept
{
    std::free(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept
{
    std::free(block);
}

namespace
{

using VoKelvora::EnvelopeSettings;
using VoKelvora::KelvoraEngine;
using VoKelvora::SliceInfo;

struct EngineDeleter
{
    void operator()(KelvoraEngine* engine) const { KelvoraEngine::Destroy(engine); }
};

// Counts the operator new calls made while it lives.
class AllocationCounter
{
public:
    AllocationCounter()
    {
        allocations.store(0);
        counting.store(true);
    }
    ~AllocationCounter() { counting.store(false); }
    size_t Count() const { return allocations.load(); }
};

// A one-second stereo loop of decaying bursts, cut by the host into eight slices, with an
// amplitude envelope, a transposition and a tail extension so that every stage of a voice
// (tail loop, both envelopes, gain) works.
struct Fixture
{
    Fixture() : left(44100), right(44100)
    {
        for (uint32_t j = 0; j < 44100; ++j)
        {
            const float burst = std::exp(-static_cast<float>(j % 5512) / 800.0f);
            left[j] = burst * std::sin(0.05f * static_cast<float>(j));
            right[j] = burst * std::cos(0.031f * static_cast<float>(j));
        }
        pointers[0] = left.data();
        pointers[1] = right.data();
        KelvoraEngine* raw = nullptr;
        KelvoraEngine::Create(&raw, 2, 44100, 48000);
        engine.reset(raw);
        std::vector<SliceInfo> slices;
        for (uint32_t s = 0; s < 8; ++s)
        {
            SliceInfo info{};
            info.sourcePosition = info.position = s * 5512;
            info.tickPosition = -1.0f;
            info.strength = 1.0f;
            info.lockedOn = true;
            slices.push_back(info);
        }
        engine->SetLoop(44100, 2, pointers, 0.0f, slices.data(), 8);
        engine->SetTempo(0.7f * engine->GetTempo());
        engine->SetTranspose(-5.0f);
        engine->SetFineTune(13.0f);
        engine->SetTailExtension(0.8f);
        engine->SetGain(-3.0f);
        const EnvelopeSettings envelope{2.0f, 10.0f, 60.0f, -12.0f};
        engine->SetEnvelope(&envelope);
    }

    void Render(uint32_t frames)
    {
        float* outputs[2] = {outLeft.data(), outRight.data()};
        engine->Render(frames, outputs);
    }

    std::vector<float> left;
    std::vector<float> right;
    float* pointers[2];
    std::unique_ptr<KelvoraEngine, EngineDeleter> engine;
    std::vector<float> outLeft = std::vector<float>(4096);
    std::vector<float> outRight = std::vector<float>(4096);
};

} // namespace

TEST(RenderAllocation, CounterSeesTheEnginesAllocations)
{
    // Building an engine and handing it a loop allocates inside the library: the counter must
    // see that, or the checks below would prove nothing.
    AllocationCounter counter;
    Fixture f;
    EXPECT_GT(counter.Count(), 0u);
}

TEST(RenderAllocation, LoopPlaybackAllocatesNothingAfterTheFirstBlocks)
{
    Fixture f;
    f.engine->Transport(0, 0);
    // One pass of the loop (about 68 600 frames) in the largest block lets both voices grow
    // their buffers.
    for (uint32_t block = 0; block < 17; ++block)
        f.Render(4096);

    AllocationCounter counter;
    float sum = 0.0f;
    for (uint32_t block = 0; block < 600; ++block) // several passes of the loop
    {
        f.Render(block % 3 == 0 ? 4096 : 64 + block % 300);
        sum += std::fabs(f.outLeft[10]);
    }
    EXPECT_EQ(counter.Count(), 0u);
    EXPECT_GT(sum, 0.0f); // it did play
}

TEST(RenderAllocation, AuditionAndTransportAllocateNothing)
{
    Fixture f;
    f.engine->Transport(0, 0);
    for (uint32_t block = 0; block < 17; ++block)
        f.Render(4096);

    AllocationCounter counter;
    for (uint32_t round = 0; round < 20; ++round)
    {
        f.engine->Transport(2, round % 8);
        for (uint32_t block = 0; block < 10; ++block)
            f.Render(512);
        f.engine->Transport(1, 0);
        f.Render(512);
        f.engine->Transport(0, 0);
        for (uint32_t block = 0; block < 10; ++block)
            f.Render(1024);
    }
    EXPECT_EQ(counter.Count(), 0u);
}
