#pragma once

#include <cstdint>
#include <optional>

namespace DSP::Marrowlin
{

// Meter and tempo of the loop.
struct MeterSettings
{
    uint32_t bars = 2;
    uint32_t extraBeats = 0;
    uint32_t beatsPerBar = 4;
    uint32_t beatUnit = 4;           // stored, never used in arithmetic
    float tempo = 0.0f;              // target tempo in BPM
    std::optional<float> fixedTempo; // the loop's own tempo, when the host fixed it
    uint32_t ticksPerBeat = 96;
    uint8_t meterFlag = 0; // carried, not interpreted
};

} // namespace DSP::Marrowlin
