#include "Util/Lock.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

namespace Util
{

// The owner is tracked next to the mutex so that Release can tell a foreign thread from the
// owner; the mutex itself cannot be asked, and unlocking it from a non-owner is undefined.
struct Lock::Section
{
    std::recursive_mutex mutex;
    std::atomic<std::thread::id> owner{};
    uint64_t depth = 0; // touched only by the owning thread
};

Lock::Lock(SharedString lockName) : name(std::move(lockName)), section(std::make_unique<Section>())
{
}

Lock::~Lock() = default;

void Lock::Acquire()
{
    section->mutex.lock();
    if (section->depth++ == 0)
        section->owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
}

void Lock::Release()
{
    if (section->owner.load(std::memory_order_relaxed) != std::this_thread::get_id())
        return;
    if (--section->depth == 0)
        section->owner.store(std::thread::id(), std::memory_order_relaxed);
    section->mutex.unlock();
}

bool Lock::TryAcquire()
{
    if (!section->mutex.try_lock())
        return false;
    if (section->depth++ == 0)
        section->owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
    return true;
}

} // namespace Util
