#pragma once

#include <cstdint>

// The run-time choice among builds of the vector kernels (the FFT passes and the analysis
// loops). Each kernel body is compiled once per path and entered through a switch on
// ActiveKernelPath(). All paths give the same bits: the code is built without floating-point
// contraction (no fused multiply-adds) and every vector lane keeps the order of operations of
// the scalar formula, so the choice changes only the speed. The library itself is never built
// for a particular processor; the wider paths are compiled with target attributes.
namespace DSP
{

enum class KernelPath : uint8_t
{
    Baseline, // what every x86-64 processor (SSE2) or any other target runs
    Avx2,
    Avx512, // F, DQ, BW and VL
};

// Whether this processor, its operating system and this build can run `path`. Baseline always.
bool KernelPathAvailable(KernelPath path);

// The path the dispatched kernels take: the widest available one, unless SetKernelPath chose
// another. Cheap (one atomic load); real-time safe.
KernelPath ActiveKernelPath();

// Makes every dispatched kernel of the process take `path` from now on; returns false and
// changes nothing when the path is not available. Meant for comparing paths (tests, benchmarks);
// call it while no analysis is running.
bool SetKernelPath(KernelPath path);

} // namespace DSP

// Function attributes for the wider builds of a kernel. A kernel body marked
// KELVORA_KERNEL_BODY is inlined into each of them and compiled for that instruction set.
#define KELVORA_KERNEL_BODY [[gnu::always_inline]] inline
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KELVORA_HAS_WIDE_PATHS 1
#define KELVORA_TARGET_AVX2 [[gnu::target("avx2")]]
#define KELVORA_TARGET_AVX512 [[gnu::target("avx2,avx512f,avx512dq,avx512bw,avx512vl")]]
#else
#define KELVORA_HAS_WIDE_PATHS 0
#define KELVORA_TARGET_AVX2
#define KELVORA_TARGET_AVX512
#endif

namespace DSP
{

// The three builds of a kernel body (a function marked KELVORA_KERNEL_BODY), each with the body
// inlined and compiled for its path, and the build the active path takes. Fetch Active() once
// before a batch of calls rather than per call.
template <auto body> struct KernelBuilds;

template <typename... Args, void (*body)(Args...)> struct KernelBuilds<body>
{
    using Kernel = void (*)(Args...);

    static void Baseline(Args... args) { body(args...); }
    KELVORA_TARGET_AVX2 static void Avx2(Args... args) { body(args...); }
    KELVORA_TARGET_AVX512 static void Avx512(Args... args) { body(args...); }

    static Kernel Active()
    {
        switch (ActiveKernelPath())
        {
        case KernelPath::Avx512:
            return Avx512;
        case KernelPath::Avx2:
            return Avx2;
        default:
            return Baseline;
        }
    }
};

} // namespace DSP
