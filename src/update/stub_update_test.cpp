// Every outcome of the client stub update's flow, with stand-ins for the transfer and the acts
// (update_stand_ins.h): what it returns, which acts it made in which order, and what is left of
// the client target and the stub. The game folder is real: a client target built as a PE image
// and the stub beside it, hashed by the flow itself. The whole game step runs end to end in
// tests/e2e/test_game_step.py.
#include "update/stub_update.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pe_builder.h"
#include "update_stand_ins.h"

#ifndef _WIN32
#include "integrity/p256.h"
#include "integrity/sha256.h"
#include "test_signing_key.h"
#endif

namespace {

namespace fs = std::filesystem;
using zv::LaunchResult;
using zv::StepResult;
using zv::test::Answer;
using zv::test::Sha1Hex;

using Acts = std::vector<std::string>;

constexpr wchar_t kHost[] = L"updates.test";
const std::string kOldStub = "stub version 1";
const std::string kNewStub = "stub version 2";
const zv::test::Bytes kCode(64, 0xC3);

// The build key of the client target: the SHA-1 of its code section's bytes.
const std::string kKey = Sha1Hex(std::string(kCode.begin(), kCode.end()));
const std::string kManifestUrl = "https://updates.test/stub/" + kKey + "/manifest.json";
const std::string kDownloadUrl = "https://updates.test/stub/" + kKey + "/ZVClient-2.dll";

std::wstring Wide(const std::string& text) { return {text.begin(), text.end()}; }

std::string Manifest(const std::string& sha1, const std::string& url = kDownloadUrl) {
    return R"({"sha1": ")" + sha1 + R"(", "url": ")" + url + R"("})";
}

// A game folder whose stub is out of date: the flow downloads the newer one, unless a case changes
// something.
struct StubUpdate {
    zv::test::ScratchDirectory scratch;
    zv::test::ActLog log;
    zv::test::StandInTransfer transfer{log};
    zv::test::StandInSystem system{log};
    zv::GameLocation location;
    fs::path target = scratch.path() / "Foo.exe";
    fs::path stub = scratch.path() / "ZVClient.dll";
    fs::path staging = scratch.path() / "ZVClient.dll.partial";
    std::string targetBytes;

    StubUpdate() {
        const zv::test::Bytes image = zv::test::BuildPe(zv::test::MakeImportingImage({"ZVClient.dll"}, 0x8664, kCode));
        targetBytes.assign(image.begin(), image.end());
        zv::test::WriteFileBytes(target, targetBytes);
        zv::test::WriteFileBytes(stub, kOldStub);
        location = {scratch.path().wstring(), target.wstring(), target.wstring(), stub.wstring()};
        log.Label(location.clientTarget, "target");
        log.Label(location.clientStub, "stub");
        log.Label(staging.wstring(), "partial");
        log.Label(staging.wstring() + L".resume", "partial note");
        Publish(Manifest(Sha1Hex(kNewStub)));
        AnswerDownload(zv::test::Served(kNewStub));
    }

    void Publish(const std::string& manifest) { AnswerManifest(zv::test::Served(manifest)); }
    void AnswerManifest(const Answer& answer) { transfer.answers[Wide(kManifestUrl)] = answer; }
    void AnswerDownload(const Answer& answer) { transfer.answers[Wide(kDownloadUrl)] = answer; }
};

// A run that goes on removes what a run that was ended during its download may have left; one that
// fails keeps it for a later resume.
const std::vector<std::string> kTidy = {"remove partial note", "remove partial"};
const std::string kGet = "get " + kManifestUrl;
const std::string kStage = "stage partial";
const std::string kDownload = "download " + kDownloadUrl + " to partial";
// A download checked where it will be used and switched in through the handle it was checked under.
const std::string kCheck = "check partial";
const std::string kSwitch = "switch partial into stub";

// The acts of a run that goes on, with the leftovers looked for at its end.
std::vector<std::string> Tidied(std::vector<std::string> acts) {
    acts.insert(acts.end(), kTidy.begin(), kTidy.end());
    return acts;
}

struct Case {
    const char* name;
    std::function<void(StubUpdate&)> arrange;
    StepResult result;
    Acts acts;
    bool targetLeft;
    std::optional<std::string> stubLeft;  // nothing: no stub
};

// Runs the flow on a fresh game folder arranged by the case, with the keys of a build.
void Expect(const Case& c, std::span<const zv::P256PublicKey> keys = {}) {
    SCOPED_TRACE(c.name);
    StubUpdate update;
    c.arrange(update);
    EXPECT_EQ(zv::UpdateClientStub(update.location, zv::UpdateSource{kHost, keys}, update.transfer, update.system),
              c.result);
    EXPECT_EQ(update.log.acts(), c.acts);
    EXPECT_EQ(zv::test::ReadFileTextIfPresent(update.target),
              c.targetLeft ? std::optional(update.targetBytes) : std::nullopt);
    EXPECT_EQ(zv::test::ReadFileTextIfPresent(update.stub), c.stubLeft);
    EXPECT_FALSE(fs::exists(update.staging)) << "no staging file is left beside the stub";
}

TEST(UpdateClientStub, EveryOutcomeWithItsActsInOrder) {
    const auto noChange = [](StubUpdate&) {};
    const Case cases[] = {
        {"current, and a current stub needs no url",
         [](StubUpdate& u) { u.Publish(R"({"sha1": ")" + Sha1Hex(kOldStub) + R"("})"); }, LaunchResult::Success,
         Tidied({kGet, "pause 300 ms"}), true, kOldStub},
        // HashFile gives twenty zero bytes for a file it cannot read.
        {"forty zero digits match a missing stub",
         [](StubUpdate& u) {
             fs::remove(u.stub);
             u.Publish(R"({"sha1": ")" + std::string(40, '0') + R"("})");
         },
         LaunchResult::Success, Tidied({kGet, "pause 300 ms"}), true, std::nullopt},
        {"replaced", noChange, LaunchResult::Success, Tidied({kGet, kStage, kDownload, kCheck, kSwitch}), true,
         kNewStub},
        {"no stub yet", [](StubUpdate& u) { fs::remove(u.stub); }, LaunchResult::Success,
         Tidied({kGet, kStage, kDownload, kCheck, kSwitch}), true, kNewStub},

        // The server does not know the build: the game must not be played.
        {"12: the manifest answered with 404 deletes the client target",
         [](StubUpdate& u) { u.AnswerManifest(zv::test::Refused(404)); },
         LaunchResult::StubManifestFetchFailed,
         {kGet, "remove target"},
         false,
         kOldStub},
        {"12: a 500 deletes nothing",
         [](StubUpdate& u) { u.AnswerManifest(zv::test::Refused(500)); },
         LaunchResult::StubManifestFetchFailed,
         {kGet},
         true,
         kOldStub},
        {"12: no response deletes nothing",
         [](StubUpdate& u) { u.AnswerManifest(zv::test::NoResponse()); },
         LaunchResult::StubManifestFetchFailed,
         {kGet},
         true,
         kOldStub},
        {"12: a body cut short after a 200 deletes nothing",
         [](StubUpdate& u) { u.AnswerManifest(zv::test::CutShort()); },
         LaunchResult::StubManifestFetchFailed,
         {kGet},
         true,
         kOldStub},
        {"12: not one JSON value deletes nothing",
         [](StubUpdate& u) { u.Publish("{\"sha1\": "); },
         LaunchResult::StubManifestFetchFailed,
         {kGet},
         true,
         kOldStub},

        {"13: no sha1",
         [](StubUpdate& u) { u.Publish(R"({"url": "https://x/"})"); },
         LaunchResult::StubManifestMissingSha1,
         {kGet},
         true,
         kOldStub},
        {"13: sha1 not a string",
         [](StubUpdate& u) { u.Publish(R"({"sha1": 123})"); },
         LaunchResult::StubManifestMissingSha1,
         {kGet},
         true,
         kOldStub},
        {"13: sha1 not 40 digits",
         [](StubUpdate& u) { u.Publish(Manifest(Sha1Hex(kNewStub).substr(1))); },
         LaunchResult::StubManifestMissingSha1,
         {kGet},
         true,
         kOldStub},
        {"13: not an object",
         [](StubUpdate& u) { u.Publish("[\"" + Sha1Hex(kOldStub) + "\"]"); },
         LaunchResult::StubManifestMissingSha1,
         {kGet},
         true,
         kOldStub},
        {"14: differs, no url",
         [](StubUpdate& u) { u.Publish(R"({"sha1": ")" + Sha1Hex(kNewStub) + R"("})"); },
         LaunchResult::StubManifestMissingUrl,
         {kGet},
         true,
         kOldStub},
        {"14: differs, url not a string",
         [](StubUpdate& u) { u.Publish(R"({"sha1": ")" + Sha1Hex(kNewStub) + R"(", "url": 7})"); },
         LaunchResult::StubManifestMissingUrl,
         {kGet},
         true,
         kOldStub},

        // The stub stays as it was, whatever became of the download; the staging file goes.
        {"15: the download answered with 404",
         [](StubUpdate& u) { u.AnswerDownload(zv::test::Refused(404)); },
         LaunchResult::StubDownloadFailed,
         {kGet, kStage, kDownload, "remove partial"},
         true,
         kOldStub},
        {"15: the download cut short",
         [](StubUpdate& u) { u.AnswerDownload(zv::test::CutShort()); },
         LaunchResult::StubDownloadFailed,
         {kGet, kStage, kDownload, "remove partial"},
         true,
         kOldStub},
        {"15: no staging file beside the stub",
         [](StubUpdate& u) { u.system.canStage = false; },
         LaunchResult::StubDownloadFailed,
         {kGet, "stage partial"},
         true,
         kOldStub},
        {"16: the download is not what the manifest names: the stub stays as it was",
         [](StubUpdate& u) { u.AnswerDownload(zv::test::Served(kOldStub + " tampered")); },
         LaunchResult::StubChecksumMismatch,
         {kGet, kStage, kDownload, kCheck, "remove partial"},
         true,
         kOldStub},
        // A running game holds its stub: the switch waits for it for 10 seconds, then gives up.
        {"in use for a while: switched in once free",
         [](StubUpdate& u) {
             u.system.switches = {zv::test::RenameInUse(), zv::test::RenameInUse()};
         },
         LaunchResult::Success,
         Tidied({kGet, kStage, kDownload, kCheck, kSwitch, "pause 100 ms", kSwitch, "pause 200 ms", kSwitch}), true,
         kNewStub},
        {"15: still in use after 10 seconds: the stub stays as it was",
         [](StubUpdate& u) { u.system.switches = std::deque(8, zv::test::RenameInUse()); },
         LaunchResult::StubDownloadFailed,
         {kGet,    kStage,          kDownload, kCheck,          kSwitch, "pause 100 ms",  kSwitch, "pause 200 ms",
          kSwitch, "pause 400 ms",  kSwitch,   "pause 800 ms",  kSwitch, "pause 1600 ms", kSwitch, "pause 3200 ms",
          kSwitch, "pause 3700 ms", kSwitch,   "remove partial"},
         true,
         kOldStub},
        {"15: refused for good: the stub stays as it was",
         [](StubUpdate& u) { u.system.switches = {zv::test::RenameRefused()}; },
         LaunchResult::StubDownloadFailed,
         {kGet, kStage, kDownload, kCheck, kSwitch, "remove partial"},
         true,
         kOldStub},
        {"a staging file left by an ended run is removed",
         [](StubUpdate& u) {
             zv::test::WriteFileBytes(u.staging, "half a download");
             u.Publish(R"({"sha1": ")" + Sha1Hex(kOldStub) + R"("})");
         },
         LaunchResult::Success, Tidied({kGet, "pause 300 ms"}), true, kOldStub},
    };
    for (const auto& c : cases) {
        Expect(c);
    }
}

TEST(UpdateClientStub, AStagingFileLeftByAnEndedRunIsKeptWhileTheRunFails) {
    // The next run may still resume it; only a run that goes on without it removes it.
    StubUpdate update;
    zv::test::WriteFileBytes(update.staging, "half a download");
    update.AnswerManifest(zv::test::NoResponse());
    EXPECT_EQ(zv::UpdateClientStub(update.location, zv::UpdateSource{kHost, {}}, update.transfer, update.system),
              LaunchResult::StubManifestFetchFailed);
    EXPECT_EQ(update.log.acts(), (Acts{kGet}));
    EXPECT_EQ(zv::test::ReadFileTextIfPresent(update.staging), "half a download");
}

#ifndef _WIN32
// A launcher built with signing keys (ZV_UPDATE_PUBLIC_KEYS): it uses no member of a stub manifest
// that none of its keys has signed for this host and this build's path, never goes below the
// highest version it has accepted for the build, deletes the game only for a signed withdrawal,
// and a download must be exactly "size" bytes with both digests. The signatures are made here with
// OpenSSL; every untrusted form is in manifest_signature_test.cpp.

using zv::test::JsonString;
using zv::test::SharedTestKey;
using zv::test::SignedManifest;
using zv::test::SignedWithdrawal;

const std::string kPath = "/stub/" + kKey + "/manifest.json";
const std::wstring kWidePath = Wide(kPath);

std::string Sha256Hex(const std::string& bytes) { return zv::Sha256ToHex(*zv::Sha256Of(bytes.data(), bytes.size())); }

// The newer stub's manifest at version 1.0.0.1, signed by the first key for this build's path.
SignedManifest Signed() { return {kPath, kNewStub, kDownloadUrl, "1.0.0.1"}; }

// A case that publishes the signed manifest after edit has changed it.
std::function<void(StubUpdate&)> SignedWith(std::function<void(SignedManifest&)> edit) {
    return [edit](StubUpdate& u) {
        SignedManifest s = Signed();
        edit(s);
        u.Publish(s.Body());
    };
}

// The old stub's release, at version.
std::function<void(SignedManifest&)> OldStubAt(std::string version) {
    return [version](SignedManifest& s) { s = SignedManifest(kPath, kOldStub, kDownloadUrl, version); };
}

std::function<void(StubUpdate&)> Withdrawn(std::string version) {
    return [version](StubUpdate& u) { u.Publish(SignedWithdrawal(kPath, version).Body()); };
}

const zv::P256PublicKey kTrusted[] = {SharedTestKey(0).publicKey(), SharedTestKey(1).publicKey()};
// The fingerprints of the two trusted keys and of one the build does not trust, as marks name them.
const std::string kFirst = zv::KeyFingerprint(SharedTestKey(0).publicKey());
const std::string kSecond = zv::KeyFingerprint(SharedTestKey(1).publicKey());
const std::string kStranger = zv::KeyFingerprint(SharedTestKey(2).publicKey());

// Keeps text as the mark of this build's manifest on host, then arranges the rest of a case.
std::function<void(StubUpdate&)> KeptOn(std::wstring host, const std::string& text,
                                        std::function<void(StubUpdate&)> then) {
    return [host, text, then](StubUpdate& u) {
        u.system.marks[{host, kWidePath}] = text;
        then(u);
    };
}

// The same for the host the build is made for.
std::function<void(StubUpdate&)> Kept(const std::string& text, std::function<void(StubUpdate&)> then) {
    return KeptOn(kHost, text, std::move(then));
}

// A mark's text: version, the stub's SHA-256 (or "withdrawn") and the signer.
std::string Mark(const std::string& version, const std::string& stub, const std::string& signer) {
    return version + " " + stub + " " + signer;
}

const std::string kKeepNew = "keep mark " + Mark("1.0.0.1", Sha256Hex(kNewStub), kFirst);

TEST(UpdateClientStub, ABuildWithKeysNeverGoesBelowTheAcceptedVersionAndDeletesOnlyForAWithdrawal) {
    const std::string other = "other bytes";
    const auto published = [](StubUpdate& u) { u.Publish(Signed().Body()); };
    const Case cases[] = {
        {"current: the accepted version is kept, with its signer",
         SignedWith(OldStubAt("1.0.0.1")),
         LaunchResult::Success,
         Tidied({kGet, "keep mark " + Mark("1.0.0.1", Sha256Hex(kOldStub), kFirst), "pause 300 ms"}),
         true,
         kOldStub},
        {"current, at the version already accepted: nothing kept again",
         Kept(Mark("1.0.0.1", Sha256Hex(kOldStub), kFirst), SignedWith(OldStubAt("1.0.0.1"))),
         LaunchResult::Success,
         Tidied({kGet, "pause 300 ms"}),
         true,
         kOldStub},
        {"current, the accepted version signed again by the other key: the mark names that key",
         Kept(Mark("1.0.0.1", Sha256Hex(kOldStub), kFirst), SignedWith([](SignedManifest& s) {
                  OldStubAt("1.0.0.1")(s);
                  s.key = &SharedTestKey(1);
              })),
         LaunchResult::Success,
         Tidied({kGet, "keep mark " + Mark("1.0.0.1", Sha256Hex(kOldStub), kSecond), "pause 300 ms"}),
         true,
         kOldStub},
        {"replaced, signed by the second key: accepted once verified",
         SignedWith([](SignedManifest& s) { s.key = &SharedTestKey(1); }),
         LaunchResult::Success,
         Tidied({kGet, kStage, kDownload, kCheck, kSwitch, "keep mark " + Mark("1.0.0.1", Sha256Hex(kNewStub), kSecond)}),
         true,
         kNewStub},
        {"above the accepted version: replaced",
         Kept(Mark("1.0.0.0", Sha256Hex(kOldStub), kFirst), published),
         LaunchResult::Success,
         Tidied({kGet, kStage, kDownload, kCheck, kSwitch, kKeepNew}),
         true,
         kNewStub},
        {"at the accepted version with another stub: replaced",
         Kept(Mark("1.0.0.1", Sha256Hex(other), kFirst), published),
         LaunchResult::Success,
         Tidied({kGet, kStage, kDownload, kCheck, kSwitch, kKeepNew}),
         true,
         kNewStub},

        // Below the accepted version: never used to download.
        {"below the accepted version, its stub in place: the game goes on (a lagging CDN edge)",
         Kept(Mark("1.0.0.5", Sha256Hex(kOldStub), kFirst), published),
         LaunchResult::Success,
         Tidied({kGet, "pause 300 ms"}),
         true,
         kOldStub},
        {"33: below the accepted version, another stub in place",
         Kept(Mark("1.0.0.5", Sha256Hex(other), kFirst), published),
         LaunchResult::StubManifestStale,
         {kGet},
         true,
         kOldStub},
        {"33: below the accepted version, no stub",
         Kept(Mark("1.0.0.5", Sha256Hex(kOldStub), kFirst),
              [](StubUpdate& u) {
                  fs::remove(u.stub);
                  u.Publish(Signed().Body());
              }),
         LaunchResult::StubManifestStale,
         {kGet},
         true,
         std::nullopt},
        {"33: a release below an accepted withdrawal",
         Kept(Mark("1.0.0.5", "withdrawn", kFirst), published),
         LaunchResult::StubManifestStale,
         {kGet},
         true,
         kOldStub},
        {"33: below a version the other key's manifest brought",
         Kept(Mark("1.0.0.5", Sha256Hex(other), kSecond), published),
         LaunchResult::StubManifestStale,
         {kGet},
         true,
         kOldStub},
        {"33: expired",
         SignedWith([](SignedManifest& s) { s.expires = "2026-12-09T00:00:00Z"; }),
         LaunchResult::StubManifestStale,
         {kGet},
         true,
         kOldStub},

        // A mark counts only for its host, and only while the build trusts its signer; one that is no
        // mark counts as none. The next manifest accepted replaces it.
        {"a mark signed by a key the build does not trust holds nothing back",
         Kept(Mark("9.0.0.0", "withdrawn", kStranger), published),
         LaunchResult::Success,
         Tidied({kGet, kStage, kDownload, kCheck, kSwitch, kKeepNew}),
         true,
         kNewStub},
        {"a mark kept for another update host holds nothing back",
         KeptOn(L"staging.test", Mark("9.0.0.0", "withdrawn", kFirst), published),
         LaunchResult::Success,
         Tidied({kGet, kStage, kDownload, kCheck, kSwitch, kKeepNew}),
         true,
         kNewStub},
        {"a kept value that is no mark holds nothing back",
         Kept("9.0.0.0 withdrawn", published),
         LaunchResult::Success,
         Tidied({kGet, kStage, kDownload, kCheck, kSwitch, kKeepNew}),
         true,
         kNewStub},

        // Only a signed withdrawal deletes the game.
        {"12: a bare 404 deletes nothing",
         [](StubUpdate& u) { u.AnswerManifest(zv::test::Refused(404)); },
         LaunchResult::StubManifestFetchFailed,
         {kGet},
         true,
         kOldStub},
        {"34: a withdrawal deletes the client target",
         Withdrawn("1.0.0.2"),
         LaunchResult::GameBuildWithdrawn,
         {kGet, "remove target", "keep mark " + Mark("1.0.0.2", "withdrawn", kFirst)},
         false,
         kOldStub},
        {"34: a withdrawal at the accepted version",
         Kept(Mark("1.0.0.2", Sha256Hex(kOldStub), kFirst), Withdrawn("1.0.0.2")),
         LaunchResult::GameBuildWithdrawn,
         {kGet, "remove target", "keep mark " + Mark("1.0.0.2", "withdrawn", kFirst)},
         false,
         kOldStub},
        {"a replayed withdrawal below the accepted version deletes nothing",
         Kept(Mark("1.0.0.5", Sha256Hex(kOldStub), kSecond), Withdrawn("1.0.0.2")),
         LaunchResult::Success,
         Tidied({kGet, "pause 300 ms"}),
         true,
         kOldStub},
        {"33: an expired withdrawal deletes nothing",
         [](StubUpdate& u) {
             SignedWithdrawal w(kPath, "1.0.0.2");
             w.expires = "2026-01-01T00:00:00Z";
             u.Publish(w.Body());
         },
         LaunchResult::StubManifestStale,
         {kGet},
         true,
         kOldStub},
        {"32: a withdrawal for another build deletes nothing",
         [](StubUpdate& u) {
             u.Publish(SignedWithdrawal("/stub/" + std::string(40, 'b') + "/manifest.json", "9.0.0.0").Body());
         },
         LaunchResult::StubManifestUntrusted,
         {kGet},
         true,
         kOldStub},

        {"32: unsigned",
         [](StubUpdate& u) { u.Publish(Manifest(Sha1Hex(kNewStub))); },
         LaunchResult::StubManifestUntrusted,
         {kGet},
         true,
         kOldStub},
        {"32: signed by a key the build does not trust",
         SignedWith([](SignedManifest& s) { s.key = &SharedTestKey(2); }),
         LaunchResult::StubManifestUntrusted,
         {kGet},
         true,
         kOldStub},
        {"32: another build's signed manifest",
         SignedWith([](SignedManifest& s) { s.path = "/stub/" + std::string(40, 'b') + "/manifest.json"; }),
         LaunchResult::StubManifestUntrusted,
         {kGet},
         true,
         kOldStub},
        {"32: the url changed after signing",
         SignedWith([](SignedManifest& s) { s.bodyChanges["url"] = JsonString("https://elsewhere.test/x.dll"); }),
         LaunchResult::StubManifestUntrusted,
         {kGet},
         true,
         kOldStub},

        {"15: a download longer than its size is stopped",
         SignedWith([](SignedManifest& s) { s.size -= 1; }),
         LaunchResult::StubDownloadFailed,
         {kGet, kStage, kDownload, "remove partial"},
         true,
         kOldStub},
        {"16: the download's SHA-1 matches, its SHA-256 does not",
         SignedWith([&other](SignedManifest& s) { s.sha256 = Sha256Hex(other); }),
         LaunchResult::StubChecksumMismatch,
         {kGet, kStage, kDownload, kCheck, "remove partial"},
         true,
         kOldStub},
        {"a version that cannot be kept costs the run nothing",
         [](StubUpdate& u) {
             u.system.canKeepMarks = false;
             u.Publish(Signed().Body());
         },
         LaunchResult::Success,
         Tidied({kGet, kStage, kDownload, kCheck, kSwitch, kKeepNew}),
         true,
         kNewStub},
    };
    for (const auto& c : cases) {
        Expect(c, kTrusted);
    }
}

// A key rotation: the build of its last step trusts the new key (the second) alone. The marks the
// old key's manifests left count as none, so a version the old key signed far ahead (perhaps after
// it leaked) does not hold this build back; the marks of the new key still do.
TEST(UpdateClientStub, ABuildThatDroppedAKeyIgnoresTheMarksOfThatKey) {
    const std::string other = "other bytes";
    const auto signedByNewKey = SignedWith([](SignedManifest& s) { s.key = &SharedTestKey(1); });
    const std::string keepNew = "keep mark " + Mark("1.0.0.1", Sha256Hex(kNewStub), kSecond);
    const Case cases[] = {
        {"a version above, from the old key: the new key's manifest is taken",
         Kept(Mark("9.0.0.0", Sha256Hex(other), kFirst), signedByNewKey), LaunchResult::Success,
         Tidied({kGet, kStage, kDownload, kCheck, kSwitch, keepNew}), true, kNewStub},
        {"a withdrawal above, from the old key: nothing deleted, the new key's manifest taken",
         Kept(Mark("9.0.0.0", "withdrawn", kFirst), signedByNewKey), LaunchResult::Success,
         Tidied({kGet, kStage, kDownload, kCheck, kSwitch, keepNew}), true, kNewStub},
        {"33: a version above, from the new key, still holds",
         Kept(Mark("9.0.0.0", Sha256Hex(other), kSecond), signedByNewKey),
         LaunchResult::StubManifestStale,
         {kGet},
         true,
         kOldStub},
        {"32: the old key's manifest is refused",
         SignedWith([](SignedManifest&) {}),
         LaunchResult::StubManifestUntrusted,
         {kGet},
         true,
         kOldStub},
    };
    const zv::P256PublicKey newKeyOnly[] = {SharedTestKey(1).publicKey()};
    for (const auto& c : cases) {
        Expect(c, newKeyOnly);
    }
}

TEST(UpdateClientStub, ABuildWithoutKeysReadsASignedManifestAsBefore) {
    StubUpdate update;
    SignedManifest s = Signed();
    s.bodyChanges["sha256"] = JsonString(std::string(64, '0'));
    s.bodyChanges["size"] = "1";
    update.Publish(s.Body());
    EXPECT_EQ(zv::UpdateClientStub(update.location, zv::UpdateSource{kHost, {}}, update.transfer, update.system),
              LaunchResult::Success);
    EXPECT_EQ(zv::test::ReadFileTextIfPresent(update.stub), kNewStub);
    EXPECT_TRUE(update.system.marks.empty());
}
#endif

}  // namespace
