#pragma once

// The proxy of this run on Windows: the settings read once, the choice (proxy_choice.h) made and
// logged once, and with a script, the script's answer for each origin asked once. Windows only.

#include <windows.h>
#include <winhttp.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "net/proxy_choice.h"
#include "net/winhttp_library.h"

namespace zv {

// The proxy a request is told to use: a proxy list with its bypass list, or none (direct).
struct RequestProxy {
    std::wstring proxy;  // empty: direct
    std::wstring bypass;
};

// Asks the user's auto-configuration script (WinHttpGetProxyForUrl) which proxy serves a request.
// The script is given the request's origin only (scheme, host and port, as browsers give it for
// https), so one answer serves every request to that origin and is kept for the run: the script
// is asked once per origin, not once per request (all of a run's requests but a download from
// another host go to one origin).
class ProxyScript {
public:
    explicit ProxyScript(std::wstring scriptUrl);

    ProxyScript(const ProxyScript&) = delete;
    ProxyScript& operator=(const ProxyScript&) = delete;

    // The proxy for requests to origin ("https://host:port/"): direct when the script says so, or
    // when it cannot be fetched or run. Logs each origin's answer once.
    const RequestProxy& For(const std::wstring& origin);

private:
    RequestProxy Ask(const std::wstring& origin);

    std::wstring scriptUrl_;
    // A session of the resolver's own, kept for the run, for every question to the script.
    UniqueInternet session_;
    std::uint32_t noSessionError_ = 0;
    std::mutex mutex_;
    std::map<std::wstring, RequestProxy> answers_;
};

// The run's proxy, made once by the composition root when the run first needs the network and
// handed to its HttpClient (RunSessionOpener and script()).
class RunProxy {
public:
    // Chosen from the settings read now, and logged. Null functions (no WinHTTP) read as settings
    // that cannot be read: no proxy.
    RunProxy();

    RunProxy(const RunProxy&) = delete;
    RunProxy& operator=(const RunProxy&) = delete;

    [[nodiscard]] const ProxyChoice& choice() const { return choice_; }

    // What WinHttpOpen takes for the choice: the machine's setting, a direct run and a script use
    // the default access type, which is the machine's setting (netsh winhttp) or none; with a
    // script, each request is then told its proxy.
    [[nodiscard]] DWORD AccessType() const;
    // The proxy and bypass lists for a named proxy; null otherwise.
    [[nodiscard]] const wchar_t* ProxyName() const;
    [[nodiscard]] const wchar_t* ProxyBypass() const;

    // With a script, where each request goes; null otherwise.
    [[nodiscard]] ProxyScript* script() { return script_ ? &*script_ : nullptr; }

private:
    ProxyChoice choice_;
    std::optional<ProxyScript> script_;
};

}  // namespace zv
