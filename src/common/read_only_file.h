#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/byte_source.h"

namespace zv {

// A file opened for reading and shared with readers only: on Windows, CreateFileW with
// GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, so a file that another handle holds open for
// writing cannot be opened. A build without Windows opens it read-only (it has no share modes).
class ReadOnlyFile final : public ByteSource {
public:
    explicit ReadOnlyFile(const std::wstring& path);
    ~ReadOnlyFile() override;
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ReadOnlyFile(ReadOnlyFile&&) noexcept;
    ReadOnlyFile& operator=(ReadOnlyFile&&) noexcept;

    [[nodiscard]] bool IsOpen() const;

    // Reads up to count bytes at the current position. False on error; true with bytesRead 0 at
    // the end of the file.
    bool Read(void* buffer, std::uint32_t count, std::uint32_t& bytesRead) override;

    // Reads until count bytes are in or the file ends; bytesRead says how many came. False on
    // error.
    bool ReadUntilFullOrEnd(void* buffer, std::uint32_t count, std::uint32_t& bytesRead);

    // Reads exactly count bytes, or fails (error or end of file first).
    bool ReadExactly(void* buffer, std::uint32_t count);

    // Moves the position; false when it cannot be set (a negative absolute position, say).
    bool SeekFromStart(std::int64_t offset);
    bool SeekFromCurrent(std::int64_t offset);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zv
