// The whole job a host hands us (analyse a loop, play it at another tempo) against two
// time-stretching libraries doing the same tempo change on the same loop, in one process. Each
// benchmark times the peer and our engine alternately and reports "peer/kelvora": how many
// times longer the peer takes (above 1: we are faster). The peers are yardsticks only; nothing
// in the library links them.
#include "engine/KelvoraEngine.h"

#include <SoundTouch.h>
#include <benchmark/benchmark.h>
#include <rubberband/RubberBandStretcher.h>

#include <chrono>
#include <cmath>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;
constexpr uint32_t SampleRate = 44100;
constexpr uint32_t LoopFrames = 5 * SampleRate;

// Five seconds of stereo drums: a kick, snares and hats on a 120 BPM grid.
struct DrumLoop
{
    DrumLoop() : left(LoopFrames), right(LoopFrames)
    {
        const uint32_t eighth = SampleRate / 4;
        uint32_t seed = 11;
        for (uint32_t j = 0; j < LoopFrames; ++j)
        {
            seed = seed * 1664525u + 1013904223u;
            const float noise = static_cast<float>(seed >> 8) / 8388608.0f - 1.0f;
            const uint32_t step = j / eighth;
            const float t = static_cast<float>(j % eighth) / SampleRate;
            const float kick =
                step % 4 == 0 ? std::sin(6.2832f * 55.0f * t) * std::exp(-t * 18) : 0.0f;
            const float snare = step % 4 == 2 ? noise * std::exp(-t * 25) : 0.0f;
            const float hat = 0.3f * noise * std::exp(-t * 120);
            left[j] = 0.6f * kick + 0.5f * snare + hat;
            right[j] = 0.6f * kick + 0.4f * snare + 0.8f * hat;
        }
    }
    std::vector<float> left;
    std::vector<float> right;
};

const DrumLoop& Loop()
{
    static const DrumLoop loop;
    return loop;
}

double Seconds(Clock::time_point from)
{
    return std::chrono::duration<double>(Clock::now() - from).count();
}

// Analyses the loop, cuts it at every transient and renders one pass at `tempo` times its tempo.
double TimeKelvora(double tempo)
{
    const Clock::time_point start = Clock::now();
    DrumLoop& loop = const_cast<DrumLoop&>(Loop());
    float* channels[2] = {loop.left.data(), loop.right.data()};
    VoKelvora::KelvoraEngine* engine = nullptr;
    VoKelvora::KelvoraEngine::Create(&engine, 2, SampleRate, 0);
    engine->SetLoop(LoopFrames, 2, channels, 0.0f, nullptr, 0);
    engine->SetSensitivity(0.6f);
    engine->SetTempo(static_cast<float>(tempo) * engine->GetTempo());
    engine->Transport(0, 0);
    const uint32_t length = engine->GetRenderedLength();
    std::vector<float> left(1024), right(1024);
    float* outputs[2] = {left.data(), right.data()};
    for (uint32_t done = 0; done < length; done += 1024)
    {
        engine->Render(std::min(1024u, length - done), outputs);
        benchmark::DoNotOptimize(left.data());
    }
    VoKelvora::KelvoraEngine::Destroy(engine);
    return Seconds(start);
}

double TimeSoundTouch(double tempo)
{
    const Clock::time_point start = Clock::now();
    soundtouch::SoundTouch stretcher;
    stretcher.setSampleRate(SampleRate);
    stretcher.setChannels(2);
    stretcher.setTempo(tempo);
    std::vector<float> interleaved(2 * LoopFrames);
    for (uint32_t j = 0; j < LoopFrames; ++j)
    {
        interleaved[2 * j] = Loop().left[j];
        interleaved[2 * j + 1] = Loop().right[j];
    }
    stretcher.putSamples(interleaved.data(), LoopFrames);
    stretcher.flush();
    std::vector<float> out(2 * 4096);
    while (stretcher.receiveSamples(out.data(), 4096) != 0)
        benchmark::DoNotOptimize(out.data());
    return Seconds(start);
}

double TimeRubberBand(double tempo, RubberBand::RubberBandStretcher::Options options)
{
    const Clock::time_point start = Clock::now();
    RubberBand::RubberBandStretcher stretcher(SampleRate, 2, options, 1.0 / tempo);
    const float* input[2] = {Loop().left.data(), Loop().right.data()};
    stretcher.study(input, LoopFrames, true);
    stretcher.process(input, LoopFrames, true);
    std::vector<float> left(4096), right(4096);
    float* output[2] = {left.data(), right.data()};
    while (stretcher.available() > 0)
    {
        stretcher.retrieve(output, std::min<size_t>(4096, stretcher.available()));
        benchmark::DoNotOptimize(left.data());
    }
    return Seconds(start);
}

template <typename Peer> void Compare(benchmark::State& state, Peer peer)
{
    const double tempo = static_cast<double>(state.range(0)) / 100.0;
    double peerSeconds = 0.0;
    double ourSeconds = 0.0;
    for (auto _ : state)
    {
        peerSeconds += peer(tempo);
        ourSeconds += TimeKelvora(tempo);
    }
    state.counters["peer_ms"] = 1000.0 * peerSeconds / static_cast<double>(state.iterations());
    state.counters["kelvora_ms"] = 1000.0 * ourSeconds / static_cast<double>(state.iterations());
    state.counters["peer/kelvora"] = peerSeconds / ourSeconds;
}

void SoundTouchTempo(benchmark::State& state)
{
    Compare(state, [](double tempo) { return TimeSoundTouch(tempo); });
}

void RubberBandDefaultTempo(benchmark::State& state)
{
    Compare(state, [](double tempo)
            { return TimeRubberBand(tempo, RubberBand::RubberBandStretcher::DefaultOptions); });
}

void RubberBandPercussiveTempo(benchmark::State& state)
{
    Compare(state, [](double tempo)
            { return TimeRubberBand(tempo, RubberBand::RubberBandStretcher::PercussiveOptions); });
}

BENCHMARK(SoundTouchTempo)->Arg(75)->Arg(150)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(RubberBandDefaultTempo)->Arg(75)->Arg(150)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(RubberBandPercussiveTempo)
    ->Arg(75)
    ->Arg(150)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

} // namespace
