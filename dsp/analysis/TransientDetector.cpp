#include "dsp/analysis/TransientDetector.h"

namespace DSP
{

// Placeholder until the detector lands: finds no transients.
void DetectTransients(uint32_t, uint32_t, uint32_t, const float* const*,
                      std::vector<DetectedTransient>& out, float)
{
    out.clear();
}

} // namespace DSP
