#include "dsp/foundation/KernelPath.h"

#include <atomic>

namespace DSP
{

namespace
{

KernelPath WidestAvailable()
{
#if KELVORA_HAS_WIDE_PATHS
    // These checks include the operating system's support for the wider register state.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl"))
        return KernelPath::Avx512;
    if (__builtin_cpu_supports("avx2"))
        return KernelPath::Avx2;
#endif
    return KernelPath::Baseline;
}

KernelPath Widest()
{
    static const KernelPath widest = WidestAvailable();
    return widest;
}

// Chosen on first use, which is inside the first analysis or transform; a function-local
// object so that no other static initialiser can see it unset.
std::atomic<KernelPath>& Active()
{
    static std::atomic<KernelPath> active{Widest()};
    return active;
}

} // namespace

bool KernelPathAvailable(KernelPath path)
{
    return static_cast<uint8_t>(path) <= static_cast<uint8_t>(Widest());
}

KernelPath ActiveKernelPath()
{
    return Active().load(std::memory_order_relaxed);
}

bool SetKernelPath(KernelPath path)
{
    if (!KernelPathAvailable(path))
        return false;
    Active().store(path, std::memory_order_relaxed);
    return true;
}

} // namespace DSP
