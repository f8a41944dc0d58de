#include "dsp/render/InterpolationKernel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KELVORA_HAS_AVX2_PATH 1
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

float Interpolate(const float* slice, const TapRun& taps, uint32_t j)
{
    return static_cast<float>(static_cast<double>(slice[taps.first[j]]) * taps.firstWeight[j] +
                              static_cast<double>(slice[taps.second[j]]) * taps.secondWeight[j]);
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
        out[j] += gain[j] * Interpolate(slice, taps, j);
}

#if KELVORA_HAS_AVX2_PATH

// Four frames at a time: heads inside the slice are truncated in a vector; a group with any head
// outside it (the turns at the slice's ends) takes the scalar rule frame by frame.
[[gnu::target("avx2")]] void MakeTapsAvx2(uint32_t count, const double* heads, uint32_t length,
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
[[gnu::target("avx2")]] void InterpolateAvx2(uint32_t count, const float* slice, const TapRun& taps,
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
        if (base + 8 <= length &&
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
        out[j] += gain[j] * Interpolate(slice, taps, j);
}

bool ProcessorHasAvx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

#endif

} // namespace

Functions ForPath(Path path)
{
    switch (path)
    {
    case Path::Baseline:
        return {MakeTapsBaseline, InterpolateBaseline};
#if KELVORA_HAS_AVX2_PATH
    case Path::Avx2:
        if (ProcessorHasAvx2())
            return {MakeTapsAvx2, InterpolateAvx2};
        return {nullptr, nullptr};
#endif
    default:
        return {nullptr, nullptr};
    }
}

namespace
{

Functions Choose()
{
    const Functions avx2 = ForPath(Path::Avx2);
    return avx2.makeTaps != nullptr ? avx2 : ForPath(Path::Baseline);
}

// Chosen when the library is loaded, so that the first render takes no initialisation guard.
const Functions bestFunctions = Choose();

} // namespace

const Functions& Best()
{
    return bestFunctions;
}

} // namespace DSP::InterpolationKernel
