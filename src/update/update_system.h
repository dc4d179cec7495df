#pragma once

// What the updaters do to the machine besides the transfer and the hashing: the staging files
// downloads are written to (staging.h), removing a file, a pause, the clock that manifests expire
// by, the marks of the stub manifests accepted (manifest_marks.h) and the launcher releases that
// were rolled back. The Windows implementation (update_windows.h) is the real one; the updaters'
// unit tables stand in for it.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "update/manifest_marks.h"
#include "update/staging.h"

namespace zv {

// How removing a file ended.
enum class Removal {
    Removed,
    Absent,  // there was no such file
    Failed,  // it is there and stays
};

class UpdateSystem {
public:
    virtual ~UpdateSystem() = default;

    // Creates the staging file at path for the release identity names (StagingIdentity), and holds
    // it open so that no other process can write, rename or delete it (staging.h). A file of that
    // name whose note says it holds part of the same release is taken up as it is (ResumableStaging);
    // any other is emptied. Nothing, with the platform's reason in error, when it cannot.
    virtual std::unique_ptr<StagedFile> Stage(const std::wstring& path, const std::string& identity,
                                              std::uint32_t& error) = 0;
    // Deletes the file at path.
    virtual Removal RemoveFile(const std::wstring& path) = 0;
    // Returns after duration.
    virtual void Pause(std::chrono::milliseconds duration) = 0;
    // The system's clock.
    virtual std::chrono::system_clock::time_point Now() = 0;

    // The mark kept for the manifest at path on the update host host (as the signed messages carry
    // it: MessageHost); Unreadable, with the reason, for a value that is there but is no mark.
    virtual KeptMark ReadManifestMark(std::wstring_view host, std::wstring_view path) = 0;
    // Keeps mark for that manifest in place of any earlier one; false when it cannot be kept.
    virtual bool WriteManifestMark(std::wstring_view host, std::wstring_view path, const ManifestMark& mark) = 0;

    // Whether the launcher release named by release (the digest its manifest names, in lower-case
    // hexadecimal: SHA-256 with keys, SHA-1 without) was rolled back for this Windows user because
    // it could not start.
    virtual bool IsRolledBackRelease(std::string_view release) = 0;
    // Remembers that; false when it cannot be kept.
    virtual bool RememberRolledBackRelease(std::string_view release) = 0;
};

}  // namespace zv
