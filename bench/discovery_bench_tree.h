#pragma once

// The folder tree the discovery benchmarks scan, and the floor they compare discovery with.

#include <cstdint>
#include <filesystem>
#include <string>

namespace zv::bench {

struct BenchTree {
    std::wstring launcherPath;  // in the form discovery takes it: parts joined by "\"
    std::wstring clientTarget;  // where discovery must end up
    std::uint32_t files = 0;
    std::uint32_t peFiles = 0;
};

// Makes, under root, a launcher Foo_ZV.exe, the game Foo.exe it names (neither a client target),
// and 20 subfolders of 500 files each: 10,000 files, of
// which 2,000 are PE DLLs that import ZVClient.dll and then KERNEL32.dll (so that discovery reads
// every record of each before it passes it over) and 8,000 are data files that are never opened.
// The last candidate of the subfolder the platform lists last is then made the one client target,
// so that discovery has to go through the whole tree.
BenchTree MakeBenchTree(const std::filesystem::path& root);

// The floor: lists the same folders as discovery (the launcher's folder and its subfolders, in
// the same depth-first order) and opens every .exe, .bin and .dll file to read its first 64
// bytes. Returns the number of files read.
std::uint32_t ListAndReadFirstBytes(const std::wstring& directory, std::uint32_t depth = 0);

}  // namespace zv::bench
