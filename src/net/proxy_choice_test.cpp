#include "net/proxy_choice.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using zv::MachineProxySetting;
using zv::ProxyChoice;
using zv::ProxyFacts;
using zv::ProxyKind;
using zv::ProxyReason;
using zv::UserProxySettings;

const MachineProxySetting kNoMachineProxy{};
const MachineProxySetting kMachineProxy{L"corp:8080", L"<local>"};
const UserProxySettings kNothingSet{};
const UserProxySettings kManual{false, L"", L"127.0.0.1:3128", L"<local>;*.example.com"};
const UserProxySettings kScript{false, L"http://wpad/proxy.pac", L"", L""};
const UserProxySettings kDetect{true, L"", L"", L""};
const UserProxySettings kEverything{true, L"http://wpad/proxy.pac", L"127.0.0.1:3128", L"<local>"};
const UserProxySettings kDetectAndManual{true, L"", L"127.0.0.1:3128", L""};

ProxyChoice Choice(ProxyKind kind, ProxyReason reason, const wchar_t* proxy = L"", const wchar_t* bypass = L"",
                   const wchar_t* script = L"") {
    ProxyChoice choice;
    choice.kind = kind;
    choice.reason = reason;
    choice.proxy = proxy;
    choice.bypass = bypass;
    choice.scriptUrl = script;
    return choice;
}

TEST(ChooseProxy, TheMachineFirstThenTheUsersExplicitSettingsThenDetectionThroughTheSystem) {
    struct Case {
        const char* name;
        std::optional<MachineProxySetting> machine;
        std::optional<UserProxySettings> user;
        bool systemAutomaticProxy;
        ProxyChoice expected;
    };
    const Case cases[] = {
        {"nothing anywhere: direct", kNoMachineProxy, kNothingSet, true,
         Choice(ProxyKind::Direct, ProxyReason::NothingSet)},
        {"a machine proxy works as it always has, whatever the user sets", kMachineProxy, kEverything, true,
         Choice(ProxyKind::Machine, ProxyReason::MachineSetting, L"corp:8080", L"<local>")},
        {"a machine setting that cannot be read leaves the choice to the user's", std::nullopt, kManual, true,
         Choice(ProxyKind::Named, ProxyReason::UserProxy, L"127.0.0.1:3128", L"<local>;*.example.com")},
        {"the user's manual proxy with its bypass list", kNoMachineProxy, kManual, false,
         Choice(ProxyKind::Named, ProxyReason::UserProxy, L"127.0.0.1:3128", L"<local>;*.example.com")},
        {"the user's script", kNoMachineProxy, kScript, false,
         Choice(ProxyKind::Script, ProxyReason::UserScript, L"", L"", L"http://wpad/proxy.pac")},
        {"a script before a manual proxy and before detection", kNoMachineProxy, kEverything, true,
         Choice(ProxyKind::Script, ProxyReason::UserScript, L"", L"", L"http://wpad/proxy.pac")},
        {"a manual proxy before detection", kNoMachineProxy, kDetectAndManual, true,
         Choice(ProxyKind::Named, ProxyReason::UserProxy, L"127.0.0.1:3128")},
        {"detection alone through the system's automatic proxy", kNoMachineProxy, kDetect, true,
         Choice(ProxyKind::SystemAutomatic, ProxyReason::UserAutoDetect)},
        {"detection alone where Windows offers no automatic proxy: direct, no discovery of our own", kNoMachineProxy,
         kDetect, false, Choice(ProxyKind::Direct, ProxyReason::AutoDetectNotOffered)},
        {"user settings that cannot be read: direct", kNoMachineProxy, std::nullopt, true,
         Choice(ProxyKind::Direct, ProxyReason::UserSettingsUnreadable)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProxyFacts facts;
        facts.machine = c.machine;
        facts.user = c.user;
        facts.systemAutomaticProxy = c.systemAutomaticProxy;
        EXPECT_EQ(zv::ChooseProxy(facts), c.expected);
    }
}

TEST(DescribeProxyChoice, NamesTheProxyAndWhy) {
    struct Case {
        ProxyChoice choice;
        const char* line;
    };
    ProxyChoice unreadable = Choice(ProxyKind::Direct, ProxyReason::UserSettingsUnreadable);
    unreadable.error = 2;
    const Case cases[] = {
        {Choice(ProxyKind::Machine, ProxyReason::MachineSetting, L"corp:8080", L"<local>"),
         "proxy corp:8080 (bypass <local>) from the machine's WinHTTP setting"},
        {Choice(ProxyKind::Named, ProxyReason::UserProxy, L"127.0.0.1:3128"),
         "proxy 127.0.0.1:3128 from the user's settings"},
        {Choice(ProxyKind::Script, ProxyReason::UserScript, L"", L"", L"http://wpad/proxy.pac"),
         "proxy by the script http://wpad/proxy.pac from the user's settings"},
        {Choice(ProxyKind::SystemAutomatic, ProxyReason::UserAutoDetect),
         "proxy by Windows' automatic proxy: the user's settings detect one automatically"},
        {Choice(ProxyKind::Direct, ProxyReason::NothingSet), "no proxy: neither the machine nor the user sets one"},
        {unreadable, "no proxy: the user's settings cannot be read (error 2 ERROR_FILE_NOT_FOUND)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zv::DescribeProxyChoice(c.choice), c.line);
    }
}

}  // namespace
