#include "tools/kelvora/ViewPage.h"

#include "tools/kelvora/AudioFile.h"
#include "tools/kelvora/EngineSettings.h"
#include "tools/kelvora/LoopReport.h"
#include "tools/kelvora/ViewAssets.h"
#include "tools/kelvora/WaveformSvg.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <string_view>
#include <utility>

namespace KelvoraCli
{

namespace
{

// The page plays and cuts the loop from these bytes, so they must give back the engine's
// floats bit for bit. Integer PCM is used only when it does, which halves the page for the
// 16-bit loops most people have.
bool FitsInteger(const AudioFile& audio, int bits)
{
    const double scale = std::ldexp(1.0, bits - 1);
    for (uint32_t c = 0; c < audio.ChannelCount(); ++c)
        for (uint32_t i = 0; i < audio.FrameCount(); ++i)
        {
            const double scaled = static_cast<double>(audio.Channel(c)[i]) * scale;
            if (!(scaled >= -scale && scaled < scale) || scaled != std::floor(scaled))
                return false;
        }
    return true;
}

int LosslessBitDepth(const AudioFile& audio)
{
    if (FitsInteger(audio, 16))
        return 16;
    return FitsInteger(audio, 24) ? 24 : 32;
}

void PutLittleEndian(std::string& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xff);
}

// A canonical RIFF WAV: PCM for 16 and 24 bits, IEEE float (with the fact chunk that format
// requires) for 32. Loops the engine takes stay far below the 4 GB a RIFF size can describe.
std::string Wav(const AudioFile& audio, int bits)
{
    const bool isFloat = bits == 32;
    const uint32_t channels = audio.ChannelCount();
    const uint32_t frameBytes = channels * static_cast<uint32_t>(bits / 8);
    const uint64_t dataBytes = uint64_t(frameBytes) * audio.FrameCount();
    const uint32_t fmtBytes = isFloat ? 18 : 16;
    const uint32_t factBytes = isFloat ? 12 : 0;

    std::string out;
    out.reserve(static_cast<size_t>(dataBytes) + 64);
    out += "RIFF";
    PutLittleEndian(out, 4 + 8 + fmtBytes + factBytes + 8 + dataBytes, 4);
    out += "WAVEfmt ";
    PutLittleEndian(out, fmtBytes, 4);
    PutLittleEndian(out, isFloat ? 3 : 1, 2);
    PutLittleEndian(out, channels, 2);
    PutLittleEndian(out, audio.SampleRate(), 4);
    PutLittleEndian(out, uint64_t(audio.SampleRate()) * frameBytes, 4);
    PutLittleEndian(out, frameBytes, 2);
    PutLittleEndian(out, static_cast<uint64_t>(bits), 2);
    if (isFloat)
    {
        PutLittleEndian(out, 0, 2);
        out += "fact";
        PutLittleEndian(out, 4, 4);
        PutLittleEndian(out, audio.FrameCount(), 4);
    }
    out += "data";
    PutLittleEndian(out, dataBytes, 4);
    const double scale = std::ldexp(1.0, bits - 1);
    for (uint32_t i = 0; i < audio.FrameCount(); ++i)
        for (uint32_t c = 0; c < channels; ++c)
        {
            const float sample = audio.Channel(c)[i];
            if (isFloat)
            {
                uint32_t word = 0;
                std::memcpy(&word, &sample, sizeof word);
                PutLittleEndian(out, word, 4);
            }
            else
                PutLittleEndian(out, static_cast<uint64_t>(int64_t(double(sample) * scale)),
                                bits / 8);
        }
    return out;
}

std::string Base64(std::string_view bytes)
{
    static constexpr char Alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3)
    {
        const size_t count = std::min<size_t>(3, bytes.size() - i);
        uint32_t group = 0;
        for (size_t k = 0; k < 3; ++k)
            group = (group << 8) | (k < count ? static_cast<uint8_t>(bytes[i + k]) : 0u);
        for (size_t k = 0; k < 4; ++k)
            out += k <= count ? Alphabet[(group >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

// The report as the page reads it, with what the page needs to cut the loop as the tool would
// at any sensitivity: the sliver fold and the silence level of the lead-in, and the options
// besides the meter and sensitivity that decide the cuts, for the command line it offers.
std::string PageData(const LoopReport& report, const EngineSettings& settings)
{
    nlohmann::ordered_json data = report.ToJson();
    data["name"] = std::filesystem::path(report.file).filename().string();
    data["sliverFrames"] = report.sliverFrames;
    data["silentPeak"] = LoopReport::SilentPeak;
    nlohmann::ordered_json options = nlohmann::ordered_json::array();
    if (settings.detectionWindowMs)
        options.insert(options.end(), {"--detection-window", data["detectionWindowMs"].dump()});
    if (!settings.slicesFile.empty())
        options.insert(options.end(), {"--slices", settings.slicesFile});
    if (settings.gridDivision)
        options.insert(options.end(), {"--grid", "1/" + std::to_string(*settings.gridDivision)});
    if (settings.snapToZeroCrossing)
        options.insert(options.end(), {"--snap", "zero-crossing"});
    data["cutOptions"] = options;
    std::string text = data.dump();
    // Inside a <script> element only "</" can end the data early; "<\/" is the same JSON string.
    std::string safe;
    safe.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
    {
        safe += text[i];
        if (text[i] == '<' && i + 1 < text.size() && text[i + 1] == '/')
            safe += '\\';
    }
    return safe;
}

// Replaces each {{name}} of the page template in one pass, so text put into one slot (a file
// name, say) is never searched for another slot.
std::string Expand(std::string_view page,
                   std::initializer_list<std::pair<std::string_view, std::string_view>> slots)
{
    std::string out;
    size_t reserve = page.size();
    for (const auto& slot : slots)
        reserve += slot.second.size();
    out.reserve(reserve);
    size_t at = 0;
    while (at < page.size())
    {
        const size_t open = page.find("{{", at);
        const size_t close = open == std::string_view::npos ? open : page.find("}}", open);
        if (close == std::string_view::npos)
            break;
        out += page.substr(at, open - at);
        const std::string_view name = page.substr(open + 2, close - open - 2);
        bool filled = false;
        for (const auto& slot : slots)
            if (slot.first == name)
            {
                out += slot.second;
                filled = true;
            }
        if (!filled)
            out += page.substr(open, close + 2 - open);
        at = close + 2;
    }
    if (at < page.size())
        out += page.substr(at);
    return out;
}

} // namespace

ViewPage::ViewPage(const AudioFile& audio, const LoopReport& report, const EngineSettings& settings)
    : bitDepth(LosslessBitDepth(audio))
{
    const std::string title =
        WaveformSvg::Escape(std::filesystem::path(report.file).filename().string());
    html = Expand(ViewAssets::PageHtml, {{"title", title},
                                         {"style", ViewAssets::PageStyle},
                                         {"data", PageData(report, settings)},
                                         {"audio", Base64(Wav(audio, bitDepth))},
                                         {"script", ViewAssets::PageScript}});
}

} // namespace KelvoraCli
