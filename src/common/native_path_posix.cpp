#include "common/native_path.h"

#include <cstdint>

#include "common/text.h"

namespace zv {

std::string ToNativePath(std::wstring_view path) { return ToUtf8(path); }

std::wstring FromNativePath(std::string_view path) {
    std::wstring out;
    std::size_t i = 0;
    while (i < path.size()) {
        const auto b = static_cast<unsigned char>(path[i]);
        std::size_t length = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
        std::uint32_t cp = length == 1 ? b : length == 2 ? (b & 0x1F) : length == 3 ? (b & 0x0F) : (b & 0x07);
        bool valid = length != 0 && i + length <= path.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto c = static_cast<unsigned char>(path[i + k]);
            valid = (c & 0xC0) == 0x80;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (!valid) {
            out.push_back(L'\uFFFD');
            ++i;
            continue;
        }
        out.push_back(static_cast<wchar_t>(cp));
        i += length;
    }
    return out;
}

}  // namespace zv
