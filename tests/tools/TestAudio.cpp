#include "TestAudio.h"

#include <cmath>
#include <sndfile.h>
#include <stdexcept>

TestAudio TestAudio::Clicks(int sampleRate, size_t frames, int channels,
                            const std::vector<uint32_t>& positions)
{
    TestAudio audio;
    audio.sampleRate = sampleRate;
    audio.samples.assign(static_cast<size_t>(channels), std::vector<float>(frames, 0.0f));
    uint32_t noise = 22222;
    const size_t burst = static_cast<size_t>(sampleRate / 50);
    for (const uint32_t position : positions)
        for (size_t i = 0; i < burst && position + i < frames; ++i)
        {
            noise ^= noise << 13;
            noise ^= noise >> 17;
            noise ^= noise << 5;
            const float white = static_cast<float>(noise) / 2147483648.0f - 1.0f;
            const float level = 0.8f * std::exp(-static_cast<float>(i) / (sampleRate * 0.004f));
            for (int c = 0; c < channels; ++c)
                audio.samples[c][position + i] = white * level * (1.0f - 0.2f * c);
        }
    return audio;
}

void TestAudio::Write(const std::filesystem::path& path) const
{
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = static_cast<int>(samples.size());
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        throw std::runtime_error("cannot write test audio " + path.string());
    std::vector<float> interleaved(Frames() * samples.size());
    for (size_t i = 0; i < Frames(); ++i)
        for (size_t c = 0; c < samples.size(); ++c)
            interleaved[i * samples.size() + c] = samples[c][i];
    sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(Frames()));
    sf_close(file);
}

TestAudio TestAudio::Read(const std::filesystem::path& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        throw std::runtime_error("cannot read " + path.string());
    TestAudio audio;
    audio.sampleRate = info.samplerate;
    audio.format = info.format;
    std::vector<float> interleaved(static_cast<size_t>(info.frames * info.channels));
    const sf_count_t got = sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    audio.samples.assign(static_cast<size_t>(info.channels),
                         std::vector<float>(static_cast<size_t>(got)));
    for (sf_count_t i = 0; i < got; ++i)
        for (int c = 0; c < info.channels; ++c)
            audio.samples[c][i] = interleaved[static_cast<size_t>(i * info.channels + c)];
    return audio;
}

std::vector<size_t> TestAudio::Onsets(float threshold, size_t quietFrames) const
{
    std::vector<size_t> onsets;
    size_t lastLoud = 0;
    bool heardAny = false;
    for (size_t i = 0; i < Frames(); ++i)
    {
        float sum = 0.0f;
        for (const auto& channel : samples)
            sum += channel[i];
        if (std::fabs(sum) <= threshold)
            continue;
        if (!heardAny || i - lastLoud > quietFrames)
            onsets.push_back(i);
        heardAny = true;
        lastLoud = i;
    }
    return onsets;
}
