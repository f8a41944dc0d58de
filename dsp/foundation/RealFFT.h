#pragma once

#include "dsp/foundation/Primitives.h"

#include <cstdint>

namespace DSP
{

// One real-input FFT plan and its work buffer for one transform length. The plan is rebuilt
// only when the requested length changes, so an analysis can transform any number of frames of
// the same length at no set-up cost. Spectra are packed as CCS (Re0, 0, Re1, Im1, ..., ReN/2, 0);
// the forward transform is unscaled and the inverse divides by N.
class RealFFT
{
public:
    RealFFT() = default;
    explicit RealFFT(int32_t n);
    // The copy builds its own plan and buffer for the same length; nothing is shared.
    RealFFT(const RealFFT& other);
    RealFFT& operator=(const RealFFT& other);
    ~RealFFT();

    // Prepares transforms of length N = 2^m, the smallest power of two >= n, and at least 2.
    // The same n again costs nothing.
    void SetSize(int32_t n);

    // source: N floats, destination: N + 2 floats. Returns the primitive's status; without a
    // plan (no size yet, or plan creation failed) nothing is written.
    int32_t Forward(const float* source, float* destination);
    // source: N + 2 floats (CCS), destination: N floats.
    int32_t Inverse(const float* source, float* destination);

    // Primitives::FftBatchLanes forward transforms side by side (layout: Primitives.h), each with
    // the bits Forward gives it. The first call allocates the batch work buffer.
    int32_t ForwardBatch(const float* source, float* destination);

    // The length last requested, 0 when none.
    int32_t GetSize() const { return size; }
    // The order m used for a requested length n: 1 for every n <= 2, otherwise the smallest m
    // with 2^m >= n (31 for lengths above 2^30, which no plan can serve).
    static int32_t OrderFor(int32_t n);

private:
    void Release();

    int32_t size = 0;
    Primitives::FftPlan* plan = nullptr;
    uint8_t* work = nullptr;
    uint8_t* batchWork = nullptr;
};

} // namespace DSP
