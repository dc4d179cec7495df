#pragma once

// What the launcher reads about its own process: its file's path and its command line.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zv {

// Full path of the running executable as the platform reports it; empty when it reports nothing
// (Windows only).
std::wstring GetModulePath();

// The arguments after the program name of commandLine, split by the platform's standard rules
// (CommandLineToArgvW); nothing when it cannot be split (Windows only).
std::optional<std::vector<std::wstring>> SplitCommandLine(const wchar_t* commandLine);

// The arguments the process was started with, after the program name (GetCommandLineW, split as
// above; Windows only).
std::optional<std::vector<std::wstring>> OwnArguments();

// Reads a path through a call with GetModuleFileNameW's contract: query(buffer, size) writes at
// most size characters and returns the number written without the terminator, 0 on failure, and
// size (or more) when the path did not fit (GetSystemDirectoryW and GetTempPathW fit it too: they
// return the size they need). The buffer starts at 260 characters and doubles until the whole path
// fits.
template <typename Query>
std::wstring ReadGrowingPath(Query&& query) {
    std::uint32_t size = 260;
    for (;;) {
        std::wstring buffer(size, L'\0');
        const std::uint32_t written = query(buffer.data(), size);
        if (written == 0) {
            return {};
        }
        if (written < size) {
            buffer.resize(written);
            return buffer;
        }
        size *= 2;
    }
}

}  // namespace zv
