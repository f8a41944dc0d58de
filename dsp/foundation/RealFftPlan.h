#pragma once

#include <cstddef>
#include <cstdint>

namespace DSP
{

// Twiddle tables and pass schedule of one real FFT of length N = 2^order, and the transforms
// themselves. Argument checking, the kind tag and work-buffer management live in the primitive
// layer (Primitives.cpp); this class assumes valid arguments.
//
// Three methods share one spectrum convention (CCS, forward sign e^-i, scaling chosen at build):
// - Direct (N <= 8): straight-line kernels, no tables.
// - Autosort: the N reals are read as M = N/2 complex points, transformed by radix-4 autosorting
//   passes (a final radix-8 pass when log2 M is odd) between two split re/im buffers in the work
//   memory, then split into the real spectrum. Every pass is a run of contiguous, independent
//   butterflies, which the compiler turns into vector code.
// - InPlace: the same complex transform and split, but bit-reversed radix-2 in the destination
//   itself with no work memory; its roots of unity come from two tables of about sqrt(N) doubles
//   each. Used for orders too large for a work buffer and on request (compact hint).
class RealFftPlan
{
public:
    RealFftPlan() noexcept = default;
    ~RealFftPlan();
    RealFftPlan(const RealFftPlan&) = delete;
    RealFftPlan& operator=(const RealFftPlan&) = delete;

    // Expects order 0..30 and one of the four scaling flags. Returns false when the tables cannot
    // be allocated; the plan then holds nothing.
    bool Build(int32_t order, int32_t scaling, int32_t hint);

    // Bytes of 16-byte aligned work memory one transform needs; 0 for Direct and InPlace.
    size_t WorkBytes() const { return workBytes_; }

    // source: N floats, destination: N + 2 floats; they may be the same array.
    void Forward(const float* source, float* destination, float* work) const;
    // source: N + 2 floats (entries 1 and N + 1 are not read), destination: N floats.
    void Inverse(const float* source, float* destination, float* work) const;

    // Forward transforms of BatchLanes signals side by side: sample i of signal l at
    // source[BatchLanes * i + l], CCS entry j of its spectrum at destination[BatchLanes * j + l]
    // (BatchLanes * (N + 2) floats). Source and destination must not overlap; work holds
    // BatchWorkBytes() bytes, 16-byte aligned. Each signal gets the bits Forward gives it alone.
    void ForwardBatch(const float* source, float* destination, float* work) const;
    size_t BatchWorkBytes() const;
    static constexpr size_t BatchLanes = 16;

    // Largest order that still gets a work buffer (8 * N bytes + 16 must fit in int32_t).
    static constexpr int32_t LargestAutosortOrder = 27;

private:
    enum class Method : uint8_t
    {
        Direct,
        Autosort,
        InPlace,
    };

    enum class PassKind : uint8_t
    {
        FirstRadix4, // stride 1, twiddled
        Radix4,      // stride >= 4, twiddled
        LastRadix4,  // span 4, no twiddles
        LastRadix8,  // span 8 after at least one radix-4 pass, constant twiddles
        LastRadix2,  // span 2, only for M = 8
    };

    struct Pass
    {
        PassKind kind;
        uint32_t span;        // length of the sub-transforms this pass splits
        uint32_t stride;      // number of interleaved sub-transforms
        size_t twiddleOffset; // into twiddles_; twiddled passes only
    };

    bool BuildAutosort();
    bool BuildInPlace();

    void ForwardDirect(const float* source, float* destination) const;
    void InverseDirect(const float* source, float* destination) const;
    // Built once per kernel path (KernelPath.h) by AutosortPaths; the same bits on each.
    void ForwardAutosort(const float* source, float* destination, float* work) const;
    void InverseAutosort(const float* source, float* destination, float* work) const;
    void ForwardBatchAutosort(const float* source, float* destination, float* work) const;
    friend struct AutosortPaths;
    void ForwardInPlace(const float* source, float* destination) const;
    void InverseInPlace(const float* source, float* destination) const;

    // Runs the complex passes on the M points given as split rows (re, im) or, when Step is 2,
    // as interleaved pairs at re (im = re + 1). They alternate between buffers a and b; returns
    // the one that holds the natural-order result. V is float, or a batch of lanes that each
    // element stands for (see ForwardBatch).
    template <typename V, size_t Step>
    const float* RunPasses(const float* re, const float* im, float* a, float* b) const;
    // The complex forward transform of the interleaved points in data, in place.
    void TransformInPlace(float* data) const;
    // e^(-2*pi*i*e/N) for 0 <= e < N/2 from the two root tables, rounded to float.
    void Root(size_t e, float& re, float& im) const;

    Method method_ = Method::Direct;
    int32_t order_ = 0;
    uint32_t length_ = 1; // N
    float forwardScale_ = 1.0f;
    float inverseScale_ = 1.0f;
    size_t workBytes_ = 0;

    // Autosort: pass twiddles, then the split twiddles W^k, k < M (M real parts, M imaginary).
    float* twiddles_ = nullptr;
    size_t splitOffset_ = 0;
    Pass passes_[16] = {}; // 13 at most (order 27)
    uint32_t passCount_ = 0;

    // InPlace: roots e^(-2*pi*i*e/N) for e = fine index and e = coarse index << fineBits_,
    // interleaved re/im.
    double* fineRoots_ = nullptr;
    double* coarseRoots_ = nullptr;
    uint32_t fineBits_ = 0;
};

} // namespace DSP
