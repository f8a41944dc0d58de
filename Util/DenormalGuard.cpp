#include "Util/DenormalGuard.h"

#if defined(__x86_64__) || defined(_M_X64)
#include <xmmintrin.h>
#define KELVORA_HAS_MXCSR 1
#endif

namespace Util
{

namespace
{
#ifdef KELVORA_HAS_MXCSR
constexpr uint32_t kFlushToZero = 0x8000;
constexpr uint32_t kDenormalsAreZero = 0x0040;
constexpr uint32_t kFlushBits = kFlushToZero | kDenormalsAreZero;
#endif
} // namespace

DenormalGuard::DenormalGuard() : savedMode(0)
{
#ifdef KELVORA_HAS_MXCSR
    savedMode = _mm_getcsr();
    if ((savedMode & kFlushBits) != kFlushBits)
        _mm_setcsr(savedMode | kFlushBits);
#endif
}

DenormalGuard::~DenormalGuard()
{
#ifdef KELVORA_HAS_MXCSR
    if ((savedMode & kFlushBits) != kFlushBits)
        _mm_setcsr(savedMode);
#endif
}

} // namespace Util
