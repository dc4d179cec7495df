// Signing a tree again with a new expiry (the Linux build signs; the Windows build says it does not).
#include "zvpublish/commands/refresh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>

#include "file_bytes.h"
#include "pe_builder.h"
#include "publish_test_support.h"
#include "scratch_directory.h"
#include "update/manifest.h"
#include "update/manifest_signature.h"

#ifndef _WIN32
namespace {

using namespace zv::publish;

// Refresh signs in 2030, when some of the tree's manifests have expired.
const FileTime kRefreshTime = std::chrono::sys_days{std::chrono::year{2030} / 6 / 1};

// A tree with a manifest of every kind refresh meets: the launcher and a build signed by the key; a
// build it signed that has expired; a withdrawn build; builds signed by another key, for another
// host, and not signed at all; and builds whose file went missing, lost its end, or was changed in
// place after signing.
struct MixedTree {
    zv::test::ScratchDirectory scratch;
    fs::path tree = scratch.path() / "tree";
    TestSigning key{scratch.path(), "key", "2031-01-01T00:00:00Z"};
    TestSigning other{scratch.path(), "other", "2031-01-01T00:00:00Z"};
    std::map<std::string, std::string> keys;  // build keys by label

    MixedTree() {
        WriteFileBytes(scratch.path() / "launcher.exe", LauncherImage(LauncherFixture().WithKeys(key.keys)));
        WriteFileBytes(scratch.path() / "stub.dll", StubImage());
        Require(PublishLauncher((scratch.path() / "launcher.exe").wstring(), kBase, tree.wstring(), &key.signing));
        Signing otherHost = key.signing;
        otherHost.host = "staging.test";
        Signing expired = key.signing;
        expired.expires = "2030-01-01T00:00:00Z";
        const std::pair<const char*, const Signing*> builds[] = {
            {"current", &key.signing},      {"expired", &expired},      {"withdrawn", &key.signing},
            {"other key", &other.signing},  {"other host", &otherHost}, {"unsigned", nullptr},
            {"file missing", &key.signing}, {"file cut", &key.signing}, {"file changed", &key.signing}};
        std::uint8_t code = 1;
        for (const auto& [label, signing] : builds) {
            const fs::path target = scratch.path() / (std::string(label) + ".exe");
            WriteFileBytes(target,
                           zv::test::BuildPe(zv::test::MakeImportingImage({"ZVClient.dll"}, 0x8664, {code++, 0xC3})));
            keys[label] = KeyOf(target);
            Require(PublishStub(target.wstring(), (scratch.path() / "stub.dll").wstring(), kBase, tree.wstring(),
                                signing, zv::Version{{3, 0, 0, 0}}));
        }
        if (WithdrawBuild(FromUtf8(keys["withdrawn"]), tree.wstring(), key.signing).failure) {
            throw std::runtime_error("cannot withdraw");
        }
        const std::string bytes = ReadFileText(scratch.path() / "stub.dll");
        fs::remove(StubFile("file missing"));
        WriteFileBytes(StubFile("file cut"), bytes.substr(0, bytes.size() - 1));
        std::string changed = bytes;
        changed.back() ^= 1;
        WriteFileBytes(StubFile("file changed"), changed);
    }

    [[nodiscard]] fs::path Manifest(const std::string& label) const {
        return label == "launcher" ? tree / "launcher" / "manifest.json"
                                   : tree / "stub" / keys.at(label) / "manifest.json";
    }
    // The content-named stub file of a build.
    [[nodiscard]] fs::path StubFile(const std::string& label) const {
        return tree / "stub" / keys.at(label) /
               ("ZVClient-" + zv::test::Sha1Hex(ReadFileText(scratch.path() / "stub.dll")) + ".dll");
    }
    [[nodiscard]] zv::SignedReading Read(const std::string& label) const {
        const std::string path =
            label == "launcher" ? "/launcher/manifest.json" : "/stub/" + keys.at(label) + "/manifest.json";
        return zv::CheckSignedManifest(zv::ReadManifest(ReadFileText(Manifest(label))), "updates.test", path,
                                       label == "launcher" ? zv::ManifestPlace::Launcher : zv::ManifestPlace::Stub,
                                       key.keys, kRefreshTime);
    }
};

TEST(RefreshTree, SignsAgainOnlyWhatATrustedKeySignedForTheHostWithItsFileInTheTree) {
    MixedTree t;
    Signing renewed = t.key.signing;
    renewed.expires = "2031-06-01T00:00:00Z";
    const zv::SignedReading before = t.Read("launcher");
    std::map<std::string, std::string> bodies;
    for (const auto& [label, key] : t.keys) {
        bodies[label] = ReadFileText(t.Manifest(label));
    }

    const RefreshReport report = RefreshTree(t.tree.wstring(), renewed, t.key.keys, kRefreshTime);
    ASSERT_FALSE(report.failure);
    std::map<std::wstring, const RefreshedManifest*> byManifest;
    for (const auto& manifest : report.manifests) {
        byManifest[manifest.manifest] = &manifest;
    }
    ASSERT_EQ(byManifest.size(), 10u);
    for (const char* label : {"launcher", "current", "withdrawn"}) {
        SCOPED_TRACE(label);
        const RefreshedManifest& refreshed = *byManifest.at(t.Manifest(label).wstring());
        EXPECT_FALSE(refreshed.failure) << refreshed.failure->reason;
        const zv::SignedReading reading = t.Read(label);
        EXPECT_EQ(reading.trust, zv::ManifestTrust::Trusted) << reading.problem;
        EXPECT_EQ(reading.release.expires, "2031-06-01T00:00:00Z");
        EXPECT_EQ(reading.withdrawn, std::string(label) == "withdrawn");
        EXPECT_EQ(refreshed.withdrawal, reading.withdrawn);
        EXPECT_EQ(refreshed.version, reading.release.version);
    }
    // The same members, the same version: only the expiry and the signature change.
    const zv::SignedReading after = t.Read("launcher");
    EXPECT_EQ(after.release.version, before.release.version);
    EXPECT_EQ(after.release.size, before.release.size);
    EXPECT_EQ(after.release.sha256, before.release.sha256);
    EXPECT_EQ(after.release.url, before.release.url);
    EXPECT_EQ(zv::FormatVersion(t.Read("withdrawn").release.version), "3.0.0.1");

    const std::pair<const char*, const char*> refused[] = {
        {"expired", "expired at 2030-01-01T00:00:00Z, so it was not signed again"},
        {"other key", "no key of this launcher signed it"},
        {"other host", "no key of this launcher signed it for host updates.test"},
        {"unsigned", "\"sha256\" is missing"},
        {"file missing", " is not in the tree, so it was not signed again"},
        {"file cut", " bytes long, not "},
        {"file changed", " is not the one it names (another SHA-1 or SHA-256)"},
    };
    for (const auto& [label, problem] : refused) {
        SCOPED_TRACE(label);
        const RefreshedManifest& refreshed = *byManifest.at(t.Manifest(label).wstring());
        ASSERT_TRUE(refreshed.failure);
        EXPECT_NE(refreshed.failure->reason.find(problem), std::string::npos) << refreshed.failure->reason;
        EXPECT_EQ(ReadFileText(t.Manifest(label)), bodies[label]);
    }

    // Trusting the other key as well, and asked to take expired manifests too, both are signed
    // again, now with the signing key; a manifest whose file is not as it names is refused whatever
    // the options.
    std::vector<zv::P256PublicKey> both = t.key.keys;
    both.push_back(t.other.keys.front());
    const RefreshReport second = RefreshTree(t.tree.wstring(), renewed, both, kRefreshTime, /*includeExpired=*/true);
    EXPECT_EQ(t.Read("other key").trust, zv::ManifestTrust::Trusted);
    EXPECT_EQ(t.Read("expired").trust, zv::ManifestTrust::Trusted);
    EXPECT_EQ(t.Read("expired").release.expires, "2031-06-01T00:00:00Z");
    std::vector<std::wstring> failed;
    for (const auto& manifest : second.manifests) {
        if (manifest.failure) {
            failed.push_back(manifest.manifest);
        }
    }
    std::sort(failed.begin(), failed.end());
    std::vector<std::wstring> expected;
    for (const char* label : {"other host", "unsigned", "file missing", "file cut", "file changed"}) {
        expected.push_back(t.Manifest(label).wstring());
        EXPECT_EQ(ReadFileText(t.Manifest(label)), bodies[label]) << label;
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(failed, expected);
}

TEST(RefreshTree, NeitherEntersNorWritesThroughALink) {
    MixedTree t;
    const fs::path elsewhere = t.scratch.path() / "elsewhere";
    fs::rename(t.tree / "stub" / t.keys["expired"], elsewhere);
    fs::create_directory_symlink(elsewhere, t.tree / "stub" / t.keys["expired"]);
    const std::string body = ReadFileText(elsewhere / "manifest.json");

    const RefreshReport report = RefreshTree(t.tree.wstring(), t.key.signing, t.key.keys, kRefreshTime);
    const auto linked = std::find_if(report.manifests.begin(), report.manifests.end(), [&](const RefreshedManifest& m) {
        return m.manifest == (t.tree / "stub" / t.keys["expired"]).wstring();
    });
    ASSERT_NE(linked, report.manifests.end());
    ASSERT_TRUE(linked->failure);
    EXPECT_NE(linked->failure->reason.find("is a symbolic link"), std::string::npos);
    EXPECT_EQ(ReadFileText(elsewhere / "manifest.json"), body);
}

}  // namespace
#endif
