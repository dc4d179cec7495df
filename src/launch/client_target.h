#pragma once

// Recognising the client target: a PE file whose import table names the client library and
// nothing else.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace zv {

// The library a client target imports. Names are compared as the C runtime's _stricmp does in
// the "C" locale: the ASCII letters A-Z match their lower-case forms, every other byte only itself.
inline constexpr std::string_view kClientLibraryName = "ZVClient.dll";

// The client stub: the file of that library beside the launcher, which the game loads and the
// launcher keeps current. The same name, as a path's last part.
inline constexpr std::wstring_view kClientStubName = L"ZVClient.dll";
static_assert(std::equal(kClientLibraryName.begin(), kClientLibraryName.end(), kClientStubName.begin(),
                         kClientStubName.end()));

// Why a file is or is not a client target: the first reason found, in the order the file is read.
enum class ClientTargetVerdict {
    Target,                // imports the client library and nothing else
    CannotOpen,            // missing, a directory, or not open for reading
    NotPe,                 // no "MZ" header, or no PE signature where e_lfanew points
    Truncated,             // the file ends (or a read fails) inside a record that must be read whole
    OtherMachine,          // neither x86 (0x014C) nor x64 (0x8664)
    BadOptionalHeader,     // an optional header of the other kind, or fewer than two data directories
    NoImports,             // no import directory, or an import table that ends at once
    BadImports,            // a descriptor or library name outside every section or from 2 GiB on, or an empty name
    ImportsOtherLibrary,   // the first library imported is not the client library
    ImportsMoreLibraries,  // the client library is imported first, and other libraries after it
};

struct ClientTargetExamination {
    ClientTargetVerdict verdict = ClientTargetVerdict::CannotOpen;
    // The Machine field, once the file header has been read.
    std::uint16_t machine = 0;
    // The first imported library's name as stored (up to its first zero byte), once it has been read.
    std::string firstLibrary;
};

// Reads a file as discovery does and says why it is or is not a client target. Only the headers,
// the section table (found as common/pe_format.h's ReadStandardOptionalHeaderAndSectionTable says),
// the first two import descriptors and the first library name are read, at file positions below
// 2^31.
ClientTargetExamination ExamineClientTarget(const std::wstring& path);

// True when the file at path is a 32-bit (x86) or 64-bit (x64) PE file whose first import
// descriptor names the client library and whose second one ends the list; anything unreadable,
// truncated or malformed makes the answer false. The same reading as ExamineClientTarget.
bool IsClientTarget(const std::wstring& path);

}  // namespace zv
