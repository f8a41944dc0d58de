// The container and sample encoding of an output file. The container follows the file name's
// extension; the encoding is 32-bit float unless the user asks for 16- or 24-bit integers (or the
// container cannot hold floats, as with FLAC, which then gets 24-bit).
#pragma once

#include <filesystem>
#include <string>

namespace KelvoraCli
{

class AudioFormat
{
public:
    // Sample encodings a user can ask for: 0 means "the container's best".
    static constexpr int DefaultBitDepth = 0;

    // Throws ToolError naming the path for an unknown extension, or a bit depth the container
    // cannot store. bitDepth is 0 (default), 16, 24 or 32 (float).
    static AudioFormat ForPath(const std::filesystem::path& path, int bitDepth);

    // The libsndfile SF_FORMAT_* value: container | encoding.
    int SndfileFormat() const { return format; }
    // Lower-case extension without the dot, e.g. "wav".
    const std::string& Extension() const { return extension; }
    // Human-readable, e.g. "WAV 32-bit float".
    std::string Describe() const;
    // Whether samples outside [-1, 1] need clipping (integer encodings wrap otherwise).
    bool IsInteger() const;

    // This format, or the one to use instead, for frameCount frames of channelCount channels:
    // WAV past its 4 GiB limit becomes RF64 (same samples, 64-bit sizes). Throws ToolError
    // naming `name` with the size when no variant of the container can hold it (AIFF).
    AudioFormat Holding(uint64_t frameCount, uint32_t channelCount, const std::string& name) const;
    // Bytes of sample data for that many frames; 0 when compressed (no fixed size).
    uint64_t DataBytes(uint64_t frameCount, uint32_t channelCount) const;

    // Extensions accepted for output, for help texts.
    static std::string KnownExtensions();

private:
    AudioFormat(int format, std::string extension);

    int format;
    std::string extension;
};

} // namespace KelvoraCli
