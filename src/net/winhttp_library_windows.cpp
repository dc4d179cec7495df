#include "net/winhttp_library.h"

#include "common/system_library.h"

namespace zv {

const WinHttpLibrary& WinHttpLibrary::Get() noexcept {
    static const WinHttpLibrary library;
    return library;
}

WinHttpLibrary::WinHttpLibrary() noexcept : module_(LoadSystemLibrary(L"winhttp.dll")) {
    if (!module_) {
        error_ = ::GetLastError();
        return;
    }
    const HMODULE m = module_.get();
    WinHttpFunctions& f = functions_;
    const bool resolved =
        ResolveExport(m, "WinHttpOpen", f.open) && ResolveExport(m, "WinHttpSetOption", f.setOption) &&
        ResolveExport(m, "WinHttpSetTimeouts", f.setTimeouts) &&
        ResolveExport(m, "WinHttpSetStatusCallback", f.setStatusCallback) &&
        ResolveExport(m, "WinHttpCrackUrl", f.crackUrl) && ResolveExport(m, "WinHttpConnect", f.connect) &&
        ResolveExport(m, "WinHttpOpenRequest", f.openRequest) &&
        ResolveExport(m, "WinHttpSendRequest", f.sendRequest) &&
        ResolveExport(m, "WinHttpReceiveResponse", f.receiveResponse) &&
        ResolveExport(m, "WinHttpQueryHeaders", f.queryHeaders) &&
        ResolveExport(m, "WinHttpQueryDataAvailable", f.queryDataAvailable) &&
        ResolveExport(m, "WinHttpReadData", f.readData) && ResolveExport(m, "WinHttpCloseHandle", f.closeHandle) &&
        ResolveExport(m, "WinHttpGetDefaultProxyConfiguration", f.getDefaultProxyConfiguration) &&
        ResolveExport(m, "WinHttpGetIEProxyConfigForCurrentUser", f.getIEProxyConfigForCurrentUser) &&
        ResolveExport(m, "WinHttpGetProxyForUrl", f.getProxyForUrl);
    if (!resolved) {
        error_ = ::GetLastError();
        module_.reset();
    }
}

}  // namespace zv
