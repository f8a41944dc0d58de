#include "dsp/analysis/FeatureTracks.h"

#include "dsp/foundation/DataTail1D.h"
#include "dsp/foundation/KernelPath.h"
#include "dsp/foundation/Primitives.h"
#include "dsp/foundation/RealFFT.h"
#include "dsp/foundation/Window.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if KELVORA_HAS_WIDE_PATHS
#include <immintrin.h>
#endif

namespace DSP
{

namespace
{

// The flux compares each frame and the 7 after it with the 8 before it.
constexpr uint32_t ContextPast = 8;
constexpr uint32_t ContextFuture = 7;
constexpr uint32_t ContextFrames = ContextPast + 1 + ContextFuture;

// Frames above this are not analysed: a magnitude block of 2^25 + 1 bins by 24 columns must stay
// addressable with 32-bit counts. The detector itself never asks for more than 2^25.
constexpr int32_t LargestFrame = 1 << 26;

// The flux of eight frames is computed side by side, one frame per lane; each lane adds its past
// frames, its future frames and its bins in the order of the scalar formula, so the double sums
// are the same bits whatever the vector width.
constexpr uint32_t Lanes = 8;
using Double8 = double __attribute__((vector_size(Lanes * sizeof(double))));
using Mask8 = int64_t __attribute__((vector_size(Lanes * sizeof(int64_t))));
// Groups of Lanes frames in the largest flux block (see FluxBlockFrames).
constexpr uint32_t MaxFluxGroups = 8;

// Square roots of the magnitudes of a CCS spectrum, each root rounded to float. The squares are
// taken in one contiguous pass (scratch: 2 * bins doubles) so that both loops vectorise.
KELVORA_KERNEL_BODY void MagnitudeRowBody(const float* __restrict spectrum, uint32_t bins,
                                          double* __restrict squares, float* __restrict row)
{
    for (uint32_t i = 0; i < 2 * bins; ++i)
        squares[i] = static_cast<double>(spectrum[i]) * spectrum[i];
    for (uint32_t k = 0; k < bins; ++k)
    {
        const float power = static_cast<float>(squares[2 * k] + squares[2 * k + 1]);
        row[k] = std::sqrt(std::sqrt(power));
    }
}

// Frames go through the transform side by side, one per lane, up to the length where the
// sixteen-fold buffers stop fitting the caches (beyond it single transforms are faster). Energy
// frames, which need no transform, go side by side up to a larger size.
constexpr uint32_t FftLanes = Primitives::FftBatchLanes;
constexpr uint32_t LargestSideBySideTransform = 512;
constexpr int32_t LargestSideBySideEnergyFrame = 4096;

// The same roots for FftLanes spectra side by side (CCS entry j of lane l at FftLanes * j + l),
// widened and stored for the first `run` lanes: lane l of bin k at to[k * stride + l].
KELVORA_KERNEL_BODY void MagnitudeLanesBody(const float* __restrict spectra, uint32_t bins,
                                            uint32_t run, double* __restrict to, uint32_t stride)
{
    for (uint32_t k = 0; k < bins; ++k)
    {
        const float* re = spectra + 2 * k * FftLanes;
        const float* im = re + FftLanes;
        float roots[FftLanes];
        for (uint32_t l = 0; l < FftLanes; ++l)
        {
            const double r = re[l];
            const double i = im[l];
            const float power = static_cast<float>(r * r + i * i);
            roots[l] = std::sqrt(std::sqrt(power));
        }
        // Whole runs, the usual case, store with a fixed count: plain vector stores.
        double* row = to + static_cast<size_t>(k) * stride;
        if (run == FftLanes)
        {
            for (uint32_t l = 0; l < FftLanes; ++l)
                row[l] = roots[l];
        }
        else
        {
            for (uint32_t l = 0; l < run; ++l)
                row[l] = roots[l];
        }
    }
}

// Flux sums of `count` (a multiple of Lanes) frames of a bin-major block whose column c + 8 is
// frame c of the block: for each bin, the frame minus its 8 predecessors plus its 7 successors,
// summed over bins where positive.
KELVORA_KERNEL_BODY void FluxSumsBody(const double* block, uint32_t bins, uint32_t stride,
                                      uint32_t count, double* sums)
{
    // Bin by bin over every group of Lanes frames, so that a bin's row is read from memory once.
    const uint32_t groups = count / Lanes;
    Double8 sum[MaxFluxGroups] = {};
    const double* row = block;
    for (uint32_t k = 0; k < bins; ++k, row += stride)
    {
        for (uint32_t g = 0; g < groups; ++g)
        {
            // column[j] holds frame j - 8 of each lane; the block is not vector aligned, so
            // each is copied in.
            Double8 column[ContextFrames];
            for (uint32_t j = 0; j < ContextFrames; ++j)
                std::memcpy(&column[j], row + g * Lanes + j, sizeof(Double8));
            Double8 past = {};
            for (uint32_t j = 0; j < ContextPast; ++j)
                past += column[j];
            Double8 future = {};
            for (uint32_t j = 1; j <= ContextFuture; ++j)
                future += column[ContextPast + j];
            const Double8 d = column[ContextPast] - past + future;
            // Only rises count: the others (and NaN) add +0, which leaves the sum as it is.
            sum[g] += reinterpret_cast<Double8>(reinterpret_cast<Mask8>(d) & (d > Double8{}));
        }
    }
    std::memcpy(sums, sum, groups * sizeof(Double8));
}

// One sample of FftLanes frames side by side.
using FloatLanes = float __attribute__((vector_size(FftLanes * sizeof(float))));

// Frame sample i = j * hop + r is offset r of block j of each frame: channel 0 times the window
// (zero without it), then channel 1 times the window added.
template <bool withFirst, bool withSecond>
KELVORA_KERNEL_BODY void
WindowLanesFrom(const float* __restrict first, const float* __restrict second, int32_t blocks,
                int32_t hop, int32_t width, const float* __restrict window, float* __restrict lanes)
{
    for (int32_t j = 0; j < blocks; ++j)
    {
        for (int32_t r = 0; r < hop; ++r)
        {
            const int32_t i = j * hop + r;
            const size_t at = static_cast<size_t>(r) * width + j;
            const float w = window[i];
            FloatLanes value = {};
            if constexpr (withFirst)
            {
                FloatLanes a;
                std::memcpy(&a, first + at, sizeof(a));
                value = a * w;
            }
            if constexpr (withSecond)
            {
                FloatLanes b;
                std::memcpy(&b, second + at, sizeof(b));
                value = value + b * w;
            }
            std::memcpy(lanes + static_cast<size_t>(FftLanes) * i, &value, sizeof(value));
        }
    }
}

// Windowed frames side by side from the transposed hop blocks of each channel (see
// TrackInput::BuildLaneFrames): channel 0 (zero when absent) times the window, then channel 1
// times the window added, as BuildFrame does.
KELVORA_KERNEL_BODY void WindowLanesBody(const float* __restrict first,
                                         const float* __restrict second, int32_t blocks,
                                         int32_t hop, int32_t width, const float* __restrict window,
                                         float* __restrict lanes)
{
    if (first != nullptr && second != nullptr)
        WindowLanesFrom<true, true>(first, second, blocks, hop, width, window, lanes);
    else if (first != nullptr)
        WindowLanesFrom<true, false>(first, second, blocks, hop, width, window, lanes);
    else if (second != nullptr)
        WindowLanesFrom<false, true>(first, second, blocks, hop, width, window, lanes);
    else
        WindowLanesFrom<false, false>(first, second, blocks, hop, width, window, lanes);
}

using WindowLanesKernel = KernelBuilds<WindowLanesBody>::Kernel;

// Fourth roots of the energies of FftLanes frames side by side (sample i of frame l at
// lanes[FftLanes * i + l]), each summed in sample order, for the first `run` frames.
KELVORA_KERNEL_BODY void EnergyLanesBody(const float* __restrict lanes, int32_t n, uint32_t run,
                                         float* __restrict out)
{
    double energy[FftLanes] = {};
    for (int32_t i = 0; i < n; ++i)
    {
        const float* x = lanes + static_cast<size_t>(FftLanes) * i;
        for (uint32_t l = 0; l < FftLanes; ++l)
            energy[l] += static_cast<double>(x[l]) * x[l];
    }
    // The energy is a stored float before its roots are taken.
    for (uint32_t l = 0; l < run; ++l)
        out[l] = std::sqrt(std::sqrt(static_cast<float>(energy[l])));
}

// Frames per flux block: a multiple of Lanes, as many as keep the block near 256 KiB, from 8
// (very long frames) to 64.
uint32_t FluxBlockFrames(uint32_t bins)
{
    const uint32_t fit = (32768u / bins) / Lanes * Lanes;
    return std::clamp(fit, Lanes, MaxFluxGroups * Lanes);
}

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

// rows[r * width + b] = x[b * hop + r] for r < hop, b < width, from block `b` on: the hop blocks
// of x as columns, one at a time.
void TransposeBlocksFrom(int32_t b, const float* x, int32_t hop, int32_t width, float* rows)
{
    for (; b < width; ++b)
        for (int32_t r = 0; r < hop; ++r)
            rows[static_cast<size_t>(r) * width + b] = x[static_cast<int64_t>(b) * hop + r];
}

#if KELVORA_HAS_WIDE_PATHS
// The same, four whole blocks at a time, so that x is read in order rather than in strides of a
// hop; returns the first block not done.
int32_t TransposeBlocksBy4(int32_t b, const float* x, int32_t hop, int32_t width, float* rows)
{
    for (; b + 4 <= width; b += 4)
    {
        const float* blocks = x + static_cast<int64_t>(b) * hop;
        int32_t r = 0;
        // Four offsets of the four blocks at a time.
        for (; r + 4 <= hop; r += 4)
        {
            __m128 a0 = _mm_loadu_ps(blocks + r);
            __m128 a1 = _mm_loadu_ps(blocks + hop + r);
            __m128 a2 = _mm_loadu_ps(blocks + 2 * hop + r);
            __m128 a3 = _mm_loadu_ps(blocks + 3 * hop + r);
            _MM_TRANSPOSE4_PS(a0, a1, a2, a3);
            float* to = rows + static_cast<size_t>(r) * width + b;
            _mm_storeu_ps(to, a0);
            _mm_storeu_ps(to + width, a1);
            _mm_storeu_ps(to + 2 * width, a2);
            _mm_storeu_ps(to + 3 * width, a3);
        }
        for (; r < hop; ++r)
            for (int32_t e = 0; e < 4; ++e)
                rows[static_cast<size_t>(r) * width + b + e] =
                    blocks[static_cast<int64_t>(e) * hop + r];
    }
    return b;
}

// Four floats from `low` in the low half, four from `high` in the high half.
KELVORA_TARGET_AVX2 [[gnu::always_inline]] inline __m256 LoadHalves(const float* low,
                                                                    const float* high)
{
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(low)), _mm_loadu_ps(high), 1);
}

// Transposes the 4 x 4 matrices in the low halves and in the high halves of a[0..3].
KELVORA_TARGET_AVX2 [[gnu::always_inline]] inline void TransposeHalves(__m256* a)
{
    const __m256 t0 = _mm256_unpacklo_ps(a[0], a[1]);
    const __m256 t1 = _mm256_unpackhi_ps(a[0], a[1]);
    const __m256 t2 = _mm256_unpacklo_ps(a[2], a[3]);
    const __m256 t3 = _mm256_unpackhi_ps(a[2], a[3]);
    a[0] = _mm256_shuffle_ps(t0, t2, 0x44);
    a[1] = _mm256_shuffle_ps(t0, t2, 0xEE);
    a[2] = _mm256_shuffle_ps(t1, t3, 0x44);
    a[3] = _mm256_shuffle_ps(t1, t3, 0xEE);
}

// Eight whole blocks by eight offsets at a time. Each register holds four offsets of block e in
// its low half and of block e + 4 in its high half, so the loads do all the lane crossing.
KELVORA_TARGET_AVX2 int32_t TransposeBlocksBy8(int32_t b, const float* x, int32_t hop,
                                               int32_t width, float* rows)
{
    if (hop % 8 != 0)
        return b;
    for (; b + 8 <= width; b += 8)
    {
        const float* blocks = x + static_cast<int64_t>(b) * hop;
        for (int32_t r = 0; r < hop; r += 8)
        {
            // out[t] ends up as offset r + t of the eight blocks.
            __m256 out[8];
            for (int32_t e = 0; e < 4; ++e)
            {
                const float* low = blocks + static_cast<int64_t>(e) * hop + r;
                const float* high = low + 4 * static_cast<int64_t>(hop);
                out[e] = LoadHalves(low, high);
                out[4 + e] = LoadHalves(low + 4, high + 4);
            }
            TransposeHalves(out);
            TransposeHalves(out + 4);
            float* to = rows + static_cast<size_t>(r) * width + b;
            for (int32_t t = 0; t < 8; ++t)
                _mm256_storeu_ps(to + static_cast<size_t>(t) * width, out[t]);
        }
    }
    return b;
}
#endif

// rows[r * width + b] = x[b * hop + r] for r < hop, b < width: the hop blocks of x as columns.
void TransposeBlocks(const float* x, int32_t hop, int32_t width, float* rows)
{
    int32_t b = 0;
#if KELVORA_HAS_WIDE_PATHS
    // Pure data movement: every path gives the same rows.
    if (ActiveKernelPath() != KernelPath::Baseline)
        b = TransposeBlocksBy8(b, x, hop, width, rows);
    b = TransposeBlocksBy4(b, x, hop, width, rows);
#endif
    TransposeBlocksFrom(b, x, hop, width, rows);
}

// Hop blocks per row when FftLanes frames of `blocks` hop blocks are built side by side: the
// blocks + FftLanes - 1 they span, and more up to a multiple of four, so that the transposition
// runs in whole tiles.
int32_t LaneRowWidth(int32_t blocks)
{
    return (blocks + static_cast<int32_t>(FftLanes) + 3) / 4 * 4;
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

    // Writes FftLanes windowed frames of n = blocks * hop samples side by side (sample i of frame
    // q at lanes[FftLanes * i + q]), frame q starting at start + q * hop, with the values
    // BuildFrame gives. Each sample is read once: the hop blocks of the run go into the scratch
    // rows (LaneRowWidth(blocks) floats per offset in the hop, two channels), from which every
    // frame sample row is one contiguous slice.
    void BuildLaneFrames(int64_t start, int32_t hop, int32_t blocks, const float* window,
                         WindowLanesKernel windowLanes, float* scratch, float* lanes) const
    {
        const int32_t width = LaneRowWidth(blocks);
        float* rows[2] = {scratch, scratch + static_cast<size_t>(hop) * width};
        const float* sources[2] = {first, second};
        for (int c = 0; c < 2; ++c)
        {
            if (sources[c] == nullptr)
                continue;
            // Inside the audio (one block more than needed, so that the transposes can run to
            // the end of the rows) each row gathers one offset of every block.
            if (start >= 0 && start + static_cast<int64_t>(width) * hop <= length)
            {
                TransposeBlocks(sources[c] + start, hop, width, rows[c]);
                continue;
            }
            for (int32_t r = 0; r < hop; ++r)
            {
                for (int32_t b = 0; b + 1 < width; ++b)
                {
                    const int64_t index = start + static_cast<int64_t>(b) * hop + r;
                    rows[c][r * width + b] =
                        index >= 0 && index < length ? sources[c][index] : 0.0f;
                }
            }
        }
        windowLanes(first != nullptr ? rows[0] : nullptr, second != nullptr ? rows[1] : nullptr,
                    blocks, hop, width, window, lanes);
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

// The flux track into `out` (one value per frame, at least four frames). When `energyOut` is given
// and the frames are built from hop blocks in fours, the energy track of frames half as long is
// taken from the same blocks (its frames are the middle halves of the flux frames) and written to
// energyOut; returns whether it was.
bool FluxTrack(const TrackInput& input, int32_t offset, int32_t frameSize, int32_t hop,
               std::vector<float>& out, float* energyOut)
{
    const uint32_t frames = static_cast<uint32_t>(out.size());
    const uint32_t last = frames - 1;

    const int32_t n = frameSize;
    const uint32_t bins = static_cast<uint32_t>(n / 2) + 1;
    RealFFT fft(n);
    // The transform may be longer than the frame; the zeros past n pad it.
    const uint32_t transformLength = 1u << RealFFT::OrderFor(n);
    DataTail1D window(static_cast<uint32_t>(n));
    MakeWindow(window.Data(), n, WindowNorm::UnitMean, 1.0f);
    DataTail1D frame(transformLength);

    // The flux of a block of frames is computed from a bin-major block of magnitudes (widened to
    // double once) that spans the block and its context: column c holds frame first - 8 + c.
    // Frames before the audio are zero columns, which add nothing to a sum that starts at zero;
    // frames after the last repeat the last one, as the clamped context asks. The block stays
    // small (about 256 KiB where the spectrum allows) however long the loop is, and the next
    // block starts from the previous one's last ContextFrames - 1 columns.
    const uint32_t blockFrames = FluxBlockFrames(bins);
    const uint32_t stride = blockFrames + ContextFrames;
    std::vector<double> block(static_cast<size_t>(bins) * stride, 0.0);
    std::vector<double> sums(blockFrames);
    const auto magnitudeLanes = KernelBuilds<MagnitudeLanesBody>::Active();
    const auto magnitudeRows = KernelBuilds<MagnitudeRowBody>::Active();
    const auto fluxSums = KernelBuilds<FluxSumsBody>::Active();
    const WindowLanesKernel windowLanes = KernelBuilds<WindowLanesBody>::Active();
    auto column = [&](uint32_t c) { return block.data() + c; };
    constexpr uint32_t Carried = ContextFrames - 1;

    // Spectra and magnitudes are taken for a run of consecutive frames at once: side by side in
    // one transform call while the transform is short, otherwise one after the other with one
    // magnitude loop over all their bins.
    const bool sideBySide = transformLength <= LargestSideBySideTransform;
    std::vector<float> laneFrames(sideBySide ? FftLanes * transformLength : 0, 0.0f);
    std::vector<float> laneSpectra(sideBySide ? FftLanes * (transformLength + 2) : 0);
    // Frames that are whole numbers of hops are built from hop blocks.
    const int32_t hopBlocks = sideBySide && n % hop == 0 ? n / hop : 0;
    std::vector<float> laneScratch(
        hopBlocks > 0 ? 2 * static_cast<size_t>(hop) * LaneRowWidth(hopBlocks) : 0);
    const bool withEnergy = energyOut != nullptr && hopBlocks > 0 && hopBlocks % 4 == 0;
    const int32_t energySize = withEnergy ? n / 2 : 0;
    DataTail1D energyWindow(static_cast<uint32_t>(energySize));
    if (withEnergy)
        MakeWindow(energyWindow.Data(), energySize, WindowNorm::UnitMean, 1.0f);
    std::vector<float> energyLanes(static_cast<size_t>(FftLanes) * energySize);
    const auto energies = KernelBuilds<EnergyLanesBody>::Active();
    const uint32_t spectrumFloats = transformLength + 2;
    const uint32_t spectrumBins = spectrumFloats / 2;
    const uint32_t batch =
        sideBySide ? FftLanes : std::clamp(32768u / spectrumBins, 1u, blockFrames + Carried);
    DataTail1D spectra(sideBySide ? 0 : batch * spectrumFloats);
    std::vector<double> squares(sideBySide ? 0 : static_cast<size_t>(batch) * spectrumFloats);
    std::vector<float> magnitudes(sideBySide ? 0 : static_cast<size_t>(batch) * spectrumBins);

    for (uint32_t first = 0; first < frames; first += blockFrames)
    {
        const uint32_t count = std::min(blockFrames, frames - first);
        const uint32_t columns = count + Carried;
        uint32_t c = 0;
        if (first > 0)
        {
            // Through registers, as the copy is short and with the smallest blocks overlaps.
            for (uint32_t k = 0; k < bins; ++k)
            {
                double carried[Carried];
                std::memcpy(carried, column(blockFrames) + k * stride, sizeof(carried));
                std::memcpy(column(0) + k * stride, carried, sizeof(carried));
            }
            c = Carried;
        }
        while (c < columns)
        {
            const int64_t g = static_cast<int64_t>(first) - ContextPast + c;
            double* to = column(c);
            if (g < 0 || g > last)
            {
                // The last frame's column when past the end (it is in this block by then).
                const double* from = g < 0 ? nullptr : column(last + ContextPast - first);
                for (uint32_t k = 0; k < bins; ++k)
                    to[k * stride] = from != nullptr ? from[k * stride] : 0.0;
                ++c;
                continue;
            }
            const uint32_t run = static_cast<uint32_t>(
                std::min<int64_t>({batch, columns - c, static_cast<int64_t>(last) - g + 1}));
            if (sideBySide)
            {
                // Lanes past the run hold other samples; their results are not stored.
                const int64_t start = FrameStart(offset, n, hop, static_cast<uint32_t>(g));
                if (hopBlocks > 0)
                {
                    input.BuildLaneFrames(start, hop, hopBlocks, window.Data(), windowLanes,
                                          laneScratch.data(), laneFrames.data());
                    if (withEnergy)
                    {
                        // An energy frame starts a quarter of a flux frame later.
                        const int32_t width = LaneRowWidth(hopBlocks);
                        const float* rows = laneScratch.data() + hopBlocks / 4;
                        windowLanes(
                            input.first != nullptr ? rows : nullptr,
                            input.second != nullptr ? rows + static_cast<size_t>(hop) * width
                                                    : nullptr,
                            hopBlocks / 2, hop, width, energyWindow.Data(), energyLanes.data());
                        energies(energyLanes.data(), energySize, run, energyOut + g);
                    }
                }
                else
                {
                    for (uint32_t q = 0; q < run; ++q)
                    {
                        input.BuildFrame(start + static_cast<int64_t>(q) * hop, n, window.Data(),
                                         frame.Data());
                        for (int32_t i = 0; i < n; ++i)
                            laneFrames[FftLanes * i + q] = frame.Data()[i];
                    }
                }
                fft.ForwardBatch(laneFrames.data(), laneSpectra.data());
                magnitudeLanes(laneSpectra.data(), bins, run, to, stride);
                c += run;
                continue;
            }
            for (uint32_t q = 0; q < run; ++q)
            {
                input.BuildFrame(FrameStart(offset, n, hop, static_cast<uint32_t>(g + q)), n,
                                 window.Data(), frame.Data());
                fft.Forward(frame.Data(), spectra.Data() + q * spectrumFloats);
            }
            magnitudeRows(spectra.Data(), run * spectrumBins, squares.data(), magnitudes.data());
            for (uint32_t k = 0; k < bins; ++k)
            {
                const float* from = magnitudes.data() + k;
                for (uint32_t q = 0; q < run; ++q)
                    to[k * stride + q] = from[q * spectrumBins];
            }
            c += run;
        }
        fluxSums(block.data(), bins, stride, (count + Lanes - 1) / Lanes * Lanes, sums.data());
        for (uint32_t i = 0; i < count; ++i)
            out[first + i] = static_cast<float>(sums[i] / bins);
    }
    return withEnergy;
}

} // namespace

void SpectralFluxTrack(const float* const* channels, uint32_t channelCount, uint32_t length,
                       float /*sampleRate*/, int32_t offset, int32_t frameSize, int32_t hop,
                       std::vector<float>& out)
{
    if (PrepareTrack(length, frameSize, hop, out))
        FluxTrack(TrackInput(channels, channelCount, length), offset, frameSize, hop, out, nullptr);
}

void FluxAndEnergyTracks(const float* const* channels, uint32_t channelCount, uint32_t length,
                         float sampleRate, int32_t frameSize, int32_t hop, std::vector<float>& flux,
                         std::vector<float>& energy)
{
    const bool fluxFrames = PrepareTrack(length, frameSize, hop, flux);
    const bool energyFrames = PrepareTrack(length, frameSize / 2, hop, energy);
    const TrackInput input(channels, channelCount, length);
    if (fluxFrames &&
        FluxTrack(input, 0, frameSize, hop, flux, energyFrames ? energy.data() : nullptr))
        return;
    if (energyFrames)
        EnergyTrack(channels, channelCount, length, sampleRate, 0, frameSize / 2, hop, energy);
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
    uint32_t f = 0;
    // Frames of whole hops go FftLanes at a time, one per lane, built from hop blocks.
    if (n % hop == 0 && n <= LargestSideBySideEnergyFrame)
    {
        const int32_t blocks = n / hop;
        std::vector<float> lanes(static_cast<size_t>(FftLanes) * n);
        std::vector<float> scratch(2 * static_cast<size_t>(hop) * LaneRowWidth(blocks));
        const auto energies = KernelBuilds<EnergyLanesBody>::Active();
        const WindowLanesKernel windowLanes = KernelBuilds<WindowLanesBody>::Active();
        for (; f < frames; f += FftLanes)
        {
            input.BuildLaneFrames(FrameStart(offset, n, hop, f), hop, blocks, window.Data(),
                                  windowLanes, scratch.data(), lanes.data());
            energies(lanes.data(), n, std::min(FftLanes, frames - f), outEnergy.data() + f);
        }
    }
    for (; f < frames; ++f)
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
