#pragma once

#include <chrono>

#include "common/unique_handle.h"

namespace zv {

// The named mutex "ZarnovelleLauncherMutex" that lets only one launcher run. Used by the main
// thread only: the thread that created the mutex owns it and must release it. Windows only.
class InstanceGuard {
public:
    // Takes the mutex. False only when another process holds the name already; when no mutex
    // could be made at all the run goes on unguarded (true).
    bool Acquire();

    // In a launcher started on probation, whose predecessor holds the mutex open and hands it on
    // (Lend): waits up to timeout to take it. False when it could not be taken (the predecessor
    // did not let go, or another launcher took it first).
    bool AcquireHandedOn(std::chrono::milliseconds timeout);

    // Lets go of the mutex for the launcher started next, which takes it with AcquireHandedOn, and
    // keeps it open, so that any other launcher still finds the name taken and stays out.
    void Lend();

    // Takes back a mutex lent (when the launcher it was lent to has ended), waiting up to
    // timeout; a mutex its holder ended with counts as taken. False when it could not be had.
    bool TakeBack(std::chrono::milliseconds timeout);

    // Lets go of the mutex. Any number of calls; only the first after a successful acquire acts.
    void Release() { mutex_.reset(); }

private:
    UniqueOwnedMutex mutex_;
    bool lent_ = false;
};

}  // namespace zv
