// Rendering speed: the whole engine playing a sliced loop, and one voice on its own.
#include "dsp/marrowlin/Loop.h"
#include "dsp/marrowlin/SliceRenderer.h"
#include "engine/KelvoraEngine.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

namespace
{

constexpr uint32_t SampleRate = 44100;
constexpr uint32_t LoopFrames = 4 * SampleRate;
constexpr uint32_t SliceCount = 16;
constexpr uint32_t SliceFrames = LoopFrames / SliceCount;

// Four seconds of stereo: a decaying noise burst at the start of every slice.
struct BurstLoop
{
    BurstLoop() : left(LoopFrames), right(LoopFrames)
    {
        uint32_t seed = 2024;
        for (uint32_t j = 0; j < LoopFrames; ++j)
        {
            seed = seed * 1664525u + 1013904223u;
            const float noise = static_cast<float>(seed >> 8) / 8388608.0f - 1.0f;
            const float decay = std::exp(-static_cast<float>(j % SliceFrames) / 2500.0f);
            left[j] = 0.7f * noise * decay;
            right[j] = 0.5f * noise * decay + 0.2f * left[j > 0 ? j - 1 : 0];
        }
        pointers[0] = left.data();
        pointers[1] = right.data();
    }
    std::vector<float> left;
    std::vector<float> right;
    float* pointers[2];
};

struct EngineDeleter
{
    void operator()(VoKelvora::KelvoraEngine* engine) const
    {
        VoKelvora::KelvoraEngine::Destroy(engine);
    }
};

void SetCounters(benchmark::State& state, uint64_t frames)
{
    state.SetItemsProcessed(static_cast<int64_t>(frames));
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["realtime"] =
        benchmark::Counter(static_cast<double>(frames) / SampleRate, benchmark::Counter::kIsRate);
}

// The loop cut by the host into 16 slices, played at 0.8 of its tempo, 3 semitones up, through
// the public interface, one block per iteration.
void EngineRender(benchmark::State& state)
{
    const uint32_t block = static_cast<uint32_t>(state.range(0));
    BurstLoop loop;
    VoKelvora::KelvoraEngine* raw = nullptr;
    VoKelvora::KelvoraEngine::Create(&raw, 2, SampleRate, 0);
    std::unique_ptr<VoKelvora::KelvoraEngine, EngineDeleter> engine(raw);

    std::vector<VoKelvora::SliceInfo> slices(SliceCount);
    for (uint32_t s = 0; s < SliceCount; ++s)
    {
        slices[s] = VoKelvora::SliceInfo{};
        slices[s].sourcePosition = slices[s].position = s * SliceFrames;
        slices[s].tickPosition = -1.0f;
        slices[s].strength = 1.0f;
        slices[s].lockedOn = true;
    }
    engine->SetLoop(LoopFrames, 2, loop.pointers, 0.0f, slices.data(), SliceCount);
    engine->SetTempo(0.8f * engine->GetTempo());
    engine->SetTranspose(3.0f);
    engine->Transport(0, 0);

    std::vector<float> left(block);
    std::vector<float> right(block);
    float* outputs[2] = {left.data(), right.data()};
    for (auto _ : state)
    {
        engine->Render(block, outputs);
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
        benchmark::ClobberMemory();
    }
    SetCounters(state, static_cast<uint64_t>(state.iterations()) * block);
}
BENCHMARK(EngineRender)->Arg(512)->Arg(64);

// One voice playing one slice for ever: tail loop, gate hold, amp sustain and gain all working.
void VoiceRender(benchmark::State& state)
{
    const uint32_t block = static_cast<uint32_t>(state.range(0));
    BurstLoop loop;
    DSP::Marrowlin::SourceAudio source;
    source.sampleRate = SampleRate;
    source.channelCount = 2;
    source.frameCount = LoopFrames;
    source.channels = loop.pointers;
    DSP::Marrowlin::Loop model;
    model.SetSource(&source, false);
    DSP::Marrowlin::ShapingSettings shaping;
    shaping.semitones = 3.0f;
    shaping.gainDb = -3.0f;
    model.SetShaping(shaping);

    DSP::Marrowlin::RenderSlice slice;
    slice.sourceStart = SliceFrames;
    slice.sourceLength = SliceFrames;
    slice.tailLoopStart = SliceFrames / 2;
    slice.tailCrossfade = 220;
    slice.gateAttack = 9;
    slice.gateHold = 0xF0000000u;
    slice.gateRelease = 400;
    slice.ampAttack = 88;
    slice.ampDecay = 4000;
    slice.ampSustain = 0.5f;
    DSP::Marrowlin::SliceRenderer voice(&model);
    voice.SetSource(&source);
    voice.Start(slice);
    voice.UpdateRate();

    std::vector<float> left(block);
    std::vector<float> right(block);
    float* outputs[2] = {left.data(), right.data()};
    uint32_t position = 0;
    for (auto _ : state)
    {
        voice.Render(block, outputs, 0, &position);
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(position);
        benchmark::ClobberMemory();
    }
    SetCounters(state, static_cast<uint64_t>(state.iterations()) * block);
}
BENCHMARK(VoiceRender)->Arg(512)->Arg(64);

} // namespace
