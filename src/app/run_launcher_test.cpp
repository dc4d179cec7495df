#include "app/run_launcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "build_tree.h"
#include "common/log.h"
#include "common/text.h"
#include "file_bytes.h"

namespace {

using zv::LaunchResult;
using zv::StepResult;

// Records every operation of the run in order; each answer is set by the test.
class FakeSteps final : public zv::LauncherSteps {
public:
    bool guardFree = true;
    bool accepted = true;
    bool consent = true;
    StepResult launcherResult;
    StepResult gameResult;
    bool launcherThrows = false;
    bool gameThrows = false;
    std::vector<std::string> journal;

    bool AcquireInstanceGuard() override {
        journal.push_back("acquire");
        return guardFree;
    }
    void ReleaseInstanceGuard() override { journal.push_back("release"); }
    void StartUiThread() override { journal.push_back("ui"); }
    void ShowSplash() override { journal.push_back("show"); }
    void HideSplash() override { journal.push_back("hide"); }
    void CloseSplash() override { journal.push_back("close"); }
    bool ReadAgreementAccepted() override {
        journal.push_back("read-eula");
        return accepted;
    }
    void RecordAgreementAccepted() override { journal.push_back("write-eula"); }
    bool AskForConsent() override {
        journal.push_back("consent");
        return consent;
    }
    StepResult UpdateLauncher() override {
        journal.push_back("self-update");
        if (launcherThrows) {
            throw std::invalid_argument("Invalid hex digit");
        }
        return launcherResult;
    }
    StepResult UpdateAndLaunchGame() override {
        journal.push_back("game");
        if (gameThrows) {
            throw std::runtime_error("parse error");
        }
        return gameResult;
    }
    void ShowMessage(std::wstring_view text, std::wstring_view caption, unsigned flags) override {
        journal.push_back("box " + zv::ToUtf8(caption) + " / " + zv::ToUtf8(text) + " / " + std::to_string(flags));
    }
};

using Journal = std::vector<std::string>;

struct FlowCase {
    const char* name;
    void (*arrange)(FakeSteps&);
    int exitCode;
    Journal journal;
};

const FlowCase kFlows[] = {
    {"second instance: information box, nothing else",
     [](FakeSteps& s) { s.guardFree = false; },
     1,
     {"acquire", "box Zarnovelle Launcher / Another instance is already running / 64"}},
    {"accepted and everything current",
     [](FakeSteps&) {},
     0,
     {"acquire", "ui", "read-eula", "self-update", "game", "release"}},
    {"asked and accepted: recorded, splash back, run goes on",
     [](FakeSteps& s) { s.accepted = false; },
     0,
     {"acquire", "ui", "read-eula", "hide", "consent", "write-eula", "show", "self-update", "game", "release"}},
    {"asked and refused: no box, no record, splash stays hidden",
     [](FakeSteps& s) {
         s.accepted = false;
         s.consent = false;
     },
     1,
     {"acquire", "ui", "read-eula", "hide", "consent", "release"}},
    {"self-update fails: its box, the game step never runs",
     [](FakeSteps& s) { s.launcherResult = LaunchResult::LauncherManifestMissingUrl; },
     1,
     {"acquire", "ui", "read-eula", "self-update", "close",
      "box Launcher Update Error / Launcher manifest is missing download URL. / 16", "release"}},
    {"game step fails",
     [](FakeSteps& s) { s.gameResult = LaunchResult::StubManifestFetchFailed; },
     1,
     {"acquire", "ui", "read-eula", "self-update", "game", "close",
      "box Game Update Error / Failed to fetch game stub manifest from server. / 16", "release"}},
    {"game start refused: the number captured at the failed call reaches the text",
     [](FakeSteps& s) { s.gameResult = StepResult(LaunchResult::CreateProcessFailed, 193); },
     1,
     {"acquire", "ui", "read-eula", "self-update", "game", "close",
      "box Game Update Error / CreateProcessW failed. Error=193 / 16", "release"}},
    {"elevation refused after consent",
     [](FakeSteps& s) {
         s.accepted = false;
         s.gameResult = LaunchResult::ElevationRefused;
     },
     1,
     {"acquire", "ui", "read-eula", "hide", "consent", "write-eula", "show", "self-update", "game", "close",
      "box Game Update Error / User refused elevation. / 16", "release"}},
    {"self-update throws: one unknown-error box under its caption",
     [](FakeSteps& s) { s.launcherThrows = true; },
     1,
     {"acquire", "ui", "read-eula", "self-update", "close",
      "box Launcher Update Error / An unknown error occurred. / 16", "release"}},
    {"game step throws: one unknown-error box under its caption",
     [](FakeSteps& s) { s.gameThrows = true; },
     1,
     {"acquire", "ui", "read-eula", "self-update", "game", "close",
      "box Game Update Error / An unknown error occurred. / 16", "release"}},
};

TEST(RunLauncher, RunsTheStepsInOrderAndEndsEachPathAsTheTableSays) {
    for (const auto& flow : kFlows) {
        FakeSteps steps;
        flow.arrange(steps);
        EXPECT_EQ(zv::RunLauncher(steps, zv::PlayerTexts()), flow.exitCode) << flow.name;
        EXPECT_EQ(steps.journal, flow.journal) << flow.name;
    }
}

TEST(RunLauncher, EveryFailureOfEitherStepGivesItsOwnText) {
    for (std::uint32_t value = 1; value <= 20; ++value) {
        for (const bool selfUpdate : {true, false}) {
            FakeSteps steps;
            (selfUpdate ? steps.launcherResult : steps.gameResult) = static_cast<LaunchResult>(value);
            EXPECT_EQ(zv::RunLauncher(steps, zv::PlayerTexts()), 1);
            const std::wstring text = zv::DescribeLaunchResult(static_cast<LaunchResult>(value));
            const std::string expected = std::string("box ") + (selfUpdate ? "Launcher" : "Game") + " Update Error / " +
                                         std::string(text.begin(), text.end()) + " / 16";
            ASSERT_GE(steps.journal.size(), 2u);
            EXPECT_EQ(steps.journal[steps.journal.size() - 2], expected) << value;
            EXPECT_EQ(steps.journal.back(), "release") << value;
        }
    }
}

class LogLines final : public zv::LogSink {
public:
    std::vector<std::string> lines;
    void WriteLine(std::string_view line) noexcept override { lines.emplace_back(line); }
};

zv::PlayerTexts GermanTexts() {
    const auto file = zv::test::SourceTreePath("resources/texts/de.txt");
    if (!file) {
        throw std::runtime_error("ZV_SOURCE_DIR is not set: run the tests with ctest");
    }
    return std::get<zv::PlayerTexts>(zv::PlayerTexts::Read(zv::test::ReadFileText(*file)));
}

// The player reads the boxes in the language of the texts; support reads the log in English.
TEST(RunLauncher, SpeaksThePlayersLanguageAndLogsInEnglish) {
    const zv::PlayerTexts german = GermanTexts();
    struct Case {
        void (*arrange)(FakeSteps&);
        const char* box;
        const char* logged;
    };
    const Case cases[] = {
        {[](FakeSteps& s) { s.gameResult = StepResult(LaunchResult::CreateProcessFailed, 193); },
         "box Fehler beim Spiel-Update / CreateProcessW fehlgeschlagen. Fehler=193 / 16",
         "result 20: CreateProcessW failed. Error=193"},
        {[](FakeSteps& s) { s.launcherResult = LaunchResult::LauncherManifestFetchFailed; },
         "box Fehler beim Launcher-Update / Das Update-Manifest des Launchers konnte nicht vom Server abgerufen "
         "werden. / 16",
         "result 1: Failed to fetch launcher update manifest from server."},
        {[](FakeSteps& s) { s.guardFree = false; },
         "box Zarnovelle-Launcher / Eine andere Instanz wird bereits ausgeführt / 64", "another launcher is running"},
    };
    for (const Case& c : cases) {
        FakeSteps steps;
        c.arrange(steps);
        LogLines log;
        zv::SetLogSink(&log);
        EXPECT_EQ(zv::RunLauncher(steps, german), 1);
        zv::SetLogSink(nullptr);
        EXPECT_NE(std::find(steps.journal.begin(), steps.journal.end(), c.box), steps.journal.end()) << c.box;
        EXPECT_TRUE(std::any_of(log.lines.begin(), log.lines.end(), [&](const std::string& line) {
            return line.find(c.logged) != std::string::npos;
        })) << c.logged;
    }
}

}  // namespace
