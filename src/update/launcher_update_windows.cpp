#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/process_paths.h"
#include "common/unique_handle.h"
#include "update/replacement_command.h"
#include "update/update_windows.h"

namespace zv {

namespace {

// The interpreter's environment is the launcher's own with the hand-over's variables added: they
// are set just for the start and removed again on every path out.
class ScopedEnvironment {
public:
    explicit ScopedEnvironment(const std::vector<std::pair<std::wstring, std::wstring>>& variables) {
        for (const auto& [name, value] : variables) {
            if (!::SetEnvironmentVariableW(name.c_str(), value.c_str())) {
                failed_ = true;
                error_ = ::GetLastError();
                break;
            }
            names_.push_back(name);
        }
    }
    ~ScopedEnvironment() {
        const DWORD saved = ::GetLastError();
        for (const auto& name : names_) {
            ::SetEnvironmentVariableW(name.c_str(), nullptr);
        }
        ::SetLastError(saved);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    bool failed() const { return failed_; }
    DWORD error() const { return error_; }

private:
    std::vector<std::wstring> names_;
    bool failed_ = false;
    DWORD error_ = 0;
};

}  // namespace

std::wstring WindowsSelfUpdatePlatform::SystemFolder() {
    return ReadGrowingPath(
        [](wchar_t* buffer, std::uint32_t size) -> std::uint32_t { return ::GetSystemDirectoryW(buffer, size); });
}

bool WindowsSelfUpdatePlatform::CanReplace(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return false;
    }
    // Access is checked before sharing: a file the user may write but that is running (as the
    // launcher's own file is until it ends) is refused only for sharing. Nothing is written.
    const UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
        return true;
    }
    const DWORD error = ::GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_FILE_NOT_FOUND;
}

ProcessStart WindowsSelfUpdatePlatform::StartHidden(const ReplacementCommand& command) {
    const ScopedEnvironment environment(command.environment);
    if (environment.failed()) {
        return {false, environment.error()};
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    UniqueProcessInformation process;
    std::wstring line = command.line;  // CreateProcessW may write into it
    if (!::CreateProcessW(command.interpreter.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &startup, process.put())) {
        return {false, ::GetLastError()};
    }
    return {true, 0};
}

void WindowsSelfUpdatePlatform::ExitProcess() { ::ExitProcess(0); }

std::optional<std::wstring> TakeHandedOverArguments() {
    std::optional<std::wstring> forwarded;
    std::wstring value(kInterpreterStringLimit + 1, L'\0');
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD n =
            ::GetEnvironmentVariableW(kReplacementArgumentsVariable, value.data(), static_cast<DWORD>(value.size()));
        if (n == 0 && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
            break;
        }
        if (n < value.size()) {
            value.resize(n);
            forwarded = std::move(value);
            break;
        }
        value.assign(n, L'\0');
    }
    for (const wchar_t* name : kReplacementVariables) {
        ::SetEnvironmentVariableW(name, nullptr);
    }
    return forwarded;
}

}  // namespace zv
