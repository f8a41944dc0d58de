#pragma once

#include "Util/SharedString.h"

#include <memory>

namespace Util
{

// A recursive, process-local lock with a name for diagnostics. A thread that owns it may acquire
// it again and must release it as many times.
class Lock
{
public:
    explicit Lock(SharedString name);
    ~Lock();

    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    // Blocks until the calling thread owns the lock.
    void Acquire();
    // Gives up one level of ownership. A call from a thread that does not own the lock is ignored
    // rather than corrupting the lock of the thread that does.
    void Release();
    // Takes the lock when it is free or already owned by the caller; never waits.
    bool TryAcquire();

    const SharedString& Name() const { return name; }

private:
    struct Section;

    SharedString name;
    std::unique_ptr<Section> section;
};

} // namespace Util
