// A host saves a loop it has edited, restores it into a new engine with the recipe in the public
// header, and hears the same audio, bit for bit.
#include "tests/engine/HostEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

using namespace HostEngine;
using VoKelvora::EnvelopeSettings;
using VoKelvora::MeterLayout;

namespace
{

// What the host knows about its engine besides the audio: its creation arguments, the rates it
// set, the values that no getter returns exactly, and which points it added or switched off.
struct HostRecord
{
    uint32_t channels = 1, rate = 0, outputRate = 0, sourceRate = 0, renderRate = 0;
    float fixedLoopTempo = 0.0f; // 0: none fixed
    EnvelopeSettings envelope{0.0f, 0.0f, 0.0f, -400.0f};
    struct Edits
    {
        bool added, disabled;
    };
    std::vector<Edits> edits; // one per point, in list order
};

// A new engine built from what the host saved of `saved`: the loop audio, the getters the recipe
// names and the host's record.
EnginePtr Restore(KelvoraEngine& saved, const HostRecord& host, PlanarAudio& audio)
{
    std::vector<SliceInfo> slices = Slices(saved);
    // The flags SliceInfo cannot carry, expressed as flags that cut the same way.
    for (size_t i = 0; i < slices.size(); ++i)
    {
        if (host.edits[i].disabled && !slices[i].lockedOn)
            slices[i].deleted = true;
        else if (host.edits[i].added && !host.edits[i].disabled)
            slices[i].lockedOn = true;
    }
    MeterLayout meter{};
    saved.GetMeter(&meter);

    EnginePtr engine = Make(host.channels, host.rate, host.outputRate);
    if (host.sourceRate != host.rate)
        engine->SetSampleRate(host.sourceRate);
    if (host.renderRate != 0)
        engine->SetOutputSampleRate(host.renderRate);
    engine->SetDetectionWindow(saved.GetDetectionWindow()); // no loop yet: nothing is analysed
    engine->SetLoop(static_cast<uint32_t>(audio.samples[0].size()), host.channels, audio.Channels(),
                    host.fixedLoopTempo, slices.data(), static_cast<uint32_t>(slices.size()));
    engine->SetMeter(&meter);
    engine->SetTicksPerBeat(saved.GetTicksPerBeat());
    engine->SetTempo(saved.GetTempo());
    engine->SetSensitivity(saved.GetSensitivity());
    engine->SetTranspose(saved.GetTranspose());
    engine->SetFineTune(saved.GetFineTune());
    engine->SetTailExtension(saved.GetTailExtension());
    engine->SetTailFromSoundEnd(saved.GetTailFromSoundEnd());
    engine->SetTailLoopPosition(saved.GetTailLoopPosition());
    engine->SetGain(saved.GetGain());
    engine->SetEnvelope(&host.envelope);
    return engine;
}

// AddSlice sorts the points by position, stably; the host sorts its record the same way.
void AddSlice(KelvoraEngine& engine, HostRecord& host, uint32_t position)
{
    std::vector<std::pair<SliceInfo, HostRecord::Edits>> points;
    const std::vector<SliceInfo> slices = Slices(engine);
    for (size_t i = 0; i < slices.size(); ++i)
        points.push_back({slices[i], host.edits[i]});
    if (!engine.AddSlice(position))
        return;
    points.push_back({HostSlice(position), {true, false}});
    std::ranges::stable_sort(points, {}, [](const auto& point) { return point.first.position; });
    host.edits.resize(points.size());
    for (size_t i = 0; i < points.size(); ++i)
        host.edits[i] = points[i].second;
}

} // namespace

// Random edits of analysed and host-sliced loops: added, disabled, moved and pinned points, odd
// meters (whose derived tempo is no exact float), a fixed loop tempo, sample-rate changes, every
// shaping setting. The restored engine renders the same bits.
TEST(SaveRestore, RecipeReproducesTheSoundBitForBit)
{
    std::mt19937 rng(7);
    const auto uniform = [&](float a, float b)
    { return std::uniform_real_distribution(a, b)(rng); };
    const auto count = [&](uint32_t a, uint32_t b)
    { return std::uniform_int_distribution(a, b)(rng); };
    const auto chance = [&](double p) { return std::bernoulli_distribution(p)(rng); };

    for (uint32_t session = 0; session < 32; ++session)
    {
        SCOPED_TRACE(session);
        const uint32_t rates[] = {22050, 44100, 48000};
        HostRecord host;
        host.channels = count(1, 2);
        host.rate = rates[count(0, 2)];
        host.outputRate = chance(0.5) ? 0 : rates[count(0, 2)];
        host.sourceRate = chance(0.3) ? rates[count(0, 2)] : host.rate;
        host.renderRate = chance(0.3) ? rates[count(0, 2)] : 0;

        const uint32_t frames = count(20000, 60000);
        PlanarAudio audio(host.channels, frames);
        for (auto& channel : audio.samples)
            for (uint32_t j = 0; j < frames; ++j)
                channel[j] =
                    uniform(-0.9f, 0.9f) * std::exp(-static_cast<float>(j % 4410) / 600.0f);

        EnginePtr engine = Make(host.channels, host.rate, host.outputRate);
        if (host.sourceRate != host.rate)
            engine->SetSampleRate(host.sourceRate);
        if (host.renderRate != 0)
            engine->SetOutputSampleRate(host.renderRate);
        std::vector<SliceInfo> slices; // none: the engine analyses the loop
        if (chance(0.5))
            for (uint32_t p = 0; p < frames; p += count(1000, 9000))
                slices.push_back(
                    {p, p, -1.0f, uniform(0.0f, 1.0f), chance(0.3), chance(0.1), false, false});
        else if (chance(0.3))
            engine->SetDetectionWindow(uniform(20.0f, 120.0f));
        host.fixedLoopTempo = !slices.empty() && chance(0.3) ? uniform(60.0f, 180.0f) : 0.0f;
        engine->SetLoop(frames, host.channels, audio.Channels(), host.fixedLoopTempo, slices.data(),
                        static_cast<uint32_t>(slices.size()));
        host.edits.assign(engine->GetSliceCount(), {false, false});

        const MeterLayout meter{count(1, 3), count(0, 3), count(2, 7), 8};
        engine->SetMeter(&meter);
        engine->SetTicksPerBeat(count(24, 960));
        if (chance(0.3))
        {
            host.fixedLoopTempo = uniform(60.0f, 180.0f);
            engine->SetLoopTempo(host.fixedLoopTempo);
        }
        engine->SetTempo(engine->GetLoopTempo() * uniform(0.5f, 1.5f));
        // At sensitivity 0 only locked points cut, which the saved flags of added points must say.
        engine->SetSensitivity(chance(0.3) ? 0.0f : uniform(0.0f, 1.0f));
        for (uint32_t edit = count(0, 6); edit > 0; --edit)
        {
            const uint32_t index = count(0, std::max(engine->GetSliceCount(), 1u) - 1);
            if (chance(0.4))
                AddSlice(*engine, host, count(0, frames));
            else if (chance(0.5) && engine->DisableSlice(index))
                host.edits[index].disabled = true;
            else if (index < engine->GetSliceCount())
            {
                SliceInfo moved = HostSlice(count(0, frames), chance(0.5));
                moved.tickPosition = chance(0.3) ? uniform(0.0f, 1000.0f) : -1.0f;
                engine->SetSlice(index, &moved);
            }
        }
        engine->SetTranspose(uniform(-7.0f, 7.0f));
        engine->SetFineTune(uniform(-50.0f, 50.0f));
        engine->SetTailExtension(uniform(0.0f, 1.0f));
        engine->SetTailFromSoundEnd(chance(0.5));
        engine->SetTailLoopPosition(uniform(0.0f, 1.0f));
        engine->SetGain(uniform(-12.0f, 6.0f));
        host.envelope = {uniform(0.0f, 20.0f), uniform(0.0f, 50.0f), uniform(0.0f, 300.0f),
                         uniform(-40.0f, 0.0f)};
        engine->SetEnvelope(&host.envelope);

        EnginePtr restored = Restore(*engine, host, audio);
        ASSERT_EQ(restored->GetRenderedLength(), engine->GetRenderedLength());
        const uint32_t length = std::min(engine->GetRenderedLength() + 5000, 150000u);
        std::vector<std::vector<float>> original(host.channels), copy(host.channels);
        engine->Transport(0, 0);
        restored->Transport(0, 0);
        Render(*engine, original, length, 4096);
        Render(*restored, copy, length, 4096);
        for (uint32_t c = 0; c < host.channels; ++c)
            EXPECT_EQ(std::memcmp(copy[c].data(), original[c].data(), length * sizeof(float)), 0);
        EXPECT_TRUE(std::any_of(original[0].begin(), original[0].end(), [](float v) { return v; }));
    }
}
