#include "dsp/marrowlin/SettingsChunk.h"

namespace DSP::Marrowlin
{

// Placeholder until the chunk format lands.
void WriteSettingsChunk(const SlicePoints&, const MeterSettings&, const ShapingSettings&,
                        std::vector<uint8_t>& out)
{
    out.clear();
}

bool ReadSettingsChunk(const std::vector<uint8_t>&, SlicePoints&, MeterSettings&,
                       ShapingSettings&)
{
    return false;
}

} // namespace DSP::Marrowlin
