#include <windows.h>
#include <shellapi.h>

#include <optional>
#include <string>
#include <vector>

#include "common/process_paths.h"
#include "common/unique_handle.h"

namespace zv {

std::wstring GetModulePath() {
    return ReadGrowingPath(
        [](wchar_t* buffer, std::uint32_t size) { return ::GetModuleFileNameW(nullptr, buffer, size); });
}

std::optional<std::vector<std::wstring>> SplitCommandLine(const wchar_t* commandLine) {
    int count = 0;
    wchar_t** argv = ::CommandLineToArgvW(commandLine, &count);
    const UniqueLocal owner(reinterpret_cast<HLOCAL>(argv));
    if (argv == nullptr) {
        return std::nullopt;
    }
    return count < 2 ? std::vector<std::wstring>{} : std::vector<std::wstring>(argv + 1, argv + count);
}

std::optional<std::vector<std::wstring>> OwnArguments() { return SplitCommandLine(::GetCommandLineW()); }

}  // namespace zv
