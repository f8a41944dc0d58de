#include "dsp/marrowlin/SliceTiming.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace DSP::Marrowlin
{

uint32_t RoundToFrame(double value)
{
    // std::round rounds halves away from zero; the comparisons are written so that NaN fails
    // them and lands on 0.
    const double rounded = std::round(value);
    if (!(rounded > 0.0))
    {
        return 0;
    }
    if (rounded >= static_cast<double>(std::numeric_limits<uint32_t>::max()))
    {
        return std::numeric_limits<uint32_t>::max();
    }
    return static_cast<uint32_t>(rounded);
}

uint32_t FindSoundEnd(uint32_t start, uint32_t length, const SourceAudio& source)
{
    // 20 ms of source frames; 64-bit so that absurd sample rates cannot wrap.
    const uint64_t window = static_cast<uint64_t>(source.sampleRate) * 20u / 1000u;
    if (length <= window)
    {
        return start;
    }
    if (source.channels == nullptr || source.frameCount == 0)
    {
        return start;
    }

    const uint64_t frames = source.frameCount;
    const uint64_t end = static_cast<uint64_t>(start) + length; // one past the slice
    const uint64_t tailBegin = end - window;
    const uint64_t tailEnd = std::min(end, frames);

    float tailPeak = 0.0f;
    for (uint32_t channel = 0; channel < source.channelCount; ++channel)
    {
        const float* samples = source.channels[channel];
        if (samples == nullptr)
        {
            continue;
        }
        for (uint64_t frame = tailBegin; frame < tailEnd; ++frame)
        {
            const float magnitude = std::fabs(samples[frame]);
            if (magnitude > tailPeak)
            {
                tailPeak = magnitude;
            }
        }
    }

    // Frames past the source are silent and can never be louder than the tail, so the backward
    // search starts at the last real frame instead of walking through them one by one.
    const float threshold = 2.0f * tailPeak;
    for (uint64_t frame = std::min(end - 1 - window, frames - 1); frame > start; --frame)
    {
        for (uint32_t channel = 0; channel < source.channelCount; ++channel)
        {
            const float* samples = source.channels[channel];
            if (samples != nullptr && std::fabs(samples[frame]) > threshold)
            {
                return static_cast<uint32_t>(frame);
            }
        }
    }
    return start;
}

GateLengths ComputeGate(double semitones, uint32_t length, float srcRate, float outRate,
                        std::optional<double> stretch, double tailExtension, bool extendByPlayTime)
{
    GateLengths gate;
    // Without a source rate the slice has no duration to gate.
    if (!(srcRate > 0.0f))
    {
        return gate;
    }

    const double pitch = std::pow(2.0, static_cast<double>(static_cast<float>(semitones)) / 12.0);
    const double durMs = static_cast<double>(length) / static_cast<double>(srcRate) * 1000.0;
    const double playMs = durMs / pitch;
    const double slotMs = (stretch.has_value() && *stretch != 0.0) ? *stretch * durMs : playMs;

    double fadeInMs = 0.2;
    double fadeOutMs = 0.0;
    double totalMs = 0.0;
    if (playMs <= slotMs)
    {
        // The slice ends inside its slot: a release of at most 20 ms, lengthened into the silent
        // gap by the tail extension while the renderer's tail loop keeps it sounding.
        fadeOutMs = std::min(durMs / 25.0, 20.0);
        fadeOutMs = std::min(fadeOutMs, playMs);
        fadeInMs = std::min(fadeInMs, playMs - fadeOutMs);
        const double extMs = extendByPlayTime ? tailExtension * playMs
                                              : std::min(tailExtension * (slotMs - playMs), playMs);
        fadeOutMs += extMs;
        totalMs = playMs + extMs;
    }
    else
    {
        // The slice would overrun its slot: cut it shortly after the slot ends.
        fadeOutMs = 1.5;
        fadeOutMs = std::min(fadeOutMs, playMs);
        fadeInMs = std::min(fadeInMs, playMs - fadeOutMs);
        totalMs = std::min(slotMs + fadeOutMs, playMs);
    }

    const double rate = static_cast<double>(outRate);
    gate.attack = RoundToFrame(fadeInMs / 1000.0 * rate);
    gate.release = RoundToFrame(fadeOutMs / 1000.0 * rate);
    // The hold is defined in unsigned 32-bit arithmetic. A slot shorter than the two fades (a
    // pinned slice squeezed into a fraction of a millisecond) makes the difference negative, and
    // it wraps to a hold of nearly 2^32 frames: such a slice keeps its gate open until the next
    // slice on its voice cuts it off.
    const uint32_t total = RoundToFrame(totalMs / 1000.0 * rate);
    gate.hold = total - gate.release - gate.attack;
    return gate;
}

} // namespace DSP::Marrowlin
