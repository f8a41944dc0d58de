#include "dsp/marrowlin/LoopRenderer.h"

#include "dsp/marrowlin/Loop.h"
#include "dsp/marrowlin/SliceRenderer.h"

#include <algorithm>
#include <cmath>

namespace DSP::Marrowlin
{

namespace
{
constexpr uint32_t VoiceCount = 2;
} // namespace

LoopRenderer::LoopRenderer(Loop* loopIn) : loop(loopIn)
{
    voices.reserve(VoiceCount);
    for (uint32_t v = 0; v < VoiceCount; ++v)
        voices.push_back(std::make_shared<SliceRenderer>(loopIn));
}

LoopRenderer::~LoopRenderer() = default;

void LoopRenderer::SetSource(SourceAudio* sourceIn)
{
    mode = LoopRendererMode::Idle;
    source = sourceIn;
    for (const std::shared_ptr<SliceRenderer>& voice : voices)
        voice->SetSource(sourceIn);
    if (source)
        Resync();
}

void LoopRenderer::Resync()
{
    // Any change to the Loop ends an audition; the voices are left as they are.
    if (mode == LoopRendererMode::Audition)
    {
        mode = LoopRendererMode::Idle;
        return;
    }
    if (loop == nullptr || loop->GetRenderSlices().empty())
    {
        mode = LoopRendererMode::Idle;
        return;
    }
    const std::vector<RenderSlice>& slices = loop->GetRenderSlices();
    const uint32_t count = static_cast<uint32_t>(slices.size());

    // Keep the play position at the same fraction of the loop when its length changes.
    const double fraction =
        loopLength > 0 ? static_cast<double>(position) / static_cast<double>(loopLength) : 0.0;
    loopLength = loop->GetOutputLength();
    position = 0;
    if (loopLength > 0)
    {
        const double scaled = std::round(fraction * (static_cast<double>(loopLength) - 1.0));
        if (scaled > 0.0 && scaled < static_cast<double>(loopLength))
            position = static_cast<uint32_t>(scaled);
    }

    nextSlice = 0;
    while (nextSlice < count - 1 && slices[nextSlice].outputStart < position)
        ++nextSlice;
    // Past the last slice the next trigger is slice 0 at the top of the loop.
    if (nextSlice == count - 1 && slices[nextSlice].outputStart < position)
        nextSlice = 0;

    for (const std::shared_ptr<SliceRenderer>& voice : voices)
        if (voice->IsActive())
            voice->UpdateRate();
}

std::optional<uint32_t> LoopRenderer::GetPlayPosition() const
{
    if (mode == LoopRendererMode::Idle)
        return std::nullopt;
    return reportedPosition;
}

void LoopRenderer::AuditionSlice(uint32_t sourceStart, uint32_t)
{
    for (const std::shared_ptr<SliceRenderer>& voice : voices)
        voice->Reset();
    position = 0;
    if (loop == nullptr)
        return;
    for (const RenderSlice& slice : loop->GetRenderSlices())
    {
        if (slice.sourceStart != sourceStart)
            continue;
        mode = LoopRendererMode::Audition;
        reportedPosition = sourceStart;
        voices[0]->Start(slice);
        voices[0]->UpdateRate();
        return;
    }
}

void LoopRenderer::PlayLoop()
{
    if (loopLength == 0 || loop == nullptr)
        return;
    for (const std::shared_ptr<SliceRenderer>& voice : voices)
        voice->Reset();
    mode = LoopRendererMode::LoopPlayback;
    position = 0;
    reportedPosition = loop->GetSlicePoints().regionStart;
    nextSlice = 0;
    nextVoice = 0;
}

void LoopRenderer::Stop()
{
    mode = LoopRendererMode::Idle;
    position = 0;
}

void LoopRenderer::Render(uint32_t frameCount, float** channels)
{
    switch (mode)
    {
    case LoopRendererMode::Audition:
        voices[0]->Render(frameCount, channels, 0, &reportedPosition);
        if (!voices[0]->IsActive())
            mode = LoopRendererMode::Idle;
        break;
    case LoopRendererMode::LoopPlayback:
        RenderLoopPlayback(frameCount, channels);
        break;
    default:
        break;
    }
}

void LoopRenderer::RenderLoopPlayback(uint32_t frameCount, float** channels)
{
    const std::vector<RenderSlice>& slices = loop->GetRenderSlices();
    const uint32_t count = static_cast<uint32_t>(slices.size());
    // A loop of no length (a zero tempo) has no timeline to walk: it plays silence.
    if (count == 0 || loopLength == 0)
        return;

    uint32_t done = 0;
    while (done < frameCount)
    {
        if (nextSlice >= count)
            nextSlice = 0;

        // Of a run of slices that all sit at output frame 0, only the last one plays.
        const uint32_t maxSteps = count - nextSlice;
        for (uint32_t steps = 0; steps < maxSteps; ++steps)
        {
            if (slices[nextSlice].outputStart != 0)
            {
                if (steps > 0)
                    --nextSlice;
                break;
            }
            if (++nextSlice == count)
                nextSlice = 0;
        }

        // At the top of the loop the next slice starts whatever its output position.
        if (position == slices[nextSlice].outputStart || position == 0)
        {
            voices[nextVoice]->Start(slices[nextSlice]);
            voices[nextVoice]->UpdateRate();
            nextSlice = (nextSlice + 1) % count;
            nextVoice = (nextVoice + 1) % VoiceCount;
        }

        uint32_t untilNext = (slices[nextSlice].outputStart + loopLength - position) % loopLength;
        if (untilNext == 0)
            untilNext = loopLength;
        const uint32_t latest = (nextVoice + VoiceCount - 1) % VoiceCount;
        const uint32_t chunk = std::min(frameCount - done, untilNext);

        for (uint32_t v = 0; v < VoiceCount; ++v)
            if (voices[v]->IsActive())
                voices[v]->Render(chunk, channels, done, v == latest ? &reportedPosition : nullptr);

        done += chunk;
        position = static_cast<uint32_t>((uint64_t{position} + chunk) % loopLength);
    }
}

} // namespace DSP::Marrowlin
