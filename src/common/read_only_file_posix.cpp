#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/native_path.h"
#include "common/read_only_file.h"

namespace zv {

struct ReadOnlyFile::Impl {
    int fd = -1;
    ~Impl() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

ReadOnlyFile::ReadOnlyFile(const std::wstring& path) : impl_(std::make_unique<Impl>()) {
    const int fd = ::open(ToNativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    // Windows cannot open a directory as a file; neither does this stand-in.
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return;
    }
    impl_->fd = fd;
}

ReadOnlyFile::~ReadOnlyFile() = default;
ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&&) noexcept = default;
ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&&) noexcept = default;

bool ReadOnlyFile::IsOpen() const { return impl_ && impl_->fd >= 0; }

bool ReadOnlyFile::Read(void* buffer, std::uint32_t count, std::uint32_t& bytesRead) {
    bytesRead = 0;
    for (;;) {
        const ssize_t n = ::read(impl_->fd, buffer, count);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        bytesRead = static_cast<std::uint32_t>(n);
        return true;
    }
}

bool ReadOnlyFile::SeekFromStart(std::int64_t offset) {
    return offset >= 0 && ::lseek(impl_->fd, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool ReadOnlyFile::SeekFromCurrent(std::int64_t offset) {
    return ::lseek(impl_->fd, static_cast<off_t>(offset), SEEK_CUR) >= 0;
}

}  // namespace zv
