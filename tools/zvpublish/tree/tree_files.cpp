// The publishing tool's paths, queries, listings and file facts, through std::filesystem on every
// platform.

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>

#include "zvpublish/tree/tree_files.h"
#include "zvpublish/tree/tree_files_platform.h"

namespace zv::publish {

namespace {

namespace fs = std::filesystem;

// "\" on Windows, "/" elsewhere; "/" ends a directory on every platform.
constexpr auto kSeparator = static_cast<wchar_t>(fs::path::preferred_separator);

PathKind KindOf(const fs::file_status& status) {
    switch (status.type()) {
        case fs::file_type::not_found:
            return PathKind::Missing;
        case fs::file_type::regular:
            return PathKind::File;
        case fs::file_type::directory:
            return PathKind::Directory;
        default:
            return PathKind::Other;
    }
}

}  // namespace

std::wstring JoinPath(const std::wstring& directory, std::wstring_view name) {
    return zv::JoinPath(directory, name, kSeparator);
}

std::wstring ParentFolder(const std::wstring& path) {
    fs::path folder = ToFileSystemPath(path);
    while (!folder.has_filename() && folder.has_relative_path()) {
        folder = folder.parent_path();  // "tree/" is the folder "tree"
    }
    folder = folder.parent_path();
    return folder.empty() ? std::wstring(L".") : FromFileSystemPath(folder);
}

PathKind QueryPathKind(const std::wstring& path, std::string* reason) {
    std::error_code error;
    const fs::file_status status = fs::status(ToFileSystemPath(path), error);
    if (error && status.type() != fs::file_type::not_found) {
        if (reason != nullptr) {
            *reason = error.message();
        }
        return PathKind::Other;
    }
    return KindOf(status);
}

bool MakeDirectories(const std::wstring& directory, std::string& reason) {
    std::error_code error;
    fs::create_directories(ToFileSystemPath(directory), error);
    if (error) {
        reason = error.message();
        return false;
    }
    return true;
}

std::optional<std::vector<ListedEntry>> ListDirectory(const std::wstring& directory, std::string& reason) {
    std::error_code error;
    fs::directory_iterator it(ToFileSystemPath(directory), error);
    std::vector<ListedEntry> entries;
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        std::error_code statusError;
        const fs::file_status status = it->status(statusError);
        const std::wstring name = FromFileSystemPath(it->path().filename());
        entries.push_back(
            {name, statusError ? PathKind::Other : KindOf(status), IsLinkOrReparsePoint(JoinPath(directory, name))});
    }
    if (error) {
        reason = error.message();
        return std::nullopt;
    }
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    return entries;
}

std::optional<FileFacts> QueryFileFacts(const std::wstring& path, std::string& reason) {
    const fs::path native = ToFileSystemPath(path);
    std::error_code error;
    if (!fs::is_regular_file(native, error)) {
        reason = error ? error.message() : "is not a regular file";
        return std::nullopt;
    }
    FileFacts facts;
    facts.size = fs::file_size(native, error);
    if (error) {
        reason = error.message();
        return std::nullopt;
    }
    const fs::file_time_type modified = fs::last_write_time(native, error);
    if (error) {
        reason = error.message();
        return std::nullopt;
    }
    facts.modified = std::chrono::time_point_cast<FileTime::duration>(std::chrono::file_clock::to_sys(modified));
    return facts;
}

}  // namespace zv::publish
