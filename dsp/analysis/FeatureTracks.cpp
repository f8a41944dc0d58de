#include "dsp/analysis/FeatureTracks.h"

#include "dsp/foundation/DataTail1D.h"
#include "dsp/foundation/RealFFT.h"
#include "dsp/foundation/Window.h"

#include <algorithm>
#include <cmath>

namespace DSP
{

namespace
{

// The flux compares each frame and the 7 after it with the 8 before it.
constexpr uint32_t ContextPast = 8;
constexpr uint32_t ContextFuture = 7;
constexpr uint32_t ContextFrames = ContextPast + 1 + ContextFuture;

// Frames above this are not analysed: 16 magnitude rows of 2^25 + 1 bins must stay addressable
// with 32-bit counts. The detector itself never asks for more than 2^25.
constexpr int32_t LargestFrame = 1 << 26;

uint32_t FrameCount(uint32_t length, int32_t hop)
{
    return hop > 0 ? length / static_cast<uint32_t>(hop) : 0;
}

// Sizes a track to one zero per frame (four zeros when there are fewer than four frames) and
// says whether there is anything to compute into it.
bool PrepareTrack(uint32_t length, int32_t frameSize, int32_t hop, std::vector<float>& track)
{
    const uint32_t frames = FrameCount(length, hop);
    track.assign(std::max(frames, 4u), 0.0f);
    return frames >= 4 && frameSize > 0 && frameSize <= LargestFrame;
}

// The audio the tracks read: channel 0 and channel 1, either possibly absent.
struct TrackInput
{
    TrackInput(const float* const* channels, uint32_t channelCount, uint32_t length)
        : first(channels != nullptr && channelCount > 0 ? channels[0] : nullptr),
          second(channels != nullptr && channelCount > 1 ? channels[1] : nullptr), length(length)
    {
    }

    // Writes the windowed frame of n samples starting at sample `start`; samples outside the
    // audio contribute zero.
    void BuildFrame(int64_t start, int32_t n, const float* window, float* frame) const
    {
        const int64_t lo = std::clamp<int64_t>(-start, 0, n);
        const int64_t hi = std::clamp<int64_t>(static_cast<int64_t>(length) - start, lo, n);
        std::fill(frame, frame + lo, 0.0f);
        std::fill(frame + hi, frame + n, 0.0f);
        if (lo == hi)
            return;
        // x[i - lo] is sample start + i, which lies inside the audio for lo <= i < hi.
        if (first != nullptr)
        {
            const float* x = first + (start + lo);
            for (int64_t i = lo; i < hi; ++i)
                frame[i] = x[i - lo] * window[i];
        }
        else
        {
            std::fill(frame + lo, frame + hi, 0.0f);
        }
        if (second != nullptr)
        {
            const float* x = second + (start + lo);
            for (int64_t i = lo; i < hi; ++i)
                frame[i] += x[i - lo] * window[i];
        }
    }

    const float* first;
    const float* second;
    uint32_t length;
};

int64_t FrameStart(int32_t offset, int32_t frameSize, int32_t hop, uint32_t frame)
{
    // Frames are centred on multiples of the hop.
    return static_cast<int64_t>(offset) - frameSize / 2 + static_cast<int64_t>(frame) * hop;
}

} // namespace

void SpectralFluxTrack(const float* const* channels, uint32_t channelCount, uint32_t length,
                       float /*sampleRate*/, int32_t offset, int32_t frameSize, int32_t hop,
                       std::vector<float>& out)
{
    if (!PrepareTrack(length, frameSize, hop, out))
        return;
    const uint32_t frames = static_cast<uint32_t>(out.size());

    const int32_t n = frameSize;
    const uint32_t bins = static_cast<uint32_t>(n / 2) + 1;
    RealFFT fft(n);
    // The transform may be longer than the frame; the zeros past n pad it.
    const uint32_t transformLength = 1u << RealFFT::OrderFor(n);
    DataTail1D window(static_cast<uint32_t>(n));
    MakeWindow(window.Data(), n, WindowNorm::UnitMean, 1.0f);
    DataTail1D frame(transformLength);
    DataTail1D spectrum(transformLength + 2);

    // Only the 16 frames of one context are ever needed at a time, so the magnitudes live in a
    // ring of 16 rows rather than a whole-loop matrix: memory stays proportional to the frame
    // size however long the loop is, and every sum still reads the same values in the same order.
    const uint32_t rows = std::min(frames, ContextFrames);
    DataTail1D magnitudes(rows * bins);
    auto row = [&](uint64_t f) { return magnitudes.Data() + (f % rows) * bins; };

    std::vector<double> past(bins);
    std::vector<double> future(bins);
    const uint64_t last = frames - 1;
    auto flux = [&](uint64_t f)
    {
        std::fill(past.begin(), past.end(), 0.0);
        for (uint64_t g = f >= ContextPast ? f - ContextPast : 0; g < f; ++g)
        {
            const float* m = row(g);
            for (uint32_t k = 0; k < bins; ++k)
                past[k] += m[k];
        }
        // Near the end the last frame stands in for the missing ones, several times over.
        std::fill(future.begin(), future.end(), 0.0);
        for (uint64_t j = 1; j <= ContextFuture; ++j)
        {
            const float* m = row(std::min(f + j, last));
            for (uint32_t k = 0; k < bins; ++k)
                future[k] += m[k];
        }
        const float* current = row(f);
        double sum = 0.0;
        for (uint32_t k = 0; k < bins; ++k)
        {
            const double d = static_cast<double>(current[k]) - past[k] + future[k];
            if (d > 0.0)
                sum += d;
        }
        return static_cast<float>(sum / bins);
    };

    const TrackInput input(channels, channelCount, length);
    uint64_t due = 0; // the next frame whose flux has not been written
    for (uint32_t g = 0; g < frames; ++g)
    {
        input.BuildFrame(FrameStart(offset, n, hop, g), n, window.Data(), frame.Data());
        fft.Forward(frame.Data(), spectrum.Data());
        const float* s = spectrum.Data();
        float* m = row(g);
        for (uint32_t k = 0; k < bins; ++k)
        {
            const double re = s[2 * k];
            const double im = s[2 * k + 1];
            const float power = static_cast<float>(re * re + im * im);
            m[k] = std::sqrt(std::sqrt(power));
        }
        // A frame's flux is due once its last future frame (clamped to the end) is in.
        while (due <= last && std::min(due + ContextFuture, last) <= g)
        {
            out[due] = flux(due);
            ++due;
        }
    }
}

void EnergyTrack(const float* const* channels, uint32_t channelCount, uint32_t length,
                 float /*sampleRate*/, int32_t offset, int32_t frameSize, int32_t hop,
                 std::vector<float>& outEnergy)
{
    if (!PrepareTrack(length, frameSize, hop, outEnergy))
        return;
    const uint32_t frames = static_cast<uint32_t>(outEnergy.size());

    const int32_t n = frameSize;
    DataTail1D window(static_cast<uint32_t>(n));
    MakeWindow(window.Data(), n, WindowNorm::UnitMean, 1.0f);
    DataTail1D frame(static_cast<uint32_t>(n));

    const TrackInput input(channels, channelCount, length);
    for (uint32_t f = 0; f < frames; ++f)
    {
        input.BuildFrame(FrameStart(offset, n, hop, f), n, window.Data(), frame.Data());
        const float* x = frame.Data();
        double energy = 0.0;
        for (int32_t i = 0; i < n; ++i)
            energy += static_cast<double>(x[i]) * x[i];
        // The energy is a stored float before its roots are taken.
        outEnergy[f] = std::sqrt(std::sqrt(static_cast<float>(energy)));
    }
}

} // namespace DSP
