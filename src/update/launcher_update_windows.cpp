#include <windows.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/handle_source.h"
#include "common/unique_handle.h"
#include "update/launcher_update.h"
#include "update/probation.h"
#include "update/update_windows.h"

namespace zv {

namespace {

// Every variable a hand-over may leave: the older interpreter hand-over's four and the probation's.
constexpr const wchar_t* kHandOverVariables[] = {L"ZV_REPLACEMENT_TIMEOUT", L"ZV_REPLACEMENT_DOWNLOAD",
                                                 L"ZV_REPLACEMENT_SELF", kReplacementArgumentsVariable,
                                                 kProbationVariable};

// The new launcher's environment is this one's with the probation's variable added: it is set just
// for the start and removed again on every path out.
class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
        if (!::SetEnvironmentVariableW(name, value.c_str())) {
            error_ = ::GetLastError();
        }
    }
    ~ScopedVariable() {
        const DWORD saved = ::GetLastError();
        ::SetEnvironmentVariableW(name_, nullptr);
        ::SetLastError(saved);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

    [[nodiscard]] DWORD error() const { return error_; }

private:
    const wchar_t* name_;
    DWORD error_ = 0;
};

// The attribute list that lets the new launcher inherit exactly the handles named, no others.
class InheritedHandles {
public:
    explicit InheritedHandles(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        buffer_.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
        if (!::InitializeProcThreadAttributeList(list, 1, 0, &size)) {
            error_ = ::GetLastError();
            return;
        }
        list_ = list;
        if (!::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                         handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
            error_ = ::GetLastError();
        }
    }
    ~InheritedHandles() {
        if (list_) {
            ::DeleteProcThreadAttributeList(list_);
        }
    }
    InheritedHandles(const InheritedHandles&) = delete;
    InheritedHandles& operator=(const InheritedHandles&) = delete;

    [[nodiscard]] LPPROC_THREAD_ATTRIBUTE_LIST list() const { return error_ == 0 ? list_ : nullptr; }
    [[nodiscard]] DWORD error() const { return error_; }

private:
    std::vector<HANDLE> handles_;  // the attribute points into this, so it lives as long
    std::vector<char> buffer_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
    DWORD error_ = 0;
};

bool IsSignalled(HANDLE object) { return ::WaitForSingleObject(object, 0) == WAIT_OBJECT_0; }

// Whether a top-level window of the process is visible.
bool ShowsWindow(DWORD processId) {
    struct Search {
        DWORD processId;
        bool found;
    } search{processId, false};
    ::EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto* s = reinterpret_cast<Search*>(parameter);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(window, &owner);
            if (owner == s->processId && ::IsWindowVisible(window)) {
                s->found = true;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

class WindowsSuccessor final : public Successor {
public:
    WindowsSuccessor(UniqueHandle process, DWORD processId, UniqueHandle confirmed)
        : process_(std::move(process)),
          processId_(processId),
          confirmed_(std::move(confirmed)),
          start_(std::chrono::steady_clock::now()) {}

    ProbationState Watch(std::chrono::milliseconds interval) override {
        const HANDLE objects[] = {confirmed_.get(), process_.get()};
        ::WaitForMultipleObjects(2, objects, FALSE, static_cast<DWORD>(interval.count()));
        ProbationState state;
        state.confirmed = IsSignalled(confirmed_.get());
        state.ended = IsSignalled(process_.get());
        state.sinceStart =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_);
        state.showsWindow = !state.ended && ShowsWindow(processId_);
        return state;
    }

    void End() override {
        ::TerminateProcess(process_.get(), 1);
        ::WaitForSingleObject(process_.get(), 10000);
    }

private:
    UniqueHandle process_;
    DWORD processId_;
    UniqueHandle confirmed_;
    std::chrono::steady_clock::time_point start_;
};

HANDLE HandleFromValue(std::uint64_t value) { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(value)); }

std::uint64_t ValueOfHandle(HANDLE handle) {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(handle));
}

// A variable's value; nothing when it is not set. Values longer than limit are not read.
std::optional<std::wstring> ReadVariable(const wchar_t* name, std::size_t limit) {
    std::wstring value(limit + 1, L'\0');
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD n = ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
        if (n == 0 && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
            return std::nullopt;
        }
        if (n < value.size()) {
            value.resize(n);
            return value;
        }
        value.assign(n, L'\0');
    }
}

}  // namespace

WindowsSelfUpdatePlatform::WindowsSelfUpdatePlatform(std::optional<ProbationToken> probation, SelfUpdateHooks hooks)
    : probation_(probation), hooks_(std::move(hooks)) {}

bool WindowsSelfUpdatePlatform::ConfirmStart() noexcept {
    if (!probation_ || confirmed_) {
        return false;
    }
    confirmed_ = true;
    // The handles were inherited under these values; a value that names no such object makes the
    // calls fail and changes nothing.
    ::SetErrorMode(probation_->errorMode);
    ::SetEvent(HandleFromValue(probation_->confirmEvent));
    ::WaitForSingleObject(HandleFromValue(probation_->watcherProcess),
                          static_cast<DWORD>(std::chrono::milliseconds(kWatcherEndLimit).count()));
    return true;
}

bool WindowsSelfUpdatePlatform::CanReplace(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return false;
    }
    // Access is checked before sharing: a file the user may move but that another process holds
    // (as a scanner may) is refused only for sharing. Nothing is changed.
    const UniqueFile file(::CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file || ::GetLastError() == ERROR_SHARING_VIOLATION;
}

RenameOutcome WindowsSelfUpdatePlatform::Rename(const std::wstring& from, const std::wstring& to) {
    // A rename only, never a copy: both names are in the launcher's folder.
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return {RenameOutcome::Kind::Done, 0};
    }
    return RenameFailure(::GetLastError(), {from, to});
}

void WindowsSelfUpdatePlatform::StepAside() {
    if (hooks_.stepAside) {
        hooks_.stepAside();
    }
}

void WindowsSelfUpdatePlatform::ComeBack() {
    if (hooks_.comeBack) {
        hooks_.comeBack();
    }
}

SuccessorStart WindowsSelfUpdatePlatform::StartOnProbation(const std::wstring& path, const std::wstring& forwarded,
                                                           const FileDigests& checked, bool withSha256) {
    // Read under a handle that lets nobody write, rename or delete the file, from the check until
    // the process has started from it; then its image keeps it from being written.
    const UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return {SuccessorStart::Kind::Changed, nullptr, ::GetLastError()};
    }
    HandleSource source(file.get());
    const std::optional<FileDigests> digests = HashSource(source, withSha256);
    if (!digests || digests->sha1 != checked.sha1 || (withSha256 && digests->sha256 != checked.sha256)) {
        return {SuccessorStart::Kind::Changed, nullptr, 0};
    }

    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    UniqueHandle confirmed(::CreateEventW(&inheritable, TRUE, FALSE, nullptr));
    UniqueHandle watcher;
    if (!confirmed || !::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(),
                                         watcher.put(), SYNCHRONIZE, TRUE, 0)) {
        return {SuccessorStart::Kind::NotStarted, nullptr, ::GetLastError()};
    }
    const UINT errorMode = ::GetErrorMode();
    const ScopedVariable variable(kProbationVariable, FormatProbationToken({ValueOfHandle(confirmed.get()),
                                                                            ValueOfHandle(watcher.get()), errorMode}));
    if (variable.error() != 0) {
        return {SuccessorStart::Kind::NotStarted, nullptr, variable.error()};
    }
    const InheritedHandles inherited({confirmed.get(), watcher.get()});
    if (!inherited.list()) {
        return {SuccessorStart::Kind::NotStarted, nullptr, inherited.error()};
    }
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.lpAttributeList = inherited.list();
    std::wstring line = BuildRestartCommandLine(path, forwarded);  // CreateProcessW may write into it
    // No error boxes of the system for the new launcher until it confirms: a release that crashes
    // or misses a library ends at once instead of waiting for a player to dismiss a box that is
    // not the launcher's. The new launcher inherits the mode and restores this one once confirmed.
    ::SetErrorMode(errorMode | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    UniqueProcessInformation process;
    const BOOL started =
        ::CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, TRUE, EXTENDED_STARTUPINFO_PRESENT, nullptr,
                         nullptr, &startup.StartupInfo, process.put());
    const DWORD error = started ? 0 : ::GetLastError();
    ::SetErrorMode(errorMode);
    if (!started) {
        return {SuccessorStart::Kind::NotStarted, nullptr, error};
    }
    UniqueHandle child;
    if (!::DuplicateHandle(::GetCurrentProcess(), process.process(), ::GetCurrentProcess(), child.put(), 0, FALSE,
                           DUPLICATE_SAME_ACCESS)) {
        // It runs, but cannot be watched: it is ended and counts as not started.
        const DWORD duplicateError = ::GetLastError();
        ::TerminateProcess(process.process(), 1);
        return {SuccessorStart::Kind::NotStarted, nullptr, duplicateError};
    }
    return {
        SuccessorStart::Kind::Started,
        std::make_unique<WindowsSuccessor>(std::move(child), ::GetProcessId(process.process()), std::move(confirmed)),
        0};
}

void WindowsSelfUpdatePlatform::ExitProcess() { ::ExitProcess(0); }

HandedOver TakeHandedOver() {
    HandedOver handed;
    handed.arguments = ReadVariable(kReplacementArgumentsVariable, kHandedOverArgumentsLimit);
    if (const std::optional<std::wstring> token = ReadVariable(kProbationVariable, 64)) {
        handed.probation = ParseProbationToken(*token);
    }
    if (handed.probation) {
        // Inherited for this launcher alone: nothing it starts inherits them again.
        ::SetHandleInformation(HandleFromValue(handed.probation->confirmEvent), HANDLE_FLAG_INHERIT, 0);
        ::SetHandleInformation(HandleFromValue(handed.probation->watcherProcess), HANDLE_FLAG_INHERIT, 0);
    }
    for (const wchar_t* name : kHandOverVariables) {
        ::SetEnvironmentVariableW(name, nullptr);
    }
    return handed;
}

}  // namespace zv
