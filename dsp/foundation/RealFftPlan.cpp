#include "dsp/foundation/RealFftPlan.h"

#include "dsp/foundation/KernelPath.h"
#include "dsp/foundation/Primitives.h"

#include <cmath>
#include <cstring>
#include <numbers>
#include <utility>

// The pass loops write several output rows through one pointer. Their iterations never touch
// each other's elements, which GCC cannot see without more overlap checks than it allows itself,
// so it would leave them scalar. (Clang checks at run time on its own, and warns when a loop it
// was told to vectorise does not pay, so it gets no hint.)
#if defined(__GNUC__) && !defined(__clang__)
#define KELVORA_INDEPENDENT_ITERATIONS _Pragma("GCC ivdep")
#else
#define KELVORA_INDEPENDENT_ITERATIONS
#endif

// The transform kernels are inlined into the two autosort bodies, which are built once per
// kernel path (KernelPath.h) and picked at each call. Without contraction every build rounds each
// operation the same way, so the paths agree bit for bit.
#define KELVORA_KERNEL KELVORA_KERNEL_BODY

// Batches of sixteen lanes pass through inlined kernels as values wider than the baseline's
// registers; the compilers note that such values would be passed differently across a call,
// which never happens here.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace DSP
{
namespace
{

// e^(-2*pi*i*k/n) in double precision. Folding the angle into the first half of a quarter turn
// keeps quarter and eighth turns exact and the error the same all round the circle.
void UnitRoot(uint64_t k, uint64_t n, double& re, double& im)
{
    k %= n;
    const uint64_t quarter = (4 * k) / n;
    const uint64_t rest = 4 * k - quarter * n; // angle inside the quarter, in (pi/2)/n units
    const double halfPi = std::numbers::pi / 2.0;
    double c;
    double s;
    if (2 * rest <= n)
    {
        const double phi = halfPi * static_cast<double>(rest) / static_cast<double>(n);
        c = std::cos(phi);
        s = std::sin(phi);
    }
    else
    {
        const double phi = halfPi * static_cast<double>(n - rest) / static_cast<double>(n);
        c = std::sin(phi);
        s = std::cos(phi);
    }
    // e^(-i(quarter*pi/2 + phi)) = (-i)^quarter * (c - i*s)
    switch (quarter)
    {
    case 0:
        re = c;
        im = -s;
        break;
    case 1:
        re = -s;
        im = -c;
        break;
    case 2:
        re = -c;
        im = s;
        break;
    default:
        re = s;
        im = c;
        break;
    }
}

// One radix-4 butterfly of the forward transform: a, b, c, d in; y0 and the untwiddled y1..y3 out.
// T is float, or Float4 for four butterflies side by side.
template <typename T> struct Butterfly4
{
    T y0r, y0i, y1r, y1i, y2r, y2i, y3r, y3i;

    Butterfly4(T ar, T ai, T br, T bi, T cr, T ci, T dr, T di)
    {
        const T apcR = ar + cr, apcI = ai + ci;
        const T amcR = ar - cr, amcI = ai - ci;
        const T bpdR = br + dr, bpdI = bi + di;
        const T bmdR = br - dr, bmdI = bi - di;
        y0r = apcR + bpdR;
        y0i = apcI + bpdI;
        y1r = amcR + bmdI; // (a - c) - i(b - d)
        y1i = amcI - bmdR;
        y2r = apcR - bpdR;
        y2i = apcI - bpdI;
        y3r = amcR - bmdI; // (a - c) + i(b - d)
        y3i = amcI + bmdR;
    }
};
using Radix4 = Butterfly4<float>;

// Four floats as one value, kept in one 128-bit vector register where the target has them. Used
// where a loop would be too short for the compiler's own vector code.
using Float4 = float __attribute__((vector_size(16)));

KELVORA_KERNEL Float4 Load4(const float* p)
{
    Float4 v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

KELVORA_KERNEL void Store4(float* p, Float4 v)
{
    std::memcpy(p, &v, sizeof(v));
}

// Sixteen transforms side by side, one per lane: the batched transform runs the same kernels on
// these values, so each lane sees exactly the operations a single transform performs.
using Float16 = float __attribute__((vector_size(16 * sizeof(float))));

// Element i of an array of V: one float, or the sixteen lanes of element i of a batch, which lie
// together at 16 * i.
template <typename V> constexpr size_t Width = sizeof(V) / sizeof(float);

template <typename V> KELVORA_KERNEL V Ld(const float* p, size_t i)
{
    V v;
    std::memcpy(&v, p + Width<V> * i, sizeof(V));
    return v;
}

template <typename V> KELVORA_KERNEL void St(float* p, size_t i, V v)
{
    std::memcpy(p + Width<V> * i, &v, sizeof(V));
}

// The passes work on split buffers: M real parts followed by M imaginary parts. Their pointers
// are restrict parameters so the compiler can turn each loop into vector code.

// The first radix-4 pass (stride 1): span = 4m points, butterfly p combines points p + k*m and
// writes outputs 4p + k, output k twiddled by e^(-2*pi*i*k*p/span). The loop runs along p.
// With Step 2 it reads the real input itself as interleaved complex points (x_2j + i*x_2j+1),
// which saves a separate pass to split it into re/im rows.
template <typename V, size_t Step>
KELVORA_KERNEL void Radix4FirstPass(size_t m, const float* __restrict w, const float* __restrict xr,
                                    const float* __restrict xi, float* __restrict yr,
                                    float* __restrict yi)
{
    for (size_t p = 0; p < m; ++p)
    {
        const Butterfly4<V> b(Ld<V>(xr, Step * p), Ld<V>(xi, Step * p), Ld<V>(xr, Step * (p + m)),
                              Ld<V>(xi, Step * (p + m)), Ld<V>(xr, Step * (p + 2 * m)),
                              Ld<V>(xi, Step * (p + 2 * m)), Ld<V>(xr, Step * (p + 3 * m)),
                              Ld<V>(xi, Step * (p + 3 * m)));
        const float w1r = w[p], w1i = w[m + p], w2r = w[2 * m + p], w2i = w[3 * m + p];
        const float w3r = w[4 * m + p], w3i = w[5 * m + p];
        St<V>(yr, 4 * p, b.y0r);
        St<V>(yi, 4 * p, b.y0i);
        St<V>(yr, 4 * p + 1, w1r * b.y1r - w1i * b.y1i);
        St<V>(yi, 4 * p + 1, w1r * b.y1i + w1i * b.y1r);
        St<V>(yr, 4 * p + 2, w2r * b.y2r - w2i * b.y2i);
        St<V>(yi, 4 * p + 2, w2r * b.y2i + w2i * b.y2r);
        St<V>(yr, 4 * p + 3, w3r * b.y3r - w3i * b.y3i);
        St<V>(yi, 4 * p + 3, w3r * b.y3i + w3i * b.y3r);
    }
}

// stride butterflies that share one set of twiddles: inputs q + k*quarter, outputs q + k*stride.
template <typename V>
KELVORA_KERNEL void Radix4Group(size_t stride, size_t quarter, const float* w,
                                const float* __restrict xr, const float* __restrict xi,
                                float* __restrict yr, float* __restrict yi)
{
    const float w1r = w[0], w1i = w[1], w2r = w[2], w2i = w[3], w3r = w[4], w3i = w[5];
    KELVORA_INDEPENDENT_ITERATIONS
    for (size_t q = 0; q < stride; ++q)
    {
        const Butterfly4<V> b(Ld<V>(xr, q), Ld<V>(xi, q), Ld<V>(xr, quarter + q),
                              Ld<V>(xi, quarter + q), Ld<V>(xr, 2 * quarter + q),
                              Ld<V>(xi, 2 * quarter + q), Ld<V>(xr, 3 * quarter + q),
                              Ld<V>(xi, 3 * quarter + q));
        St<V>(yr, q, b.y0r);
        St<V>(yi, q, b.y0i);
        St<V>(yr, stride + q, w1r * b.y1r - w1i * b.y1i);
        St<V>(yi, stride + q, w1r * b.y1i + w1i * b.y1r);
        St<V>(yr, 2 * stride + q, w2r * b.y2r - w2i * b.y2i);
        St<V>(yi, 2 * stride + q, w2r * b.y2i + w2i * b.y2r);
        St<V>(yr, 3 * stride + q, w3r * b.y3r - w3i * b.y3i);
        St<V>(yi, 3 * stride + q, w3r * b.y3i + w3i * b.y3r);
    }
}

// A middle radix-4 pass over M points: span = 4m, stride (>= 16) sub-transforms side by side.
// Group p holds the stride butterflies at twiddle index p.
template <typename V>
KELVORA_KERNEL void Radix4Pass(size_t M, size_t span, size_t stride, const float* twiddles,
                               const float* x, float* y)
{
    const size_t m = span / 4;
    const size_t quarter = stride * m;
    for (size_t p = 0; p < m; ++p)
    {
        const float w[6] = {twiddles[p],         twiddles[m + p],     twiddles[2 * m + p],
                            twiddles[3 * m + p], twiddles[4 * m + p], twiddles[5 * m + p]};
        const size_t in = stride * p;
        const size_t out = 4 * stride * p;
        Radix4Group<V>(stride, quarter, w, x + Width<V> * in, x + Width<V> * (M + in),
                       y + Width<V> * out, y + Width<V> * (M + out));
    }
}

// The second pass, where the stride is 4: each group of butterflies is one Float4 operation.
KELVORA_KERNEL void Radix4PassStride4(size_t M, size_t span, const float* __restrict twiddles,
                                      const float* __restrict x, float* __restrict y)
{
    const size_t m = span / 4;
    const size_t quarter = 4 * m;
    const float* xr = x;
    const float* xi = x + M;
    float* yr = y;
    float* yi = y + M;
    for (size_t p = 0; p < m; ++p)
    {
        const float w1r = twiddles[p], w1i = twiddles[m + p], w2r = twiddles[2 * m + p];
        const float w2i = twiddles[3 * m + p], w3r = twiddles[4 * m + p];
        const float w3i = twiddles[5 * m + p];
        const size_t in = 4 * p;
        const size_t out = 16 * p;
        const Butterfly4<Float4> b(Load4(xr + in), Load4(xi + in), Load4(xr + in + quarter),
                                   Load4(xi + in + quarter), Load4(xr + in + 2 * quarter),
                                   Load4(xi + in + 2 * quarter), Load4(xr + in + 3 * quarter),
                                   Load4(xi + in + 3 * quarter));
        Store4(yr + out, b.y0r);
        Store4(yi + out, b.y0i);
        Store4(yr + out + 4, w1r * b.y1r - w1i * b.y1i);
        Store4(yi + out + 4, w1r * b.y1i + w1i * b.y1r);
        Store4(yr + out + 8, w2r * b.y2r - w2i * b.y2i);
        Store4(yi + out + 8, w2r * b.y2i + w2i * b.y2r);
        Store4(yr + out + 12, w3r * b.y3r - w3i * b.y3i);
        Store4(yi + out + 12, w3r * b.y3i + w3i * b.y3r);
    }
}

// The last radix-4 pass (span 4): all twiddles are 1.
template <typename V>
KELVORA_KERNEL void Radix4LastPass(size_t stride, const float* __restrict xr,
                                   const float* __restrict xi, float* __restrict yr,
                                   float* __restrict yi)
{
    KELVORA_INDEPENDENT_ITERATIONS
    for (size_t q = 0; q < stride; ++q)
    {
        const Butterfly4<V> b(Ld<V>(xr, q), Ld<V>(xi, q), Ld<V>(xr, stride + q),
                              Ld<V>(xi, stride + q), Ld<V>(xr, 2 * stride + q),
                              Ld<V>(xi, 2 * stride + q), Ld<V>(xr, 3 * stride + q),
                              Ld<V>(xi, 3 * stride + q));
        St<V>(yr, q, b.y0r);
        St<V>(yi, q, b.y0i);
        St<V>(yr, stride + q, b.y1r);
        St<V>(yi, stride + q, b.y1i);
        St<V>(yr, 2 * stride + q, b.y2r);
        St<V>(yi, 2 * stride + q, b.y2i);
        St<V>(yr, 3 * stride + q, b.y3r);
        St<V>(yi, 3 * stride + q, b.y3i);
    }
}

constexpr float kHalfSqrt2 = 0.707106781186547524f;

// The last pass when log2 M is odd (span 8): eight-point transforms along the stride, built from
// two four-point ones joined by the constant twiddles of W8 = (1 - i)/sqrt2. Replaces a radix-4 and
// a radix-2 pass, one sweep over the data fewer.
template <typename V>
KELVORA_KERNEL void Radix8LastPass(size_t stride, const float* __restrict xr,
                                   const float* __restrict xi, float* __restrict yr,
                                   float* __restrict yi)
{
    KELVORA_INDEPENDENT_ITERATIONS
    for (size_t q = 0; q < stride; ++q)
    {
        // Even points a0, a2, a4, a6 and odd points a1, a3, a5, a7.
        const Butterfly4<V> e(Ld<V>(xr, q), Ld<V>(xi, q), Ld<V>(xr, 2 * stride + q),
                              Ld<V>(xi, 2 * stride + q), Ld<V>(xr, 4 * stride + q),
                              Ld<V>(xi, 4 * stride + q), Ld<V>(xr, 6 * stride + q),
                              Ld<V>(xi, 6 * stride + q));
        const Butterfly4<V> o(Ld<V>(xr, stride + q), Ld<V>(xi, stride + q),
                              Ld<V>(xr, 3 * stride + q), Ld<V>(xi, 3 * stride + q),
                              Ld<V>(xr, 5 * stride + q), Ld<V>(xi, 5 * stride + q),
                              Ld<V>(xr, 7 * stride + q), Ld<V>(xi, 7 * stride + q));
        // W8 * O1 and W8^3 * O3
        const V t1r = kHalfSqrt2 * (o.y1r + o.y1i), t1i = kHalfSqrt2 * (o.y1i - o.y1r);
        const V t3r = kHalfSqrt2 * (o.y3i - o.y3r), t3i = -kHalfSqrt2 * (o.y3r + o.y3i);
        St<V>(yr, q, e.y0r + o.y0r);
        St<V>(yi, q, e.y0i + o.y0i);
        St<V>(yr, 4 * stride + q, e.y0r - o.y0r);
        St<V>(yi, 4 * stride + q, e.y0i - o.y0i);
        St<V>(yr, stride + q, e.y1r + t1r);
        St<V>(yi, stride + q, e.y1i + t1i);
        St<V>(yr, 5 * stride + q, e.y1r - t1r);
        St<V>(yi, 5 * stride + q, e.y1i - t1i);
        // W8^2 = -i
        St<V>(yr, 2 * stride + q, e.y2r + o.y2i);
        St<V>(yi, 2 * stride + q, e.y2i - o.y2r);
        St<V>(yr, 6 * stride + q, e.y2r - o.y2i);
        St<V>(yi, 6 * stride + q, e.y2i + o.y2r);
        St<V>(yr, 3 * stride + q, e.y3r + t3r);
        St<V>(yi, 3 * stride + q, e.y3i + t3i);
        St<V>(yr, 7 * stride + q, e.y3r - t3r);
        St<V>(yi, 7 * stride + q, e.y3i - t3i);
    }
}

// The last pass for M = 8 (span 2, after the first radix-4 pass): sums and differences.
template <typename V>
KELVORA_KERNEL void Radix2LastPass(size_t stride, const float* __restrict xr,
                                   const float* __restrict xi, float* __restrict yr,
                                   float* __restrict yi)
{
    for (size_t q = 0; q < stride; ++q)
    {
        const V ar = Ld<V>(xr, q), ai = Ld<V>(xi, q), br = Ld<V>(xr, stride + q),
                bi = Ld<V>(xi, stride + q);
        St<V>(yr, q, ar + br);
        St<V>(yi, q, ai + bi);
        St<V>(yr, stride + q, ar - br);
        St<V>(yi, stride + q, ai - bi);
    }
}

// Turns the spectrum Z of the M complex points z_j = x_2j + i*x_2j+1 into the CCS spectrum X of
// the N = 2M reals, scaled: with E = (Z_k + conj Z_M-k) / 2 and O = (Z_k - conj Z_M-k) / 2i,
// X_k = E + W^k O, W = e^(-2*pi*i/N). Each bin is computed on its own (rather than X_k and X_M-k
// together) so that the loop reads and writes in one direction and vectorises.
template <typename V>
KELVORA_KERNEL void SplitForward(const float* __restrict zr, const float* __restrict zi,
                                 float* __restrict out, size_t M, const float* __restrict wr,
                                 const float* __restrict wi, float scale)
{
    const V z0r = Ld<V>(zr, 0), z0i = Ld<V>(zi, 0);
    const float half = 0.5f * scale;
    for (size_t k = 1; k < M; ++k)
    {
        const V ar = Ld<V>(zr, k), ai = Ld<V>(zi, k);
        const V br = Ld<V>(zr, M - k), bi = -Ld<V>(zi, M - k);
        const V sr = ar + br, si = ai + bi;
        const V dr = ar - br, di = ai - bi;
        // O = (di - i*dr) / 2
        const V tr = wr[k] * di + wi[k] * dr;
        const V ti = wi[k] * di - wr[k] * dr;
        St<V>(out, 2 * k, half * (sr + tr));
        St<V>(out, 2 * k + 1, half * (si + ti));
    }
    St<V>(out, 0, (z0r + z0i) * scale);
    St<V>(out, 1, V{});
    St<V>(out, 2 * M, (z0r - z0i) * scale);
    St<V>(out, 2 * M + 1, V{});
}

// The reverse of SplitForward, unscaled: builds Z' = 2Z from a CCS spectrum, so that the
// unnormalised inverse transform of Z' is N times the signal: Z'_k = S + i * conj(W^k) * D with
// S = X_k + conj X_M-k and D = X_k - conj X_M-k. It stores conj Z', which lets the forward passes
// compute the inverse transform. Bins 0..M-1 come as re/im rows (so that the loop vectorises like
// SplitForward) and Re X_M on its own; Im X0 (xi[0]) and Im X_M do not enter.
KELVORA_KERNEL void SplitInverse(const float* __restrict xr, const float* __restrict xi, float xm,
                                 float* __restrict zr, float* __restrict zi, size_t M,
                                 const float* __restrict wr, const float* __restrict wi)
{
    for (size_t k = 1; k < M; ++k)
    {
        const float ar = xr[k], ai = xi[k];
        const float br = xr[M - k], bi = -xi[M - k];
        const float sr = ar + br, si = ai + bi;
        const float dr = ar - br, di = ai - bi;
        const float tr = wi[k] * dr - wr[k] * di;
        const float ti = wr[k] * dr + wi[k] * di;
        zr[k] = sr + tr;
        zi[k] = -(si + ti);
    }
    zr[0] = xr[0] + xm;
    zi[0] = xm - xr[0];
}

// Interleaved pairs (re, im) into re/im rows.
KELVORA_KERNEL void Deinterleave(size_t count, const float* __restrict pairs, float* __restrict re,
                                 float* __restrict im)
{
    for (size_t j = 0; j < count; ++j)
    {
        re[j] = pairs[2 * j];
        im[j] = pairs[2 * j + 1];
    }
}

} // namespace

RealFftPlan::~RealFftPlan()
{
    Primitives::AlignedFree(twiddles_);
    Primitives::AlignedFree(fineRoots_);
    Primitives::AlignedFree(coarseRoots_);
}

bool RealFftPlan::Build(int32_t order, int32_t scaling, int32_t hint)
{
    order_ = order;
    length_ = uint32_t{1} << order;
    const double n = static_cast<double>(length_);
    switch (scaling)
    {
    case Primitives::FftDivideForwardByN:
        forwardScale_ = static_cast<float>(1.0 / n);
        break;
    case Primitives::FftDivideInverseByN:
        inverseScale_ = static_cast<float>(1.0 / n);
        break;
    case Primitives::FftDivideBySqrtN:
        forwardScale_ = inverseScale_ = static_cast<float>(1.0 / std::sqrt(n));
        break;
    default:
        break;
    }
    if (order < 4)
    {
        method_ = Method::Direct;
        return true;
    }
    if (hint == Primitives::FftHintCompact || order > LargestAutosortOrder)
        return BuildInPlace();
    return BuildAutosort();
}

bool RealFftPlan::BuildAutosort()
{
    method_ = Method::Autosort;
    const size_t M = length_ / 2;
    size_t floats = 0;
    size_t span = M;
    size_t stride = 1;
    const auto add = [&](PassKind kind, size_t radix)
    {
        passes_[passCount_++] =
            Pass{kind, static_cast<uint32_t>(span), static_cast<uint32_t>(stride), floats};
        if (kind == PassKind::FirstRadix4 || kind == PassKind::Radix4)
            floats += 6 * (span / 4);
        span /= radix;
        stride *= radix;
    };
    // M >= 8: one twiddled radix-4 pass first, then radix-4 down to a last span of 4 or 8.
    add(PassKind::FirstRadix4, 4);
    while (span > 8)
        add(PassKind::Radix4, 4);
    if (span == 8)
        add(PassKind::LastRadix8, 8);
    else if (span == 4)
        add(PassKind::LastRadix4, 4);
    else
        add(PassKind::LastRadix2, 2);
    splitOffset_ = floats;
    floats += 2 * M;

    twiddles_ = static_cast<float*>(Primitives::AlignedAllocate(floats, sizeof(float)));
    if (!twiddles_)
        return false;

    for (uint32_t i = 0; i < passCount_; ++i)
    {
        const Pass& pass = passes_[i];
        if (pass.kind != PassKind::FirstRadix4 && pass.kind != PassKind::Radix4)
            continue;
        const size_t m = pass.span / 4;
        float* t = twiddles_ + pass.twiddleOffset;
        for (size_t p = 0; p < m; ++p)
            for (size_t k = 1; k <= 3; ++k)
            {
                double re, im;
                UnitRoot(k * p, pass.span, re, im);
                t[(2 * k - 2) * m + p] = static_cast<float>(re);
                t[(2 * k - 1) * m + p] = static_cast<float>(im);
            }
    }
    float* splitRe = twiddles_ + splitOffset_;
    float* splitIm = splitRe + M;
    for (size_t k = 0; k < M; ++k)
    {
        double re, im;
        UnitRoot(k, length_, re, im);
        splitRe[k] = static_cast<float>(re);
        splitIm[k] = static_cast<float>(im);
    }
    // Two split buffers of N floats each; the passes never touch the caller's arrays, so source
    // and destination may be the same memory.
    workBytes_ = size_t{8} * length_;
    return true;
}

bool RealFftPlan::BuildInPlace()
{
    method_ = Method::InPlace;
    // Root indices run below N/2, i.e. order - 1 bits, split between the two tables.
    const uint32_t bits = static_cast<uint32_t>(order_ - 1);
    fineBits_ = (bits + 1) / 2;
    const size_t fineCount = size_t{1} << fineBits_;
    const size_t coarseCount = size_t{1} << (bits - fineBits_);
    fineRoots_ = static_cast<double*>(Primitives::AlignedAllocate(2 * fineCount, sizeof(double)));
    coarseRoots_ =
        static_cast<double*>(Primitives::AlignedAllocate(2 * coarseCount, sizeof(double)));
    if (!fineRoots_ || !coarseRoots_)
        return false;
    for (size_t i = 0; i < fineCount; ++i)
        UnitRoot(i, length_, fineRoots_[2 * i], fineRoots_[2 * i + 1]);
    for (size_t i = 0; i < coarseCount; ++i)
        UnitRoot(i << fineBits_, length_, coarseRoots_[2 * i], coarseRoots_[2 * i + 1]);
    workBytes_ = 0;
    return true;
}

// Every kernel reads all of its input before writing, so source and destination may coincide.
void RealFftPlan::ForwardDirect(const float* x, float* y) const
{
    const float s = forwardScale_;
    switch (order_)
    {
    case 0:
        // The single bin of a one-point transform: X0 = x0. Entries 1 and N + 1 are the
        // imaginary slots that CCS always zeroes.
        y[0] = x[0] * s;
        y[1] = 0.0f;
        y[2] = 0.0f;
        break;
    case 1:
    {
        const float x0 = x[0], x1 = x[1];
        y[0] = (x0 + x1) * s;
        y[1] = 0.0f;
        y[2] = (x0 - x1) * s;
        y[3] = 0.0f;
        break;
    }
    case 2:
    {
        const float a0 = x[0] + x[2], a1 = x[0] - x[2];
        const float b0 = x[1] + x[3], b1 = x[1] - x[3];
        y[0] = (a0 + b0) * s;
        y[1] = 0.0f;
        y[2] = a1 * s;
        y[3] = -b1 * s;
        y[4] = (a0 - b0) * s;
        y[5] = 0.0f;
        break;
    }
    default:
    {
        // Two four-point transforms of the even and odd samples, joined with W8 = (1 - i)/sqrt2.
        const float a0 = x[0] + x[4], a1 = x[0] - x[4];
        const float b0 = x[2] + x[6], b1 = x[2] - x[6];
        const float c0 = x[1] + x[5], c1 = x[1] - x[5];
        const float d0 = x[3] + x[7], d1 = x[3] - x[7];
        const float e0 = a0 + b0, e2 = a0 - b0;
        const float o0 = c0 + d0, o2 = c0 - d0;
        const float u = kHalfSqrt2 * (c1 - d1);
        const float v = kHalfSqrt2 * (c1 + d1);
        y[0] = (e0 + o0) * s;
        y[1] = 0.0f;
        y[2] = (a1 + u) * s;
        y[3] = (-b1 - v) * s;
        y[4] = e2 * s;
        y[5] = -o2 * s;
        y[6] = (a1 - u) * s;
        y[7] = (b1 - v) * s;
        y[8] = (e0 - o0) * s;
        y[9] = 0.0f;
        break;
    }
    }
}

void RealFftPlan::InverseDirect(const float* X, float* x) const
{
    const float s = inverseScale_;
    switch (order_)
    {
    case 0:
        x[0] = X[0] * s;
        break;
    case 1:
    {
        const float X0 = X[0], X1 = X[2];
        x[0] = (X0 + X1) * s;
        x[1] = (X0 - X1) * s;
        break;
    }
    case 2:
    {
        const float p = X[0] + X[4], q = X[0] - X[4];
        const float r = 2.0f * X[2], i = 2.0f * X[3];
        x[0] = (p + r) * s;
        x[1] = (q - i) * s;
        x[2] = (p - r) * s;
        x[3] = (q + i) * s;
        break;
    }
    default:
    {
        // Even samples from P_k = X_k + X_k+4, odd ones from Q_k = (X_k - X_k+4) * W8^-k; both
        // are spectra of real four-point signals.
        const float X0 = X[0], X4 = X[8];
        const float X1r = X[2], X1i = X[3], X2r = X[4], X2i = X[5], X3r = X[6], X3i = X[7];
        const float p0 = X0 + X4, q0 = X0 - X4;
        const float p1r = X1r + X3r, p1i = X1i - X3i;
        const float p2 = 2.0f * X2r, q2 = -2.0f * X2i;
        const float dr = X1r - X3r, di = X1i + X3i;
        const float q1r = kHalfSqrt2 * (dr - di), q1i = kHalfSqrt2 * (dr + di);
        x[0] = (p0 + p2 + 2.0f * p1r) * s;
        x[2] = (p0 - p2 - 2.0f * p1i) * s;
        x[4] = (p0 + p2 - 2.0f * p1r) * s;
        x[6] = (p0 - p2 + 2.0f * p1i) * s;
        x[1] = (q0 + q2 + 2.0f * q1r) * s;
        x[3] = (q0 - q2 - 2.0f * q1i) * s;
        x[5] = (q0 + q2 - 2.0f * q1r) * s;
        x[7] = (q0 - q2 + 2.0f * q1i) * s;
        break;
    }
    }
}

template <typename V, size_t Step>
KELVORA_KERNEL const float* RealFftPlan::RunPasses(const float* re, const float* im, float* a,
                                                   float* b) const
{
    const size_t M = length_ / 2;
    const size_t rows = Width<V> * M; // where the imaginary row starts
    // The first pass reads the input and writes a.
    const Pass& first = passes_[0];
    Radix4FirstPass<V, Step>(first.span / 4, twiddles_ + first.twiddleOffset, re, im, a, a + rows);
    const float* current = a;
    float* next = b;
    for (uint32_t i = 1; i < passCount_; ++i)
    {
        const Pass& pass = passes_[i];
        switch (pass.kind)
        {
        case PassKind::Radix4:
            if (Width<V> == 1 && pass.stride == 4)
                Radix4PassStride4(M, pass.span, twiddles_ + pass.twiddleOffset, current, next);
            else
                Radix4Pass<V>(M, pass.span, pass.stride, twiddles_ + pass.twiddleOffset, current,
                              next);
            break;
        case PassKind::LastRadix4:
            Radix4LastPass<V>(pass.stride, current, current + rows, next, next + rows);
            break;
        case PassKind::LastRadix8:
            Radix8LastPass<V>(pass.stride, current, current + rows, next, next + rows);
            break;
        default:
            Radix2LastPass<V>(pass.stride, current, current + rows, next, next + rows);
            break;
        }
        float* written = next;
        next = const_cast<float*>(current);
        current = written;
    }
    return current;
}

KELVORA_KERNEL void RealFftPlan::ForwardAutosort(const float* source, float* destination,
                                                 float* work) const
{
    const size_t M = length_ / 2;
    const float* z = RunPasses<float, 2>(source, source + 1, work, work + length_);
    const float* splitRe = twiddles_ + splitOffset_;
    SplitForward<float>(z, z + M, destination, M, splitRe, splitRe + M, forwardScale_);
}

KELVORA_KERNEL void RealFftPlan::ForwardBatchAutosort(const float* source, float* destination,
                                                      float* work) const
{
    constexpr size_t Lanes = Width<Float16>;
    const size_t M = length_ / 2;
    const float* z = RunPasses<Float16, 2>(source, source + Lanes, work, work + Lanes * length_);
    const float* splitRe = twiddles_ + splitOffset_;
    SplitForward<Float16>(z, z + Lanes * M, destination, M, splitRe, splitRe + M, forwardScale_);
}

KELVORA_KERNEL void RealFftPlan::InverseAutosort(const float* source, float* destination,
                                                 float* work) const
{
    const size_t M = length_ / 2;
    float* a = work;
    float* b = work + length_;
    const float* splitRe = twiddles_ + splitOffset_;
    // Bins 0..M-1 go to b as rows; b is free until the first pass writes it.
    Deinterleave(M, source, b, b + M);
    SplitInverse(b, b + M, source[2 * M], a, a + M, M, splitRe, splitRe + M);
    const float* z = RunPasses<float, 1>(a, a + M, b, a);
    // The passes computed the forward transform of conj Z', so the signal is its conjugate.
    const float* __restrict re = z;
    const float* __restrict im = z + M;
    float* __restrict x = destination;
    const float s = inverseScale_;
    for (size_t j = 0; j < M; ++j)
    {
        x[2 * j] = re[j] * s;
        x[2 * j + 1] = -im[j] * s;
    }
}

// The autosort bodies built for each kernel path, entered through Run.
struct AutosortPaths
{
    using Body = void (RealFftPlan::*)(const float*, float*, float*) const;

    template <Body body>
    static void Baseline(const RealFftPlan& plan, const float* source, float* destination,
                         float* work)
    {
        (plan.*body)(source, destination, work);
    }
    template <Body body>
    KELVORA_TARGET_AVX2 static void Avx2(const RealFftPlan& plan, const float* source,
                                         float* destination, float* work)
    {
        (plan.*body)(source, destination, work);
    }
    template <Body body>
    KELVORA_TARGET_AVX512 static void Avx512(const RealFftPlan& plan, const float* source,
                                             float* destination, float* work)
    {
        (plan.*body)(source, destination, work);
    }
    template <Body body>
    static void Run(const RealFftPlan& plan, const float* source, float* destination, float* work)
    {
        switch (ActiveKernelPath())
        {
        case KernelPath::Avx512:
            Avx512<body>(plan, source, destination, work);
            break;
        case KernelPath::Avx2:
            Avx2<body>(plan, source, destination, work);
            break;
        default:
            Baseline<body>(plan, source, destination, work);
            break;
        }
    }
};

void RealFftPlan::Forward(const float* source, float* destination, float* work) const
{
    switch (method_)
    {
    case Method::Direct:
        ForwardDirect(source, destination);
        break;
    case Method::Autosort:
        AutosortPaths::Run<&RealFftPlan::ForwardAutosort>(*this, source, destination, work);
        break;
    case Method::InPlace:
        ForwardInPlace(source, destination);
        break;
    }
}

void RealFftPlan::Inverse(const float* source, float* destination, float* work) const
{
    switch (method_)
    {
    case Method::Direct:
        InverseDirect(source, destination);
        break;
    case Method::Autosort:
        AutosortPaths::Run<&RealFftPlan::InverseAutosort>(*this, source, destination, work);
        break;
    case Method::InPlace:
        InverseInPlace(source, destination);
        break;
    }
}

size_t RealFftPlan::BatchWorkBytes() const
{
    // Autosort: its two work buffers for every lane. Otherwise room for one lane's spectrum.
    return method_ == Method::Autosort ? BatchLanes * workBytes_
                                       : sizeof(float) * (size_t{length_} + 2);
}

void RealFftPlan::ForwardBatch(const float* source, float* destination, float* work) const
{
    if (method_ == Method::Autosort)
    {
        AutosortPaths::Run<&RealFftPlan::ForwardBatchAutosort>(*this, source, destination, work);
        return;
    }
    // The other methods need no work memory of their own: one lane at a time, in place.
    for (size_t lane = 0; lane < BatchLanes; ++lane)
    {
        for (size_t i = 0; i < length_; ++i)
            work[i] = source[BatchLanes * i + lane];
        Forward(work, work, nullptr);
        for (size_t j = 0; j < size_t{length_} + 2; ++j)
            destination[BatchLanes * j + lane] = work[j];
    }
}

void RealFftPlan::Root(size_t e, float& re, float& im) const
{
    const size_t fineMask = (size_t{1} << fineBits_) - 1;
    const double* c = coarseRoots_ + 2 * (e >> fineBits_);
    const double* f = fineRoots_ + 2 * (e & fineMask);
    re = static_cast<float>(c[0] * f[0] - c[1] * f[1]);
    im = static_cast<float>(c[0] * f[1] + c[1] * f[0]);
}

void RealFftPlan::TransformInPlace(float* data) const
{
    const size_t M = length_ / 2;
    // Bit-reversal permutation of the M complex points.
    for (size_t i = 0, j = 0; i < M; ++i)
    {
        if (i < j)
        {
            std::swap(data[2 * i], data[2 * j]);
            std::swap(data[2 * i + 1], data[2 * j + 1]);
        }
        size_t bit = M >> 1;
        while (bit != 0 && (j & bit) != 0)
        {
            j ^= bit;
            bit >>= 1;
        }
        j |= bit;
    }
    // Radix-2 decimation in time; the root for butterfly j of a span of 2h points is
    // e^(-2*pi*i*j/(2h)) = e^(-2*pi*i*(j*N/(2h))/N).
    for (size_t h = 1; h < M; h *= 2)
    {
        const size_t rootStep = length_ / (2 * h);
        for (size_t block = 0; block < M; block += 2 * h)
            for (size_t j = 0; j < h; ++j)
            {
                float wr, wi;
                Root(j * rootStep, wr, wi);
                float* u = data + 2 * (block + j);
                float* v = u + 2 * h;
                const float tr = wr * v[0] - wi * v[1];
                const float ti = wr * v[1] + wi * v[0];
                v[0] = u[0] - tr;
                v[1] = u[1] - ti;
                u[0] += tr;
                u[1] += ti;
            }
    }
}

void RealFftPlan::ForwardInPlace(const float* source, float* destination) const
{
    const size_t M = length_ / 2;
    if (source != destination)
        std::memmove(destination, source, sizeof(float) * length_);
    TransformInPlace(destination);

    // The split of SplitForward, one pair k, M - k at a time so that it can work in place:
    // X_M-k = conj(E - W^k O).
    const float s = forwardScale_;
    const float z0r = destination[0], z0i = destination[1];
    for (size_t k = 1; k < M / 2; ++k)
    {
        float wr, wi;
        Root(k, wr, wi);
        float* lo = destination + 2 * k;
        float* hi = destination + 2 * (M - k);
        const float ar = lo[0], ai = lo[1], br = hi[0], bi = -hi[1];
        const float sr = ar + br, si = ai + bi;
        const float dr = ar - br, di = ai - bi;
        const float er = 0.5f * sr, ei = 0.5f * si;
        const float tr = 0.5f * (wr * di + wi * dr);
        const float ti = 0.5f * (wi * di - wr * dr);
        lo[0] = (er + tr) * s;
        lo[1] = (ei + ti) * s;
        hi[0] = (er - tr) * s;
        hi[1] = (ti - ei) * s;
    }
    destination[M] *= s;
    destination[M + 1] *= -s;
    destination[0] = (z0r + z0i) * s;
    destination[1] = 0.0f;
    destination[2 * M] = (z0r - z0i) * s;
    destination[2 * M + 1] = 0.0f;
}

void RealFftPlan::InverseInPlace(const float* source, float* destination) const
{
    const size_t M = length_ / 2;
    const float x0 = source[0], xm = source[2 * M];
    const float xhr = source[M], xhi = source[M + 1];
    for (size_t k = 1; k < M / 2; ++k)
    {
        float wr, wi;
        Root(k, wr, wi);
        const float* lo = source + 2 * k;
        const float* hi = source + 2 * (M - k);
        const float ar = lo[0], ai = lo[1], br = hi[0], bi = -hi[1];
        const float sr = ar + br, si = ai + bi;
        const float dr = ar - br, di = ai - bi;
        const float tr = wi * dr - wr * di;
        const float ti = wr * dr + wi * di;
        destination[2 * k] = sr + tr;
        destination[2 * k + 1] = -(si + ti);
        destination[2 * (M - k)] = sr - tr;
        destination[2 * (M - k) + 1] = si - ti;
    }
    destination[M] = 2.0f * xhr;
    destination[M + 1] = 2.0f * xhi;
    destination[0] = x0 + xm;
    destination[1] = xm - x0;

    TransformInPlace(destination);
    const float s = inverseScale_;
    for (size_t j = 0; j < M; ++j)
    {
        destination[2 * j] *= s;
        destination[2 * j + 1] *= -s;
    }
}

} // namespace DSP
