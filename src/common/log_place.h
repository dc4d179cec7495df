#pragma once

// Where the launcher's log may be written. The log lives in the user's own folder, but a launcher
// that runs elevated writes there too: a link planted in place of a folder or the file (a
// junction, a symbolic link, a hard link) would make it create, append to and rename files
// wherever the link points. So each folder and the file are opened without following reparse
// points, and what the opened handle says is checked here before anything is written through it.
// Anything but the expected entry at the expected place means no log for the run.

#include <cstdint>
#include <string>
#include <string_view>

namespace zv {

// What the platform says of an entry opened without following a reparse point.
struct OpenedEntry {
    bool reparsePoint = false;  // the entry itself is a junction, symbolic link or other reparse point
    bool directory = false;
    std::uint32_t links = 1;  // how many names the file has (hard links)
    std::wstring finalPath;   // where the opened handle really lies, as the platform normalises it
};

enum class LogPlace {
    Usable,
    ReparsePoint,     // a link, not the folder or file itself
    WrongKind,        // a file where a folder belongs, or a folder where the log file belongs
    Elsewhere,        // the handle lies somewhere else than expected: a link the platform followed
    MoreThanOneName,  // a file with hard links: appending to it writes wherever its other names are
};

// A folder of the log: opened must be a folder, no reparse point, lying at expectedPath.
LogPlace CheckLogFolder(const OpenedEntry& opened, std::wstring_view expectedPath);

// The log file: a file with one name, no reparse point, lying at expectedPath.
LogPlace CheckLogFile(const OpenedEntry& opened, std::wstring_view expectedPath);

// Whether two normalised paths name the same place: equal but for the case of ASCII letters (the
// case of a name the user created may differ from the one asked for). Other letters must match
// exactly: a difference there means no log, never a log in the wrong place.
bool SameFinalPath(std::wstring_view a, std::wstring_view b);

}  // namespace zv
