#include "common/native_path.h"

#include "common/text.h"

namespace zv {

std::string ToNativePath(std::wstring_view path) { return ToUtf8(path); }

std::wstring FromNativePath(std::string_view path) { return FromUtf8(path); }

}  // namespace zv
