#include "cli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "file_bytes.h"
#include "pe_builder.h"
#include "publish_test_support.h"
#include "scratch_directory.h"

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

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(PublishTool, WrongUsageExitsWith2AndSaysWhatIsWrong) {
    struct UsageCase {
        std::vector<std::wstring> arguments;
        const char* message;
    };
    const std::wstring base = L"--base-url=https://cdn.example.com/";
    const UsageCase cases[] = {
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
    };
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
        for (const char* command : {"key GAME.exe", "stub --target", "launcher --file", "verify TREE", "Exit status"}) {
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

}  // namespace
