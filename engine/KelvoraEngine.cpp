#include "engine/KelvoraEngine.h"

#include "engine/KelvoraImpl.h"

namespace VoKelvora
{

namespace
{
constexpr uint32_t kVersion = 1001;
}

void KelvoraEngine::Create(KelvoraEngine** out, uint32_t channelCount, uint32_t sampleRate,
                           uint32_t outputSampleRate)
{
    if (out == nullptr)
        return;
    if (!(static_cast<double>(channelCount) > 0.0) || !(static_cast<double>(sampleRate) > 0.0))
    {
        *out = nullptr;
        return;
    }
    *out = new KelvoraImpl(channelCount, sampleRate, outputSampleRate);
}

void KelvoraEngine::Destroy(KelvoraEngine* engine)
{
    delete engine;
}

uint32_t GetKelvoraVersion()
{
    return kVersion;
}

} // namespace VoKelvora
