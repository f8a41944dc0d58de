#include "tools/kelvora/EngineSession.h"

#include "tools/kelvora/AudioFile.h"
#include "tools/kelvora/ToolError.h"

#include <vector>

namespace KelvoraCli
{

EngineSession::EngineSession(AudioFile& audio, const EngineSettings& settings,
                             const std::string& fileName)
    : name(fileName), channelCount(audio.ChannelCount()), frameCount(audio.FrameCount()),
      sampleRate(audio.SampleRate())
{
    VoKelvora::KelvoraEngine::Create(&engine, channelCount, sampleRate, settings.outputSampleRate);
    if (!engine)
        throw ToolError::About(name, "the engine cannot take " + std::to_string(channelCount) +
                                         " channels at " + std::to_string(sampleRate) + " Hz");
    try
    {
        // The detection window is stored before the loop arrives, so the one analysis that
        // SetLoop runs already uses it.
        if (settings.detectionWindowMs)
            engine->SetDetectionWindow(*settings.detectionWindowMs);
        engine->SetLoop(frameCount, channelCount, audio.ChannelPointers(), 0.0f, nullptr, 0);
        ApplyAnalysisSettings(settings);
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

void EngineSession::ApplyAnalysisSettings(const EngineSettings& settings)
{
    const VoKelvora::MeterLayout meter{settings.bars, settings.extraBeats, settings.beatsPerBar,
                                       settings.beatUnit};
    engine->SetMeter(&meter);
    if (settings.loopTempo)
        engine->SetLoopTempo(*settings.loopTempo);
    // The analysis set the target tempo from the default meter; a different meter or a fixed
    // loop tempo changes the loop's own tempo, and unless asked otherwise the loop plays as is.
    engine->SetTempo(engine->GetLoopTempo());
    engine->SetSensitivity(settings.sensitivity);
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
    if (settings.tailExtension)
        engine->SetTailExtension(*settings.tailExtension);
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

LoopReport EngineSession::Report() const
{
    LoopReport report;
    report.file = name;
    report.sampleRate = sampleRate;
    report.channelCount = channelCount;
    report.frameCount = frameCount;
    report.loopTempo = engine->GetLoopTempo();
    report.tempo = engine->GetTempo();
    VoKelvora::MeterLayout meter{};
    engine->GetMeter(&meter);
    report.bars = meter.bars;
    report.extraBeats = meter.extraBeats;
    report.beatsPerBar = meter.beatsPerBar;
    report.beatUnit = meter.beatUnit;
    report.sensitivity = engine->GetSensitivity();
    report.detectionWindowMs = engine->GetDetectionWindow();

    std::vector<VoKelvora::SliceInfo> infos(engine->GetSliceCount());
    if (!infos.empty())
        engine->GetSlices(infos.data());
    for (uint32_t i = 0; i < infos.size(); ++i)
    {
        const VoKelvora::SliceInfo& info = infos[i];
        LoopReport::Slice slice;
        slice.index = i;
        slice.position = info.position;
        slice.strength = info.strength;
        // The same rule the engine cuts by; the tool adds no forced or disabled points.
        slice.active = !info.deleted && (info.lockedOn || info.aboveThreshold);
        slice.detected = info.detected;
        report.slices.push_back(slice);
    }
    report.regions = ActiveRegions();
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

void EngineSession::Start()
{
    engine->Transport(0, 0);
}

void EngineSession::Render(uint32_t frames, float** outputs)
{
    engine->Render(frames, outputs);
}

} // namespace KelvoraCli
