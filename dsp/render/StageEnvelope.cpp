#include "dsp/render/StageEnvelope.h"

#include "dsp/foundation/VectorOps.h"

#include <algorithm>

namespace DSP
{

namespace
{
// Bends of the curved stages: the attack starts slowly, the decay falls fast at first.
constexpr double AttackBend = 0.5;
constexpr double DecayBend = -0.97;
} // namespace

void StageEnvelope::Configure(uint32_t attack, uint32_t hold, uint32_t decay, bool sustainsIn,
                              float level, bool linearIn)
{
    attackLength = attack;
    holdLength = hold;
    decayLength = decay;
    sustains = sustainsIn;
    sustainLevel = level;
    linear = linearIn;
}

void StageEnvelope::Start()
{
    stagePosition = 0;
    if (attackLength == 0 && holdLength == 0 && decayLength == 0)
    {
        stage = EnvelopeStage::Finished;
        return;
    }
    stage = EnvelopeStage::Attack;
    SetRampForStage();
}

uint32_t StageEnvelope::StageLength() const
{
    switch (stage)
    {
    case EnvelopeStage::Attack:
        return attackLength;
    case EnvelopeStage::Hold:
        return holdLength;
    case EnvelopeStage::Decay:
        return decayLength;
    default:
        return 0;
    }
}

void StageEnvelope::SetRampForStage()
{
    switch (stage)
    {
    case EnvelopeStage::Attack:
        ramp.Set(0.0, 1.0, linear ? 0.0 : AttackBend, attackLength);
        break;
    case EnvelopeStage::Hold:
        ramp.Set(1.0, 1.0, 0.0, holdLength);
        break;
    case EnvelopeStage::Decay:
        ramp.Set(1.0, sustainLevel, linear ? 0.0 : DecayBend, decayLength);
        break;
    default:
        break;
    }
}

void StageEnvelope::Reserve(uint32_t frames)
{
    if (gainBuffer.size() < frames)
        gainBuffer.resize(frames, 0.0f);
}

void StageEnvelope::Apply(float** channels, uint32_t channelCount, uint32_t frames)
{
    if (stage == EnvelopeStage::Finished)
        return;
    if (channels == nullptr)
        channelCount = 0;
    Reserve(frames);

    uint32_t done = 0;
    while (done < frames)
    {
        if (stage == EnvelopeStage::Finished)
        {
            for (uint32_t k = 0; k < channelCount; ++k)
                if (channels[k])
                    VectorOps::ZeroFloats(frames - done, channels[k] + done);
            done = frames;
        }
        else if (stage == EnvelopeStage::Sustain)
        {
            for (uint32_t k = 0; k < channelCount; ++k)
                if (channels[k])
                    VectorOps::ScaleFloatsInPlace(frames - done, channels[k] + done, sustainLevel);
            done = frames;
        }
        else
        {
            const uint32_t stageLength = StageLength();
            const uint32_t n = std::min(
                stageLength > stagePosition ? stageLength - stagePosition : 0u, frames - done);
            if (n > 0)
            {
                float* gains = gainBuffer.data();
                ramp.Generate(n, gains);
                // A hold at unity changes nothing; skipping it saves a pass over every channel.
                const bool unity = ramp.IsFlat() && ramp.Current() == 1.0;
                if (!unity)
                {
                    for (uint32_t k = 0; k < channelCount; ++k)
                    {
                        float* channel = channels[k];
                        if (!channel)
                            continue;
                        channel += done;
                        for (uint32_t j = 0; j < n; ++j)
                            channel[j] *= gains[j];
                    }
                }
                done += n;
                stagePosition += n;
            }
            if (stagePosition >= stageLength)
            {
                stage = static_cast<EnvelopeStage>(static_cast<uint32_t>(stage) + 1);
                stagePosition = 0;
                if (stage == EnvelopeStage::Sustain && !sustains)
                    stage = EnvelopeStage::Finished;
                SetRampForStage();
            }
        }
    }
}

} // namespace DSP
