#include <windows.h>

#include "app/instance_guard.h"

namespace zv {

bool InstanceGuard::Acquire() {
    UniqueHandle mutex(::CreateMutexW(nullptr, TRUE, L"ZarnovelleLauncherMutex"));
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        // Another process holds the name; this handle was never granted ownership.
        return false;
    }
    mutex_.reset(mutex.release());
    return true;
}

}  // namespace zv
