#include "zvpublish/commands/prune.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "file_bytes.h"
#include "pe_builder.h"
#include "publish_test_support.h"
#include "scratch_directory.h"
#include "zvpublish/commands/publish.h"
#include "zvpublish/commands/verify_tree.h"
#include "zvpublish/tree/tree_contents.h"

namespace {

using namespace zv::publish;

constexpr std::chrono::hours Days(int n) { return std::chrono::hours(24 * n); }
const std::string kHex = "0123456789abcdef0123456789abcdef01234567";

// A tree with a history: releases published one after another, each replacing the one before, as
// the publishing commands leave them.
struct History {
    ScratchDirectory scratch;
    fs::path tree = scratch.path() / "tree";
    fs::path target = scratch.path() / "Game.exe";
    std::map<std::string, fs::path> published;    // by label
    std::map<std::string, std::uintmax_t> sizes;  // by label

    History() { WriteFileBytes(target, GameImage()); }

    void Publish(FolderKind kind, const std::string& label) {
        const fs::path source = scratch.path() / "release";
        const auto tag = static_cast<std::uint8_t>(published.size() + 1);
        WriteFileBytes(source, kind == FolderKind::Launcher ? LauncherImage(LauncherFixture().WithTag(tag))
                                                            : StubImage(std::nullopt, tag));
        sizes[label] = fs::file_size(source);
        published[label] = Require(kind == FolderKind::Launcher
                                       ? PublishLauncher(source.wstring(), kBase, tree.wstring())
                                       : PublishStub(target.wstring(), source.wstring(), kBase, tree.wstring()))
                               .file;
    }

    [[nodiscard]] fs::path Build() const { return tree / "stub" / KeyOf(target); }
    [[nodiscard]] fs::path Launchers() const { return tree / "launcher"; }
    [[nodiscard]] const fs::path& operator[](const std::string& label) const { return published.at(label); }

    // The labels of files, sorted.
    [[nodiscard]] std::vector<std::string> Labels(const std::vector<ContentFile>& files) const {
        std::vector<std::string> labels;
        for (const auto& file : files) {
            std::string label = "? " + file.relative;
            for (const auto& [name, path] : published) {
                if (path.wstring() == file.path) {
                    label = name;
                }
            }
            labels.push_back(label);
        }
        std::sort(labels.begin(), labels.end());
        return labels;
    }
};

using Labels = std::vector<std::string>;

TEST(ContentNameDigest, TakesOnlyTheNamesPublishingGives) {
    std::string upper = kHex;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const std::wstring hex = FromUtf8(kHex);
    struct Case {
        FolderKind kind;
        std::wstring name;
        bool content;
    };
    const Case cases[] = {
        {FolderKind::Launcher, L"ZVLauncher-" + hex + L".exe", true},
        {FolderKind::Stub, L"ZVClient-" + hex + L".dll", true},
        {FolderKind::Launcher, L"ZVClient-" + hex + L".dll", false},
        {FolderKind::Stub, L"ZVLauncher-" + hex + L".exe", false},
        {FolderKind::Stub, L"ZVClient-" + FromUtf8(upper) + L".dll", false},
        {FolderKind::Stub, L".ZVClient-" + hex + L".dll", false},
        {FolderKind::Stub, L"ZVClient-" + hex + L".dll.tmp", false},
        {FolderKind::Stub, L"ZVClient-" + hex.substr(1) + L".dll", false},
        {FolderKind::Stub, L"ZVClient-" + hex + L"0.dll", false},
        {FolderKind::Stub, L"ZVClient-g" + hex.substr(1) + L".dll", false},
        {FolderKind::Stub, L"zvclient-" + hex + L".dll", false},
        {FolderKind::Stub, L"ZVClient-" + hex + L".DLL", false},
        {FolderKind::Stub, L"manifest.json", false},
    };
    for (const auto& c : cases) {
        const auto digest = ContentNameDigest(c.kind, c.name);
        EXPECT_EQ(digest.has_value(), c.content) << ToUtf8(c.name);
        if (digest) {
            EXPECT_EQ(*digest, zv::DigestFromHex(kHex)) << ToUtf8(c.name);
        }
    }
}

// A manifest names the file its url names inside the tree and, whatever the url says, the
// content-named file of its sha1 beside it.
TEST(ReadTreeContents, AManifestNamesItsUrlsFileAndItsSha1sFile) {
    struct Case {
        const char* what;
        std::function<std::string(const History&)> stubManifest;  // empty: as published
        std::optional<std::string> baseUrl;
        Labels named;
    };
    const auto sha1Of = [](const fs::path& file) {
        const std::string name = file.filename().string();
        return name.substr(name.find('-') + 1, 40);
    };
    const auto manifest = [](const std::string& sha1, const std::string& url) {
        return R"({"sha1": ")" + sha1 + R"(", "url": ")" + url + "\"}";
    };
    const Case cases[] = {
        {"as published", {}, std::nullopt, {"L2", "S2"}},
        {"the url points outside the tree",
         [&](const History& h) { return manifest(sha1Of(h["S2"]), "https://elsewhere.example.com/ZVClient.dll"); },
         std::nullopt,
         {"L2", "S2"}},
        {"the url names another release than the sha1",
         [&](const History& h) {
             return manifest(sha1Of(h["S2"]), kBase + ("stub/" + KeyOf(h.target) + "/") + h["S1"].filename().string());
         },
         std::nullopt,
         {"L2", "S1", "S2"}},
        {"the sha1 in upper case",
         [&](const History& h) {
             std::string sha1 = sha1Of(h["S2"]);
             for (char& c : sha1) {
                 c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
             }
             return manifest(sha1, "https://elsewhere.example.com/ZVClient.dll");
         },
         std::nullopt,
         {"L2", "S2"}},
        {"through the base address, a file in another folder",
         [&](const History& h) {
             return manifest(sha1Of(h["S2"]), kBase + ("launcher/" + h["L1"].filename().string()));
         },
         kBase,
         {"L1", "L2", "S2"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        History h;
        for (const char* label : {"L1", "L2"}) {
            h.Publish(FolderKind::Launcher, label);
        }
        for (const char* label : {"S1", "S2"}) {
            h.Publish(FolderKind::Stub, label);
        }
        if (c.stubManifest) {
            WriteFileBytes(h.Build() / "manifest.json", c.stubManifest(h));
        }
        const TreeContents contents = ReadTreeContents(h.tree.wstring(), c.baseUrl);
        ASSERT_FALSE(contents.failure);
        ASSERT_TRUE(contents.launcher);
        ASSERT_EQ(contents.stubs.size(), 1u);
        std::vector<ContentFile> named;
        for (const auto* folder : {&*contents.launcher, &contents.stubs[0]}) {
            ASSERT_EQ(folder->state, ManifestState::Good) << folder->problem;
            for (const auto& file : folder->files) {
                if (file.named) {
                    named.push_back(file);
                }
            }
        }
        EXPECT_EQ(h.Labels(named), c.named);
    }
}

// Files no publish ever writes, each old, in and around the manifest folders.
std::vector<fs::path> PlantLookAlikes(const History& h) {
    const std::string upper = "0123456789ABCDEF0123456789ABCDEF01234567";
    const std::vector<fs::path> files = {
        h.Launchers() / (".ZVLauncher-" + kHex + ".exe"),
        h.Launchers() / ("ZVLauncher-" + upper + ".exe"),
        h.Launchers() / ("ZVClient-" + kHex + ".dll"),
        h.Launchers() / ("ZVLauncher-" + kHex + ".exe.part"),
        h.Launchers() / "older" / ("ZVLauncher-" + kHex + ".exe"),
        h.Build() / ("ZVLauncher-" + kHex + ".exe"),
        h.Build() / ("ZVClient-" + kHex + ".dll.bak"),
        h.tree / "stub" / ("ZVClient-" + kHex + ".dll"),
        h.tree / "stub" / "not-a-key" / ("ZVClient-" + kHex + ".dll"),
        h.tree / "stub" / upper / ("ZVClient-" + kHex + ".dll"),
        h.tree / ("ZVLauncher-" + kHex + ".exe"),
    };
    for (const auto& file : files) {
        fs::create_directories(file.parent_path());
        WriteFileBytes(file, "look-alike");
        SetModified(file, kNow - Days(400));
    }
    // A folder under a content name.
    fs::create_directories(h.Build() / ("ZVClient-" + std::string(40, 'e') + ".dll"));
    return files;
}

// launcher: L1 replaced 40 days ago, L2 10 days ago, L3 served; a launcher file dated tomorrow;
// stub: S1 replaced 31 days ago, S2 served. Served files are old too: age alone never counts.
struct PruneTree : History {
    std::vector<fs::path> lookAlikes;

    explicit PruneTree(bool withLookAlikes = true) {
        for (const char* label : {"L0", "L1", "L2", "L3"}) {
            Publish(FolderKind::Launcher, label);
        }
        for (const char* label : {"S1", "S2"}) {
            Publish(FolderKind::Stub, label);
        }
        SetModified(published["L0"], kNow + Days(1));
        SetModified(published["L1"], kNow - Days(40));
        SetModified(published["L2"], kNow - Days(10));
        SetModified(published["L3"], kNow - Days(400));
        SetModified(published["S1"], kNow - Days(31));
        SetModified(published["S2"], kNow - Days(400));
        for (const auto& manifest : {Launchers() / "manifest.json", Build() / "manifest.json"}) {
            SetModified(manifest, kNow - Days(400));
        }
        if (withLookAlikes) {
            lookAlikes = PlantLookAlikes(*this);
        }
    }
};

TEST(PlanPrune, RemovesTheFilesNoManifestNamesOnceOlderThanTheLimit) {
    const PruneTree t;
    const TreeContents contents = ReadTreeContents(t.tree.wstring(), std::nullopt);
    ASSERT_FALSE(contents.failure);
    struct Case {
        std::chrono::seconds olderThan;
        Labels remove;
        Labels young;
    };
    const Case cases[] = {
        {Days(0), {"L1", "L2", "S1"}, {"L0"}},
        // Exactly as old as the limit is not older than it.
        {Days(10), {"L1", "S1"}, {"L0", "L2"}},
        {Days(10) - std::chrono::seconds(1), {"L1", "L2", "S1"}, {"L0"}},
        {Days(31), {"L1"}, {"L0", "L2", "S1"}},
        {Days(40), {}, {"L0", "L1", "L2", "S1"}},
        {Days(100000), {}, {"L0", "L1", "L2", "S1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.olderThan.count());
        const PrunePlan plan = PlanPrune(contents, t.tree.wstring(), kNow, c.olderThan);
        EXPECT_EQ(t.Labels(plan.remove), c.remove);
        EXPECT_EQ(t.Labels(plan.young), c.young);
        EXPECT_TRUE(plan.ageUnknown.empty());
        EXPECT_TRUE(plan.leftAlone.empty());
    }
}

TEST(CarryOutPrune, RemovesOnlyThePlannedFiles) {
    const PruneTree t;
    const PrunePlan plan = PlanPrune(ReadTreeContents(t.tree.wstring(), std::nullopt), t.tree.wstring(), kNow, Days(0));
    const PruneResult result = CarryOutPrune(plan);
    EXPECT_TRUE(result.failed.empty());
    EXPECT_EQ(t.Labels(result.removed), (Labels{"L1", "L2", "S1"}));
    EXPECT_EQ(result.freed, t.sizes.at("L1") + t.sizes.at("L2") + t.sizes.at("S1"));
    for (const auto& [label, file] : t.published) {
        EXPECT_EQ(fs::exists(file), label != "L1" && label != "L2" && label != "S1") << label;
    }
    for (const auto& file : t.lookAlikes) {
        EXPECT_TRUE(fs::exists(file)) << file;
    }
    EXPECT_TRUE(fs::is_directory(t.Build() / ("ZVClient-" + std::string(40, 'e') + ".dll")));
    EXPECT_TRUE(fs::exists(t.Launchers() / "manifest.json"));
    EXPECT_TRUE(fs::exists(t.Build() / "manifest.json"));
}

TEST(CarryOutPrune, LeavesATreeThatStillVerifies) {
    const PruneTree t(/*withLookAlikes=*/false);
    CarryOutPrune(PlanPrune(ReadTreeContents(t.tree.wstring(), std::nullopt), t.tree.wstring(), kNow, Days(0)));
    const TreeReport report = VerifyTree(t.tree.wstring(), std::string(kBase));
    EXPECT_FALSE(report.HasErrors());
    EXPECT_EQ(report.good.size(), 2u);
    // Only the launcher dated tomorrow is still there without a manifest naming it.
    ASSERT_EQ(report.findings.size(), 1u);
    EXPECT_EQ(report.findings[0].path, t["L0"].wstring());
}

TEST(CarryOutPrune, ReportsAFileItCannotRemoveAndRemovesTheRest) {
    const PruneTree t;
    const PrunePlan plan = PlanPrune(ReadTreeContents(t.tree.wstring(), std::nullopt), t.tree.wstring(), kNow, Days(0));
    // Between the plan and the removal, something else took the name: a folder is never removed.
    fs::remove(t["L2"]);
    fs::create_directory(t["L2"]);
    WriteFileBytes(t["L2"] / "inside", "x");

    const PruneResult result = CarryOutPrune(plan);
    EXPECT_EQ(t.Labels(result.removed), (Labels{"L1", "S1"}));
    ASSERT_EQ(result.failed.size(), 1u);
    EXPECT_EQ(result.failed[0].path, t["L2"].wstring());
    EXPECT_TRUE(result.failed[0].reason.starts_with("cannot be removed: ")) << result.failed[0].reason;
    EXPECT_TRUE(fs::exists(t["L2"] / "inside"));
    EXPECT_EQ(result.freed, t.sizes.at("L1") + t.sizes.at("S1"));
}

// A folder whose manifest is missing or cannot be read keeps every file: nobody can say which one
// players are sent. Other folders are pruned as usual.
TEST(PlanPrune, LeavesAFolderAloneWhenItsManifestCannotBeRead) {
    struct Case {
        const char* what;
        std::function<void(const fs::path& manifest)> breakIt;
        const char* problem;
    };
    const auto body = [](std::string text) {
        return [text](const fs::path& manifest) { WriteFileBytes(manifest, text); };
    };
    const Case cases[] = {
        {"missing", [](const fs::path& m) { fs::remove(m); }, "is missing"},
        {"a folder",
         [](const fs::path& m) {
             fs::remove(m);
             fs::create_directory(m);
         },
         "is not a file"},
        {"not JSON", body("{\"sha1\": "), "is not one valid JSON value"},
        {"not an object", body("[]"), "is not a JSON object"},
        {"no sha1", body(R"({"url": "https://cdn.example.com/zv/x.dll"})"), "has no \"sha1\""},
        {"a sha1 of 39 digits", body(R"({"sha1": ")" + kHex.substr(1) + R"(", "url": "https://x/"})"),
         "has no \"sha1\""},
        {"no url", body(R"({"sha1": ")" + kHex + R"("})"), "has no \"url\""},
        {"larger than a launcher takes",
         body(R"({"sha1": ")" + kHex + R"(", "url": "https://x/"})" + std::string(1024 * 1024, ' ')),
         "is larger than a launcher takes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const PruneTree t;
        c.breakIt(t.Build() / "manifest.json");
        const PrunePlan plan =
            PlanPrune(ReadTreeContents(t.tree.wstring(), std::nullopt), t.tree.wstring(), kNow, Days(0));
        EXPECT_EQ(t.Labels(plan.remove), (Labels{"L1", "L2"}));
        ASSERT_EQ(plan.leftAlone.size(), 1u);
        EXPECT_EQ(plan.leftAlone[0].path, (t.Build() / "manifest.json").wstring());
        EXPECT_TRUE(plan.leftAlone[0].reason.starts_with(c.problem)) << plan.leftAlone[0].reason;
        EXPECT_NE(plan.leftAlone[0].reason.find("nothing in its folder is removed"), std::string::npos);
    }
}

// What cannot be read is kept and said: a file whose age is unknown, a folder that cannot be listed.
TEST(PlanPrune, KeepsWhatItCannotRead) {
    TreeContents contents;
    ManifestFolder launcher;
    launcher.path = L"tree/launcher";
    launcher.state = ManifestState::Good;
    ContentFile unknown;
    unknown.path = L"tree/launcher/unknown";
    unknown.factsProblem = "permission denied";
    ContentFile old;
    old.path = L"tree/launcher/old";
    old.facts = FileFacts{5, kNow - Days(50)};
    launcher.files = {unknown, old};
    contents.launcher = launcher;
    contents.unlisted.push_back({L"tree/stub", "stub", "cannot be listed: permission denied"});

    const PrunePlan plan = PlanPrune(contents, L"tree", kNow, Days(30));
    ASSERT_EQ(plan.remove.size(), 1u);
    EXPECT_EQ(plan.remove[0].path, old.path);
    ASSERT_EQ(plan.ageUnknown.size(), 1u);
    EXPECT_EQ(plan.ageUnknown[0].path, unknown.path);
    ASSERT_EQ(plan.leftAlone.size(), 1u);
    EXPECT_EQ(plan.leftAlone[0].path, L"tree/stub");
    EXPECT_EQ(plan.leftAlone[0].reason, "cannot be listed: permission denied, so nothing in it is removed");
}

// Whether the platform lets this test make a symbolic link; a test that needs one skips otherwise.
bool MakeLink(const fs::path& target, const fs::path& link, bool folder) {
    std::error_code error;
    if (folder) {
        fs::create_directory_symlink(target, link, error);
    } else {
        fs::create_symlink(target, link, error);
    }
    return !error;
}

// A link where a build folder or a content-named file would be is neither entered nor removed;
// a withdrawn build's files go like any other no manifest names.
TEST(Prune, NeverEntersNorRemovesALink) {
    const PruneTree t(/*withLookAlikes=*/false);
    const fs::path outside = t.scratch.path() / "outside";
    const fs::path linkedBuild = t.tree / "stub" / kHex;
    const fs::path linkedFile = t.Launchers() / ("ZVLauncher-" + kHex + ".exe");
    fs::create_directories(outside / "build");
    WriteFileBytes(outside / "build" / "manifest.json", R"({"sha1": ")" + kHex + R"(", "url": "https://x/y"})");
    WriteFileBytes(outside / "build" / ("ZVClient-" + std::string(40, 'b') + ".dll"), "outside");
    WriteFileBytes(outside / "file", "outside");
    for (const fs::path& file : {outside / "build" / ("ZVClient-" + std::string(40, 'b') + ".dll"), outside / "file"}) {
        SetModified(file, kNow - Days(400));
    }
    if (!MakeLink(outside / "build", linkedBuild, true) || !MakeLink(outside / "file", linkedFile, false)) {
        GTEST_SKIP() << "this system makes no symbolic links here";
    }

    const TreeContents contents = ReadTreeContents(t.tree.wstring(), std::nullopt);
    ASSERT_EQ(contents.links.size(), 2u);
    EXPECT_EQ(contents.links[0].relative, "launcher/ZVLauncher-" + kHex + ".exe");
    EXPECT_EQ(contents.links[1].relative, "stub/" + kHex);
    const PrunePlan plan = PlanPrune(contents, t.tree.wstring(), kNow, Days(0));
    EXPECT_EQ(t.Labels(plan.remove), (Labels{"L1", "L2", "S1"}));
    EXPECT_EQ(plan.links.size(), 2u);
    EXPECT_TRUE(CarryOutPrune(plan).failed.empty());
    EXPECT_TRUE(fs::exists(outside / "build" / ("ZVClient-" + std::string(40, 'b') + ".dll")));
    EXPECT_TRUE(fs::exists(outside / "file"));
    EXPECT_TRUE(fs::is_symlink(linkedFile));
}

TEST(CarryOutPrune, NeverRemovesThroughAFolderThatBecameALink) {
    const PruneTree t(/*withLookAlikes=*/false);
    const PrunePlan plan = PlanPrune(ReadTreeContents(t.tree.wstring(), std::nullopt), t.tree.wstring(), kNow, Days(0));
    const fs::path moved = t.scratch.path() / "moved";
    fs::rename(t.Build(), moved);
    if (!MakeLink(moved, t.Build(), true)) {
        GTEST_SKIP() << "this system makes no symbolic links here";
    }
    const PruneResult result = CarryOutPrune(plan);
    EXPECT_EQ(t.Labels(result.removed), (Labels{"L1", "L2"}));
    ASSERT_EQ(result.failed.size(), 1u);
    EXPECT_EQ(result.failed[0].path, t["S1"].wstring());
    EXPECT_NE(result.failed[0].reason.find("symbolic link now"), std::string::npos);
    EXPECT_TRUE(fs::exists(moved / t["S1"].filename()));
}

// A withdrawn build's files are named by no manifest: prune takes them once they are old enough.
TEST(PlanPrune, TakesTheFilesOfAWithdrawnBuild) {
    const PruneTree t(/*withLookAlikes=*/false);
    WriteFileBytes(t.Build() / "manifest.json", R"({"withdrawn": true, "version": "1.0.0.1", "signature": "x"})");
    const PrunePlan plan =
        PlanPrune(ReadTreeContents(t.tree.wstring(), std::nullopt), t.tree.wstring(), kNow, Days(30));
    // S2 was served until the withdrawal; its age counts from then (withdraw sets it), here long ago.
    EXPECT_EQ(t.Labels(plan.remove), (Labels{"L1", "S1", "S2"}));
    EXPECT_TRUE(plan.leftAlone.empty());
}

}  // namespace
