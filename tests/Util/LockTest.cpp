#include "Util/Lock.h"

#include <gtest/gtest.h>

#include <thread>

using Util::Lock;
using Util::SharedString;

namespace
{

// TryAcquire on a fresh thread; a success is undone before the thread ends.
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

TEST(Lock, RecursiveOwnershipBlocksOtherThreadsUntilFullyReleased)
{
    Lock lock(SharedString("KelvoraImpl::KelvoraImpl"));
    EXPECT_EQ(lock.Name().ToString(), "KelvoraImpl::KelvoraImpl");
    lock.Acquire();
    lock.Acquire();
    EXPECT_TRUE(lock.TryAcquire()); // the owner may take it again
    // While held, another thread's attempt must come back (false) instead of waiting.
    EXPECT_FALSE(TryFromAnotherThread(lock));
    lock.Release();
    lock.Release();
    EXPECT_FALSE(TryFromAnotherThread(lock)); // one level still held
    lock.Release();
    EXPECT_TRUE(TryFromAnotherThread(lock));
    // And the other thread gave it back: this thread can take it again.
    EXPECT_TRUE(lock.TryAcquire());
    lock.Release();
}

TEST(Lock, ReleaseFromANonOwnerIsIgnored)
{
    Lock lock(SharedString("owner"));
    lock.Acquire();
    std::thread intruder([&] { lock.Release(); });
    intruder.join();
    EXPECT_FALSE(TryFromAnotherThread(lock));
    lock.Release();
    EXPECT_TRUE(TryFromAnotherThread(lock));
}

TEST(Lock, ExcludesConcurrentUpdates)
{
    Lock lock(SharedString("counter"));
    long counter = 0; // deliberately not atomic: only the lock protects it
    auto work = [&]
    {
        for (int i = 0; i < 50000; ++i)
        {
            lock.Acquire();
            ++counter;
            lock.Release();
        }
    };
    std::thread a(work);
    std::thread b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 100000);
}
