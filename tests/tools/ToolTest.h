// Helpers for running the kelvora tool on generated audio and reading its output with readers
// that share no code with its writers (libsndfile, and Python's mido and xml.etree).
#pragma once

#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

// A fresh folder for one test, removed with everything in it afterwards.
class TempFolder
{
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path; }
    std::filesystem::path operator/(const std::string& name) const { return path / name; }
    std::set<std::string> Entries() const;           // everything below the folder, relative to it
    std::string Text(const std::string& name) const; // empty when it cannot be read

private:
    std::filesystem::path path;
};

struct ProcessResult
{
    int status = -1; // -1 when the process did not exit normally
    std::string out;
    std::string err;
};

// The text as one shell word, after a space.
std::string ShellWord(const std::string& text);
// Runs the tool, expecting it to exit with expectedStatus, in workingFolder (the current one
// when empty) with standardInput on stdin. A non-zero fileSizeLimitKiB caps every file it
// writes, so a write fails part-way as on a full disk.
ProcessResult Kelvora(const std::vector<std::string>& args, int expectedStatus = 0,
                      const std::filesystem::path& workingFolder = {}, int fileSizeLimitKiB = 0,
                      const std::filesystem::path& standardInput = "/dev/null");
// The first record of "kelvora analyse --json args..."; null (and a failure) if the run fails.
nlohmann::json Analysed(const std::vector<std::string>& args);
// What read_back.py says about a "midi" or "svg" file; null (and a failure) if it cannot read it.
nlohmann::json ReadBack(const std::string& kind, const std::filesystem::path& file);

struct TestAudio
{
    int sampleRate = 0;
    int format = 0; // SF_FORMAT_* of a file read back
    int channels = 0;
    std::vector<float> samples; // interleaved

    size_t Frames() const { return channels ? samples.size() / channels : 0; }
    float Mono(size_t frame) const; // the sum of the channels
    // Silence with a 20 ms burst of decaying noise at each position: one sharp onset each.
    static TestAudio Clicks(int sampleRate, size_t frames, int channels,
                            const std::vector<uint32_t>& positions);
    void Write(const std::filesystem::path& path) const; // 32-bit float WAV
    static TestAudio Read(const std::filesystem::path& path);
    // Frames where the mono sum rises above threshold after at least quietFrames below it: a
    // plain onset finder, independent of the engine's detector.
    std::vector<size_t> Onsets(float threshold, size_t quietFrames) const;
    float Peak(size_t begin, size_t end) const; // largest magnitude of any channel in the frames
    // Percentage of 10 ms windows whose peak stays below -60 dBFS: the holes a listener hears.
    double GapPercent() const;
};

// Two seconds of stereo clicks at 44.1 kHz, one on every quarter note of one bar of 4/4 at
// 120 BPM and four between them, unevenly spaced.
class ClickLoopTest : public ::testing::Test
{
protected:
    static constexpr int Rate = 44100;
    static constexpr size_t Frames = 88200;
    inline static const std::vector<uint32_t> Hits{0,     9000,  22050, 31000,
                                                   44100, 57500, 66150, 80000};

    void SetUp() override { source.Write(loop); }

    TempFolder folder;
    std::filesystem::path loop = folder / "clicks.wav";
    TestAudio source = TestAudio::Clicks(Rate, Frames, 2, Hits);
};
