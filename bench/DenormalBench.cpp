// What denormal audio costs the analysis and the renderer, with and without the denormal guard the
// engine puts around both. Each benchmark runs the same work on drum-like bursts (normal floats)
// and on noise of denormal magnitude; with the guard the two should cost the same.
#include "Util/DenormalGuard.h"
#include "dsp/marrowlin/MarrowlinSDK.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <optional>
#include <vector>

namespace
{

constexpr uint32_t SampleRate = 44100;
constexpr uint32_t SliceCount = 16;

enum Content
{
    Bursts = 0,
    DenormalNoise = 1
};

// Planar audio of `seconds`: a decaying noise burst every 1/4 s, or noise below 2^-126.
struct TestAudio
{
    TestAudio(uint32_t channelCount, uint32_t seconds, Content content)
        : samples(channelCount, std::vector<float>(seconds * SampleRate))
    {
        uint32_t seed = 99;
        for (auto& channel : samples)
        {
            for (size_t j = 0; j < channel.size(); ++j)
            {
                seed = seed * 1664525u + 1013904223u;
                const float noise = static_cast<float>(seed >> 8) / 8388608.0f - 1.0f;
                const float burst = std::exp(-static_cast<float>(j % (SampleRate / 4)) / 2000.0f);
                channel[j] = content == Bursts ? 0.8f * noise * burst : noise * 1e-39f;
            }
            pointers.push_back(channel.data());
        }
        source.sampleRate = SampleRate;
        source.channelCount = channelCount;
        source.frameCount = static_cast<uint32_t>(samples[0].size());
        source.channels = pointers.data();
    }
    std::vector<std::vector<float>> samples;
    std::vector<float*> pointers;
    DSP::Marrowlin::SourceAudio source;
};

void Label(benchmark::State& state)
{
    state.SetLabel(std::string(state.range(0) == Bursts ? "bursts" : "denormal noise") +
                   (state.range(1) != 0 ? ", guarded" : ", unguarded"));
}

// The whole analysis of 10 s of mono, as SetLoop runs it.
void AnalyseLoop(benchmark::State& state)
{
    TestAudio audio(1, 10, static_cast<Content>(state.range(0)));
    DSP::Marrowlin::MarrowlinSDK sdk;
    for (auto _ : state)
    {
        std::optional<Util::DenormalGuard> guard;
        if (state.range(1) != 0)
            guard.emplace();
        sdk.SetSource(&audio.source, true);
        benchmark::DoNotOptimize(sdk.GetSlicePoints().points.data());
    }
    Label(state);
}
BENCHMARK(AnalyseLoop)
    ->ArgsProduct({{Bursts, DenormalNoise}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

// 4 s of stereo cut into 16 locked slices, played at 0.8 of its tempo and 3 semitones up, in
// blocks of 512 frames; the guard is taken once per block, as Render does.
void RenderLoop(benchmark::State& state)
{
    TestAudio audio(2, 4, static_cast<Content>(state.range(0)));
    const uint32_t frames = audio.source.frameCount;
    DSP::Marrowlin::MarrowlinSDK sdk;
    sdk.SetSource(&audio.source, false);
    DSP::Marrowlin::SlicePoints points;
    points.useUser = 1;
    points.regionEnd = frames;
    for (uint32_t s = 0; s < SliceCount; ++s)
    {
        DSP::Marrowlin::SlicePoint point;
        point.sourcePosition = point.position = s * (frames / SliceCount);
        point.lockedOn = 1;
        points.points.push_back(point);
    }
    DSP::Marrowlin::MeterSettings meter;
    meter.tempo =
        0.8f * static_cast<float>(DSP::Marrowlin::Loop::LoopTempo(SampleRate, points, meter));
    DSP::Marrowlin::ShapingSettings shaping;
    shaping.semitones = 3.0f;
    sdk.SetAll(points, meter, shaping, false);
    sdk.PlayLoop();

    constexpr uint32_t block = 512;
    std::vector<float> left(block), right(block);
    float* outputs[2] = {left.data(), right.data()};
    for (auto _ : state)
    {
        std::optional<Util::DenormalGuard> guard;
        if (state.range(1) != 0)
            guard.emplace();
        sdk.Render(block, outputs);
        benchmark::DoNotOptimize(left.data());
        benchmark::ClobberMemory();
    }
    state.counters["realtime"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * block / SampleRate, benchmark::Counter::kIsRate);
    Label(state);
}
BENCHMARK(RenderLoop)->ArgsProduct({{Bursts, DenormalNoise}, {0, 1}});

} // namespace
