#pragma once

// A tree's manifest files as the commands that write them read and replace them: publishing, the
// withdrawal, the refresh.

#include <optional>
#include <string>

#include "update/manifest.h"
#include "zvpublish/commands/publish.h"
#include "zvpublish/tree/tree_files.h"

namespace zv::publish {

// The manifest at path, when it is a file that reads as a launcher would receive it.
struct ManifestOnDisk {
    PathKind kind = PathKind::Missing;
    bool read = false;  // a file, read whole and not larger than a launcher takes
    std::string body;
    ManifestReading reading;  // of body, when read
};
ManifestOnDisk ReadPublishedManifest(const std::wstring& path);

// Writes folder's manifest unless it already says exactly body; one already there is replaced in
// one step, so a server never serves part of it. change says which happened.
std::optional<Failure> WriteManifest(const std::wstring& folder, const std::string& body, Change& change);

}  // namespace zv::publish
