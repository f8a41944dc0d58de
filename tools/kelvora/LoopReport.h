// What the analysis found in one loop: its shape, tempo and meter, every slice point with its
// strength and whether it cuts, and the regions those cuts make. Printed as a table, as JSON, or
// drawn by WaveformSvg.
#pragma once

#include "tools/kelvora/LoopMeterEstimator.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace KelvoraCli
{

struct LoopReport
{
    struct Slice
    {
        uint32_t index = 0;
        uint32_t position = 0; // source frames
        float strength = 0.0f;
        bool active = false; // cuts the loop at the chosen sensitivity
        bool detected = false;
        bool locked = false;
        bool deleted = false;
        bool disabled = false; // switched off by the tool, e.g. a sliver before the first hit
    };

    // How the loop's meter and tempo were chosen.
    struct MeterSource
    {
        MeterChoice chosen;
        std::string from; // "--bars", "--loop-tempo", "the file name", "the onsets", ...
        std::string summary;
        std::optional<float> fixedLoopTempo;
        std::optional<MeterChoice> runnerUp;
        bool weakEvidence = false;
    };

    // A lead-in whose peak stays below this is silence (-60 dBFS).
    static constexpr float SilentPeak = 0.001f;

    struct Region
    {
        uint32_t start = 0;
        uint32_t length = 0;
    };

    std::string file;
    uint32_t sampleRate = 0;
    uint32_t channelCount = 0;
    uint32_t frameCount = 0;
    float loopTempo = 0.0f;
    float tempo = 0.0f;
    uint32_t bars = 0;
    uint32_t extraBeats = 0;
    uint32_t beatsPerBar = 0;
    uint32_t beatUnit = 0;
    MeterSource meter;
    float sensitivity = 0.0f;
    float detectionWindowMs = 0.0f;
    std::vector<Slice> slices;
    // While the first region is shorter than this, the analysis' first cut is switched off
    // (locked cuts stay); 0 when the cuts are the user's and are never folded.
    uint32_t sliverFrames = 0;
    // The loop cut at the active slices, start to end; a silent lead-in is part of the first.
    std::vector<Region> regions;

    // Strength a slice needs to cut: (1 - sensitivity)^2, or "none" (above 1) at sensitivity 0.
    double Threshold() const;
    size_t ActiveCount() const;
    double Seconds(uint32_t frames) const;

    nlohmann::ordered_json ToJson() const;
    // activeOnly leaves out the slice points that do not cut.
    void PrintTable(std::ostream& out, bool activeOnly = false) const;
};

} // namespace KelvoraCli
