#pragma once

#include "Util/Lock.h"
#include "dsp/marrowlin/MarrowlinSDK.h"
#include "dsp/marrowlin/MeterSettings.h"
#include "dsp/marrowlin/ShapingSettings.h"
#include "dsp/marrowlin/SlicePoints.h"
#include "dsp/marrowlin/SourceAudio.h"
#include "engine/KelvoraEngine.h"

#include <memory>

namespace VoKelvora
{

// The engine behind the public interface. The Loop's settings blocks are authoritative: every
// setter refreshes the engine's working copy from the Loop, changes it and pushes the whole block
// back, which rebuilds the playback plan and resynchronises playback. Getters read the Loop.
// Every call other than a plain getter runs under a Util::DenormalGuard: denormal audio costs
// the analysis and Render nothing extra and never reaches the output, the host's floating-point
// mode is back on return, and the same arguments give the same plan whichever call rebuilt it.
class KelvoraImpl final : public KelvoraEngine
{
public:
    KelvoraImpl(uint32_t channelCount, uint32_t sampleRate, uint32_t outputSampleRate);
    ~KelvoraImpl() override;

    KelvoraImpl(const KelvoraImpl&) = delete;
    KelvoraImpl& operator=(const KelvoraImpl&) = delete;

    void SetLoop(uint32_t frameCount, uint32_t channelCount, float** channels, float tempo,
                 const SliceInfo* slices, uint32_t sliceCount) override;
    void SetOutputSampleRate(uint32_t rate) override;
    double GetOutputSampleRate() override;
    void SetSampleRate(uint32_t rate) override;
    double GetSampleRate() override;
    float GetSensitivity() override;
    void SetSensitivity(float sensitivity) override;
    float GetDetectionWindow() override;
    void SetDetectionWindow(float ms) override;
    float GetLoopTempo() override;
    void SetLoopTempo(float bpm) override;
    float GetTempo() override;
    void SetTempo(float bpm) override;
    uint32_t GetTicksPerBeat() override;
    void SetTicksPerBeat(uint32_t ticks) override;
    void GetMeter(MeterLayout* out) override;
    void SetMeter(const MeterLayout* in) override;
    float GetFineTune() override;
    void SetFineTune(float cents) override;
    float GetTranspose() override;
    void SetTranspose(float semitones) override;
    float GetTailExtension() override;
    void SetTailExtension(float amount) override;
    bool GetTailFromSoundEnd() override;
    void SetTailFromSoundEnd(bool enabled) override;
    float GetTailLoopPosition() override;
    void SetTailLoopPosition(float position) override;
    float GetGain() override;
    void SetGain(float db) override;
    void GetEnvelope(EnvelopeSettings* out) override;
    void SetEnvelope(const EnvelopeSettings* in) override;
    uint32_t GetSliceCount() override;
    void GetSlices(SliceInfo* out) override;
    void GetSlice(uint32_t index, SliceInfo* out) override;
    bool SetSlice(uint32_t index, const SliceInfo* in) override;
    void GetSliceRegion(uint32_t position, uint32_t* start, uint32_t* length) override;
    bool AddSlice(uint32_t position) override;
    bool DisableSlice(uint32_t index) override;
    bool Transport(uint32_t command, uint32_t sliceIndex) override;
    uint32_t GetPlayPosition() override;
    uint32_t GetRenderedLength() override;
    uint32_t OutputToSourcePosition(uint32_t position, float bpm) override;
    uint32_t TicksToSamples(float ticks, float bpm) override;
    void Render(uint32_t frameCount, float** outputs) override;

private:
    void SyncPoints();
    void SyncMeter();
    void SyncShaping();
    void SyncAll();
    void PushAll();
    void PushMeter();
    void PushShaping();
    void ImportSlices(const SliceInfo* slices, uint32_t sliceCount, float tempo);
    SliceInfo DescribePoint(uint32_t index) const;
    const DSP::Marrowlin::Loop& TheLoop() const { return sdk->GetLoop(); }

    std::unique_ptr<Util::Lock> lock;
    uint32_t sampleRate;
    uint32_t outputSampleRate;
    std::unique_ptr<DSP::Marrowlin::MarrowlinSDK> sdk;
    std::unique_ptr<DSP::Marrowlin::SourceAudio> source;
    std::unique_ptr<DSP::Marrowlin::MeterSettings> meter;
    std::unique_ptr<DSP::Marrowlin::SlicePoints> points;
    std::unique_ptr<DSP::Marrowlin::ShapingSettings> shaping;
};

} // namespace VoKelvora
