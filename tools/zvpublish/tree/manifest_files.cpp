#include "zvpublish/tree/manifest_files.h"

#include <memory>

#include "update/tree_layout.h"
#include "zvpublish/commands/verify_tree.h"

namespace zv::publish {

ManifestOnDisk ReadPublishedManifest(const std::wstring& path) {
    ManifestOnDisk manifest;
    manifest.kind = QueryPathKind(path);
    if (manifest.kind == PathKind::File && ReadManifestBody(path, manifest.body) == BodyRead::Ok) {
        manifest.read = true;
        manifest.reading = ReadManifest(manifest.body);
    }
    return manifest;
}

std::optional<Failure> WriteManifest(const std::wstring& folder, const std::string& body, Change& change) {
    const std::wstring target = JoinPath(folder, std::wstring(kManifestName));
    const ManifestOnDisk existing = ReadPublishedManifest(target);
    if (existing.read && existing.body == body) {
        change = Change::Unchanged;
        return std::nullopt;
    }
    if (existing.kind != PathKind::Missing && existing.kind != PathKind::File) {
        return Failure{target, "is in the way: it is not a file"};
    }
    std::string reason;
    const std::unique_ptr<StagedFile> staged = StagedFile::Create(folder, kManifestName, reason);
    if (!staged || !staged->Write(body.data(), body.size(), reason) || !staged->Finish(reason) ||
        staged->MoveTo(target, /*replace=*/true, reason) != StagedFile::Move::Done) {
        return Failure{target, reason};
    }
    change = existing.kind == PathKind::Missing ? Change::Added : Change::Replaced;
    return std::nullopt;
}

}  // namespace zv::publish
