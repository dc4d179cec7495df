#include "hand_over_model.h"

#include <optional>
#include <sstream>

#include "argv_split.h"
#include "common/command_line.h"

namespace zv::test {

namespace {

std::vector<std::wstring> ArgumentsAfterProgram(const std::wstring& commandLine) {
    std::vector<std::wstring> split = SplitCommandLine(commandLine);
    if (!split.empty()) {
        split.erase(split.begin());
    }
    return split;
}

std::wstring Describe(const std::vector<std::wstring>& words) {
    std::wstring text;
    for (const auto& w : words) {
        text += L"[" + w + L"]";
    }
    return text;
}

}  // namespace

std::vector<std::wstring> ArgumentsOfRestartedLauncher(const std::wstring& commandLine, const Environment& inherited) {
    std::optional<std::vector<std::wstring>> handedOver;
    if (const auto it = inherited.find(kReplacementArgumentsVariable); it != inherited.end()) {
        handedOver = ArgumentsAfterProgram(L"ZVLauncher.exe " + it->second);
    }
    const std::wstring forwarded =
        JoinQuotedArguments(ForwardedArguments(ArgumentsAfterProgram(commandLine), handedOver));
    return ArgumentsAfterProgram(L"\"C:\\Games\\Foo\\Foo_ZV.exe\" " + forwarded);
}

HandOverOutcome PlayHandOver(const ReplacementCommand& command, const std::wstring& systemFolder,
                             const std::wstring& tempPath, const std::wstring& selfPath,
                             const Environment& launcherEnvironment) {
    Environment environment = launcherEnvironment;
    for (const auto& [name, value] : command.environment) {
        environment[name] = value;
    }
    const InterpreterRun run = RunInterpreter(command.line, environment);
    HandOverOutcome outcome;
    const auto expect = [&outcome](bool ok, const std::wstring& what) {
        if (!ok && outcome.fault.empty()) {
            outcome.fault = what;
        }
    };
    expect(command.interpreter == systemFolder + L"\\cmd.exe", L"interpreter " + command.interpreter);
    expect(run.commands.size() == 4, L"commands: " + std::to_wstring(run.commands.size()));
    expect(run.separators == std::vector<std::wstring>{L"&&", L"&&", L"&&"}, L"separators");
    if (!outcome.fault.empty()) {
        return outcome;
    }
    const auto& wait = run.commands[0];
    expect(wait.name == systemFolder + L"\\timeout.exe", L"wait program " + wait.name);
    expect(wait.words == std::vector<std::wstring>{L"/t", L"2", L"/nobreak"}, L"wait " + Describe(wait.words));
    expect(wait.redirects == std::vector<std::wstring>{L">nul"}, L"wait output");
    const auto& copy = run.commands[1];
    expect(copy.name == L"copy" && copy.words == std::vector<std::wstring>{L"/y", tempPath, selfPath},
           L"copy " + Describe(copy.words));
    expect(copy.redirects == std::vector<std::wstring>{L">nul"}, L"copy output");
    const auto& del = run.commands[2];
    expect(del.name == L"del" && del.words == std::vector<std::wstring>{tempPath}, L"del " + Describe(del.words));
    const auto& start = run.commands[3];
    const std::optional<StartedProgram> started = ProgramStartedBy(start);
    expect(start.name == L"start" && started && started->program == selfPath, L"start" + start.tail);
    if (started) {
        expect(started->commandLine == L"\"" + selfPath + L"\"", L"started with " + started->commandLine);
        // The started launcher inherits the interpreter's environment.
        outcome.restartedArguments = ArgumentsOfRestartedLauncher(started->commandLine, environment);
    }
    return outcome;
}

}  // namespace zv::test
