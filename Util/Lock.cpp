#include "Util/Lock.h"

namespace Util
{

Lock::Lock(SharedString lockName)
    : name(std::move(lockName)), section(std::make_unique<std::recursive_mutex>())
{
}

Lock::~Lock() = default;

void Lock::Acquire()
{
    section->lock();
}

void Lock::Release()
{
    section->unlock();
}

bool Lock::TryAcquire()
{
    return section->try_lock();
}

} // namespace Util
