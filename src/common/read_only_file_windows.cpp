#include <windows.h>

#include "common/read_only_file.h"
#include "common/unique_handle.h"

namespace zv {

struct ReadOnlyFile::Impl {
    UniqueFile file;
};

ReadOnlyFile::ReadOnlyFile(const std::wstring& path) : impl_(std::make_unique<Impl>()) {
    impl_->file.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

ReadOnlyFile::~ReadOnlyFile() = default;
ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&&) noexcept = default;
ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&&) noexcept = default;

bool ReadOnlyFile::IsOpen() const { return impl_ && impl_->file.valid(); }

bool ReadOnlyFile::Read(void* buffer, std::uint32_t count, std::uint32_t& bytesRead) {
    DWORD read = 0;
    const BOOL ok = ::ReadFile(impl_->file.get(), buffer, count, &read, nullptr);
    bytesRead = read;
    return ok != FALSE;
}

bool ReadOnlyFile::SeekFromStart(std::int64_t offset) {
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    return ::SetFilePointerEx(impl_->file.get(), distance, nullptr, FILE_BEGIN) != FALSE;
}

bool ReadOnlyFile::SeekFromCurrent(std::int64_t offset) {
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    return ::SetFilePointerEx(impl_->file.get(), distance, nullptr, FILE_CURRENT) != FALSE;
}

}  // namespace zv
