#include "net/run_proxy.h"

#include <string>
#include <utility>

#include "common/log.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "common/windows_version.h"
#include "net/transfer_log.h"

// Older SDK headers lack the system's automatic proxy (Windows 8.1 and later).
#ifndef WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
#define WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY 4
#endif

namespace zv {

namespace {

std::wstring Text(const UniqueGlobalText& text) { return text ? std::wstring(text.get()) : std::wstring(); }

// The settings as WinHTTP reports them; each string it hands back is freed here.
ProxyFacts ReadProxyFacts() {
    ProxyFacts facts;
    const WinHttpLibrary& library = WinHttpLibrary::Get();
    const WinHttpFunctions* winhttp = library.functions();
    if (!winhttp) {
        facts.userError = library.error();
        return facts;
    }
    WINHTTP_PROXY_INFO machine{};
    if (winhttp->getDefaultProxyConfiguration(&machine)) {
        const UniqueGlobalText proxy(machine.lpszProxy);
        const UniqueGlobalText bypass(machine.lpszProxyBypass);
        facts.machine = MachineProxySetting{
            machine.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY ? Text(proxy) : std::wstring(), Text(bypass)};
    }
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user{};
    if (winhttp->getIEProxyConfigForCurrentUser(&user)) {
        const UniqueGlobalText script(user.lpszAutoConfigUrl);
        const UniqueGlobalText proxy(user.lpszProxy);
        const UniqueGlobalText bypass(user.lpszProxyBypass);
        facts.user = UserProxySettings{user.fAutoDetect != FALSE, Text(script), Text(proxy), Text(bypass)};
    } else if (::GetLastError() == ERROR_FILE_NOT_FOUND) {
        // The documented answer for a user who never had any settings: nothing is set.
        facts.user = UserProxySettings{};
    } else {
        facts.userError = ::GetLastError();
    }
    const std::optional<WindowsVersion> version = ReadWindowsVersion();
    facts.systemAutomaticProxy = version && version->AtLeast(6, 3);
    return facts;
}

}  // namespace

ProxyScript::ProxyScript(std::wstring scriptUrl) : scriptUrl_(std::move(scriptUrl)) {
    const WinHttpLibrary& library = WinHttpLibrary::Get();
    if (const WinHttpFunctions* winhttp = library.functions()) {
        session_.reset(
            winhttp->open(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
        noSessionError_ = session_ ? 0 : ::GetLastError();
    } else {
        noSessionError_ = library.error();
    }
}

const RequestProxy& ProxyScript::For(const std::wstring& origin) {
    const std::lock_guard lock(mutex_);
    if (const auto known = answers_.find(origin); known != answers_.end()) {
        return known->second;
    }
    return answers_.emplace(origin, Ask(origin)).first->second;
}

RequestProxy ProxyScript::Ask(const std::wstring& origin) {
    const auto direct = [&](std::uint32_t error) {
        LogEvent("the proxy script " + ToUtf8(scriptUrl_) + " cannot be fetched or run for " + ToUtf8(origin) +
                 " (error " + std::to_string(error) + " " + std::string(TransferErrorName(error)) + "): no proxy");
        return RequestProxy{};
    };
    if (!session_) {
        return direct(noSessionError_);
    }
    const WinHttpFunctions& winhttp = *WinHttpLibrary::Get().functions();
    WINHTTP_AUTOPROXY_OPTIONS options{};
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = scriptUrl_.c_str();
    WINHTTP_PROXY_INFO info{};
    BOOL answered = winhttp.getProxyForUrl(session_.get(), origin.c_str(), &options, &info);
    if (!answered && ::GetLastError() == ERROR_WINHTTP_LOGIN_FAILURE) {
        // The script's server wants to know who asks: only then with the user's own logon.
        options.fAutoLogonIfChallenged = TRUE;
        answered = winhttp.getProxyForUrl(session_.get(), origin.c_str(), &options, &info);
    }
    if (!answered) {
        return direct(::GetLastError());
    }
    const UniqueGlobalText proxy(info.lpszProxy);
    const UniqueGlobalText bypass(info.lpszProxyBypass);
    RequestProxy answer;
    if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && proxy) {
        answer = RequestProxy{Text(proxy), Text(bypass)};
    }
    LogEvent("the proxy script names " + (answer.proxy.empty() ? std::string("no proxy") : ToUtf8(answer.proxy)) +
             " for " + ToUtf8(origin));
    return answer;
}

RunProxy::RunProxy() : choice_(ChooseProxy(ReadProxyFacts())) {
    if (choice_.kind == ProxyKind::Script) {
        script_.emplace(choice_.scriptUrl);
    }
    LogEvent(DescribeProxyChoice(choice_));
}

DWORD RunProxy::AccessType() const {
    switch (choice_.kind) {
        case ProxyKind::Named:
            return WINHTTP_ACCESS_TYPE_NAMED_PROXY;
        case ProxyKind::SystemAutomatic:
            return WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY;
        case ProxyKind::Machine:
        case ProxyKind::Script:
        case ProxyKind::Direct:
            break;
    }
    return WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
}

const wchar_t* RunProxy::ProxyName() const {
    return choice_.kind == ProxyKind::Named ? choice_.proxy.c_str() : WINHTTP_NO_PROXY_NAME;
}

const wchar_t* RunProxy::ProxyBypass() const {
    return choice_.kind == ProxyKind::Named && !choice_.bypass.empty() ? choice_.bypass.c_str()
                                                                       : WINHTTP_NO_PROXY_BYPASS;
}

}  // namespace zv
