#include "Util/Lock.h"

#include <gtest/gtest.h>

#include <thread>

using Util::Lock;
using Util::SharedString;

namespace
{

// TryAcquire on a fresh thread, undone before the thread ends.
bool TryFromAnotherThread(Lock& lock)
{
    bool taken = false;
    std::thread other(
        [&]
        {
            taken = lock.TryAcquire();
            if (taken)
                lock.Release();
        });
    other.join();
    return taken;
}

} // namespace

TEST(Lock, RecursiveOwnershipExcludesOtherThreads)
{
    Lock lock(SharedString("KelvoraImpl::KelvoraImpl"));
    lock.Acquire();
    lock.Acquire();
    EXPECT_TRUE(lock.TryAcquire());           // the owner may take it again
    EXPECT_FALSE(TryFromAnotherThread(lock)); // returns false instead of waiting
    lock.Release();
    lock.Release();
    EXPECT_FALSE(TryFromAnotherThread(lock));      // one level still held
    std::thread intruder([&] { lock.Release(); }); // a non-owner's release is ignored
    intruder.join();
    EXPECT_FALSE(TryFromAnotherThread(lock));
    lock.Release();
    EXPECT_TRUE(TryFromAnotherThread(lock));
}
