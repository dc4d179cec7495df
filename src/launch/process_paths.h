#pragma once

#include <cstdint>
#include <string>

namespace zv {

// Full path of the running executable as the platform reports it; empty when it reports nothing.
std::wstring GetModulePath();

// The launcher's own arguments after the program name, re-quoted and joined by single blanks;
// empty when there are none or the command line cannot be split. In a launcher restarted by its
// self-update, the arguments handed over (see AdoptHandedOverArguments).
std::wstring BuildForwardedArguments();

// Takes the forwarded text a self-update handed over to this restarted launcher (see
// update/replacement_command.h). From then on BuildForwardedArguments splits it as it splits the
// arguments of the command line, and uses it when the command line has no arguments of its own.
// Called once at entry, before anything reads the arguments.
void AdoptHandedOverArguments(std::wstring text);

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
