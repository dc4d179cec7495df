// IsClientTarget over arbitrary file contents. Beyond running clean under the sanitizers, a yes
// needs the file to hold what a yes is made of: the DOS signature at its start, the PE signature,
// and the client library's name (in any letter case) ending in a zero byte or at the end of the file.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "launch/client_target.h"

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool HoldsClientName(std::string_view bytes) {
    const std::string_view name = zv::kClientLibraryName;
    for (std::size_t at = 0; at + name.size() <= bytes.size(); ++at) {
        bool same = true;
        for (std::size_t i = 0; same && i < name.size(); ++i) {
            same = Lower(bytes[at + i]) == Lower(name[i]);
        }
        const std::size_t end = at + name.size();
        if (same && (end == bytes.size() || bytes[end] == '\0')) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zv::fuzz::WriteScratch(data, size);
    if (!zv::IsClientTarget(zv::fuzz::ScratchPath())) {
        return 0;
    }
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    zv::fuzz::Check(bytes.starts_with("MZ"), "a client target starts with the DOS signature");
    zv::fuzz::Check(bytes.find(std::string_view("PE\0\0", 4)) != std::string_view::npos,
                    "a client target holds the PE signature");
    zv::fuzz::Check(HoldsClientName(bytes), "a client target holds the client library's name");
    return 0;
}
