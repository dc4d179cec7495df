#pragma once

// Which proxy a run uses, decided once from the settings the platform reports: the WinHTTP proxy
// set for the machine (netsh winhttp), the current user's Internet settings (a manual proxy, an
// auto-configuration script, automatic detection) and whether Windows offers its own automatic
// proxy to programs. Reading the settings is local; none of this costs a network round trip.

#include <cstdint>
#include <optional>
#include <string>

namespace zv {

// The machine's WinHTTP proxy (WinHttpGetDefaultProxyConfiguration); an empty proxy is none.
struct MachineProxySetting {
    std::wstring proxy;
    std::wstring bypass;
};

// The current user's settings (WinHttpGetIEProxyConfigForCurrentUser); an empty text is unset.
struct UserProxySettings {
    bool autoDetect = false;
    std::wstring scriptUrl;
    std::wstring proxy;
    std::wstring bypass;
};

struct ProxyFacts {
    // Nothing when the setting could not be read.
    std::optional<MachineProxySetting> machine;
    std::optional<UserProxySettings> user;
    // Why the user's settings could not be read, for the log.
    std::uint32_t userError = 0;
    // Windows 8.1 and later let a program use the system's automatic proxy, which detects a
    // proxy once for every program and keeps what it found.
    bool systemAutomaticProxy = false;
};

enum class ProxyKind {
    Machine,          // the machine's WinHTTP proxy, through the session's default setting, as ever
    Named,            // the user's manual proxy with its bypass list
    Script,           // the user's auto-configuration script, asked for each request's address
    SystemAutomatic,  // the system's automatic proxy, for a user who asks for automatic detection
    Direct,           // no proxy
};

enum class ProxyReason {
    MachineSetting,
    UserProxy,
    UserScript,
    UserAutoDetect,
    NothingSet,
    UserSettingsUnreadable,
    AutoDetectNotOffered,  // detection asked for, where Windows has no automatic proxy for programs
};

struct ProxyChoice {
    ProxyKind kind = ProxyKind::Direct;
    ProxyReason reason = ProxyReason::NothingSet;
    // Machine and Named: the proxy list and the bypass list, as the settings give them.
    std::wstring proxy;
    std::wstring bypass;
    // Script: its address.
    std::wstring scriptUrl;
    // UserSettingsUnreadable: the error the platform reported.
    std::uint32_t error = 0;

    friend bool operator==(const ProxyChoice&, const ProxyChoice&) = default;
};

// A machine proxy keeps working as it always has. Otherwise the user's settings decide, the
// explicit ones first: a script, else a manual proxy, else automatic detection through the system
// (never by a discovery of the launcher's own). Settings that cannot be read mean no proxy.
ProxyChoice ChooseProxy(const ProxyFacts& facts);

// The run's log line: which proxy and why, e.g.
//   proxy 127.0.0.1:3128 (bypass <local>) from the user's settings
std::string DescribeProxyChoice(const ProxyChoice& choice);

}  // namespace zv
