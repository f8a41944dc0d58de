#include "tools/kelvora/LoopReport.h"

#include "tools/kelvora/NumberText.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace KelvoraCli
{

namespace
{

// A float widened to double prints as 0.8199999928474426; going through the float's shortest
// decimal form gives the 0.82 the engine meant. Non-finite values have no JSON form.
nlohmann::ordered_json Decimal(float value)
{
    if (!std::isfinite(value))
        return nullptr;
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text - 1, value);
    *result.ptr = '\0';
    return std::strtod(text, nullptr);
}

nlohmann::ordered_json MeterJson(const MeterChoice& meter)
{
    return {{"bars", meter.bars},
            {"extraBeats", meter.extraBeats},
            {"beatsPerBar", meter.beatsPerBar},
            {"beatUnit", meter.beatUnit},
            {"tempo", meter.tempoBpm},
            {"confidence", meter.confidence}};
}

} // namespace

double LoopReport::Threshold() const
{
    const double open = 1.0 - static_cast<double>(sensitivity);
    return open * open;
}

size_t LoopReport::ActiveCount() const
{
    size_t count = 0;
    for (const Slice& slice : slices)
        count += slice.active ? 1 : 0;
    return count;
}

double LoopReport::Seconds(uint32_t frames) const
{
    return sampleRate ? static_cast<double>(frames) / sampleRate : 0.0;
}

nlohmann::ordered_json LoopReport::ToJson() const
{
    nlohmann::ordered_json slicesJson = nlohmann::ordered_json::array();
    for (const Slice& slice : slices)
        slicesJson.push_back({{"index", slice.index},
                              {"position", slice.position},
                              {"seconds", Seconds(slice.position)},
                              {"strength", Decimal(slice.strength)},
                              {"active", slice.active},
                              {"detected", slice.detected},
                              {"locked", slice.locked},
                              {"deleted", slice.deleted},
                              {"disabled", slice.disabled}});
    nlohmann::ordered_json regionsJson = nlohmann::ordered_json::array();
    for (const Region& region : regions)
        regionsJson.push_back({{"start", region.start},
                               {"length", region.length},
                               {"seconds", Seconds(region.start)}});
    return {
        {"file", file},
        {"sampleRate", sampleRate},
        {"channels", channelCount},
        {"frames", frameCount},
        {"seconds", Seconds(frameCount)},
        {"loopTempo", Decimal(loopTempo)},
        {"loopTempoFixed", meter.fixedLoopTempo.has_value()},
        {"tempo", Decimal(tempo)},
        {"meter",
         {{"bars", bars},
          {"extraBeats", extraBeats},
          {"beatsPerBar", beatsPerBar},
          {"beatUnit", beatUnit}}},
        {"meterChoice",
         {{"from", meter.from},
          {"summary", meter.summary},
          {"confidence", meter.chosen.confidence},
          {"weakEvidence", meter.weakEvidence},
          {"runnerUp", meter.runnerUp ? MeterJson(*meter.runnerUp) : nlohmann::ordered_json()}}},
        {"sensitivity", Decimal(sensitivity)},
        {"threshold",
         sensitivity > 0.0f ? nlohmann::ordered_json(Threshold()) : nlohmann::ordered_json()},
        {"detectionWindowMs", Decimal(detectionWindowMs)},
        {"activeSlices", ActiveCount()},
        {"slices", slicesJson},
        {"regions", regionsJson}};
}

void LoopReport::PrintTable(std::ostream& out, bool activeOnly) const
{
    out << file << ": " << frameCount << " frames, " << Formatted("%.3f", Seconds(frameCount))
        << " s, " << sampleRate << " Hz, " << channelCount
        << (channelCount == 1 ? " channel\n" : " channels\n");
    out << "  " << meter.summary << "\n  sensitivity " << Formatted("%.2f", sensitivity);
    if (sensitivity > 0.0f)
        out << " (cuts at strength >= " << Formatted("%.3f", Threshold()) << ")";
    else
        out << " (nothing cuts)";
    out << ", detection window " << Formatted("%g", detectionWindowMs) << " ms\n";
    out << "  " << slices.size() << (slices.size() == 1 ? " slice point, " : " slice points, ")
        << ActiveCount() << " active, " << regions.size()
        << (regions.size() == 1 ? " slice\n" : " slices\n");
    if (slices.empty() || (activeOnly && ActiveCount() == 0))
        return;
    char line[128];
    std::snprintf(line, sizeof line, "  %5s %10s %10s %9s  %s\n", "#", "frame", "seconds",
                  "strength", "active");
    out << line;
    for (const Slice& slice : slices)
    {
        if (activeOnly && !slice.active)
            continue;
        std::snprintf(line, sizeof line, "  %5u %10u %10.4f %9.3f  %s\n", slice.index,
                      slice.position, Seconds(slice.position), static_cast<double>(slice.strength),
                      slice.active ? "yes" : "-");
        out << line;
    }
}

} // namespace KelvoraCli
