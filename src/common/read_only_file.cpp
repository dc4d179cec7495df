#include "common/read_only_file.h"

#include <cstddef>

namespace zv {

bool ReadOnlyFile::ReadExactly(void* buffer, std::uint32_t count) {
    auto* out = static_cast<std::byte*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        std::uint32_t read = 0;
        if (!Read(out + done, count - done, read) || read == 0) {
            return false;
        }
        done += read;
    }
    return true;
}

}  // namespace zv
