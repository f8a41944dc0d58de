#include "engine/KelvoraImpl.h"

#include "Util/DenormalGuard.h"
#include "dsp/foundation/Decibels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace VoKelvora
{

using DSP::Marrowlin::MarrowlinSDK;
using DSP::Marrowlin::MeterSettings;
using DSP::Marrowlin::ShapingSettings;
using DSP::Marrowlin::SlicePoint;
using DSP::Marrowlin::SlicePoints;
using DSP::Marrowlin::SourceAudio;

namespace
{

// 20 log10(x) written through log2, as the sustain level is read back.
constexpr double kDecibelsPerOctaveOfLevel = 6.0206;
constexpr float kSilentSustainDb = -80.0f;
constexpr float kSilenceReportDb = -400.0f;

void ResetMeterLayout(MeterSettings& meter)
{
    meter.bars = 2;
    meter.extraBeats = 0;
    meter.beatsPerBar = 4;
    meter.beatUnit = 4;
    meter.meterFlag = 0;
}

// True when a float's sign is clear and its biased exponent is at least 64, i.e. the level is at
// least 2^-63: below that (zero included) the level counts as silence.
bool IsAudibleLevel(float level)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &level, sizeof bits);
    return (bits >> 31) == 0 && ((bits >> 23) & 0xFFu) >= 64;
}

} // namespace

KelvoraImpl::KelvoraImpl(uint32_t /*channelCount*/, uint32_t sampleRateIn,
                         uint32_t outputSampleRateIn)
    : lock(std::make_unique<Util::Lock>(Util::SharedString("KelvoraImpl::KelvoraImpl"))),
      sampleRate(sampleRateIn),
      outputSampleRate(outputSampleRateIn != 0 ? outputSampleRateIn : sampleRateIn)
{
    source = std::make_unique<SourceAudio>();
    meter = std::make_unique<MeterSettings>();
    points = std::make_unique<SlicePoints>();
    shaping = std::make_unique<ShapingSettings>();
    sdk = std::make_unique<MarrowlinSDK>();
    // 0 is passed through: the Loop then renders at the source rate.
    sdk->SetOutputSampleRate(static_cast<float>(outputSampleRateIn));
}

KelvoraImpl::~KelvoraImpl()
{
    shaping.reset();
    points.reset();
    meter.reset();
    source.reset();
    sdk.reset();
    lock.reset();
}

// Working copies -------------------------------------------------------------------------------

void KelvoraImpl::SyncPoints()
{
    *points = TheLoop().GetSlicePoints();
}

void KelvoraImpl::SyncMeter()
{
    // fixedTempo and ticksPerBeat are owned by the engine's copy and pushed with it.
    const MeterSettings& current = TheLoop().GetMeterSettings();
    meter->bars = current.bars;
    meter->extraBeats = current.extraBeats;
    meter->beatsPerBar = current.beatsPerBar;
    meter->beatUnit = current.beatUnit;
    meter->tempo = current.tempo;
    meter->meterFlag = current.meterFlag;
}

void KelvoraImpl::SyncShaping()
{
    *shaping = TheLoop().GetShapingSettings();
}

void KelvoraImpl::SyncAll()
{
    SyncShaping();
    SyncPoints();
    SyncMeter();
}

void KelvoraImpl::PushAll()
{
    sdk->SetAll(*points, *meter, *shaping, false);
}

void KelvoraImpl::PushMeter()
{
    sdk->SetMeter(*meter);
}

void KelvoraImpl::PushShaping()
{
    sdk->SetShaping(*shaping);
}

// Source -----------------------------------------------------------------------------------------

void KelvoraImpl::SetLoop(uint32_t frameCount, uint32_t channelCount, float** channels, float tempo,
                          const SliceInfo* slices, uint32_t sliceCount)
{
    const Util::DenormalGuard flushDenormals;
    source->sampleRate = sampleRate;
    source->channelCount = channelCount;
    source->frameCount = frameCount;
    source->channels = channels;
    source->markerPositions.clear();
    source->savedState.clear();
    source->beatsPerBar.reset();
    source->beatUnit.reset();
    source->totalBeats.reset();

    if (slices != nullptr && sliceCount > 0)
    {
        sdk->SetSource(source.get(), false);
        ImportSlices(slices, sliceCount, tempo);
    }
    else
    {
        sdk->SetSource(source.get(), true);
    }
}

void KelvoraImpl::ImportSlices(const SliceInfo* slices, uint32_t sliceCount, float tempo)
{
    // Empty the loop region first, so that the tick conversions below see an empty loop and the
    // host's positions stand until the Loop derives them again from the tick positions.
    *shaping = ShapingSettings();
    SyncMeter();
    ResetMeterLayout(*meter);
    points->sensitivity = 0.0f;
    points->regionStart = 0;
    points->regionEnd = 0;
    points->points.clear();
    points->useMarkers = points->useDetected = points->useUser = 1;
    PushAll();

    points->regionEnd = source->frameCount;
    points->points.reserve(sliceCount);
    for (uint32_t i = 0; i < sliceCount; ++i)
    {
        const SliceInfo& info = slices[i];
        SlicePoint point;
        point.kind = DSP::Marrowlin::User;
        point.sourcePosition = info.sourcePosition;
        point.lockedOn = info.lockedOn ? 1 : 0;
        point.deleted = info.deleted ? 1 : 0;
        point.tickPosition = info.tickPosition;
        point.strength = info.strength;
        if (info.tickPosition == -1.0f)
        {
            point.outputPosition = 0;
            point.position = info.position;
        }
        else
        {
            point.outputPosition = TicksToSamples(info.tickPosition, 0.0f);
            point.position = point.outputPosition != 0
                                 ? OutputToSourcePosition(point.outputPosition, 0.0f)
                                 : info.position;
        }
        points->points.push_back(point);
    }

    SyncMeter();
    ResetMeterLayout(*meter);
    if (tempo > 0.0f)
        meter->fixedTempo = tempo;
    else
        meter->fixedTempo.reset();
    // The loop starts unstretched: the target tempo is the loop's own.
    meter->tempo =
        static_cast<float>(DSP::Marrowlin::Loop::LoopTempo(source->sampleRate, *points, *meter));
    PushAll();
}

// Sample rates -----------------------------------------------------------------------------------

void KelvoraImpl::SetOutputSampleRate(uint32_t rate)
{
    const Util::DenormalGuard flushDenormals;
    sdk->SetOutputSampleRate(static_cast<float>(rate));
}

double KelvoraImpl::GetOutputSampleRate()
{
    return static_cast<double>(outputSampleRate);
}

void KelvoraImpl::SetSampleRate(uint32_t rate)
{
    if (rate == sampleRate)
        return;
    // An output rate that followed the source rate is pinned where it is.
    if (outputSampleRate == sampleRate)
        SetOutputSampleRate(sampleRate);
    sampleRate = rate;
}

double KelvoraImpl::GetSampleRate()
{
    return static_cast<double>(sampleRate);
}

// Slice points -----------------------------------------------------------------------------------

float KelvoraImpl::GetSensitivity()
{
    return TheLoop().GetSlicePoints().sensitivity;
}

void KelvoraImpl::SetSensitivity(float sensitivity)
{
    const Util::DenormalGuard flushDenormals;
    SyncPoints();
    SyncMeter();
    SyncShaping();
    points->sensitivity = sensitivity;
    PushAll();
}

float KelvoraImpl::GetDetectionWindow()
{
    return sdk->GetDetectionWindow();
}

void KelvoraImpl::SetDetectionWindow(float ms)
{
    const Util::DenormalGuard flushDenormals;
    sdk->SetDetectionWindow(ms);
}

// Meter and tempo --------------------------------------------------------------------------------

float KelvoraImpl::GetLoopTempo()
{
    return static_cast<float>(DSP::Marrowlin::Loop::LoopTempo(
        sampleRate, TheLoop().GetSlicePoints(), TheLoop().GetMeterSettings()));
}

void KelvoraImpl::SetLoopTempo(float bpm)
{
    const Util::DenormalGuard flushDenormals;
    SyncMeter();
    if (bpm > 0.0f)
        meter->fixedTempo = bpm;
    else
        meter->fixedTempo.reset();
    PushMeter();
}

float KelvoraImpl::GetTempo()
{
    return TheLoop().GetMeterSettings().tempo;
}

void KelvoraImpl::SetTempo(float bpm)
{
    const Util::DenormalGuard flushDenormals;
    SyncMeter();
    meter->tempo = bpm;
    PushMeter();
}

uint32_t KelvoraImpl::GetTicksPerBeat()
{
    return TheLoop().GetMeterSettings().ticksPerBeat;
}

void KelvoraImpl::SetTicksPerBeat(uint32_t ticks)
{
    const Util::DenormalGuard flushDenormals;
    SyncMeter();
    meter->ticksPerBeat = ticks;
    PushMeter();
}

void KelvoraImpl::GetMeter(MeterLayout* out)
{
    if (!out)
        return;
    const MeterSettings& current = TheLoop().GetMeterSettings();
    out->bars = current.bars;
    out->extraBeats = current.extraBeats;
    out->beatsPerBar = current.beatsPerBar;
    out->beatUnit = current.beatUnit;
}

void KelvoraImpl::SetMeter(const MeterLayout* in)
{
    const Util::DenormalGuard flushDenormals;
    if (!in)
        return;
    SyncMeter();
    meter->bars = in->bars;
    meter->extraBeats = in->extraBeats;
    meter->beatsPerBar = in->beatsPerBar;
    meter->beatUnit = in->beatUnit;
    PushMeter();
}

// Shaping ----------------------------------------------------------------------------------------

float KelvoraImpl::GetFineTune()
{
    return TheLoop().GetShapingSettings().cents;
}

void KelvoraImpl::SetFineTune(float cents)
{
    const Util::DenormalGuard flushDenormals;
    SyncShaping();
    shaping->cents = cents;
    PushShaping();
}

float KelvoraImpl::GetTranspose()
{
    return TheLoop().GetShapingSettings().semitones;
}

void KelvoraImpl::SetTranspose(float semitones)
{
    const Util::DenormalGuard flushDenormals;
    SyncShaping();
    shaping->semitones = semitones;
    PushShaping();
}

float KelvoraImpl::GetTailExtension()
{
    return TheLoop().GetShapingSettings().tailExtension;
}

void KelvoraImpl::SetTailExtension(float amount)
{
    const Util::DenormalGuard flushDenormals;
    SyncShaping();
    shaping->tailExtension = amount;
    PushShaping();
}

bool KelvoraImpl::GetTailFromSoundEnd()
{
    return TheLoop().GetShapingSettings().tailFromSoundEnd != 0;
}

void KelvoraImpl::SetTailFromSoundEnd(bool enabled)
{
    const Util::DenormalGuard flushDenormals;
    SyncShaping();
    shaping->tailFromSoundEnd = enabled ? 1 : 0;
    PushShaping();
}

float KelvoraImpl::GetTailLoopPosition()
{
    return TheLoop().GetShapingSettings().tailLoopPosition;
}

void KelvoraImpl::SetTailLoopPosition(float position)
{
    const Util::DenormalGuard flushDenormals;
    SyncShaping();
    shaping->tailLoopPosition = position;
    PushShaping();
}

float KelvoraImpl::GetGain()
{
    return TheLoop().GetShapingSettings().gainDb;
}

void KelvoraImpl::SetGain(float db)
{
    const Util::DenormalGuard flushDenormals;
    SyncShaping();
    shaping->gainDb = db;
    PushShaping();
}

void KelvoraImpl::GetEnvelope(EnvelopeSettings* out)
{
    if (!out)
        return;
    const ShapingSettings& current = TheLoop().GetShapingSettings();
    out->attackMs = current.attackMs;
    out->holdMs = current.holdMs;
    out->decayMs = current.decayMs;
    out->sustainDb =
        IsAudibleLevel(current.sustainLevel)
            ? static_cast<float>(kDecibelsPerOctaveOfLevel * std::log2(current.sustainLevel))
            : kSilenceReportDb;
}

void KelvoraImpl::SetEnvelope(const EnvelopeSettings* in)
{
    const Util::DenormalGuard flushDenormals;
    if (!in)
        return;
    SyncShaping();
    shaping->attackMs = in->attackMs;
    shaping->holdMs = in->holdMs;
    shaping->decayMs = in->decayMs;
    shaping->sustainLevel =
        in->sustainDb > kSilentSustainDb ? DSP::DecibelsToLevel(in->sustainDb) : 0.0f;
    PushShaping();
}

// Slice list -------------------------------------------------------------------------------------

uint32_t KelvoraImpl::GetSliceCount()
{
    SyncPoints();
    return static_cast<uint32_t>(points->points.size());
}

SliceInfo KelvoraImpl::DescribePoint(uint32_t index) const
{
    const SlicePoint& point = TheLoop().GetSlicePoints().points[index];
    SliceInfo info;
    info.sourcePosition = point.sourcePosition;
    info.position = point.position;
    info.tickPosition = point.tickPosition;
    info.strength = point.strength;
    info.lockedOn = point.lockedOn != 0;
    info.deleted = point.deleted != 0;
    info.aboveThreshold = TheLoop().PassesSensitivity(index);
    info.detected = point.kind == DSP::Marrowlin::Detected;
    return info;
}

void KelvoraImpl::GetSlices(SliceInfo* out)
{
    if (!out)
        return;
    const uint32_t count = static_cast<uint32_t>(TheLoop().GetSlicePoints().points.size());
    for (uint32_t i = 0; i < count; ++i)
        out[i] = DescribePoint(i);
}

void KelvoraImpl::GetSlice(uint32_t index, SliceInfo* out)
{
    if (!out || index >= TheLoop().GetSlicePoints().points.size())
        return;
    *out = DescribePoint(index);
}

bool KelvoraImpl::SetSlice(uint32_t index, const SliceInfo* in)
{
    const Util::DenormalGuard flushDenormals;
    SyncAll();
    if (index >= points->points.size() || !in)
        return false;
    SlicePoint& point = points->points[index];
    point.kind = DSP::Marrowlin::User;
    point.lockedOn = in->lockedOn ? 1 : 0;
    point.deleted = in->deleted ? 1 : 0;
    point.position = in->position;
    point.outputPosition = TheLoop().TicksToOutput(in->tickPosition, 0.0f);
    point.tickPosition = in->tickPosition;
    point.strength = in->strength;
    PushAll();
    return true;
}

void KelvoraImpl::GetSliceRegion(uint32_t position, uint32_t* start, uint32_t* length)
{
    const SlicePoints& current = TheLoop().GetSlicePoints();
    uint32_t regionStart = 0;
    uint32_t regionLength = 0;
    TheLoop().FindSliceAround(position, current.regionEnd - current.regionStart, regionStart,
                              regionLength);
    if (start)
        *start = regionStart;
    if (length)
        *length = regionLength;
}

bool KelvoraImpl::AddSlice(uint32_t position)
{
    const Util::DenormalGuard flushDenormals;
    SyncAll();
    if (position > points->regionEnd)
        return false;
    SlicePoint point;
    point.kind = DSP::Marrowlin::User;
    point.sourcePosition = position;
    point.position = position;
    point.outputPosition = 0;
    point.tickPosition = -1.0f;
    point.forceOn = 1;
    point.strength = 1.0f;
    points->points.push_back(point);
    std::stable_sort(points->points.begin(), points->points.end(),
                     [](const SlicePoint& a, const SlicePoint& b)
                     { return a.position < b.position; });
    PushAll();
    return true;
}

bool KelvoraImpl::DisableSlice(uint32_t index)
{
    const Util::DenormalGuard flushDenormals;
    SyncAll();
    if (index >= points->points.size())
        return false;
    points->points[index].forceOff = 1;
    PushAll();
    return true;
}

// Playback ---------------------------------------------------------------------------------------

bool KelvoraImpl::Transport(uint32_t command, uint32_t sliceIndex)
{
    const Util::DenormalGuard flushDenormals;
    switch (command)
    {
    case 0:
        sdk->PlayLoop();
        return true;
    case 1:
        sdk->Stop();
        return true;
    case 2:
    {
        const SlicePoints& current = TheLoop().GetSlicePoints();
        if (sliceIndex >= current.points.size())
            return false;
        uint32_t start = 0;
        uint32_t length = 0;
        TheLoop().FindSliceAround(current.points[sliceIndex].position,
                                  current.regionEnd - current.regionStart, start, length);
        sdk->AuditionSlice(start, length);
        return true;
    }
    default:
        return false;
    }
}

uint32_t KelvoraImpl::GetPlayPosition()
{
    return sdk->GetPlayPosition().value_or(0);
}

uint32_t KelvoraImpl::GetRenderedLength()
{
    return TheLoop().GetOutputLength();
}

uint32_t KelvoraImpl::OutputToSourcePosition(uint32_t position, float bpm)
{
    const Util::DenormalGuard flushDenormals;
    return TheLoop().OutputToSource(position, bpm);
}

uint32_t KelvoraImpl::TicksToSamples(float ticks, float bpm)
{
    const Util::DenormalGuard flushDenormals;
    return TheLoop().TicksToOutput(ticks, bpm);
}

void KelvoraImpl::Render(uint32_t frameCount, float** outputs)
{
    const Util::DenormalGuard flushDenormals;
    sdk->Render(frameCount, outputs);
}

} // namespace VoKelvora
