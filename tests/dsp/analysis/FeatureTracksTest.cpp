#include "dsp/analysis/FeatureTracks.h"
#include "dsp/analysis/TransientDetector.h"
#include "tests/dsp/analysis/AnalysisAudio.h"
#include "tests/dsp/foundation/ReferenceDft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace
{

using DSP::TransientDetector;
using ReferenceDft::RandomSignal;

// The frame centred on `centre`: channels 0 and 1 summed, weighted by a unit-mean Hann window
// computed here in double, zero outside the audio.
std::vector<double> ReferenceFrame(const Audio& audio, int n, long centre)
{
    std::vector<double> w(n), frame(n, 0.0);
    double sum = 0.0;
    for (int i = 0; i < n; ++i)
        sum += w[i] = 0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * (i + 0.5) / n));
    for (int i = 0; i < n; ++i)
    {
        const long s = centre - n / 2 + i;
        for (size_t c = 0; c < audio.size() && c < 2 && s >= 0 && s < (long)audio[c].size(); ++c)
            frame[i] += audio[c][s] * w[i] * n / sum;
    }
    return frame;
}

TEST(FeatureTracks, FrameSizesAndHops)
{
    // The smallest power of two of at least 16 samples not below 4 ms. 0.004 as a float is a
    // hair above 0.004, so exactly 128 samples at 32 kHz is still too short.
    const std::pair<float, int32_t> sizes[] = {
        {22050.0f, 128}, {31999.0f, 128},   {32000.0f, 256},     {44100.0f, 256},
        {48000.0f, 256}, {96000.0f, 512},   {192000.0f, 1024},   {1.0f, 16},
        {0.0f, 16},      {4.0e9f, 1 << 24}, {INFINITY, 1 << 25}, {NAN, 16}};
    for (auto [rate, size] : sizes)
        EXPECT_EQ(TransientDetector::BaseFrameSize(rate), size) << rate;

    // Hops N/4 and N/16 (64 and 16 at 44.1 kHz), one value per hop.
    const Audio audio{RandomSignal(48000, 1, 0.5f)};
    for (auto [rate, coarse] : {std::pair{22050.0f, 32}, {44100.0f, 64}, {192000.0f, 256}})
    {
        TransientDetector d;
        d.ComputeFeatures(Pointers(audio).data(), 1, 48000, rate);
        EXPECT_EQ(d.hopCoarse, coarse) << rate;
        EXPECT_EQ(d.hopFine, coarse / 4) << rate;
        EXPECT_EQ(d.fluxCoarse.size(), 48000u / coarse) << rate;
        EXPECT_EQ(d.fluxFine.size(), 48000u / (coarse / 4)) << rate;
        EXPECT_EQ(d.energyFine.size(), d.fluxFine.size()) << rate;
    }
}

TEST(FeatureTracks, ShortLoopsAndSilence)
{
    const Audio loud{RandomSignal(255, 2, 0.5f)}, silence(2, std::vector<float>(20000, 0.0f));
    TransientDetector d;
    // 255 samples: three coarse hops of 64, fifteen fine hops of 16.
    d.ComputeFeatures(Pointers(loud).data(), 1, 255, 44100.0f);
    EXPECT_EQ(d.fluxCoarse, std::vector<float>(4, 0.0f));
    EXPECT_EQ(d.fluxFine.size(), 15u);
    d.ComputeFeatures(Pointers(loud).data(), 1, 63, 44100.0f);
    EXPECT_EQ(d.fluxFine, std::vector<float>(4, 0.0f));
    EXPECT_EQ(d.energyFine, std::vector<float>(4, 0.0f));
    // No audio at all reads as silence.
    const auto silent = Pointers(silence);
    for (const float* const* channels : {silent.data(), (const float* const*)nullptr})
    {
        d.ComputeFeatures(channels, 2, 20000, 44100.0f);
        EXPECT_EQ(d.fluxCoarse, std::vector<float>(312, 0.0f));
        EXPECT_EQ(d.fluxFine, std::vector<float>(1250, 0.0f));
        EXPECT_EQ(d.energyFine, std::vector<float>(1250, 0.0f));
    }
}

TEST(FeatureTracks, SpectralFluxMatchesItsDefinition)
{
    // Many full 16-frame contexts (700), and loops so short that every frame sees the clamped
    // end (40, 50).
    for (size_t length : {700u, 40u, 50u})
    {
        Audio audio{RandomSignal(length, 3, 0.5f), RandomSignal(length, 4, 0.5f)};
        for (size_t i = 0; i < length / 3; ++i)
            audio[0][i] *= 0.05f; // a quiet start makes the flux vary
        for (int n : {8, 32})
        {
            std::vector<float> out;
            DSP::SpectralFluxTrack(Pointers(audio).data(), 2, length, 44100.0f, 0, n, 4, out);
            const long frames = long(length) / 4;
            ASSERT_EQ(out.size(), size_t(frames));
            // Square roots of the magnitudes, by the direct DFT.
            std::vector<std::vector<double>> m(frames, std::vector<double>(n / 2 + 1));
            for (long f = 0; f < frames; ++f)
            {
                const auto X = ReferenceDft::Forward(ReferenceFrame(audio, n, f * 4));
                for (int k = 0; k <= n / 2; ++k)
                    m[f][k] = std::sqrt(std::hypot(X[2 * k], X[2 * k + 1]));
            }
            for (long f = 0; f < frames; ++f)
            {
                double sum = 0.0;
                for (int k = 0; k <= n / 2; ++k)
                {
                    double d = m[f][k];
                    for (long j = 1; j <= 8; ++j) // up to 8 past frames
                        d -= f >= j ? m[f - j][k] : 0.0;
                    for (long j = 1; j <= 7; ++j) // 7 future frames, clamped to the last
                        d += m[std::min(f + j, frames - 1)][k];
                    sum += std::max(d, 0.0);
                }
                const double expected = sum / (n / 2 + 1);
                EXPECT_NEAR(out[f], expected, 2e-5 * (1.0 + expected)) << length << " " << f;
            }
        }
    }
}

TEST(FeatureTracks, EnergyMatchesItsDefinition)
{
    const Audio audio{RandomSignal(300, 5, 0.5f), RandomSignal(300, 6, 0.5f)};
    std::vector<float> out;
    DSP::EnergyTrack(Pointers(audio).data(), 2, 300, 44100.0f, 0, 32, 16, out);
    ASSERT_EQ(out.size(), 18u);
    for (size_t f = 0; f < out.size(); ++f)
    {
        double e = 0.0;
        for (double v : ReferenceFrame(audio, 32, long(f) * 16))
            e += v * v;
        EXPECT_NEAR(out[f], std::pow(e, 0.25), 1e-5) << f;
    }
}

TEST(FeatureTracks, OnlyTheFirstTwoChannelsCount)
{
    const Audio audio{RandomSignal(5000, 7, 0.5f), RandomSignal(5000, 8, 0.5f),
                      RandomSignal(5000, 9, 0.5f), std::vector<float>(5000, 0.0f)};
    const float* monoPlusSilence[] = {audio[0].data(), audio[3].data()};
    const auto all = Pointers(audio);
    TransientDetector mono, padded, stereo, three;
    mono.ComputeFeatures(all.data(), 1, 5000, 44100.0f);
    padded.ComputeFeatures(monoPlusSilence, 2, 5000, 44100.0f);
    stereo.ComputeFeatures(all.data(), 2, 5000, 44100.0f);
    three.ComputeFeatures(all.data(), 3, 5000, 44100.0f);
    EXPECT_EQ(mono.fluxCoarse, padded.fluxCoarse);
    EXPECT_EQ(mono.energyFine, padded.energyFine);
    EXPECT_NE(mono.fluxCoarse, stereo.fluxCoarse);  // channel 1 is summed in...
    EXPECT_EQ(stereo.fluxCoarse, three.fluxCoarse); // ...channel 2 is not
    EXPECT_EQ(stereo.fluxFine, three.fluxFine);
    EXPECT_EQ(stereo.energyFine, three.energyFine);
}

} // namespace
