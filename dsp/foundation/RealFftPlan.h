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
// - Autosort: the N reals are read as N/2 complex points, transformed by radix-4 autosorting
//   passes (a final radix-2 pass for odd orders) between two split re/im buffers in the work
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

    // Largest order that still gets a work buffer (8 * N bytes + 16 must fit in int32_t).
    static constexpr int32_t LargestAutosortOrder = 27;

private:
    enum class Method : uint8_t
    {
        Direct,
        Autosort,
        InPlace,
    };

    struct Pass
    {
        uint32_t span;        // length of the sub-transforms this pass splits (4^k or 2)
        uint32_t stride;      // number of interleaved sub-transforms
        size_t twiddleOffset; // into twiddles_; span > 4 only
    };

    bool BuildAutosort();
    bool BuildInPlace();

    void ForwardDirect(const float* source, float* destination) const;
    void InverseDirect(const float* source, float* destination) const;
    void ForwardAutosort(const float* source, float* destination, float* work) const;
    void InverseAutosort(const float* source, float* destination, float* work) const;
    void ForwardInPlace(const float* source, float* destination) const;
    void InverseInPlace(const float* source, float* destination) const;

    // Runs the complex passes from buffer a (which they overwrite) and returns the buffer that
    // holds the natural-order result, a or b.
    const float* RunPasses(float* a, float* b) const;
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

    // Autosort: pass twiddles, then the split twiddles (M/2 real parts, M/2 imaginary parts).
    float* twiddles_ = nullptr;
    size_t splitOffset_ = 0;
    Pass passes_[16] = {};
    uint32_t passCount_ = 0;

    // InPlace: roots e^(-2*pi*i*e/N) for e = fine index and e = coarse index << fineBits_,
    // interleaved re/im.
    double* fineRoots_ = nullptr;
    double* coarseRoots_ = nullptr;
    uint32_t fineBits_ = 0;
};

} // namespace DSP
