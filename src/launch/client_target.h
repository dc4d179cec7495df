#pragma once

// Recognising the client target: a PE file whose import table names the client library and
// nothing else.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zv {

// The library a client target imports. Names are compared as the C runtime's _stricmp does in
// the "C" locale: the ASCII letters A-Z match their lower-case forms, every other byte only itself.
inline constexpr std::string_view kClientLibraryName = "ZVClient.dll";

// The fields of one IMAGE_SECTION_HEADER that mapping an RVA needs.
struct SectionMapping {
    std::uint32_t virtualSize = 0;
    std::uint32_t virtualAddress = 0;
    std::uint32_t pointerToRawData = 0;
};

// The file offset of rva in the first section that holds it, in unsigned 32-bit arithmetic (the
// end of a section wraps like the loader's own arithmetic). Nothing when no section holds it, and
// nothing for offset 0, which is never where a record of interest can lie.
std::optional<std::uint32_t> RvaToFileOffset(std::span<const SectionMapping> sections, std::uint32_t rva);

// True when the file at path is a 32-bit (x86) or 64-bit (x64) PE file whose first import
// descriptor names the client library and whose second one ends the list. Only the headers, the
// section table, the first two import descriptors and the first library name are read, at file
// positions below 2^31; anything unreadable, truncated or malformed makes the answer false.
bool IsClientTarget(const std::wstring& path);

}  // namespace zv
