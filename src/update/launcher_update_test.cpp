// Every outcome of the self-update's flow, with stand-ins for the transfer, the acts and the
// platform (update_stand_ins.h): what it returns, which acts it made in which order, and what is
// left beside the launcher. The real parts are tested under Wine (update_windows_test.cpp) and the
// whole run end to end (tests/e2e/test_self_update.py).
#include "update/launcher_update.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "update_stand_ins.h"

#ifndef _WIN32
#include "integrity/sha256.h"
#include "test_signing_key.h"
#endif

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using zv::LaunchResult;
using zv::ProbationState;
using zv::StepResult;
using zv::test::Answer;
using zv::test::Exited;
using zv::test::Sha1Hex;

using Acts = std::vector<std::string>;

constexpr wchar_t kHost[] = L"updates.test";
const std::string kManifestUrl = "https://updates.test/launcher/manifest.json";
const std::string kDownloadUrl = "https://updates.test/launcher/ZVLauncher-next.exe";
const std::string kOldBuild = "the running launcher build";
const std::string kNewBuild = "the newer launcher build";
// The running launcher's version: a signed manifest must name a higher one to be an update.
constexpr zv::Version kOwnVersion{{1, 0, 0, 0}};

std::string Manifest(const std::string& sha1, const std::string& url = kDownloadUrl) {
    return R"({"sha1": ")" + sha1 + R"(", "url": ")" + url + R"("})";
}

// What the watching launcher sees of the new one.
ProbationState Confirmed() { return {true, false, 1s, true}; }
ProbationState Running(std::chrono::milliseconds since, bool window) { return {false, false, since, window}; }
ProbationState Ended() { return {false, true, 2s, false}; }

// A launcher that finds a newer build published: it downloads it, switches it in and hands over,
// unless a case changes something.
struct SelfUpdate {
    zv::test::ScratchDirectory scratch;
    zv::test::ActLog log;
    zv::test::StandInTransfer transfer{log};
    zv::test::StandInSystem system{log};
    zv::test::StandInSelfUpdate platform{log};
    fs::path self = scratch.path() / "Foo_ZV.exe";
    fs::path staging = scratch.path() / "Foo_ZV.exe.new";
    fs::path previous = scratch.path() / "Foo_ZV.exe.previous";
    // The running launcher: its file, what it forwards, its version.
    zv::RunningLauncher launcher{self.wstring(), L"", kOwnVersion};

    SelfUpdate() {
        zv::test::WriteFileBytes(self, kOldBuild);
        log.Label(launcher.path, "self");
        log.Label(staging.wstring(), "new");
        log.Label(staging.wstring() + L".resume", "new note");
        log.Label(previous.wstring(), "previous");
        Publish(Manifest(Sha1Hex(kNewBuild)));
        transfer.answers[std::wstring(kDownloadUrl.begin(), kDownloadUrl.end())] = zv::test::Served(kNewBuild);
    }

    void Publish(const std::string& manifest) {
        transfer.answers[std::wstring(kManifestUrl.begin(), kManifestUrl.end())] = zv::test::Served(manifest);
    }
    void AnswerManifest(const Answer& answer) {
        transfer.answers[std::wstring(kManifestUrl.begin(), kManifestUrl.end())] = answer;
    }
    void AnswerDownload(const Answer& answer) {
        transfer.answers[std::wstring(kDownloadUrl.begin(), kDownloadUrl.end())] = answer;
    }

    // The flow's result, or nothing when it ended the process. keys: those the build trusts.
    std::optional<StepResult> Run(std::span<const zv::P256PublicKey> keys = {}) {
        try {
            return zv::UpdateLauncher(zv::UpdateSource{kHost, keys}, launcher, transfer, system, platform);
        } catch (const Exited&) {
            return std::nullopt;
        }
    }

    // What lies beside the launcher: "self", "new" and "previous", each with its content.
    [[nodiscard]] std::map<std::string, std::string> Files() const {
        std::map<std::string, std::string> files;
        for (const auto& [path, name] : {std::pair{self, "self"}, {staging, "new"}, {previous, "previous"}}) {
            if (const auto content = zv::test::ReadFileTextIfPresent(path)) {
                files[name] = *content;
            }
        }
        return files;
    }
};

Acts Then(Acts acts, const Acts& more) {
    acts.insert(acts.end(), more.begin(), more.end());
    return acts;
}

// The acts of a run that finds the launcher out of date: the previous launcher an ended run may have
// left looked for, the manifest fetched, the staging file made and the launcher found replaceable,
// the download checked, and the switch with the new launcher's start. A run that goes on removes a
// download an ended run may have left (kTidy); one that fails keeps it for a later resume.
const Acts kFetched = {"remove previous", "get " + kManifestUrl};
const Acts kTidy = {"remove new note", "remove new"};
const Acts kStaged = Then(kFetched, {"stage new", "can replace self"});
const std::string kDownload = "download " + kDownloadUrl + " to new";
const Acts kChecked = Then(kStaged, {kDownload, "check new"});
const Acts kSwitched = Then(kChecked, {"rename self to previous", "switch new into self"});
const Acts kStarted = Then(kSwitched, {"step aside", "start on probation"});
const Acts kRolledBack = {"rename previous to self", "remember rolled back " + Sha1Hex(kNewBuild), "come back"};

// Files beside the launcher.
using Files = std::map<std::string, std::string>;
const Files kUnchanged = {{"self", kOldBuild}};
const Files kHandedOver = {{"self", kNewBuild}, {"previous", kOldBuild}};

struct Case {
    const char* name;
    std::function<void(SelfUpdate&)> arrange;
    std::optional<StepResult> result;  // nothing: the process ended once the new launcher confirmed
    Acts acts;
    Files files = kUnchanged;
};

void Expect(const Case& c, std::span<const zv::P256PublicKey> keys = {}) {
    SCOPED_TRACE(c.name);
    SelfUpdate update;
    c.arrange(update);
    EXPECT_EQ(update.Run(keys), c.result);
    EXPECT_EQ(update.log.acts(), c.acts);
    EXPECT_EQ(update.Files(), c.files);
}

TEST(UpdateLauncher, EveryOutcomeWithItsActsInOrder) {
    const auto noChange = [](SelfUpdate&) {};
    const Case cases[] = {
        {"current, and a current launcher needs no url",
         [](SelfUpdate& u) { u.Publish(R"({"sha1": ")" + Sha1Hex(kOldBuild) + R"("})"); }, LaunchResult::Success,
         Then(kFetched, kTidy)},
        {"leftovers of an ended run are removed",
         [](SelfUpdate& u) {
             zv::test::WriteFileBytes(u.staging, "half a download");
             zv::test::WriteFileBytes(u.previous, "an older build");
             u.Publish(R"({"sha1": ")" + Sha1Hex(kOldBuild) + R"("})");
         },
         LaunchResult::Success, Then(kFetched, kTidy)},
        // The new launcher removes the previous file once this one has ended.
        {"newer: switched in, started on probation, confirmed: the process ends", noChange, std::nullopt,
         Then(kStarted, {"watch", "exit"}), kHandedOver},

        {"1: the manifest answered with 404", [](SelfUpdate& u) { u.AnswerManifest(zv::test::Refused(404)); },
         LaunchResult::LauncherManifestFetchFailed, kFetched},
        {"1: no response", [](SelfUpdate& u) { u.AnswerManifest(zv::test::NoResponse()); },
         LaunchResult::LauncherManifestFetchFailed, kFetched},
        {"1: not one JSON value", [](SelfUpdate& u) { u.Publish("{\"sha1\": "); },
         LaunchResult::LauncherManifestFetchFailed, kFetched},
        {"2: no sha1", [](SelfUpdate& u) { u.Publish(R"({"url": "https://x/"})"); },
         LaunchResult::LauncherManifestMissingSha1, kFetched},
        {"2: sha1 not a string", [](SelfUpdate& u) { u.Publish(R"({"sha1": 7, "url": "https://x/"})"); },
         LaunchResult::LauncherManifestMissingSha1, kFetched},
        {"2: sha1 not 40 digits", [](SelfUpdate& u) { u.Publish(Manifest(Sha1Hex(kNewBuild).substr(1))); },
         LaunchResult::LauncherManifestMissingSha1, kFetched},
        {"2: not an object", [](SelfUpdate& u) { u.Publish("[\"" + Sha1Hex(kOldBuild) + "\"]"); },
         LaunchResult::LauncherManifestMissingSha1, kFetched},
        {"3: differs, no url", [](SelfUpdate& u) { u.Publish(R"({"sha1": ")" + Sha1Hex(kNewBuild) + R"("})"); },
         LaunchResult::LauncherManifestMissingUrl, kFetched},
        {"3: differs, url not a string",
         [](SelfUpdate& u) { u.Publish(R"({"sha1": ")" + Sha1Hex(kNewBuild) + R"(", "url": 7})"); },
         LaunchResult::LauncherManifestMissingUrl, kFetched},

        {"5: no staging file beside the launcher", [](SelfUpdate& u) { u.system.canStage = false; },
         LaunchResult::TempFileFailed, Then(kFetched, {"stage new"})},
        {"6: the download answered with 404", [](SelfUpdate& u) { u.AnswerDownload(zv::test::Refused(404)); },
         LaunchResult::LauncherDownloadFailed, Then(kStaged, {kDownload, "remove new"})},
        {"6: the download cut short", [](SelfUpdate& u) { u.AnswerDownload(zv::test::CutShort()); },
         LaunchResult::LauncherDownloadFailed, Then(kStaged, {kDownload, "remove new"})},
        {"7: the download is not what the manifest names",
         [](SelfUpdate& u) { u.AnswerDownload(zv::test::Served("other bytes")); },
         LaunchResult::LauncherChecksumMismatch, Then(kChecked, {"remove new"})},

        // What would keep the new launcher from its place or its start is found before the download.
        {"8: the launcher file cannot be replaced", [](SelfUpdate& u) { u.platform.canReplace = false; },
         LaunchResult::UpdateProcessFailed, Then(kStaged, {"remove new"})},
        {"8: arguments beyond a command line",
         [](SelfUpdate& u) { u.launcher.forwarded = std::wstring(zv::kCommandLineLimit, L'a'); },
         LaunchResult::UpdateProcessFailed, Then(kFetched, {"stage new", "remove new"})},
        {"8: moving the launcher aside is refused for good",
         [](SelfUpdate& u) { u.platform.renames = {zv::test::RenameRefused()}; }, LaunchResult::UpdateProcessFailed,
         Then(kChecked, {"rename self to previous", "remove new"})},
        {"8: the download cannot take the launcher's name: the launcher goes back",
         [](SelfUpdate& u) { u.system.switches = {zv::test::RenameRefused()}; }, LaunchResult::UpdateProcessFailed,
         Then(kSwitched, {"remove new", "rename previous to self"})},
    };
    for (const auto& c : cases) {
        Expect(c);
    }
}

TEST(UpdateLauncher, ASwitchBlockedByAFileInUseIsTriedAgainThenTheRunGoesOn) {
    const zv::RenameOutcome inUse = zv::test::RenameInUse();
    const Acts waits = {"pause 100 ms", "rename self to previous", "pause 200 ms", "rename self to previous",
                        "pause 400 ms", "rename self to previous"};
    const Acts allWaits =
        Then(waits, {"pause 800 ms", "rename self to previous", "pause 1600 ms", "rename self to previous",
                     "pause 3200 ms", "rename self to previous", "pause 3700 ms", "rename self to previous"});
    const Case cases[] = {
        {"free after three waits: switched in as usual",
         [&](SelfUpdate& u) {
             u.platform.renames = {inUse, inUse, inUse};
         },
         std::nullopt,
         Then(Then(Then(kChecked, {"rename self to previous"}), waits),
              {"switch new into self", "step aside", "start on probation", "watch", "exit"}),
         kHandedOver},
        // The old launcher goes on with this run; the next run downloads again.
        {"still in use after 10 seconds: the old launcher goes on",
         [&](SelfUpdate& u) { u.platform.renames = std::deque(8, inUse); }, LaunchResult::Success,
         Then(Then(Then(Then(kChecked, {"rename self to previous"}), allWaits), {"remove new"}), kTidy)},
    };
    for (const auto& c : cases) {
        Expect(c);
    }
}

TEST(UpdateLauncher, ANewLauncherThatDoesNotConfirmItsStartIsRolledBackAndRemembered) {
    const Case cases[] = {
        {"confirmed after a while",
         [](SelfUpdate& u) {
             u.platform.watched = {Running(1s, false), Confirmed()};
         },
         std::nullopt, Then(kStarted, {"watch", "watch", "exit"}), kHandedOver},
        {"confirmed, and ended since: a confirmed start counts",
         [](SelfUpdate& u) {
             u.platform.watched = {{true, true, 3s, false}};
         },
         std::nullopt, Then(kStarted, {"watch", "exit"}), kHandedOver},
        {"ended before it confirmed (a crash, a missing library, an early exit)",
         [](SelfUpdate& u) {
             u.platform.watched = {Running(1s, true), Ended()};
         },
         LaunchResult::Success, Then(Then(Then(kStarted, {"watch", "watch"}), kRolledBack), kTidy)},
        {"Windows did not start it", [](SelfUpdate& u) { u.platform.start = zv::SuccessorStart::Kind::NotStarted; },
         LaunchResult::Success, Then(Then(kStarted, kRolledBack), kTidy)},
        {"no confirmation within 120 seconds and no window: ended and rolled back",
         [](SelfUpdate& u) {
             u.platform.watched = {Running(119s, false), Running(120s, false)};
         },
         LaunchResult::Success, Then(Then(Then(kStarted, {"watch", "watch", "end it"}), kRolledBack), kTidy)},
        // The agreement or a slow network can keep a working launcher's window up for long.
        {"past 120 seconds with a window: watched until it confirms",
         [](SelfUpdate& u) {
             u.platform.watched = {Running(300s, true), Confirmed()};
         },
         std::nullopt, Then(kStarted, {"watch", "watch", "exit"}), kHandedOver},
        // Not the release's fault: put back, not remembered.
        {"its file changed after the check: not started",
         [](SelfUpdate& u) { u.platform.start = zv::SuccessorStart::Kind::Changed; }, LaunchResult::Success,
         Then(Then(kStarted, {"rename previous to self", "come back"}), kTidy)},
        {"the previous launcher goes back after a wait while the failed one's file is still held",
         [](SelfUpdate& u) {
             u.platform.watched = {Ended()};
             u.platform.renames = {zv::test::RenameDone(), zv::test::RenameInUse()};
         },
         LaunchResult::Success,
         Then(Then(kStarted, {"watch", "rename previous to self", "pause 100 ms", "rename previous to self",
                              "remember rolled back " + Sha1Hex(kNewBuild), "come back"}),
              kTidy)},
        // Never downloaded again; a manifest naming another file is taken as usual.
        {"a remembered release is not downloaded again",
         [](SelfUpdate& u) { u.system.rolledBack = {Sha1Hex(kNewBuild)}; }, LaunchResult::Success,
         Then(kFetched, kTidy)},
        {"another release after a remembered one is",
         [](SelfUpdate& u) { u.system.rolledBack = {Sha1Hex("an earlier release that crashed")}; }, std::nullopt,
         Then(kStarted, {"watch", "exit"}), kHandedOver},
    };
    for (const auto& c : cases) {
        Expect(c);
    }
}

TEST(UpdateLauncher, ALauncherOnProbationConfirmsOnceTheManifestIsJudgedAndRemovesThePreviousLauncher) {
    const std::string get = "get " + kManifestUrl;
    const Acts confirmed = {get, "confirm start", "remove previous"};
    const Acts tidied = Then(confirmed, kTidy);
    const auto onProbation = [](std::function<void(SelfUpdate&)> then) {
        return [then](SelfUpdate& u) {
            u.platform.onProbation = true;
            zv::test::WriteFileBytes(u.previous, "the launcher that started this one");
            then(u);
        };
    };
    const Case cases[] = {
        {"current", onProbation([](SelfUpdate& u) { u.Publish(R"({"sha1": ")" + Sha1Hex(kOldBuild) + R"("})"); }),
         LaunchResult::Success, tidied},
        {"a failure it reports in its box",
         onProbation([](SelfUpdate& u) { u.AnswerManifest(zv::test::Refused(503)); }),
         LaunchResult::LauncherManifestFetchFailed, confirmed},
        // Confirmed before the download, so that the previous file is gone before this launcher
        // becomes the previous one itself.
        {"an update of its own", onProbation([](SelfUpdate&) {}), std::nullopt,
         Then(confirmed, {"stage new", "can replace self", kDownload, "check new", "rename self to previous",
                          "switch new into self", "step aside", "start on probation", "watch", "exit"}),
         kHandedOver},
    };
    for (const auto& c : cases) {
        Expect(c);
    }
}

TEST(UpdateLauncher, RestartsTheNewLauncherInPlaceWithTheForwardedArguments) {
    SelfUpdate update;
    update.launcher.forwarded = L"\"two words\" a&b %OS% !x!";
    ASSERT_EQ(update.Run(), std::nullopt);
    ASSERT_TRUE(update.platform.startedWith);
    EXPECT_EQ(update.platform.startedWith->first, update.self.wstring());
    EXPECT_EQ(update.platform.startedWith->second, L"\"two words\" a&b %OS% !x!");
}

TEST(UpdateLauncher, TheRestartCommandLineAndItsLimits) {
    EXPECT_EQ(zv::BuildRestartCommandLine(L"C:\\Games\\Foo_ZV.exe", L""), L"\"C:\\Games\\Foo_ZV.exe\"");
    EXPECT_EQ(zv::BuildRestartCommandLine(L"C:\\Games\\Foo_ZV.exe", L"-w \"a b\""),
              L"\"C:\\Games\\Foo_ZV.exe\" -w \"a b\"");
    const std::wstring path259 = L"C:\\" + std::wstring(256, L'x');
    EXPECT_TRUE(zv::FitsRestart(path259, L""));
    EXPECT_FALSE(zv::FitsRestart(path259 + L"x", L"")) << "MAX_PATH";
    // The quoted path, a blank and the text, with the terminator, within 32,767 characters.
    const std::wstring path = L"C:\\L.exe";
    const std::size_t room = zv::kCommandLineLimit - 1 - (path.size() + 3);
    EXPECT_TRUE(zv::FitsRestart(path, std::wstring(room, L'a')));
    EXPECT_FALSE(zv::FitsRestart(path, std::wstring(room + 1, L'a')));
}

#ifndef _WIN32
// A launcher built with signing keys (ZV_UPDATE_PUBLIC_KEYS): it uses no member of a manifest that
// none of its keys has signed for this host and path, never installs a version that is not above
// its own, and a download must be exactly "size" bytes with both digests. The signatures are made
// here with OpenSSL (test_signing_key.h); every untrusted form is in manifest_signature_test.cpp,
// and the platform's own check runs under Wine end to end with a signed build.

using zv::test::JsonString;
using zv::test::SharedTestKey;
using zv::test::SignedManifest;

// The newer build's manifest at version 1.0.0.1, signed by the first key for the launcher's path.
SignedManifest Signed() { return {"/launcher/manifest.json", kNewBuild, kDownloadUrl, "1.0.0.1"}; }

// A case that publishes the signed manifest after edit has changed it.
std::function<void(SelfUpdate&)> SignedWith(std::function<void(SignedManifest&)> edit) {
    return [edit](SelfUpdate& u) {
        SignedManifest s = Signed();
        edit(s);
        u.Publish(s.Body());
    };
}

// The running build's own release, at version.
std::function<void(SignedManifest&)> OwnBuildAt(std::string version) {
    return [version](SignedManifest& s) {
        s = SignedManifest("/launcher/manifest.json", kOldBuild, kDownloadUrl, version);
    };
}

TEST(UpdateLauncher, ABuildWithKeysInstallsOnlyAHigherVersionSignedForItsHostAndPath) {
    const zv::P256PublicKey trusted[] = {SharedTestKey(0).publicKey(), SharedTestKey(1).publicKey()};
    const Acts handedOver = Then(kStarted, {"watch", "exit"});
    const std::string other = "other bytes";
    const Case cases[] = {
        {"current: its own release at its own version", SignedWith(OwnBuildAt("1.0.0.0")), LaunchResult::Success,
         Then(kFetched, kTidy)},
        {"current: its own release at a higher version", SignedWith(OwnBuildAt("1.0.0.7")), LaunchResult::Success,
         Then(kFetched, kTidy)},
        {"newer, signed by the second key: handed over",
         SignedWith([](SignedManifest& s) { s.key = &SharedTestKey(1); }), std::nullopt, handedOver, kHandedOver},
        {"newer, expiring in a month: handed over",
         SignedWith([](SignedManifest& s) { s.expires = "2027-01-10T00:00:00Z"; }), std::nullopt, handedOver,
         kHandedOver},
        {"newer by the first part", SignedWith([](SignedManifest& s) { s.version = "2.0.0.0"; }), std::nullopt,
         handedOver, kHandedOver},
        // Remembered by its SHA-256 in a build with keys.
        {"a rolled-back release is remembered by its SHA-256",
         [](SelfUpdate& u) {
             u.Publish(Signed().Body());
             u.platform.watched = {Ended()};
         },
         LaunchResult::Success,
         Then(Then(kStarted,
                   {"watch", "rename previous to self",
                    "remember rolled back " + zv::Sha256ToHex(*zv::Sha256Of(kNewBuild.data(), kNewBuild.size())),
                    "come back"}),
              kTidy)},
        {"a remembered release is not downloaded again",
         [](SelfUpdate& u) {
             u.Publish(Signed().Body());
             u.system.rolledBack = {zv::Sha256ToHex(*zv::Sha256Of(kNewBuild.data(), kNewBuild.size()))};
         },
         LaunchResult::Success, Then(kFetched, kTidy)},

        // A replayed older manifest can hold the launcher back, never take it back.
        {"another build at its own version: no update", SignedWith([](SignedManifest& s) { s.version = "1.0.0.0"; }),
         LaunchResult::Success, Then(kFetched, kTidy)},
        {"another build at a lower version: no update",
         SignedWith([](SignedManifest& s) { s.version = "0.9.65535.65535"; }), LaunchResult::Success,
         Then(kFetched, kTidy)},

        {"30: unsigned", [](SelfUpdate& u) { u.Publish(Manifest(Sha1Hex(kNewBuild))); },
         LaunchResult::LauncherManifestUntrusted, kFetched},
        {"30: not an object", [](SelfUpdate& u) { u.Publish("[]"); }, LaunchResult::LauncherManifestUntrusted, kFetched},
        {"30: signed by a key the build does not trust",
         SignedWith([](SignedManifest& s) { s.key = &SharedTestKey(2); }), LaunchResult::LauncherManifestUntrusted,
         kFetched},
        {"30: signed for another host", SignedWith([](SignedManifest& s) { s.host = "staging.test"; }),
         LaunchResult::LauncherManifestUntrusted, kFetched},
        {"30: a signed stub manifest served as the launcher's",
         SignedWith([](SignedManifest& s) { s.path = "/stub/" + std::string(40, 'a') + "/manifest.json"; }),
         LaunchResult::LauncherManifestUntrusted, kFetched},
        {"30: an http url, signed", SignedWith([](SignedManifest& s) { s.url = "http://updates.test/x.exe"; }),
         LaunchResult::LauncherManifestUntrusted, kFetched},
        {"30: the version raised after signing",
         SignedWith([](SignedManifest& s) { s.bodyChanges["version"] = JsonString("9.0.0.0"); }),
         LaunchResult::LauncherManifestUntrusted, kFetched},
        {"30: no size", SignedWith([](SignedManifest& s) { s.bodyChanges["size"] = std::nullopt; }),
         LaunchResult::LauncherManifestUntrusted, kFetched},
        {"31: expired", SignedWith([](SignedManifest& s) { s.expires = "2026-12-09T23:59:59Z"; }),
         LaunchResult::LauncherManifestExpired, kFetched},
        {"31: its own release, expired",
         [](SelfUpdate& u) {
             SignedManifest s = Signed();
             OwnBuildAt("1.0.0.0")(s);
             s.expires = "2026-01-01T00:00:00Z";
             u.Publish(s.Body());
         },
         LaunchResult::LauncherManifestExpired, kFetched},

        {"6: a download longer than its size is stopped", SignedWith([](SignedManifest& s) { s.size -= 1; }),
         LaunchResult::LauncherDownloadFailed, Then(kStaged, {kDownload, "remove new"})},
        {"6: a download shorter than its size", SignedWith([](SignedManifest& s) { s.size += 1; }),
         LaunchResult::LauncherDownloadFailed, Then(kStaged, {kDownload, "remove new"})},
        {"7: the download's SHA-1 matches, its SHA-256 does not", SignedWith([&other](SignedManifest& s) {
             s.sha256 = zv::Sha256ToHex(*zv::Sha256Of(other.data(), other.size()));
         }),
         LaunchResult::LauncherChecksumMismatch, Then(kChecked, {"remove new"})},
    };
    for (const auto& c : cases) {
        Expect(c, trusted);
    }
}

TEST(UpdateLauncher, ABuildWithoutKeysReadsASignedManifestAsBefore) {
    // Only "sha1" and "url" are looked at: not the version, the size or the expiry.
    SelfUpdate update;
    SignedManifest s = Signed();
    s.version = "0.0.0.1";
    s.expires = "2000-01-01T00:00:00Z";
    s.bodyChanges["sha256"] = JsonString(std::string(64, '0'));
    s.bodyChanges["size"] = "1";
    update.Publish(s.Body());
    EXPECT_EQ(update.Run(), std::nullopt) << "handed over";
}
#endif

}  // namespace
