#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "common/unique_handle.h"
#include "launch/command_line.h"
#include "launch/process_paths.h"

namespace zv {

std::wstring GetModulePath() {
    return ReadGrowingPath(
        [](wchar_t* buffer, std::uint32_t size) { return ::GetModuleFileNameW(nullptr, buffer, size); });
}

std::wstring BuildForwardedArguments() {
    int count = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    UniqueLocal owner(reinterpret_cast<HLOCAL>(argv));
    if (argv == nullptr || count < 2) {
        return {};
    }
    std::vector<std::wstring> forwarded(argv + 1, argv + count);
    return JoinQuotedArguments(forwarded);
}

}  // namespace zv
