#pragma once

// What a tree serves, for a person and, as JSON, for scripts (zvpublish status). Paths are given
// below the tree with "/" between the parts, as in their addresses, whichever tool reads the tree.
// The JSON shape is documented in docs/operators.md; a change that breaks its readers (a member
// removed, renamed or given another meaning) changes "format", a member added does not.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "zvpublish/tree/tree_contents.h"
#include "zvpublish/tree/tree_files.h"

namespace zv::publish {

// The version of the JSON shape.
inline constexpr int kStatusFormat = 2;

// How long before its expiry a manifest is worth a warning.
inline constexpr std::chrono::hours kExpiryWarning{7 * 24};

// contents (read without failure) as text for a person; ages are counted up to now. Every text
// that comes from the tree (paths, manifest members, problems) is escaped for a terminal
// (terminal_text.h).
std::string FormatStatus(const TreeContents& contents, const std::wstring& tree, FileTime now);

// The same as one JSON object, ending in a line feed; in ASCII (anything else as \u escapes).
std::string FormatStatusJson(const TreeContents& contents, const std::wstring& tree, FileTime now);

// A warning for each manifest that has expired at now or expires within kExpiryWarning of it, and
// for each signed one that never expires.
std::vector<Failure> ExpiryWarnings(const TreeContents& contents, FileTime now);

// "512 bytes", "1.5 KiB", "20.0 MiB", ...
std::string FormatSize(std::uint64_t bytes);

// How long before now modified lies, in days with one decimal: "12.5 days". A time after now
// counts as 0.
std::string FormatAge(FileTime modified, FileTime now);

}  // namespace zv::publish
