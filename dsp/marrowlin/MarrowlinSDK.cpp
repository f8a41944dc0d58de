#include "dsp/marrowlin/MarrowlinSDK.h"

#include "dsp/foundation/VectorOps.h"

namespace DSP::Marrowlin
{

MarrowlinSDK::MarrowlinSDK()
    : loop(std::make_unique<Loop>()), renderer(std::make_unique<LoopRenderer>(loop.get()))
{
}

MarrowlinSDK::~MarrowlinSDK()
{
    renderer.reset();
    loop.reset();
}

void MarrowlinSDK::SetSource(SourceAudio* source, bool analyse)
{
    loop->SetSource(source, analyse);
    renderer->SetSource(source);
}

void MarrowlinSDK::SetOutputSampleRate(float rate)
{
    loop->SetOutputSampleRate(rate);
    renderer->Resync();
}

void MarrowlinSDK::SetDetectionWindow(float ms)
{
    loop->SetDetectionWindow(ms);
    renderer->Resync();
}

float MarrowlinSDK::GetDetectionWindow() const
{
    return loop->GetDetectionWindow();
}

const SlicePoints& MarrowlinSDK::GetSlicePoints() const
{
    return loop->GetSlicePoints();
}

const MeterSettings& MarrowlinSDK::GetMeterSettings() const
{
    return loop->GetMeterSettings();
}

const ShapingSettings& MarrowlinSDK::GetShapingSettings() const
{
    return loop->GetShapingSettings();
}

void MarrowlinSDK::SetAll(const SlicePoints& slicePoints, const MeterSettings& meter,
                          const ShapingSettings& shaping, bool skipUpdate)
{
    loop->SetAll(slicePoints, meter, shaping, skipUpdate);
    renderer->Resync();
}

void MarrowlinSDK::SetMeter(const MeterSettings& meter)
{
    loop->SetMeter(meter);
    renderer->Resync();
}

void MarrowlinSDK::SetShaping(const ShapingSettings& shaping)
{
    loop->SetShaping(shaping);
    renderer->Resync();
}

std::optional<uint32_t> MarrowlinSDK::GetPlayPosition() const
{
    return renderer->GetPlayPosition();
}

void MarrowlinSDK::AuditionSlice(uint32_t start, uint32_t length)
{
    renderer->AuditionSlice(start, length);
}

void MarrowlinSDK::PlayLoop()
{
    renderer->PlayLoop();
}

void MarrowlinSDK::Stop()
{
    renderer->Stop();
}

void MarrowlinSDK::Render(uint32_t frameCount, float** outputs)
{
    const SourceAudio* source = loop->GetSource();
    if (!source || !outputs)
        return;
    if (frameCount != 0)
        for (uint32_t channel = 0; channel < source->channelCount; ++channel)
            VectorOps::ZeroFloats(frameCount, outputs[channel]);
    renderer->Render(frameCount, outputs);
}

} // namespace DSP::Marrowlin
