#pragma once

// The version a program or library states in its version resource: the FILEVERSION of its
// VERSIONINFO, which Windows shows as the file's version and the launcher is built with
// (ZV_VERSION). zvpublish reads it from the files an operator hands it, so the reading trusts
// nothing in the file: every offset, count and length is checked against what the file holds.
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

#include <string>

#include "common/version.h"

namespace zv {

enum class PeVersionRead {
    Found,
    CannotRead,  // the file cannot be opened
    NotPe,       // no "MZ" header, or no PE signature where it points
    NoVersion,   // a PE file without a version resource, or one without the fixed part
    Malformed,   // the headers, resource directory or version record break the format: a part
                 // cut short or outside its section, an entry of the wrong kind, a wrong key or
                 // signature
};

struct PeVersion {
    PeVersionRead read = PeVersionRead::CannotRead;
    Version version;  // for Found
};

PeVersion ReadPeFileVersion(const std::wstring& path);

}  // namespace zv
