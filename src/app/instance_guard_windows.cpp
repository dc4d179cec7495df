#include <windows.h>

#include "app/instance_guard.h"
#include "common/unique_handle.h"

namespace zv {

namespace {
// Touched by the main thread only: the thread that created the mutex owns it and must release it.
UniqueOwnedMutex g_instanceMutex;
}  // namespace

bool AcquireInstanceGuard() {
    UniqueHandle mutex(::CreateMutexW(nullptr, TRUE, L"ZarnovelleLauncherMutex"));
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        // Another process holds the name; this handle was never granted ownership.
        return false;
    }
    g_instanceMutex.reset(mutex.release());
    return true;
}

void ReleaseInstanceGuard() { g_instanceMutex.reset(); }

}  // namespace zv
