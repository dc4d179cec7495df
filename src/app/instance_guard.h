#pragma once

#include "common/unique_handle.h"

namespace zv {

// The named mutex "ZarnovelleLauncherMutex" that lets only one launcher run. Used by the main
// thread only: the thread that created the mutex owns it and must release it. Windows only.
class InstanceGuard {
public:
    // Takes the mutex. False only when another process holds the name already; when no mutex
    // could be made at all the run goes on unguarded (true).
    bool Acquire();

    // Lets go of the mutex. Any number of calls; only the first after a successful acquire acts.
    void Release() { mutex_.reset(); }

private:
    UniqueOwnedMutex mutex_;
};

}  // namespace zv
