#include "dsp/marrowlin/SliceRenderer.h"

#include "dsp/foundation/Decibels.h"
#include "dsp/marrowlin/Loop.h"

#include <algorithm>
#include <cmath>

namespace DSP::Marrowlin
{

namespace
{

// Blocks are worked through in pieces of at most this many frames, which bounds the scratch
// memory whatever block size the host asks for; every stage carries its state across pieces,
// so the result is the same as for one piece. The scratch is sized for a whole piece when the
// source arrives, so rendering never allocates, whatever the block size.
constexpr uint32_t MaxPieceFrames = 4096;
// Upper bound of the scratch, in samples, for sources with very many channels.
constexpr uint64_t MaxScratchSamples = uint64_t{1} << 20;
// Largest output gain and sustain level a slice is played with (+120 dB). Beyond it, or when
// either is not a number, the slice plays silence: with finite loop audio the output then stays
// finite whatever the settings.
constexpr float MaxLevel = 1.0e6f;

uint32_t PieceFrames(uint32_t channelCount)
{
    return static_cast<uint32_t>(
        std::clamp<uint64_t>(MaxScratchSamples / std::max(channelCount, 1u), 1, MaxPieceFrames));
}

bool IsPlayableLevel(float level)
{
    return std::fabs(level) <= MaxLevel; // false for NaN
}

// output += voice * gain in one pass. A gain of exactly 0 silences the voice, whatever it holds
// (a multiplication would keep its NaNs and turn infinities into NaNs).
void MixScaled(uint32_t count, const float* __restrict voice, float gain, float* __restrict output)
{
    if (gain == 0.0f)
    {
        for (uint32_t j = 0; j < count; ++j)
            output[j] += 0.0f;
        return;
    }
    for (uint32_t j = 0; j < count; ++j)
        output[j] += voice[j] * gain;
}

} // namespace

SliceRenderer::SliceRenderer(Loop* loopIn) : loop(loopIn) {}

void SliceRenderer::SetSource(SourceAudio* sourceIn)
{
    source = nullptr;
    Reset();
    source = sourceIn;
    player.SetSource(sourceIn);
    if (source)
    {
        channelPointers.assign(source->channelCount, nullptr);
        const uint32_t piece = PieceFrames(source->channelCount);
        scratch.resize(size_t{source->channelCount} * piece);
        gate.Reserve(piece);
        amp.Reserve(piece);
    }
}

void SliceRenderer::Reset()
{
    sliceStart.reset();
    sliceLength.reset();
    gain.reset();
}

bool SliceRenderer::IsActive() const
{
    return source != nullptr && sliceStart.has_value() && gate.IsRunning();
}

void SliceRenderer::Start(const RenderSlice& slice)
{
    Reset();
    if (source == nullptr || source->channels == nullptr)
        return;
    const uint64_t end = uint64_t{slice.sourceStart} + slice.sourceLength;
    if (slice.sourceStart >= source->frameCount || slice.sourceLength == 0 ||
        end > source->frameCount)
        return;

    const float level = DecibelsToLevel(loop ? loop->GetShapingSettings().gainDb : 0.0f);
    if (!IsPlayableLevel(level) || !IsPlayableLevel(slice.ampSustain))
        return;

    sliceStart = slice.sourceStart;
    sliceLength = slice.sourceLength;
    player.Setup(slice.sourceStart, slice.sourceLength, slice.tailLoopStart, slice.tailCrossfade,
                 slice.initialRate);
    gate.Configure(slice.gateAttack, slice.gateHold, slice.gateRelease, false, 0.0f, true);
    gate.Start();
    amp.Configure(slice.ampAttack, slice.ampHold, slice.ampDecay, true, slice.ampSustain, false);
    amp.Start();
    gain = level;
}

void SliceRenderer::UpdateRate()
{
    // The rate is a ratio of the Loop's sample rates; without a source there is none to take.
    if (loop == nullptr || loop->GetSource() == nullptr)
        return;
    const float outRate = loop->EffectiveSampleRate();
    const float srcRate = static_cast<float>(loop->GetSource()->sampleRate);
    const ShapingSettings& shaping = loop->GetShapingSettings();
    const float transposition = static_cast<float>(shaping.cents / 100.0 + shaping.semitones);
    // A non-positive output rate gives rate 0, which holds the player still.
    const double ratio =
        outRate > 0.0f ? static_cast<double>(srcRate) / static_cast<double>(outRate) : 0.0;
    const double rate = ratio * std::pow(2.0, transposition / 12.0);
    // A transposition or fine tune that is not a finite number, or so large that the rate is
    // infinite, gives the slice nowhere to read: it falls silent until the next slice on this
    // voice.
    if (!std::isfinite(transposition) || !std::isfinite(rate))
    {
        Reset();
        return;
    }
    player.SetRate(rate);
}

void SliceRenderer::Render(uint32_t frames, float** output, uint32_t offset, uint32_t* positionSink)
{
    if (!IsActive())
        return;
    const uint32_t channelCount = source->channelCount;
    if (channelCount == 0)
        return;
    if (channelPointers.size() < channelCount)
        channelPointers.resize(channelCount, nullptr);
    const uint32_t pieceLimit = PieceFrames(channelCount);

    uint32_t done = 0;
    while (done < frames)
    {
        const uint32_t n = std::min(frames - done, pieceLimit);
        const size_t needed = size_t{channelCount} * n;
        // Sized when the source arrived; this only grows for a source changed behind our back.
        if (scratch.size() < needed)
            scratch.resize(needed);
        float* base = scratch.data();
        for (uint32_t k = 0; k < channelCount; ++k)
            channelPointers[k] = base + size_t{k} * n;
        float** channels = channelPointers.data();

        // Once the gate has closed the voice is silent; the player still runs so that the
        // position it reports is the one at the end of the block.
        const bool audible = gate.IsRunning();
        player.Render(n, channels, positionSink);
        if (audible)
        {
            gate.Apply(channels, channelCount, n);
            amp.Apply(channels, channelCount, n);
            for (uint32_t k = 0; k < channelCount; ++k)
                if (output && output[k])
                    MixScaled(n, channels[k], *gain, output[k] + offset + done);
        }
        done += n;
    }
}

} // namespace DSP::Marrowlin
