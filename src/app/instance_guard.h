#pragma once

namespace zv {

// Takes the named mutex "ZarnovelleLauncherMutex". False only when another process holds the
// name already; when no mutex could be made at all the run goes on unguarded (true).
bool AcquireInstanceGuard();

// Lets go of the mutex. Any number of calls; only the first after a successful acquire acts.
void ReleaseInstanceGuard();

}  // namespace zv
