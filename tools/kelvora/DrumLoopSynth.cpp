#include "tools/kelvora/DrumLoopSynth.h"

#include <algorithm>
#include <cmath>
#include <span>

namespace KelvoraCli
{

namespace
{

constexpr double Pi = 3.14159265358979323846;

// xorshift32: the same sequence on every machine, unlike std::rand or the <random>
// distributions.
class Noise
{
public:
    explicit Noise(uint32_t seed) : state(seed ? seed : 0x9E3779B9u) {}
    float Next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<float>(state) / 2147483648.0f - 1.0f;
    }

private:
    uint32_t state;
};

// One bar of sixteenths. The second bar varies the kick so the loop is not one bar twice.
struct PatternStep
{
    uint32_t step;
    DrumLoopSynth::Voice voice;
    float velocity;
};

constexpr PatternStep BarA[] = {
    {0, DrumLoopSynth::Voice::Kick, 1.0f},   {6, DrumLoopSynth::Voice::Kick, 0.8f},
    {8, DrumLoopSynth::Voice::Kick, 0.95f},  {4, DrumLoopSynth::Voice::Snare, 1.0f},
    {12, DrumLoopSynth::Voice::Snare, 1.0f},
};
constexpr PatternStep BarB[] = {
    {0, DrumLoopSynth::Voice::Kick, 1.0f},   {8, DrumLoopSynth::Voice::Kick, 0.95f},
    {10, DrumLoopSynth::Voice::Kick, 0.8f},  {4, DrumLoopSynth::Voice::Snare, 1.0f},
    {12, DrumLoopSynth::Voice::Snare, 1.0f},
};
// Half-time: the snare only on beat 3, so the bar feels twice as long.
constexpr PatternStep HalfTimeA[] = {
    {0, DrumLoopSynth::Voice::Kick, 1.0f},
    {10, DrumLoopSynth::Voice::Kick, 0.8f},
    {8, DrumLoopSynth::Voice::Snare, 1.0f},
};
constexpr PatternStep HalfTimeB[] = {
    {0, DrumLoopSynth::Voice::Kick, 1.0f},
    {6, DrumLoopSynth::Voice::Kick, 0.8f},
    {8, DrumLoopSynth::Voice::Snare, 1.0f},
};
// 3/4 in sixteenths: kick on 1, snares on 2 and 3.
constexpr PatternStep WaltzA[] = {
    {0, DrumLoopSynth::Voice::Kick, 1.0f},
    {4, DrumLoopSynth::Voice::Snare, 0.9f},
    {8, DrumLoopSynth::Voice::Snare, 0.9f},
};
constexpr PatternStep WaltzB[] = {
    {0, DrumLoopSynth::Voice::Kick, 1.0f},
    {6, DrumLoopSynth::Voice::Kick, 0.7f},
    {4, DrumLoopSynth::Voice::Snare, 0.9f},
    {8, DrumLoopSynth::Voice::Snare, 0.9f},
};
// 6/8 in sixteenths (two per eighth): kick on 1, snare on 4, the two dotted-quarter pulses.
constexpr PatternStep CompoundA[] = {
    {0, DrumLoopSynth::Voice::Kick, 1.0f},
    {6, DrumLoopSynth::Voice::Snare, 1.0f},
    {10, DrumLoopSynth::Voice::Kick, 0.7f},
};
constexpr PatternStep CompoundB[] = {
    {0, DrumLoopSynth::Voice::Kick, 1.0f},
    {4, DrumLoopSynth::Voice::Kick, 0.7f},
    {6, DrumLoopSynth::Voice::Snare, 1.0f},
};

DrumLoopSynth::Groove Checked(DrumLoopSynth::Groove groove)
{
    const bool compound = groove.beatsPerBar == 6 && groove.beatUnit == 8;
    const bool waltz = groove.beatsPerBar == 3 && groove.beatUnit == 4;
    if (!compound && !waltz)
    {
        groove.beatsPerBar = 4;
        groove.beatUnit = 4;
    }
    groove.swing =
        std::isfinite(groove.swing) && !compound ? std::clamp(groove.swing, 0.0, 1.0) : 0.0;
    groove.halfTime = groove.halfTime && groove.beatsPerBar == 4;
    groove.leadInSeconds =
        std::isfinite(groove.leadInSeconds) ? std::clamp(groove.leadInSeconds, 0.0, 1.0) : 0.0;
    if (compound || (groove.hatsPerBeat != 0 && groove.hatsPerBeat != 4))
        groove.hatsPerBeat = 2;
    groove.jitterSeconds =
        std::isfinite(groove.jitterSeconds) ? std::clamp(groove.jitterSeconds, 0.0, 0.05) : 0.0;
    return groove;
}

uint32_t StepsPerBeat(const DrumLoopSynth::Groove& groove)
{
    return groove.beatUnit == 8 ? 2 : 4;
}

std::span<const PatternStep> PatternFor(const DrumLoopSynth::Groove& groove, bool secondBar)
{
    if (groove.beatsPerBar == 6)
        return secondBar ? std::span<const PatternStep>(CompoundB) : CompoundA;
    if (groove.beatsPerBar == 3)
        return secondBar ? std::span<const PatternStep>(WaltzB) : WaltzA;
    if (groove.halfTime)
        return secondBar ? std::span<const PatternStep>(HalfTimeB) : HalfTimeA;
    return secondBar ? std::span<const PatternStep>(BarB) : BarA;
}

} // namespace

DrumLoopSynth::DrumLoopSynth(uint32_t rate, double tempo, uint32_t barCount)
    : DrumLoopSynth(rate, tempo, barCount, Groove{})
{
}

DrumLoopSynth::DrumLoopSynth(uint32_t rate, double tempo, uint32_t barCount, const Groove& style)
    : sampleRate(std::clamp<uint32_t>(rate, 8000, 384000)),
      bpm(std::isfinite(tempo)
              ? std::clamp(tempo, 30.0, Checked(style).beatUnit == 8 ? 600.0 : 300.0)
              : 120.0),
      bars(std::clamp<uint32_t>(barCount, 1, 64)), groove(Checked(style)),
      stepsPerBar(groove.beatsPerBar * StepsPerBeat(groove))
{
    // The accented hat marks the felt pulse: every beat, or every third eighth in 6/8.
    const uint32_t pulseSteps = groove.beatUnit == 8 ? 6 : 4;
    for (uint32_t bar = 0; bar < bars; ++bar)
    {
        const uint32_t base = bar * stepsPerBar;
        // Closed hats on every eighth note (or sixteenth), accented on the pulse.
        const uint32_t hatSteps = groove.hatsPerBeat == 4 ? 1 : 2;
        for (uint32_t step = 0; groove.hatsPerBeat && step < stepsPerBar; step += hatSteps)
            hits.push_back({base + step, Voice::HiHat,
                            step % pulseSteps == 0 ? 0.7f
                            : step % 2 == 0        ? 0.45f
                                                   : 0.3f});
        for (const PatternStep& p : PatternFor(groove, bar % 2 == 1))
            hits.push_back({base + p.step, p.voice, p.velocity});
    }
    if (groove.pickup)
    {
        const uint32_t end = bars * stepsPerBar;
        for (uint32_t back = 3; back >= 1; --back)
            hits.push_back({end - back, Voice::Snare, 0.85f - 0.1f * back});
    }
    std::stable_sort(hits.begin(), hits.end(),
                     [](const Hit& a, const Hit& b) { return a.step < b.step; });
}

uint32_t DrumLoopSynth::StepFrame(uint32_t step) const
{
    const double framesPerStep = sampleRate * 60.0 / bpm / StepsPerBeat(groove);
    return static_cast<uint32_t>(std::floor(step * framesPerStep + 0.5));
}

uint32_t DrumLoopSynth::HitFrame(const Hit& hit) const
{
    // Swing moves the off-beat eighth from half to two thirds of the beat at full strength, and
    // the off-beat sixteenths by half as much.
    double beatShare = 0.0;
    if (groove.beatUnit == 4 && hit.step % 4 == 2)
        beatShare = groove.swing / 6.0;
    else if (groove.beatUnit == 4 && hit.step % 2 == 1)
        beatShare = groove.swing / 12.0;
    double shift = (beatShare * 60.0 / bpm + groove.leadInSeconds) * sampleRate;
    if (groove.jitterSeconds > 0.0)
    {
        Noise feel(0x2545F491u + hit.step * 2654435761u + static_cast<uint32_t>(hit.voice));
        shift += feel.Next() * groove.jitterSeconds * sampleRate;
    }
    const double frame = std::max(0.0, StepFrame(hit.step) + shift);
    return static_cast<uint32_t>(std::floor(frame + 0.5));
}

uint32_t DrumLoopSynth::FrameCount() const
{
    return StepFrame(bars * stepsPerBar);
}

AudioFile DrumLoopSynth::Render() const
{
    AudioFile audio(2, sampleRate, FrameCount());
    for (const Hit& hit : hits)
        AddVoice(audio, hit);

    float peak = 0.0f;
    for (uint32_t c = 0; c < 2; ++c)
        for (uint32_t i = 0; i < audio.FrameCount(); ++i)
            peak = std::max(peak, std::fabs(audio.Channel(c)[i]));
    if (peak > 0.0f)
    {
        const float gain = 0.891f / peak; // -1 dBFS
        for (uint32_t c = 0; c < 2; ++c)
            for (uint32_t i = 0; i < audio.FrameCount(); ++i)
                audio.Channel(c)[i] *= gain;
    }
    return audio;
}

void DrumLoopSynth::AddVoice(AudioFile& audio, const Hit& hit) const
{
    const uint32_t start = HitFrame(hit);
    if (start >= audio.FrameCount())
        return; // pushed past the loop end by the lead-in
    const double rate = sampleRate;
    double seconds = 0.0;
    float panLeft = 1.0f;
    float panRight = 1.0f;
    switch (hit.voice)
    {
    case Voice::Kick:
        seconds = 0.3;
        break;
    case Voice::Snare:
        seconds = 0.3;
        panLeft = 1.0f;
        panRight = 0.8f;
        break;
    case Voice::HiHat:
        seconds = 0.08;
        panLeft = 0.7f;
        panRight = 1.0f;
        break;
    }
    const uint32_t length =
        std::min(static_cast<uint32_t>(seconds * rate), audio.FrameCount() - start);
    Noise noise(0x1234567u + hit.step * 7919u + static_cast<uint32_t>(hit.voice));

    double phase = 0.0;
    float previousNoise = 0.0f;
    float lowpassed = 0.0f;
    float* left = audio.Channel(0) + start;
    float* right = audio.Channel(1) + start;
    for (uint32_t i = 0; i < length; ++i)
    {
        const double t = i / rate;
        float sample = 0.0f;
        switch (hit.voice)
        {
        case Voice::Kick:
        {
            // Pitch drops from 160 Hz to 48 Hz in the first tens of milliseconds.
            const double frequency = 48.0 + 112.0 * std::exp(-t / 0.03);
            phase += 2.0 * Pi * frequency / rate;
            const double body = std::sin(phase) * std::exp(-t / 0.08);
            const double click = (i < rate * 0.002) ? noise.Next() * 0.3 * (1.0 - t / 0.002) : 0.0;
            sample = static_cast<float>(body + click);
            break;
        }
        case Voice::Snare:
        {
            phase += 2.0 * Pi * 185.0 / rate;
            const float white = noise.Next();
            // A gentle low-pass takes the fizz off the noise.
            lowpassed += 0.5f * (white - lowpassed);
            const double tone = std::sin(phase) * std::exp(-t / 0.05) * 0.6;
            sample = static_cast<float>(tone + lowpassed * 0.8 * std::exp(-t / 0.07));
            break;
        }
        case Voice::HiHat:
        {
            const float white = noise.Next();
            // The difference of successive noise samples keeps only the high end.
            const float bright = white - previousNoise;
            previousNoise = white;
            sample = static_cast<float>(bright * 0.6 * std::exp(-t / 0.018));
            break;
        }
        }
        sample *= hit.velocity;
        left[i] += sample * panLeft;
        right[i] += sample * panRight;
    }
}

} // namespace KelvoraCli
