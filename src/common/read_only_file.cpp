#include "common/read_only_file.h"

#include <cstddef>

namespace zv {

bool ReadOnlyFile::ReadUntilFullOrEnd(void* buffer, std::uint32_t count, std::uint32_t& bytesRead) {
    auto* out = static_cast<std::byte*>(buffer);
    bytesRead = 0;
    while (bytesRead < count) {
        std::uint32_t read = 0;
        if (!Read(out + bytesRead, count - bytesRead, read)) {
            return false;
        }
        if (read == 0) {
            break;
        }
        bytesRead += read;
    }
    return true;
}

bool ReadOnlyFile::ReadExactly(void* buffer, std::uint32_t count) {
    std::uint32_t bytesRead = 0;
    return ReadUntilFullOrEnd(buffer, count, bytesRead) && bytesRead == count;
}

}  // namespace zv
