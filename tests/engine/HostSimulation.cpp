// A seeded host simulation through the shared library and the public header: engines at random
// rates and channel counts, loops from empty to a minute (silence, noise, clicks, DC, denormals,
// bursts), analysed or sliced by host lists (unsorted, duplicated, past the end), rendered in
// random blocks of 0 to 8192 frames while every setter is called between blocks with normal,
// edge, NaN, infinite, huge and denormal values. After every block: exactly the requested frames
// of exactly the loop's channels were written, the output is finite (and bounded while the
// settings are sane), the play position lies in the loop (its end included: a slice in its tail
// reports its end), every getter reads back what was set, and neither Render nor Transport
// allocated (operator new is replaced, for the program and the library, by a counting one).
// Sessions run for KELVORA_SIMULATION_SECONDS (default 10) from KELVORA_SIMULATION_SEED (default:
// the clock); session i uses seed + i, and a failure names the seed that replays it.
#include "tests/engine/HostEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <random>
#include <sstream>
#include <vector>

namespace
{

std::atomic<bool> counting{false};
std::atomic<size_t> allocations{0};

using NoThrow = const std::nothrow_t&;
using Alignment = std::align_val_t;

void* Allocate(size_t size, Alignment alignment, bool nothrow)
{
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    void* block = nullptr;
    const size_t align = std::max(static_cast<size_t>(alignment), alignof(std::max_align_t));
    if (posix_memalign(&block, align, size ? size : 1) != 0 && !nothrow)
        throw std::bad_alloc();
    return block;
}

// The operator new calls `work` makes.
template <typename Work> size_t AllocationsIn(Work work)
{
    allocations = 0;
    counting = true;
    work();
    counting = false;
    return allocations;
}

} // namespace

// clang-format off
void* operator new(size_t n) { return Allocate(n, Alignment{}, false); }
void* operator new[](size_t n) { return Allocate(n, Alignment{}, false); }
void* operator new(size_t n, NoThrow) noexcept { return Allocate(n, Alignment{}, true); }
void* operator new[](size_t n, NoThrow) noexcept { return Allocate(n, Alignment{}, true); }
void* operator new(size_t n, Alignment a) { return Allocate(n, a, false); }
void* operator new[](size_t n, Alignment a) { return Allocate(n, a, false); }
void* operator new(size_t n, Alignment a, NoThrow) noexcept { return Allocate(n, a, true); }
void* operator new[](size_t n, Alignment a, NoThrow) noexcept { return Allocate(n, a, true); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, NoThrow) noexcept { std::free(p); }
void operator delete[](void* p, NoThrow) noexcept { std::free(p); }
void operator delete(void* p, Alignment) noexcept { std::free(p); }
void operator delete[](void* p, Alignment) noexcept { std::free(p); }
void operator delete(void* p, size_t, Alignment) noexcept { std::free(p); }
void operator delete[](void* p, size_t, Alignment) noexcept { std::free(p); }
void operator delete(void* p, Alignment, NoThrow) noexcept { std::free(p); }
void operator delete[](void* p, Alignment, NoThrow) noexcept { std::free(p); }
// clang-format on

using namespace HostEngine;
using VoKelvora::EnvelopeSettings;
using VoKelvora::MeterLayout;

namespace
{

constexpr uint32_t kMaxBlock = 8192;
constexpr uint32_t kGuard = 16;                 // sentinel frames on either side of each buffer
constexpr uint32_t kSentinelBits = 0x7FC0DEADu; // a NaN no arithmetic produces
constexpr uint64_t kMaxLoopSamples = 4u << 20;  // frames x channels of the largest loop
constexpr uint32_t kRates[] = {8000,  11025, 16000,  22050,  32000,  44100, 48000,
                               88200, 96000, 176400, 192000, 352800, 384000};

// What the engine compares a setting as: denormals act as zero.
float Flushed(float value)
{
    return std::fpclassify(value) == FP_SUBNORMAL ? std::copysign(0.0f, value) : value;
}

// What GetEnvelope reports for a sustain set in dB, where the conversion is well defined.
bool SustainReadsBack(float set, float got)
{
    if (!(set > -80.0f))
        return got == -400.0f;
    return set < 700.0f ? std::fabs(got - set) <= 0.01f + 1e-5f * std::fabs(set)
                        : set <= 800.0f || got == INFINITY;
}

// One engine, its loop audio and what the host expects every getter to say.
class Session
{
public:
    Session(uint64_t seed, uint64_t& audibleBlocks) : rng(seed), audibleBlocks(audibleBlocks)
    {
        createRate = AnyRate(1.0);
        createOutputRate = Chance(0.5) ? 0 : AnyRate(0.94);
        engine = Make(Uniform(1, 8), createRate, createOutputRate);
        sampleRate = createRate;
    }

    // Runs the session; false once a check failed (reported then).
    bool Run()
    {
        if (!engine)
            return Fail("Create refused a valid engine");
        CheckGetters(); // a fresh engine has its defaults and renders nothing
        if (Chance(0.2))
            RenderBlock(Uniform(1, 512));
        LoadLoop();
        CheckGetters();
        for (uint32_t blocks = Uniform(8, 120); blocks > 0 && !failed; --blocks)
        {
            for (uint32_t calls = Chance(0.6) ? Uniform(1, 3) : 0; calls > 0 && !failed; --calls)
            {
                CallSomething();
                // A sounding slice keeps the gain and envelope it started with.
                latchedBound = std::max(latchedBound, CurrentBound());
            }
            CheckGetters();
            RenderBlock(BlockSize());
        }
        return !failed;
    }

private:
    uint32_t Uniform(uint32_t a, uint32_t b) { return std::uniform_int_distribution(a, b)(rng); }
    float Real(float lo, float hi) { return std::uniform_real_distribution(lo, hi)(rng); }
    bool Chance(double p) { return std::bernoulli_distribution(p)(rng); }
    template <typename T, size_t N> T Pick(const T (&items)[N]) { return items[Uniform(0, N - 1)]; }

    // Half the time a value in the setting's sane range, otherwise one of the values hosts and
    // automation lanes get wrong.
    float AnyFloat(float lo, float hi)
    {
        const float hostile[] = {0.0f,    -0.0f,        lo,           hi,        1.0f,
                                 -1.0f,   NAN,          INFINITY,     -INFINITY, 1e30f,
                                 -1e30f,  FLT_MAX,      -FLT_MAX,     1e-40f,    -1e-40f,
                                 FLT_MIN, FLT_TRUE_MIN, -FLT_TRUE_MIN};
        return Chance(0.5) ? Real(lo, hi) : Pick(hostile);
    }

    uint32_t AnyCount(uint32_t lo, uint32_t hi)
    {
        const uint32_t hostile[] = {0u, 1u, lo, hi, 0xFFFFFFFFu, 0x80000000u};
        return Chance(0.7) ? Uniform(lo, hi) : Pick(hostile);
    }

    // A common rate or any audio rate with probability `sane`, otherwise any count.
    uint32_t AnyRate(double sane)
    {
        if (!Chance(sane))
            return AnyCount(1, 1000000);
        return Chance(0.7) ? Pick(kRates) : Uniform(8000, 384000);
    }

    void LoadLoop()
    {
        // Empty, a few frames, or up to 2, 10 or 60 seconds; at most kMaxLoopSamples samples.
        const uint32_t channelCount = Chance(0.02) ? 0 : Uniform(1, 8);
        const double second = std::max(sampleRate, 64u);
        const double bounds[] = {0.0, 0.5, 64.0, 2 * second, 10 * second, 60 * second};
        const double weights[] = {8, 10, 57, 22, 3};
        const double length = std::piecewise_constant_distribution<double>(
            std::begin(bounds), std::end(bounds), std::begin(weights))(rng);
        const uint32_t frames = static_cast<uint32_t>(
            std::min<double>(std::round(length), kMaxLoopSamples / std::max(channelCount, 1u)));
        audio = PlanarAudio(channelCount, frames);
        peak = 0.0f;
        for (auto& channel : audio.samples) // silence, noise, clicks, DC, denormals or bursts
        {
            const uint32_t kind = Uniform(0, 5);
            const float level = Real(0.0f, 1.0f);
            const size_t spacing = Uniform(50, 20000);
            for (size_t j = 0; j < channel.size(); ++j)
            {
                const float click = j % spacing == 0 ? (j / spacing % 2 ? level : -level) : 0.0f;
                const float burst = std::exp(-static_cast<float>(j % spacing) / 800.0f);
                const float values[] = {0.0f, level, click, level, 1e-39f, level * burst};
                channel[j] =
                    kind == 1 || kind >= 4 ? values[kind] * Real(-1.0f, 1.0f) : values[kind];
                peak = std::max(peak, std::fabs(channel[j]));
            }
        }

        std::vector<SliceInfo> slices = Chance(0.5) ? HostSlices(frames) : std::vector<SliceInfo>{};
        const float tempo = Chance(0.5) ? 0.0f : AnyFloat(30.0f, 300.0f);
        engine->SetLoop(frames, channelCount, audio.Channels(), tempo, slices.data(),
                        static_cast<uint32_t>(slices.size()));
        loopChannels = channelCount;
        loaded = stopped = true;
        loopValid = frames > 0 && channelCount > 0 && sampleRate > 0;
        if (!slices.empty())
            fixedLoopTempo = Flushed(tempo) > 0.0f ? tempo : 0.0f;
        if (!slices.empty() || loopValid)
        {
            // An import or an analysis starts the loop model afresh.
            regionFrames = frames;
            meter = MeterLayout{2, 0, 4, 4};
            sensitivity = fineTune = transpose = tailExtension = gain = 0.0f;
            tailLoopPosition = slices.empty() ? 0.5f : 0.0f;
            tailFromSoundEnd = true;
            envelope = EnvelopeSettings{0.0f, 0.0f, 0.0f, -400.0f};
            targetTempo = LoopTempo(); // the loop starts unstretched
        }
        sliceCount = slices.empty() ? engine->GetSliceCount() : uint32_t(slices.size());
        // The host's list comes back in its order, with its values, as host points (the read-only
        // flags false: the sensitivity starts at 0).
        for (SliceInfo& s : slices)
            s.aboveThreshold = s.detected = false;
        const std::vector<SliceInfo> got = Slices(*engine);
        Expect(slices.empty() ||
                   (got.size() == slices.size() &&
                    std::memcmp(got.data(), slices.data(), got.size() * sizeof(SliceInfo)) == 0),
               "The imported slice list");
        latchedBound = CurrentBound(); // nothing sounds until the next start
        if (Chance(0.8))
            Transport(0, 0);
    }

    std::vector<SliceInfo> HostSlices(uint32_t frames)
    {
        std::vector<SliceInfo> slices(Uniform(1, 48));
        for (SliceInfo& s : slices)
        {
            s.position = Uniform(0, frames + frames / 8 + 10); // some past the end
            s.sourcePosition = Chance(0.8) ? s.position : Uniform(0, 0xFFFFFFFFu);
            s.tickPosition = Chance(0.7) ? -1.0f : AnyFloat(0.0f, 3072.0f);
            s.strength = AnyFloat(0.0f, 1.0f);
            s.lockedOn = Chance(0.4);
            s.deleted = Chance(0.1);
            s.aboveThreshold = s.detected = Chance(0.5); // read-only: must be ignored
        }
        if (Chance(0.6))
            std::ranges::sort(slices, {}, &SliceInfo::position);
        if (Chance(0.2))
            slices.push_back(slices[Uniform(0, slices.size() - 1)]);
        return slices;
    }

    // Empty, single-frame and largest blocks, otherwise sizes spread evenly over the octaves.
    uint32_t BlockSize()
    {
        const uint32_t edges[] = {0, 1, kMaxBlock};
        const size_t kind = std::discrete_distribution<size_t>({2, 5, 8, 85})(rng);
        return kind < 3 ? edges[kind]
                        : static_cast<uint32_t>(std::exp(Real(0.0f, std::log(float(kMaxBlock)))));
    }

    void CallSomething()
    {
        KelvoraEngine& e = *engine;
        // 21 kinds of call; the three extra draws make automation mostly tempo, gain and pitch.
        const uint32_t pick = Uniform(0, 23) % 21;
        if (pick < std::size(kFloatSettings))
        {
            const FloatSetting& setting = kFloatSettings[pick];
            (e.*setting.set)(this->*setting.value = AnyFloat(setting.lo, setting.hi));
            return;
        }
        switch (pick)
        {
        case 7:
        {
            const float bpm = AnyFloat(30.0f, 300.0f);
            e.SetLoopTempo(bpm);
            fixedLoopTempo = Flushed(bpm) > 0.0f ? bpm : 0.0f;
            return;
        }
        case 8:
            return e.SetTailFromSoundEnd(tailFromSoundEnd = Chance(0.5));
        case 9:
        {
            const EnvelopeSettings set{AnyFloat(0.0f, 500.0f), AnyFloat(0.0f, 500.0f),
                                       AnyFloat(0.0f, 2000.0f), AnyFloat(-90.0f, 6.0f)};
            const bool none = Chance(0.03); // a null record changes nothing
            e.SetEnvelope(none ? nullptr : &set);
            envelope = none ? envelope : set;
            return;
        }
        case 10:
            return e.SetTicksPerBeat(ticksPerBeat = AnyCount(1, 960));
        case 11:
            meter = MeterLayout{AnyCount(1, 8), AnyCount(0, 7), AnyCount(1, 12), AnyCount(1, 16)};
            return e.SetMeter(&meter);
        case 12:
            return e.SetSampleRate(sampleRate = Chance(0.1) ? 0 : AnyRate(0.94));
        case 13:
            return e.SetOutputSampleRate(Chance(0.2) ? 0 : AnyRate(0.94));
        case 14:
            if (const float ms = AnyFloat(5.0f, 200.0f); Chance(0.15)) // each analyses anew
            {
                e.SetDetectionWindow(ms);
                const bool changed = Flushed(ms) != Flushed(detectionWindow);
                detectionWindow = changed ? ms : detectionWindow;
                sliceCount = changed && loopValid ? e.GetSliceCount() : sliceCount; // new points
            }
            return;
        case 15:
            return EditSlice();
        case 16:
        {
            const uint32_t position = Uniform(0, regionFrames + 20);
            const bool added = e.AddSlice(position);
            sliceCount += added;
            Expect(added == (position <= regionFrames), "AddSlice's result");
            return;
        }
        case 17:
        {
            const uint32_t index = Uniform(0, sliceCount + 2);
            Expect(e.DisableSlice(index) == (index < sliceCount), "DisableSlice's result");
            return;
        }
        case 18:
            return Transport(Chance(0.9) ? Uniform(0, 2) : Uniform(3, 0xFFFFFFFFu),
                             Uniform(0, sliceCount + 2));
        case 19:
            return QueryHostile();
        default:
            if (Chance(0.1))
                LoadLoop();
        }
    }

    void EditSlice()
    {
        const uint32_t index = Uniform(0, sliceCount + 1);
        SliceInfo before = HostSlice(0xABCDu);
        engine->GetSlice(index, &before);
        SliceInfo edit = HostSlice(Uniform(0, regionFrames + 1000)); // another source position
        edit.tickPosition = Chance(0.6) ? -1.0f : AnyFloat(0.0f, 3072.0f);
        edit.strength = AnyFloat(0.0f, 1.0f);
        edit.lockedOn = Chance(0.5);
        edit.deleted = Chance(0.2);
        Expect(engine->SetSlice(index, &edit) == (index < sliceCount), "SetSlice's result");
        SliceInfo read = HostSlice(0xABCDu);
        engine->GetSlice(index, &read);
        Expect(index < sliceCount || read.position == 0xABCDu, "A record GetSlice past the count");
        // The source position is never edited; aboveThreshold follows the sensitivity.
        edit.sourcePosition = before.sourcePosition;
        edit.aboveThreshold = read.aboveThreshold;
        Expect(index >= sliceCount || std::memcmp(&read, &edit, sizeof read) == 0,
               "GetSlice after SetSlice");
    }

    void Transport(uint32_t command, uint32_t index)
    {
        const bool valid = command < 2 || (command == 2 && index < sliceCount);
        const bool restarts =
            valid && (command == 2 || (command == 0 && engine->GetRenderedLength()));
        bool accepted = false;
        if (AllocationsIn([&] { accepted = engine->Transport(command, index); }) != 0)
            Fail("Transport allocated");
        if (restarts) // the voices start afresh with the current settings
            latchedBound = CurrentBound();
        if (valid)
            stopped = command == 1;
        Expect(accepted == valid, "Transport's result");
    }

    // Conversions and reads with absurd arguments: no crash, nothing changes.
    void QueryHostile()
    {
        const float value = AnyFloat(0.0f, 1000.0f);
        engine->TicksToSamples(value, AnyFloat(30.0f, 300.0f));
        engine->OutputToSourcePosition(Uniform(0, 0xFFFFFFFFu), value);
        engine->GetSliceRegion(Uniform(0, 0xFFFFFFFFu), nullptr, nullptr);
        const auto [start, length] = Region(*engine, Uniform(0, regionFrames));
        engine->GetSlices(nullptr);
        engine->GetMeter(nullptr);
        engine->GetEnvelope(nullptr);
        engine->SetMeter(nullptr);
        Expect(!engine->SetSlice(0, nullptr), "SetSlice without a record");
        Expect(Slices(*engine).size() == sliceCount, "GetSlices' count");
        Expect(regionFrames == 0 || start + length <= regionFrames, "GetSliceRegion's loop bounds");
    }

    bool RenderBlock(uint32_t frames)
    {
        const uint32_t buffers = std::max(loopChannels, 1u) + 1; // one past the source's
        const size_t stride = frames + 2 * kGuard;
        out.assign(buffers * stride, std::bit_cast<float>(kSentinelBits));
        pointers.resize(buffers);
        for (uint32_t c = 0; c < buffers; ++c)
            pointers[c] = out.data() + c * stride + kGuard;
        if (AllocationsIn([&] { engine->Render(frames, pointers.data()); }) != 0)
            return Fail("Render allocated");

        const uint32_t written = loaded ? loopChannels : 0;
        bool audible = false;
        for (size_t i = 0; i < out.size(); ++i)
        {
            const size_t channel = i / stride, frame = i % stride - kGuard; // wraps in the guards
            const bool inside = channel < written && frame < frames;
            if (inside == (std::bit_cast<uint32_t>(out[i]) == kSentinelBits))
                return Fail("a frame written outside the request or left unwritten: channel ",
                            channel, ", frame ", frame);
            if (inside && !std::isfinite(out[i]))
                return Fail("non-finite output at frame ", frame);
            if (inside && std::fabs(out[i]) > latchedBound)
                return Fail("output ", out[i], " beyond the bound ", latchedBound,
                            " of sane settings");
            audible |= inside && out[i] != 0.0f;
        }
        audibleBlocks += audible;
        const uint32_t position = engine->GetPlayPosition();
        return position == 0 || (!stopped && position <= regionFrames) ||
               Fail("play position ", position, stopped ? " while stopped" : " outside the loop");
    }

    // The largest magnitude two voices can reach with the current settings, or infinity while a
    // setting is out of its sane range (then only finiteness is checked).
    float CurrentBound() const
    {
        const auto Sane = [](float value, float lo, float hi)
        { return value >= lo && value <= hi; };
        const bool sane = Sane(gain, -200.0f, 24.0f) && Sane(transpose, -48.0f, 48.0f) &&
                          Sane(fineTune, -1200.0f, 1200.0f) && Sane(tailExtension, 0.0f, 1.0f) &&
                          Sane(tailLoopPosition, 0.0f, 1.0f) &&
                          Sane(envelope.attackMs, 0.0f, 1e5f) &&
                          Sane(envelope.holdMs, 0.0f, 1e5f) && Sane(envelope.decayMs, 0.0f, 1e5f) &&
                          (!(envelope.sustainDb > -80.0f) || envelope.sustainDb <= 24.0f);
        if (!sane)
            return INFINITY;
        const float sustain =
            envelope.sustainDb > 0.0f ? std::pow(10.0f, envelope.sustainDb / 20.0f) : 1.0f;
        return 2.0f * peak * std::pow(10.0f, gain / 20.0f) * sustain * 1.001f + 1e-30f;
    }

    void CheckGetters()
    {
        KelvoraEngine& e = *engine;
        const auto same = [](float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; };
        for (const FloatSetting& setting : kFloatSettings)
            Expect(same((e.*setting.get)(), this->*setting.value), setting.name);
        Expect(same(e.GetDetectionWindow(), detectionWindow), "GetDetectionWindow");
        Expect(e.GetTailFromSoundEnd() == tailFromSoundEnd, "GetTailFromSoundEnd");
        Expect(e.GetTicksPerBeat() == ticksPerBeat, "GetTicksPerBeat");
        Expect(e.GetSampleRate() == sampleRate, "GetSampleRate");
        Expect(e.GetOutputSampleRate() == (createOutputRate != 0 ? createOutputRate : createRate),
               "GetOutputSampleRate");
        Expect(e.GetSliceCount() == sliceCount, "GetSliceCount");
        Expect(same(e.GetLoopTempo(), LoopTempo()), "GetLoopTempo");
        MeterLayout m{};
        e.GetMeter(&m);
        Expect(std::memcmp(&m, &meter, sizeof m) == 0, "GetMeter");
        EnvelopeSettings env{};
        e.GetEnvelope(&env);
        Expect(same(env.attackMs, envelope.attackMs) && same(env.holdMs, envelope.holdMs) &&
                   same(env.decayMs, envelope.decayMs) &&
                   SustainReadsBack(envelope.sustainDb, env.sustainDb),
               "GetEnvelope");
    }

    // The loop's own tempo: the fixed one, or the meter's beats over the loop's minutes.
    float LoopTempo() const
    {
        if (fixedLoopTempo > 0.0f)
            return fixedLoopTempo;
        const uint64_t beats = uint64_t{meter.beatsPerBar} * meter.bars + meter.extraBeats;
        if (beats == 0 || regionFrames == 0 || sampleRate == 0)
            return 0.0f;
        return static_cast<float>(static_cast<double>(beats) /
                                  (static_cast<double>(regionFrames) / sampleRate / 60.0));
    }

    bool Expect(bool ok, const char* what) { return ok || Fail(what, " disagrees with the host"); }

    // Reports the first failure of the session; the replay seed names the calls that led to it.
    template <typename... Parts> bool Fail(const Parts&... parts)
    {
        std::ostringstream what;
        (what << ... << parts);
        if (!failed)
            ADD_FAILURE() << what.str() << "\nengine created at " << createRate << " Hz, output "
                          << createOutputRate << " Hz; loop of " << regionFrames << " frames, "
                          << loopChannels << " channels";
        failed = true;
        return false;
    }

    std::mt19937_64 rng;
    uint64_t& audibleBlocks; // blocks with sound, over all sessions
    EnginePtr engine{nullptr, KelvoraEngine::Destroy};
    uint32_t createRate = 0, createOutputRate = 0, sampleRate = 0;
    PlanarAudio audio{0, 0};
    uint32_t loopChannels = 0, regionFrames = 0;
    float peak = 0.0f, latchedBound = 0.0f;
    bool loaded = false, loopValid = false, stopped = true, failed = false;
    uint32_t sliceCount = 0;
    std::vector<float> out;
    std::vector<float*> pointers;

    // What the getters must read back.
    float sensitivity = 0.0f, detectionWindow = 75.0f, targetTempo = 0.0f, fixedLoopTempo = 0.0f;
    float transpose = 0.0f, fineTune = 0.0f, tailExtension = 0.0f, tailLoopPosition = 0.0f;
    float gain = 0.0f;
    bool tailFromSoundEnd = true;
    uint32_t ticksPerBeat = 96;
    MeterLayout meter{2, 0, 4, 4};
    EnvelopeSettings envelope{0.0f, 0.0f, 0.0f, -400.0f};

    // The settings that are one float, stored as given, with their sane ranges.
    using Api = KelvoraEngine;
    struct FloatSetting
    {
        const char* name;
        float Session::*value;
        void (Api::*set)(float);
        float (Api::*get)();
        float lo, hi;
    };
    static constexpr FloatSetting kFloatSettings[] = {
        {"Tempo", &Session::targetTempo, &Api::SetTempo, &Api::GetTempo, 30, 300},
        {"Gain", &Session::gain, &Api::SetGain, &Api::GetGain, -60, 12},
        {"Transpose", &Session::transpose, &Api::SetTranspose, &Api::GetTranspose, -24, 24},
        {"Sensitivity", &Session::sensitivity, &Api::SetSensitivity, &Api::GetSensitivity, 0, 1},
        {"FineTune", &Session::fineTune, &Api::SetFineTune, &Api::GetFineTune, -100, 100},
        {"TailExtension", &Session::tailExtension, &Api::SetTailExtension, &Api::GetTailExtension,
         0, 1},
        {"TailLoopPosition", &Session::tailLoopPosition, &Api::SetTailLoopPosition,
         &Api::GetTailLoopPosition, 0, 1},
    };
};

uint64_t EnvironmentNumber(const char* name, uint64_t fallback)
{
    const char* text = std::getenv(name);
    return text && *text ? std::strtoull(text, nullptr, 10) : fallback;
}

} // namespace

TEST(HostSimulation, RandomSessionsKeepTheHostContract)
{
    const uint64_t seed = EnvironmentNumber(
        "KELVORA_SIMULATION_SEED", std::chrono::system_clock::now().time_since_epoch().count());
    const double seconds = EnvironmentNumber("KELVORA_SIMULATION_SECONDS", 10);
    std::cout << "host simulation: seed " << seed << ", " << seconds << " s" << std::endl;
    ASSERT_GT(AllocationsIn([] { Make(2, 44100, 0); }), 0u); // it sees the library's allocations

    uint64_t sessions = 0, audibleBlocks = 0;
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&]
    { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    while (sessions == 0 || elapsed() < seconds)
    {
        const uint64_t sessionSeed = seed + sessions++;
        if (!Session(sessionSeed, audibleBlocks).Run())
        {
            ADD_FAILURE() << "replay with KELVORA_SIMULATION_SEED=" << sessionSeed;
            break;
        }
    }
    std::cout << "host simulation: " << sessions << " sessions, " << audibleBlocks
              << " audible blocks in " << elapsed() << " s\n";
    EXPECT_GT(audibleBlocks, 0u); // it did play
}
