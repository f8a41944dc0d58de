// What each setter costs a host that automates it from its audio thread: a 32 s stereo loop cut
// by the host into 128 slices, every call a real change (two values alternate).
#include "engine/KelvoraEngine.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

namespace
{

using VoKelvora::KelvoraEngine;

constexpr uint32_t SampleRate = 44100;
constexpr uint32_t LoopFrames = 32 * SampleRate;
constexpr uint32_t SliceCount = 128;

struct Session
{
    Session() : left(LoopFrames), right(LoopFrames)
    {
        uint32_t seed = 7;
        const uint32_t sliceFrames = LoopFrames / SliceCount;
        for (uint32_t j = 0; j < LoopFrames; ++j)
        {
            seed = seed * 1664525u + 1013904223u;
            const float noise = static_cast<float>(seed >> 8) / 8388608.0f - 1.0f;
            left[j] = noise * std::exp(-static_cast<float>(j % sliceFrames) / 3000.0f);
            right[j] = 0.5f * left[j];
        }
        float* channels[2] = {left.data(), right.data()};
        pointers.assign(channels, channels + 2);
        std::vector<VoKelvora::SliceInfo> slices(SliceCount);
        for (uint32_t s = 0; s < SliceCount; ++s)
            slices[s] = {s * sliceFrames, s * sliceFrames, -1.0f, 1.0f, true, false, false, false};
        KelvoraEngine::Create(&engine, 2, SampleRate, 0);
        engine->SetLoop(LoopFrames, 2, pointers.data(), 0.0f, slices.data(), SliceCount);
        engine->Transport(0, 0);
    }
    ~Session() { KelvoraEngine::Destroy(engine); }

    std::vector<float> left;
    std::vector<float> right;
    std::vector<float*> pointers;
    KelvoraEngine* engine = nullptr;
};

// Calls `set` with the iteration's parity, so consecutive calls change the setting.
void MeasureSetter(benchmark::State& state, std::function<void(KelvoraEngine&, bool)> set)
{
    Session session;
    bool odd = false;
    for (auto _ : state)
    {
        set(*session.engine, odd);
        odd = !odd;
        benchmark::ClobberMemory();
    }
}

void Register(const char* name, std::function<void(KelvoraEngine&, bool)> set)
{
    benchmark::RegisterBenchmark(name,
                                 [set](benchmark::State& state) { MeasureSetter(state, set); })
        ->Unit(benchmark::kMicrosecond);
}

const bool registered = []
{
    Register("Setter/SetTempo", [](KelvoraEngine& e, bool odd) { e.SetTempo(odd ? 100.f : 90.f); });
    Register("Setter/SetLoopTempo",
             [](KelvoraEngine& e, bool odd) { e.SetLoopTempo(odd ? 95.f : 0.f); });
    Register("Setter/SetTicksPerBeat",
             [](KelvoraEngine& e, bool odd) { e.SetTicksPerBeat(odd ? 480 : 96); });
    Register("Setter/SetMeter",
             [](KelvoraEngine& e, bool odd)
             {
                 const VoKelvora::MeterLayout meter{odd ? 4u : 2u, 0, 4, 4};
                 e.SetMeter(&meter);
             });
    Register("Setter/SetSensitivity",
             [](KelvoraEngine& e, bool odd) { e.SetSensitivity(odd ? 0.5f : 0.7f); });
    Register("Setter/SetOutputSampleRate",
             [](KelvoraEngine& e, bool odd) { e.SetOutputSampleRate(odd ? 48000 : 0); });
    Register("Setter/SetSampleRate",
             [](KelvoraEngine& e, bool odd) { e.SetSampleRate(odd ? 48000 : 44100); });
    Register("Setter/SetTranspose",
             [](KelvoraEngine& e, bool odd) { e.SetTranspose(odd ? 3.f : -2.f); });
    Register("Setter/SetFineTune",
             [](KelvoraEngine& e, bool odd) { e.SetFineTune(odd ? 10.f : -10.f); });
    Register("Setter/SetTailExtension",
             [](KelvoraEngine& e, bool odd) { e.SetTailExtension(odd ? 0.5f : 0.2f); });
    Register("Setter/SetTailFromSoundEnd",
             [](KelvoraEngine& e, bool odd) { e.SetTailFromSoundEnd(odd); });
    Register("Setter/SetTailLoopPosition",
             [](KelvoraEngine& e, bool odd) { e.SetTailLoopPosition(odd ? 0.3f : 0.6f); });
    Register("Setter/SetGain", [](KelvoraEngine& e, bool odd) { e.SetGain(odd ? -3.f : 0.f); });
    Register("Setter/SetEnvelope",
             [](KelvoraEngine& e, bool odd)
             {
                 const VoKelvora::EnvelopeSettings envelope{1.0f, odd ? 20.f : 10.f, 80.f, -6.f};
                 e.SetEnvelope(&envelope);
             });
    Register("Setter/SetSlice",
             [](KelvoraEngine& e, bool odd)
             {
                 VoKelvora::SliceInfo info;
                 e.GetSlice(5, &info);
                 info.position = info.sourcePosition + (odd ? 100 : 0);
                 e.SetSlice(5, &info);
             });
    Register("Setter/DisableSlice",
             [](KelvoraEngine& e, bool odd) { e.DisableSlice(odd ? 7 : 9); });
    Register("Setter/SetDetectionWindow",
             [](KelvoraEngine& e, bool odd) { e.SetDetectionWindow(odd ? 60.f : 75.f); });
    return true;
}();

} // namespace
