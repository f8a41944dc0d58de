#pragma once

#include "dsp/marrowlin/SlicePoints.h"
#include "dsp/marrowlin/SourceAudio.h"

#include <cstdint>
#include <utility>
#include <vector>

// Planar audio, every sample `fill`. Not copyable: the SourceAudio points into its own storage.
struct PlanarSource
{
    explicit PlanarSource(uint32_t frames, uint32_t channels = 1, uint32_t rate = 44100,
                          float fill = 0.0f)
        : data(channels, std::vector<float>(frames, fill))
    {
        for (auto& channel : data)
            pointers.push_back(channel.data());
        audio.sampleRate = rate;
        audio.channelCount = channels;
        audio.frameCount = frames;
        audio.channels = pointers.data();
    }
    PlanarSource(const PlanarSource&) = delete;
    PlanarSource& operator=(const PlanarSource&) = delete;

    std::vector<std::vector<float>> data;
    std::vector<float*> pointers;
    DSP::Marrowlin::SourceAudio audio;
};

// A host point forced on at `position`, pinned to `tick` unless that is -1.
inline DSP::Marrowlin::SlicePoint Cut(uint32_t position, float tick = -1.0f)
{
    return {DSP::Marrowlin::User, position, position, 0, tick, 1};
}

// The points over [regionStart, regionEnd) with every kind allowed to cut.
inline DSP::Marrowlin::SlicePoints Cuts(std::vector<DSP::Marrowlin::SlicePoint> points,
                                        uint32_t regionStart, uint32_t regionEnd)
{
    return {0.0f, 1, 1, 1, std::move(points), regionStart, regionEnd};
}
