#include "tools/kelvora/AudioFile.h"

#include "tools/kelvora/AudioFormat.h"
#include "tools/kelvora/AudioWriter.h"
#include "tools/kelvora/Interruption.h"
#include "tools/kelvora/ToolError.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <new>
#include <sndfile.h>
#include <string>
#include <unistd.h>

namespace KelvoraCli
{

namespace
{

constexpr sf_count_t ReadChunkFrames = 65536;

struct SndfileCloser
{
    void operator()(SNDFILE* handle) const { sf_close(handle); }
};

// Checks what libsndfile cannot tell apart well: a missing file, a folder, a file we may not
// read, and an empty file all come back from sf_open as a generic failure.
void CheckReadable(const std::filesystem::path& path)
{
    const std::string name = path.string();
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status))
        throw ToolError::About(name, "file not found");
    if (std::filesystem::is_directory(status))
        throw ToolError::About(name, "is a folder with no audio files in it");
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
    {
        const int code = errno;
        throw ToolError::About(name, std::string("cannot open: ") + std::strerror(code));
    }
    ::close(descriptor);
    if (std::filesystem::is_regular_file(status) && std::filesystem::file_size(path, error) == 0)
        throw ToolError::About(name, "file is empty");
}

// What the header promised, when libsndfile found less data than that: it reads what is there
// and only says so in its log ("data : 1323000 (should be 199992)").
uint64_t AnnouncedFrames(SNDFILE* handle, sf_count_t frames)
{
    std::string log(16384, '\0');
    sf_command(handle, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
    log.resize(std::strlen(log.c_str()));
    for (const char* chunk : {"\ndata : ", "\nSSND : "})
    {
        const size_t at = log.find(chunk);
        if (at == std::string::npos)
            continue;
        unsigned long long claimed = 0;
        unsigned long long present = 0;
        if (std::sscanf(log.c_str() + at + std::strlen(chunk), "%llu (should be %llu)", &claimed,
                        &present) == 2 &&
            present > 0 && claimed > present)
            return static_cast<uint64_t>(std::llround(double(frames) * claimed / present));
    }
    return static_cast<uint64_t>(frames);
}

} // namespace

AudioFile::AudioFile(uint32_t channelCount, uint32_t rate, uint32_t frames)
    : sampleRate(rate), frameCount(frames)
{
    try
    {
        channels.assign(channelCount, std::vector<float>(frames, 0.0f));
    }
    catch (const std::bad_alloc&)
    {
        throw ToolError("not enough memory for " + std::to_string(frames) + " frames of " +
                        std::to_string(channelCount) + " channels");
    }
    catch (const std::length_error&)
    {
        throw ToolError("not enough memory for " + std::to_string(frames) + " frames of " +
                        std::to_string(channelCount) + " channels");
    }
    RefreshPointers();
}

AudioFile AudioFile::Read(const std::filesystem::path& givenPath)
{
    const std::string name = givenPath.string();
    const bool standardInput = name == "-";
    const std::filesystem::path path = standardInput ? "/dev/stdin" : givenPath;
    if (!standardInput)
        CheckReadable(path);

    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndfileCloser> handle(
        standardInput ? sf_open_fd(STDIN_FILENO, SFM_READ, &info, SF_FALSE)
                      : sf_open(path.c_str(), SFM_READ, &info));
    if (!handle)
    {
        const int code = sf_error(nullptr);
        if (code == SF_ERR_UNRECOGNISED_FORMAT)
            throw ToolError::About(name, "unsupported or unrecognised audio format");
        throw ToolError::About(name, std::string("cannot read audio: ") + sf_strerror(nullptr));
    }
    if (info.channels <= 0)
        throw ToolError::About(name, "has no audio channels");
    if (info.samplerate <= 0)
        throw ToolError::About(name, "has an invalid sample rate");
    if (info.frames <= 0)
        throw ToolError::About(name, "contains no audio frames");
    constexpr sf_count_t MaxFrames = std::numeric_limits<uint32_t>::max();
    if (info.frames > MaxFrames)
        throw ToolError::About(name, "has " + std::to_string(info.frames) +
                                         " frames, more than the engine can address (" +
                                         std::to_string(MaxFrames) + ")");

    const uint32_t channelCount = static_cast<uint32_t>(info.channels);
    const uint32_t frames = static_cast<uint32_t>(info.frames);
    const uint64_t announced = AnnouncedFrames(handle.get(), info.frames);
    AudioFile audio = [&]
    {
        try
        {
            return AudioFile(channelCount, static_cast<uint32_t>(info.samplerate), frames);
        }
        catch (const ToolError& error)
        {
            throw ToolError::About(name, error.what());
        }
    }();

    std::vector<float> interleaved(static_cast<size_t>(ReadChunkFrames) * channelCount);
    uint32_t done = 0;
    while (done < frames)
    {
        Interruption::Check();
        const sf_count_t wanted = std::min<sf_count_t>(ReadChunkFrames, frames - done);
        const sf_count_t got = sf_readf_float(handle.get(), interleaved.data(), wanted);
        if (got <= 0)
            break;
        for (uint32_t c = 0; c < channelCount; ++c)
        {
            float* out = audio.channels[c].data() + done;
            for (sf_count_t i = 0; i < got; ++i)
                out[i] = interleaved[static_cast<size_t>(i) * channelCount + c];
        }
        done += static_cast<uint32_t>(got);
    }
    if (sf_error(handle.get()) != SF_ERR_NO_ERROR)
        throw ToolError::About(name, std::string("read failed: ") + sf_strerror(handle.get()));
    if (done == 0)
        throw ToolError::About(name, "contains no audio frames");
    // A header that promises more than the file holds: keep what is really there.
    if (done < frames)
    {
        for (auto& channel : audio.channels)
            channel.resize(done);
        audio.frameCount = done;
        audio.RefreshPointers();
    }
    if (audio.frameCount < announced)
        audio.warning = name + ": holds " + std::to_string(audio.frameCount) + " of the " +
                        std::to_string(announced) +
                        " frames its header announces (cut short?); using what is there";
    return audio;
}

void AudioFile::Write(const std::filesystem::path& path, const AudioFormat& format) const
{
    AudioWriter writer(path, ChannelCount(), sampleRate, format);
    writer.Write(ChannelPointers(), frameCount);
    writer.Commit();
}

AudioFile AudioFile::Excerpt(uint32_t start, uint32_t length) const
{
    start = std::min(start, frameCount);
    length = std::min(length, frameCount - start);
    AudioFile part(ChannelCount(), sampleRate, length);
    for (uint32_t c = 0; c < ChannelCount(); ++c)
        std::copy_n(channels[c].data() + start, length, part.channels[c].data());
    return part;
}

float** AudioFile::ChannelPointers()
{
    return pointers.data();
}

const float* const* AudioFile::ChannelPointers() const
{
    return pointers.data();
}

void AudioFile::RefreshPointers()
{
    pointers.clear();
    for (auto& channel : channels)
        pointers.push_back(channel.data());
}

} // namespace KelvoraCli
