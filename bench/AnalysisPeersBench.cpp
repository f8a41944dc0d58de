// The analysis against a peer yardstick on the same audio in the same run: Kelvora's transient
// detection (what SetLoop does without slices) against aubio's default onset detector (hfc,
// window 512, hop 256, through its C API). Each iteration analyses the whole corpus with both,
// one right after the other, so the ratio holds even on a busy machine where absolute figures
// wander. Times are the thread's processor time. aubio is linked into this benchmark only; nothing
// in the library uses it.
#include "dsp/analysis/TransientDetector.h"
#include "dsp/foundation/KernelPath.h"

#include <aubio/aubio.h>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <ctime>
#include <vector>

namespace
{

constexpr uint32_t CorpusRate = 44100;

// A deterministic integer noise source, so every run analyses the same samples.
class Noise
{
public:
    explicit Noise(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    float Next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<float>(static_cast<int32_t>(state >> 32)) * (1.0f / 2147483648.0f);
    }

private:
    uint64_t state;
};

// A stereo drum loop: kick (falling sine), snare (noise and tone) and hats (short noise) on a
// sixteen-step pattern with varying velocities; the right channel a little later and quieter.
struct Loop
{
    Loop(double bpm, uint32_t bars, uint64_t seed)
    {
        const double step = 60.0 / bpm / 4.0 * CorpusRate;
        frames = static_cast<uint32_t>(std::lround(bars * 16 * step));
        channels.assign(2, std::vector<float>(frames, 0.0f));
        Noise noise(seed);
        const uint32_t ring = static_cast<uint32_t>(0.4 * CorpusRate);
        for (uint32_t s = 0; s < bars * 16; ++s)
        {
            const bool kick = s % 8 == 0 || s % 16 == 10 || (seed % 3 == 0 && s % 16 == 14);
            const bool snare = s % 8 == 4;
            const bool hat = s % 2 == 0 || s % 16 == 7;
            const float velocity = 0.5f + 0.5f * std::fabs(noise.Next());
            for (uint32_t c = 0; c < 2; ++c)
            {
                const uint32_t at = static_cast<uint32_t>(std::lround(s * step)) + 3 * c;
                for (uint32_t i = 0; at + i < frames && i < ring; ++i)
                {
                    const double t = static_cast<double>(i) / CorpusRate;
                    double v = 0.0;
                    if (kick)
                        v += 0.9 * std::exp(-t / 0.08) *
                             std::sin(2 * M_PI * (50 + 100 * std::exp(-t / 0.02)) * t);
                    if (snare)
                        v += 0.6 * std::exp(-t / 0.05) * noise.Next() +
                             0.3 * std::exp(-t / 0.03) * std::sin(2 * M_PI * 190 * t);
                    if (hat)
                        v += 0.25 * std::exp(-t / 0.012) * noise.Next();
                    channels[c][at + i] += velocity * static_cast<float>(v) * (c ? 0.8f : 1.0f);
                }
            }
        }
        for (const auto& channel : channels)
            pointers.push_back(channel.data());
    }

    uint32_t frames = 0;
    std::vector<std::vector<float>> channels;
    std::vector<const float*> pointers;
};

// Twelve loops of one, two and four bars between 84 and 150 BPM, 58 s in all.
const std::vector<Loop>& Corpus()
{
    static const std::vector<Loop> corpus = []
    {
        std::vector<Loop> loops;
        const double tempos[] = {84, 90, 96, 100, 105, 110, 120, 124, 128, 135, 140, 150};
        for (uint32_t i = 0; i < 12; ++i)
            loops.emplace_back(tempos[i], 1u << (i % 3), i + 1);
        return loops;
    }();
    return corpus;
}

double CorpusSeconds()
{
    double seconds = 0.0;
    for (const Loop& loop : Corpus())
        seconds += static_cast<double>(loop.frames) / CorpusRate;
    return seconds;
}

size_t KelvoraAnalysis(const Loop& loop)
{
    std::vector<DSP::DetectedTransient> out;
    DSP::DetectTransients(CorpusRate, 2, loop.frames, loop.pointers.data(), out, 75.0f);
    return out.size();
}

// hfc onsets of the mono mix, hop by hop; the mixing is part of the peer's work, as reading
// both channels is part of ours.
size_t AubioHfc(const Loop& loop)
{
    constexpr uint_t Window = 512;
    constexpr uint_t Hop = 256;
    aubio_onset_t* onset = new_aubio_onset("hfc", Window, Hop, CorpusRate);
    fvec_t* input = new_fvec(Hop);
    fvec_t* found = new_fvec(1);
    size_t onsets = 0;
    for (uint32_t start = 0; start + Hop <= loop.frames; start += Hop)
    {
        for (uint32_t i = 0; i < Hop; ++i)
            input->data[i] = 0.5f * (loop.channels[0][start + i] + loop.channels[1][start + i]);
        aubio_onset_do(onset, input, found);
        onsets += found->data[0] != 0.0f;
    }
    del_fvec(found);
    del_fvec(input);
    del_aubio_onset(onset);
    return onsets;
}

// Processor time of this thread: on a machine shared with other work, time spent waiting for a
// processor would otherwise count against whichever detector happened to be running.
double ThreadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

template <typename Analysis> double SecondsFor(Analysis analysis, size_t& found)
{
    const double begin = ThreadSeconds();
    for (const Loop& loop : Corpus())
        found += analysis(loop);
    return ThreadSeconds() - begin;
}

// Per iteration: the corpus through Kelvora, then through aubio hfc. Counters: real-time factor
// of each (seconds of audio per second of work), onsets found, and Kelvora's speed over aubio's.
// Arg 1 runs Kelvora on the baseline kernels only, as on a processor without AVX2.
void AnalysisVsAubioHfc(benchmark::State& state)
{
    const DSP::KernelPath initial = DSP::ActiveKernelPath();
    if (state.range(0) == 1)
        DSP::SetKernelPath(DSP::KernelPath::Baseline);
    const double audio = CorpusSeconds();
    double ours = 0.0;
    double theirs = 0.0;
    size_t ourPoints = 0;
    size_t theirOnsets = 0;
    for (auto _ : state)
    {
        ourPoints = 0;
        theirOnsets = 0;
        ours += SecondsFor(KelvoraAnalysis, ourPoints);
        theirs += SecondsFor(AubioHfc, theirOnsets);
    }
    DSP::SetKernelPath(initial);
    const double iterations = static_cast<double>(state.iterations());
    state.counters["kelvora_xRT"] = audio * iterations / ours;
    state.counters["aubio_hfc_xRT"] = audio * iterations / theirs;
    state.counters["kelvora_over_aubio"] = theirs / ours;
    state.counters["kelvora_points"] = static_cast<double>(ourPoints);
    state.counters["aubio_onsets"] = static_cast<double>(theirOnsets);
}

} // namespace

BENCHMARK(AnalysisVsAubioHfc)
    ->ArgName("baseline_only")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(8)
    ->Unit(benchmark::kMillisecond);
