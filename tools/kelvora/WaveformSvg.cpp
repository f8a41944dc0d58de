#include "tools/kelvora/WaveformSvg.h"

#include "tools/kelvora/AudioFile.h"
#include "tools/kelvora/LoopReport.h"
#include "tools/kelvora/NumberText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace KelvoraCli
{

namespace
{

constexpr int Margin = 16;
constexpr int TitleHeight = 40;

// Samples that are NaN or beyond full scale would throw the drawing off the canvas.
float Clamp(float sample)
{
    if (!(sample == sample))
        return 0.0f;
    return std::clamp(sample, -1.0f, 1.0f);
}

} // namespace

WaveformSvg::WaveformSvg(int widthPixels, int heightPixels)
    : width(std::max(widthPixels, 4 * Margin)), height(std::max(heightPixels, 4 * TitleHeight))
{
}

std::string WaveformSvg::Escape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text)
    {
        switch (c)
        {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            // Control characters are not allowed in XML 1.0 at all.
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
                out += '?';
            else
                out += c;
        }
    }
    return out;
}

std::string WaveformSvg::Draw(const AudioFile& audio, const LoopReport& report) const
{
    const double left = Margin;
    const double plotWidth = width - 2.0 * Margin;
    const double top = TitleHeight;
    const double plotHeight = height - TitleHeight - Margin;
    const double middle = top + plotHeight / 2.0;
    const double bottom = top + plotHeight;
    const uint32_t frames = audio.FrameCount();
    const auto xOf = [&](double frame)
    { return left + (frames ? frame / frames : 0.0) * plotWidth; };

    std::ostringstream svg;
    svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
        << "\" viewBox=\"0 0 " << width << " " << height << "\">\n"
        << "<style>\n"
        << "  text { font-family: sans-serif; font-size: 13px; fill: #222; }\n"
        << "  .region { fill: #eef3f8; }\n"
        << "  .region.odd { fill: #e0e8f1; }\n"
        << "  .beat { stroke: #c8c8c8; stroke-width: 1; }\n"
        << "  .bar { stroke: #909090; stroke-width: 1; }\n"
        << "  .wave { fill: #3a6ea5; stroke: #3a6ea5; stroke-width: 0.5; }\n"
        << "  .slice { stroke-width: 1.5; }\n"
        << "  .slice.active { stroke: #d9381e; stroke-width: 2.5; }\n"
        << "  .slice.inactive { stroke: #8c8c8c; stroke-dasharray: 3 2; }\n"
        << "</style>\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";

    char title[256];
    std::snprintf(title, sizeof title,
                  " - %.2f BPM, %u bar%s of %u/%u, %zu of %zu slice points active "
                  "(sensitivity %.2f)",
                  static_cast<double>(report.loopTempo), report.bars, report.bars == 1 ? "" : "s",
                  report.beatsPerBar, report.beatUnit, report.ActiveCount(), report.slices.size(),
                  static_cast<double>(report.sensitivity));
    svg << "<text x=\"" << Margin << "\" y=\"" << TitleHeight - 14 << "\">" << Escape(report.file)
        << Escape(title) << "</text>\n";

    svg << "<g class=\"regions\">\n";
    for (size_t i = 0; i < report.regions.size(); ++i)
    {
        const auto& region = report.regions[i];
        const double x0 = xOf(region.start);
        const double x1 = xOf(double(region.start) + region.length);
        svg << "<rect class=\"region" << (i % 2 ? " odd" : "") << "\" x=\"" << OneDecimal(x0)
            << "\" y=\"" << OneDecimal(top) << "\" width=\"" << OneDecimal(x1 - x0)
            << "\" height=\"" << OneDecimal(plotHeight) << "\"/>\n";
    }
    svg << "</g>\n";

    const uint64_t beats = uint64_t(report.bars) * report.beatsPerBar + report.extraBeats;
    svg << "<g class=\"grid\">\n";
    if (beats > 0 && beats <= 4096)
    {
        for (uint64_t beat = 0; beat <= beats; ++beat)
        {
            const bool barLine = report.beatsPerBar && beat % report.beatsPerBar == 0;
            const double x = left + double(beat) / double(beats) * plotWidth;
            svg << "<line class=\"" << (barLine ? "bar" : "beat") << "\" x1=\"" << OneDecimal(x)
                << "\" y1=\"" << OneDecimal(top) << "\" x2=\"" << OneDecimal(x) << "\" y2=\""
                << OneDecimal(bottom) << "\"/>\n";
        }
    }
    svg << "</g>\n";

    // One min/max pair per pixel column, over every channel, as a closed outline.
    const int columns = std::max(1, static_cast<int>(plotWidth));
    std::vector<float> lows(columns, 0.0f);
    std::vector<float> highs(columns, 0.0f);
    for (int column = 0; column < columns && frames > 0; ++column)
    {
        const uint32_t from = static_cast<uint32_t>(uint64_t(frames) * column / columns);
        uint32_t to = static_cast<uint32_t>(uint64_t(frames) * (column + 1) / columns);
        to = std::max(to, from + 1);
        float low = 0.0f;
        float high = 0.0f;
        for (uint32_t c = 0; c < audio.ChannelCount(); ++c)
        {
            const float* samples = audio.Channel(c);
            for (uint32_t i = from; i < to && i < frames; ++i)
            {
                const float s = Clamp(samples[i]);
                low = std::min(low, s);
                high = std::max(high, s);
            }
        }
        lows[column] = low;
        highs[column] = high;
    }
    const double half = plotHeight / 2.0;
    svg << "<path class=\"wave\" d=\"";
    for (int column = 0; column < columns; ++column)
        svg << (column ? " L" : "M") << OneDecimal(left + column + 0.5) << ","
            << OneDecimal(middle - highs[column] * half);
    for (int column = columns - 1; column >= 0; --column)
        svg << " L" << OneDecimal(left + column + 0.5) << ","
            << OneDecimal(middle - lows[column] * half);
    svg << " Z\"/>\n";

    svg << "<g class=\"slices\">\n";
    for (const LoopReport::Slice& slice : report.slices)
    {
        const double x = xOf(slice.position);
        const float strength =
            std::isfinite(slice.strength) ? std::clamp(slice.strength, 0.0f, 1.0f) : 0.0f;
        const double y = bottom - strength * plotHeight;
        char label[128];
        std::snprintf(label, sizeof label, "#%u at frame %u (%.4f s), strength %.3f%s", slice.index,
                      slice.position, report.Seconds(slice.position),
                      static_cast<double>(slice.strength), slice.active ? ", active" : "");
        svg << "<line class=\"slice " << (slice.active ? "active" : "inactive")
            << "\" data-index=\"" << slice.index << "\" data-position=\"" << slice.position
            << "\" x1=\"" << OneDecimal(x) << "\" y1=\"" << OneDecimal(bottom) << "\" x2=\""
            << OneDecimal(x) << "\" y2=\"" << OneDecimal(y) << "\"><title>" << label
            << "</title></line>\n";
    }
    svg << "</g>\n</svg>\n";
    return svg.str();
}

} // namespace KelvoraCli
