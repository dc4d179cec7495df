// The launcher's own path in a build without Windows, where the discovery it starts from runs
// natively too. Discovery takes paths in the Windows form, parts joined by backslashes; the
// platform's stand-ins turn them back (discovery_platform_posix.cpp).
#include <unistd.h>

#include <algorithm>
#include <string>

#include "common/native_path.h"
#include "launch/process_paths.h"

namespace zv {

std::wstring GetModulePath() {
    std::string buffer(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) {
        return {};
    }
    buffer.resize(static_cast<std::size_t>(n));
    std::wstring path = FromNativePath(buffer);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

}  // namespace zv
