#include <windows.h>
#include <shellapi.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/unique_handle.h"
#include "launch/command_line.h"
#include "launch/process_paths.h"

namespace zv {

std::wstring GetModulePath() {
    return ReadGrowingPath(
        [](wchar_t* buffer, std::uint32_t size) { return ::GetModuleFileNameW(nullptr, buffer, size); });
}

namespace {

// What a self-update handed over; only the main thread touches it.
std::optional<std::wstring> g_handedOverArguments;

// The arguments after the program name of a command line split by the platform's standard rules;
// nothing when it cannot be split.
std::optional<std::vector<std::wstring>> SplitArguments(const wchar_t* commandLine) {
    int count = 0;
    wchar_t** argv = ::CommandLineToArgvW(commandLine, &count);
    const UniqueLocal owner(reinterpret_cast<HLOCAL>(argv));
    if (argv == nullptr) {
        return std::nullopt;
    }
    return count < 2 ? std::vector<std::wstring>{} : std::vector<std::wstring>(argv + 1, argv + count);
}

}  // namespace

void AdoptHandedOverArguments(std::wstring text) { g_handedOverArguments = std::move(text); }

std::wstring BuildForwardedArguments() {
    const std::optional<std::vector<std::wstring>> own = SplitArguments(::GetCommandLineW());
    if (!own) {
        return {};
    }
    std::optional<std::vector<std::wstring>> handedOver;
    if (g_handedOverArguments) {
        // Split behind a program name of its own, exactly as the same text would be on a command line.
        handedOver = SplitArguments((L"ZVLauncher.exe " + *g_handedOverArguments).c_str());
    }
    return ForwardedArgumentText(*own, handedOver);
}

}  // namespace zv
