#include "zvpublish/commands/status_report.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "file_bytes.h"
#include "pe_builder.h"
#include "publish_test_support.h"
#include "scratch_directory.h"
#include "update/manifest.h"
#include "zvpublish/commands/publish.h"
#include "zvpublish/tree/tree_contents.h"

namespace {

using namespace zv::publish;

// The text as a JSON string's content (the tree's path on Windows has backslashes).
std::string JsonEscaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    return out;
}

// One launcher release replaced by another half a day ago; a build whose stub is served; a build
// whose manifest is missing, with a file; a build withdrawn a day ago, expiring in four days; a
// build whose signed manifest expired ten days ago and points outside the tree, with an escape
// sequence in its url. (Status reads what the manifests say; whether a key signed them is verify's.)
struct SmallTree {
    ScratchDirectory scratch;
    fs::path tree = scratch.path() / "tree";
    fs::path target = scratch.path() / "Game.exe";
    std::string key, l1, l2, s1, orphan, gone;
    std::string missing = std::string(40, '0');
    std::string withdrawn = std::string(40, 'e');
    std::string outside = std::string(40, 'f');

    SmallTree() {
        WriteFileBytes(target, GameImage());
        key = KeyOf(target);
        // The files and manifests as publishing leaves them, with contents of a few bytes.
        l1 = Place(tree / "launcher", "launcher build 1", false);
        l2 = Place(tree / "launcher", "launcher build 2", true);
        s1 = Place(tree / "stub" / key, "stub 1", true);
        SetModified(tree / "launcher" / ("ZVLauncher-" + l1 + ".exe"), kNow - std::chrono::hours(12));

        orphan = Sha1Hex(std::string_view("old"));
        fs::create_directories(tree / "stub" / missing);
        WriteFileBytes(tree / "stub" / missing / ("ZVClient-" + orphan + ".dll"), "old");
        SetModified(tree / "stub" / missing / ("ZVClient-" + orphan + ".dll"),
                    kNow - std::chrono::hours(24 * 60) - std::chrono::seconds(1));
        gone = Sha1Hex(std::string_view("gone"));
        fs::create_directories(tree / "stub" / withdrawn);
        WriteFileBytes(tree / "stub" / withdrawn / ("ZVClient-" + gone + ".dll"), "gone");
        SetModified(tree / "stub" / withdrawn / ("ZVClient-" + gone + ".dll"), kNow - std::chrono::hours(24));
        WriteFileBytes(tree / "stub" / withdrawn / "manifest.json",
                       R"({"withdrawn": true, "version": "1.0.0.2", "expires": "2024-03-05T00:00:00Z", )"
                       R"("signature": "x"})");
        fs::create_directories(tree / "stub" / outside);
        WriteFileBytes(tree / "stub" / outside / "manifest.json",
                       R"({"sha1": ")" + s1 + R"(", "sha256": ")" + std::string(64, '0') +
                           R"(", "size": 6, "url": "https://elsewhere.example.com/ZV\u001b[2JClient.dll", )"
                           R"("version": "2.0.0.0", "expires": "2024-02-20T00:00:00Z", "signature": "x"})");
    }

    // A content-named file of content in folder, and the manifest that names it when served; its sha1.
    [[nodiscard]] std::string Place(const fs::path& folder, const std::string& content, bool served) const {
        const std::string sha1 = Sha1Hex(std::string_view(content));
        const bool launcher = folder.filename() == "launcher";
        const std::string name = launcher ? "ZVLauncher-" + sha1 + ".exe" : "ZVClient-" + sha1 + ".dll";
        fs::create_directories(folder);
        WriteFileBytes(folder / name, content);
        if (served) {
            const std::string relative = launcher ? "launcher/" : "stub/" + folder.filename().string() + "/";
            WriteFileBytes(folder / "manifest.json",
                           zv::FormatManifest(zv::DigestFromHex(sha1), std::string(kBase) + relative + name));
        }
        return sha1;
    }

    // text with the names above filled in: KEY, L1, L2, S1, ORPHAN, MISSING, OUTSIDE and TREE
    // (escaped for JSON when json).
    [[nodiscard]] std::string Fill(std::string text, bool json) const {
        const std::string path = ToUtf8(tree.wstring());
        const std::pair<std::string, std::string> names[] = {
            {"MISSING", missing},
            {"WITHDRAWN", withdrawn},
            {"OUTSIDE", outside},
            {"ORPHAN", orphan},
            {"GONE", gone},
            {"KEY", key},
            {"L1", l1},
            {"L2", l2},
            {"S1", s1},
            {"TREE", json ? JsonEscaped(path) : path},  // last: the path may hold any of the others
        };
        for (const auto& [name, value] : names) {
            for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + value.size())) {
                text.replace(at, name.size(), value);
            }
        }
        return text;
    }
};

TEST(FormatStatus, SaysWhatTheTreeServesAndWhatNoManifestNames) {
    const SmallTree t;
    const TreeContents contents = ReadTreeContents(t.tree.wstring(), std::nullopt);
    ASSERT_FALSE(contents.failure);
    EXPECT_EQ(FormatStatus(contents, t.tree.wstring(), kNow), t.Fill(R"(TREE: status at 2024-03-01T00:00:00Z

launcher
  version  none
  signature  unsigned
  sha1  L2
  file  launcher/ZVLauncher-L2.exe  (16 bytes)

stub builds: 4
  MISSING
    stub/MISSING/manifest.json is missing; the files of this folder are left alone
  KEY
    version  none
    signature  unsigned
    sha1  S1
    file  stub/KEY/ZVClient-S1.dll  (6 bytes)
  WITHDRAWN
    withdrawn at version 1.0.0.2  (expires at 2024-03-05T00:00:00Z, in 4.0 days)
    signature  signed (not checked; give --public-keys)
  OUTSIDE
    version  2.0.0.0  (expired at 2024-02-20T00:00:00Z, 10.0 days ago)
    signature  signed (not checked; give --public-keys)
    sha1  S1
    file  outside the tree: https://elsewhere.example.com/ZV\x1B[2JClient.dll

named by no manifest: 2 files
  launcher/ZVLauncher-L1.exe  (16 bytes, 0.5 days old)
  stub/WITHDRAWN/ZVClient-GONE.dll  (4 bytes, 1.0 days old)

in folders whose manifest is missing or cannot be read: 1 file
  stub/MISSING/ZVClient-ORPHAN.dll  (3 bytes)

total: 5 content-named files; served 22 bytes in 2 files; named by no manifest 20 bytes in 2 files; left alone 3 bytes in 1 file
)",
                                                                     false));
}

TEST(FormatStatusJson, GivesTheSameAsOneJsonObjectOfAFixedShape) {
    const SmallTree t;
    const TreeContents contents = ReadTreeContents(t.tree.wstring(), std::nullopt);
    ASSERT_FALSE(contents.failure);
    EXPECT_EQ(FormatStatusJson(contents, t.tree.wstring(), kNow), t.Fill(R"({
  "format": 2,
  "tree": "TREE",
  "now": "2024-03-01T00:00:00Z",
  "launcher": {
    "folder": "launcher",
    "manifest": "launcher/manifest.json",
    "state": "good",
    "problem": null,
    "version": null,
    "signed": false,
    "signature": "unsigned",
    "signed_by": null,
    "signature_problem": null,
    "expires": null,
    "expires_in_seconds": null,
    "sha1": "L2",
    "url": "https://cdn.example.com/zv/launcher/ZVLauncher-L2.exe",
    "file": "launcher/ZVLauncher-L2.exe",
    "size": 16
  },
  "stubs": [
    {
      "key": "MISSING",
      "folder": "stub/MISSING",
      "manifest": "stub/MISSING/manifest.json",
      "state": "missing",
      "problem": "is missing",
      "version": null,
      "signed": false,
      "signature": null,
      "signed_by": null,
      "signature_problem": null,
      "expires": null,
      "expires_in_seconds": null,
      "sha1": null,
      "url": null,
      "file": null,
      "size": null
    },
    {
      "key": "KEY",
      "folder": "stub/KEY",
      "manifest": "stub/KEY/manifest.json",
      "state": "good",
      "problem": null,
      "version": null,
      "signed": false,
      "signature": "unsigned",
      "signed_by": null,
      "signature_problem": null,
      "expires": null,
      "expires_in_seconds": null,
      "sha1": "S1",
      "url": "https://cdn.example.com/zv/stub/KEY/ZVClient-S1.dll",
      "file": "stub/KEY/ZVClient-S1.dll",
      "size": 6
    },
    {
      "key": "WITHDRAWN",
      "folder": "stub/WITHDRAWN",
      "manifest": "stub/WITHDRAWN/manifest.json",
      "state": "withdrawn",
      "problem": null,
      "version": "1.0.0.2",
      "signed": true,
      "signature": "not checked",
      "signed_by": null,
      "signature_problem": null,
      "expires": "2024-03-05T00:00:00Z",
      "expires_in_seconds": 345600,
      "sha1": null,
      "url": null,
      "file": null,
      "size": null
    },
    {
      "key": "OUTSIDE",
      "folder": "stub/OUTSIDE",
      "manifest": "stub/OUTSIDE/manifest.json",
      "state": "good",
      "problem": null,
      "version": "2.0.0.0",
      "signed": true,
      "signature": "not checked",
      "signed_by": null,
      "signature_problem": null,
      "expires": "2024-02-20T00:00:00Z",
      "expires_in_seconds": -864000,
      "sha1": "S1",
      "url": "https://elsewhere.example.com/ZV\u001b[2JClient.dll",
      "file": null,
      "size": null
    }
  ],
  "unreferenced": [
    {
      "file": "launcher/ZVLauncher-L1.exe",
      "size": 16,
      "modified": "2024-02-29T12:00:00Z",
      "age_seconds": 43200
    },
    {
      "file": "stub/WITHDRAWN/ZVClient-GONE.dll",
      "size": 4,
      "modified": "2024-02-29T00:00:00Z",
      "age_seconds": 86400
    }
  ],
  "left_alone": [
    {
      "file": "stub/MISSING/ZVClient-ORPHAN.dll",
      "size": 3,
      "modified": "2023-12-31T23:59:59Z",
      "age_seconds": 5184001
    }
  ],
  "unlisted": [],
  "links": [],
  "totals": {
    "files": 5,
    "served_files": 2,
    "served_bytes": 22,
    "unreferenced_files": 2,
    "unreferenced_bytes": 20,
    "left_alone_files": 1,
    "left_alone_bytes": 3
  }
}
)",
                                                                         true));
}

TEST(ExpiryWarnings, NameEachManifestThatExpiresWithinAWeekOrHasExpired) {
    const SmallTree t;
    const TreeContents contents = ReadTreeContents(t.tree.wstring(), std::nullopt);
    const auto manifest = [&](const std::string& key) { return (t.tree / "stub" / key / "manifest.json").wstring(); };
    const auto warnings = ExpiryWarnings(contents, kNow);
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0].path, manifest(t.withdrawn));
    EXPECT_EQ(warnings[0].reason,
              "expires at 2024-03-05T00:00:00Z, in 4.0 days; renew it with zvpublish refresh before then");
    EXPECT_EQ(warnings[1].path, manifest(t.outside));
    EXPECT_TRUE(warnings[1].reason.starts_with("has expired: expired at 2024-02-20T00:00:00Z, 10.0 days ago; "))
        << warnings[1].reason;
    // A week before the withdrawal expires is still a week: the warning begins then.
    EXPECT_EQ(ExpiryWarnings(contents, kNow - std::chrono::hours(72)).size(), 2u);
    EXPECT_EQ(ExpiryWarnings(contents, kNow - std::chrono::hours(72) - std::chrono::seconds(1)).size(), 1u);
}

TEST(FormatSize, CountsBytesThenBinaryUnits) {
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, "0 bytes"},    {1, "1 byte"},         {1023, "1023 bytes"},    {1024, "1.0 KiB"},
        {1536, "1.5 KiB"}, {5u << 20, "5.0 MiB"}, {3ull << 40, "3.0 TiB"}, {~0ull, "16384.0 PiB"},
    };
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(FormatSize(bytes), text) << bytes;
    }
}

}  // namespace
