#pragma once

#include "Util/SharedString.h"

#include <memory>
#include <mutex>

namespace Util
{

// A recursive, process-local lock with a name for diagnostics.
class Lock
{
public:
    explicit Lock(SharedString name);
    ~Lock();

    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    void Acquire();
    void Release();
    // Takes the lock when it is free or already owned by the caller; never waits.
    bool TryAcquire();

    const SharedString& Name() const { return name; }

private:
    SharedString name;
    std::unique_ptr<std::recursive_mutex> section;
};

} // namespace Util
