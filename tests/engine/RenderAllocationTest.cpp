// Rendering allocates nothing once its buffers have grown. The global allocation functions are
// replaced, for the whole program and the engine library, by counting forwards to malloc/free.
#include "tests/engine/HostEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
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
    size = size ? size : 1;
    for (;;)
    {
        void* block = nullptr;
        if (alignment <= alignof(std::max_align_t))
            block = std::malloc(size);
        else if (posix_memalign(&block, alignment, size) != 0)
            block = nullptr;
        const std::new_handler handler = std::get_new_handler();
        if (block || (!handler && nothrow))
            return block;
        if (!handler)
            throw std::bad_alloc();
        try
        {
            handler();
        }
        catch (...)
        {
            if (nothrow)
                return nullptr;
            throw;
        }
    }
}

size_t Align(std::align_val_t alignment)
{
    return static_cast<size_t>(alignment);
}

using NoThrow = const std::nothrow_t&;
using Alignment = std::align_val_t;

} // namespace

// clang-format off
void* operator new(size_t n) { return Allocate(n, 0, false); }
void* operator new[](size_t n) { return Allocate(n, 0, false); }
void* operator new(size_t n, NoThrow) noexcept { return Allocate(n, 0, true); }
void* operator new[](size_t n, NoThrow) noexcept { return Allocate(n, 0, true); }
void* operator new(size_t n, Alignment a) { return Allocate(n, Align(a), false); }
void* operator new[](size_t n, Alignment a) { return Allocate(n, Align(a), false); }
void* operator new(size_t n, Alignment a, NoThrow) noexcept { return Allocate(n, Align(a), true); }
void* operator new[](size_t n, Alignment a, NoThrow) noexcept { return Allocate(n, Align(a), true); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, NoThrow) noexcept { std::free(p); }
void operator delete[](void* p, NoThrow) noexcept { std::free(p); }
void operator delete(void* p, Alignment) noexcept { std::free(p); }
void operator delete[](void* p, Alignment) noexcept { std::free(p); }
void operator delete(void* p, size_t, Alignment) noexcept { std::free(p); }
void operator delete[](void* p, size_t, Alignment) noexcept { std::free(p); }
void operator delete(void* p, Alignment, NoThrow) noexcept { std::free(p); }
void operator delete[](void* p, Alignment, NoThrow) noexcept { std::free(p); }
// clang-format on

namespace
{

using namespace HostEngine;

// Counts the operator new calls made while it lives.
struct AllocationCounter
{
    AllocationCounter() { allocations = 0, counting = true; }
    ~AllocationCounter() { counting = false; }
    size_t Count() const { return allocations; }
};

} // namespace

// A one-second stereo loop of bursts in eight host slices, rendered at 48 kHz with every stage of
// a voice at work (resampling, tail loop, both envelopes, gain).
TEST(RenderAllocation, PlaybackAuditionAndTransportAllocateNothing)
{
    {
        AllocationCounter counter; // it must see the library's own allocations
        Make(2, 44100, 0);
        EXPECT_GT(counter.Count(), 0u);
    }
    PlanarAudio source(2, 44100), out(2, 4096);
    EnginePtr engine = Make(2, 44100, 48000);
    std::vector<SliceInfo> slices;
    for (uint32_t j = 0; j < 44100; ++j)
    {
        const float burst = std::exp(-static_cast<float>(j % 5512) / 800.0f);
        source.samples[0][j] = burst * std::sin(0.05f * static_cast<float>(j));
        source.samples[1][j] = burst * std::cos(0.031f * static_cast<float>(j));
        if (j % 5512 == 0 && j < 8 * 5512)
            slices.push_back(HostSlice(j, true));
    }
    engine->SetLoop(44100, 2, source.Channels(), 0.0f, slices.data(), 8);
    engine->SetTempo(0.7f * engine->GetTempo());
    engine->SetTranspose(-5.0f);
    engine->SetFineTune(13.0f);
    engine->SetTailExtension(0.8f);
    engine->SetGain(-3.0f);
    const VoKelvora::EnvelopeSettings envelope{2.0f, 10.0f, 60.0f, -12.0f};
    engine->SetEnvelope(&envelope);
    const auto render = [&](uint32_t frames) { engine->Render(frames, out.Channels()); };
    engine->Transport(0, 0);
    for (int block = 0; block < 17; ++block) // one pass in the largest block grows the buffers
        render(4096);

    AllocationCounter counter;
    float sum = 0.0f;
    for (uint32_t block = 0; block < 600; ++block) // several passes, mixed block sizes
    {
        render(block % 3 == 0 ? 4096 : 64 + block % 300);
        sum += std::fabs(out.samples[0][10]);
    }
    for (uint32_t round = 0; round < 20; ++round)
    {
        engine->Transport(2, round % 8);
        for (uint32_t block = 0; block < 10; ++block)
            render(512);
        engine->Transport(1, 0);
        render(512);
        engine->Transport(0, 0);
        render(1024);
    }
    EXPECT_EQ(counter.Count(), 0u);
    EXPECT_GT(sum, 0.0f); // it did play
}
