#include "tools/kelvora/EngineSession.h"

#include "tools/kelvora/AudioFile.h"
#include "tools/kelvora/LoopMeterEstimator.h"
#include "tools/kelvora/NumberText.h"
#include "tools/kelvora/SliceList.h"
#include "tools/kelvora/ToolError.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace KelvoraCli
{

namespace
{

// A first slice shorter than this is a sliver before the first hit (a detected point that landed
// a few frames in), not a sound of its own.
constexpr double SliverMs = 5.0;
// How far a cut may move to reach a zero crossing.
constexpr double SnapWindowMs = 2.0;
// Grid cells shorter than this would cut the loop into clicks.
constexpr double SmallestGridCellMs = 5.0;

VoKelvora::SliceInfo HostPoint(const SliceList::Point& point)
{
    VoKelvora::SliceInfo info{};
    info.sourcePosition = point.position;
    info.position = point.position;
    info.tickPosition = -1.0f;
    info.strength = point.strength;
    info.lockedOn = point.locked;
    info.deleted = point.deleted;
    return info;
}

} // namespace

EngineSession::EngineSession(const AudioFile& audio, const EngineSettings& settings,
                             const std::string& fileName)
    : channels(audio.ChannelPointers()), name(fileName), channelCount(audio.ChannelCount()),
      frameCount(audio.FrameCount()), sampleRate(audio.SampleRate())
{
    VoKelvora::KelvoraEngine::Create(&engine, channelCount, sampleRate, settings.outputSampleRate);
    if (!engine)
        throw ToolError::About(name, "the engine cannot take " + std::to_string(channelCount) +
                                         " channels at " + std::to_string(sampleRate) + " Hz");
    try
    {
        std::optional<SliceList> userCuts;
        if (!settings.slicesFile.empty())
            userCuts = SliceList::Read(settings.slicesFile, name, frameCount);
        const bool savedAnalysis = userCuts && userCuts->saved;
        if (savedAnalysis)
        {
            // A saved analysis brings everything the analysis would find, and more (the edits),
            // the meter included unless the options give another.
            SetCuts(userCuts->points);
            TakeSavedMeter(*userCuts->saved);
        }
        else
        {
            // The detection window is stored before the loop arrives, so the one analysis that
            // SetLoop runs already uses it.
            if (settings.detectionWindowMs)
                engine->SetDetectionWindow(*settings.detectionWindowMs);
            engine->SetLoop(frameCount, channelCount, Loop(), 0.0f, nullptr, 0);
        }
        if (!savedAnalysis || settings.bars || settings.loopTempo)
            ChooseMeter(settings);
        // The meter may come from the analysis's onsets, so the user's cuts replace them only now.
        if (userCuts && !savedAnalysis)
            SetCuts(userCuts->points);
        else if (settings.gridDivision && !userCuts)
            CutOnGrid(settings);

        ApplyAnalysisSettings(settings);
        disabled.assign(engine->GetSliceCount(), false);
        if (savedAnalysis)
            for (uint32_t i = 0; i < userCuts->points.size(); ++i)
            {
                if (userCuts->points[i].disabled)
                    disabled[i] = engine->DisableSlice(i);
                foundByAnalysis.push_back(userCuts->points[i].detected);
            }
        if (settings.snapToZeroCrossing)
            SnapToZeroCrossings();
        if (cutsFromAnalysis)
            FoldSliverLeadIn();
        ApplyPlaybackSettings(settings);
    }
    catch (...)
    {
        VoKelvora::KelvoraEngine::Destroy(engine);
        throw;
    }
}

EngineSession::~EngineSession()
{
    VoKelvora::KelvoraEngine::Destroy(engine);
}

float** EngineSession::Loop() const
{
    // The engine reads the loop in place and never writes it; SetLoop only takes it without
    // const because hosts hand it their own buffers.
    return const_cast<float**>(channels);
}

void EngineSession::SetCuts(const std::vector<SliceList::Point>& cuts)
{
    // The user's own cuts go in as the host's slice list, so the engine analyses nothing.
    std::vector<VoKelvora::SliceInfo> points;
    for (const SliceList::Point& point : cuts)
        points.push_back(HostPoint(point));
    engine->SetLoop(frameCount, channelCount, Loop(), 0.0f, points.data(),
                    static_cast<uint32_t>(points.size()));
    cutsFromAnalysis = false;
}

double EngineSession::TempoOf(const MeterChoice& choice) const
{
    const uint32_t beats = choice.bars * choice.beatsPerBar + choice.extraBeats;
    return beats * 60.0 * sampleRate / frameCount;
}

void EngineSession::TakeSavedMeter(const SliceList::Saved& saved)
{
    meter.chosen = {saved.bars, saved.extraBeats, saved.beatsPerBar, saved.beatUnit};
    meter.chosen.confidence = 1.0;
    meter.chosen.tempoBpm =
        saved.fixedLoopTempo ? double(*saved.fixedLoopTempo) : TempoOf(meter.chosen);
    meter.fixedLoopTempo = saved.fixedLoopTempo;
    meter.from = "the slice file";
    meter.summary = KelvoraCli::MeterSummary(meter.chosen, "from " + meter.from);
    savedSensitivity = saved.sensitivity;
}

void EngineSession::ChooseMeter(const EngineSettings& settings)
{
    const uint32_t beatsPerBar = settings.beatsPerBar.value_or(4);
    MeterChoice& chosen = meter.chosen;
    meter = {};
    if (settings.bars)
    {
        chosen = {*settings.bars, settings.extraBeats, beatsPerBar, settings.beatUnit};
        chosen.tempoBpm = TempoOf(chosen);
        meter.from = "--bars";
    }
    else if (settings.loopTempo)
    {
        chosen = MeterForTempo(frameCount, sampleRate, *settings.loopTempo, beatsPerBar,
                               settings.beatUnit);
        meter.from = "--loop-tempo";
    }
    if (settings.loopTempo)
    {
        meter.fixedLoopTempo = *settings.loopTempo;
        chosen.tempoBpm = *settings.loopTempo;
    }
    if (settings.bars || settings.loopTempo)
    {
        chosen.confidence = 1.0; // the user knows
        meter.summary = KelvoraCli::MeterSummary(chosen, "from " + meter.from);
        return;
    }

    if (const std::optional<double> named = TempoFromFileName(name))
    {
        chosen = MeterForTempo(frameCount, sampleRate, *named, beatsPerBar, settings.beatUnit);
        meter.from = "the file name";
        meter.summary = KelvoraCli::MeterSummary(chosen, "from the file name");
        if (chosen.confidence < 1.0)
            warnings.push_back("the file name says " + OneDecimal(*named) +
                               " BPM, but the loop's length fits " + DescribeMeter(chosen) +
                               " at " + OneDecimal(chosen.tempoBpm) + " BPM; using that");
        return;
    }

    std::vector<Onset> onsets;
    for (const VoKelvora::SliceInfo& info : Points())
        if (info.detected)
            onsets.push_back({info.position, info.strength});
    const MeterEstimate estimate = EstimateLoopMeter(frameCount, sampleRate, onsets);
    chosen = estimate.best;
    meter.from = "the onsets";
    meter.runnerUp = estimate.runnerUp;
    meter.weakEvidence = estimate.weakEvidence;
    meter.summary = estimate.reason;
    if (settings.beatsPerBar && *settings.beatsPerBar != chosen.beatsPerBar)
    {
        // The user knows the bar; the onsets still tell the beat.
        chosen = MeterForTempo(frameCount, sampleRate, estimate.best.tempoBpm, beatsPerBar,
                               settings.beatUnit);
        meter.summary = KelvoraCli::MeterSummary(chosen, "from the onsets");
    }
    if (estimate.weakEvidence)
    {
        std::string warning = "the onsets say little about the loop's tempo; guessed " +
                              DescribeMeter(chosen) + " at " + OneDecimal(chosen.tempoBpm) + " BPM";
        if (estimate.runnerUp)
            warning += " (or " + DescribeMeter(*estimate.runnerUp) + " at " +
                       OneDecimal(estimate.runnerUp->tempoBpm) + " BPM)";
        warnings.push_back(warning + "; give --bars or --loop-tempo to be sure");
    }
}

void EngineSession::CutOnGrid(const EngineSettings& settings)
{
    if (!(meter.chosen.tempoBpm > 0.0))
        throw ToolError::About(name, "no grid without a tempo; give --bars or --loop-tempo");
    // A grid cell of 1/division of a whole note, in beats of the chosen meter.
    const double beatFrames = 60.0 * sampleRate / meter.chosen.tempoBpm;
    const double cellFrames = beatFrames * meter.chosen.beatUnit / *settings.gridDivision;
    if (!(cellFrames * 1000.0 / sampleRate >= SmallestGridCellMs))
        throw ToolError::About(name, "a 1/" + std::to_string(*settings.gridDivision) + " grid at " +
                                         OneDecimal(meter.chosen.tempoBpm) +
                                         " BPM cuts slices shorter than " +
                                         OneDecimal(SmallestGridCellMs) + " ms");
    std::vector<SliceList::Point> points;
    for (uint64_t cell = 0;; ++cell)
    {
        const double position = std::floor(cell * cellFrames + 0.5);
        if (position >= frameCount)
            break;
        points.push_back({static_cast<uint32_t>(position)});
    }
    SetCuts(points);
}

void EngineSession::ApplyAnalysisSettings(const EngineSettings& settings)
{
    const VoKelvora::MeterLayout layout{meter.chosen.bars, meter.chosen.extraBeats,
                                        meter.chosen.beatsPerBar, meter.chosen.beatUnit};
    engine->SetMeter(&layout);
    engine->SetLoopTempo(meter.fixedLoopTempo.value_or(0.0f));
    // Unless asked otherwise the loop plays at its own tempo.
    engine->SetTempo(engine->GetLoopTempo());
    engine->SetSensitivity(settings.sensitivity.value_or(
        savedSensitivity.value_or(EngineSettings::DefaultSensitivity)));
}

void EngineSession::ApplyPlaybackSettings(const EngineSettings& settings)
{
    if (settings.tempo)
        engine->SetTempo(*settings.tempo);
    if (settings.transpose)
        engine->SetTranspose(*settings.transpose);
    if (settings.fineTune)
        engine->SetFineTune(*settings.fineTune);
    if (settings.gainDb)
        engine->SetGain(*settings.gainDb);
    engine->SetTailExtension(settings.tailExtension);
    if (settings.tailFromSoundEnd)
        engine->SetTailFromSoundEnd(*settings.tailFromSoundEnd);
    if (settings.tailLoopPosition)
        engine->SetTailLoopPosition(*settings.tailLoopPosition);
    if (settings.attackMs || settings.holdMs || settings.decayMs || settings.sustainDb)
    {
        VoKelvora::EnvelopeSettings envelope{};
        engine->GetEnvelope(&envelope);
        envelope.attackMs = settings.attackMs.value_or(envelope.attackMs);
        envelope.holdMs = settings.holdMs.value_or(envelope.holdMs);
        envelope.decayMs = settings.decayMs.value_or(envelope.decayMs);
        envelope.sustainDb = settings.sustainDb.value_or(envelope.sustainDb);
        engine->SetEnvelope(&envelope);
    }
}

void EngineSession::SnapToZeroCrossings()
{
    const auto window = static_cast<uint32_t>(SnapWindowMs * sampleRate / 1000.0);
    const auto mono = [this](uint32_t frame)
    {
        float sum = 0.0f;
        for (uint32_t c = 0; c < channelCount; ++c)
            sum += channels[c][frame];
        return sum;
    };
    // A cut at z lies on a zero crossing when the sound changes sign between z - 1 and z (or is
    // exactly zero at z).
    const auto crosses = [&](uint32_t z)
    {
        if (z == 0 || z >= frameCount)
            return z == 0;
        const float before = mono(z - 1);
        const float at = mono(z);
        return at == 0.0f || (before < 0.0f) != (at < 0.0f);
    };
    std::vector<VoKelvora::SliceInfo> points = Points();
    for (uint32_t i = 0; i < points.size(); ++i)
    {
        VoKelvora::SliceInfo& point = points[i];
        if (!IsActive(point, i))
            continue;
        // Cuts stay between their neighbours, so the list keeps its order.
        const uint32_t low = i > 0 ? points[i - 1].position + 1 : 0;
        const uint32_t high =
            i + 1 < points.size() ? std::max(points[i + 1].position, 1u) - 1 : frameCount;
        for (uint32_t distance = 0; distance <= window; ++distance)
        {
            const uint32_t earlier = point.position >= distance ? point.position - distance : 0;
            const uint32_t later = point.position + distance;
            uint32_t found = UINT32_MAX;
            if (earlier >= low && earlier <= high && crosses(earlier))
                found = earlier;
            else if (later >= low && later <= high && crosses(later))
                found = later;
            if (found == UINT32_MAX)
                continue;
            if (found != point.position)
            {
                point.position = found;
                engine->SetSlice(i, &point);
            }
            break;
        }
    }
}

uint32_t EngineSession::SliverFrames() const
{
    return static_cast<uint32_t>(SliverMs * sampleRate / 1000.0);
}

void EngineSession::FoldSliverLeadIn()
{
    const uint32_t sliver = SliverFrames();
    for (;;)
    {
        const std::vector<LoopReport::Region> regions = ActiveRegions();
        if (regions.size() < 2 || regions[0].length >= sliver)
            return;
        const std::vector<VoKelvora::SliceInfo> points = Points();
        bool folded = false;
        for (uint32_t i = 0; i < points.size(); ++i)
            if (points[i].position == regions[1].start && IsActive(points[i], i) &&
                !points[i].lockedOn)
                folded = disabled[i] = engine->DisableSlice(i);
        if (!folded)
            return;
    }
}

bool EngineSession::IsActive(const VoKelvora::SliceInfo& info, uint32_t index) const
{
    // The engine's rule; the tool's own switched-off points are the part SliceInfo cannot show.
    const bool off = index < disabled.size() && disabled[index];
    return !info.deleted && (info.lockedOn || (!off && info.aboveThreshold));
}

std::vector<VoKelvora::SliceInfo> EngineSession::Points() const
{
    std::vector<VoKelvora::SliceInfo> infos(engine->GetSliceCount());
    if (!infos.empty())
        engine->GetSlices(infos.data());
    return infos;
}

LoopReport EngineSession::Report() const
{
    LoopReport report;
    report.file = name;
    report.sampleRate = sampleRate;
    report.channelCount = channelCount;
    report.frameCount = frameCount;
    report.loopTempo = engine->GetLoopTempo();
    report.tempo = engine->GetTempo();
    VoKelvora::MeterLayout layout{};
    engine->GetMeter(&layout);
    report.bars = layout.bars;
    report.extraBeats = layout.extraBeats;
    report.beatsPerBar = layout.beatsPerBar;
    report.beatUnit = layout.beatUnit;
    report.meter = meter;
    report.sensitivity = engine->GetSensitivity();
    report.detectionWindowMs = engine->GetDetectionWindow();
    report.sliverFrames = cutsFromAnalysis ? SliverFrames() : 0;

    const std::vector<VoKelvora::SliceInfo> infos = Points();
    for (uint32_t i = 0; i < infos.size(); ++i)
    {
        const VoKelvora::SliceInfo& info = infos[i];
        LoopReport::Slice slice;
        slice.index = i;
        slice.position = info.position;
        slice.strength = info.strength;
        slice.active = IsActive(info, i);
        slice.detected = info.detected || (i < foundByAnalysis.size() && foundByAnalysis[i] &&
                                           info.position == info.sourcePosition);
        slice.locked = info.lockedOn;
        slice.deleted = info.deleted;
        slice.disabled = i < disabled.size() && disabled[i];
        report.slices.push_back(slice);
    }
    report.regions = ActiveRegions();
    // Silence before the first hit belongs to it: as a slice of its own it would shift every
    // key of an exported instrument by one and play nothing.
    if (report.regions.size() >= 2)
    {
        float peak = 0.0f;
        const LoopReport::Region& first = report.regions[0];
        for (uint32_t c = 0; c < channelCount; ++c)
            for (uint32_t i = first.start; i < first.start + first.length; ++i)
                peak = std::max(peak, std::fabs(channels[c][i]));
        if (peak < LoopReport::SilentPeak)
        {
            report.regions[1].length += report.regions[1].start - first.start;
            report.regions[1].start = first.start;
            report.regions.erase(report.regions.begin());
        }
    }
    return report;
}

std::vector<LoopReport::Region> EngineSession::ActiveRegions() const
{
    // Walking the engine's own regions keeps the cut logic in one place: each region runs from
    // an active cut (or the loop start) to the next one (or the loop end).
    std::vector<LoopReport::Region> regions;
    uint32_t position = 0;
    while (position < frameCount)
    {
        uint32_t start = 0;
        uint32_t length = 0;
        engine->GetSliceRegion(position, &start, &length);
        const uint64_t end = uint64_t(start) + length;
        if (start != position || length == 0 || end > frameCount)
        {
            // Not a region boundary the engine agrees with; keep the rest in one piece.
            regions.push_back({position, frameCount - position});
            break;
        }
        regions.push_back({start, length});
        position = static_cast<uint32_t>(end);
    }
    return regions;
}

uint32_t EngineSession::RenderedLength() const
{
    return engine->GetRenderedLength();
}

uint32_t EngineSession::OutputSampleRate() const
{
    const double rate = engine->GetOutputSampleRate();
    return rate > 0.0 ? static_cast<uint32_t>(rate) : sampleRate;
}

double EngineSession::RequestedSeconds() const
{
    const double tempo = engine->GetTempo();
    if (!(tempo > 0.0) || sampleRate == 0)
        return 0.0;
    return double(frameCount) / sampleRate * engine->GetLoopTempo() / tempo;
}

void EngineSession::Start()
{
    engine->Transport(0, 0);
}

void EngineSession::Render(uint32_t frames, float** outputs)
{
    engine->Render(frames, outputs);
}

} // namespace KelvoraCli
