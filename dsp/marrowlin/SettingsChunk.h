#pragma once

#include "dsp/marrowlin/MeterSettings.h"
#include "dsp/marrowlin/ShapingSettings.h"
#include "dsp/marrowlin/SlicePoints.h"

#include <cstdint>
#include <vector>

namespace DSP::Marrowlin
{

// Little-endian byte image of the three settings blocks (magic 0x016C4359, version 1).
void WriteSettingsChunk(const SlicePoints& slicePoints, const MeterSettings& meter,
                        const ShapingSettings& shaping, std::vector<uint8_t>& out);

// Fills the blocks in place from a chunk; false for a malformed or truncated chunk (fields read
// before the failure keep their new values).
bool ReadSettingsChunk(const std::vector<uint8_t>& bytes, SlicePoints& slicePoints,
                       MeterSettings& meter, ShapingSettings& shaping);

} // namespace DSP::Marrowlin
