#include "dsp/marrowlin/LoopRenderer.h"

#include "dsp/marrowlin/Loop.h"

// Placeholder until the voices land: keeps the transport state and renders silence.
namespace DSP::Marrowlin
{

LoopRenderer::LoopRenderer(Loop* loopIn) : loop(loopIn) {}

LoopRenderer::~LoopRenderer() = default;

void LoopRenderer::SetSource(SourceAudio* sourceIn)
{
    mode = LoopRendererMode::Idle;
    source = sourceIn;
    if (source)
        Resync();
}

void LoopRenderer::Resync()
{
    if (mode == LoopRendererMode::Audition || loop->GetRenderSlices().empty())
    {
        mode = LoopRendererMode::Idle;
        return;
    }
    loopLength = loop->GetOutputLength();
}

std::optional<uint32_t> LoopRenderer::GetPlayPosition() const
{
    if (mode == LoopRendererMode::Idle)
        return std::nullopt;
    return reportedPosition;
}

void LoopRenderer::AuditionSlice(uint32_t, uint32_t)
{
    position = 0;
}

void LoopRenderer::PlayLoop()
{
    if (loopLength == 0)
        return;
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

void LoopRenderer::Render(uint32_t, float**) {}

void LoopRenderer::RenderLoopPlayback(uint32_t, float**) {}

} // namespace DSP::Marrowlin
