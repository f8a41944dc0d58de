// A whole audio file held in memory as planar 32-bit float samples, the layout the engine takes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace KelvoraCli
{

class AudioFormat;

class AudioFile
{
public:
    // Silence of the given shape. Throws ToolError when memory runs out.
    AudioFile(uint32_t channelCount, uint32_t sampleRate, uint32_t frameCount);

    // Reads any format libsndfile understands, converted to float in [-1, 1); "-" reads standard
    // input. Throws ToolError with a one-line reason naming the file: missing, unreadable,
    // empty, not audio, or more frames than the engine can address. A file with less audio
    // than its header says is read as far as it goes, with a Warning.
    static AudioFile Read(const std::filesystem::path& path);

    // Moving keeps every channel buffer where it is, so pointers handed out stay valid; a copy
    // would need new ones and is never needed.
    AudioFile(AudioFile&&) noexcept = default;
    AudioFile& operator=(AudioFile&&) noexcept = default;
    AudioFile(const AudioFile&) = delete;
    AudioFile& operator=(const AudioFile&) = delete;

    // Writes the whole file through a StagedFile, so it appears complete or not at all.
    void Write(const std::filesystem::path& path, const AudioFormat& format) const;

    // Frames [start, start + length) of every channel as a file of its own.
    AudioFile Excerpt(uint32_t start, uint32_t length) const;

    uint32_t ChannelCount() const { return static_cast<uint32_t>(channels.size()); }
    uint32_t SampleRate() const { return sampleRate; }
    uint32_t FrameCount() const { return frameCount; }
    double Seconds() const { return sampleRate ? double(frameCount) / sampleRate : 0.0; }
    // Empty, or what the user should know about how the file was read.
    const std::string& Warning() const { return warning; }

    float* Channel(uint32_t index) { return channels[index].data(); }
    const float* Channel(uint32_t index) const { return channels[index].data(); }
    // One pointer per channel, as SetLoop and the writers take them. Valid while this object
    // lives and is not moved.
    float** ChannelPointers();
    const float* const* ChannelPointers() const;

private:
    void RefreshPointers();

    uint32_t sampleRate;
    uint32_t frameCount;
    std::vector<std::vector<float>> channels;
    std::vector<float*> pointers;
    std::string warning;
};

} // namespace KelvoraCli
