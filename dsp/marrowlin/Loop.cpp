#include "dsp/marrowlin/Loop.h"

#include "dsp/analysis/TransientDetector.h"
#include "dsp/marrowlin/SettingsChunk.h"
#include "dsp/marrowlin/SliceTiming.h"

#include <algorithm>
#include <cmath>

namespace DSP::Marrowlin
{

namespace
{

constexpr float NotPinned = -1.0f;
constexpr size_t InitialSliceCapacity = 200;
constexpr float MarkerStrength = 0.75f;

// Linear map of x from [x0, x1] onto [y0, y1]; a degenerate source range maps to y0.
double Map(double x, double x0, double x1, double y0, double y1)
{
    if (x1 == x0)
    {
        return y0;
    }
    return (x - x0) / (x1 - x0) * (y1 - y0) + y0;
}

// Frames in the loop region; an end at or before the start is an empty region.
uint32_t RegionLength(const SlicePoints& slicePoints)
{
    return slicePoints.regionEnd > slicePoints.regionStart
               ? slicePoints.regionEnd - slicePoints.regionStart
               : 0u;
}

} // namespace

Loop::Loop()
{
    slices.reserve(InitialSliceCapacity);
}

Loop::~Loop() = default;

uint32_t Loop::SourceRate() const
{
    return source != nullptr ? source->sampleRate : 0u;
}

void Loop::SetSource(SourceAudio* newSource, bool analyse)
{
    source = newSource;
    previousSoundEndsValid = false;
    if (!analyse || source == nullptr || !source->IsValid())
    {
        return;
    }
    Initialise();
    Rebuild();
}

void Loop::SetOutputSampleRate(float rate)
{
    // NaN compares unequal to everything, so storing it always counts as a change.
    if (rate == outputSampleRate)
    {
        return;
    }
    outputSampleRate = rate;
    if (source != nullptr)
    {
        Rebuild();
    }
}

void Loop::SetDetectionWindow(float ms)
{
    if (ms == detectionWindowMs)
    {
        return;
    }
    detectionWindowMs = ms;
    // Detection needs audio; without it the window is kept for the next analysis. The slices
    // follow the new points at the next rebuild, not now.
    if (source != nullptr && source->IsValid())
    {
        DetectPoints();
    }
}

void Loop::SetAll(const SlicePoints& newSlicePoints, const MeterSettings& newMeter,
                  const ShapingSettings& newShaping, bool skipUpdate)
{
    slicePoints = newSlicePoints;
    meter = newMeter;
    shaping = newShaping;
    if (!skipUpdate)
    {
        Rebuild();
    }
}

void Loop::SetMeter(const MeterSettings& newMeter)
{
    meter = newMeter;
    Rebuild();
}

void Loop::SetShaping(const ShapingSettings& newShaping)
{
    // Shaping touches neither the cuts nor their placement.
    shaping = newShaping;
    ShapeSlices();
    GateSlices();
}

float Loop::EffectiveSampleRate() const
{
    if (outputSampleRate > 0.0f)
    {
        return outputSampleRate;
    }
    if (source != nullptr)
    {
        return static_cast<float>(source->sampleRate);
    }
    return 44100.0f;
}

double Loop::LoopTempo(uint32_t sampleRate, const SlicePoints& slicePoints,
                       const MeterSettings& meter)
{
    if (meter.fixedTempo.has_value())
    {
        return static_cast<double>(*meter.fixedTempo);
    }
    // 64-bit: the product of two u32 plus a u32 cannot overflow it.
    const uint64_t beats = static_cast<uint64_t>(meter.beatsPerBar) * meter.bars +
                           static_cast<uint64_t>(meter.extraBeats);
    const uint32_t length = RegionLength(slicePoints);
    if (beats == 0 || length == 0 || sampleRate == 0)
    {
        return 0.0;
    }
    const double minutes = (static_cast<double>(length) / static_cast<double>(sampleRate)) / 60.0;
    return static_cast<double>(beats) / minutes;
}

uint32_t Loop::TicksToOutput(float ticks, float tempo) const
{
    if (RegionLength(slicePoints) == 0)
    {
        return 0;
    }
    const float bpm = tempo > 0.0f ? tempo : meter.tempo;
    if (bpm == 0.0f || std::isnan(bpm) || meter.ticksPerBeat == 0)
    {
        return 0;
    }
    const double beats = static_cast<double>(ticks) / static_cast<double>(meter.ticksPerBeat);
    return RoundToFrame(static_cast<double>(EffectiveSampleRate()) * beats /
                        (static_cast<double>(bpm) / 60.0));
}

uint32_t Loop::OutputToSource(uint32_t outputFrame, float tempo) const
{
    const uint32_t length = RegionLength(slicePoints);
    if (length == 0)
    {
        return 0;
    }
    double target = 0.0;
    if (tempo == 0.0f)
    {
        if (outputLength == 0)
        {
            return outputFrame;
        }
        target = outputLength;
    }
    else
    {
        // The length the loop would have at that tempo; no source rate means no such length.
        const uint32_t srcRate = SourceRate();
        if (srcRate != 0)
        {
            const double rateRatio =
                static_cast<double>(EffectiveSampleRate()) / static_cast<double>(srcRate);
            const double tempoRatio =
                LoopTempo(srcRate, slicePoints, meter) / static_cast<double>(tempo);
            target = RoundToFrame(rateRatio * tempoRatio * static_cast<double>(length));
        }
    }
    const double mapped = Map(static_cast<double>(outputFrame), 0.0, target - 1.0, 0.0,
                              static_cast<double>(length) - 1.0);
    return std::min(RoundToFrame(mapped), length - 1);
}

bool Loop::StrengthPasses(float strength) const
{
    const float sensitivity = slicePoints.sensitivity;
    if (!(sensitivity > 0.0f))
    {
        return false;
    }
    const float complement = 1.0f - sensitivity;
    return strength >= complement * complement;
}

bool Loop::IsActive(const SlicePoint& point, bool includeConditional) const
{
    switch (point.kind)
    {
    case Marker:
        if (slicePoints.useMarkers == 0)
        {
            return false;
        }
        break;
    case Detected:
        if (slicePoints.useDetected == 0)
        {
            return false;
        }
        break;
    case User:
        if (slicePoints.useUser == 0)
        {
            return false;
        }
        break;
    default:
        return false;
    }

    if (point.deleted != 0)
    {
        return false;
    }
    if (point.lockedOn != 0)
    {
        return true;
    }
    if (point.forceOff != 0)
    {
        return false;
    }
    if (point.forceOn != 0)
    {
        return true;
    }
    if (point.conditional != 0 && !includeConditional)
    {
        return false;
    }
    return StrengthPasses(point.strength);
}

bool Loop::IsPointActive(uint32_t index, bool includeConditional) const
{
    if (index >= slicePoints.points.size())
    {
        return false;
    }
    return IsActive(slicePoints.points[index], includeConditional);
}

bool Loop::PassesSensitivity(uint32_t index) const
{
    if (index >= slicePoints.points.size())
    {
        return false;
    }
    return StrengthPasses(slicePoints.points[index].strength);
}

void Loop::FindSliceAround(uint32_t frame, uint32_t limit, uint32_t& start, uint32_t& length) const
{
    const uint32_t regionStart = slicePoints.regionStart;
    const uint32_t regionEnd = slicePoints.regionEnd;

    uint32_t lo = 0;
    if (0 < regionStart && regionStart <= frame)
    {
        lo = regionStart;
    }
    if (lo < regionEnd && regionEnd <= frame)
    {
        lo = regionEnd;
    }
    uint32_t hi = limit;
    if (frame < regionStart && regionStart < hi)
    {
        hi = regionStart;
    }
    if (frame < regionEnd && regionEnd < hi)
    {
        hi = regionEnd;
    }

    for (const SlicePoint& point : slicePoints.points)
    {
        const uint32_t position = point.position;
        const bool below = lo < position && position <= frame;
        const bool above = frame < position && position < hi;
        if ((below || above) && IsActive(point, false))
        {
            if (below)
            {
                lo = position;
            }
            else
            {
                hi = position;
            }
        }
    }

    start = lo;
    // A limit below the cut before the frame leaves nothing to play; never wrap around.
    length = hi > lo ? hi - lo : 0u;
}

void Loop::Initialise()
{
    if (!source->savedState.empty() &&
        ReadSettingsChunk(source->savedState, slicePoints, meter, shaping))
    {
        // The restored points stand as saved; no detection.
        return;
    }

    slicePoints.useMarkers = 1;
    slicePoints.useDetected = 1;
    slicePoints.useUser = 1;

    const bool sourceMeter = source->beatsPerBar.value_or(0) != 0 &&
                             source->beatUnit.value_or(0) != 0 &&
                             source->totalBeats.value_or(0) != 0;
    if (sourceMeter)
    {
        const uint32_t beatsPerBar = *source->beatsPerBar;
        meter.bars = *source->totalBeats / beatsPerBar;
        meter.extraBeats = *source->totalBeats % beatsPerBar;
        meter.beatsPerBar = beatsPerBar;
        meter.beatUnit = *source->beatUnit;
    }
    else
    {
        meter.bars = 2;
        meter.extraBeats = 0;
        meter.beatsPerBar = 4;
        meter.beatUnit = 4;
    }

    slicePoints.regionStart = 0;
    slicePoints.regionEnd = source->frameCount;
    // The loop starts unstretched: target tempo = the loop's own tempo.
    meter.tempo = static_cast<float>(LoopTempo(source->sampleRate, slicePoints, meter));

    slicePoints.sensitivity = 0.0f;
    shaping.attackMs = 0.0f;
    shaping.holdMs = 0.0f;
    shaping.decayMs = 0.0f;
    shaping.sustainLevel = 0.0f;
    shaping.tailExtension = 0.0f;
    shaping.tailLoopPosition = 0.5f;
    shaping.tailFromSoundEnd = 1;
    shaping.semitones = 0.0f;
    shaping.cents = 0.0f;
    shaping.gainDb = 0.0f;
    meter.meterFlag = 0;

    DetectPoints();

    for (const uint32_t marker : source->markerPositions)
    {
        if (marker >= source->frameCount)
        {
            continue;
        }
        SlicePoint point;
        point.kind = Marker;
        point.sourcePosition = marker;
        point.position = marker;
        point.forceOn = 1;
        point.strength = MarkerStrength;
        slicePoints.points.push_back(point);
    }

    std::sort(slicePoints.points.begin(), slicePoints.points.end(),
              [](const SlicePoint& a, const SlicePoint& b) { return a.position < b.position; });
}

void Loop::DetectPoints()
{
    slicePoints.points.clear();
    if (source == nullptr || !source->IsValid())
    {
        return;
    }
    std::vector<DSP::DetectedTransient> transients;
    DSP::DetectTransients(source->sampleRate, source->channelCount, source->frameCount,
                          source->channels, transients, detectionWindowMs);
    slicePoints.points.reserve(transients.size());
    for (const DSP::DetectedTransient& transient : transients)
    {
        SlicePoint point;
        point.kind = Detected;
        point.sourcePosition = transient.position;
        point.position = transient.position;
        point.strength = transient.strength;
        slicePoints.points.push_back(point);
    }
}

void Loop::Rebuild()
{
    UpdateStretch();
    UpdateOutputLength();
    BuildSlices();
    PlaceSlices();
    ShapeSlices();
    GateSlices();
}

void Loop::UpdateStretch()
{
    double loopTempo = LoopTempo(SourceRate(), slicePoints, meter);
    if (loopTempo <= 0.0)
    {
        loopTempo = meter.tempo;
    }
    stretchRatio = meter.tempo > 0.0f
                       ? static_cast<float>(loopTempo / static_cast<double>(meter.tempo))
                       : 0.0f;
}

void Loop::UpdateOutputLength()
{
    const uint32_t srcRate = SourceRate();
    if (srcRate == 0)
    {
        outputLength = 0;
        return;
    }
    // Both narrowings to single precision are part of the length's definition: they decide
    // where a half frame rounds.
    const float stretchedLength = static_cast<float>(
        static_cast<double>(RegionLength(slicePoints)) * static_cast<double>(stretchRatio));
    const double rateRatio =
        static_cast<double>(EffectiveSampleRate()) / static_cast<double>(srcRate);
    const float frames = static_cast<float>(rateRatio * static_cast<double>(stretchedLength));
    outputLength = RoundToFrame(frames);
}

void Loop::BuildSlices()
{
    previousSlices.swap(slices);
    if (!previousSoundEndsValid)
        previousSlices.clear();
    previousSoundEndsValid = true;
    previousCursor = 0;
    slices.clear();
    std::vector<SlicePoint>& points = slicePoints.points;

    if (outputLength != 0)
    {
        for (SlicePoint& point : points)
        {
            point.outputPosition =
                point.tickPosition != NotPinned ? TicksToOutput(point.tickPosition, 0.0f) : 0u;
        }
    }

    const uint32_t regionStart = slicePoints.regionStart;
    const uint32_t regionEnd = slicePoints.regionEnd;

    size_t index = 0;
    while (index < points.size() && points[index].position <= regionStart)
    {
        ++index;
    }

    // Each slice takes its placement from the cut that opens it; the first one from point 0,
    // whatever that point is.
    uint32_t cursor = regionStart;
    size_t last = 0;
    for (; index < points.size(); ++index)
    {
        const SlicePoint& point = points[index];
        if (point.position >= regionEnd)
        {
            break;
        }
        // Requiring the cut to lie past the cursor keeps the slices ordered and non-empty even
        // when the points are not sorted.
        if (point.position > cursor && IsActive(point, false))
        {
            const SlicePoint& opener = points[last];
            EmitSlice(cursor, point.position - cursor, opener.outputPosition,
                      opener.tickPosition != NotPinned);
            cursor = point.position;
            last = index;
        }
    }

    // regionEnd > cursor (rather than a difference that is merely non-zero) also covers a
    // region whose end lies before its start.
    if (regionEnd > cursor && last < points.size())
    {
        const SlicePoint& opener = points[last];
        EmitSlice(cursor, regionEnd - cursor, opener.outputPosition,
                  opener.tickPosition != NotPinned);
    }
}

void Loop::EmitSlice(uint32_t start, uint32_t length, uint32_t outputPosition, bool pinned)
{
    RenderSlice slice;
    slice.sourceStart = start;
    slice.sourceLength = length;
    slice.soundEnd = SoundEnd(start, length);
    if (outputPosition != 0 || pinned)
    {
        slice.outputStart = outputPosition;
        slice.pinned = 1;
    }
    slices.push_back(slice);
}

uint32_t Loop::SoundEnd(uint32_t start, uint32_t length)
{
    // Both lists are ordered by start, so one forward cursor finds the earlier twin.
    while (previousCursor < previousSlices.size() &&
           previousSlices[previousCursor].sourceStart < start)
        ++previousCursor;
    if (previousCursor < previousSlices.size() &&
        previousSlices[previousCursor].sourceStart == start &&
        previousSlices[previousCursor].sourceLength == length)
        return previousSlices[previousCursor].soundEnd;
    return source != nullptr ? FindSoundEnd(start, length, *source) : start;
}

void Loop::PlaceSlices()
{
    const uint32_t length = RegionLength(slicePoints);
    if (outputLength == 0 || length == 0)
    {
        return;
    }
    const uint32_t regionStart = slicePoints.regionStart;
    const uint32_t regionEnd = slicePoints.regionEnd;
    const uint32_t lastOutputFrame = outputLength - 1;
    for (RenderSlice& slice : slices)
    {
        if (slice.pinned != 0 || slice.sourceStart < regionStart || slice.sourceStart >= regionEnd)
        {
            continue;
        }
        const double relative = static_cast<double>(slice.sourceStart - regionStart);
        const double mapped = Map(relative, 0.0, static_cast<double>(length) - 1.0, 0.0,
                                  static_cast<double>(lastOutputFrame));
        slice.outputStart = std::min(RoundToFrame(mapped), lastOutputFrame);
    }
}

void Loop::ShapeSlices()
{
    const double outRate = EffectiveSampleRate();
    const double srcRate = SourceRate();

    const uint32_t ampAttack =
        RoundToFrame(outRate * static_cast<double>(shaping.attackMs) / 1000.0);
    const uint32_t ampHold = RoundToFrame(outRate * static_cast<double>(shaping.holdMs) / 1000.0);
    const uint32_t ampDecay = RoundToFrame(outRate * static_cast<double>(shaping.decayMs) / 1000.0);

    const double transposition =
        static_cast<double>(shaping.semitones) + static_cast<double>(shaping.cents) / 100.0;
    const double rateRatio = outRate > 0.0 ? srcRate / outRate : 0.0;
    const double initialRate = rateRatio * std::pow(2.0, transposition / 12.0);

    // 5 ms of source frames with the single-precision 0.005: at 44.1 kHz that is 220.499995,
    // which rounds to 220.
    const uint32_t tailCrossfade = RoundToFrame(srcRate * static_cast<double>(0.005f));

    const float loopPosition = shaping.tailLoopPosition;
    for (RenderSlice& slice : slices)
    {
        slice.ampAttack = ampAttack;
        slice.ampHold = ampHold;
        slice.ampDecay = ampDecay;
        slice.ampSustain = shaping.sustainLevel;
        slice.initialRate = initialRate;
        if (shaping.tailFromSoundEnd != 0)
        {
            slice.tailLoopStart =
                slice.soundEnd > slice.sourceStart ? slice.soundEnd - slice.sourceStart : 0u;
        }
        else
        {
            // Position 0 puts the tail loop at the slice end, 1 at its start; single precision.
            const float sliceLength = static_cast<float>(slice.sourceLength);
            slice.tailLoopStart = RoundToFrame(sliceLength - loopPosition * sliceLength);
        }
        slice.tailCrossfade = tailCrossfade;
    }
}

void Loop::GateSlices()
{
    const float outRate = EffectiveSampleRate();
    const float srcRate = static_cast<float>(SourceRate());
    // Output frames per source frame; pinned slices compare their output and source positions.
    const double rateScale =
        srcRate > 0.0f ? static_cast<double>(outRate) / static_cast<double>(srcRate) : 1.0;
    const double transposition =
        static_cast<double>(shaping.semitones) + static_cast<double>(shaping.cents) / 100.0;

    const size_t count = slices.size();
    for (size_t index = 0; index < count; ++index)
    {
        RenderSlice& slice = slices[index];
        std::optional<double> stretch;
        if (slice.pinned == 0)
        {
            stretch = static_cast<double>(stretchRatio);
        }
        else if (slice.outputStart == 0 && slice.sourceStart == 0)
        {
            // A slice pinned at the very start has no ratio of its own; it borrows the next
            // slice's, whose sourceStart lies after it and so is not 0.
            if (index + 1 == count)
            {
                stretch = 1.0;
            }
            else
            {
                const RenderSlice& next = slices[index + 1];
                stretch = static_cast<double>(next.outputStart) /
                          static_cast<double>(next.sourceStart) / rateScale;
            }
        }
        else if (slice.sourceStart != 0)
        {
            stretch = static_cast<double>(slice.outputStart) /
                      static_cast<double>(slice.sourceStart) / rateScale;
        }

        const GateLengths gate =
            ComputeGate(transposition, slice.sourceLength, srcRate, outRate, stretch,
                        static_cast<double>(shaping.tailExtension), false);
        slice.gateAttack = gate.attack;
        slice.gateHold = gate.hold;
        slice.gateRelease = gate.release;
    }
}

} // namespace DSP::Marrowlin
