#include "dsp/render/InterpolationKernel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#if KELVORA_HAS_WIDE_PATHS
#include <immintrin.h>
#endif

namespace DSP::InterpolationKernel
{
namespace
{

constexpr uint32_t LargestGatherIndex = 0x7FFFFFFFu;

void MakeTap(double head, uint32_t length, const TapRun& taps, uint32_t j)
{
    const uint32_t last = length - 1;
    uint32_t first = 0;
    uint32_t second = 0;
    double frac = 0.0;
    if (!(head >= 0.0))
    {
        // NaN or before the slice: its first frame, frac 0.
    }
    else if (head >= static_cast<double>(length))
    {
        first = second = last;
        if (std::isfinite(head))
            frac = head - std::floor(head);
    }
    else
    {
        // The head is not negative here, so its integer part is the truncated index.
        first = static_cast<uint32_t>(head);
        second = std::min(first + 1, last);
        frac = head - static_cast<double>(first);
    }
    taps.first[j] = first;
    taps.second[j] = second;
    taps.firstWeight[j] = 1.0 - frac;
    taps.secondWeight[j] = frac;
}

void MakeTapsBaseline(uint32_t count, const double* heads, uint32_t length, const TapRun& taps)
{
    for (uint32_t j = 0; j < count; ++j)
        MakeTap(heads[j], length, taps, j);
}

void InterpolateBaseline(uint32_t count, const float* slice, const TapRun& taps, const float* gain,
                         float* out, uint32_t)
{
    for (uint32_t j = 0; j < count; ++j)
        out[j] += gain[j] * Read(slice, taps, j);
}

#if KELVORA_HAS_WIDE_PATHS

// Four frames at a time: heads inside the slice are truncated in a vector; a group with any head
// outside it (the turns at the slice's ends) takes the scalar rule frame by frame.
KELVORA_TARGET_AVX2 void MakeTapsAvx2(uint32_t count, const double* heads, uint32_t length,
                                      const TapRun& taps)
{
    uint32_t j = 0;
    if (length <= LargestGatherIndex)
    {
        const __m256d zero = _mm256_setzero_pd();
        const __m256d one = _mm256_set1_pd(1.0);
        const __m256d end = _mm256_set1_pd(static_cast<double>(length));
        const __m128i last = _mm_set1_epi32(static_cast<int32_t>(length - 1));
        const __m128i step = _mm_set1_epi32(1);
        for (; j + 4 <= count; j += 4)
        {
            const __m256d head = _mm256_loadu_pd(heads + j);
            const __m256d inside = _mm256_and_pd(_mm256_cmp_pd(head, zero, _CMP_GE_OQ),
                                                 _mm256_cmp_pd(head, end, _CMP_LT_OQ));
            if (_mm256_movemask_pd(inside) != 0xF)
            {
                for (uint32_t q = j; q < j + 4; ++q)
                    MakeTap(heads[q], length, taps, q);
                continue;
            }
            const __m128i first = _mm256_cvttpd_epi32(head);
            const __m256d frac = _mm256_sub_pd(head, _mm256_cvtepi32_pd(first));
            const __m128i second = _mm_min_epi32(_mm_add_epi32(first, step), last);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(taps.first + j), first);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(taps.second + j), second);
            _mm256_storeu_pd(taps.firstWeight + j, _mm256_sub_pd(one, frac));
            _mm256_storeu_pd(taps.secondWeight + j, frac);
        }
    }
    for (; j < count; ++j)
        MakeTap(heads[j], length, taps, j);
}

// Four frames at a time. Their eight reads usually lie within eight consecutive frames of the
// slice: one load of that window and two permutes then fetch them all. Reads spread wider (high
// rates, crossfade turns) or too near the slice's end are loaded one by one; gather
// instructions are avoided, as they are slower than loads on processors that mitigate gather
// data sampling.
KELVORA_TARGET_AVX2 void InterpolateAvx2(uint32_t count, const float* slice, const TapRun& taps,
                                         const float* gain, float* out, uint32_t length)
{
    const __m128i widest = _mm_set1_epi32(7);
    uint32_t j = 0;
    for (; j + 4 <= count; j += 4)
    {
        const uint32_t* first = taps.first + j;
        const uint32_t* second = taps.second + j;
        const uint32_t base = std::min(first[0], first[3]);
        const __m128i baseVector = _mm_set1_epi32(static_cast<int32_t>(base));
        const __m128i firstOffset =
            _mm_sub_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first)), baseVector);
        const __m128i secondOffset =
            _mm_sub_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(second)), baseVector);
        const __m128i spread = _mm_max_epu32(firstOffset, secondOffset);
        __m128 a;
        __m128 b;
        if (length - base >= 8 &&
            _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_min_epu32(spread, widest), spread)) == 0xFFFF)
        {
            const __m256 window = _mm256_loadu_ps(slice + base);
            a = _mm256_castps256_ps128(
                _mm256_permutevar8x32_ps(window, _mm256_castsi128_si256(firstOffset)));
            b = _mm256_castps256_ps128(
                _mm256_permutevar8x32_ps(window, _mm256_castsi128_si256(secondOffset)));
        }
        else
        {
            a = _mm_setr_ps(slice[first[0]], slice[first[1]], slice[first[2]], slice[first[3]]);
            b = _mm_setr_ps(slice[second[0]], slice[second[1]], slice[second[2]], slice[second[3]]);
        }
        const __m256d sum = _mm256_add_pd(
            _mm256_mul_pd(_mm256_cvtps_pd(a), _mm256_loadu_pd(taps.firstWeight + j)),
            _mm256_mul_pd(_mm256_cvtps_pd(b), _mm256_loadu_pd(taps.secondWeight + j)));
        const __m128 value = _mm256_cvtpd_ps(sum);
        const __m128 mixed =
            _mm_add_ps(_mm_loadu_ps(out + j), _mm_mul_ps(_mm_loadu_ps(gain + j), value));
        _mm_storeu_ps(out + j, mixed);
    }
    for (; j < count; ++j)
        out[j] += gain[j] * Read(slice, taps, j);
}

// GCC 12 flags the placeholder registers inside its own AVX-512 conversion intrinsics as maybe
// uninitialized; they are never read.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// The AVX2 versions widened to eight frames: a sixteen-frame window serves the eight frames'
// reads, and the products and sums are the same double-precision operations in the same order.
KELVORA_TARGET_AVX512 void MakeTapsAvx512(uint32_t count, const double* heads, uint32_t length,
                                          const TapRun& taps)
{
    uint32_t j = 0;
    if (length <= LargestGatherIndex)
    {
        const __m512d zero = _mm512_setzero_pd();
        const __m512d one = _mm512_set1_pd(1.0);
        const __m512d end = _mm512_set1_pd(static_cast<double>(length));
        const __m256i last = _mm256_set1_epi32(static_cast<int32_t>(length - 1));
        const __m256i step = _mm256_set1_epi32(1);
        for (; j + 8 <= count; j += 8)
        {
            const __m512d head = _mm512_loadu_pd(heads + j);
            const __mmask8 inside = _mm512_cmp_pd_mask(head, zero, _CMP_GE_OQ) &
                                    _mm512_cmp_pd_mask(head, end, _CMP_LT_OQ);
            if (inside != 0xFF)
            {
                for (uint32_t q = j; q < j + 8; ++q)
                    MakeTap(heads[q], length, taps, q);
                continue;
            }
            const __m256i first = _mm512_cvttpd_epi32(head);
            const __m512d frac = _mm512_sub_pd(head, _mm512_cvtepi32_pd(first));
            const __m256i second = _mm256_min_epi32(_mm256_add_epi32(first, step), last);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(taps.first + j), first);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(taps.second + j), second);
            _mm512_storeu_pd(taps.firstWeight + j, _mm512_sub_pd(one, frac));
            _mm512_storeu_pd(taps.secondWeight + j, frac);
        }
    }
    for (; j < count; ++j)
        MakeTap(heads[j], length, taps, j);
}

KELVORA_TARGET_AVX512 void InterpolateAvx512(uint32_t count, const float* slice, const TapRun& taps,
                                             const float* gain, float* out, uint32_t length)
{
    const __m256i widest = _mm256_set1_epi32(15);
    uint32_t j = 0;
    for (; j + 8 <= count; j += 8)
    {
        const uint32_t* first = taps.first + j;
        const uint32_t* second = taps.second + j;
        const uint32_t base = std::min(first[0], first[7]);
        const __m256i baseVector = _mm256_set1_epi32(static_cast<int32_t>(base));
        const __m256i firstOffset = _mm256_sub_epi32(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(first)), baseVector);
        const __m256i secondOffset = _mm256_sub_epi32(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(second)), baseVector);
        const __m256i spread = _mm256_max_epu32(firstOffset, secondOffset);
        __m256 a;
        __m256 b;
        if (length - base >= 16 && _mm256_cmple_epu32_mask(spread, widest) == 0xFF)
        {
            const __m512 window = _mm512_loadu_ps(slice + base);
            a = _mm512_castps512_ps256(
                _mm512_permutexvar_ps(_mm512_castsi256_si512(firstOffset), window));
            b = _mm512_castps512_ps256(
                _mm512_permutexvar_ps(_mm512_castsi256_si512(secondOffset), window));
        }
        else
        {
            a = _mm256_setr_ps(slice[first[0]], slice[first[1]], slice[first[2]], slice[first[3]],
                               slice[first[4]], slice[first[5]], slice[first[6]], slice[first[7]]);
            b = _mm256_setr_ps(slice[second[0]], slice[second[1]], slice[second[2]],
                               slice[second[3]], slice[second[4]], slice[second[5]],
                               slice[second[6]], slice[second[7]]);
        }
        const __m512d sum = _mm512_add_pd(
            _mm512_mul_pd(_mm512_cvtps_pd(a), _mm512_loadu_pd(taps.firstWeight + j)),
            _mm512_mul_pd(_mm512_cvtps_pd(b), _mm512_loadu_pd(taps.secondWeight + j)));
        const __m256 value = _mm512_cvtpd_ps(sum);
        const __m256 mixed = _mm256_add_ps(_mm256_loadu_ps(out + j),
                                           _mm256_mul_ps(_mm256_loadu_ps(gain + j), value));
        _mm256_storeu_ps(out + j, mixed);
    }
    for (; j < count; ++j)
        out[j] += gain[j] * Read(slice, taps, j);
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif

} // namespace

Functions ForPath(KernelPath path)
{
    switch (path)
    {
#if KELVORA_HAS_WIDE_PATHS
    case KernelPath::Avx512:
        return {MakeTapsAvx512, InterpolateAvx512};
    case KernelPath::Avx2:
        return {MakeTapsAvx2, InterpolateAvx2};
#endif
    default:
        return {MakeTapsBaseline, InterpolateBaseline};
    }
}

Functions Active()
{
    return ForPath(ActiveKernelPath());
}

} // namespace DSP::InterpolationKernel
