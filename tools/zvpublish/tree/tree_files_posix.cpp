// The publishing tool's paths in std::filesystem form, its staged files, file times and removals,
// and its text conversions on a POSIX system.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#include "common/native_path.h"
#include "zvpublish/tree/tree_files.h"
#include "zvpublish/tree/tree_files_platform.h"

namespace zv::publish {

namespace {

namespace fs = std::filesystem;

std::string ErrorText(int error) { return std::generic_category().message(error); }

// Makes the directory entry of a moved file durable as well; a failure here loses nothing that
// the move itself has not already made visible, so it is not reported.
void SyncDirectoryOf(const std::string& path) {
    const std::string directory = fs::path(path).parent_path().string();
    const int fd = ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

fs::path ToFileSystemPath(const std::wstring& path) { return fs::path(ToNativePath(path)); }

std::wstring FromFileSystemPath(const fs::path& path) { return FromNativePath(path.native()); }

struct StagedFile::Impl {
    int fd = -1;
    std::string native;
    ~Impl() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

StagedFile::StagedFile(std::wstring path, std::unique_ptr<Impl> impl)
    : path_(std::move(path)), impl_(std::move(impl)) {}

StagedFile::~StagedFile() {
    if (!moved_) {
        if (impl_->fd >= 0) {
            ::close(impl_->fd);
            impl_->fd = -1;
        }
        ::unlink(impl_->native.c_str());
    }
}

std::unique_ptr<StagedFile> StagedFile::Create(const std::wstring& directory, std::wstring_view finalName,
                                               std::string& reason) {
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::wstring name = L"." + std::wstring(finalName) + L"." + std::to_wstring(random()) + L".tmp";
        const std::wstring path = JoinPath(directory, name);
        auto impl = std::make_unique<Impl>();
        impl->native = ToNativePath(path);
        // 0644 before the umask: the web server's own user must be able to read what it serves.
        impl->fd = ::open(impl->native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (impl->fd >= 0) {
            return std::unique_ptr<StagedFile>(new StagedFile(path, std::move(impl)));
        }
        if (errno != EEXIST) {
            reason = "cannot create a temporary file in its folder: " + ErrorText(errno);
            return nullptr;
        }
    }
    reason = "cannot find a free temporary file name in its folder";
    return nullptr;
}

bool StagedFile::Write(const void* data, std::size_t size, std::string& reason) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(impl_->fd, bytes, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            reason = "cannot write: " + ErrorText(errno);
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool StagedFile::Finish(std::string& reason) {
    const bool synced = ::fsync(impl_->fd) == 0;
    const int syncError = errno;
    const bool closed = ::close(impl_->fd) == 0;
    const int closeError = errno;
    impl_->fd = -1;
    if (!synced || !closed) {
        reason = "cannot write: " + ErrorText(!synced ? syncError : closeError);
        return false;
    }
    return true;
}

StagedFile::Move StagedFile::MoveTo(const std::wstring& target, bool replace, std::string& reason) {
    const std::string native = ToNativePath(target);
    if (replace) {
        if (::rename(impl_->native.c_str(), native.c_str()) != 0) {
            reason = "cannot move the new file into place: " + ErrorText(errno);
            return Move::Failed;
        }
    } else {
        // A hard link is the POSIX way to move a file into place only where nothing is yet.
        if (::link(impl_->native.c_str(), native.c_str()) != 0) {
            if (errno == EEXIST) {
                return Move::TargetExists;
            }
            reason = "cannot move the new file into place: " + ErrorText(errno);
            return Move::Failed;
        }
        ::unlink(impl_->native.c_str());
    }
    moved_ = true;
    SyncDirectoryOf(native);
    return Move::Done;
}

bool MarkModifiedNow(const std::wstring& path, std::string& reason) {
    // The access time stays as it is; the kernel reads its own clock for UTIME_NOW.
    const struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
    if (::utimensat(AT_FDCWD, ToNativePath(path).c_str(), times, 0) != 0) {
        reason = ErrorText(errno);
        return false;
    }
    return true;
}

bool IsLinkOrReparsePoint(const std::wstring& path) {
    struct stat info {};
    return ::lstat(ToNativePath(path).c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool RemoveFile(const std::wstring& path, std::string& reason) {
    // unlink never removes a folder, even an empty one.
    if (::unlink(ToNativePath(path).c_str()) != 0) {
        reason = ErrorText(errno);
        return false;
    }
    return true;
}

}  // namespace zv::publish
