// The publishing tool's paths in std::filesystem form, its staged files, file times and removals,
// and its text conversions on Windows.

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "common/unique_handle.h"
#include "zvpublish/tree/tree_files.h"
#include "zvpublish/tree/tree_files_platform.h"

namespace zv::publish {

namespace {

namespace fs = std::filesystem;

// The system's text for an error number, without the line break FormatMessageW ends it with.
std::string ErrorText(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const UniqueLocal owner(buffer);
    std::wstring text(buffer != nullptr ? buffer : L"", length);
    while (!text.empty() &&
           (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' || text.back() == L'.')) {
        text.pop_back();
    }
    if (text.empty()) {
        return "error " + std::to_string(error);
    }
    return ToUtf8(text) + " (error " + std::to_string(error) + ")";
}

}  // namespace

fs::path ToFileSystemPath(const std::wstring& path) { return fs::path(path); }

std::wstring FromFileSystemPath(const fs::path& path) { return path.wstring(); }

struct StagedFile::Impl {
    UniqueFile file;
};

StagedFile::StagedFile(std::wstring path, std::unique_ptr<Impl> impl)
    : path_(std::move(path)), impl_(std::move(impl)) {}

StagedFile::~StagedFile() {
    if (!moved_) {
        impl_->file.reset();
        ::DeleteFileW(path_.c_str());
    }
}

std::unique_ptr<StagedFile> StagedFile::Create(const std::wstring& directory, std::wstring_view finalName,
                                               std::string& reason) {
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::wstring name = L"." + std::wstring(finalName) + L"." + std::to_wstring(random()) + L".tmp";
        const std::wstring path = JoinPath(directory, name);
        auto impl = std::make_unique<Impl>();
        // Not shared while it is written: nobody reads a half-written file under this name either.
        impl->file.reset(
            ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (impl->file) {
            return std::unique_ptr<StagedFile>(new StagedFile(path, std::move(impl)));
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            reason = "cannot create a temporary file in its folder: " + ErrorText(error);
            return nullptr;
        }
    }
    reason = "cannot find a free temporary file name in its folder";
    return nullptr;
}

bool StagedFile::Write(const void* data, std::size_t size, std::string& reason) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(impl_->file.get(), bytes, chunk, &written, nullptr)) {
            reason = "cannot write: " + ErrorText(::GetLastError());
            return false;
        }
        bytes += written;
        size -= written;
    }
    return true;
}

bool StagedFile::Finish(std::string& reason) {
    if (!::FlushFileBuffers(impl_->file.get())) {
        reason = "cannot write: " + ErrorText(::GetLastError());
        impl_->file.reset();
        return false;
    }
    impl_->file.reset();
    return true;
}

StagedFile::Move StagedFile::MoveTo(const std::wstring& target, bool replace, std::string& reason) {
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!::MoveFileExW(path_.c_str(), target.c_str(), flags)) {
        const DWORD error = ::GetLastError();
        if (!replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) {
            return Move::TargetExists;
        }
        reason = "cannot move the new file into place: " + ErrorText(error);
        return Move::Failed;
    }
    moved_ = true;
    return Move::Done;
}

bool MarkModifiedNow(const std::wstring& path, std::string& reason) {
    // Shared with everyone: a server may be sending the file at this moment. Without
    // FILE_FLAG_BACKUP_SEMANTICS a folder does not open.
    const UniqueFile file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        reason = ErrorText(::GetLastError());
        return false;
    }
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    if (!::SetFileTime(file.get(), nullptr, nullptr, &now)) {
        reason = ErrorText(::GetLastError());
        return false;
    }
    return true;
}

bool IsLinkOrReparsePoint(const std::wstring& path) {
    // The attributes of the entry itself: GetFileAttributesW does not follow a reparse point.
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool RemoveFile(const std::wstring& path, std::string& reason) {
    // DeleteFileW never removes a folder.
    if (!::DeleteFileW(path.c_str())) {
        reason = ErrorText(::GetLastError());
        return false;
    }
    return true;
}

}  // namespace zv::publish
