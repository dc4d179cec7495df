#include "net/proxy_choice.h"

#include "common/text.h"
#include "net/transfer_log.h"

namespace zv {

namespace {

ProxyChoice Choice(ProxyKind kind, ProxyReason reason) {
    ProxyChoice choice;
    choice.kind = kind;
    choice.reason = reason;
    return choice;
}

ProxyChoice Listed(ProxyKind kind, ProxyReason reason, const std::wstring& proxy, const std::wstring& bypass) {
    ProxyChoice choice = Choice(kind, reason);
    choice.proxy = proxy;
    choice.bypass = bypass;
    return choice;
}

std::string ProxyAndBypass(const ProxyChoice& choice) {
    std::string text = "proxy " + ToUtf8(choice.proxy);
    if (!choice.bypass.empty()) {
        text += " (bypass " + ToUtf8(choice.bypass) + ")";
    }
    return text;
}

}  // namespace

ProxyChoice ChooseProxy(const ProxyFacts& facts) {
    if (facts.machine && !facts.machine->proxy.empty()) {
        return Listed(ProxyKind::Machine, ProxyReason::MachineSetting, facts.machine->proxy, facts.machine->bypass);
    }
    if (!facts.user) {
        ProxyChoice choice = Choice(ProxyKind::Direct, ProxyReason::UserSettingsUnreadable);
        choice.error = facts.userError;
        return choice;
    }
    const UserProxySettings& user = *facts.user;
    if (!user.scriptUrl.empty()) {
        ProxyChoice choice = Choice(ProxyKind::Script, ProxyReason::UserScript);
        choice.scriptUrl = user.scriptUrl;
        return choice;
    }
    if (!user.proxy.empty()) {
        return Listed(ProxyKind::Named, ProxyReason::UserProxy, user.proxy, user.bypass);
    }
    if (user.autoDetect) {
        return facts.systemAutomaticProxy ? Choice(ProxyKind::SystemAutomatic, ProxyReason::UserAutoDetect)
                                          : Choice(ProxyKind::Direct, ProxyReason::AutoDetectNotOffered);
    }
    return Choice(ProxyKind::Direct, ProxyReason::NothingSet);
}

std::string DescribeProxyChoice(const ProxyChoice& choice) {
    switch (choice.reason) {
        case ProxyReason::MachineSetting:
            return ProxyAndBypass(choice) + " from the machine's WinHTTP setting";
        case ProxyReason::UserProxy:
            return ProxyAndBypass(choice) + " from the user's settings";
        case ProxyReason::UserScript:
            return "proxy by the script " + ToUtf8(choice.scriptUrl) + " from the user's settings";
        case ProxyReason::UserAutoDetect:
            return "proxy by Windows' automatic proxy: the user's settings detect one automatically";
        case ProxyReason::NothingSet:
            return "no proxy: neither the machine nor the user sets one";
        case ProxyReason::UserSettingsUnreadable:
            return "no proxy: the user's settings cannot be read (error " + std::to_string(choice.error) + " " +
                   std::string(TransferErrorName(choice.error)) + ")";
        case ProxyReason::AutoDetectNotOffered:
            return "no proxy: the user's settings only ask for automatic detection, which this Windows does not "
                   "offer to programs";
    }
    return "no proxy";
}

}  // namespace zv
