#include "dsp/render/SlicePlayer.h"

#include "dsp/foundation/VectorOps.h"

#include <algorithm>
#include <cmath>

namespace DSP
{

namespace
{

// Frames whose reads are worked out before they are applied channel by channel.
constexpr uint32_t ChunkFrames = 64;

// The linear fade law: ya at a, yb at b, not clamped. The bounds and the head are taken at
// single precision, as the gains they give are.
float Fade(double x, uint32_t a, uint32_t b, float ya, float yb)
{
    const double xf = static_cast<float>(x);
    const double af = static_cast<float>(a);
    const double bf = static_cast<float>(b);
    if (af == bf)
        return ya;
    return static_cast<float>(ya + (xf - af) / (bf - af) * (static_cast<double>(yb) - ya));
}

float Interpolate(const float* slice, uint32_t i0, uint32_t i1, double w0, double w1)
{
    return static_cast<float>(static_cast<double>(slice[i0]) * w0 +
                              static_cast<double>(slice[i1]) * w1);
}

} // namespace

void SlicePlayer::SetSource(Marrowlin::SourceAudio* sourceIn)
{
    source = sourceIn;
}

void SlicePlayer::Setup(uint32_t startIn, uint32_t lengthIn, uint32_t tailStartIn,
                        uint32_t requestedCrossfade, double rateIn)
{
    start = startIn;
    length = lengthIn;
    tailStart = std::min(tailStartIn, lengthIn);
    crossfade = std::min(requestedCrossfade, (length - tailStart) / 2);
    endFadeStart = length - crossfade;
    startFadeEnd = tailStart + crossfade;
    position = 0.0;
    reversePosition = 0.0;
    SetRate(rateIn);
    state = PlayerState::Forward;
    wrapped = false;
}

void SlicePlayer::SetRate(double rateIn)
{
    // Heads only ever move forward through the slice; anything that is not a positive number
    // has no direction to offer, so it freezes them instead. An infinite rate stays: it jumps
    // a head past the end of the slice at once, and every read is clamped into the slice.
    rate = rateIn > 0.0 ? rateIn : 0.0;
}

SlicePlayer::Tap SlicePlayer::MakeTap(double head, float gain) const
{
    const uint32_t last = length - 1;
    if (!(head >= 0.0))
        return Tap{0, 0, 1.0, 0.0, gain}; // NaN or before the slice: its first frame
    double frac = 0.0;
    if (head >= static_cast<double>(length))
    {
        // Both neighbours clamp to the last frame.
        if (std::isfinite(head))
            frac = head - std::floor(head);
        return Tap{last, last, 1.0 - frac, frac, gain};
    }
    const uint32_t i0 = static_cast<uint32_t>(head);
    // The head is not negative here, so its integer part is the truncated index.
    frac = head - static_cast<double>(i0);
    return Tap{i0, std::min(i0 + 1, last), 1.0 - frac, frac, gain};
}

void SlicePlayer::AddInterpolated(float** buffers, double head, uint32_t i, float gain) const
{
    if (!SourceIsReadable() || buffers == nullptr)
        return;
    const Tap tap = MakeTap(head, gain);
    for (uint32_t k = 0; k < source->channelCount; ++k)
    {
        const float* channel = source->channels[k];
        if (channel && buffers[k])
            buffers[k][i] += gain * Interpolate(channel + start, tap.i0, tap.i1, tap.w0, tap.w1);
    }
}

uint32_t SlicePlayer::Advance(Tap* first, Tap* second, uint32_t* secondFrame, uint32_t& m,
                              uint32_t n, uint32_t limit)
{
    // Each state runs its own loop over frames with the heads in locals, until it hands over to
    // the next state or the chunk is full.
    const double len = length;
    const double step = rate;
    double head = position;
    double reverseHead = reversePosition;
    switch (state)
    {
    case PlayerState::Forward:
    {
        const double fadeStart = endFadeStart;
        while (n < limit)
        {
            first[n++] = MakeTap(head, 1.0f);
            head += step;
            if (head >= fadeStart)
            {
                if (head < len)
                {
                    state = PlayerState::EndCrossfade;
                    reverseHead = len - (head - fadeStart);
                }
                else if (tailStart < length)
                {
                    state = PlayerState::Reverse;
                    reverseHead = len;
                }
                else
                {
                    state = PlayerState::Stopped;
                }
                break;
            }
        }
        break;
    }
    case PlayerState::EndCrossfade:
        while (n < limit)
        {
            first[n] = MakeTap(head, Fade(head, endFadeStart, length, 1.0f, 0.0f));
            second[m] = MakeTap(reverseHead, Fade(reverseHead, endFadeStart, length, 1.0f, 0.0f));
            secondFrame[m++] = n++;
            head += step;
            reverseHead -= step;
            if (head >= len)
            {
                state = PlayerState::Reverse;
                wrapped = true;
                break;
            }
        }
        break;
    case PlayerState::Reverse:
    {
        const double fadeEnd = startFadeEnd;
        while (n < limit)
        {
            first[n++] = MakeTap(reverseHead, 1.0f);
            reverseHead -= step;
            if (reverseHead <= fadeEnd)
            {
                if (reverseHead > tailStart)
                {
                    state = PlayerState::StartCrossfade;
                    head = tailStart + (fadeEnd - reverseHead);
                }
                else
                {
                    state = PlayerState::Forward;
                    head = tailStart;
                }
                break;
            }
        }
        break;
    }
    case PlayerState::StartCrossfade:
    {
        const double loopStart = tailStart;
        while (n < limit)
        {
            first[n] = MakeTap(head, Fade(head, tailStart, startFadeEnd, 0.0f, 1.0f));
            second[m] =
                MakeTap(reverseHead, Fade(reverseHead, tailStart, startFadeEnd, 0.0f, 1.0f));
            secondFrame[m++] = n++;
            head += step;
            reverseHead -= step;
            if (reverseHead <= loopStart)
            {
                state = PlayerState::Forward;
                break;
            }
        }
        break;
    }
    default:
        break;
    }
    position = head;
    reversePosition = reverseHead;
    return n;
}

bool SlicePlayer::SourceIsReadable() const
{
    return source != nullptr && source->channels != nullptr && length > 0 &&
           start < source->frameCount && length <= source->frameCount - start;
}

uint32_t SlicePlayer::ReportedFrame() const
{
    if (wrapped)
        return start + length;
    // The head can sit far past the slice (even at infinity) after a huge rate ran it off the
    // end of a slice without a tail; the report saturates rather than wrapping around.
    const double head = position > 0.0 ? position : 0.0;
    const double frame = start + std::round(head);
    return frame < 4294967295.0 ? static_cast<uint32_t>(frame) : 4294967295u;
}

void SlicePlayer::Render(uint32_t frames, float** buffers, uint32_t* sink)
{
    if (buffers != nullptr && source != nullptr)
        for (uint32_t k = 0; k < source->channelCount; ++k)
            VectorOps::ZeroFloats(frames, buffers[k]);

    if (buffers != nullptr && SourceIsReadable())
    {
        // The state machine runs on its own over a chunk of frames, recording where to read;
        // the reads then run channel by channel over the whole chunk.
        Tap first[ChunkFrames];
        Tap second[ChunkFrames];
        uint32_t secondFrame[ChunkFrames];
        uint32_t done = 0;
        while (done < frames && state != PlayerState::Stopped)
        {
            const uint32_t limit = std::min(ChunkFrames, frames - done);
            uint32_t n = 0;
            uint32_t m = 0;
            while (n < limit && state != PlayerState::Stopped)
                n = Advance(first, second, secondFrame, m, n, limit);
            for (uint32_t k = 0; k < source->channelCount; ++k)
            {
                const float* channel = source->channels[k];
                float* out = buffers[k];
                if (!channel || !out)
                    continue;
                const float* slice = channel + start;
                out += done;
                for (uint32_t j = 0; j < n; ++j)
                    out[j] += first[j].gain * Interpolate(slice, first[j].i0, first[j].i1,
                                                          first[j].w0, first[j].w1);
                for (uint32_t q = 0; q < m; ++q)
                    out[secondFrame[q]] +=
                        second[q].gain *
                        Interpolate(slice, second[q].i0, second[q].i1, second[q].w0, second[q].w1);
            }
            done += n;
        }
    }

    if (sink)
        *sink = ReportedFrame();
}

} // namespace DSP
