#pragma once

// What the publishing tool reads from the PE files an operator hands it: the kind of image (the
// machine, a program or a library, its subsystem), the version resource, and any resource by type
// and name, such as the launcher's build record. The readings trust nothing in the file: every
// offset, count and length is checked against what the file holds. The launcher reads none of it
// (its own PE reading is common/pe_format.h), so it lives with zvpublish and the launcher does not
// link it.
//
// The version a program or library states in its version resource: the FILEVERSION of its
// VERSIONINFO, which Windows shows as the file's version and the launcher is built with
// (ZV_VERSION).
//
// The path through the file, as Windows finds the resource (FindResource of VS_VERSION_INFO,
// RT_VERSION):
//   the optional header's resource directory (data directory 2), mapped to the file through the
//   section table that lies SizeOfOptionalHeader bytes after the file header, as the loader
//   places it; the directory must lie whole in one section's raw data;
//   in it, the type entry with the id 16 (RT_VERSION), in that the name entry with the id 1
//   (VS_VERSION_INFO), in that the first language entry (a file has one as a rule), whose data
//   entry gives the record's address and length;
//   the record VS_VERSIONINFO: its length, a value of 52 bytes, the key "VS_VERSION_INFO", then
//   VS_FIXEDFILEINFO with the signature 0xFEEF04BD, whose dwFileVersionMS and dwFileVersionLS are
//   the four parts, the first in the high half of MS.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/version.h"

namespace zv::publish {

// How a reading went; each reading says what Missing means for it.
enum class PeRead {
    Found,
    CannotRead,  // the file cannot be opened
    NotPe,       // no "MZ" header, or no PE signature where it points
    Missing,     // a PE file without what was looked for
    Malformed,   // the headers, resource directory or record break the format: a part cut short or
                 // outside its section, an entry of the wrong kind, a wrong key or signature
};

struct PeVersion {
    PeRead read = PeRead::CannotRead;  // Missing: no version resource, or one without the fixed part
    Version version;                   // for Found
};

PeVersion ReadPeFileVersion(const std::wstring& path);

// The kind of image, from the file header and the start of the optional header.
struct PeImageKind {
    PeRead read = PeRead::CannotRead;  // never Missing; Malformed: cut short inside the file header or
                                       // the optional header's first 70 bytes
    // For Found, as the file states them:
    std::uint16_t machine = 0;          // IMAGE_FILE_MACHINE_*
    std::uint16_t magic = 0;            // the optional header's: 0x010B PE32, 0x020B PE32+
    std::uint16_t characteristics = 0;  // the file header's (pe::kFileDll for a library)
    std::uint16_t subsystem = 0;        // IMAGE_SUBSYSTEM_*
};

PeImageKind ReadPeImageKind(const std::wstring& path);

inline constexpr std::uint32_t kRtRcdata = 10;  // RT_RCDATA: raw data, as a resource script's RCDATA

struct PeResource {
    PeRead read = PeRead::CannotRead;  // Missing: no resource of that type and name; Malformed also
                                       // for a resource larger than the caller takes
    std::vector<std::uint8_t> data;    // for Found
};

// The resource of type (an id, such as kRtRcdata) and name, in its first language, as FindResource
// finds it: the type entry with that id, in it the named entry whose name is exactly name (resource
// compilers store names in upper case, and FindResource looks a name up in upper case), in that the
// first language entry and its data. A resource of more than maxSize bytes is Malformed: the size
// comes from the file.
PeResource ReadPeResource(const std::wstring& path, std::uint32_t type, std::u16string_view name,
                          std::uint32_t maxSize);

}  // namespace zv::publish
