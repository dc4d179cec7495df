#pragma once

#include <optional>
#include <string>

#include "common/byte_source.h"
#include "integrity/sha1.h"
#include "integrity/sha256.h"

namespace zv {

struct FileDigests {
    Sha1Digest sha1;
    Sha256Digest sha256;  // zero bytes when it was not asked for
};

// The one way a file is hashed: the SHA-1, and with withSha256 the SHA-256 too, of everything source
// hands over from where it stands to its end, in one pass through one buffer; files are never held
// in memory whole. Nothing when a read fails (or, with withSha256, the platform's SHA-256 cannot be
// had). source is a file opened by path (ReadOnlyFile) or a handle already held, such as a download
// being checked where it will be used.
std::optional<FileDigests> HashSource(ByteSource& source, bool withSha256);

// The SHA-1 of every byte of a file. Twenty zero bytes when the file cannot be opened (missing,
// or held open for writing by someone else: it is shared with readers only) or a read fails.
Sha1Digest HashFile(const std::wstring& path);

// The SHA-1 and the SHA-256 of every byte of a file, from one pass over it. Nothing when the file
// cannot be opened or a read fails, or the platform's SHA-256 cannot be had.
std::optional<FileDigests> HashFileTwice(const std::wstring& path);

// The SHA-1 of the raw bytes of a PE file's code section: the section named exactly ".text", or
// failing that the first section marked as code, in the section table that SizeOfOptionalHeader
// places (common/pe_format.h says why). A section cut short by the end of the file is
// hashed up to the end. Twenty zero bytes when the file cannot be opened or read, its headers are
// not those of a PE file, or it has no code section.
Sha1Digest HashCodeSection(const std::wstring& path);

}  // namespace zv
