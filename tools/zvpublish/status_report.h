#pragma once

// What a tree serves, for a person and, as JSON, for scripts (zvpublish status). Paths are given
// below the tree with "/" between the parts, as in their addresses, whichever tool reads the tree.
// The JSON shape is documented in docs/operators.md; a change to it changes "format".

#include <cstdint>
#include <string>

#include "tree_contents.h"
#include "tree_files.h"

namespace zv::publish {

// The version of the JSON shape.
inline constexpr int kStatusFormat = 1;

// contents (read without failure) as text for a person; ages are counted up to now.
std::string FormatStatus(const TreeContents& contents, const std::wstring& tree, FileTime now);

// The same as one JSON object, ending in a line feed.
std::string FormatStatusJson(const TreeContents& contents, const std::wstring& tree, FileTime now);

// "512 bytes", "1.5 KiB", "20.0 MiB", ...
std::string FormatSize(std::uint64_t bytes);

// How long before now modified lies, in days with one decimal: "12.5 days". A time after now
// counts as 0.
std::string FormatAge(FileTime modified, FileTime now);

}  // namespace zv::publish
