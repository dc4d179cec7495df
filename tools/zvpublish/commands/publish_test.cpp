#include "zvpublish/commands/publish.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "file_bytes.h"
#include "integrity/sha1.h"
#include "pe_builder.h"
#include "publish_test_support.h"
#include "scratch_directory.h"
#include "update/manifest.h"
#include "update/manifest_signature.h"

namespace {

using namespace zv::publish;

// ---------------------------------------------------------------------------------------------
// Publishing

class Publishing : public ::testing::Test {
protected:
    ScratchDirectory scratch;
    fs::path tree = scratch.path() / "tree";
    fs::path target = scratch.path() / "Game.exe";
    std::string base = "https://cdn.example.com/zv/";

    void SetUp() override { WriteFileBytes(target, GameImage()); }

    fs::path Source(const std::string& name, const std::string& content) {
        const fs::path path = scratch.path() / name;
        WriteFileBytes(path, Bytes(content.begin(), content.end()));
        return path;
    }
    fs::path File(const std::string& name, const Bytes& bytes) {
        WriteFileBytes(scratch.path() / name, bytes);
        return scratch.path() / name;
    }
    // A stub and a launcher, each told apart by tag.
    fs::path StubFile(const std::string& name, std::uint8_t tag) { return File(name, StubImage(std::nullopt, tag)); }
    fs::path LauncherFile(const std::string& name, std::uint8_t tag) {
        return File(name, LauncherImage(LauncherFixture().WithTag(tag).WithHost("cdn.example.com")));
    }

    Published Stub(const fs::path& stub) { return PublishStub(target.wstring(), stub.wstring(), base, tree.wstring()); }

    fs::path BuildFolder() { return tree / "stub" / KeyOf(target); }
};

TEST_F(Publishing, StubGoesUnderItsContentNameAndTheManifestNamesIt) {
    const fs::path stub = StubFile("ZVClient.dll", 1);
    const Published published = Stub(stub);
    ASSERT_FALSE(published.failure) << published.failure->reason;

    const std::string sha1 = Sha1Hex(ReadFileBytes(stub));
    const fs::path folder = BuildFolder();
    EXPECT_EQ(EntriesOf(folder), (std::vector<std::string>{"ZVClient-" + sha1 + ".dll", "manifest.json"}))
        << "the file and its manifest, and no temporary file";
    EXPECT_EQ(ReadFileBytes(folder / ("ZVClient-" + sha1 + ".dll")), ReadFileBytes(stub));

    EXPECT_EQ(ReadFileText(folder / "manifest.json"), "{\n  \"sha1\": \"" + sha1 +
                                                          "\",\n  \"url\": \"https://cdn.example.com/zv/stub/" +
                                                          KeyOf(target) + "/ZVClient-" + sha1 + ".dll\"\n}\n");
    EXPECT_EQ(published.fileChange, Change::Added);
    EXPECT_EQ(published.manifestChange, Change::Added);
}

TEST_F(Publishing, LauncherGoesUnderItsContentNameAndTheManifestNamesIt) {
    const fs::path launcher = LauncherFile("Foo_ZV.exe", 7);
    const Published published = PublishLauncher(launcher.wstring(), base, tree.wstring());
    ASSERT_FALSE(published.failure) << published.failure->reason;
    EXPECT_TRUE(published.warnings.empty()) << "built for the host of --base-url";
    ASSERT_TRUE(published.build);
    EXPECT_EQ(published.build->host, "cdn.example.com");

    const std::string sha1 = Sha1Hex(ReadFileBytes(launcher));
    EXPECT_EQ(EntriesOf(tree / "launcher"), (std::vector<std::string>{"ZVLauncher-" + sha1 + ".exe", "manifest.json"}));
    const zv::ManifestReading manifest = zv::ReadManifest(ReadFileText(tree / "launcher" / "manifest.json"));
    EXPECT_EQ(zv::Sha1ToHex(manifest.sha1.value), sha1);
    EXPECT_EQ(manifest.url.value, "https://cdn.example.com/zv/launcher/ZVLauncher-" + sha1 + ".exe");
}

TEST_F(Publishing, RepeatingAPublishChangesNothing) {
    const fs::path stub = StubFile("ZVClient.dll", 1);
    ASSERT_FALSE(Stub(stub).failure);
    const auto before = ReadFileText(BuildFolder() / "manifest.json");

    const Published again = Stub(stub);
    ASSERT_FALSE(again.failure);
    EXPECT_EQ(again.fileChange, Change::Unchanged);
    EXPECT_EQ(again.manifestChange, Change::Unchanged);
    EXPECT_EQ(ReadFileText(BuildFolder() / "manifest.json"), before);
    EXPECT_EQ(EntriesOf(BuildFolder()).size(), 2u);
}

// A new stub for a build replaces the manifest as a new file: anything that still holds the old
// one (a hard link in a snapshot, a sync's staging copy, a reader with it open) keeps it whole,
// and the old stub stays for players whose download began before the change.
TEST_F(Publishing, ANewStubReplacesTheManifestWithoutWritingIntoTheOldOne) {
    const fs::path first = StubFile("v1.dll", 1);
    const fs::path second = StubFile("v2.dll", 2);
    ASSERT_FALSE(Stub(first).failure);
    const fs::path manifest = BuildFolder() / "manifest.json";
    const std::string old = ReadFileText(manifest);
    fs::create_hard_link(manifest, scratch.path() / "snapshot.json");

    const Published published = Stub(second);
    ASSERT_FALSE(published.failure) << published.failure->reason;
    EXPECT_EQ(published.manifestChange, Change::Replaced);
    EXPECT_EQ(ReadFileText(scratch.path() / "snapshot.json"), old);
    EXPECT_EQ(zv::Sha1ToHex(zv::ReadManifest(ReadFileText(manifest)).sha1.value), Sha1Hex(ReadFileBytes(second)));
    EXPECT_TRUE(fs::exists(BuildFolder() / ("ZVClient-" + Sha1Hex(ReadFileBytes(first)) + ".dll")));
}

// When a manifest is replaced, the file it named stops being served: prune counts its age from
// then. Only that file is marked; one no manifest named before keeps its time, and a publish that
// changes nothing marks nothing.
TEST_F(Publishing, ReplacingAManifestMarksTheFileItNamedAsModifiedNow) {
    const FileTime longAgo = std::chrono::sys_days{std::chrono::year{2001} / 1 / 1};
    const auto recent = [&](const fs::path& file) { return ModifiedAt(file) > longAgo + std::chrono::years(1); };
    struct Kind {
        const char* what;
        std::function<Published(const fs::path&)> publish;
        std::function<fs::path(const std::string&, std::uint8_t)> file;
    };
    const Kind kinds[] = {
        {"stub", [&](const fs::path& source) { return Stub(source); },
         [&](const std::string& name, std::uint8_t tag) { return StubFile(name, tag); }},
        {"launcher", [&](const fs::path& source) { return PublishLauncher(source.wstring(), base, tree.wstring()); },
         [&](const std::string& name, std::uint8_t tag) { return LauncherFile(name, tag); }},
    };
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.what);
        const fs::path v0 = kind.publish(kind.file("v0", 0)).file;
        const fs::path v1 = kind.publish(kind.file("v1", 1)).file;
        SetModified(v0, longAgo);
        SetModified(v1, longAgo);

        const Published replacing = kind.publish(kind.file("v2", 2));
        ASSERT_FALSE(replacing.failure) << replacing.failure->reason;
        EXPECT_EQ(replacing.manifestChange, Change::Replaced);
        EXPECT_TRUE(replacing.warnings.empty());
        EXPECT_TRUE(recent(v1)) << "the file the replaced manifest named";
        EXPECT_FALSE(recent(v0)) << "a file no manifest named any more";

        SetModified(v1, longAgo);
        const Published again = kind.publish(kind.file("v2", 2));
        EXPECT_EQ(again.manifestChange, Change::Unchanged);
        EXPECT_FALSE(recent(v1)) << "nothing was replaced";
    }
}

TEST_F(Publishing, AContentNamedFileWithOtherContentIsLeftAloneAndNotPublished) {
    const fs::path stub = StubFile("ZVClient.dll", 1);
    ASSERT_FALSE(Stub(stub).failure);
    const fs::path named = BuildFolder() / ("ZVClient-" + Sha1Hex(ReadFileBytes(stub)) + ".dll");
    WriteFileBytes(named, Bytes{'x'});
    const std::string manifest = ReadFileText(BuildFolder() / "manifest.json");

    const Published published = Stub(stub);
    ASSERT_TRUE(published.failure);
    EXPECT_EQ(published.failure->path, named.wstring());
    EXPECT_NE(published.failure->reason.find("other content"), std::string::npos) << published.failure->reason;
    EXPECT_EQ(ReadFileBytes(named), Bytes{'x'});
    EXPECT_EQ(ReadFileText(BuildFolder() / "manifest.json"), manifest);
}

TEST_F(Publishing, RefusesBeforeWritingAnything) {
    struct RefusalCase {
        const char* what;
        std::function<void()> arrange;
        fs::path stub;
        const char* reason;
    };
    const fs::path good = StubFile("ZVClient.dll", 1);
    const RefusalCase cases[] = {
        {"missing stub", [] {}, scratch.path() / "Missing.dll", "does not exist"},
        {"empty stub", [&] { Source("Empty.dll", ""); }, scratch.path() / "Empty.dll", "is empty"},
        {"stub is a folder", [&] { fs::create_directory(scratch.path() / "Folder.dll"); },
         scratch.path() / "Folder.dll", "is a directory"},
        {"target is no client target",
         [&] { WriteFileBytes(target, zv::test::BuildPe(zv::test::MakeImportingImage({"KERNEL32.dll"}))); }, good,
         "not a client target"},
    };
    for (const auto& c : cases) {
        c.arrange();
        const Published published = Stub(c.stub);
        ASSERT_TRUE(published.failure) << c.what;
        EXPECT_NE(published.failure->reason.find(c.reason), std::string::npos)
            << c.what << ": " << published.failure->reason;
        EXPECT_FALSE(fs::exists(tree)) << c.what;
    }
}

TEST_F(Publishing, SaysWhatIsInTheWay) {
    const fs::path stub = StubFile("ZVClient.dll", 1);
    const fs::path content = BuildFolder() / ("ZVClient-" + Sha1Hex(ReadFileBytes(stub)) + ".dll");
    struct BlockedCase {
        const char* what;
        fs::path blocker;
        bool asFolder;
        const char* reason;
    };
    const BlockedCase cases[] = {
        {"the tree is a file", tree, false, "the tree must be a folder"},
        {"a folder under the stub's content name", content, true, "not a file"},
        {"a folder under the manifest's name", BuildFolder() / "manifest.json", true, "not a file"},
    };
    for (const auto& c : cases) {
        fs::remove_all(tree);
        fs::create_directories(c.blocker.parent_path());
        if (c.asFolder) {
            fs::create_directory(c.blocker);
        } else {
            WriteFileBytes(c.blocker, Bytes{'x'});
        }
        const Published published = Stub(stub);
        ASSERT_TRUE(published.failure) << c.what;
        EXPECT_EQ(published.failure->path, c.blocker.wstring()) << c.what;
        EXPECT_NE(published.failure->reason.find(c.reason), std::string::npos)
            << c.what << ": " << published.failure->reason;
    }
}

// ---------------------------------------------------------------------------------------------
// Versions and signed publishing

TEST(NextVersion, RaisesTheLastPartAndCarries) {
    using V = zv::Version;
    const std::pair<V, std::optional<V>> cases[] = {
        {V{{1, 2, 3, 4}}, V{{1, 2, 3, 5}}},
        {V{{1, 2, 3, 65535}}, V{{1, 2, 4, 0}}},
        {V{{0, 65535, 65535, 65535}}, V{{1, 0, 0, 0}}},
        {V{{65535, 65535, 65535, 65535}}, std::nullopt},
    };
    for (const auto& [version, next] : cases) {
        EXPECT_EQ(NextVersion(version), next) << zv::FormatVersion(version);
    }
}

#ifndef _WIN32
constexpr char kHost[] = "updates.test";
const std::string kExpires = "2031-01-02T03:04:05Z";

// A game, a stub of version 2.0.0.0 and a launcher of version 1.0.0.0 that carries the test key.
class SignedPublishing : public Publishing {
protected:
    TestSigning key{scratch.path(), "key", kExpires};
    fs::path stub = scratch.path() / "ZVClient.dll";
    fs::path launcher = scratch.path() / "ZVLauncher.exe";

    void SetUp() override {
        Publishing::SetUp();
        WriteFileBytes(stub, StubImage({{2, 0, 0, 0}}));
        WriteFileBytes(launcher, LauncherImage(LauncherFixture().WithKeys(key.keys)));
    }

    Published SignedStub(const fs::path& file, std::optional<zv::Version> version = std::nullopt) {
        return PublishStub(target.wstring(), file.wstring(), base, tree.wstring(), &key.signing, version);
    }
    Published SignedLauncher(const fs::path& file) {
        return PublishLauncher(file.wstring(), base, tree.wstring(), &key.signing);
    }
    // The manifest at path read as a launcher built with the test key reads it.
    zv::SignedReading Check(const fs::path& manifest, const std::string& path, zv::ManifestPlace place) {
        return zv::CheckSignedManifest(zv::ReadManifest(ReadFileText(manifest)), kHost, path, place, key.keys,
                                       std::chrono::sys_days{std::chrono::year{2030} / 1 / 1});
    }
    std::string StubPath() { return "/stub/" + KeyOf(target) + "/manifest.json"; }
};

// What the tool signs is what the launcher's own check accepts, member for member.
TEST_F(SignedPublishing, WritesManifestsTheLauncherAccepts) {
    const Published s = SignedStub(stub);
    const Published l = SignedLauncher(launcher);
    ASSERT_FALSE(s.failure) << s.failure->reason;
    ASSERT_FALSE(l.failure) << l.failure->reason;
    const struct {
        fs::path file;
        fs::path manifest;
        std::string path;
        zv::ManifestPlace place;
        const char* version;
        std::string url;
    } cases[] = {
        {stub, BuildFolder() / "manifest.json", StubPath(), zv::ManifestPlace::Stub, "2.0.0.0", s.url},
        {launcher, tree / "launcher" / "manifest.json", "/launcher/manifest.json", zv::ManifestPlace::Launcher,
         "1.0.0.0", l.url},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const zv::SignedReading reading = Check(c.manifest, c.path, c.place);
        ASSERT_EQ(reading.trust, zv::ManifestTrust::Trusted) << reading.problem;
        EXPECT_FALSE(reading.withdrawn);
        EXPECT_EQ(zv::FormatVersion(reading.release.version), c.version);
        EXPECT_EQ(reading.release.expires, kExpires);
        EXPECT_EQ(reading.release.size, fs::file_size(c.file));
        EXPECT_EQ(zv::Sha1ToHex(reading.release.sha1), Sha1Hex(ReadFileBytes(c.file)));
        EXPECT_EQ(reading.release.url, c.url);
        EXPECT_TRUE(zv::FileIsRelease(c.file.wstring(), reading.release));
        // For another host, the same manifest is no manifest at all.
        EXPECT_EQ(zv::CheckSignedManifest(zv::ReadManifest(ReadFileText(c.manifest)), "updates.test:8443", c.path,
                                          c.place, key.keys, {})
                      .trust,
                  zv::ManifestTrust::Untrusted);
    }
    EXPECT_EQ(zv::FormatVersion(s.version), "2.0.0.0");
    EXPECT_EQ(s.expires, kExpires);
}

TEST_F(SignedPublishing, AStubWithoutAVersionResourceTakesTheOneGiven) {
    const fs::path plain = File("plain.dll", StubImage());
    const Published published = SignedStub(plain, zv::Version{{3, 1, 0, 7}});
    ASSERT_FALSE(published.failure) << published.failure->reason;
    EXPECT_EQ(
        zv::FormatVersion(Check(BuildFolder() / "manifest.json", StubPath(), zv::ManifestPlace::Stub).release.version),
        "3.1.0.7");
}

// Each refusal comes before anything is written: the tree stays as it was.
TEST_F(SignedPublishing, RefusesBeforeWritingAnything) {
    const TestSigning other(scratch.path(), "other");
    struct Case {
        const char* what;
        std::function<Published()> publish;
        const char* reason;
    };
    const Case cases[] = {
        {"a launcher built without keys", [&] { return SignedLauncher(File("nokeys.exe", LauncherImage())); },
         "does not carry the public key of"},
        {"a launcher built for other keys",
         [&] { return SignedLauncher(File("other.exe", LauncherImage(LauncherFixture().WithKeys(other.keys)))); },
         "does not carry the public key of"},
        {"a build record that names the key, in a file without the key",
         [&] {
             return SignedLauncher(File("record.exe", LauncherImage(LauncherFixture().WithRecord(
                                                          BuildRecordText(kHost, {1, 0, 0, 0}, key.keys)))));
         },
         "does not carry the public key of"},
        {"a launcher built for another update host",
         [&] {
             return SignedLauncher(
                 File("staging.exe", LauncherImage(LauncherFixture().WithKeys(key.keys).WithHost("staging.test"))));
         },
         "is built for the update host staging.test, not for --update-host updates.test"},
        {"a file that is no launcher", [&] { return SignedLauncher(Source("text.exe", "not a launcher")); },
         "not a launcher: it is a text file"},
        {"a launcher without a version resource",
         [&] {
             return SignedLauncher(File("unversioned.exe",
                                        LauncherImage(LauncherFixture().WithVersion(std::nullopt).WithKeys(key.keys))));
         },
         "has no version resource"},
        {"a stub without a version resource and without --version",
         [&] { return SignedStub(File("plain.dll", StubImage())); }, "give the stub's version with --version"},
        {"a stub whose version resource says another version than --version",
         [&] {
             return SignedStub(stub, zv::Version{{3, 0, 0, 0}});
         },
         "says 2.0.0.0, not the --version 3.0.0.0"},
        {"a stub whose version resource is damaged",
         [&] {
             zv::test::Bytes bytes = StubImage({{2, 0, 0, 0}});
             bytes.resize(bytes.size() - 20);
             return SignedStub(File("damaged.dll", bytes), zv::Version{{2, 0, 0, 0}});
         },
         "cannot be read: the file is damaged"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(tree);
        const Published published = c.publish();
        ASSERT_TRUE(published.failure);
        EXPECT_NE(published.failure->reason.find(c.reason), std::string::npos) << published.failure->reason;
        EXPECT_FALSE(fs::exists(tree));
    }
    const Published refused = SignedLauncher(File("other.exe", LauncherImage(LauncherFixture().WithKeys(other.keys))));
    EXPECT_EQ(refused.failure->reason.find("does not carry the public key of " + ToUtf8(key.signing.keyPath) + " (" +
                                           KeyFingerprint(key.keys[0]) +
                                           "; the launcher's keys: " + KeyFingerprint(other.keys[0]) +
                                           "): players who install it would check no signature at all"),
              0u)
        << refused.failure->reason;
    // The host is compared as the launcher forms it, in lower case.
    const Published upper =
        SignedLauncher(File("upper.exe", LauncherImage(LauncherFixture().WithKeys(key.keys).WithHost("UPDATES.test"))));
    EXPECT_FALSE(upper.failure) << upper.failure->reason;
}

// A plan says what the publish will do, and planning writes nothing: the names, whether the manifest
// is written and with which version and expiry, or why it is refused.
TEST_F(SignedPublishing, APlanSaysWhatThePublishWillDoAndWritesNothing) {
    const PublishPlan first = PlanStub(target.wstring(), stub.wstring(), base, tree.wstring(), &key.signing);
    ASSERT_FALSE(first.refusal) << first.refusal->reason;
    EXPECT_FALSE(fs::exists(tree)) << "planning writes nothing";
    EXPECT_TRUE(first.newTree);
    const std::string sha1 = Sha1Hex(ReadFileBytes(stub));
    EXPECT_EQ(first.file, (BuildFolder() / ("ZVClient-" + sha1 + ".dll")).wstring());
    EXPECT_EQ(first.manifest, (BuildFolder() / "manifest.json").wstring());
    EXPECT_EQ(first.url, base + "stub/" + KeyOf(target) + "/ZVClient-" + sha1 + ".dll");
    EXPECT_TRUE(first.writeManifest);
    EXPECT_EQ(first.version, (zv::Version{{2, 0, 0, 0}}));
    EXPECT_EQ(first.expires, kExpires);
    ASSERT_FALSE(CarryOutPublish(first).failure);
    const std::string manifest = ReadFileText(BuildFolder() / "manifest.json");

    Signing later = key.signing;
    later.expires = "2040-01-01T00:00:00Z";
    const PublishPlan again = PlanStub(target.wstring(), stub.wstring(), base, tree.wstring(), &later);
    ASSERT_FALSE(again.refusal) << again.refusal->reason;
    EXPECT_FALSE(again.newTree);
    EXPECT_FALSE(again.writeManifest) << "the manifest there names this stub already";
    EXPECT_EQ(again.expires, kExpires) << "and keeps its expiry";

    const PublishPlan older = PlanStub(target.wstring(), File("older.dll", StubImage({{1, 0, 0, 0}})).wstring(), base,
                                       tree.wstring(), &key.signing);
    ASSERT_TRUE(older.refusal);
    EXPECT_NE(older.refusal->reason.find("its version 1.0.0.0 is not above 2.0.0.0"), std::string::npos)
        << older.refusal->reason;
    EXPECT_EQ(EntriesOf(BuildFolder()), (std::vector<std::string>{"ZVClient-" + sha1 + ".dll", "manifest.json"}));
    EXPECT_EQ(ReadFileText(BuildFolder() / "manifest.json"), manifest);
}

// The same file again changes nothing; another file needs a higher version than the manifest it
// replaces, whatever that manifest was.
TEST_F(SignedPublishing, ANewFileMustComeWithAHigherVersion) {
    const fs::path manifest = BuildFolder() / "manifest.json";
    ASSERT_FALSE(Stub(StubFile("unsigned.dll", 9)).failure);
    struct Step {
        const char* what;
        std::function<Published()> publish;
        std::optional<std::string> refusal;  // nothing: published
        Change change = Change::Replaced;
        std::function<void()> before = [] {};
    };
    const Step steps[] = {
        {"over a manifest of the unsigned form, any version", [&] { return SignedStub(stub); }, std::nullopt},
        {"the same stub again, even with another expiry",
         [&] {
             Signing later = key.signing;
             later.expires = "2040-01-01T00:00:00Z";
             return PublishStub(target.wstring(), stub.wstring(), base, tree.wstring(), &later);
         },
         std::nullopt, Change::Unchanged},
        {"another stub of the same version",
         [&] {
             return SignedStub(File("same.dll", StubImage({{2, 0, 0, 0}}, 1)));
         },
         "its version 2.0.0.0 is not above 2.0.0.0, the version of"},
        {"another stub of a lower version",
         [&] {
             return SignedStub(File("lower.dll", StubImage({{1, 9, 9, 9}})));
         },
         "its version 1.9.9.9 is not above 2.0.0.0"},
        {"another stub of a higher version",
         [&] {
             return SignedStub(File("higher.dll", StubImage({{2, 0, 0, 1}})));
         },
         std::nullopt},
        {"over a withdrawal, a version not above it",
         [&] {
             return SignedStub(File("again.dll", StubImage({{2, 0, 0, 2}}, 2)));
         },
         "is not above 2.0.0.2", Change::Replaced,
         [&] {
             const Withdrawn withdrawn = WithdrawBuild(FromUtf8(KeyOf(target)), tree.wstring(), key.signing);
             EXPECT_EQ(zv::FormatVersion(withdrawn.version), "2.0.0.2");
         }},
        {"over a withdrawal, a version above it",
         [&] {
             return SignedStub(File("above.dll", StubImage({{2, 1, 0, 0}})));
         },
         std::nullopt},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.before();
        const std::string before = ReadFileText(manifest);
        const Published published = step.publish();
        if (step.refusal) {
            ASSERT_TRUE(published.failure);
            EXPECT_NE(published.failure->reason.find(*step.refusal), std::string::npos) << published.failure->reason;
            EXPECT_NE(published.failure->reason.find("give the stub a higher version"), std::string::npos);
            EXPECT_EQ(ReadFileText(manifest), before);
            continue;
        }
        ASSERT_FALSE(published.failure) << published.failure->reason;
        EXPECT_EQ(published.manifestChange, step.change);
        EXPECT_EQ(ReadFileText(manifest) == before, step.change == Change::Unchanged);
        EXPECT_EQ(Check(manifest, StubPath(), zv::ManifestPlace::Stub).trust, zv::ManifestTrust::Trusted);
    }
    // The launcher says how to raise its own.
    ASSERT_FALSE(SignedLauncher(launcher).failure);
    const Published again =
        SignedLauncher(File("rebuilt.exe", LauncherImage(LauncherFixture().WithKeys(key.keys).WithTag(1))));
    ASSERT_TRUE(again.failure);
    EXPECT_NE(again.failure->reason.find("build the launcher with a higher ZV_VERSION"), std::string::npos);
}

// Where the tree has no signed manifest for the build, no one can say which versions players have
// accepted, and a launcher ignores a withdrawal below its mark: only --version says the version.
TEST_F(SignedPublishing, AWithdrawalWithoutAPublishedSignedManifestNeedsItsVersion) {
    const std::string unknown(40, 'a');
    const fs::path folder = tree / "stub" / unknown;
    const std::string path = "/stub/" + unknown + "/manifest.json";
    const struct {
        const char* name;
        std::optional<std::string> manifest;  // nothing: none
        const char* refusal;
    } cases[] = {
        {"no manifest", std::nullopt, "does not exist, so zvpublish cannot tell which version"},
        {"an unsigned manifest", R"({"sha1": ")" + std::string(40, '0') + R"(", "url": "https://x/y.dll"})",
         "is not a signed manifest with a version"},
        {"a manifest that cannot be read", "{", "is not a signed manifest with a version"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(tree);
        if (c.manifest) {
            fs::create_directories(folder);
            WriteFileBytes(folder / "manifest.json", *c.manifest);
        }
        const Withdrawn refused = WithdrawBuild(FromUtf8(unknown), tree.wstring(), key.signing);
        ASSERT_TRUE(refused.failure);
        EXPECT_NE(refused.failure->reason.find(c.refusal), std::string::npos) << refused.failure->reason;
        EXPECT_NE(refused.failure->reason.find(
                      "Give --version A.B.C.D above any version of this build that players may have accepted"),
                  std::string::npos);
        EXPECT_EQ(fs::exists(folder / "manifest.json"), c.manifest.has_value());

        const Withdrawn given =
            WithdrawBuild(FromUtf8(unknown), tree.wstring(), key.signing, zv::Version{{3, 0, 0, 0}});
        ASSERT_FALSE(given.failure) << given.failure->reason;
        const zv::SignedReading reading = Check(folder / "manifest.json", path, zv::ManifestPlace::Stub);
        EXPECT_EQ(reading.trust, zv::ManifestTrust::Trusted) << reading.problem;
        EXPECT_TRUE(reading.withdrawn);
        EXPECT_EQ(reading.release.version, (zv::Version{{3, 0, 0, 0}}));
    }
}

TEST_F(SignedPublishing, AWithdrawalIsSignedAboveThePublishedVersionAndWrittenOnce) {
    ASSERT_FALSE(SignedStub(File("v.dll", StubImage({{1, 2, 3, 65535}}))).failure);
    const fs::path manifest = BuildFolder() / "manifest.json";
    const fs::path stubFile = BuildFolder() / ("ZVClient-" + Sha1Hex(ReadFileBytes(scratch.path() / "v.dll")) + ".dll");
    const FileTime longAgo = std::chrono::sys_days{std::chrono::year{2001} / 1 / 1};
    SetModified(stubFile, longAgo);

    const Withdrawn withdrawn = WithdrawBuild(FromUtf8(KeyOf(target)), tree.wstring(), key.signing);
    ASSERT_FALSE(withdrawn.failure) << withdrawn.failure->reason;
    EXPECT_EQ(withdrawn.manifestChange, Change::Replaced);
    EXPECT_EQ(zv::FormatVersion(withdrawn.version), "1.2.4.0");
    const zv::SignedReading reading = Check(manifest, StubPath(), zv::ManifestPlace::Stub);
    EXPECT_EQ(reading.trust, zv::ManifestTrust::Trusted) << reading.problem;
    EXPECT_TRUE(reading.withdrawn);
    EXPECT_EQ(reading.release.version, withdrawn.version);
    EXPECT_EQ(reading.release.expires, kExpires);
    EXPECT_GT(ModifiedAt(stubFile), longAgo + std::chrono::years(1)) << "the stub is no longer served from now on";

    const std::string body = ReadFileText(manifest);
    const Withdrawn again = WithdrawBuild(FromUtf8(KeyOf(target)), tree.wstring(), key.signing);
    ASSERT_FALSE(again.failure);
    EXPECT_EQ(again.manifestChange, Change::Unchanged);
    EXPECT_EQ(again.version, withdrawn.version);
    EXPECT_EQ(ReadFileText(manifest), body);

    // With --version: above the published version, or the withdrawal already there at it.
    const std::string atVersion = ReadFileText(manifest);
    const Withdrawn same = WithdrawBuild(FromUtf8(KeyOf(target)), tree.wstring(), key.signing, withdrawn.version);
    EXPECT_EQ(same.manifestChange, Change::Unchanged);
    const Withdrawn below =
        WithdrawBuild(FromUtf8(KeyOf(target)), tree.wstring(), key.signing, zv::Version{{1, 2, 3, 9}});
    ASSERT_TRUE(below.failure);
    EXPECT_NE(below.failure->reason.find("its version 1.2.4.0 is not below the --version 1.2.3.9"), std::string::npos)
        << below.failure->reason;
    EXPECT_EQ(ReadFileText(manifest), atVersion);
    const Withdrawn above =
        WithdrawBuild(FromUtf8(KeyOf(target)), tree.wstring(), key.signing, zv::Version{{1, 3, 0, 0}});
    ASSERT_FALSE(above.failure) << above.failure->reason;
    EXPECT_EQ(above.manifestChange, Change::Replaced);
    EXPECT_EQ(Check(manifest, StubPath(), zv::ManifestPlace::Stub).release.version, (zv::Version{{1, 3, 0, 0}}));

    // Above the highest version there is none.
    fs::remove_all(tree);
    ASSERT_FALSE(SignedStub(stub, zv::Version{{2, 0, 0, 0}}).failure);
    ASSERT_FALSE(SignedStub(File("top.dll", StubImage({{65535, 65535, 65535, 65535}}))).failure);
    const Withdrawn none = WithdrawBuild(FromUtf8(KeyOf(target)), tree.wstring(), key.signing);
    ASSERT_TRUE(none.failure);
    EXPECT_NE(none.failure->reason.find("is the highest there is"), std::string::npos);
}
#endif

}  // namespace
