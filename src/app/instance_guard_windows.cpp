#include <windows.h>

#include "app/instance_guard.h"

namespace zv {

namespace {
// Touched by the main thread only: the thread that created the mutex owns it and must release it.
HANDLE g_instanceMutex = nullptr;
}  // namespace

bool AcquireInstanceGuard() {
    g_instanceMutex = ::CreateMutexW(nullptr, TRUE, L"ZarnovelleLauncherMutex");
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        if (g_instanceMutex != nullptr) {
            ::CloseHandle(g_instanceMutex);
            g_instanceMutex = nullptr;
        }
        return false;
    }
    return true;
}

void ReleaseInstanceGuard() {
    if (g_instanceMutex != nullptr) {
        ::ReleaseMutex(g_instanceMutex);
        ::CloseHandle(g_instanceMutex);
        g_instanceMutex = nullptr;
    }
}

}  // namespace zv
