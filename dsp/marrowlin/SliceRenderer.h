#pragma once

#include "dsp/foundation/AlignedFloatVector.h"
#include "dsp/marrowlin/RenderSlice.h"
#include "dsp/marrowlin/SourceAudio.h"
#include "dsp/render/SlicePlayer.h"
#include "dsp/render/StageEnvelope.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace DSP::Marrowlin
{

class Loop;

// One voice: plays one RenderSlice through a SlicePlayer, shaped by a gate and an amplitude
// envelope and scaled by the Loop's gain, adding into the caller's buffers.
class SliceRenderer
{
public:
    explicit SliceRenderer(Loop* loop);

    void SetSource(SourceAudio* source);
    void Reset();
    bool IsActive() const;
    void Start(const RenderSlice& slice);
    void UpdateRate();
    // Adds the voice into frames offset..offset+frames-1 of every output channel; when a sink is
    // given it receives the source frame being played.
    void Render(uint32_t frames, float** output, uint32_t offset, uint32_t* positionSink);

    std::optional<uint32_t> GetSliceStart() const { return sliceStart; }
    std::optional<uint32_t> GetSliceLength() const { return sliceLength; }
    std::optional<float> GetGain() const { return gain; }
    double GetRate() const { return player.GetRate(); }
    const SlicePlayer& GetPlayer() const { return player; }
    const StageEnvelope& GetGate() const { return gate; }
    const StageEnvelope& GetAmp() const { return amp; }

private:
    Loop* loop;
    SourceAudio* source = nullptr;
    std::optional<uint32_t> sliceStart;
    std::optional<uint32_t> sliceLength;
    SlicePlayer player;
    StageEnvelope gate;
    StageEnvelope amp;
    std::optional<float> gain;
    AlignedFloatVector scratch;
    std::vector<float*> channelPointers;
};

} // namespace DSP::Marrowlin
