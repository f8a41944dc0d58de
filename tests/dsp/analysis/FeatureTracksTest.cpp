#include "dsp/analysis/FeatureTracks.h"
#include "dsp/analysis/TransientDetector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <random>
#include <vector>

namespace
{

using DSP::EnergyTrack;
using DSP::SpectralFluxTrack;
using DSP::TransientDetector;

std::vector<float> Noise(size_t length, unsigned seed, float amplitude = 0.5f)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-amplitude, amplitude);
    std::vector<float> x(length);
    for (float& v : x)
        v = dist(rng);
    return x;
}

// A unit-mean Hann window at cell centres, in double.
std::vector<double> ReferenceWindow(int n)
{
    std::vector<double> w(n);
    double sum = 0.0;
    for (int i = 0; i < n; ++i)
        sum += w[i] = 0.5 * (1.0 - std::cos(2.0 * M_PI * (i + 0.5) / n));
    for (double& v : w)
        v *= n / sum;
    return w;
}

// The windowed sum of channels 0 and 1 for the frame centred on sample centre.
std::vector<double> ReferenceFrame(const std::vector<std::vector<float>>& audio, int n, long centre)
{
    const auto w = ReferenceWindow(n);
    std::vector<double> frame(n, 0.0);
    const long length = static_cast<long>(audio[0].size());
    for (int i = 0; i < n; ++i)
    {
        const long s = centre - n / 2 + i;
        if (s < 0 || s >= length)
            continue;
        for (size_t c = 0; c < audio.size() && c < 2; ++c)
            frame[i] += audio[c][s] * w[i];
    }
    return frame;
}

// Spectral flux straight from its definition, with a naive DFT and all sums in double.
std::vector<double> ReferenceFlux(const std::vector<std::vector<float>>& audio, int n, int hop)
{
    const long frames = static_cast<long>(audio[0].size()) / hop;
    const int bins = n / 2 + 1;
    std::vector<std::vector<double>> m(frames, std::vector<double>(bins));
    for (long f = 0; f < frames; ++f)
    {
        const auto frame = ReferenceFrame(audio, n, f * hop);
        for (int k = 0; k < bins; ++k)
        {
            std::complex<double> x = 0.0;
            for (int i = 0; i < n; ++i)
                x += frame[i] * std::polar(1.0, -2.0 * M_PI * k * i / n);
            m[f][k] = std::sqrt(std::abs(x));
        }
    }
    std::vector<double> flux(frames);
    for (long f = 0; f < frames; ++f)
    {
        double sum = 0.0;
        for (int k = 0; k < bins; ++k)
        {
            double d = m[f][k];
            for (long j = 1; j <= 8; ++j)
                if (f - j >= 0)
                    d -= m[f - j][k];
            for (long j = 1; j <= 7; ++j)
                d += m[std::min(f + j, frames - 1)][k];
            if (d > 0)
                sum += d;
        }
        flux[f] = sum / bins;
    }
    return flux;
}

std::vector<const float*> Pointers(const std::vector<std::vector<float>>& audio)
{
    std::vector<const float*> p;
    for (const auto& c : audio)
        p.push_back(c.data());
    return p;
}

TEST(FeatureTracks, FrameSizesAndHopsFollowTheSampleRate)
{
    struct Case
    {
        float rate;
        int32_t frame;
    };
    // The smallest power of two of at least 16 samples that covers 4 ms.
    for (const Case c :
         {Case{22050.0f, 128}, Case{32000.0f, 256}, Case{44100.0f, 256}, Case{48000.0f, 256},
          Case{88200.0f, 512}, Case{96000.0f, 512}, Case{192000.0f, 1024}, Case{1.0f, 16},
          Case{0.0f, 16}, Case{4.0e9f, 1 << 24}})
    {
        EXPECT_EQ(TransientDetector::BaseFrameSize(c.rate), c.frame) << c.rate;
    }
    // 4 ms at 32 kHz is 128 samples, but 0.004 as a float is a hair larger, so 128 is still
    // below it: 256.
    EXPECT_EQ(TransientDetector::BaseFrameSize(32000.0f), 256);
    EXPECT_EQ(TransientDetector::BaseFrameSize(31999.0f), 128);
    // Beyond any 32-bit rate the size stops growing, so the loop always ends.
    EXPECT_EQ(TransientDetector::BaseFrameSize(std::numeric_limits<float>::infinity()), 1 << 25);
    EXPECT_EQ(TransientDetector::BaseFrameSize(3.0e38f), 1 << 25);
    EXPECT_EQ(TransientDetector::BaseFrameSize(std::numeric_limits<float>::quiet_NaN()), 16);

    const auto audio = std::vector<std::vector<float>>{Noise(48000, 1)};
    const auto channels = Pointers(audio);
    struct Hops
    {
        float rate;
        int32_t coarse;
        int32_t fine;
    };
    for (const Hops h : {Hops{22050.0f, 32, 8}, Hops{44100.0f, 64, 16}, Hops{96000.0f, 128, 32},
                         Hops{192000.0f, 256, 64}})
    {
        TransientDetector d;
        d.ComputeFeatures(channels.data(), 1, 48000, h.rate);
        EXPECT_EQ(d.hopCoarse, h.coarse) << h.rate;
        EXPECT_EQ(d.hopFine, h.fine) << h.rate;
        EXPECT_EQ(d.fluxCoarse.size(), 48000u / h.coarse) << h.rate;
        EXPECT_EQ(d.fluxFine.size(), 48000u / h.fine) << h.rate;
        EXPECT_EQ(d.energyFine.size(), 48000u / h.fine) << h.rate;
    }
}

TEST(FeatureTracks, ShortLoopsGiveFourZeros)
{
    const auto audio = std::vector<std::vector<float>>{Noise(255, 2)};
    const auto channels = Pointers(audio);
    TransientDetector d;
    // 255 samples at 44.1 kHz: fewer than four coarse hops of 64, but 15 fine hops of 16.
    d.ComputeFeatures(channels.data(), 1, 255, 44100.0f);
    EXPECT_EQ(d.fluxCoarse, std::vector<float>(4, 0.0f));
    EXPECT_EQ(d.fluxFine.size(), 15u);
    EXPECT_EQ(d.energyFine.size(), 15u);

    d.ComputeFeatures(channels.data(), 1, 63, 44100.0f);
    EXPECT_EQ(d.fluxCoarse, std::vector<float>(4, 0.0f));
    EXPECT_EQ(d.fluxFine, std::vector<float>(4, 0.0f));
    EXPECT_EQ(d.energyFine, std::vector<float>(4, 0.0f));

    // A hop of zero or below has no frames at all.
    std::vector<float> out;
    SpectralFluxTrack(channels.data(), 1, 255, 44100.0f, 0, 16, 0, out);
    EXPECT_EQ(out, std::vector<float>(4, 0.0f));
    EnergyTrack(channels.data(), 1, 255, 44100.0f, 0, 16, -3, out);
    EXPECT_EQ(out, std::vector<float>(4, 0.0f));
}

TEST(FeatureTracks, SilenceGivesZeroTracks)
{
    const std::vector<std::vector<float>> audio(2, std::vector<float>(20000, 0.0f));
    const auto channels = Pointers(audio);
    TransientDetector d;
    d.ComputeFeatures(channels.data(), 2, 20000, 44100.0f);
    ASSERT_EQ(d.fluxCoarse.size(), 312u);
    for (float v : d.fluxCoarse)
        EXPECT_EQ(v, 0.0f);
    for (float v : d.fluxFine)
        EXPECT_EQ(v, 0.0f);
    for (float v : d.energyFine)
        EXPECT_EQ(v, 0.0f);
}

TEST(FeatureTracks, SpectralFluxMatchesItsDefinition)
{
    // Long enough for many full 16-frame contexts, and a short one where every frame sees the
    // clamped end; stereo so that the channel sum is covered.
    for (size_t length : {700u, 40u, 50u})
    {
        std::vector<std::vector<float>> audio{Noise(length, 3), Noise(length, 4)};
        // A quiet start and a loud burst make the flux vary.
        for (size_t i = 0; i < length / 3; ++i)
        {
            audio[0][i] *= 0.05f;
            audio[1][i] *= 0.05f;
        }
        const auto channels = Pointers(audio);
        for (int n : {8, 16, 32})
        {
            const int hop = 4;
            std::vector<float> out;
            SpectralFluxTrack(channels.data(), 2, static_cast<uint32_t>(length), 44100.0f, 0, n,
                              hop, out);
            const auto expected = ReferenceFlux(audio, n, hop);
            ASSERT_EQ(out.size(), expected.size()) << length << " " << n;
            for (size_t f = 0; f < out.size(); ++f)
                EXPECT_NEAR(out[f], expected[f], 2e-5 * (1.0 + expected[f]))
                    << "length " << length << " n " << n << " frame " << f;
        }
    }
}

TEST(FeatureTracks, EnergyIsTheFourthRootOfTheWindowedSquares)
{
    std::vector<std::vector<float>> audio{Noise(300, 5), Noise(300, 6)};
    const auto channels = Pointers(audio);
    std::vector<float> out;
    EnergyTrack(channels.data(), 2, 300, 44100.0f, 0, 32, 16, out);
    ASSERT_EQ(out.size(), 18u);
    for (size_t f = 0; f < out.size(); ++f)
    {
        const auto frame = ReferenceFrame(audio, 32, static_cast<long>(f) * 16);
        double e = 0.0;
        for (double v : frame)
            e += v * v;
        EXPECT_NEAR(out[f], std::pow(e, 0.25), 1e-5) << f;
    }

    // A constant level of 1 fills every inner frame with the sum of the squared window: a
    // unit-mean 32-point Hann has squares summing to 4 * 3/8 * 32 = 48.
    std::vector<std::vector<float>> ones{std::vector<float>(256, 1.0f)};
    const auto one = Pointers(ones);
    EnergyTrack(one.data(), 1, 256, 44100.0f, 0, 32, 16, out);
    ASSERT_EQ(out.size(), 16u);
    for (size_t f = 1; f < 16; ++f)
        EXPECT_NEAR(out[f], std::pow(48.0, 0.25), 1e-5) << f;
    // The first frame is centred on sample 0: its first half reads zeros, 24 of the 48 remain.
    EXPECT_NEAR(out[0], std::pow(24.0, 0.25), 1e-5);
}

TEST(FeatureTracks, OnlyTheFirstTwoChannelsCount)
{
    const std::vector<float> left = Noise(5000, 7);
    const std::vector<float> right = Noise(5000, 8);
    const std::vector<float> third = Noise(5000, 9, 1.0f);
    const std::vector<float> quiet(5000, 0.0f);

    const float* mono[] = {left.data()};
    const float* monoPlusSilence[] = {left.data(), quiet.data()};
    const float* stereo[] = {left.data(), right.data()};
    const float* three[] = {left.data(), right.data(), third.data()};
    const float* four[] = {left.data(), right.data(), third.data(), third.data()};

    TransientDetector a, b, c, d, e;
    a.ComputeFeatures(mono, 1, 5000, 44100.0f);
    b.ComputeFeatures(monoPlusSilence, 2, 5000, 44100.0f);
    c.ComputeFeatures(stereo, 2, 5000, 44100.0f);
    d.ComputeFeatures(three, 3, 5000, 44100.0f);
    e.ComputeFeatures(four, 4, 5000, 44100.0f);

    // Mono reads channel 0 alone; a silent second channel adds nothing.
    EXPECT_EQ(a.fluxCoarse, b.fluxCoarse);
    EXPECT_EQ(a.fluxFine, b.fluxFine);
    EXPECT_EQ(a.energyFine, b.energyFine);
    // The second channel is summed in...
    EXPECT_NE(a.fluxCoarse, c.fluxCoarse);
    EXPECT_NE(a.energyFine, c.energyFine);
    // ...but nothing beyond it.
    EXPECT_EQ(c.fluxCoarse, d.fluxCoarse);
    EXPECT_EQ(c.fluxFine, d.fluxFine);
    EXPECT_EQ(c.energyFine, d.energyFine);
    EXPECT_EQ(c.fluxCoarse, e.fluxCoarse);
    EXPECT_EQ(c.energyFine, e.energyFine);
}

TEST(FeatureTracks, SoundAtTheStartGivesLargeEarlyFlux)
{
    // Steady noise from the first sample: the first frames have no past to subtract.
    const std::vector<float> x = Noise(20000, 10);
    const float* channels[] = {x.data()};
    std::vector<float> out;
    SpectralFluxTrack(channels, 1, 20000, 44100.0f, 0, 256, 64, out);
    ASSERT_EQ(out.size(), 312u);
    double tail = 0.0;
    for (size_t f = 100; f < 300; ++f)
        tail += out[f];
    tail /= 200.0;
    EXPECT_GT(out[0], 4.0 * tail);
    EXPECT_GT(out[4], 2.0 * tail);
}

TEST(FeatureTracks, NullAndMissingChannelsReadAsSilence)
{
    std::vector<float> out;
    SpectralFluxTrack(nullptr, 2, 1000, 44100.0f, 0, 64, 16, out);
    EXPECT_EQ(out, std::vector<float>(62, 0.0f));
    const float* holes[] = {nullptr, nullptr};
    EnergyTrack(holes, 2, 1000, 44100.0f, 0, 32, 16, out);
    EXPECT_EQ(out, std::vector<float>(62, 0.0f));
    // Frame sizes that cannot be analysed leave the frames at zero.
    const std::vector<float> x = Noise(1000, 11);
    const float* channels[] = {x.data()};
    SpectralFluxTrack(channels, 1, 1000, 44100.0f, 0, 0, 16, out);
    EXPECT_EQ(out, std::vector<float>(62, 0.0f));
    EnergyTrack(channels, 1, 1000, 44100.0f, 0, -32, 16, out);
    EXPECT_EQ(out, std::vector<float>(62, 0.0f));
}

} // namespace
