#include "dsp/analysis/TransientDetector.h"

#include "dsp/analysis/FeatureTracks.h"
#include "dsp/foundation/KernelPath.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace DSP
{

namespace
{

constexpr int32_t LargestBaseFrame = 1 << 25;

// Decimal constants of the detector, as the single-precision values it was tuned with.
constexpr double FourMs = static_cast<double>(0.004f);
constexpr double PeakFloor = static_cast<double>(0.55f);
constexpr double EarlyBias = static_cast<double>(0.005f);
constexpr double RiseRatio = static_cast<double>(1.6f);
constexpr double RiseLow = static_cast<double>(0.1f);
constexpr double RiseHigh = static_cast<double>(0.9f);
constexpr float SmallestPeak = 1e-6f;
constexpr float SmallestStrength = 1e-4f;
constexpr float FloorScale = 1000000.0f;

// The fine grid is four times the coarse one.
constexpr int64_t FinePerCoarse = 4;
// The fine peak is looked for within 32 fine frames either side of the coarse frame.
constexpr int64_t PeakReach = 32;

constexpr double NotANumber = std::numeric_limits<double>::quiet_NaN();

// The suppression compares eight frames per vector: each lane rounds weight * level and compares
// exactly as the one-frame test does, so a vector answers the same as eight tests in a row.
constexpr int64_t Lanes = 8;
using Float8 = float __attribute__((vector_size(Lanes * sizeof(float))));
using Double8 = double __attribute__((vector_size(Lanes * sizeof(double))));
using Mask8 = int64_t __attribute__((vector_size(Lanes * sizeof(int64_t))));

// The first of the eight values that beats its weight times the level, or Lanes when none does.
KELVORA_KERNEL_BODY int64_t FirstBeating(const float* values, const double* weights, double level)
{
    Float8 v;
    Double8 w;
    std::memcpy(&v, values, sizeof(v));
    std::memcpy(&w, weights, sizeof(w));
    const Mask8 beats = __builtin_convertvector(v, Double8) > w * level;
    for (int64_t q = 0; q < Lanes; ++q)
    {
        if (beats[q] != 0)
            return q;
    }
    return Lanes;
}

// One pass from the first frame to the last (a backward pass runs on the reversed values: the
// weights only depend on the distance, so that is the same pass).
KELVORA_KERNEL_BODY void SuppressForward(float* v, int64_t count, int64_t radius,
                                         const double* weights)
{
    // A frame's fate only depends on whether some frame in reach beats it, not on which one is
    // found first, so the likeliest beaters are tried first: the frame that beat the previous
    // frame (neighbours are mostly beaten by the same strong one) and the two neighbours (on a
    // slope). Only when none of them beats the frame is the reach scanned, nearest first.
    //
    // A positive level is only beaten by a positive value, so the scan steps over the rest:
    // ahead of the frame the values are the original ones, and aheadPositive[j] is the first
    // positive one at or after j; behind it the pass has zeroed what it suppressed, and
    // behindPositive[j] is the last positive one at or before j as the pass left it. With wide
    // windows over long quiet or suppressed stretches this keeps the pass close to linear.
    std::vector<int64_t> aheadPositive(static_cast<size_t>(count) + 1);
    aheadPositive[count] = count;
    for (int64_t j = count - 1; j >= 0; --j)
        aheadPositive[j] = v[j] > 0.0f ? j : aheadPositive[j + 1];
    std::vector<int64_t> behindPositive(static_cast<size_t>(count));

    int64_t lastBeater = -1;
    for (int64_t i = 0; i < count; ++i)
    {
        const float level = v[i];
        // Zeroing a zero changes nothing, and nothing compares greater than NaN.
        if (level != 0.0f && !std::isnan(level))
        {
            const int64_t first = std::max<int64_t>(0, i - radius);
            const int64_t last = std::min(i + radius, count - 1);
            // weights[shift + j] is the weight of frame j against frame i.
            const int64_t shift = radius - i;
            auto beats = [&](int64_t j)
            { return j >= first && j <= last && v[j] > weights[shift + j] * level; };
            int64_t beater = -1;
            // One frame at a time from `j` towards `end` (inclusive), in steps of `step`.
            auto scan = [&](int64_t j, int64_t end, int64_t step)
            {
                for (; beater < 0 && (step > 0 ? j <= end : j >= end); j += step)
                {
                    if (beats(j))
                        beater = j;
                }
            };
            if (beats(lastBeater))
                beater = lastBeater;
            else if (beats(i + 1))
                beater = i + 1;
            else if (beats(i - 1))
                beater = i - 1;
            else if (level > 0.0f)
            {
                // Ahead, eight at a time from each positive value.
                int64_t j = aheadPositive[i + 1];
                for (; j + Lanes <= last + 1 && beater < 0; j = aheadPositive[j + Lanes])
                {
                    const int64_t q = FirstBeating(v + j, weights + (shift + j), level);
                    if (q < Lanes)
                        beater = j + q;
                }
                scan(j, last, 1);
                // Behind, eight at a time down from each positive value.
                j = i > first ? behindPositive[i - 1] : -1;
                for (; j - (Lanes - 1) >= first && beater < 0;
                     j = j - Lanes >= 0 ? behindPositive[j - Lanes] : -1)
                {
                    const int64_t low = j - (Lanes - 1);
                    const int64_t q = FirstBeating(v + low, weights + (shift + low), level);
                    if (q < Lanes)
                        beater = low + q;
                }
                scan(j, first, -1);
            }
            else
            {
                // Only hand-made tracks are negative; then zeros count too.
                scan(first, last, 1);
            }
            if (beater >= 0)
            {
                // Entries already zeroed in this pass no longer suppress later ones.
                v[i] = 0.0f;
                lastBeater = beater;
            }
        }
        behindPositive[i] = v[i] > 0.0f ? i : (i > 0 ? behindPositive[i - 1] : -1);
    }
}

KELVORA_KERNEL_BODY void SuppressBody(std::vector<float>& values, int64_t radius, bool backward)
{
    // Within half the radius any stronger frame suppresses; further out it must be stronger by
    // a factor growing to exactly 2.5 at the radius. The half is exact, also for odd radii.
    // The table runs over signed distances -radius ... radius, so that the weights of a run of
    // neighbours lie side by side like their levels.
    const double half = 0.5 * static_cast<double>(radius);
    std::vector<double> weights(2 * static_cast<size_t>(radius) + 1);
    for (int64_t d = -radius; d <= radius; ++d)
    {
        const double distance = static_cast<double>(d < 0 ? -d : d);
        weights[d + radius] =
            distance <= half ? 1.0 : 1.0 + 3.0 * (distance - half) / static_cast<double>(radius);
    }
    if (backward)
        std::reverse(values.begin(), values.end());
    SuppressForward(values.data(), static_cast<int64_t>(values.size()), radius, weights.data());
    if (backward)
        std::reverse(values.begin(), values.end());
}

// The largest strength above `floor` (NaN strengths are passed over), or `floor`. Eight running
// maxima side by side keep the scan from waiting on one comparison after another; with a positive
// floor the largest value does not depend on the order it is met in.
float Strongest(const std::vector<TransientCandidate>& candidates, float floor)
{
    constexpr size_t Ways = 8;
    float strongest[Ways];
    std::fill_n(strongest, Ways, floor);
    const size_t count = candidates.size();
    size_t i = 0;
    for (; i + Ways <= count; i += Ways)
    {
        for (size_t w = 0; w < Ways; ++w)
        {
            const float s = candidates[i + w].strength;
            strongest[w] = s > strongest[w] ? s : strongest[w];
        }
    }
    for (; i < count; ++i)
        strongest[0] =
            candidates[i].strength > strongest[0] ? candidates[i].strength : strongest[0];
    float result = floor;
    for (float s : strongest)
        result = s > result ? s : result;
    return result;
}

} // namespace

void DetectTransients(uint32_t sampleRate, uint32_t channelCount, uint32_t length,
                      const float* const* channels, std::vector<DetectedTransient>& out,
                      float detectionWindowMs)
{
    out.clear();
    TransientDetector detector;
    const float rate = static_cast<float>(sampleRate);
    detector.ComputeFeatures(channels, channelCount, length, rate);

    // Four widths of the suppression window, 0.5 to 1.25 times the set one; a narrow window
    // lets close onsets through, a wide one keeps only the dominant ones. Each pass scores in
    // its own quarter, so an onset that survives a wider window outranks one that does not.
    std::vector<TransientCandidate> best(detector.fluxFine.size());
    for (int pass = 0; pass < 4; ++pass)
    {
        const float windowSeconds =
            static_cast<float>(detectionWindowMs / 1000.0 * (pass / 4.0 + 0.5));
        detector.PickPeaks(channels, channelCount, length, rate, FloorScale, windowSeconds);
        TransientDetector::ScorePass(detector.candidates, pass, best);
    }
    TransientDetector::EmitTransients(best, detector.hopFine, length, out);
}

int32_t TransientDetector::BaseFrameSize(float sampleRate)
{
    const double fourMs = static_cast<double>(sampleRate) * FourMs;
    int32_t n = 16;
    while (n < fourMs && n < LargestBaseFrame)
        n *= 2;
    return n;
}

void TransientDetector::ComputeFeatures(const float* const* channels, uint32_t channelCount,
                                        uint32_t length, float sampleRate)
{
    const int32_t n = BaseFrameSize(sampleRate);
    hopCoarse = n / 4;
    hopFine = hopCoarse / 4;
    SpectralFluxTrack(channels, channelCount, length, sampleRate, 0, n, hopCoarse, fluxCoarse);
    FluxAndEnergyTracks(channels, channelCount, length, sampleRate, n / 4, hopFine, fluxFine,
                        energyFine);
}

int64_t TransientDetector::SuppressionRadius(float windowSeconds, float sampleRate,
                                             int32_t hopCoarse, size_t coarseFrames)
{
    if (hopCoarse <= 0)
        return 0;
    const double radius =
        std::floor(static_cast<double>(windowSeconds) * sampleRate / hopCoarse + 0.5);
    if (!(radius > 0.0))
        return 0;
    const double widest = 2.0 * static_cast<double>(coarseFrames);
    return static_cast<int64_t>(std::min(radius, widest));
}

void TransientDetector::Suppress(std::vector<float>& values, int64_t radius, bool backward)
{
    KernelBuilds<SuppressBody>::Active()(values, radius, backward);
}

void TransientDetector::PickPeaks(const float* const* channels, uint32_t channelCount,
                                  uint32_t length, float sampleRate, float floorScale,
                                  float windowSeconds)
{
    const int64_t radius =
        SuppressionRadius(windowSeconds, sampleRate, hopCoarse, fluxCoarse.size());
    std::vector<float> forward(fluxCoarse);
    std::vector<float> backward(fluxCoarse);
    Suppress(forward, radius, false);
    Suppress(backward, radius, true);
    // A frame survives if it survived either direction.
    for (size_t i = 0; i < forward.size(); ++i)
        forward[i] = std::max(forward[i], backward[i]);

    const float floor = static_cast<float>(PeakFloor / floorScale);
    candidates.assign(fluxFine.size(), TransientCandidate{});
    for (size_t i = 0; i < forward.size(); ++i)
    {
        const float strength = forward[i];
        if (strength > floor)
            PlacePeak(channels, channelCount, length, static_cast<int64_t>(i), strength);
    }
}

void TransientDetector::PlacePeak(const float* const* channels, uint32_t channelCount,
                                  uint32_t length, int64_t coarseFrame, float strength)
{
    const int64_t fineCount = static_cast<int64_t>(fluxFine.size());
    if (fineCount == 0)
        return;

    // The strongest fine flux near the coarse frame, earlier frames favoured: an onset is better
    // cut a little early than into its attack.
    const int64_t p = FinePerCoarse * coarseFrame;
    int64_t k = std::min(p, fineCount - 1);
    double bestScore = -1000000.0;
    const int64_t searchEnd = std::min(p + PeakReach, fineCount);
    for (int64_t j = std::max<int64_t>(0, p - PeakReach); j < searchEnd; ++j)
    {
        const double score = (static_cast<double>(p - j) * EarlyBias + 1.0) * fluxFine[j];
        if (score > bestScore)
        {
            bestScore = score;
            k = j;
        }
    }

    // Frames outside the energy track read as NaN, which fails every comparison below.
    const int64_t energyCount = static_cast<int64_t>(energyFine.size());
    auto energy = [&](int64_t j)
    { return j >= 0 && j < energyCount ? static_cast<double>(energyFine[j]) : NotANumber; };
    // An empty span has no mean: NaN, so that no refinement follows from it.
    auto mean = [&](int64_t first, int64_t last)
    {
        if (last < first)
            return NotANumber;
        double sum = 0.0;
        for (int64_t j = first; j <= last; ++j)
            sum += energy(j);
        return sum / static_cast<double>(last - first + 1);
    };
    const double before = mean(std::max<int64_t>(0, k - 80), std::max<int64_t>(0, k - 64));
    const double after = mean(std::min(energyCount, k + 16), std::min(energyCount - 1, k + 32));

    uint32_t offset = 0;
    if (after > RiseRatio * before)
    {
        // Back to the last frame still near the earlier level: the rise starts after it.
        const double nearBefore = RiseLow * after + RiseHigh * before;
        for (int64_t j = k, lowest = std::max<int64_t>(0, k - 64); j >= lowest; --j)
        {
            if (energy(j) < nearBefore)
            {
                k = j + 1;
                break;
            }
        }
        // A frame already above the later level shortly before means the sound started
        // earlier; then go back to where it crossed half way.
        int64_t onset = k;
        for (int64_t j = std::max<int64_t>(0, k - 32); j < k; ++j)
        {
            if (energy(j) > after)
            {
                onset = j;
                break;
            }
        }
        if (onset < k)
        {
            const double halfway = 0.5 * after + 0.5 * before;
            for (int64_t j = onset, lowest = std::max<int64_t>(0, k - 64); j >= lowest; --j)
            {
                if (energy(j) < halfway)
                {
                    k = j;
                    break;
                }
            }
        }
        const int32_t step =
            FindStep(channels, channelCount, length, static_cast<int64_t>(hopFine) * k - 8);
        // Stored modulo 2^32: with hops below 12 this can be a small negative number.
        offset = static_cast<uint32_t>(step) + static_cast<uint32_t>(hopFine) - 12u;
    }

    const int64_t slot = std::max<int64_t>(0, k - 1);
    if (slot < static_cast<int64_t>(candidates.size()) && candidates[slot].strength < strength)
        candidates[slot] = TransientCandidate{strength, offset};
}

int32_t TransientDetector::FindStep(const float* const* channels, uint32_t channelCount,
                                    uint32_t length, int64_t start)
{
    constexpr int32_t Span = 32;
    float level[Span + 8];
    for (int32_t e = 0; e < Span + 8; ++e)
    {
        const int64_t index = start + e;
        double sum = 0.0;
        if (channels != nullptr && index >= 0 && index < static_cast<int64_t>(length))
        {
            for (uint32_t c = 0; c < channelCount; ++c)
            {
                if (channels[c] != nullptr)
                    sum += std::fabs(channels[c][index]);
            }
        }
        const float rooted = static_cast<float>(sum);
        level[e] = std::sqrt(std::sqrt(rooted));
    }
    float smoothed[Span + 4];
    for (int32_t e = 0; e < Span + 4; ++e)
    {
        smoothed[e] = static_cast<float>(static_cast<double>(level[e]) + level[e + 1] +
                                         level[e + 2] + level[e + 3]);
    }
    // The steepest rise of the smoothed level: two values ahead against two behind.
    double bestRise = -1000.0;
    int32_t best = 0;
    for (int32_t f = 0; f < Span; ++f)
    {
        const double rise = (static_cast<double>(smoothed[f + 2]) + smoothed[f + 3]) - smoothed[f] -
                            smoothed[f + 1];
        if (rise > bestRise)
        {
            bestRise = rise;
            best = f;
        }
    }
    return best;
}

void TransientDetector::ScorePass(const std::vector<TransientCandidate>& candidates, int pass,
                                  std::vector<TransientCandidate>& best)
{
    best.resize(candidates.size());
    const float peak = Strongest(candidates, SmallestPeak);
    const double low = pass / 4.0;
    const double high = (pass + 1) / 4.0;
    for (size_t i = 0; i < candidates.size(); ++i)
    {
        const float v = candidates[i].strength;
        if (!(v > 0.0f))
            continue;
        const float clamped = !(v >= SmallestStrength) ? SmallestStrength : std::min(v, peak);
        const double score = peak == SmallestStrength
                                 ? low
                                 : (static_cast<double>(clamped) - SmallestStrength) /
                                           (static_cast<double>(peak) - SmallestStrength) *
                                           (high - low) +
                                       low;
        if (score > best[i].strength)
            best[i] = TransientCandidate{clamped / peak, candidates[i].offset};
    }
}

void TransientDetector::EmitTransients(const std::vector<TransientCandidate>& best, int32_t hopFine,
                                       uint32_t length, std::vector<DetectedTransient>& out)
{
    const float norm = Strongest(best, SmallestStrength);
    for (size_t i = 0; i < best.size(); ++i)
    {
        if (!(best[i].strength > 0.0f))
            continue;
        // The offset is read back as signed: small hops leave it slightly negative.
        int64_t position = static_cast<int64_t>(i) * hopFine + static_cast<int32_t>(best[i].offset);
        if (position < 0 || position >= static_cast<int64_t>(length))
            position = 0;
        out.push_back(DetectedTransient{static_cast<uint32_t>(position), best[i].strength / norm});
    }
}

} // namespace DSP
