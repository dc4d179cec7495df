#pragma once

// Locating the game: the client target beside the launcher (or one directory level below it), the
// game executable to start, and the client stub to keep current. Discovery only reads: it lists
// directories and opens files for reading, and never writes, moves or deletes anything.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/launch_result.h"

namespace zv {

struct GameLocation {
    // The launcher's path up to, not including, its last backslash (the whole path when it has
    // none).
    std::wstring launcherDirectory;
    // What the game launch starts: an existing entry that is not a directory.
    std::wstring gameExecutable;
    // The file whose import table names only the client library, as the scan built its path.
    std::wstring clientTarget;
    // ZVClient.dll in the launcher directory.
    std::wstring clientStub;
};

// The part of a launcher's file name that follows the game's name: Foo_ZV.exe belongs to Foo.exe.
inline constexpr std::wstring_view kLauncherMarker = L"_ZV.exe";

// Fills location from the launcher's full path and what lies beside it. Returns Success,
// NoValidClientTarget when no client target is found, or TargetExecutableNotFound when the game
// executable is missing, is a directory or cannot be named. location changes only on Success.
LaunchResult LocateGame(const std::wstring& launcherPath, GameLocation& location);

// The extensions of the files discovery opens; every other file is passed over unread.
inline constexpr std::array<std::wstring_view, 3> kCandidateExtensions = {L".exe", L".bin", L".dll"};

// Whether discovery opens a file of this name (or path): its extension, from the last dot to the
// end when that dot lies after the last "\" or "/", is one of kCandidateExtensions. The letters
// A-Z match their lower-case forms and every other character only itself, as towlower folds them
// in the "C" locale the launcher runs in. "Game.EXE" qualifies; ".hidden", "Game" and
// "Game.exe.txt" do not.
bool HasCandidateExtension(std::wstring_view name);

// The first client target in directory (level depth) or, from level 0, in one of its immediate
// subdirectories, searched depth-first in the platform's listing order. Directories that are
// reparse points are never entered; only files with a candidate extension are opened.
std::optional<std::wstring> FindClientTarget(const std::wstring& directory, std::uint32_t depth);

}  // namespace zv
