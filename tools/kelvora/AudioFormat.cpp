#include "tools/kelvora/AudioFormat.h"

#include "tools/kelvora/NumberText.h"
#include "tools/kelvora/ToolError.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <sndfile.h>

namespace KelvoraCli
{

namespace
{

struct Container
{
    const char* extension;
    int major;
    bool holdsFloat;
    bool holdsInteger; // false for lossy codecs, whose encoding is fixed
};

constexpr std::array<Container, 9> Containers{{
    {"wav", SF_FORMAT_WAV, true, true},
    {"aif", SF_FORMAT_AIFF, true, true},
    {"aiff", SF_FORMAT_AIFF, true, true},
    {"flac", SF_FORMAT_FLAC, false, true},
    {"ogg", SF_FORMAT_OGG, false, false},
    {"oga", SF_FORMAT_OGG, false, false},
    {"w64", SF_FORMAT_W64, true, true},
    {"rf64", SF_FORMAT_RF64, true, true},
    {"caf", SF_FORMAT_CAF, true, true},
}};

std::string LowerExtension(const std::filesystem::path& path)
{
    std::string text = path.extension().string();
    if (!text.empty() && text.front() == '.')
        text.erase(0, 1);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

AudioFormat::AudioFormat(int formatValue, std::string extensionText)
    : format(formatValue), extension(std::move(extensionText))
{
}

AudioFormat AudioFormat::ForPath(const std::filesystem::path& path, int bitDepth)
{
    const std::string ext = LowerExtension(path);
    const auto found = std::find_if(Containers.begin(), Containers.end(),
                                    [&](const Container& c) { return ext == c.extension; });
    if (found == Containers.end())
        throw ToolError::About(path.string(),
                               ext.empty() ? "no file extension to choose the audio format from"
                                           : "unsupported output format '." + ext + "' (use " +
                                                 KnownExtensions() + ")");
    if (bitDepth != DefaultBitDepth && bitDepth != 16 && bitDepth != 24 && bitDepth != 32)
        throw ToolError::About(path.string(), "bit depth must be 16, 24 or 32");

    if (!found->holdsInteger)
    {
        if (bitDepth != DefaultBitDepth)
            throw ToolError::About(path.string(), "a bit depth cannot be chosen for ." + ext);
        return AudioFormat(found->major | SF_FORMAT_VORBIS, ext);
    }
    if (bitDepth == 32 && !found->holdsFloat)
        throw ToolError::About(path.string(), "." + ext + " cannot store 32-bit float samples");

    int subtype = SF_FORMAT_FLOAT;
    if (bitDepth == 16)
        subtype = SF_FORMAT_PCM_16;
    else if (bitDepth == 24 || !found->holdsFloat)
        subtype = SF_FORMAT_PCM_24;
    return AudioFormat(found->major | subtype, ext);
}

std::string AudioFormat::Describe() const
{
    std::string container;
    switch (format & SF_FORMAT_TYPEMASK)
    {
    case SF_FORMAT_WAV:
        container = "WAV";
        break;
    case SF_FORMAT_AIFF:
        container = "AIFF";
        break;
    case SF_FORMAT_FLAC:
        container = "FLAC";
        break;
    case SF_FORMAT_OGG:
        container = "Ogg";
        break;
    case SF_FORMAT_W64:
        container = "W64";
        break;
    case SF_FORMAT_RF64:
        container = "RF64";
        break;
    default:
        container = "CAF";
        break;
    }
    switch (format & SF_FORMAT_SUBMASK)
    {
    case SF_FORMAT_PCM_16:
        return container + " 16-bit";
    case SF_FORMAT_PCM_24:
        return container + " 24-bit";
    case SF_FORMAT_FLOAT:
        return container + " 32-bit float";
    default:
        return container + " Vorbis";
    }
}

bool AudioFormat::IsInteger() const
{
    const int subtype = format & SF_FORMAT_SUBMASK;
    return subtype == SF_FORMAT_PCM_16 || subtype == SF_FORMAT_PCM_24;
}

uint64_t AudioFormat::DataBytes(uint64_t frameCount, uint32_t channelCount) const
{
    uint64_t bytesPerSample = 0;
    switch (format & SF_FORMAT_SUBMASK)
    {
    case SF_FORMAT_PCM_16:
        bytesPerSample = 2;
        break;
    case SF_FORMAT_PCM_24:
        bytesPerSample = 3;
        break;
    case SF_FORMAT_FLOAT:
        bytesPerSample = 4;
        break;
    default:
        break;
    }
    if ((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC)
        bytesPerSample = 0;
    return frameCount * channelCount * bytesPerSample;
}

AudioFormat AudioFormat::Holding(uint64_t frameCount, uint32_t channelCount,
                                 const std::string& name) const
{
    // Room for the header chunks in front of the samples, well above what libsndfile writes.
    constexpr uint64_t HeaderRoom = 64 * 1024;
    constexpr uint64_t Chunk32Limit = 0xFFFFFFFFull - HeaderRoom;
    const uint64_t bytes = DataBytes(frameCount, channelCount);
    if (bytes <= Chunk32Limit)
        return *this;
    switch (format & SF_FORMAT_TYPEMASK)
    {
    case SF_FORMAT_WAV:
        return AudioFormat(SF_FORMAT_RF64 | (format & SF_FORMAT_SUBMASK), extension);
    case SF_FORMAT_AIFF:
        throw ToolError::About(name, "the render would hold " + Gigabytes(bytes) +
                                         " of samples, more than " + Describe() +
                                         " can (4.29 GB); use .w64, .rf64 or .caf");
    default:
        return *this;
    }
}

std::string AudioFormat::KnownExtensions()
{
    std::string list;
    for (const Container& c : Containers)
        list += (list.empty() ? "." : ", .") + std::string(c.extension);
    return list;
}

} // namespace KelvoraCli
