// What the host-side tests share. Only the public header is used.
#pragma once

#include "engine/KelvoraEngine.h"

#include <cstdint>
#include <memory>
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
    if (!slices.empty())
        engine.GetSlices(slices.data());
    return slices;
}

// (start, length) of the region around a source position.
inline std::pair<uint32_t, uint32_t> Region(KelvoraEngine& engine, uint32_t position)
{
    uint32_t start = 1, length = 1;
    engine.GetSliceRegion(position, &start, &length);
    return {start, length};
}

} // namespace HostEngine
