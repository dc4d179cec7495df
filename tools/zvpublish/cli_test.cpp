#include "cli.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "file_bytes.h"
#include "pe_builder.h"
#include "publish_test_support.h"
#include "scratch_directory.h"
#include "update/manifest.h"
#include "update/manifest_signature.h"

namespace {

namespace fs = std::filesystem;
using namespace zv::publish;
using zv::test::ScratchDirectory;
using zv::test::WriteFileBytes;

struct ToolRun {
    int code = -1;
    std::string out;
    std::string err;
};

ToolRun Tool(const std::vector<std::wstring>& arguments) {
    std::ostringstream out;
    std::ostringstream err;
    ToolRun run;
    run.code = RunPublishTool(arguments, out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
}

// The tool at a moment the test fixes.
ToolRun Tool(const std::vector<std::wstring>& arguments, FileTime now) {
    std::ostringstream out;
    std::ostringstream err;
    ToolRun run;
    run.code = RunPublishTool(arguments, out, err, now);
    run.out = out.str();
    run.err = err.str();
    return run;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(PublishTool, WrongUsageExitsWith2AndSaysWhatIsWrong) {
    struct UsageCase {
        std::vector<std::wstring> arguments;
        std::string message;
    };
    const std::wstring base = L"--base-url=https://cdn.example.com/";
    std::vector<UsageCase> cases = {
        {{}, "no command given"},
        {{L"publish"}, "unknown command 'publish'"},
        {{L"key"}, "'key' takes exactly one program"},
        {{L"key", L"a.exe", L"b.exe"}, "'key' takes exactly one program"},
        {{L"key", L"--out", L"x", L"a.exe"}, "unknown option '--out' for 'key'"},
        {{L"verify"}, "'verify' takes exactly one tree folder"},
        {{L"stub", L"--target", L"g.exe", L"--stub", L"s.dll", base}, "'stub' needs --out"},
        {{L"stub", L"--target", L"g.exe", L"--stub", L"s.dll", L"--out", L"t"}, "'stub' needs --base-url"},
        {{L"stub", L"--target", L"g.exe", L"--stub", L"s.dll", base, L"--out", L"t", L"extra"}, "'extra'"},
        {{L"launcher", L"--file", L"a.exe", L"--file", L"b.exe", base, L"--out", L"t"}, "'--file' is given twice"},
        {{L"launcher", L"--file"}, "'--file' needs a value"},
        {{L"launcher", L"--file=", base, L"--out", L"t"}, "'--file' needs a value"},
        {{L"launcher", L"--file", L"a.exe", L"--base-url", L"http://cdn.example.com/", L"--out", L"t"},
         "--base-url http://cdn.example.com/: must begin with https://"},
        {{L"verify", L"t", L"--base-url", L"https://cdn.example.com/?x"},
         "--base-url https://cdn.example.com/?x: must not have a query"},
        {{L"verify", L"t", L"--dry-run"}, "unknown option '--dry-run' for 'verify'"},
        {{L"status"}, "'status' takes exactly one tree folder"},
        {{L"status", L"t", L"--json=yes"}, "option '--json' takes no value"},
        {{L"status", L"t", L"--json", L"--json"}, "option '--json' is given twice"},
        {{L"status", L"t", L"--older-than", L"3"}, "unknown option '--older-than' for 'status'"},
        {{L"prune", L"t"}, "'prune' needs --older-than"},
        {{L"prune", L"--older-than", L"3"}, "'prune' takes exactly one tree folder"},
        {{L"prune", L"t", L"u", L"--older-than", L"3"}, "'prune' takes exactly one tree folder"},
        {{L"prune", L"t", L"--older-than", L"3", L"--json"}, "unknown option '--json' for 'prune'"},
        {{L"prune", L"t", L"--older-than", L"3", L"--dry-run=no"}, "option '--dry-run' takes no value"},
        // Signing: the host goes with the key, and only signed manifests take a version or an expiry.
        {{L"launcher", L"--file", L"a.exe", base, L"--out", L"t", L"--signing-key", L"k.pem"},
         "signing needs --update-host HOST"},
        {{L"launcher", L"--file", L"a.exe", base, L"--out", L"t", L"--update-host", L"updates.test"},
         "--update-host is for signed manifests: give --signing-key too"},
        {{L"stub", L"--target", L"g.exe", L"--stub", L"s.dll", base, L"--out", L"t", L"--version", L"1.0.0.0"},
         "--version is for signed manifests"},
        {{L"launcher", L"--file", L"a.exe", base, L"--out", L"t", L"--version", L"1.0.0.0"},
         "unknown option '--version' for 'launcher'"},
        {{L"stub", L"--target", L"g.exe", L"--stub", L"s.dll", base, L"--out", L"t", L"--signing-key", L"k.pem",
          L"--update-host", L"u", L"--version", L"1.2.3"},
         "--version 1.2.3: must be four numbers from 0 to 65535"},
        {{L"launcher", L"--file", L"a.exe", base, L"--out", L"t", L"--signing-key", L"k.pem", L"--update-host",
          L"https://updates.test/"},
         "--update-host https://updates.test/: must be the host the launcher is built for"},
        {{L"launcher", L"--file", L"a.exe", base, L"--out", L"t", L"--signing-key", L"k.pem", L"--update-host",
          L"updates test"},
         "must be the host the launcher is built for"},
        {{L"withdraw", L"--out", L"t", L"--signing-key", L"k.pem", L"--update-host", L"u"},
         "'withdraw' needs either --target or --build-key"},
        {{L"withdraw", L"--target", L"g.exe", L"--build-key", std::wstring(40, L'a'), L"--out", L"t", L"--signing-key",
          L"k.pem", L"--update-host", L"u"},
         "'withdraw' needs either --target or --build-key"},
        {{L"withdraw", L"--build-key", std::wstring(40, L'A'), L"--out", L"t", L"--signing-key", L"k.pem",
          L"--update-host", L"u"},
         "must be a build key, 40 lower-case hexadecimal digits"},
        {{L"withdraw", L"--build-key", std::wstring(40, L'a'), L"--out", L"t", L"--signing-key", L"k.pem"},
         "'withdraw' needs --update-host"},
        {{L"refresh", L"t", L"--signing-key", L"k.pem", L"--update-host", L"u"}, "'refresh' needs --expires-in"},
        {{L"refresh", L"--signing-key", L"k.pem", L"--update-host", L"u", L"--expires-in", L"30"},
         "'refresh' takes exactly one tree folder"},
        {{L"verify", L"t", L"--public-keys", L"p.pem"}, "with --public-keys and --update-host together"},
        {{L"verify", L"t", L"--update-host", L"u"}, "with --public-keys and --update-host together"},
    };
    // An expiry: a number of days as prune takes them, above 0.
    for (const std::wstring days : {L"0", L"0.0", L"-1", L"1e3", L"1000000"}) {
        cases.push_back({{L"refresh", L"t", L"--signing-key", L"k.pem", L"--update-host", L"u", L"--expires-in", days},
                         "--expires-in " + ToUtf8(days) + ": must be a number of days above 0"});
    }
    // DAYS: digits, with a fraction or not, below a million; checked before the tree is looked at.
    for (const std::wstring days :
         {L"-1", L"abc", L"1e3", L" 5", L"5 ", L"5.", L".5", L"1,5", L"1000000", L"0x10", L"+3", L"1.0000001"}) {
        cases.push_back({{L"prune", L"t", L"--older-than", days},
                         "--older-than " + ToUtf8(days) + ": must be a number of days, 0 or more"});
    }
    for (const auto& c : cases) {
        const ToolRun run = Tool(c.arguments);
        EXPECT_EQ(run.code, kExitUsage) << c.message;
        EXPECT_TRUE(run.err.starts_with("zvpublish: ")) << c.message << "\n" << run.err;
        EXPECT_TRUE(Contains(run.err, c.message)) << c.message << "\n" << run.err;
        EXPECT_TRUE(Contains(run.err, "Try 'zvpublish --help'.")) << c.message;
        EXPECT_EQ(run.out, "") << c.message;
    }
}

TEST(PublishTool, HelpGoesToStandardOutput) {
    for (const auto& arguments : std::vector<std::vector<std::wstring>>{{L"--help"}, {L"-h"}, {L"help"}}) {
        const ToolRun run = Tool(arguments);
        EXPECT_EQ(run.code, kExitSuccess);
        EXPECT_EQ(run.err, "");
        for (const char* command :
             {"key GAME.exe", "stub --target", "launcher --file", "withdraw (--target", "refresh TREE", "verify TREE",
              "status TREE", "prune TREE --older-than DAYS", "Exit status"}) {
            EXPECT_TRUE(Contains(run.out, command)) << command;
        }
    }
    // Help for one command wins over anything missing or wrong beside it.
    const ToolRun stub = Tool({L"stub", L"--help", L"--target"});
    EXPECT_EQ(stub.code, kExitSuccess);
    EXPECT_TRUE(Contains(stub.out, "stub --target GAME.exe --stub ZVClient.dll"));
    EXPECT_FALSE(Contains(stub.out, "verify TREE"));
}

TEST(PublishTool, KeyPrintsTheKeyAloneOrRefusesOnStandardError) {
    ScratchDirectory scratch;
    const fs::path game = scratch.path() / "Game.exe";
    const fs::path other = scratch.path() / "Tool.exe";
    const fs::path renamed = scratch.path() / "Game.exe.bak";
    const auto image = zv::test::BuildPe(zv::test::MakeImportingImage({"ZVClient.dll"}));
    zv::test::WriteFileBytes(game, image);
    zv::test::WriteFileBytes(renamed, image);
    zv::test::WriteFileBytes(other, zv::test::BuildPe(zv::test::MakeImportingImage({"KERNEL32.dll"})));

    const ToolRun key = Tool({L"key", game.wstring()});
    EXPECT_EQ(key.code, kExitSuccess);
    EXPECT_EQ(key.out, KeyOf(game) + "\n");
    EXPECT_EQ(key.err, "");

    const ToolRun refused = Tool({L"key", other.wstring()});
    EXPECT_EQ(refused.code, kExitFailure);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "zvpublish: " + ToUtf8(other.wstring()) +
                               ": not a client target: imports KERNEL32.dll first; a client target imports "
                               "ZVClient.dll and nothing else\n");

    // A name the launcher's search never opens: the key is right, but the file would not be found.
    const ToolRun warned = Tool({L"key", renamed.wstring()});
    EXPECT_EQ(warned.code, kExitSuccess);
    EXPECT_EQ(warned.out, KeyOf(game) + "\n");
    EXPECT_TRUE(Contains(warned.err, "warning: " + ToUtf8(renamed.wstring()) + ": the launcher opens only"))
        << warned.err;
}

TEST(PublishTool, PublishesThenVerifiesAndFailsOnATamperedTree) {
    ScratchDirectory scratch;
    const fs::path game = scratch.path() / "Game.exe";
    zv::test::WriteFileBytes(game, zv::test::BuildPe(zv::test::MakeImportingImage({"ZVClient.dll"})));
    WriteFileBytes(scratch.path() / "ZVClient.dll", "stub");
    WriteFileBytes(scratch.path() / "Foo_ZV.exe", "launcher");
    const std::wstring tree = (scratch.path() / "tree").wstring();
    const std::wstring base = L"--base-url=https://cdn.example.com/";

    const ToolRun stub = Tool({L"stub", L"--target", game.wstring(), L"--stub",
                               (scratch.path() / "ZVClient.dll").wstring(), base, L"--out", tree});
    ASSERT_EQ(stub.code, kExitSuccess) << stub.err;
    EXPECT_TRUE(Contains(stub.out, "build key  " + KeyOf(game) + "\n")) << stub.out;
    EXPECT_TRUE(Contains(stub.out, "(added)")) << stub.out;
    const ToolRun launcher =
        Tool({L"launcher", L"--file", (scratch.path() / "Foo_ZV.exe").wstring(), base, L"--out=" + tree});
    ASSERT_EQ(launcher.code, kExitSuccess) << launcher.err;

    const ToolRun good = Tool({L"verify", tree});
    EXPECT_EQ(good.code, kExitSuccess) << good.err;
    EXPECT_EQ(good.err, "");
    EXPECT_TRUE(Contains(good.out, "every manifest is good")) << good.out;

    WriteFileBytes(scratch.path() / "tree" / "launcher" / "manifest.json", "{");
    const ToolRun bad = Tool({L"verify", tree});
    EXPECT_EQ(bad.code, kExitFailure);
    EXPECT_TRUE(Contains(bad.err, "manifest.json: is not one valid JSON value")) << bad.err;
    EXPECT_TRUE(Contains(bad.err, "1 problem found")) << bad.err;
}

// ---------------------------------------------------------------------------------------------
// status and prune

const FileTime kNow = std::chrono::sys_days{std::chrono::year{2024} / 3 / 1};

// Three launcher releases: the first replaced 11 hours before kNow, the second 13 hours before,
// the third served; and a game build whose stub is served.
struct ReleasedTree {
    ScratchDirectory scratch;
    fs::path tree = scratch.path() / "tree";
    fs::path launchers[3];

    ReleasedTree() {
        const fs::path game = scratch.path() / "Game.exe";
        const fs::path source = scratch.path() / "release";
        WriteFileBytes(game, zv::test::BuildPe(zv::test::MakeImportingImage({"ZVClient.dll"})));
        WriteFileBytes(source, "stub");
        PublishStub(game.wstring(), source.wstring(), "https://cdn.example.com/", tree.wstring());
        for (int i = 0; i < 3; ++i) {
            WriteFileBytes(source, "release " + std::to_string(i));
            launchers[i] = PublishLauncher(source.wstring(), "https://cdn.example.com/", tree.wstring()).file;
        }
        SetModified(launchers[0], kNow - std::chrono::hours(11));
        SetModified(launchers[1], kNow - std::chrono::hours(13));
    }
};

TEST(PublishTool, PruneWithDryRunRemovesNothingAndOtherwiseRemovesWhatItListed) {
    const ReleasedTree t;
    const std::string tree = ToUtf8(t.tree.wstring());
    const auto before = EntriesOf(t.tree / "launcher");

    const ToolRun dry = Tool({L"prune", t.tree.wstring(), L"--older-than", L"0.5", L"--dry-run"}, kNow);
    EXPECT_EQ(dry.code, kExitSuccess);
    EXPECT_EQ(dry.err, "");
    EXPECT_EQ(dry.out, "would remove  " + ToUtf8(t.launchers[1].wstring()) + "  (9 bytes, 0.5 days old)\n" + tree +
                           ": would remove 1 file, freeing 9 bytes; kept 1 file that no manifest names, not older "
                           "than 0.5 days (--dry-run: nothing was removed)\n");
    EXPECT_EQ(EntriesOf(t.tree / "launcher"), before);

    const ToolRun pruned = Tool({L"prune", t.tree.wstring(), L"--older-than=0.5"}, kNow);
    EXPECT_EQ(pruned.code, kExitSuccess);
    EXPECT_EQ(pruned.err, "");
    EXPECT_EQ(pruned.out, "removed  " + ToUtf8(t.launchers[1].wstring()) + "  (9 bytes, 0.5 days old)\n" + tree +
                              ": removed 1 file, freed 9 bytes; kept 1 file that no manifest names, not older than "
                              "0.5 days\n");
    EXPECT_FALSE(fs::exists(t.launchers[1]));
    EXPECT_TRUE(fs::exists(t.launchers[0]));
    EXPECT_TRUE(fs::exists(t.launchers[2]));

    for (const std::wstring days : {L"0", L"007", L"999999.999999"}) {
        EXPECT_EQ(Tool({L"prune", t.tree.wstring(), L"--older-than", days, L"--dry-run"}, kNow).code, kExitSuccess)
            << ToUtf8(days);
    }
}

TEST(PublishTool, PruneSaysWhatItLeftAloneAndEndsWith1) {
    const ReleasedTree t;
    const fs::path build = fs::directory_iterator(t.tree / "stub")->path();
    const fs::path manifest = build / "manifest.json";
    WriteFileBytes(manifest, "{");

    const ToolRun run = Tool({L"prune", t.tree.wstring(), L"--older-than", L"0"}, kNow);
    EXPECT_EQ(run.code, kExitFailure);
    EXPECT_TRUE(run.err.starts_with("zvpublish: " + ToUtf8(manifest.wstring()) + ": is not one valid JSON value"))
        << run.err;
    EXPECT_TRUE(Contains(run.err, "so nothing in its folder is removed")) << run.err;
    EXPECT_TRUE(Contains(run.out, "removed 2 files")) << run.out;
    EXPECT_EQ(EntriesOf(build).size(), 2u);
}

TEST(PublishTool, StatusPrintsTextOrJson) {
    const ReleasedTree t;
    const ToolRun text = Tool({L"status", t.tree.wstring()}, kNow);
    EXPECT_EQ(text.code, kExitSuccess);
    EXPECT_TRUE(text.out.starts_with("tree " + ToUtf8(t.tree.wstring()) + " at 2024-03-01T00:00:00Z\n")) << text.out;
    EXPECT_TRUE(Contains(text.out, "named by no manifest: 2 files")) << text.out;
    const ToolRun json = Tool({L"status", L"--json", t.tree.wstring()}, kNow);
    EXPECT_EQ(json.code, kExitSuccess);
    EXPECT_TRUE(json.out.starts_with("{\n  \"format\": 2,\n")) << json.out;
    EXPECT_TRUE(Contains(json.out, "\"unreferenced_files\": 2,")) << json.out;
    EXPECT_EQ(text.err + json.err, "");
}

TEST(PublishTool, StatusAndPruneRefuseATreeThatIsNoFolder) {
    ScratchDirectory scratch;
    WriteFileBytes(scratch.path() / "file", "x");
    const std::pair<fs::path, const char*> trees[] = {{scratch.path() / "missing", "does not exist"},
                                                      {scratch.path() / "file", "is a file"}};
    for (const auto& [tree, reason] : trees) {
        for (const auto& arguments : std::vector<std::vector<std::wstring>>{
                 {L"status", tree.wstring()}, {L"prune", tree.wstring(), L"--older-than", L"0"}}) {
            const ToolRun run = Tool(arguments, kNow);
            EXPECT_EQ(run.code, kExitFailure) << reason;
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(run.err, "zvpublish: " + ToUtf8(tree.wstring()) + ": " + reason +
                                   (std::string_view(reason) == "is a file" ? "; the tree must be a folder\n" : "\n"));
        }
    }
}

#ifndef _WIN32
// The signing options as the command line takes them, at a moment the test fixes: the host in lower
// case, the expiry DAYS after now in whole seconds; withdraw and refresh on the tree stub wrote.
TEST(PublishTool, SignsWithdrawsAndRefreshesForTheUpdateHost) {
    ScratchDirectory scratch;
    const TestSigning key(scratch.path(), "key");
    const fs::path game = scratch.path() / "Game.exe";
    const fs::path stub = scratch.path() / "ZVClient.dll";
    WriteFileBytes(game, zv::test::BuildPe(zv::test::MakeImportingImage({"ZVClient.dll"})));
    WriteFileBytes(stub, VersionedImage(std::nullopt));
    const fs::path tree = scratch.path() / "tree";
    const fs::path manifest = tree / "stub" / KeyOf(game) / "manifest.json";
    const std::string path = "/stub/" + KeyOf(game) + "/manifest.json";
    const std::vector<std::wstring> signing = {L"--signing-key", key.signing.keyPath, L"--update-host",
                                               L"Updates.Test:9443"};
    const auto with = [&](std::vector<std::wstring> arguments) {
        arguments.insert(arguments.end(), signing.begin(), signing.end());
        return arguments;
    };
    const auto read = [&](FileTime at) {
        return zv::CheckSignedManifest(zv::ReadManifest(zv::test::ReadFileText(manifest)), "updates.test:9443", path,
                                       zv::ManifestPlace::Stub, key.keys, at);
    };

    const ToolRun published = Tool(with({L"stub", L"--target", game.wstring(), L"--stub", stub.wstring(), L"--base-url",
                                         L"https://cdn.example.com/", L"--out", tree.wstring(), L"--version",
                                         L"1.0.0.3", L"--expires-in", L"1.5"}),
                                   kNow);
    ASSERT_EQ(published.code, kExitSuccess) << published.err;
    EXPECT_TRUE(Contains(published.out, "(added, signed)\nversion    1.0.0.3\nexpires    2024-03-02T12:00:00Z\n"))
        << published.out;
    EXPECT_EQ(read(kNow).trust, zv::ManifestTrust::Trusted) << read(kNow).problem;
    EXPECT_EQ(read(kNow).release.expires, "2024-03-02T12:00:00Z");

    const ToolRun withdrawn =
        Tool(with({L"withdraw", L"--build-key", FromUtf8(KeyOf(game)), L"--out", tree.wstring()}), kNow);
    ASSERT_EQ(withdrawn.code, kExitSuccess) << withdrawn.err;
    EXPECT_TRUE(Contains(withdrawn.out, "(replaced, signed withdrawal)\nversion    1.0.0.4\nexpires    never\n"))
        << withdrawn.out;
    EXPECT_TRUE(read(kNow).withdrawn);
    const ToolRun again = Tool(with({L"withdraw", L"--target", game.wstring(), L"--out", tree.wstring()}), kNow);
    EXPECT_EQ(again.code, kExitSuccess);
    EXPECT_TRUE(Contains(again.out, "(unchanged: it already withdraws this build, at version 1.0.0.4;")) << again.out;

    const FileTime later = kNow + std::chrono::hours(24 * 365);
    const ToolRun refreshed = Tool(with({L"refresh", tree.wstring(), L"--expires-in", L"30"}), later);
    ASSERT_EQ(refreshed.code, kExitSuccess) << refreshed.err;
    EXPECT_TRUE(Contains(refreshed.out, "(withdrawal at version 1.0.0.4)\n")) << refreshed.out;
    EXPECT_TRUE(Contains(refreshed.out, ": signed 1 manifest again, expiring 2025-03-31T00:00:00Z\n")) << refreshed.out;
    EXPECT_EQ(read(later).release.expires, "2025-03-31T00:00:00Z");
    // Days that reach past the year 2262, where a clock counting nanoseconds ends.
    ASSERT_EQ(Tool(with({L"refresh", tree.wstring(), L"--expires-in", L"999999"}), later).code, kExitSuccess);
    EXPECT_EQ(read(later).release.expires, "4763-01-26T00:00:00Z");
    ASSERT_EQ(Tool(with({L"refresh", tree.wstring(), L"--expires-in", L"30"}), later).code, kExitSuccess);

    // status warns, on standard error, about what expires within the week.
    const ToolRun status = Tool({L"status", tree.wstring()}, later + std::chrono::hours(24 * 25));
    EXPECT_EQ(status.code, kExitSuccess);
    EXPECT_EQ(status.err, "zvpublish: warning: " + ToUtf8(manifest.wstring()) +
                              ": expires at 2025-03-31T00:00:00Z, in 5.0 days; renew it with zvpublish refresh "
                              "before then\n");

    // The signing key of another tool's build is refused plainly.
    const ToolRun missingKey =
        Tool({L"refresh", tree.wstring(), L"--signing-key", (scratch.path() / "none.pem").wstring(), L"--update-host",
              L"u", L"--expires-in", L"1"},
             kNow);
    EXPECT_EQ(missingKey.code, kExitFailure);
}
#endif

// Text from a tree reaches the terminal escaped: a manifest's url, or a folder's name, with an escape
// sequence and a line break cannot act on the terminal or forge a line.
TEST(PublishTool, PrintsTextFromATreeEscaped) {
    const ReleasedTree t;
    WriteFileBytes(t.tree / "launcher" / "manifest.json",
                   R"({"sha1": "0000000000000000000000000000000000000000", )"
                   R"("url": "https://cdn.example.com/x\u001b]0;owned\u0007\nzvpublish: ok.dll"})");
    std::vector<std::vector<std::wstring>> commands = {{L"status", t.tree.wstring()}};
#ifndef _WIN32
    // Windows names hold no control characters.
    fs::create_directory(t.tree / "stub" / "x\x1b]0;owned\x07\nzvpublish: ok");
    commands.push_back({L"verify", t.tree.wstring()});
#endif
    const char* escaped = "x\\x1B]0;owned\\x07\\x0Azvpublish: ok";
    for (const auto& arguments : commands) {
        const ToolRun run = Tool(arguments, kNow);
        for (const std::string& text : {run.out, run.err}) {
            EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;
            EXPECT_EQ(text.find('\x07'), std::string::npos) << text;
            EXPECT_EQ(text.find("\nzvpublish: ok"), std::string::npos) << text;
        }
        EXPECT_TRUE(Contains(run.out + run.err, escaped)) << run.out << run.err;
    }
}

}  // namespace
