// Feeds arbitrary bytes to the settings-chunk reader; every chunk it accepts is then restored
// into a Loop over a small synthetic source and played for a few blocks, so that hostile but
// well-formed settings reach the slice building, the timing and the renderers.

#include "dsp/marrowlin/Loop.h"
#include "dsp/marrowlin/LoopRenderer.h"
#include "dsp/marrowlin/SettingsChunk.h"
#include "dsp/marrowlin/SourceAudio.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace
{

using namespace DSP::Marrowlin;

constexpr uint32_t sampleRate = 44100;
constexpr uint32_t channelCount = 2;
constexpr uint32_t frameCount = 8192;
constexpr uint32_t blockFrames = 256;
constexpr uint32_t blockCount = 6;

// Decaying clicks every 1024 frames, different on each channel.
struct SyntheticAudio
{
    SyntheticAudio()
    {
        for (uint32_t c = 0; c < channelCount; ++c)
        {
            for (uint32_t i = 0; i < frameCount; ++i)
                samples[c].push_back((c == 0 ? 1.0f : -0.5f) / static_cast<float>(1 + i % 1024));
            pointers[c] = samples[c].data();
        }
    }

    std::vector<float> samples[channelCount];
    float* pointers[channelCount] = {};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static SyntheticAudio audio;

    const std::vector<uint8_t> bytes(data, data + size);
    SlicePoints slicePoints;
    MeterSettings meter;
    ShapingSettings shaping;
    if (!ReadSettingsChunk(bytes, slicePoints, meter, shaping))
        return 0;

    SourceAudio source;
    source.sampleRate = sampleRate;
    source.channelCount = channelCount;
    source.frameCount = frameCount;
    source.channels = audio.pointers;
    source.savedState = bytes;

    Loop loop;
    loop.SetSource(&source, true);
    // The Loop restores from the same bytes: it must end up with exactly the chunk's points.
    const std::vector<SlicePoint>& restored = loop.GetSlicePoints().points;
    const auto same = [](const SlicePoint& a, const SlicePoint& b)
    { return a.position == b.position && a.kind == b.kind; };
    if (!std::equal(restored.begin(), restored.end(), slicePoints.points.begin(),
                    slicePoints.points.end(), same))
        std::abort();

    LoopRenderer renderer(&loop);
    renderer.SetSource(&source);
    renderer.PlayLoop();

    float output[channelCount][blockFrames];
    float* outputPointers[channelCount] = {output[0], output[1]};
    for (uint32_t block = 0; block < blockCount; ++block)
    {
        std::fill(&output[0][0], &output[0][0] + channelCount * blockFrames, 0.0f);
        renderer.Render(blockFrames, outputPointers);
    }
    return 0;
}
