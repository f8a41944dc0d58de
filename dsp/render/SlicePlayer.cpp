#include "dsp/render/SlicePlayer.h"

#include "dsp/foundation/VectorOps.h"
#include "dsp/render/InterpolationKernel.h"
#include "dsp/render/SteadySteps.h"

#include <algorithm>
#include <cmath>

namespace DSP
{

namespace
{

// Frames whose reads are worked out before they are applied channel by channel.
constexpr uint32_t ChunkFrames = 128;

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

// Taps of one chunk, as parallel arrays.
struct TapArrays
{
    uint32_t first[ChunkFrames];
    uint32_t second[ChunkFrames];
    double firstWeight[ChunkFrames];
    double secondWeight[ChunkFrames];

    TapRun Run() { return TapRun{first, second, firstWeight, secondWeight}; }
};

} // namespace

struct SlicePlayer::ChunkReads
{
    double head[ChunkFrames];
    float gain[ChunkFrames];
    // Second reads, made only while crossfading; m of them.
    double crossHead[ChunkFrames];
    float crossGain[ChunkFrames];
    uint32_t crossFrame[ChunkFrames];
    uint32_t m = 0;
};

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

void SlicePlayer::AddCrossfadeReads(ChunkReads& reads, uint32_t n, double head, float gain,
                                    double crossHead, float crossGain)
{
    reads.head[n] = head;
    reads.gain[n] = gain;
    reads.crossHead[reads.m] = crossHead;
    reads.crossGain[reads.m] = crossGain;
    reads.crossFrame[reads.m++] = n;
}

uint32_t SlicePlayer::Advance(ChunkReads& reads, uint32_t n, uint32_t limit)
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
            const uint32_t run =
                SteadySteps::Forward(head, step, fadeStart, limit - n, reads.head + n, head);
            std::fill_n(reads.gain + n, run, 1.0f);
            n += run;
            if (n == limit)
                break;
            reads.head[n] = head;
            reads.gain[n++] = 1.0f;
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
            AddCrossfadeReads(reads, n++, head, Fade(head, endFadeStart, length, 1.0f, 0.0f),
                              reverseHead, Fade(reverseHead, endFadeStart, length, 1.0f, 0.0f));
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
            const uint32_t run = SteadySteps::Backward(reverseHead, step, fadeEnd, limit - n,
                                                       reads.head + n, reverseHead);
            std::fill_n(reads.gain + n, run, 1.0f);
            n += run;
            if (n == limit)
                break;
            reads.head[n] = reverseHead;
            reads.gain[n++] = 1.0f;
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
            AddCrossfadeReads(reads, n++, head, Fade(head, tailStart, startFadeEnd, 0.0f, 1.0f),
                              reverseHead, Fade(reverseHead, tailStart, startFadeEnd, 0.0f, 1.0f));
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
    // end of a slice without a tail; the report stops at the end of the source, so a host never
    // sees a position outside the loop.
    const double head = position > 0.0 ? position : 0.0;
    const double frame = start + std::round(head);
    const double end = source != nullptr ? source->frameCount : 4294967295.0;
    return frame < end ? static_cast<uint32_t>(frame) : static_cast<uint32_t>(end);
}

void SlicePlayer::Render(uint32_t frames, float** buffers, uint32_t* sink)
{
    if (buffers != nullptr && source != nullptr)
        for (uint32_t k = 0; k < source->channelCount; ++k)
            VectorOps::ZeroFloats(frames, buffers[k]);

    if (buffers != nullptr && SourceIsReadable())
    {
        // The state machine runs on its own over a chunk of frames, recording where to read;
        // the heads then become taps once, and the reads run channel by channel over the chunk.
        const InterpolationKernel::Functions kernel = InterpolationKernel::Active();
        ChunkReads reads;
        TapArrays taps;
        TapArrays crossTaps;
        const TapRun run = taps.Run();
        const TapRun crossRun = crossTaps.Run();
        uint32_t done = 0;
        while (done < frames && state != PlayerState::Stopped)
        {
            const uint32_t limit = std::min(ChunkFrames, frames - done);
            uint32_t n = 0;
            reads.m = 0;
            while (n < limit && state != PlayerState::Stopped)
                n = Advance(reads, n, limit);
            const uint32_t m = reads.m;
            kernel.makeTaps(n, reads.head, length, run);
            if (m > 0)
                kernel.makeTaps(m, reads.crossHead, length, crossRun);
            for (uint32_t k = 0; k < source->channelCount; ++k)
            {
                const float* channel = source->channels[k];
                float* out = buffers[k];
                if (!channel || !out)
                    continue;
                const float* slice = channel + start;
                out += done;
                kernel.interpolate(n, slice, run, reads.gain, out, length);
                for (uint32_t q = 0; q < m; ++q)
                    out[reads.crossFrame[q]] +=
                        reads.crossGain[q] * InterpolationKernel::Read(slice, crossRun, q);
            }
            done += n;
        }
    }

    if (sink)
        *sink = ReportedFrame();
}

} // namespace DSP
