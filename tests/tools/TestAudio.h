// Test audio made and read with libsndfile directly, not through the tool's own file classes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

struct TestAudio
{
    int sampleRate = 0;
    int format = 0;                          // SF_FORMAT_* of a file read back
    std::vector<std::vector<float>> samples; // planar

    size_t Frames() const { return samples.empty() ? 0 : samples[0].size(); }

    // Silence with clicks: at each position a 20 ms burst of decaying noise, the same in every
    // channel apart from a level change, so each has one sharp, isolated onset.
    static TestAudio Clicks(int sampleRate, size_t frames, int channels,
                            const std::vector<uint32_t>& positions);

    // Writes a 32-bit float WAV.
    void Write(const std::filesystem::path& path) const;
    static TestAudio Read(const std::filesystem::path& path);

    // Frames where the mono sum rises above threshold after at least quietFrames below it: a
    // deliberately plain onset finder, independent of the engine's detector.
    std::vector<size_t> Onsets(float threshold, size_t quietFrames) const;
};
