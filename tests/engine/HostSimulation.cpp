// A seeded host simulation through the shared library and the public header: engines at random
// rates and channel counts, loops from empty to a minute (silence, noise, clicks, DC, denormals,
// bursts), analysed or sliced by host lists (unsorted, duplicated, past the end), rendered in
// random blocks of 1 to 8192 frames while every setter is called between blocks with normal,
// edge, NaN, infinite, huge and denormal values. After every block: exactly the requested frames
// of exactly the loop's channels were written, the output is finite (and bounded while the
// settings are sane), the play position lies in the loop (its end included: a slice in its tail
// reports its end), every getter reads back what was set, and neither Render nor Transport
// allocated (the global allocation functions are replaced, for the whole program and the engine
// library, by counting forwards to malloc/free).
//
// It runs sessions for KELVORA_SIMULATION_SECONDS (default 10) from KELVORA_SIMULATION_SEED
// (default: the clock). Session i uses seed + i and a failure names its session seed, so
// KELVORA_SIMULATION_SEED=<that seed> replays it first.
#include "tests/engine/HostEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <new>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace
{

std::atomic<bool> counting{false};
std::atomic<size_t> allocations{0};

void* Allocate(size_t size, size_t alignment, bool nothrow)
{
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    void* block = nullptr;
    if (alignment <= alignof(std::max_align_t))
        block = std::malloc(size ? size : 1);
    else if (posix_memalign(&block, alignment, size ? size : 1) != 0)
        block = nullptr;
    if (!block && !nothrow)
        throw std::bad_alloc();
    return block;
}

size_t Align(std::align_val_t alignment)
{
    return static_cast<size_t>(alignment);
}

using NoThrow = const std::nothrow_t&;
using Alignment = std::align_val_t;

// Counts the operator new calls made while it lives.
struct AllocationCounter
{
    AllocationCounter() { allocations = 0, counting = true; }
    ~AllocationCounter() { counting = false; }
    size_t Count() const { return allocations; }
};

} // namespace

// clang-format off
void* operator new(size_t n) { return Allocate(n, 0, false); }
void* operator new[](size_t n) { return Allocate(n, 0, false); }
void* operator new(size_t n, NoThrow) noexcept { return Allocate(n, 0, true); }
void* operator new[](size_t n, NoThrow) noexcept { return Allocate(n, 0, true); }
void* operator new(size_t n, Alignment a) { return Allocate(n, Align(a), false); }
void* operator new[](size_t n, Alignment a) { return Allocate(n, Align(a), false); }
void* operator new(size_t n, Alignment a, NoThrow) noexcept { return Allocate(n, Align(a), true); }
void* operator new[](size_t n, Alignment a, NoThrow) noexcept { return Allocate(n, Align(a), true); }
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

using Rng = std::mt19937_64;

constexpr uint32_t kMaxBlock = 8192;
constexpr uint32_t kGuard = 16;                 // sentinel frames on either side of each buffer
constexpr uint32_t kSentinelBits = 0x7FC0DEADu; // a NaN no arithmetic produces
constexpr uint64_t kMaxLoopSamples = 4u << 20;  // frames x channels of the largest loop
const uint32_t kRates[] = {8000,  11025, 16000,  22050,  32000,  44100, 48000,
                           88200, 96000, 176400, 192000, 352800, 384000};

uint32_t Bits(float value)
{
    return std::bit_cast<uint32_t>(value);
}

uint32_t Uniform(Rng& rng, uint32_t lo, uint32_t hi)
{
    return std::uniform_int_distribution<uint32_t>(lo, hi)(rng);
}

float Real(Rng& rng, float lo, float hi)
{
    return std::uniform_real_distribution<float>(lo, hi)(rng);
}

bool Chance(Rng& rng, double p)
{
    return std::bernoulli_distribution(p)(rng);
}

// Half the time a value in the setting's sane range, otherwise one of the values hosts and
// automation lanes get wrong.
float AnyFloat(Rng& rng, float lo, float hi)
{
    if (Chance(rng, 0.5))
        return Real(rng, lo, hi);
    const float hostile[] = {0.0f,     -0.0f,    lo,        hi,      1.0f,         -1.0f,
                             NAN,      INFINITY, -INFINITY, 1e30f,   -1e30f,       FLT_MAX,
                             -FLT_MAX, 1e-40f,   -1e-40f,   FLT_MIN, FLT_TRUE_MIN, -FLT_TRUE_MIN};
    return hostile[Uniform(rng, 0, std::size(hostile) - 1)];
}

uint32_t AnyCount(Rng& rng, uint32_t lo, uint32_t hi)
{
    const uint32_t hostile[] = {0u, 1u, lo, hi, 0xFFFFFFFFu, 0x80000000u};
    return Chance(rng, 0.7) ? Uniform(rng, lo, hi) : hostile[Uniform(rng, 0, 5)];
}

uint32_t AnyRate(Rng& rng)
{
    if (Chance(rng, 0.7))
        return kRates[Uniform(rng, 0, std::size(kRates) - 1)];
    return Chance(rng, 0.8) ? Uniform(rng, 8000, 384000) : AnyCount(rng, 1, 1000000);
}

bool Sane(float value, float lo, float hi)
{
    return value >= lo && value <= hi;
}

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
    if (set < 700.0f)
        return std::fabs(got - set) <= 0.01f + 1e-5f * std::fabs(set);
    return set > 800.0f ? got == INFINITY : true;
}

struct Coverage
{
    uint64_t sessions = 0, blocks = 0, calls = 0, frames = 0, audibleBlocks = 0;
};

// One engine, its loop audio and what the host expects every getter to say.
class Session
{
public:
    Session(uint64_t seed, Coverage& coverage) : rng(seed), coverage(coverage)
    {
        createRate = Chance(rng, 0.7) ? kRates[Uniform(rng, 0, std::size(kRates) - 1)]
                                      : Uniform(rng, 8000, 384000);
        createOutputRate = Chance(rng, 0.5) ? 0 : AnyRate(rng);
        engine = Make(Uniform(rng, 1, 8), createRate, createOutputRate);
        sampleRate = createRate;
    }

    // Runs the session; false after the first failed check, which has been reported.
    bool Run()
    {
        if (!engine)
            return Fail("Create refused a valid engine");
        if (!CheckGetters() || (Chance(rng, 0.2) && !RenderBlock(Uniform(rng, 1, 512))))
            return false; // a fresh engine has its defaults and renders nothing
        if (!LoadLoop() || !CheckGetters())
            return false;
        const uint32_t blocks = Uniform(rng, 8, 120);
        for (uint32_t b = 0; b < blocks; ++b)
        {
            for (uint32_t calls = Chance(rng, 0.6) ? Uniform(rng, 1, 3) : 0; calls > 0; --calls)
            {
                if (!CallSomething())
                    return false;
                // A sounding slice keeps the gain and envelope it started with.
                latchedBound = std::max(latchedBound, CurrentBound());
            }
            if (!CheckGetters() || !RenderBlock(BlockSize()))
                return false;
        }
        return true;
    }

private:
    // Loop audio ---------------------------------------------------------------------------------

    bool LoadLoop()
    {
        const uint32_t channelCount = Chance(rng, 0.02) ? 0 : Uniform(rng, 1, 8);
        const double seconds = LoopSeconds();
        uint64_t frames = static_cast<uint64_t>(std::llround(seconds * sampleRate));
        frames = std::min<uint64_t>(frames, kMaxLoopSamples / std::max(channelCount, 1u));
        audio = PlanarAudio(channelCount, static_cast<uint32_t>(frames));
        peak = 0.0f;
        for (auto& channel : audio.samples)
            Fill(channel);

        std::vector<SliceInfo> slices;
        if (Chance(rng, 0.5))
            slices = HostSlices(static_cast<uint32_t>(frames));
        const float tempo = Chance(rng, 0.5) ? 0.0f : AnyFloat(rng, 30.0f, 300.0f);
        Log("SetLoop", frames, channelCount, tempo, slices.size());
        engine->SetLoop(static_cast<uint32_t>(frames), channelCount, audio.Channels(), tempo,
                        slices.empty() ? nullptr : slices.data(),
                        static_cast<uint32_t>(slices.size()));
        ++coverage.calls;
        loopChannels = channelCount;
        loaded = true;
        stopped = true;
        loopValid = frames > 0 && channelCount > 0 && sampleRate > 0;
        if (!slices.empty())
            fixedLoopTempo = Flushed(tempo) > 0.0f ? tempo : 0.0f;
        if (!slices.empty() || loopValid)
        {
            // An import or an analysis starts the loop model afresh.
            regionFrames = static_cast<uint32_t>(frames);
            sensitivity = 0.0f;
            meter = MeterLayout{2, 0, 4, 4};
            fineTune = transpose = tailExtension = gain = 0.0f;
            tailLoopPosition = slices.empty() ? 0.5f : 0.0f;
            tailFromSoundEnd = true;
            envelope = EnvelopeSettings{0.0f, 0.0f, 0.0f, -400.0f};
            targetTempo = LoopTempo(); // the loop starts unstretched
        }
        sliceCount = slices.empty() ? engine->GetSliceCount() : slices.size();
        if (!slices.empty() && !ImportedAsGiven(slices))
            return false;
        latchedBound = CurrentBound(); // nothing sounds until the next start
        if (!Chance(rng, 0.8))
            return true;
        ++coverage.calls;
        return Transport(0, 0);
    }

    // The host's list comes back in its order, with the host's values, as host points (the
    // read-only flags false: the sensitivity starts at 0).
    bool ImportedAsGiven(std::vector<SliceInfo> given)
    {
        const std::vector<SliceInfo> got = Slices(*engine);
        for (size_t i = 0; i < got.size(); ++i)
        {
            given[i].aboveThreshold = given[i].detected = false;
            if (std::memcmp(&got[i], &given[i], sizeof(SliceInfo)) != 0)
                return Fail("slice " + std::to_string(i) + " of the host's list changed on import");
        }
        return true;
    }

    double LoopSeconds()
    {
        const double pick = Real(rng, 0.0f, 1.0f);
        if (pick < 0.08)
            return 0.0;
        if (pick < 0.18)
            return Uniform(rng, 1, 64) / static_cast<double>(sampleRate);
        if (pick < 0.75)
            return Real(rng, 0.0f, 2.0f);
        if (pick < 0.97)
            return Real(rng, 2.0f, 10.0f);
        return Real(rng, 10.0f, 60.0f);
    }

    // Silence, noise, clicks, DC, noise of denormal size or decaying bursts.
    void Fill(std::vector<float>& channel)
    {
        const uint32_t kind = Uniform(rng, 0, 5);
        const float level = Real(rng, 0.0f, 1.0f);
        std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
        const size_t spacing = Uniform(rng, 50, 20000);
        const auto sample = [&](size_t j)
        {
            const float click = j % spacing == 0 ? (j / spacing % 2 ? level : -level) : 0.0f;
            const float burst = std::exp(-static_cast<float>(j % spacing) / 800.0f);
            const float values[] = {0.0f, level, click, level, 1e-39f, level * burst};
            return kind == 1 || kind >= 4 ? values[kind] * noise(rng) : values[kind];
        };
        for (size_t j = 0; j < channel.size(); ++j)
            peak = std::max(peak, std::fabs(channel[j] = sample(j)));
    }

    std::vector<SliceInfo> HostSlices(uint32_t frames)
    {
        std::vector<SliceInfo> slices(Uniform(rng, 1, 48));
        for (SliceInfo& s : slices)
        {
            s.position = Uniform(rng, 0, frames + frames / 8 + 10); // some past the end
            s.sourcePosition = Chance(rng, 0.8) ? s.position : Uniform(rng, 0, 0xFFFFFFFFu);
            s.tickPosition = Chance(rng, 0.7) ? -1.0f : AnyFloat(rng, 0.0f, 3072.0f);
            s.strength = AnyFloat(rng, 0.0f, 1.0f);
            s.lockedOn = Chance(rng, 0.4);
            s.deleted = Chance(rng, 0.1);
            s.aboveThreshold = s.detected = Chance(rng, 0.5); // read-only: must be ignored
        }
        if (Chance(rng, 0.6))
            std::sort(slices.begin(), slices.end(),
                      [](const SliceInfo& a, const SliceInfo& b)
                      { return a.position < b.position; });
        if (Chance(rng, 0.2))
            slices.push_back(slices[Uniform(rng, 0, slices.size() - 1)]);
        return slices;
    }

    // Automation ---------------------------------------------------------------------------------

    uint32_t BlockSize()
    {
        const double pick = Real(rng, 0.0f, 1.0f);
        if (pick < 0.02)
            return 0;
        if (pick < 0.07)
            return 1;
        if (pick < 0.15)
            return kMaxBlock;
        return static_cast<uint32_t>(std::exp(Real(rng, 0.0f, std::log(float(kMaxBlock)))));
    }

    bool CallSomething()
    {
        ++coverage.calls;
        KelvoraEngine& e = *engine;
        const uint32_t pick = Uniform(rng, 0, 22);
        if (pick < std::size(kFloatSettings))
        {
            const FloatSetting& setting = kFloatSettings[pick];
            this->*setting.value = AnyFloat(rng, setting.lo, setting.hi);
            Log(setting.name, this->*setting.value);
            (e.*setting.set)(this->*setting.value);
            return true;
        }
        switch (pick)
        {
        case 7:
        {
            const float bpm = AnyFloat(rng, 30.0f, 300.0f);
            Log("SetLoopTempo", bpm);
            e.SetLoopTempo(bpm);
            fixedLoopTempo = Flushed(bpm) > 0.0f ? bpm : 0.0f;
            break;
        }
        case 8:
            tailFromSoundEnd = Chance(rng, 0.5);
            Log("SetTailFromSoundEnd", tailFromSoundEnd);
            e.SetTailFromSoundEnd(tailFromSoundEnd);
            break;
        case 9:
        {
            const EnvelopeSettings set{AnyFloat(rng, 0.0f, 500.0f), AnyFloat(rng, 0.0f, 500.0f),
                                       AnyFloat(rng, 0.0f, 2000.0f), AnyFloat(rng, -90.0f, 6.0f)};
            const bool none = Chance(rng, 0.03); // a null record changes nothing
            Log("SetEnvelope", none, set.attackMs, set.holdMs, set.decayMs, set.sustainDb);
            e.SetEnvelope(none ? nullptr : &set);
            envelope = none ? envelope : set;
            break;
        }
        case 10:
            ticksPerBeat = AnyCount(rng, 1, 960);
            Log("SetTicksPerBeat", ticksPerBeat);
            e.SetTicksPerBeat(ticksPerBeat);
            break;
        case 11:
            meter = MeterLayout{AnyCount(rng, 1, 8), AnyCount(rng, 0, 7), AnyCount(rng, 1, 12),
                                AnyCount(rng, 1, 16)};
            Log("SetMeter", meter.bars, meter.extraBeats, meter.beatsPerBar, meter.beatUnit);
            e.SetMeter(&meter);
            break;
        case 12:
        {
            const uint32_t rate = Chance(rng, 0.1) ? 0 : AnyRate(rng);
            Log("SetSampleRate", rate);
            e.SetSampleRate(rate);
            sampleRate = rate;
            break;
        }
        case 13:
        {
            const uint32_t rate = Chance(rng, 0.2) ? 0 : AnyRate(rng);
            Log("SetOutputSampleRate", rate);
            e.SetOutputSampleRate(rate);
            break;
        }
        case 14:
            if (!Chance(rng, 0.15)) // each change analyses the whole loop again
                return true;
            return SetDetectionWindow(AnyFloat(rng, 5.0f, 200.0f));
        case 15:
            return EditSlice();
        case 16:
        {
            const uint32_t position = Uniform(rng, 0, regionFrames + 20);
            Log("AddSlice", position);
            const bool added = e.AddSlice(position);
            sliceCount += added;
            return Expect(added == (position <= regionFrames), "AddSlice's result");
        }
        case 17:
        {
            const uint32_t index = Uniform(rng, 0, static_cast<uint32_t>(sliceCount) + 2);
            Log("DisableSlice", index);
            return Expect(e.DisableSlice(index) == (index < sliceCount), "DisableSlice's result");
        }
        case 18:
            return Transport(Chance(rng, 0.9) ? Uniform(rng, 0, 2) : Uniform(rng, 3, 0xFFFFFFFFu),
                             Uniform(rng, 0, static_cast<uint32_t>(sliceCount) + 2));
        case 19:
            return QueryHostile();
        case 20:
            return !Chance(rng, 0.1) || LoadLoop();
        default: // automation is mostly gain, tempo and pitch
            gain = AnyFloat(rng, -60.0f, 12.0f);
            transpose = AnyFloat(rng, -24.0f, 24.0f);
            Log("SetGain+SetTranspose", gain, transpose);
            e.SetGain(gain);
            e.SetTranspose(transpose);
            break;
        }
        return true;
    }

    bool SetDetectionWindow(float ms)
    {
        Log("SetDetectionWindow", ms);
        engine->SetDetectionWindow(ms);
        if (Flushed(ms) == Flushed(detectionWindow))
            return true;
        detectionWindow = ms;
        if (loopValid)
            sliceCount = engine->GetSliceCount(); // a fresh detection replaced the points
        return true;
    }

    bool EditSlice()
    {
        const uint32_t index = Uniform(rng, 0, static_cast<uint32_t>(sliceCount) + 1);
        SliceInfo edit{};
        edit.position = Uniform(rng, 0, regionFrames + 1000);
        edit.tickPosition = Chance(rng, 0.6) ? -1.0f : AnyFloat(rng, 0.0f, 3072.0f);
        edit.strength = AnyFloat(rng, 0.0f, 1.0f);
        edit.lockedOn = Chance(rng, 0.5);
        edit.deleted = Chance(rng, 0.2);
        Log("SetSlice", index, edit.position, edit.tickPosition, edit.strength);
        if (!Expect(engine->SetSlice(index, &edit) == (index < sliceCount), "SetSlice's result"))
            return false;
        SliceInfo read = HostSlice(0xABCDu);
        engine->GetSlice(index, &read);
        if (index >= sliceCount)
            return Expect(read.position == 0xABCDu, "GetSlice past the count wrote a record");
        return Expect(
            read.position == edit.position && Bits(read.strength) == Bits(edit.strength) &&
                Bits(read.tickPosition) == Bits(edit.tickPosition) &&
                read.lockedOn == edit.lockedOn && read.deleted == edit.deleted && !read.detected,
            "GetSlice after SetSlice");
    }

    bool Transport(uint32_t command, uint32_t index)
    {
        Log("Transport", command, index);
        const bool restarts = (command == 0 && engine->GetRenderedLength() != 0) ||
                              (command == 2 && index < sliceCount);
        AllocationCounter counter;
        const bool accepted = engine->Transport(command, index);
        if (counter.Count() != 0)
            return Fail("Transport allocated");
        if (restarts) // the voices start afresh with the current settings
            latchedBound = CurrentBound();
        if (command < 2 || (command == 2 && index < sliceCount))
            stopped = command == 1;
        const bool expected = command < 2 || (command == 2 && index < sliceCount);
        return Expect(accepted == expected, "Transport's result");
    }

    // Conversions and reads with absurd arguments: no crash, nothing changes.
    bool QueryHostile()
    {
        const float value = AnyFloat(rng, 0.0f, 1000.0f);
        Log("queries", value);
        engine->TicksToSamples(value, AnyFloat(rng, 30.0f, 300.0f));
        engine->OutputToSourcePosition(Uniform(rng, 0, 0xFFFFFFFFu), value);
        engine->GetSliceRegion(Uniform(rng, 0, 0xFFFFFFFFu), nullptr, nullptr);
        const std::pair<uint32_t, uint32_t> region = Region(*engine, Uniform(rng, 0, regionFrames));
        engine->GetSlices(nullptr);
        engine->GetMeter(nullptr);
        engine->GetEnvelope(nullptr);
        engine->SetMeter(nullptr);
        return Expect(!engine->SetSlice(0, nullptr), "SetSlice without a record") &&
               Expect(Slices(*engine).size() == sliceCount, "GetSlices' count") &&
               Expect(regionFrames == 0 || region.first + region.second <= regionFrames,
                      "GetSliceRegion outside the loop");
    }

    // Checks -------------------------------------------------------------------------------------

    bool RenderBlock(uint32_t frames)
    {
        const uint32_t buffers = std::max<uint32_t>(loopChannels, 1) + 1; // one past the source's
        const size_t stride = frames + 2 * kGuard;
        out.assign(buffers * stride, std::bit_cast<float>(kSentinelBits));
        pointers.resize(buffers);
        for (uint32_t c = 0; c < buffers; ++c)
            pointers[c] = out.data() + c * stride + kGuard;
        Log("Render", frames);
        {
            AllocationCounter counter;
            engine->Render(frames, pointers.data());
            if (counter.Count() != 0)
                return Fail("Render allocated");
        }
        ++coverage.blocks;
        coverage.frames += frames;

        const uint32_t written = loaded ? loopChannels : 0;
        const float bound = latchedBound;
        bool audible = false;
        for (uint32_t c = 0; c < buffers; ++c)
            for (size_t k = 0; k < stride; ++k)
            {
                const float v = out[c * stride + k];
                const bool inside = c < written && k >= kGuard && k < kGuard + frames;
                if (!inside && Bits(v) != kSentinelBits)
                    return Fail("Render wrote outside the requested frames and channels (channel " +
                                std::to_string(c) + ", offset " + std::to_string(k) + ")");
                if (inside && Bits(v) == kSentinelBits)
                    return Fail("Render left frame " + std::to_string(k - kGuard) + " unwritten");
                if (inside && !std::isfinite(v))
                    return Fail("non-finite output at frame " + std::to_string(k - kGuard));
                audible |= inside && v != 0.0f;
                if (inside && std::fabs(v) > bound)
                    return Fail("output " + std::to_string(v) + " beyond the bound " +
                                std::to_string(bound) + " of sane settings");
            }

        coverage.audibleBlocks += audible;
        const uint32_t position = engine->GetPlayPosition();
        if (position != 0 && (stopped || position > regionFrames))
            return Fail("play position " + std::to_string(position) +
                        (stopped ? " while stopped" : " outside the loop"));
        return true;
    }

    // The largest magnitude two voices can reach with the current settings, or infinity while a
    // setting is out of its sane range (then only finiteness is checked).
    float CurrentBound() const
    {
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

    bool CheckGetters()
    {
        KelvoraEngine& e = *engine;
        const auto same = [](float a, float b) { return Bits(a) == Bits(b); };
        for (const FloatSetting& setting : kFloatSettings)
            if (!Expect(same((e.*setting.get)(), this->*setting.value), setting.name))
                return false;
        if (!Expect(same(e.GetDetectionWindow(), detectionWindow), "GetDetectionWindow") ||
            !Expect(e.GetTailFromSoundEnd() == tailFromSoundEnd, "GetTailFromSoundEnd") ||
            !Expect(e.GetTicksPerBeat() == ticksPerBeat, "GetTicksPerBeat") ||
            !Expect(e.GetSampleRate() == sampleRate, "GetSampleRate") ||
            !Expect(e.GetOutputSampleRate() ==
                        (createOutputRate != 0 ? createOutputRate : createRate),
                    "GetOutputSampleRate") ||
            !Expect(e.GetSliceCount() == sliceCount, "GetSliceCount"))
            return false;

        MeterLayout m{};
        e.GetMeter(&m);
        if (!Expect(std::memcmp(&m, &meter, sizeof m) == 0, "GetMeter"))
            return false;
        EnvelopeSettings env{};
        e.GetEnvelope(&env);
        if (!Expect(same(env.attackMs, envelope.attackMs) && same(env.holdMs, envelope.holdMs) &&
                        same(env.decayMs, envelope.decayMs) &&
                        SustainReadsBack(envelope.sustainDb, env.sustainDb),
                    "GetEnvelope"))
            return false;

        return Expect(same(e.GetLoopTempo(), LoopTempo()), "GetLoopTempo");
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

    // Reporting ----------------------------------------------------------------------------------

    template <typename... Args> void Log(const char* call, Args... args)
    {
        std::ostringstream line;
        line << call << '(';
        ((line << args << ' '), ...);
        line << ')';
        history.push_back(line.str());
        if (history.size() > 24)
            history.pop_front();
    }

    bool Expect(bool ok, const std::string& what)
    {
        return ok || Fail(what + " disagrees with what the host set");
    }

    bool Fail(const std::string& what)
    {
        std::string calls;
        for (const std::string& call : history)
            calls += "  " + call + "\n";
        ADD_FAILURE() << what << "\nengine created at " << createRate << " Hz, output "
                      << createOutputRate << " Hz; loop of " << regionFrames << " frames, "
                      << loopChannels << " channels\nlast calls:\n"
                      << calls;
        return false;
    }

    Rng rng;
    Coverage& coverage;
    EnginePtr engine{nullptr, KelvoraEngine::Destroy};
    uint32_t createRate = 0, createOutputRate = 0, sampleRate = 0;
    PlanarAudio audio{0, 0};
    uint32_t loopChannels = 0, regionFrames = 0;
    float peak = 0.0f, latchedBound = 0.0f;
    bool loaded = false, loopValid = false, stopped = true;
    size_t sliceCount = 0;
    std::vector<float> out;
    std::vector<float*> pointers;
    std::deque<std::string> history;

    // What the getters must read back.
    float sensitivity = 0.0f, detectionWindow = 75.0f, targetTempo = 0.0f, fixedLoopTempo = 0.0f;
    float transpose = 0.0f, fineTune = 0.0f, tailExtension = 0.0f, tailLoopPosition = 0.0f;
    float gain = 0.0f;
    bool tailFromSoundEnd = true;
    uint32_t ticksPerBeat = 96;
    MeterLayout meter{2, 0, 4, 4};
    EnvelopeSettings envelope{0.0f, 0.0f, 0.0f, -400.0f};

    // The settings that are one float, stored as given, with their sane ranges.
    struct FloatSetting
    {
        const char* name;
        float Session::*value;
        void (KelvoraEngine::*set)(float);
        float (KelvoraEngine::*get)();
        float lo, hi;
    };
    static constexpr FloatSetting kFloatSettings[] = {
        {"Sensitivity", &Session::sensitivity, &KelvoraEngine::SetSensitivity,
         &KelvoraEngine::GetSensitivity, 0.0f, 1.0f},
        {"Tempo", &Session::targetTempo, &KelvoraEngine::SetTempo, &KelvoraEngine::GetTempo, 30.0f,
         300.0f},
        {"Transpose", &Session::transpose, &KelvoraEngine::SetTranspose,
         &KelvoraEngine::GetTranspose, -24.0f, 24.0f},
        {"FineTune", &Session::fineTune, &KelvoraEngine::SetFineTune, &KelvoraEngine::GetFineTune,
         -100.0f, 100.0f},
        {"TailExtension", &Session::tailExtension, &KelvoraEngine::SetTailExtension,
         &KelvoraEngine::GetTailExtension, 0.0f, 1.0f},
        {"TailLoopPosition", &Session::tailLoopPosition, &KelvoraEngine::SetTailLoopPosition,
         &KelvoraEngine::GetTailLoopPosition, 0.0f, 1.0f},
        {"Gain", &Session::gain, &KelvoraEngine::SetGain, &KelvoraEngine::GetGain, -60.0f, 12.0f},
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
        "KELVORA_SIMULATION_SEED",
        static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()));
    const double seconds = static_cast<double>(EnvironmentNumber("KELVORA_SIMULATION_SECONDS", 10));
    std::printf("host simulation: seed %llu, %.0f s\n", static_cast<unsigned long long>(seed),
                seconds);

    {
        AllocationCounter counter; // it must see the library's own allocations
        Make(2, 44100, 0);
        ASSERT_GT(counter.Count(), 0u);
    }
    Coverage coverage;
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&]
    { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    while (coverage.sessions == 0 || elapsed() < seconds)
    {
        const uint64_t sessionSeed = seed + coverage.sessions++;
        if (!Session(sessionSeed, coverage).Run())
        {
            ADD_FAILURE() << "replay with KELVORA_SIMULATION_SEED=" << sessionSeed;
            break;
        }
    }
    std::printf("host simulation: %llu sessions, %llu blocks (%llu audible), %llu frames, %llu "
                "setter and transport calls in %.1f s\n",
                static_cast<unsigned long long>(coverage.sessions),
                static_cast<unsigned long long>(coverage.blocks),
                static_cast<unsigned long long>(coverage.audibleBlocks),
                static_cast<unsigned long long>(coverage.frames),
                static_cast<unsigned long long>(coverage.calls), elapsed());
    EXPECT_GT(coverage.audibleBlocks, 0u); // it did play
}
