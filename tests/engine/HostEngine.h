// What the host-side tests share. Only the public header is used.
#pragma once

#include "engine/KelvoraEngine.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <utility>
#include <vector>

namespace HostEngine
{

using VoKelvora::KelvoraEngine;
using VoKelvora::SliceInfo;

using EnginePtr = std::unique_ptr<KelvoraEngine, void (*)(KelvoraEngine*)>;

inline EnginePtr Make(uint32_t channels, uint32_t rate, uint32_t outputRate)
{
    KelvoraEngine* engine = nullptr;
    KelvoraEngine::Create(&engine, channels, rate, outputRate);
    return EnginePtr(engine, KelvoraEngine::Destroy);
}

// Silent planar audio; the engine keeps the channel array, so this must outlive the engine's use.
struct PlanarAudio
{
    PlanarAudio(uint32_t channelCount, uint32_t frames)
        : samples(channelCount, std::vector<float>(frames, 0.0f))
    {
        for (auto& channel : samples)
            pointers.push_back(channel.data());
    }
    float** Channels() { return pointers.data(); }

    std::vector<std::vector<float>> samples;
    std::vector<float*> pointers;
};

inline SliceInfo HostSlice(uint32_t position, bool lockedOn = false)
{
    return SliceInfo{position, position, -1.0f, 1.0f, lockedOn, false, false, false};
}

inline std::vector<SliceInfo> Slices(KelvoraEngine& engine)
{
    std::vector<SliceInfo> slices(engine.GetSliceCount());
    engine.GetSlices(slices.data());
    return slices;
}

// Appends `frames` rendered frames to `out`, one vector per channel, in blocks of 1 to `maxBlock`
// frames whose sizes follow from the arguments alone: equal calls cut their blocks alike.
inline void Render(KelvoraEngine& engine, std::vector<std::vector<float>>& out, uint32_t frames,
                   uint32_t maxBlock)
{
    PlanarAudio buffer(static_cast<uint32_t>(out.size()), maxBlock);
    std::minstd_rand blockSizes(frames ^ maxBlock);
    for (uint32_t done = 0, n = 0; done < frames; done += n)
    {
        n = std::min(frames - done, 1 + static_cast<uint32_t>(blockSizes() % maxBlock));
        engine.Render(n, buffer.Channels());
        for (size_t c = 0; c < out.size(); ++c)
            out[c].insert(out[c].end(), buffer.samples[c].begin(), buffer.samples[c].begin() + n);
    }
}

// (start, length) of the region around a source position.
inline std::pair<uint32_t, uint32_t> Region(KelvoraEngine& engine, uint32_t position)
{
    uint32_t start = 1, length = 1;
    engine.GetSliceRegion(position, &start, &length);
    return {start, length};
}

} // namespace HostEngine
