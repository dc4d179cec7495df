#pragma once

// A tree's manifest files: reading one as a launcher would receive it, where its "url" points into
// the tree, how a launcher built with keys reads a signed tree, and reading and replacing them as
// the commands that write them do (publishing, the withdrawal, the refresh).

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "integrity/file_digest.h"
#include "integrity/p256.h"
#include "update/manifest.h"
#include "zvpublish/tree/outcome.h"
#include "zvpublish/tree/tree_files.h"

namespace zv::publish {

// The folders and file name below the tree that a manifest's "url" names. With baseUrl (already
// normalised), the url must begin with it and the rest of its path is the place below the tree;
// without it, the url's path must end with the manifest's own folders (/launcher/ or /stub/<key>/)
// and a file name, the layout the publishing commands write. folders are the manifest's own
// folders below the tree; %XX escapes are resolved; nothing when the url points elsewhere, or a
// segment is empty, "." or "..", or holds a separator.
std::optional<std::vector<std::string>> MapIntoTree(std::string_view url, const std::vector<std::string>& folders,
                                                    const std::optional<std::string>& baseUrl);

// The file a manifest's "url" names inside tree (MapIntoTree), read whole as a launcher reads its
// download: its size and both digests.
struct NamedFile {
    enum class State {
        Outside,     // the url points elsewhere
        Missing,     // it names a path that is not there
        NotAFile,    // it names a folder or something else
        Unreadable,  // it names a file that cannot be read
        Read,
    };
    State state = State::Outside;
    std::wstring path;  // unless Outside
    std::uint64_t size = 0;
    FileDigests digests;
};
NamedFile ReadNamedFile(const std::wstring& tree, std::string_view url, const std::vector<std::string>& folders,
                        const std::optional<std::string>& baseUrl);

enum class BodyRead { Ok, TooLarge, Unreadable };

// A manifest file's bytes as a launcher would receive them: TooLarge past the size a launcher takes
// (kMaxBodyInMemory).
BodyRead ReadManifestBody(const std::wstring& path, std::string& body);

// How a launcher built with keys reads a signed tree: its keys, the update host it is built for,
// and the moment it judges expiry at.
struct SignedCheck {
    std::vector<P256PublicKey> keys;
    std::string host;  // as the signed messages carry it (MessageHost)
    std::chrono::system_clock::time_point now;
};

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
