// Signed manifests as a launcher built with keys reads them: the exact messages, against a
// signature openssl made for one of them, and (natively, where OpenSSL signs) every way a manifest
// can fail to be trusted, each in isolation from a manifest that is.
#include "update/manifest_signature.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#ifndef _WIN32
#include "test_signing_key.h"
#endif

namespace {

using namespace std::chrono_literals;
using std::chrono::sys_days;

template <std::size_t N>
std::array<std::uint8_t, N> Bytes(const std::string& hex) {
    std::array<std::uint8_t, N> out{};
    for (std::size_t i = 0; i < N; ++i) {
        out[i] = static_cast<std::uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    }
    return out;
}

const zv::SignedRelease kRelease{
    zv::Version{{1, 2, 0, 10}},
    "2027-01-31T12:00:00Z",
    123456,
    zv::Sha1Digest{Bytes<20>("0123456789abcdef0123456789abcdef01234567")},
    zv::Sha256Digest{Bytes<32>("0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef")},
    "https://cdn.example.com/zv/launcher/ZVLauncher-0123456789abcdef0123456789abcdef01234567.exe",
};

TEST(SignedManifestMessage, NineLinesEachEndedByALineFeed) {
    EXPECT_EQ(zv::SignedManifestMessage("updates.example.com:8443", "/launcher/manifest.json", kRelease),
              "zarnovelle-update-manifest-2\n"
              "updates.example.com:8443\n"
              "/launcher/manifest.json\n"
              "1.2.0.10\n"
              "2027-01-31T12:00:00Z\n"
              "123456\n"
              "0123456789abcdef0123456789abcdef01234567\n"
              "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef\n"
              "https://cdn.example.com/zv/launcher/ZVLauncher-0123456789abcdef0123456789abcdef01234567.exe\n");
    zv::SignedRelease forever = kRelease;
    forever.expires.reset();
    forever.size = 0;
    EXPECT_NE(zv::SignedManifestMessage("h", "/p", forever).find("\n1.2.0.10\nnever\n0\n"), std::string::npos);
}

TEST(WithdrawalMessage, FiveLinesEachEndedByALineFeed) {
    EXPECT_EQ(zv::WithdrawalMessage("updates.example.com", "/stub/ab/manifest.json",
                                    zv::SignedWithdrawal{zv::Version{{2, 0, 0, 0}}, std::nullopt}),
              "zarnovelle-update-withdrawal-2\nupdates.example.com\n/stub/ab/manifest.json\n2.0.0.0\nnever\n");
}

TEST(MessageHost, IsTheBuildsHostInLowerCase) {
    EXPECT_EQ(zv::MessageHost(L"Updates.Example.COM:9443"), "updates.example.com:9443");
    EXPECT_EQ(zv::MessageHost(L"[::FFFF:7F00:1]:443"), "[::ffff:7f00:1]:443");
    EXPECT_EQ(zv::MessageHost(L"h\u00e9.example"), std::nullopt);
    EXPECT_EQ(zv::MessageHost(L"a b"), std::nullopt);
}

TEST(FindSigningKey, OnlyAKeyOfTheBuildOverExactlyThisMessage) {
    // Made by: openssl dgst -sha256 -sign KEY.pem MESSAGE | base64 -w0, over the message below.
    const zv::P256PublicKey key{
        Bytes<64>("c54d324dc458aed116f483e1cf5da37f81c897c1e1c3102c4e7011c2d123e65d5d34a82522ad7f7942683c1fb5c95fb0"
                  "ac1cc9293d116de2af1e40899ccade31")};
    const zv::P256PublicKey generator{
        Bytes<64>("6b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c2964fe342e2fe1a7f9b8ee7eb4a7c0f9e16"
                  "2bce33576b315ececbb6406837bf51f5")};  // a valid point, not the signer
    const std::string message =
        "zarnovelle-update-manifest-1\n/launcher/manifest.json\n0123456789abcdef0123456789abcdef01234567\n"
        "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef\n";
    const std::string signature =
        "MEYCIQDZGduuHtVqWLe+Rr4GiFnQZkd/0stik/QEQkuzbMYnxQIhALSe+mjy9yI9ofMZ6dr3O8VAMNIoXD0pIavBURNrBW38";
    const struct {
        const char* name;
        std::vector<zv::P256PublicKey> keys;
        std::string message;
        std::string signature;
        std::optional<std::size_t> signer;
    } cases[] = {
        {"signed by the key", {key}, message, signature, 0},
        {"signed by the second of two keys", {generator, key}, message, signature, 1},
        {"no key of the build signed it", {generator}, message, signature, std::nullopt},
        {"no keys at all", {}, message, signature, std::nullopt},
        {"another message", {key}, message + "x", signature, std::nullopt},
        {"not base64", {key}, message, "not base64!", std::nullopt},
        {"base64 with a line break",
         {key},
         message,
         signature.substr(0, 64) + "\n" + signature.substr(64),
         std::nullopt},
        {"base64 but not DER", {key}, message, "AAAA", std::nullopt},
        {"empty", {key}, message, "", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zv::FindSigningKey(c.keys, c.message, c.signature), c.signer) << c.name;
    }
}

#ifndef _WIN32
using zv::ManifestPlace;
using zv::ManifestTrust;
using zv::test::JsonString;
using zv::test::SharedTestKey;
using zv::test::SignedManifest;
using zv::test::SignedWithdrawal;

const std::string kLauncherPath = "/launcher/manifest.json";
const std::string kStubPath = "/stub/" + std::string(40, 'a') + "/manifest.json";
const auto kNow = sys_days{std::chrono::year{2026} / 12 / 10} + 12h;

SignedManifest Release(const std::string& path = kLauncherPath) {
    SignedManifest s(path, "the file's bytes", "https://updates.test/launcher/ZVLauncher-x.exe", "1.2.0.10");
    s.expires = "2027-01-31T12:00:00Z";
    return s;
}

zv::SignedReading Check(const std::string& body, const std::string& path, ManifestPlace place) {
    const zv::P256PublicKey trusted[] = {SharedTestKey(0).publicKey(), SharedTestKey(1).publicKey()};
    return zv::CheckSignedManifest(zv::ReadManifest(body), "updates.test", path, place, trusted, kNow);
}

TEST(CheckSignedManifest, TrustsAReleaseSignedForThisHostAndPath) {
    const SignedManifest s = Release();
    const zv::SignedReading reading = Check(s.Body(), kLauncherPath, ManifestPlace::Launcher);
    ASSERT_EQ(reading.trust, ManifestTrust::Trusted) << reading.problem;
    EXPECT_FALSE(reading.withdrawn);
    EXPECT_EQ(reading.signer, 0u);
    EXPECT_EQ(reading.release.version, (zv::Version{{1, 2, 0, 10}}));
    EXPECT_EQ(reading.release.expires, "2027-01-31T12:00:00Z");
    EXPECT_EQ(reading.release.size, 16u);
    EXPECT_EQ(zv::Sha256ToHex(reading.release.sha256), s.sha256);
    EXPECT_EQ(reading.release.url, s.url);
}

// Each case changes one thing of a manifest that is trusted.
struct TrustCase {
    const char* name;
    std::function<std::string()> body;
    ManifestTrust trust;
    std::string path = kLauncherPath;
    ManifestPlace place = ManifestPlace::Launcher;
};

std::function<std::string()> ReleaseWith(std::function<void(SignedManifest&)> edit,
                                         const std::string& path = kLauncherPath) {
    return [edit, path] {
        SignedManifest s = Release(path);
        edit(s);
        return s.Body();
    };
}

std::function<std::string()> WithdrawalWith(std::function<void(SignedWithdrawal&)> edit) {
    return [edit] {
        SignedWithdrawal w(kStubPath, "1.2.0.11");
        edit(w);
        return w.Body();
    };
}

TEST(CheckSignedManifest, RefusesEachUntrustedForm) {
    const auto same = [](SignedManifest&) {};
    const TrustCase cases[] = {
        {"signed by the second key", ReleaseWith([](SignedManifest& s) { s.key = &SharedTestKey(1); }),
         ManifestTrust::Trusted},
        {"no expiry: never expires", ReleaseWith([](SignedManifest& s) { s.expires.reset(); }), ManifestTrust::Trusted},
        {"expires exactly now: not yet", ReleaseWith([](SignedManifest& s) { s.expires = "2026-12-10T12:00:00Z"; }),
         ManifestTrust::Trusted},
        {"a version with leading zeros, signed in canonical form",
         ReleaseWith([](SignedManifest& s) { s.bodyChanges["version"] = JsonString("01.02.00.010"); }),
         ManifestTrust::Trusted},
        {"a signed stub release in its place", ReleaseWith(same, kStubPath), ManifestTrust::Trusted, kStubPath,
         ManifestPlace::Stub},

        {"expired a second ago", ReleaseWith([](SignedManifest& s) { s.expires = "2026-12-10T11:59:59Z"; }),
         ManifestTrust::Expired},
        {"expiring in the year 9999", ReleaseWith([](SignedManifest& s) { s.expires = "9999-12-31T23:59:59Z"; }),
         ManifestTrust::Trusted},
        {"expired, and its signature does not verify", ReleaseWith([](SignedManifest& s) {
             s.expires = "2020-01-01T00:00:00Z";
             s.key = &SharedTestKey(2);
         }),
         ManifestTrust::Untrusted},

        {"unsigned, as a build without keys reads it",
         [] { return R"({"sha1": ")" + Release().sha1 + R"(", "url": "https://updates.test/x"})"; },
         ManifestTrust::Untrusted},
        {"the first signed form", ReleaseWith([](SignedManifest& s) {
             for (const char* member : {"size", "version", "expires"}) {
                 s.bodyChanges[member] = std::nullopt;
             }
         }),
         ManifestTrust::Untrusted},
        {"signed by a key the build does not trust", ReleaseWith([](SignedManifest& s) { s.key = &SharedTestKey(2); }),
         ManifestTrust::Untrusted},
        {"signed for another host (a staging tree)",
         ReleaseWith([](SignedManifest& s) { s.host = "staging.updates.test"; }), ManifestTrust::Untrusted},
        {"signed for the host in upper case", ReleaseWith([](SignedManifest& s) { s.host = "UPDATES.TEST"; }),
         ManifestTrust::Untrusted},
        {"signed for another path", ReleaseWith(same, kStubPath), ManifestTrust::Untrusted},
        {"signed with a version with leading zeros", ReleaseWith([](SignedManifest& s) {
             s.version = "01.2.0.10";
             s.bodyChanges["version"] = JsonString("1.2.0.10");
         }),
         ManifestTrust::Untrusted},
        {"an http url, signed", ReleaseWith([](SignedManifest& s) { s.url = "http://updates.test/x.exe"; }),
         ManifestTrust::Untrusted},
        {"an https url in upper case, signed",
         ReleaseWith([](SignedManifest& s) { s.url = "HTTPS://updates.test/x.exe"; }), ManifestTrust::Untrusted},
        {"a url that is only the scheme, signed", ReleaseWith([](SignedManifest& s) { s.url = "https://"; }),
         ManifestTrust::Untrusted},
        {"a url with a blank, signed", ReleaseWith([](SignedManifest& s) { s.url = "https://updates.test/a b"; }),
         ManifestTrust::Untrusted},
        {"a url with a line feed, signed", ReleaseWith([](SignedManifest& s) { s.url = "https://updates.test/a\nb"; }),
         ManifestTrust::Untrusted},
        {"a url beyond ASCII, signed", ReleaseWith([](SignedManifest& s) { s.url = "https://updates.test/\xC3\xA9"; }),
         ManifestTrust::Untrusted},
        {"a signature that is not base64", ReleaseWith([](SignedManifest& s) { s.signature = "not base64!"; }),
         ManifestTrust::Untrusted},
        {"a signature that is not DER", ReleaseWith([](SignedManifest& s) { s.signature = "MEQCIA=="; }),
         ManifestTrust::Untrusted},
        {"a withdrawal in the launcher's place",
         [] {
             SignedWithdrawal w(kLauncherPath, "9.0.0.0");
             return w.Body();
         },
         ManifestTrust::Untrusted},
        {"a withdrawal member added to a release",
         ReleaseWith([](SignedManifest& s) { s.bodyChanges["withdrawn"] = "true"; }, kStubPath),
         ManifestTrust::Untrusted, kStubPath, ManifestPlace::Stub},
        {"not an object", [] { return std::string("[]"); }, ManifestTrust::Untrusted},
    };
    for (const auto& c : cases) {
        const zv::SignedReading reading = Check(c.body(), c.path, c.place);
        EXPECT_EQ(reading.trust, c.trust) << c.name << ": " << reading.problem;
        EXPECT_EQ(reading.problem.empty(), c.trust != ManifestTrust::Untrusted) << c.name;
    }
}

TEST(CheckSignedManifest, RefusesAManifestWithAnySignedMemberMissingMalformedOrChanged) {
    // Changed after signing: the body says otherwise than the message that was signed.
    const std::vector<std::pair<std::string, std::string>> changed = {
        {"sha1", JsonString(std::string(40, '0'))},
        {"sha256", JsonString(std::string(64, '0'))},
        {"size", "17"},
        {"url", JsonString("https://updates.test/other.exe")},
        {"version", JsonString("1.2.0.11")},
        {"expires", JsonString("2027-01-31T12:00:01Z")},
    };
    for (const auto& [member, text] : changed) {
        const std::string body = ReleaseWith([&](SignedManifest& s) { s.bodyChanges[member] = text; })();
        EXPECT_EQ(Check(body, kLauncherPath, ManifestPlace::Launcher).trust, ManifestTrust::Untrusted)
            << member << " changed";
    }
    // An "expires" added to a manifest signed as never expiring.
    const std::string added = ReleaseWith([](SignedManifest& s) {
        s.expires.reset();
        s.bodyChanges["expires"] = JsonString("2099-01-01T00:00:00Z");
    })();
    EXPECT_EQ(Check(added, kLauncherPath, ManifestPlace::Launcher).trust, ManifestTrust::Untrusted);

    const std::vector<std::pair<std::string, std::string>> malformed = {
        {"sha1", JsonString("xyz")},
        {"sha256", "256"},
        {"size", JsonString("16")},
        {"size", "-16"},
        {"size", "16.0"},
        {"url", "7"},
        {"version", JsonString("1.2.0")},
        {"version", "1.2"},
        {"expires", JsonString("2027-01-31")},
        {"signature", "null"},
    };
    for (const auto& [member, text] : malformed) {
        const std::string body = ReleaseWith([&](SignedManifest& s) { s.bodyChanges[member] = text; })();
        const zv::SignedReading reading = Check(body, kLauncherPath, ManifestPlace::Launcher);
        EXPECT_EQ(reading.trust, ManifestTrust::Untrusted) << member << " " << text;
        EXPECT_NE(reading.problem.find("\"" + member + "\""), std::string::npos) << reading.problem;
    }
    for (const char* member : {"sha1", "sha256", "size", "url", "version", "signature"}) {
        const std::string body = ReleaseWith([&](SignedManifest& s) { s.bodyChanges[member] = std::nullopt; })();
        const zv::SignedReading reading = Check(body, kLauncherPath, ManifestPlace::Launcher);
        EXPECT_EQ(reading.trust, ManifestTrust::Untrusted) << member << " missing";
        EXPECT_EQ(reading.problem, "\"" + std::string(member) + "\" is missing");
    }
}

TEST(CheckSignedManifest, ReadsAWithdrawalOnlyForAGameBuild) {
    const TrustCase cases[] = {
        {"signed for this host and path", WithdrawalWith([](SignedWithdrawal&) {}), ManifestTrust::Trusted},
        {"expired", WithdrawalWith([](SignedWithdrawal& w) { w.expires = "2026-12-01T00:00:00Z"; }),
         ManifestTrust::Expired},
        {"withdrawn false", WithdrawalWith([](SignedWithdrawal& w) { w.bodyChanges["withdrawn"] = "false"; }),
         ManifestTrust::Untrusted},
        {"no version", WithdrawalWith([](SignedWithdrawal& w) { w.bodyChanges["version"] = std::nullopt; }),
         ManifestTrust::Untrusted},
        {"the version changed after signing",
         WithdrawalWith([](SignedWithdrawal& w) { w.bodyChanges["version"] = JsonString("9.0.0.0"); }),
         ManifestTrust::Untrusted},
        {"signed for another build", WithdrawalWith([](SignedWithdrawal& w) { w.path = kLauncherPath; }),
         ManifestTrust::Untrusted},
        {"signed for another host", WithdrawalWith([](SignedWithdrawal& w) { w.host = "other.test"; }),
         ManifestTrust::Untrusted},
        {"signed by a key the build does not trust",
         WithdrawalWith([](SignedWithdrawal& w) { w.key = &SharedTestKey(2); }), ManifestTrust::Untrusted},
    };
    for (const auto& c : cases) {
        const zv::SignedReading reading = Check(c.body(), kStubPath, ManifestPlace::Stub);
        EXPECT_EQ(reading.trust, c.trust) << c.name << ": " << reading.problem;
        EXPECT_TRUE(reading.withdrawn) << c.name;
    }
    const zv::SignedReading reading = Check(WithdrawalWith([](SignedWithdrawal&) {})(), kStubPath, ManifestPlace::Stub);
    EXPECT_EQ(reading.release.version, (zv::Version{{1, 2, 0, 11}}));
}

TEST(FormatSignedManifest, WritesWhatTheCheckTrusts) {
    // The tool's writer, the test's signature over the launcher's own message, and the launcher's
    // reading meet.
    zv::SignedRelease release = kRelease;
    release.url = "https://updates.test/stub/x/ZVClient-x.dll";
    const std::string message = zv::SignedManifestMessage("updates.test", kStubPath, release);
    const std::string body = zv::FormatSignedManifest(release, SharedTestKey(1).Sign(message));
    const zv::SignedReading reading =
        zv::CheckSignedManifest(zv::ReadManifest(body), "updates.test", kStubPath, ManifestPlace::Stub,
                                std::vector<zv::P256PublicKey>{SharedTestKey(1).publicKey()}, kNow);
    ASSERT_EQ(reading.trust, ManifestTrust::Trusted) << reading.problem << "\n" << body;
    EXPECT_EQ(reading.release.url, release.url);
    EXPECT_EQ(reading.release.size, release.size);

    const zv::SignedWithdrawal withdrawal{zv::Version{{3, 0, 0, 0}}, std::nullopt};
    const std::string withdrawn = zv::FormatWithdrawal(
        withdrawal, SharedTestKey(1).Sign(zv::WithdrawalMessage("updates.test", kStubPath, withdrawal)));
    EXPECT_EQ(withdrawn.substr(0, 21), "{\n  \"withdrawn\": true");
    EXPECT_EQ(zv::CheckSignedManifest(zv::ReadManifest(withdrawn), "updates.test", kStubPath, ManifestPlace::Stub,
                                      std::vector<zv::P256PublicKey>{SharedTestKey(1).publicKey()}, kNow)
                  .trust,
              ManifestTrust::Trusted);
}
#endif

}  // namespace
