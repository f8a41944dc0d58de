#pragma once

#include "dsp/marrowlin/Loop.h"
#include "dsp/marrowlin/LoopRenderer.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace DSP::Marrowlin
{

// The root DSP object: keeps the Loop and its LoopRenderer consistent. Every change that reaches
// the Loop is followed by a resynchronisation of the renderer, and every render call clears the
// output channels before the renderer adds into them.
class MarrowlinSDK
{
public:
    MarrowlinSDK();
    virtual ~MarrowlinSDK();
    virtual void Unused() {}

    MarrowlinSDK(const MarrowlinSDK&) = delete;
    MarrowlinSDK& operator=(const MarrowlinSDK&) = delete;

    void SetSource(SourceAudio* source, bool analyse);
    void SetOutputSampleRate(float rate);
    void SetDetectionWindow(float ms);
    float GetDetectionWindow() const;

    const SlicePoints& GetSlicePoints() const;
    const MeterSettings& GetMeterSettings() const;
    const ShapingSettings& GetShapingSettings() const;

    void SetAll(const SlicePoints& slicePoints, const MeterSettings& meter,
                const ShapingSettings& shaping, bool skipUpdate);
    void SetMeter(const MeterSettings& meter);
    void SetShaping(const ShapingSettings& shaping);

    std::optional<uint32_t> GetPlayPosition() const;
    void AuditionSlice(uint32_t start, uint32_t length);
    void PlayLoop();
    void Stop();
    void Render(uint32_t frameCount, float** outputs);

    const Loop& GetLoop() const { return *loop; }
    const LoopRenderer& GetRenderer() const { return *renderer; }

private:
    // Declared in this order so that the renderer, which refers to the loop, is destroyed first.
    std::unique_ptr<Loop> loop;
    std::unique_ptr<LoopRenderer> renderer;
};

} // namespace DSP::Marrowlin
