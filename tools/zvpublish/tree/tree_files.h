#pragma once

// The file-system and text operations the publishing tool needs beyond reading files, kept thin
// so that the publishing logic is the same on every platform: tree_files.cpp joins paths, queries
// and lists them and reads files' sizes and times through std::filesystem on every platform;
// tree_files_windows.cpp holds the Win32 calls (staged files, setting a file's time, removing a
// file, text conversions, the std::filesystem form of a path), tree_files_posix.cpp the POSIX ones.
// Paths are wide, as in the launcher.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"

namespace zv::publish {

// directory, the platform's separator, name ("\" on Windows, "/" elsewhere); no separator is
// doubled when directory already ends with one.
std::wstring JoinPath(const std::wstring& directory, std::wstring_view name);

// The folder path lies in: path without its last part (and without separators that end it); "."
// for a relative path of one part.
std::wstring ParentFolder(const std::wstring& path);

enum class PathKind { Missing, File, Directory, Other };

// What path names, symbolic links followed. Other: something that is neither a regular file nor a
// directory, or a path that cannot be queried (reason says why).
PathKind QueryPathKind(const std::wstring& path, std::string* reason = nullptr);

// Creates directory and whatever parents it lacks; an existing directory is fine.
bool MakeDirectories(const std::wstring& directory, std::string& reason);

// Whether path itself is a symbolic link or, on Windows, any other reparse point (a junction, a
// mount point): a place whose content lies elsewhere. False when it is missing or cannot be
// queried.
bool IsLinkOrReparsePoint(const std::wstring& path);

struct ListedEntry {
    std::wstring name;
    PathKind kind = PathKind::Other;  // what it leads to, links followed
    bool link = false;                // IsLinkOrReparsePoint
};

// The entries of directory ("." and ".." left out), sorted by name; nothing when it cannot be
// listed.
std::optional<std::vector<ListedEntry>> ListDirectory(const std::wstring& directory, std::string& reason);

// A moment in time, as the system clock tells it; files' modification times are read in it.
using FileTime = std::chrono::system_clock::time_point;

struct FileFacts {
    std::uint64_t size = 0;
    FileTime modified;
};

// The size and modification time of the file at path (a symbolic link followed); nothing, with
// the reason, when they cannot be read or path is no regular file.
std::optional<FileFacts> QueryFileFacts(const std::wstring& path, std::string& reason);

// Sets the modification time of the file at path to now, by the system's clock; its content and
// other times are left alone.
bool MarkModifiedNow(const std::wstring& path, std::string& reason);

// Removes the file at path: a file (a symbolic link itself, not what it points to), never a
// folder. Whether a folder on the way is a link is the caller's to check.
bool RemoveFile(const std::wstring& path, std::string& reason);

// A new file written beside its final place under a temporary name that begins with a dot, then
// moved into place in one step, so that a reader (a web server, a CDN's copy) sees either the old
// file or the whole new one, never a part. A staged file that is not moved is removed.
class StagedFile {
public:
    // Creates the temporary file in directory (exclusively: an existing file is never reused),
    // readable by everyone, as files a web server serves must be.
    static std::unique_ptr<StagedFile> Create(const std::wstring& directory, std::wstring_view finalName,
                                              std::string& reason);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    [[nodiscard]] const std::wstring& path() const { return path_; }

    bool Write(const void* data, std::size_t size, std::string& reason);

    // Writes the file through to the disk and closes it; nothing may be written afterwards.
    bool Finish(std::string& reason);

    enum class Move { Done, TargetExists, Failed };
    // Moves the finished file to target in one step. With replace, an existing target is replaced
    // (atomically); without it an existing target is left alone and the result is TargetExists.
    Move MoveTo(const std::wstring& target, bool replace, std::string& reason);

private:
    struct Impl;
    StagedFile(std::wstring path, std::unique_ptr<Impl> impl);

    std::wstring path_;
    std::unique_ptr<Impl> impl_;
    bool moved_ = false;
};

// Text at the tool's edges: command-line arguments come in wide, messages go out in UTF-8.
using zv::FromUtf8;
using zv::ToUtf8;

}  // namespace zv::publish
