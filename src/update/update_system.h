#pragma once

// What the updaters do to the machine besides the transfer and the hashing: the temporary folder
// and file a launcher update is downloaded into, removing a file, a pause, the clock that manifests
// expire by, and the marks of the stub manifests accepted (manifest_marks.h). The Windows
// implementation (update_windows.h) is the real one; the updaters' unit tables stand in for it.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "update/manifest_marks.h"

namespace zv {

class UpdateSystem {
public:
    virtual ~UpdateSystem() = default;

    // The user's temporary folder (GetTempPathW), ending in a backslash; empty when the platform
    // reports none.
    virtual std::wstring TemporaryFolder() = 0;
    // Creates an empty file of a new name, beginning "ZVL", in folder (GetTempFileNameW) and
    // returns its path; empty when it cannot.
    virtual std::wstring CreateTemporaryFile(const std::wstring& folder) = 0;
    // Deletes the file at path. A file that cannot be deleted stays; nobody is told.
    virtual void RemoveFile(const std::wstring& path) = 0;
    // Returns after duration.
    virtual void Pause(std::chrono::milliseconds duration) = 0;
    // The system's clock.
    virtual std::chrono::system_clock::time_point Now() = 0;

    // The mark kept for the manifest at path on the update host host (as the signed messages carry
    // it: MessageHost); Unreadable, with the reason, for a value that is there but is no mark.
    virtual KeptMark ReadManifestMark(std::wstring_view host, std::wstring_view path) = 0;
    // Keeps mark for that manifest in place of any earlier one; false when it cannot be kept.
    virtual bool WriteManifestMark(std::wstring_view host, std::wstring_view path, const ManifestMark& mark) = 0;
};

}  // namespace zv
