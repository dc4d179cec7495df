// Every outcome of the client stub update's flow, with stand-ins for the transfer and the acts
// (update_stand_ins.h): what it returns, which acts it made in which order, and what is left of
// the client target and the stub. The game folder is real: a client target built as a PE image
// and the stub beside it, hashed by the flow itself. The whole game step runs end to end in
// tests/e2e/test_game_step.py.
#include "update/stub_update.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pe_builder.h"
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
    zv::test::StandInSystem system{log, scratch.path() / "temp"};
    zv::GameLocation location;
    fs::path target = scratch.path() / "Foo.exe";
    fs::path stub = scratch.path() / "ZVClient.dll";
    std::string targetBytes;

    StubUpdate() {
        const zv::test::Bytes image = zv::test::BuildPe(zv::test::MakeImportingImage({"ZVClient.dll"}, 0x8664, kCode));
        targetBytes.assign(image.begin(), image.end());
        zv::test::WriteFileBytes(target, targetBytes);
        zv::test::WriteFileBytes(stub, kOldStub);
        location = {scratch.path().wstring(), target.wstring(), target.wstring(), stub.wstring()};
        log.Label(location.clientTarget, "target");
        log.Label(location.clientStub, "stub");
        Publish(Manifest(Sha1Hex(kNewStub)));
        AnswerDownload(zv::test::Served(kNewStub));
    }

    void Publish(const std::string& manifest) { AnswerManifest(zv::test::Served(manifest)); }
    void AnswerManifest(const Answer& answer) { transfer.answers[Wide(kManifestUrl)] = answer; }
    void AnswerDownload(const Answer& answer) { transfer.answers[Wide(kDownloadUrl)] = answer; }
};

const std::string kGet = "get " + kManifestUrl;
const std::string kDownload = "download " + kDownloadUrl + " to stub";

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
    EXPECT_EQ(zv::UpdateClientStub(update.location, kHost, update.transfer, update.system, keys), c.result);
    EXPECT_EQ(update.log.acts(), c.acts);
    EXPECT_EQ(zv::test::ReadFileTextIfPresent(update.target),
              c.targetLeft ? std::optional(update.targetBytes) : std::nullopt);
    EXPECT_EQ(zv::test::ReadFileTextIfPresent(update.stub), c.stubLeft);
}

TEST(UpdateClientStub, EveryOutcomeWithItsActsInOrder) {
    const auto noChange = [](StubUpdate&) {};
    const Case cases[] = {
        {"current, and a current stub needs no url",
         [](StubUpdate& u) { u.Publish(R"({"sha1": ")" + Sha1Hex(kOldStub) + R"("})"); },
         LaunchResult::Success,
         {kGet, "pause 300 ms"},
         true,
         kOldStub},
        // HashFile gives twenty zero bytes for a file it cannot read.
        {"forty zero digits match a missing stub",
         [](StubUpdate& u) {
             fs::remove(u.stub);
             u.Publish(R"({"sha1": ")" + std::string(40, '0') + R"("})");
         },
         LaunchResult::Success,
         {kGet, "pause 300 ms"},
         true,
         std::nullopt},
        {"replaced", noChange, LaunchResult::Success, {kGet, kDownload}, true, kNewStub},
        {"no stub yet",
         [](StubUpdate& u) { fs::remove(u.stub); },
         LaunchResult::Success,
         {kGet, kDownload},
         true,
         kNewStub},

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

        // The stub is as the transfer left it (transfer.h); the flow does not touch it again.
        {"15: the download answered with 404: the transfer removed the stub",
         [](StubUpdate& u) { u.AnswerDownload(zv::test::Refused(404)); },
         LaunchResult::StubDownloadFailed,
         {kGet, kDownload},
         true,
         std::nullopt},
        {"15: no response: the transfer left the stub empty",
         [](StubUpdate& u) { u.AnswerDownload(zv::test::NoResponse()); },
         LaunchResult::StubDownloadFailed,
         {kGet, kDownload},
         true,
         ""},
        {"15: the stub is held open: the transfer left it as it was",
         [](StubUpdate& u) { u.AnswerDownload(zv::test::TargetHeldOpen()); },
         LaunchResult::StubDownloadFailed,
         {kGet, kDownload},
         true,
         kOldStub},
        {"16: the download is not what the manifest names, and is deleted",
         [](StubUpdate& u) { u.AnswerDownload(zv::test::Served(kOldStub + " tampered")); },
         LaunchResult::StubChecksumMismatch,
         {kGet, kDownload, "remove stub"},
         true,
         std::nullopt},
    };
    for (const auto& c : cases) {
        Expect(c);
    }
}

#ifndef _WIN32
// A launcher built with signing keys (ZV_UPDATE_PUBLIC_KEYS): it uses no member of a stub manifest
// that none of its keys has signed for exactly this build's path, deletes nothing for it, and a
// download must match both digests. The signatures are made here with OpenSSL.

using zv::test::SharedTestKey;
using zv::test::SignedManifest;

// The newer stub's manifest, signed by the first key for this build's path.
SignedManifest Signed() { return {"/stub/" + kKey + "/manifest.json", kNewStub, kDownloadUrl}; }

// A case that publishes the signed manifest after edit has changed it.
std::function<void(StubUpdate&)> SignedWith(std::function<void(SignedManifest&)> edit) {
    return [edit](StubUpdate& u) {
        SignedManifest s = Signed();
        edit(s);
        u.Publish(s.Body());
    };
}

TEST(UpdateClientStub, ABuildWithKeysTrustsOnlyManifestsItsKeysSignedForThisBuild) {
    const zv::P256PublicKey trusted[] = {SharedTestKey(0).publicKey(), SharedTestKey(1).publicKey()};
    const std::string other = "other bytes";
    const Case cases[] = {
        {"current, signed by the first key",
         SignedWith([](SignedManifest& s) { s.sha1 = Sha1Hex(kOldStub); }),
         LaunchResult::Success,
         {kGet, "pause 300 ms"},
         true,
         kOldStub},
        {"replaced, signed by the second key",
         SignedWith([](SignedManifest& s) { s.key = &SharedTestKey(1); }),
         LaunchResult::Success,
         {kGet, kDownload},
         true,
         kNewStub},
        {"13: unsigned",
         [](StubUpdate& u) { u.Publish(Manifest(Sha1Hex(kNewStub))); },
         LaunchResult::StubManifestMissingSha1,
         {kGet},
         true,
         kOldStub},
        {"13: signed by a key the build does not trust",
         SignedWith([](SignedManifest& s) { s.key = &SharedTestKey(2); }),
         LaunchResult::StubManifestMissingSha1,
         {kGet},
         true,
         kOldStub},
        {"13: a signature that is not base64",
         SignedWith([](SignedManifest& s) { s.signature = "%%%"; }),
         LaunchResult::StubManifestMissingSha1,
         {kGet},
         true,
         kOldStub},
        {"13: sha1 changed after signing",
         SignedWith([](SignedManifest& s) { s.sha1InBody = Sha1Hex(kOldStub); }),
         LaunchResult::StubManifestMissingSha1,
         {kGet},
         true,
         kOldStub},
        {"13: another build's signed manifest",
         SignedWith([](SignedManifest& s) { s.path = "/stub/" + std::string(40, 'b') + "/manifest.json"; }),
         LaunchResult::StubManifestMissingSha1,
         {kGet},
         true,
         kOldStub},
        {"16: the download's SHA-1 matches, its SHA-256 does not, and it is deleted",
         SignedWith(
             [&other](SignedManifest& s) { s.sha256 = zv::Sha256ToHex(*zv::Sha256Of(other.data(), other.size())); }),
         LaunchResult::StubChecksumMismatch,
         {kGet, kDownload, "remove stub"},
         true,
         std::nullopt},
    };
    for (const auto& c : cases) {
        Expect(c, trusted);
    }
}

TEST(UpdateClientStub, ABuildWithoutKeysReadsASignedManifestAsBefore) {
    StubUpdate update;
    SignedManifest s = Signed();
    s.sha256 = std::string(64, '0');
    update.Publish(s.Body());
    EXPECT_EQ(zv::UpdateClientStub(update.location, kHost, update.transfer, update.system), LaunchResult::Success);
    EXPECT_EQ(zv::test::ReadFileTextIfPresent(update.stub), kNewStub);
}
#endif

}  // namespace
