#include "Util/Lock.h"

#include <gtest/gtest.h>

#include <thread>

TEST(Lock, RecursiveOwnershipExcludesOtherThreads)
{
    Util::Lock lock(Util::SharedString("KelvoraImpl::KelvoraImpl"));
    // TryAcquire on a fresh thread, undone before the thread ends.
    const auto takenElsewhere = [&]
    {
        bool taken = false;
        std::thread([&] { taken = lock.TryAcquire() && (lock.Release(), true); }).join();
        return taken;
    };
    lock.Acquire();
    lock.Acquire();
    EXPECT_TRUE(lock.TryAcquire()); // the owner may take it again
    EXPECT_FALSE(takenElsewhere()); // returns false instead of waiting
    lock.Release();
    lock.Release();
    EXPECT_FALSE(takenElsewhere());              // one level still held
    std::thread([&] { lock.Release(); }).join(); // a non-owner's release is ignored
    EXPECT_FALSE(takenElsewhere());
    lock.Release();
    EXPECT_TRUE(takenElsewhere());
}
