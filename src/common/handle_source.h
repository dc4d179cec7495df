#pragma once

// A file's open handle as a ByteSource: read from the handle's current position. Windows only.

#include <windows.h>

#include "common/byte_source.h"

namespace zv {

class HandleSource final : public ByteSource {
public:
    explicit HandleSource(HANDLE file) : file_(file) {}

    bool Read(void* buffer, std::uint32_t count, std::uint32_t& bytesRead) override {
        DWORD read = 0;
        const BOOL ok = ::ReadFile(file_, buffer, count, &read, nullptr);
        bytesRead = read;
        return ok != FALSE;
    }

private:
    HANDLE file_;
};

}  // namespace zv
