#include "ToolTest.h"

#include <cmath>
#include <fstream>
#include <sndfile.h>
#include <stdexcept>
#include <stdlib.h>
#include <sys/wait.h>

TempFolder::TempFolder()
{
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kelvora-tool-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    path = pattern;
}

TempFolder::~TempFolder()
{
    std::error_code error;
    std::filesystem::remove_all(path, error);
}

std::set<std::string> TempFolder::Entries() const
{
    std::set<std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
        entries.insert(std::filesystem::relative(entry.path(), path).string());
    return entries;
}

std::string TempFolder::Text(const std::string& name) const
{
    std::ifstream file(path / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// Single quotes keep everything but the quote itself literal.
std::string ShellWord(const std::string& text)
{
    std::string word = " '";
    for (const char c : text)
        word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

namespace
{

ProcessResult Run(const std::string& program, const std::vector<std::string>& args,
                  int expectedStatus = 0, const std::filesystem::path& workingFolder = {},
                  int fileSizeLimitKiB = 0,
                  const std::filesystem::path& standardInput = "/dev/null")
{
    const TempFolder capture;
    std::string command;
    if (!workingFolder.empty())
        command += "cd" + ShellWord(workingFolder) + " && ";
    // With SIGXFSZ ignored a write past the limit fails instead of killing the process; ulimit
    // counts in 512-byte blocks.
    if (fileSizeLimitKiB > 0)
        command += "trap '' XFSZ && ulimit -f " + std::to_string(2 * fileSizeLimitKiB) + " && ";
    command += "exec" + ShellWord(program);
    for (const std::string& arg : args)
        command += ShellWord(arg);
    command += " <" + ShellWord(standardInput) + " >" + ShellWord(capture / "out") + " 2>" +
               ShellWord(capture / "err");
    const int status = std::system(command.c_str());
    const ProcessResult result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, capture.Text("out"),
                               capture.Text("err")};
    EXPECT_EQ(result.status, expectedStatus) << program << ":\n" << result.err;
    return result;
}

// The output of a successful run, parsed; null when the run failed.
nlohmann::json JsonOf(const ProcessResult& run)
{
    return run.status == 0 ? nlohmann::json::parse(run.out) : nlohmann::json();
}

} // namespace

ProcessResult Kelvora(const std::vector<std::string>& args, int expectedStatus,
                      const std::filesystem::path& workingFolder, int fileSizeLimitKiB,
                      const std::filesystem::path& standardInput)
{
    return Run(KELVORA_TOOL, args, expectedStatus, workingFolder, fileSizeLimitKiB, standardInput);
}

nlohmann::json Analysed(const std::vector<std::string>& args)
{
    std::vector<std::string> all{"analyse", "--json"};
    all.insert(all.end(), args.begin(), args.end());
    const nlohmann::json records = JsonOf(Kelvora(all));
    return records.is_null() ? records : records.at(0);
}

nlohmann::json ReadBack(const std::string& kind, const std::filesystem::path& file)
{
    return JsonOf(Run(KELVORA_TEST_PYTHON,
                      {std::string(KELVORA_TEST_SCRIPTS) + "/read_back.py", kind, file.string()}));
}

TestAudio TestAudio::Clicks(int sampleRate, size_t frames, int channels,
                            const std::vector<uint32_t>& positions)
{
    TestAudio audio{sampleRate, 0, channels, std::vector<float>(frames * channels)};
    uint32_t noise = 22222;
    for (const uint32_t position : positions)
        for (size_t i = 0; i < static_cast<size_t>(sampleRate / 50) && position + i < frames; ++i)
        {
            noise ^= noise << 13;
            noise ^= noise >> 17;
            noise ^= noise << 5;
            const float white = static_cast<float>(noise) / 2147483648.0f - 1.0f;
            const float level = 0.8f * std::exp(-static_cast<float>(i) / (sampleRate * 0.004f));
            for (int c = 0; c < channels; ++c)
                audio.samples[(position + i) * channels + c] = white * level * (1.0f - 0.2f * c);
        }
    return audio;
}

void TestAudio::Write(const std::filesystem::path& path) const
{
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        throw std::runtime_error("cannot write test audio " + path.string());
    sf_writef_float(file, samples.data(), static_cast<sf_count_t>(Frames()));
    sf_close(file);
}

TestAudio TestAudio::Read(const std::filesystem::path& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        throw std::runtime_error("cannot read " + path.string());
    TestAudio audio{info.samplerate, info.format, info.channels,
                    std::vector<float>(static_cast<size_t>(info.frames * info.channels))};
    const sf_count_t got = sf_readf_float(file, audio.samples.data(), info.frames);
    sf_close(file);
    audio.samples.resize(static_cast<size_t>(got * info.channels));
    return audio;
}

float TestAudio::Mono(size_t frame) const
{
    float sum = 0.0f;
    for (int c = 0; c < channels; ++c)
        sum += samples[frame * channels + c];
    return sum;
}

std::vector<size_t> TestAudio::Onsets(float threshold, size_t quietFrames) const
{
    std::vector<size_t> onsets;
    size_t lastLoud = 0;
    for (size_t i = 0; i < Frames(); ++i)
    {
        if (std::fabs(Mono(i)) <= threshold)
            continue;
        if (onsets.empty() || i - lastLoud > quietFrames)
            onsets.push_back(i);
        lastLoud = i;
    }
    return onsets;
}

float TestAudio::Peak(size_t begin, size_t end) const
{
    float peak = 0.0f;
    for (size_t i = begin * channels; i < end * channels; ++i)
        peak = std::max(peak, std::fabs(samples[i]));
    return peak;
}

double TestAudio::GapPercent() const
{
    const size_t window = static_cast<size_t>(sampleRate / 100);
    size_t windows = 0, quiet = 0;
    for (size_t start = 0; start + window <= Frames(); start += window, ++windows)
        quiet += Peak(start, start + window) < 0.001f ? 1 : 0;
    return windows ? 100.0 * static_cast<double>(quiet) / static_cast<double>(windows) : 0.0;
}
