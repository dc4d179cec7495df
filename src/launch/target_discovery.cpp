#include "launch/target_discovery.h"

#include <algorithm>

#include "launch/client_target.h"
#include "common/text.h"
#include "launch/discovery_platform.h"

namespace zv {

namespace {

// The launcher directory is level 0 and its subdirectories level 1; nothing deeper is listed.
constexpr std::uint32_t kDeepestLevel = 1;

bool EndsWith(std::wstring_view text, std::wstring_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace

bool HasCandidateExtension(std::wstring_view name) {
    const std::size_t dot = name.rfind(L'.');
    if (dot == std::wstring_view::npos) {
        return false;
    }
    const std::size_t separator = name.find_last_of(L"\\/");
    if (separator != std::wstring_view::npos && separator > dot) {
        return false;
    }
    const std::wstring_view extension = name.substr(dot);
    return std::any_of(
        kCandidateExtensions.begin(), kCandidateExtensions.end(),
        [extension](std::wstring_view candidate) { return EqualsIgnoringAsciiCase(extension, candidate); });
}

std::optional<std::wstring> FindClientTarget(const std::wstring& directory, std::uint32_t depth) {
    if (depth > kDeepestLevel) {
        return std::nullopt;
    }
    const std::wstring prefix = JoinPath(directory, L"");
    DirectorySearch search(prefix + L"*");
    DirectoryEntry entry;
    while (search.Next(entry)) {
        if (entry.name == L"." || entry.name == L"..") {
            continue;
        }
        if ((entry.attributes & kFileAttributeDirectory) != 0) {
            // Junctions, directory links and mount points may lead anywhere, even back up the
            // tree: they are never entered. A directory is never tested as a file.
            if ((entry.attributes & kFileAttributeReparsePoint) == 0) {
                if (auto found = FindClientTarget(prefix + std::wstring(entry.name), depth + 1)) {
                    return found;
                }
            }
            continue;
        }
        if (!HasCandidateExtension(entry.name)) {
            continue;
        }
        std::wstring path = prefix + std::wstring(entry.name);
        if (IsClientTarget(path)) {
            return path;
        }
    }
    return std::nullopt;
}

LaunchResult LocateGame(const std::wstring& launcherPath, GameLocation& location) {
    GameLocation found;

    // The marker is found anywhere in the path, directories included, and only in this exact case.
    const std::size_t marker = launcherPath.find(kLauncherMarker);
    const std::size_t lastBackslash = launcherPath.rfind(L'\\');
    found.launcherDirectory =
        lastBackslash == std::wstring::npos ? launcherPath : launcherPath.substr(0, lastBackslash);
    if (marker != std::wstring::npos) {
        found.gameExecutable = launcherPath.substr(0, marker) + L".exe";
    }

    auto target = FindClientTarget(found.launcherDirectory, 0);
    if (!target) {
        // Reported even when the derived game executable exists.
        return LaunchResult::NoValidClientTarget;
    }
    found.clientTarget = std::move(*target);

    // The client target is itself the game when it is a program; the extension's case matters
    // here, so Game.EXE leaves the derived name in place.
    if (EndsWith(found.clientTarget, L".exe") || EndsWith(found.clientTarget, L".bin")) {
        found.gameExecutable = found.clientTarget;
    }
    // A missing path and one that cannot be queried report every bit, the directory bit included;
    // so does the empty path.
    if ((QueryFileAttributes(found.gameExecutable) & kFileAttributeDirectory) != 0) {
        return LaunchResult::TargetExecutableNotFound;
    }

    found.clientStub = JoinPath(found.launcherDirectory, kClientStubName);
    location = std::move(found);
    return LaunchResult::Success;
}

}  // namespace zv
