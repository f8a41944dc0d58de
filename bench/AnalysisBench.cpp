// Transient detection on stereo 44.1 kHz drum loops: time per analysis, its real-time factor,
// and the peak heap memory one analysis takes on top of what was in use before it.
#include "dsp/analysis/TransientDetector.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

// Heap accounting for the memory figure. Every allocation of the program goes through these
// (the library's aligned blocks come from malloc, containers from operator new, which calls
// malloc); they forward to the C library and, only while an analysis is being measured, add up
// the usable size of each block.
extern "C"
{
    void* __libc_malloc(size_t size);
    void __libc_free(void* block);
    void* __libc_calloc(size_t count, size_t size);
    void* __libc_realloc(void* block, size_t size);
    void* __libc_memalign(size_t alignment, size_t size);
}

namespace
{

std::atomic<bool> counting{false};
std::atomic<int64_t> inUse{0};
std::atomic<int64_t> peakInUse{0};

void Count(void* block)
{
    if (block == nullptr || !counting.load(std::memory_order_relaxed))
        return;
    const int64_t now = inUse.fetch_add(static_cast<int64_t>(malloc_usable_size(block)),
                                        std::memory_order_relaxed) +
                        static_cast<int64_t>(malloc_usable_size(block));
    int64_t peak = peakInUse.load(std::memory_order_relaxed);
    while (now > peak && !peakInUse.compare_exchange_weak(peak, now, std::memory_order_relaxed))
    {
    }
}

void Uncount(void* block)
{
    if (block != nullptr && counting.load(std::memory_order_relaxed))
        inUse.fetch_sub(static_cast<int64_t>(malloc_usable_size(block)), std::memory_order_relaxed);
}

} // namespace

extern "C"
{

    void* malloc(size_t size) noexcept
    {
        void* block = __libc_malloc(size);
        Count(block);
        return block;
    }

    void free(void* block) noexcept
    {
        Uncount(block);
        __libc_free(block);
    }

    void* calloc(size_t count, size_t size) noexcept
    {
        void* block = __libc_calloc(count, size);
        Count(block);
        return block;
    }

    void* realloc(void* block, size_t size) noexcept
    {
        Uncount(block);
        void* moved = __libc_realloc(block, size);
        // A failed realloc leaves the old block in place.
        Count(moved != nullptr || size == 0 ? moved : block);
        return moved;
    }

    void* memalign(size_t alignment, size_t size) noexcept
    {
        void* block = __libc_memalign(alignment, size);
        Count(block);
        return block;
    }

    void* aligned_alloc(size_t alignment, size_t size) noexcept
    {
        return memalign(alignment, size);
    }

    int posix_memalign(void** out, size_t alignment, size_t size) noexcept
    {
        void* block = memalign(alignment, size);
        if (block == nullptr)
            return ENOMEM;
        *out = block;
        return 0;
    }

} // extern "C"

namespace
{

constexpr uint32_t AnalysisRate = 44100;

// A drum loop of `seconds` at 120 BPM: a hit on every eighth note, decaying noise bursts of
// varying level and length, slightly different in each channel.
struct DrumLoop
{
    explicit DrumLoop(int seconds)
        : frames(static_cast<uint32_t>(seconds) * AnalysisRate),
          samples(2, std::vector<float>(frames, 0.0f))
    {
        std::mt19937 rng(99);
        std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
        const uint32_t eighth = AnalysisRate / 4;
        for (uint32_t hit = 0, n = 0; hit < frames; hit += eighth, ++n)
        {
            const float level = (n % 4 == 0) ? 1.0f : (n % 2 == 0 ? 0.7f : 0.35f);
            const double decay = (n % 2 == 0 ? 0.05 : 0.015) * AnalysisRate;
            for (uint32_t i = hit; i < frames && i < hit + eighth; ++i)
            {
                const float envelope =
                    level * static_cast<float>(std::exp(-static_cast<double>(i - hit) / decay));
                samples[0][i] += envelope * noise(rng);
                samples[1][i] += envelope * noise(rng);
            }
        }
        for (const auto& channel : samples)
            pointers.push_back(channel.data());
    }

    uint32_t frames;
    std::vector<std::vector<float>> samples;
    std::vector<const float*> pointers;
};

void DetectTransientsStereo(benchmark::State& state)
{
    const int seconds = static_cast<int>(state.range(0));
    DrumLoop loop(seconds);
    std::vector<DSP::DetectedTransient> out;

    // One analysis with the heap counted: the peak of what it holds at once, its own output
    // included.
    inUse = 0;
    peakInUse = 0;
    counting = true;
    DSP::DetectTransients(AnalysisRate, 2, loop.frames, loop.pointers.data(), out, 75.0f);
    counting = false;
    const double peakBytes = static_cast<double>(peakInUse.load());

    for (auto _ : state)
    {
        DSP::DetectTransients(AnalysisRate, 2, loop.frames, loop.pointers.data(), out, 75.0f);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.counters["transients"] = static_cast<double>(out.size());
    state.counters["peak_KiB"] = peakBytes / 1024.0;
    // Seconds of audio analysed per second of wall time.
    state.counters["realtime"] = benchmark::Counter(static_cast<double>(seconds),
                                                    benchmark::Counter::kIsIterationInvariantRate);
}

// The two stages on their own: the feature tracks, computed once per analysis, and the four
// picking passes.
void ComputeFeaturesStereo(benchmark::State& state)
{
    const int seconds = static_cast<int>(state.range(0));
    DrumLoop loop(seconds);
    for (auto _ : state)
    {
        DSP::TransientDetector detector;
        detector.ComputeFeatures(loop.pointers.data(), 2, loop.frames, AnalysisRate);
        benchmark::DoNotOptimize(detector.fluxCoarse.data());
    }
}

void PickPeaksFourPasses(benchmark::State& state)
{
    const int seconds = static_cast<int>(state.range(0));
    DrumLoop loop(seconds);
    DSP::TransientDetector detector;
    detector.ComputeFeatures(loop.pointers.data(), 2, loop.frames, AnalysisRate);
    for (auto _ : state)
    {
        for (int pass = 0; pass < 4; ++pass)
        {
            const float window = static_cast<float>(0.075 * (pass / 4.0 + 0.5));
            detector.PickPeaks(loop.pointers.data(), 2, loop.frames, AnalysisRate, 1e6f, window);
        }
        benchmark::DoNotOptimize(detector.candidates.data());
    }
}

} // namespace

BENCHMARK(DetectTransientsStereo)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond);
BENCHMARK(ComputeFeaturesStereo)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond);
BENCHMARK(PickPeaksFourPasses)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond);
