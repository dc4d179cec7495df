#pragma once

// Whole files in one call: writing a test's fixtures, reading what the code under test wrote.
// Files are read and written byte for byte (binary mode: no line ends are translated).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "bytes.h"

namespace zv::test {

// The whole content of a file; throws std::runtime_error when it cannot be read.
Bytes ReadFileBytes(const std::filesystem::path& path);

// The same, in a string (for manifests, logs and the bodies the HTTP tests compare).
std::string ReadFileText(const std::filesystem::path& path);

// The whole content of a file, or nothing when it cannot be opened (it is missing, say).
std::optional<std::string> ReadFileTextIfPresent(const std::filesystem::path& path);

// Creates the file, or empties one that is there, and writes the bytes; throws
// std::runtime_error when that fails. The folder must exist.
void WriteFileBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);
void WriteFileBytes(const std::filesystem::path& path, std::string_view bytes);

}  // namespace zv::test
