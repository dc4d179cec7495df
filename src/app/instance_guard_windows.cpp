#include <windows.h>

#include "app/instance_guard.h"

namespace zv {

namespace {

constexpr wchar_t kMutexName[] = L"ZarnovelleLauncherMutex";

// Waits for ownership of mutex; one its owner ended with counts as owned.
bool WaitToOwn(HANDLE mutex, std::chrono::milliseconds timeout) {
    const DWORD waited = ::WaitForSingleObject(mutex, static_cast<DWORD>(timeout.count()));
    return waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

}  // namespace

bool InstanceGuard::Acquire() {
    UniqueHandle mutex(::CreateMutexW(nullptr, TRUE, kMutexName));
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        // Another process holds the name; this handle was never granted ownership.
        return false;
    }
    mutex_.reset(mutex.release());
    return true;
}

bool InstanceGuard::AcquireHandedOn(std::chrono::milliseconds timeout) {
    UniqueHandle mutex(::CreateMutexW(nullptr, FALSE, kMutexName));
    if (!mutex) {
        // As Acquire: a run without a mutex goes on unguarded.
        return true;
    }
    if (!WaitToOwn(mutex.get(), timeout)) {
        return false;
    }
    mutex_.reset(mutex.release());
    return true;
}

void InstanceGuard::Lend() {
    if (mutex_) {
        ::ReleaseMutex(mutex_.get());
        lent_ = true;
    }
}

bool InstanceGuard::TakeBack(std::chrono::milliseconds timeout) {
    if (!mutex_ || !lent_) {
        return true;
    }
    if (!WaitToOwn(mutex_.get(), timeout)) {
        return false;
    }
    lent_ = false;
    return true;
}

}  // namespace zv
