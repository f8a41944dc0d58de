#include "dsp/foundation/Primitives.h"
#include "dsp/foundation/RealFFT.h"
#include "dsp/foundation/VectorOps.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <random>
#include <vector>

namespace
{

using namespace DSP;

// An aligned float buffer for the benchmarks, released on scope exit.
class Buffer
{
public:
    explicit Buffer(int32_t count) : data_(VectorOps::AlignedAllocFloats(count))
    {
        std::mt19937 generator(7);
        std::uniform_real_distribution<float> distribution(-1.0f, 1.0f);
        for (int32_t i = 0; i < count; ++i)
            data_[i] = distribution(generator);
    }
    ~Buffer() { VectorOps::AlignedFree(data_); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    float* get() const { return data_; }

private:
    float* data_;
};

// Our real FFT in one direction, through the plan-and-buffer object the analysis uses.
void RealFft(benchmark::State& state, bool inverse)
{
    const int32_t n = static_cast<int32_t>(state.range(0));
    RealFFT fft(n);
    Buffer in(n + 2), out(n + 2);
    for (auto _ : state)
    {
        if (inverse)
            fft.Inverse(in.get(), out.get());
        else
            fft.Forward(in.get(), out.get());
        benchmark::DoNotOptimize(out.get());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void RealFftForward(benchmark::State& state)
{
    RealFft(state, false);
}

void RealFftInverse(benchmark::State& state)
{
    RealFft(state, true);
}

// Sixteen forward transforms side by side in one call, as the analysis runs them; items are
// single transforms, so the rate compares directly with RealFftForward.
void RealFftForwardBatch(benchmark::State& state)
{
    const int32_t n = static_cast<int32_t>(state.range(0));
    constexpr int32_t Lanes = Primitives::FftBatchLanes;
    RealFFT fft(n);
    Buffer in(Lanes * n), out(Lanes * (n + 2));
    fft.ForwardBatch(in.get(), out.get()); // allocates the batch work buffer
    for (auto _ : state)
    {
        fft.ForwardBatch(in.get(), out.get());
        benchmark::DoNotOptimize(out.get());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * Lanes);
}

// The same transform through FFTW (real to half-complex, which is CCS order), on the same kind of
// buffers.
void FftwForward(benchmark::State& state)
{
    const int32_t n = static_cast<int32_t>(state.range(0));
    Buffer in(n), out(n + 2);
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(
        n, in.get(), reinterpret_cast<fftwf_complex*>(out.get()), FFTW_MEASURE);
    // Planning with FFTW_MEASURE overwrites the buffers.
    Buffer fresh(n);
    VectorOps::MoveFloats(static_cast<uint32_t>(n), fresh.get(), in.get());
    for (auto _ : state)
    {
        fftwf_execute(plan);
        benchmark::DoNotOptimize(out.get());
        benchmark::ClobberMemory();
    }
    fftwf_destroy_plan(plan);
    state.SetItemsProcessed(state.iterations());
}

constexpr uint32_t kBlock = 512;

void ZeroBlock(benchmark::State& state)
{
    Buffer a(kBlock);
    for (auto _ : state)
    {
        VectorOps::ZeroFloats(kBlock, a.get());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}

void AddBlock(benchmark::State& state)
{
    Buffer a(kBlock), b(kBlock);
    for (auto _ : state)
    {
        VectorOps::AddFloatsInPlace(kBlock, a.get(), b.get());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}

void ScaleBlock(benchmark::State& state)
{
    Buffer a(kBlock);
    // Alternating gains keep the values bounded.
    float gain = 0.5f;
    for (auto _ : state)
    {
        VectorOps::ScaleFloatsInPlace(kBlock, a.get(), gain);
        gain = gain == 0.5f ? 2.0f : 0.5f;
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}

void MoveBlock(benchmark::State& state)
{
    Buffer a(kBlock + 1);
    for (auto _ : state)
    {
        // Overlapping by one float, as when a block is shifted along.
        VectorOps::MoveFloats(kBlock, a.get() + 1, a.get());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}

// On a shared machine the fastest repetition is the one least disturbed by other work; run with
// --benchmark_repetitions=N (and --benchmark_enable_random_interleaving=true) to get it.
double Fastest(const std::vector<double>& times)
{
    return *std::min_element(times.begin(), times.end());
}

BENCHMARK(RealFftForward)
    ->Arg(64)
    ->Arg(256)
    ->Arg(512)
    ->Arg(1024)
    ->ComputeStatistics("min", Fastest);
BENCHMARK(RealFftForwardBatch)
    ->Arg(64)
    ->Arg(256)
    ->Arg(512)
    ->Arg(1024)
    ->ComputeStatistics("min", Fastest);
BENCHMARK(FftwForward)->Arg(64)->Arg(256)->Arg(1024)->ComputeStatistics("min", Fastest);
BENCHMARK(RealFftInverse)->Arg(64)->Arg(256)->Arg(1024)->ComputeStatistics("min", Fastest);
BENCHMARK(ZeroBlock);
BENCHMARK(AddBlock);
BENCHMARK(ScaleBlock);
BENCHMARK(MoveBlock);

} // namespace
