#include "net/winhttp_library.h"

namespace zv {

namespace {

// GetProcAddress gives every export one generic type; slot's type, from winhttp.h, is the real one.
template <typename Function>
bool Resolve(HMODULE module, const char* name, Function& slot) noexcept {
    const FARPROC address = ::GetProcAddress(module, name);
    slot = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
    return address != nullptr;
}

}  // namespace

const WinHttpLibrary& WinHttpLibrary::Get() noexcept {
    static const WinHttpLibrary library;
    return library;
}

WinHttpLibrary::WinHttpLibrary() noexcept
    : module_(::LoadLibraryExW(L"winhttp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    if (!module_) {
        error_ = ::GetLastError();
        return;
    }
    const HMODULE m = module_.get();
    WinHttpFunctions& f = functions_;
    const bool resolved =
        Resolve(m, "WinHttpOpen", f.open) && Resolve(m, "WinHttpSetOption", f.setOption) &&
        Resolve(m, "WinHttpCrackUrl", f.crackUrl) && Resolve(m, "WinHttpConnect", f.connect) &&
        Resolve(m, "WinHttpOpenRequest", f.openRequest) && Resolve(m, "WinHttpSendRequest", f.sendRequest) &&
        Resolve(m, "WinHttpReceiveResponse", f.receiveResponse) && Resolve(m, "WinHttpQueryHeaders", f.queryHeaders) &&
        Resolve(m, "WinHttpQueryDataAvailable", f.queryDataAvailable) && Resolve(m, "WinHttpReadData", f.readData) &&
        Resolve(m, "WinHttpCloseHandle", f.closeHandle);
    if (!resolved) {
        error_ = ::GetLastError();
        module_.reset();
    }
}

}  // namespace zv
