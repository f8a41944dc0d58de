#include "Util/DenormalGuard.h"

#include <gtest/gtest.h>

#include <cfloat>

#if defined(__x86_64__)
#include <xmmintrin.h>

// Inside the guard denormal results are zero; on return the host's whole mode is back, even a
// rounding mode the guard knows nothing about, and nesting restores each level.
TEST(DenormalGuard, FlushesInsideAndRestoresTheHostsMode)
{
    volatile float smallest = FLT_TRUE_MIN * 4.0f; // volatile: halved at run time, not folded
    const unsigned original = _mm_getcsr();
    _mm_setcsr(original | 0x6000u); // round toward zero
    EXPECT_EQ(smallest * 0.5f, FLT_TRUE_MIN * 2.0f);
    const unsigned before = _mm_getcsr(); // the host's mode and its sticky flags
    {
        Util::DenormalGuard outer;
        EXPECT_EQ(smallest * 0.5f, 0.0f);
        {
            Util::DenormalGuard inner;
            EXPECT_EQ(smallest * 0.5f, 0.0f);
        }
        EXPECT_EQ(_mm_getcsr() & 0x6000u, 0x6000u);
        EXPECT_EQ(smallest * 0.5f, 0.0f);
    }
    EXPECT_EQ(_mm_getcsr(), before);
    EXPECT_EQ(smallest * 0.5f, FLT_TRUE_MIN * 2.0f);
    _mm_setcsr(original);
}

#endif
