// Streams planar float audio into a new file in any format of AudioFormat. The file is staged
// under a temporary name and only takes its real name in Commit, so long renders that fail or
// are interrupted leave nothing behind.
#pragma once

#include "tools/kelvora/AudioFormat.h"
#include "tools/kelvora/StagedFile.h"

#include <bit>
#include <cstdint>
#include <filesystem>
#include <vector>

typedef struct sf_private_tag SNDFILE;

namespace KelvoraCli
{

class AudioWriter
{
public:
    // Throws ToolError naming the destination when the folder cannot be written or the format
    // cannot hold this channel count or sample rate.
    AudioWriter(const std::filesystem::path& destination, uint32_t channelCount,
                uint32_t sampleRate, const AudioFormat& format);
    ~AudioWriter();

    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    // WAV only, before the first Write: a `cue ` chunk with one marker per frame position.
    // Throws ToolError when the format cannot carry markers.
    void SetCues(const std::vector<uint32_t>& positions);
    // Every sample written from now on is multiplied by gain (linear).
    void SetGain(float linearGain) { gain = linearGain; }
    // Appends frameCount frames, one pointer per channel. Frames are buffered and reach the
    // file in large chunks; Finish writes the rest.
    void Write(const float* const* channels, uint32_t frameCount);
    // Completes the file under its temporary name (headers, buffers). Reports write errors
    // before any output of a set is renamed, so a set can be committed all or nothing.
    void Finish();
    // Finishes the file if needed and gives it its real name.
    void Commit();

    uint64_t FramesWritten() const { return framesWritten; }
    // Integer encodings: samples that went past full scale and were clipped, and the largest
    // magnitude asked for (1 is full scale). Float encodings store every value and clip none.
    uint64_t ClippedSamples() const { return clippedSamples; }
    float Peak() const { return std::bit_cast<float>(peakBits); }

private:
    void Flush();
    void Close();

    StagedFile file;
    SNDFILE* handle = nullptr;
    uint32_t channelCount;
    bool integer;
    float gain = 1.0f;
    uint64_t framesWritten = 0;
    uint64_t clippedSamples = 0;
    uint32_t peakBits = 0; // of the largest magnitude so far
    std::vector<float> interleaved;
    uint32_t pendingFrames = 0;
};

} // namespace KelvoraCli
