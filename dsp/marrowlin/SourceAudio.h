#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace DSP::Marrowlin
{

// The engine's description of the host's loop audio. The sample arrays belong to the host.
struct SourceAudio
{
    uint32_t sampleRate = 0;
    uint32_t channelCount = 0;
    uint32_t frameCount = 0;
    float** channels = nullptr;
    std::vector<uint32_t> markerPositions;
    std::optional<uint32_t> beatsPerBar;
    std::optional<uint32_t> beatUnit;
    std::optional<uint32_t> totalBeats;
    std::vector<uint8_t> savedState; // a settings chunk to restore instead of analysing

    bool IsValid() const
    {
        return sampleRate > 0 && channelCount > 0 && frameCount > 0 && channels != nullptr;
    }
};

} // namespace DSP::Marrowlin
