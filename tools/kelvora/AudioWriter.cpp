#include "tools/kelvora/AudioWriter.h"

#include "tools/kelvora/ToolError.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sndfile.h>
#include <string>

namespace KelvoraCli
{

namespace
{

constexpr uint32_t WriteChunkFrames = 16384;
constexpr uint32_t FullScaleBits = 0x3f800000u; // the bits of 1.0f
constexpr uint32_t InfinityBits = 0x7f800000u;

} // namespace

AudioWriter::AudioWriter(const std::filesystem::path& destination, uint32_t channels,
                         uint32_t sampleRate, const AudioFormat& format)
    : file(destination), channelCount(channels), integer(format.IsInteger())
{
    const std::string name = destination.string();
    SF_INFO info{};
    info.samplerate = static_cast<int>(std::min<uint32_t>(sampleRate, 0x7fffffff));
    info.channels = static_cast<int>(std::min<uint32_t>(channels, 0x7fffffff));
    info.format = format.SndfileFormat();
    if (channels == 0 || sampleRate == 0 || !sf_format_check(&info))
        throw ToolError::About(name, format.Describe() + " cannot store " +
                                         std::to_string(channels) + " channels at " +
                                         std::to_string(sampleRate) + " Hz");

    handle = sf_open_fd(file.Descriptor(), SFM_WRITE, &info, SF_FALSE);
    if (!handle)
        throw ToolError::About(name, std::string("cannot write audio: ") + sf_strerror(nullptr));
    // No peak chunk: it carries the time of writing, and the same render must give the same
    // bytes whenever it runs.
    sf_command(handle, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    // Integer files would wrap around on overs; clipping is the lesser evil.
    if (format.IsInteger())
        sf_command(handle, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    interleaved.resize(static_cast<size_t>(WriteChunkFrames) * channelCount);
}

AudioWriter::~AudioWriter()
{
    Close();
}

void AudioWriter::SetCues(const std::vector<uint32_t>& positions)
{
    // The chunk is a count followed by that many points, as SF_CUES_VAR lays it out.
    std::vector<unsigned char> chunk(sizeof(uint32_t) + positions.size() * sizeof(SF_CUE_POINT));
    const auto count = static_cast<uint32_t>(positions.size());
    std::memcpy(chunk.data(), &count, sizeof count);
    for (uint32_t i = 0; i < count; ++i)
    {
        SF_CUE_POINT point{};
        point.indx = static_cast<int32_t>(i + 1);
        point.position = positions[i];
        point.fcc_chunk = 0x61746164; // "data", read as a little-endian four-character code
        point.sample_offset = positions[i];
        std::snprintf(point.name, sizeof point.name, "Slice %u", i + 1);
        std::memcpy(chunk.data() + sizeof count + i * sizeof point, &point, sizeof point);
    }
    if (sf_command(handle, SFC_SET_CUE, chunk.data(), static_cast<int>(chunk.size())) != SF_TRUE)
        throw ToolError::About(file.Destination().string(), "cannot store cue markers");
}

void AudioWriter::Write(const float* const* channels, uint32_t frameCount)
{
    // Frames collect in one interleaved chunk and reach the file a chunk at a time: the file
    // then gets a few large writes instead of one small write per rendered block.
    uint32_t done = 0;
    while (done < frameCount)
    {
        const uint32_t count = std::min(WriteChunkFrames - pendingFrames, frameCount - done);
        for (uint32_t c = 0; c < channelCount; ++c)
        {
            const float* in = channels[c] + done;
            float* out = interleaved.data() + static_cast<size_t>(pendingFrames) * channelCount + c;
            // The magnitude's bit pattern orders like the magnitude itself, so the peak and the
            // overs come from integer compares the loop needs no branch for.
            uint32_t largest = peakBits;
            uint64_t overs = 0;
            for (uint32_t i = 0; i < count; ++i)
            {
                const float sample = in[i] * gain;
                const uint32_t bits = std::bit_cast<uint32_t>(sample) & 0x7fffffffu;
                const uint32_t magnitude = bits > InfinityBits ? 0u : bits; // NaN counts as silence
                largest = std::max(largest, magnitude);
                overs += magnitude > FullScaleBits;
                out[static_cast<size_t>(i) * channelCount] = sample;
            }
            peakBits = largest;
            clippedSamples += integer ? overs : 0;
        }
        pendingFrames += count;
        done += count;
        if (pendingFrames == WriteChunkFrames)
            Flush();
    }
    framesWritten += frameCount;
}

void AudioWriter::Flush()
{
    if (pendingFrames == 0)
        return;
    if (sf_writef_float(handle, interleaved.data(), pendingFrames) != pendingFrames)
        throw ToolError::About(file.Destination().string(),
                               std::string("write failed: ") + sf_strerror(handle));
    pendingFrames = 0;
}

void AudioWriter::Finish()
{
    if (handle)
    {
        Flush();
        sf_write_sync(handle);
        const int status = sf_close(handle);
        handle = nullptr;
        if (status != 0)
            throw ToolError::About(file.Destination().string(),
                                   std::string("write failed: ") + sf_error_number(status));
    }
    file.Close();
}

void AudioWriter::Commit()
{
    Finish();
    file.Commit();
}

void AudioWriter::Close()
{
    if (handle)
    {
        sf_close(handle);
        handle = nullptr;
    }
}

} // namespace KelvoraCli
