#pragma once

#include <cstdint>

namespace Util
{

// While it lives, the calling thread's floating-point unit flushes denormal results to zero and
// reads denormal operands as zero; on destruction the thread's previous mode is restored exactly.
// Denormals (magnitudes below 2^-126 in single precision) cost tens to hundreds of cycles per
// operation on x86-64, and audio decaying towards silence is full of them. Wrapping every call that
// computes on the host's thread keeps that cost out without leaving the host's mode changed. The
// mode is per thread, so engines on different threads do not affect one another.
//
// On x86-64 this is the MXCSR's flush-to-zero and denormals-are-zero bits; on other processors the
// guard does nothing. Cost: two control-register accesses, none when both bits are already set.
class DenormalGuard
{
public:
    DenormalGuard();
    ~DenormalGuard();

    DenormalGuard(const DenormalGuard&) = delete;
    DenormalGuard& operator=(const DenormalGuard&) = delete;

private:
    uint32_t savedMode; // the mode to restore, when it lacked either bit
};

} // namespace Util
