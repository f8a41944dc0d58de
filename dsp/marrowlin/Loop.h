#pragma once

#include "dsp/marrowlin/MeterSettings.h"
#include "dsp/marrowlin/RenderSlice.h"
#include "dsp/marrowlin/ShapingSettings.h"
#include "dsp/marrowlin/SlicePoints.h"
#include "dsp/marrowlin/SourceAudio.h"

#include <cstdint>
#include <vector>

namespace DSP::Marrowlin
{

// The analysed loop: its slice points, meter and shaping settings, and the playback plan
// (one RenderSlice per run of audio between two active cuts) derived from them.
class Loop
{
public:
    Loop();
    virtual ~Loop();

    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;

    // Settings and source.
    void SetSource(SourceAudio* source, bool analyse);
    void SetOutputSampleRate(float rate);
    void SetDetectionWindow(float ms);
    void SetAll(const SlicePoints& slicePoints, const MeterSettings& meter,
                const ShapingSettings& shaping, bool skipUpdate);
    void SetMeter(const MeterSettings& meter);
    void SetShaping(const ShapingSettings& shaping);

    const SlicePoints& GetSlicePoints() const { return slicePoints; }
    const MeterSettings& GetMeterSettings() const { return meter; }
    const ShapingSettings& GetShapingSettings() const { return shaping; }
    float GetDetectionWindow() const { return detectionWindowMs; }
    float GetOutputSampleRate() const { return outputSampleRate; }
    SourceAudio* GetSource() const { return source; }
    const std::vector<RenderSlice>& GetRenderSlices() const { return slices; }
    uint32_t GetOutputLength() const { return outputLength; }
    float GetStretchRatio() const { return stretchRatio; }

    // outputSampleRate when above 0, else the source's rate when a source is set, else 44100.
    float EffectiveSampleRate() const;

    // Queries.
    static double LoopTempo(uint32_t sampleRate, const SlicePoints& slicePoints,
                            const MeterSettings& meter);
    uint32_t TicksToOutput(float ticks, float tempo) const;
    uint32_t OutputToSource(uint32_t outputFrame, float tempo) const;
    bool IsPointActive(uint32_t index, bool includeConditional) const;
    bool PassesSensitivity(uint32_t index) const;
    void FindSliceAround(uint32_t frame, uint32_t limit, uint32_t& start, uint32_t& length) const;

private:
    uint32_t SourceRate() const; // 0 without a source
    bool IsActive(const SlicePoint& point, bool includeConditional) const;
    bool StrengthPasses(float strength) const;
    void Initialise();
    void DetectPoints();
    void Rebuild(); // stretch, output length, slices, placement, shaping and gates
    void UpdateStretch();
    void UpdateOutputLength();
    void BuildSlices();
    void EmitSlice(uint32_t start, uint32_t length, uint32_t outputPosition, bool pinned);
    uint32_t SoundEnd(uint32_t start, uint32_t length);
    void PlaceSlices();
    void ShapeSlices();
    void GateSlices();

    SourceAudio* source = nullptr;
    float outputSampleRate = 0.0f;
    float detectionWindowMs = 75.0f;
    SlicePoints slicePoints;
    MeterSettings meter;
    ShapingSettings shaping;
    std::vector<RenderSlice> slices;
    // The slices of the build before, whose sound ends a rebuild takes over for the slices it
    // cuts the same way (a tempo or meter change cuts every slice the same way); the search
    // through the audio is most of a rebuild's cost. Invalid once the source changes.
    std::vector<RenderSlice> previousSlices;
    size_t previousCursor = 0;
    bool previousSoundEndsValid = false;
    float stretchRatio = 0.0f;
    uint32_t outputLength = 0;
};

} // namespace DSP::Marrowlin
