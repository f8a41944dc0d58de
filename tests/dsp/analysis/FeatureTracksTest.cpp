#include "dsp/analysis/FeatureTracks.h"
#include "dsp/analysis/TransientDetector.h"
#include "dsp/foundation/KernelPath.h"
#include "dsp/foundation/RealFFT.h"
#include "dsp/foundation/Window.h"
#include "tests/dsp/analysis/AnalysisAudio.h"
#include "tests/dsp/foundation/ReferenceDft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>

namespace
{

using DSP::TransientDetector;
using ReferenceDft::RandomSignal;

TEST(FeatureTracks, FrameSizesAndHops)
{
    // 0.004 as a float is a hair above 0.004, so 128 samples at 32 kHz is still too short.
    const std::pair<float, int32_t> sizes[] = {
        {22050.0f, 128}, {31999.0f, 128}, {32000.0f, 256},     {44100.0f, 256},
        {96000.0f, 512}, {1.0f, 16},      {INFINITY, 1 << 25}, {NAN, 16}};
    for (auto [rate, size] : sizes)
        EXPECT_EQ(TransientDetector::BaseFrameSize(rate), size) << rate;
    const Audio audio{RandomSignal(48000, 1, 0.5f)};
    TransientDetector d;
    d.ComputeFeatures(Pointers(audio).data(), 1, 48000, 44100.0f);
    EXPECT_EQ(d.hopCoarse, 64);
    EXPECT_EQ(d.hopFine, 16);
    EXPECT_EQ(d.fluxCoarse.size(), 48000u / 64);
    EXPECT_EQ(d.fluxFine.size(), 48000u / 16);
    EXPECT_EQ(d.energyFine.size(), d.fluxFine.size());
}

TEST(FeatureTracks, ShortLoopsAndSilence)
{
    const Audio loud{RandomSignal(255, 2, 0.5f)}, silence(2, std::vector<float>(20000, 0.0f));
    TransientDetector d;
    d.ComputeFeatures(Pointers(loud).data(), 1, 255, 44100.0f);
    EXPECT_EQ(d.fluxCoarse, std::vector<float>(4, 0.0f));
    EXPECT_EQ(d.fluxFine.size(), 15u);
    d.ComputeFeatures(Pointers(loud).data(), 1, 63, 44100.0f);
    EXPECT_EQ(d.fluxFine, std::vector<float>(4, 0.0f));
    EXPECT_EQ(d.energyFine, std::vector<float>(4, 0.0f));
    const auto silent = Pointers(silence);
    for (const float* const* channels : {silent.data(), (const float* const*)nullptr})
    {
        d.ComputeFeatures(channels, 2, 20000, 44100.0f);
        EXPECT_EQ(d.fluxCoarse, std::vector<float>(312, 0.0f));
        EXPECT_EQ(d.fluxFine, std::vector<float>(1250, 0.0f));
        EXPECT_EQ(d.energyFine, std::vector<float>(1250, 0.0f));
    }
}

TEST(FeatureTracks, OnlyTheFirstTwoChannelsCount)
{
    const Audio audio{RandomSignal(5000, 7, 0.5f), RandomSignal(5000, 8, 0.5f),
                      RandomSignal(5000, 9, 0.5f), std::vector<float>(5000, 0.0f)};
    const float* monoPlusSilence[] = {audio[0].data(), audio[3].data()};
    const auto all = Pointers(audio);
    auto tracks = [](const float* const* channels, uint32_t count)
    {
        TransientDetector d;
        d.ComputeFeatures(channels, count, 5000, 44100.0f);
        return std::tuple{d.fluxCoarse, d.fluxFine, d.energyFine};
    };
    EXPECT_EQ(tracks(all.data(), 1), tracks(monoPlusSilence, 2));
    EXPECT_NE(tracks(all.data(), 1), tracks(all.data(), 2));
    EXPECT_EQ(tracks(all.data(), 2), tracks(all.data(), 3));
}

// The flux and the energy as plain scalar loops, frame by frame, in the order of their
// definitions (channels 0 and 1 summed under a unit-mean Hann window, zero outside the audio;
// square roots of the magnitudes; 8 past frames subtracted, 7 future ones clamped to the last
// added): the fast tracks must give these bits on every kernel path.
struct ScalarTracks
{
    std::vector<float> flux, energy;
};

ScalarTracks Scalar(const Audio& audio, int n, int hop)
{
    const long frames = long(audio[0].size()) / hop, bins = n / 2 + 1;
    const int transform = 1 << DSP::RealFFT::OrderFor(n);
    std::vector<float> window(n), frame(transform, 0.0f), spectrum(transform + 2);
    DSP::MakeWindow(window.data(), n, DSP::WindowNorm::UnitMean, 1.0f);
    DSP::RealFFT fft(n);
    ScalarTracks out{std::vector<float>(frames), std::vector<float>(frames)};
    std::vector<std::vector<float>> m(frames, std::vector<float>(bins));
    for (long f = 0; f < frames; ++f)
    {
        double energy = 0.0;
        for (int i = 0; i < n; ++i)
        {
            const long s = f * hop - n / 2 + i;
            const bool inside = s >= 0 && s < long(audio[0].size());
            frame[i] = inside ? audio[0][s] * window[i] : 0.0f;
            frame[i] += inside ? audio[1][s] * window[i] : 0.0f;
            energy += double(frame[i]) * frame[i];
        }
        out.energy[f] = std::sqrt(std::sqrt(float(energy)));
        fft.Forward(frame.data(), spectrum.data());
        for (long k = 0; k < bins; ++k)
        {
            const double re = spectrum[2 * k], im = spectrum[2 * k + 1];
            m[f][k] = std::sqrt(std::sqrt(float(re * re + im * im)));
        }
    }
    for (long f = 0; f < frames; ++f)
    {
        double sum = 0.0;
        for (long k = 0; k < bins; ++k)
        {
            double past = 0.0, future = 0.0;
            for (long g = std::max(0L, f - 8); g < f; ++g)
                past += m[g][k];
            for (long j = 1; j <= 7; ++j)
                future += m[std::min(f + j, frames - 1)][k];
            const double d = double(m[f][k]) - past + future;
            if (d > 0.0)
                sum += d;
        }
        out.flux[f] = float(sum / bins);
    }
    return out;
}

bool SameBits(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), sizeof(float) * a.size()) == 0;
}

// Each kernel path the processor can run, forced in turn, for the tracks alone and for the flux
// with the energy of half frames in one pass: the coarse and fine sizes of 44.1 kHz over several
// flux blocks and a clamped end, a frame of 8 hops on a loop of ten frames, a frame that is no
// whole number of hops (and no power of two), and a transform too long to batch.
TEST(FeatureTracks, EveryKernelPathGivesTheScalarBits)
{
    using DSP::KernelPath;
    const KernelPath initial = DSP::ActiveKernelPath();
    Audio audio{RandomSignal(9001, 11, 0.5f), RandomSignal(9001, 12, 0.5f)};
    for (size_t i = 3000; i < 6000; ++i)
        audio[0][i] *= 1e-3f;
    const Audio tiny{RandomSignal(40, 13, 0.5f), RandomSignal(40, 14, 0.5f)};
    using Case = std::tuple<const Audio*, int, int>;
    for (auto [input, n, hop] : {Case{&audio, 256, 64}, Case{&audio, 64, 16}, Case{&tiny, 32, 4},
                                 Case{&audio, 48, 20}, Case{&audio, 8192, 2048}})
    {
        const ScalarTracks expected = Scalar(*input, n, hop);
        const std::vector<float> halfEnergy = Scalar(*input, n / 2, hop).energy;
        for (KernelPath path : {KernelPath::Baseline, KernelPath::Avx2, KernelPath::Avx512})
        {
            if (!DSP::SetKernelPath(path))
                continue;
            std::vector<float> flux, energy;
            const uint32_t length = uint32_t((*input)[0].size());
            DSP::SpectralFluxTrack(Pointers(*input).data(), 2, length, 44100.0f, 0, n, hop, flux);
            DSP::EnergyTrack(Pointers(*input).data(), 2, length, 44100.0f, 0, n, hop, energy);
            EXPECT_TRUE(SameBits(flux, expected.flux)) << "n " << n << " path " << int(path);
            EXPECT_TRUE(SameBits(energy, expected.energy)) << "n " << n << " path " << int(path);
            // Both in one pass, the energy at half the frame: where the frames are four hops it
            // comes from the flux frames' samples.
            DSP::FluxAndEnergyTracks(Pointers(*input).data(), 2, length, 44100.0f, n, hop, flux,
                                     energy);
            EXPECT_TRUE(SameBits(flux, expected.flux)) << "n " << n << " path " << int(path);
            EXPECT_TRUE(SameBits(energy, halfEnergy)) << "n " << n << " path " << int(path);
        }
    }
    DSP::SetKernelPath(initial);
}

} // namespace
