// Times the calls the Python module makes, made directly by a C++ host: the analysis a
// `kelvora.detect` runs, and one `Loop.render` pass. Reads planar float32 samples from a file
// and prints the fastest of each in nanoseconds of the thread's CPU time, as the benchmark
// script measures its side, so the Python benchmark can compare.
#include "engine/KelvoraEngine.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <vector>

using VoKelvora::KelvoraEngine;

namespace
{

constexpr uint32_t RenderBlock = 4096;

double ThreadNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e9 + double(now.tv_nsec);
}

template <typename Work> double FastestNanoseconds(int repeats, Work work)
{
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i)
    {
        const double start = ThreadNanoseconds();
        work();
        times.push_back(ThreadNanoseconds() - start);
    }
    return *std::min_element(times.begin(), times.end());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 6)
    {
        std::fprintf(stderr, "usage: %s SAMPLES.f32 CHANNELS FRAMES RATE REPEATS\n", argv[0]);
        return 2;
    }
    const uint32_t channels = std::strtoul(argv[2], nullptr, 10);
    const uint32_t frames = std::strtoul(argv[3], nullptr, 10);
    const uint32_t rate = std::strtoul(argv[4], nullptr, 10);
    const int repeats = std::max(1, std::atoi(argv[5]));
    std::vector<float> samples(size_t(channels) * frames);
    std::ifstream file(argv[1], std::ios::binary);
    if (!file.read(reinterpret_cast<char*>(samples.data()), samples.size() * sizeof(float)))
    {
        std::fprintf(stderr, "cannot read %u x %u samples from %s\n", channels, frames, argv[1]);
        return 1;
    }
    std::vector<float*> inputs;
    for (uint32_t c = 0; c < channels; ++c)
        inputs.push_back(samples.data() + size_t(c) * frames);

    const double detect =
        FastestNanoseconds(repeats,
                           [&]
                           {
                               KelvoraEngine* engine = nullptr;
                               KelvoraEngine::Create(&engine, channels, rate, 0);
                               engine->SetLoop(frames, channels, inputs.data(), 0.0f, nullptr, 0);
                               std::vector<VoKelvora::SliceInfo> slices(engine->GetSliceCount());
                               engine->GetSlices(slices.data());
                               KelvoraEngine::Destroy(engine);
                           });

    KelvoraEngine* engine = nullptr;
    KelvoraEngine::Create(&engine, channels, rate, 0);
    engine->SetLoop(frames, channels, inputs.data(), 0.0f, nullptr, 0);
    engine->SetSensitivity(0.5f);
    engine->SetTempo(engine->GetLoopTempo() * 0.8f);
    const uint32_t length = engine->GetRenderedLength();
    std::vector<float> output(size_t(channels) * length);
    std::vector<float*> outputs(channels);
    const double render = FastestNanoseconds(
        repeats,
        [&]
        {
            engine->Transport(0, 0);
            for (uint32_t done = 0; done < length; done += RenderBlock)
            {
                for (uint32_t c = 0; c < channels; ++c)
                    outputs[c] = output.data() + size_t(c) * length + done;
                engine->Render(std::min(RenderBlock, length - done), outputs.data());
            }
            engine->Transport(1, 0);
        });
    KelvoraEngine::Destroy(engine);
    std::printf("detect_ns %.0f\nrender_ns %.0f\nrender_frames %u\n", detect, render, length);
    return 0;
}
