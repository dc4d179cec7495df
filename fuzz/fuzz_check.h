#pragma once

// What the fuzz targets share: a check that stops the run with a message when an invariant fails
// (libFuzzer keeps the input as a crash artifact), and a scratch file for the readers that take a
// path.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace zv::fuzz {

[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

inline void Check(bool holds, const char* what) {
    if (!holds) {
        Fail(what);
    }
}

// The path of this process's scratch file, in a folder of its own that is made on first use, in
// memory where the machine offers it (/dev/shm), and removed with the file when the process exits.
const std::wstring& ScratchPath();

// Replaces the scratch file's contents with the bytes; stops the run when it cannot (every later
// input would check nothing).
void WriteScratch(const std::uint8_t* data, std::size_t size);

}  // namespace zv::fuzz
