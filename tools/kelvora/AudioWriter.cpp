#include "tools/kelvora/AudioWriter.h"

#include "tools/kelvora/ToolError.h"

#include <algorithm>
#include <sndfile.h>
#include <string>

namespace KelvoraCli
{

namespace
{

constexpr uint32_t WriteChunkFrames = 16384;

} // namespace

AudioWriter::AudioWriter(const std::filesystem::path& destination, uint32_t channels,
                         uint32_t sampleRate, const AudioFormat& format)
    : file(destination), channelCount(channels)
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
    // Integer files would wrap around on overs; clipping is the lesser evil.
    if (format.IsInteger())
        sf_command(handle, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    interleaved.resize(static_cast<size_t>(WriteChunkFrames) * channelCount);
}

AudioWriter::~AudioWriter()
{
    Close();
}

void AudioWriter::Write(const float* const* channels, uint32_t frameCount)
{
    uint32_t done = 0;
    while (done < frameCount)
    {
        const uint32_t count = std::min(WriteChunkFrames, frameCount - done);
        for (uint32_t c = 0; c < channelCount; ++c)
        {
            const float* in = channels[c] + done;
            for (uint32_t i = 0; i < count; ++i)
                interleaved[static_cast<size_t>(i) * channelCount + c] = in[i];
        }
        if (sf_writef_float(handle, interleaved.data(), count) != count)
            throw ToolError::About(file.Destination().string(),
                                   std::string("write failed: ") + sf_strerror(handle));
        done += count;
    }
    framesWritten += frameCount;
}

void AudioWriter::Finish()
{
    if (handle)
    {
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
