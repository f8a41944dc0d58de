// Rendering allocates nothing once its buffers have grown. The global allocation functions are
// replaced, for the whole program and the engine library, by counting forwards to malloc/free.
#include "tests/engine/HostEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <random>
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

// Seeded random sessions: rates, channel counts, loop lengths, host slices (some pinned) or
// analysed ones, every shaping setting, and blocks of 1 to 16 384 frames. Neither Render nor
// Transport may allocate, not even the first time a voice meets a longer piece than before.
TEST(RenderAllocation, RandomSessionsAllocateNothingInRenderOrTransport)
{
    {
        AllocationCounter counter; // it must see the library's own allocations
        Make(2, 44100, 0);
        EXPECT_GT(counter.Count(), 0u);
    }
    const uint32_t rates[] = {8000, 22050, 44100, 48000, 96000, 192000};
    const uint32_t outputRates[] = {0, 44100, 96000};
    PlanarAudio out(8, 16384);
    for (uint32_t seed = 1; seed <= 12; ++seed)
    {
        std::mt19937 rng(seed);
        const auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
        const auto uniform = [&](float a, float b)
        { return std::uniform_real_distribution<float>(a, b)(rng); };
        const uint32_t rate = rates[pick(6)], channels = 1 + pick(8);
        const uint32_t frames = static_cast<uint32_t>(uniform(0.3f, 2.5f) * rate);
        PlanarAudio source(channels, frames);
        for (uint32_t c = 0; c < channels; ++c)
            for (uint32_t j = 0; j < frames; ++j)
                source.samples[c][j] = std::exp(-float(j % (rate / 4)) / 400.0f) *
                                       std::sin(0.03f * float(j) * float(c + 1));
        EnginePtr engine = Make(channels, rate, outputRates[pick(3)]);
        std::vector<SliceInfo> slices;
        for (uint32_t k = 0, n = pick(12); k < n; ++k)
        {
            slices.push_back(HostSlice(k * (frames / (n + 1)), true));
            if (k > 0 && pick(4) == 0)
                slices.back().tickPosition = float(k * 40 + pick(20));
        }
        engine->SetLoop(frames, channels, source.Channels(), seed % 2 ? 0.0f : 100.0f,
                        slices.data(), static_cast<uint32_t>(slices.size()));
        engine->SetSensitivity(uniform(0.2f, 1.0f));
        engine->SetTempo(uniform(0.3f, 3.0f) * engine->GetTempo());
        engine->SetTranspose(uniform(-24.0f, 24.0f));
        engine->SetFineTune(uniform(-100.0f, 100.0f));
        engine->SetTailExtension(uniform(0.0f, 1.0f));
        engine->SetTailFromSoundEnd(pick(2) == 0);
        engine->SetTailLoopPosition(uniform(0.0f, 1.0f));
        engine->SetGain(uniform(-20.0f, 6.0f));
        const VoKelvora::EnvelopeSettings envelope{uniform(0, 10), uniform(0, 50), uniform(0, 300),
                                                   uniform(-40, 0)};
        engine->SetEnvelope(&envelope);

        AllocationCounter counter;
        float sum = 0.0f;
        engine->Transport(0, 0);
        for (uint32_t block = 0; block < 150; ++block)
        {
            const uint32_t size = 1 + pick(block % 10 == 0 ? 16384 : 8192);
            engine->Render(size, out.Channels());
            sum += std::fabs(out.samples[0][size / 2]);
            if (block % 40 == 39)
                engine->Transport(2, pick(engine->GetSliceCount() + 1));
            if (block % 40 == 45 % 40)
                engine->Transport(block % 3 == 0 ? 1 : 0, 0);
        }
        EXPECT_EQ(counter.Count(), 0u) << "seed " << seed;
        EXPECT_GT(sum, 0.0f) << "seed " << seed; // it did play
    }
}
