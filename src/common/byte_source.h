#pragma once

#include <cstdint>

namespace zv {

// Bytes read in order from the start of something, a file or a file's open handle: what a digest
// streams through its buffer.
class ByteSource {
public:
    virtual ~ByteSource() = default;

    // Reads up to count bytes at the current position. False on error; true with bytesRead 0 at
    // the end.
    virtual bool Read(void* buffer, std::uint32_t count, std::uint32_t& bytesRead) = 0;
};

}  // namespace zv
