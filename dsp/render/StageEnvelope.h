#pragma once

#include "dsp/render/RampCurve.h"

#include <cstdint>
#include <vector>

namespace DSP
{

enum class EnvelopeStage : uint32_t
{
    Attack = 0,
    Hold = 1,
    Decay = 2,
    Sustain = 3,
    Finished = 4,
};

// Multiplies blocks of multichannel audio by a gain contour of stages: attack (0 -> 1), hold
// (1), decay (1 -> level), then either a sustain at the level for ever or silence.
class StageEnvelope
{
public:
    StageEnvelope() = default;

    // Takes effect at the next Start.
    void Configure(uint32_t attackLength, uint32_t holdLength, uint32_t decayLength, bool sustains,
                   float sustainLevel, bool linear);
    // Restarts from the attack; with all three lengths 0 the envelope is finished at once, which
    // makes Apply a bypass.
    void Start();
    bool IsRunning() const { return stage != EnvelopeStage::Finished; }
    // Makes Apply allocation-free for blocks of up to `frames` frames.
    void Reserve(uint32_t frames);
    // Multiplies frames 0..frames-1 of every channel in place; allocates only for a block longer
    // than any reserved or applied before.
    void Apply(float** channels, uint32_t channelCount, uint32_t frames);

    EnvelopeStage GetStage() const { return stage; }
    uint32_t GetStagePosition() const { return stagePosition; }

private:
    uint32_t StageLength() const;
    void SetRampForStage();

    RampCurve ramp;
    uint32_t attackLength = 0;
    uint32_t holdLength = 0;
    uint32_t decayLength = 0;
    bool sustains = false;
    float sustainLevel = 0.0f;
    bool linear = false;
    EnvelopeStage stage = EnvelopeStage::Finished;
    uint32_t stagePosition = 0;
    std::vector<float> gainBuffer;
};

} // namespace DSP
