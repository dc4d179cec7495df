#include "launch/game_launch.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using zv::LaunchResult;
using zv::ProcessStart;
using zv::StepResult;

struct ExitedProcess {};

// Stands in for process creation, the token query and the elevation prompt: Wine cannot refuse a
// start with 740, shows no elevation prompt and reports every process as elevated.
class FakeLaunchPlatform final : public zv::LaunchPlatform {
public:
    ProcessStart game;
    bool elevated = false;
    ProcessStart elevatedCopy;
    std::vector<std::string> journal;
    std::wstring commandLine;
    std::wstring elevatedFile;
    std::wstring elevatedParameters;

    ProcessStart StartGame(std::wstring& line) override {
        journal.push_back("start-game");
        commandLine = line;
        return game;
    }
    bool IsProcessElevated() override {
        journal.push_back("token");
        return elevated;
    }
    void ReleaseInstanceGuard() override { journal.push_back("release"); }
    ProcessStart StartElevated(const std::wstring& file, const std::wstring& parameters) override {
        journal.push_back("runas");
        elevatedFile = file;
        elevatedParameters = parameters;
        return elevatedCopy;
    }
    [[noreturn]] void ExitProcess() override {
        journal.push_back("exit-0");
        throw ExitedProcess{};
    }
};

TEST(BuildGameCommandLine, QuotesThePathAndPutsTheLauncherArgumentLast) {
    EXPECT_EQ(zv::BuildGameCommandLine(L"C:\\Games\\Foo\\Foo.exe", L""),
              L"\"C:\\Games\\Foo\\Foo.exe\" --zarnovelle-launcher");
    EXPECT_EQ(zv::BuildGameCommandLine(L"C:\\My Games\\Foo.exe", L"-windowed \"a b\""),
              L"\"C:\\My Games\\Foo.exe\" -windowed \"a b\" --zarnovelle-launcher");
    // Given to the launcher, the launcher argument is forwarded too: the game sees it twice.
    EXPECT_EQ(zv::BuildGameCommandLine(L"G.exe", L"--zarnovelle-launcher"),
              L"\"G.exe\" --zarnovelle-launcher --zarnovelle-launcher");
}

zv::RunningLauncher Launcher(std::wstring forwarded) {
    return {L"C:\\Games\\Foo\\Foo_ZV.exe", std::move(forwarded), zv::Version{}};
}

struct LaunchCase {
    const char* name;
    ProcessStart game;
    bool elevated;
    ProcessStart elevatedCopy;
    bool exits;  // the run is handed over and the process ends with 0
    StepResult result;
    std::vector<std::string> journal;
};

const LaunchCase kLaunches[] = {
    {"started", {true, 0}, false, {}, false, LaunchResult::Success, {"start-game"}},
    {"not a valid program", {false, 193}, false, {}, false, {LaunchResult::CreateProcessFailed, 193}, {"start-game"}},
    {"file missing", {false, 2}, false, {}, false, {LaunchResult::CreateProcessFailed, 2}, {"start-game"}},
    {"needs elevation: handed over",
     {false, 740},
     false,
     {true, 0},
     true,
     {},
     {"start-game", "token", "release", "runas", "exit-0"}},
    {"access denied: handed over as well",
     {false, 5},
     false,
     {true, 0},
     true,
     {},
     {"start-game", "token", "release", "runas", "exit-0"}},
    {"needs elevation, user says no",
     {false, 740},
     false,
     {false, 1223},
     false,
     LaunchResult::ElevationRefused,
     {"start-game", "token", "release", "runas"}},
    {"needs elevation, the shell fails otherwise",
     {false, 740},
     false,
     {false, 1155},
     false,
     {LaunchResult::ShellExecuteFailed, 1155},
     {"start-game", "token", "release", "runas"}},
    {"already elevated: never elevates again, reports the start's own error",
     {false, 740},
     true,
     {},
     false,
     {LaunchResult::CreateProcessFailed, 740},
     {"start-game", "token"}},
    {"already elevated and access denied",
     {false, 5},
     true,
     {},
     false,
     {LaunchResult::CreateProcessFailed, 5},
     {"start-game", "token"}},
};

TEST(LaunchGame, StartsOrHandsOverAsWindowsAnswers) {
    for (const auto& c : kLaunches) {
        FakeLaunchPlatform platform;
        platform.game = c.game;
        platform.elevated = c.elevated;
        platform.elevatedCopy = c.elevatedCopy;
        bool exited = false;
        StepResult result;
        try {
            result = zv::LaunchGame(L"C:\\Games\\Foo\\Foo.exe", Launcher(L"-a \"b c\""), platform);
        } catch (const ExitedProcess&) {
            exited = true;
        }
        EXPECT_EQ(exited, c.exits) << c.name;
        if (!c.exits) {
            EXPECT_EQ(result, c.result) << c.name;
        }
        EXPECT_EQ(platform.journal, c.journal) << c.name;
        EXPECT_EQ(platform.commandLine, L"\"C:\\Games\\Foo\\Foo.exe\" -a \"b c\" --zarnovelle-launcher") << c.name;
    }
}

TEST(LaunchGame, TheElevatedCopyGetsTheLauncherPathAndOnlyTheForwardedArguments) {
    for (const std::wstring forwarded : {L"", L"-a \"b c\""}) {
        FakeLaunchPlatform platform;
        platform.game = {false, 740};
        platform.elevatedCopy = {false, 1223};
        zv::LaunchGame(L"C:\\Games\\Foo\\Foo.exe", Launcher(forwarded), platform);
        EXPECT_EQ(platform.elevatedFile, L"C:\\Games\\Foo\\Foo_ZV.exe");
        EXPECT_EQ(platform.elevatedParameters, forwarded);
    }
}

}  // namespace
