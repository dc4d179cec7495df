// Every outcome of the self-update's flow, with stand-ins for the transfer, the acts and the
// platform (update_stand_ins.h): what it returns, which acts it made in which order, and what is
// left of the temporary file. The real parts are tested under Wine (update_windows_test.cpp) and
// the whole run end to end (tests/e2e/test_self_update.py).
#include "update/launcher_update.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
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
using zv::LaunchResult;
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

// A launcher that finds a newer build published: it downloads it and hands it over, unless a case
// changes something.
struct SelfUpdate {
    zv::test::ScratchDirectory scratch;
    zv::test::ActLog log;
    zv::test::StandInTransfer transfer{log};
    zv::test::StandInSystem system{log, scratch.path() / "temp"};
    zv::test::StandInSelfUpdate platform{log};
    fs::path self = scratch.path() / "Foo_ZV.exe";
    // The running launcher: its file, what it forwards, its version.
    zv::RunningLauncher launcher{self.wstring(), L"", kOwnVersion};

    SelfUpdate() {
        zv::test::WriteFileBytes(self, kOldBuild);
        log.Label(launcher.path, "self");
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

    [[nodiscard]] std::vector<fs::path> TemporaryFiles() const {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(scratch.path() / "temp")) {
            files.push_back(entry.path());
        }
        return files;
    }
};

Acts Then(Acts acts, const Acts& more) {
    acts.insert(acts.end(), more.begin(), more.end());
    return acts;
}

// The acts of a run that finds the launcher out of date: up to the comparison, up to the temporary
// file, and up to the checks that come before the download.
const Acts kFetched = {"get " + kManifestUrl};
const Acts kTemporaryFile = Then(kFetched, {"temporary folder", "create temporary file"});
const Acts kChecked = Then(kTemporaryFile, {"system folder", "can replace self"});
const std::string kDownload = "download " + kDownloadUrl + " to temp";

struct Case {
    const char* name;
    std::function<void(SelfUpdate&)> arrange;
    std::optional<StepResult> result;  // nothing: the process ended after the hand-over started
    Acts acts;
    bool temporaryFileLeft = false;
};

TEST(UpdateLauncher, EveryOutcomeWithItsActsInOrder) {
    const auto noChange = [](SelfUpdate&) {};
    const Acts getOnly = {"get " + kManifestUrl};
    const Case cases[] = {
        {"current, and a current launcher needs no url",
         [](SelfUpdate& u) { u.Publish(R"({"sha1": ")" + Sha1Hex(kOldBuild) + R"("})"); }, LaunchResult::Success,
         kFetched},
        // The interpreter deletes the temporary file once it has copied it.
        {"newer: handed over to the interpreter, and the process ends", noChange, std::nullopt,
         Then(kChecked, {kDownload, "start hidden", "exit"}), true},

        {"1: the manifest answered with 404", [](SelfUpdate& u) { u.AnswerManifest(zv::test::Refused(404)); },
         LaunchResult::LauncherManifestFetchFailed, getOnly},
        {"1: no response", [](SelfUpdate& u) { u.AnswerManifest(zv::test::NoResponse()); },
         LaunchResult::LauncherManifestFetchFailed, getOnly},
        {"1: not one JSON value", [](SelfUpdate& u) { u.Publish("{\"sha1\": "); },
         LaunchResult::LauncherManifestFetchFailed, getOnly},
        {"2: no sha1", [](SelfUpdate& u) { u.Publish(R"({"url": "https://x/"})"); },
         LaunchResult::LauncherManifestMissingSha1, getOnly},
        {"2: sha1 not a string", [](SelfUpdate& u) { u.Publish(R"({"sha1": 7, "url": "https://x/"})"); },
         LaunchResult::LauncherManifestMissingSha1, getOnly},
        {"2: sha1 not 40 digits", [](SelfUpdate& u) { u.Publish(Manifest(Sha1Hex(kNewBuild).substr(1))); },
         LaunchResult::LauncherManifestMissingSha1, getOnly},
        {"2: not an object", [](SelfUpdate& u) { u.Publish("[\"" + Sha1Hex(kOldBuild) + "\"]"); },
         LaunchResult::LauncherManifestMissingSha1, getOnly},
        {"3: differs, no url", [](SelfUpdate& u) { u.Publish(R"({"sha1": ")" + Sha1Hex(kNewBuild) + R"("})"); },
         LaunchResult::LauncherManifestMissingUrl, kFetched},
        {"3: differs, url not a string",
         [](SelfUpdate& u) { u.Publish(R"({"sha1": ")" + Sha1Hex(kNewBuild) + R"(", "url": 7})"); },
         LaunchResult::LauncherManifestMissingUrl, kFetched},

        {"4: no temporary folder", [](SelfUpdate& u) { u.system.folder.clear(); }, LaunchResult::TempPathFailed,
         Then(kFetched, {"temporary folder"})},
        {"5: no temporary file", [](SelfUpdate& u) { u.system.canCreateFile = false; }, LaunchResult::TempFileFailed,
         kTemporaryFile},

        {"6: the download answered with 404", [](SelfUpdate& u) { u.AnswerDownload(zv::test::Refused(404)); },
         LaunchResult::LauncherDownloadFailed, Then(kChecked, {kDownload, "remove temp"})},
        {"6: the download cut short", [](SelfUpdate& u) { u.AnswerDownload(zv::test::CutShort()); },
         LaunchResult::LauncherDownloadFailed, Then(kChecked, {kDownload, "remove temp"})},
        {"7: the download is not what the manifest names",
         [](SelfUpdate& u) { u.AnswerDownload(zv::test::Served("other bytes")); },
         LaunchResult::LauncherChecksumMismatch, Then(kChecked, {kDownload, "remove temp"})},

        // A replacement the interpreter could not carry out after the launcher has ended is refused
        // before anything is downloaded.
        {"8: the launcher file cannot be replaced", [](SelfUpdate& u) { u.platform.canReplace = false; },
         LaunchResult::UpdateProcessFailed, Then(kChecked, {"remove temp"})},
        {"8: no system folder", [](SelfUpdate& u) { u.platform.systemFolder.clear(); },
         LaunchResult::UpdateProcessFailed, Then(kTemporaryFile, {"system folder", "remove temp"})},
        {"8: arguments over 8191 characters", [](SelfUpdate& u) { u.launcher.forwarded = std::wstring(8192, L'a'); },
         LaunchResult::UpdateProcessFailed, Then(kTemporaryFile, {"system folder", "remove temp"})},
        {"8: a launcher path of 260 characters",
         [](SelfUpdate& u) { u.launcher.path = L"C:\\" + std::wstring(257, L'x'); }, LaunchResult::UpdateProcessFailed,
         Then(kTemporaryFile, {"system folder", "remove temp"})},
        {"8: the interpreter does not start",
         [](SelfUpdate& u) {
             u.platform.start = {false, 2};
         },
         LaunchResult::UpdateProcessFailed, Then(kChecked, {kDownload, "start hidden", "remove temp"})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SelfUpdate update;
        c.arrange(update);
        EXPECT_EQ(update.Run(), c.result);
        EXPECT_EQ(update.log.acts(), c.acts);
        EXPECT_EQ(update.TemporaryFiles().size(), c.temporaryFileLeft ? 1u : 0u);
        EXPECT_EQ(zv::test::ReadFileTextIfPresent(update.self), kOldBuild)
            << "only the interpreter replaces the launcher";
    }
}

TEST(UpdateLauncher, HandsTheVerifiedDownloadAndTheArgumentsToTheInterpreter) {
    SelfUpdate update;
    update.launcher.forwarded = L"\"two words\" a&b";
    ASSERT_EQ(update.Run(), std::nullopt);
    const std::vector<fs::path> temporary = update.TemporaryFiles();
    ASSERT_EQ(temporary.size(), 1u);
    EXPECT_EQ(zv::test::ReadFileTextIfPresent(temporary[0]), kNewBuild);
    ASSERT_TRUE(update.platform.started);
    const zv::ReplacementCommand expected = zv::BuildReplacementCommand(
        L"C:\\windows\\system32", temporary[0].wstring(), update.self.wstring(), L"\"two words\" a&b");
    EXPECT_EQ(update.platform.started->interpreter, expected.interpreter);
    EXPECT_EQ(update.platform.started->line, expected.line);
    EXPECT_EQ(update.platform.started->environment, expected.environment);
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
    const Acts getOnly = {"get " + kManifestUrl};
    const Acts handedOver = Then(kChecked, {kDownload, "start hidden", "exit"});
    const std::string other = "other bytes";
    const Case cases[] = {
        {"current: its own release at its own version", SignedWith(OwnBuildAt("1.0.0.0")), LaunchResult::Success,
         kFetched},
        {"current: its own release at a higher version", SignedWith(OwnBuildAt("1.0.0.7")), LaunchResult::Success,
         kFetched},
        {"newer, signed by the second key: handed over",
         SignedWith([](SignedManifest& s) { s.key = &SharedTestKey(1); }), std::nullopt, handedOver, true},
        {"newer, expiring in a month: handed over",
         SignedWith([](SignedManifest& s) { s.expires = "2027-01-10T00:00:00Z"; }), std::nullopt, handedOver, true},
        {"newer by the first part", SignedWith([](SignedManifest& s) { s.version = "2.0.0.0"; }), std::nullopt,
         handedOver, true},

        // A replayed older manifest can hold the launcher back, never take it back.
        {"another build at its own version: no update", SignedWith([](SignedManifest& s) { s.version = "1.0.0.0"; }),
         LaunchResult::Success, kFetched},
        {"another build at a lower version: no update",
         SignedWith([](SignedManifest& s) { s.version = "0.9.65535.65535"; }), LaunchResult::Success, kFetched},

        {"30: unsigned", [](SelfUpdate& u) { u.Publish(Manifest(Sha1Hex(kNewBuild))); },
         LaunchResult::LauncherManifestUntrusted, getOnly},
        {"30: not an object", [](SelfUpdate& u) { u.Publish("[]"); }, LaunchResult::LauncherManifestUntrusted, getOnly},
        {"30: signed by a key the build does not trust",
         SignedWith([](SignedManifest& s) { s.key = &SharedTestKey(2); }), LaunchResult::LauncherManifestUntrusted,
         getOnly},
        {"30: signed for another host", SignedWith([](SignedManifest& s) { s.host = "staging.test"; }),
         LaunchResult::LauncherManifestUntrusted, getOnly},
        {"30: a signed stub manifest served as the launcher's",
         SignedWith([](SignedManifest& s) { s.path = "/stub/" + std::string(40, 'a') + "/manifest.json"; }),
         LaunchResult::LauncherManifestUntrusted, getOnly},
        {"30: an http url, signed", SignedWith([](SignedManifest& s) { s.url = "http://updates.test/x.exe"; }),
         LaunchResult::LauncherManifestUntrusted, getOnly},
        {"30: the version raised after signing",
         SignedWith([](SignedManifest& s) { s.bodyChanges["version"] = JsonString("9.0.0.0"); }),
         LaunchResult::LauncherManifestUntrusted, getOnly},
        {"30: no size", SignedWith([](SignedManifest& s) { s.bodyChanges["size"] = std::nullopt; }),
         LaunchResult::LauncherManifestUntrusted, getOnly},
        {"31: expired", SignedWith([](SignedManifest& s) { s.expires = "2026-12-09T23:59:59Z"; }),
         LaunchResult::LauncherManifestExpired, getOnly},
        {"31: its own release, expired",
         [](SelfUpdate& u) {
             SignedManifest s = Signed();
             OwnBuildAt("1.0.0.0")(s);
             s.expires = "2026-01-01T00:00:00Z";
             u.Publish(s.Body());
         },
         LaunchResult::LauncherManifestExpired, getOnly},

        {"6: a download longer than its size is stopped", SignedWith([](SignedManifest& s) { s.size -= 1; }),
         LaunchResult::LauncherDownloadFailed, Then(kChecked, {kDownload, "remove temp"})},
        {"6: a download shorter than its size", SignedWith([](SignedManifest& s) { s.size += 1; }),
         LaunchResult::LauncherDownloadFailed, Then(kChecked, {kDownload, "remove temp"})},
        {"7: the download's SHA-1 matches, its SHA-256 does not", SignedWith([&other](SignedManifest& s) {
             s.sha256 = zv::Sha256ToHex(*zv::Sha256Of(other.data(), other.size()));
         }),
         LaunchResult::LauncherChecksumMismatch, Then(kChecked, {kDownload, "remove temp"})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SelfUpdate update;
        c.arrange(update);
        EXPECT_EQ(update.Run(trusted), c.result);
        EXPECT_EQ(update.log.acts(), c.acts);
        EXPECT_EQ(update.TemporaryFiles().size(), c.temporaryFileLeft ? 1u : 0u);
        EXPECT_EQ(zv::test::ReadFileTextIfPresent(update.self), kOldBuild);
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
