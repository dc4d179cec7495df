#include "publish.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>

#include "common/read_only_file.h"
#include "integrity/file_digest.h"
#include "tree_contents.h"
#include "tree_files.h"
#include "update/manifest.h"
#include "update/manifest_signature.h"
#include "verify_tree.h"

namespace zv::publish {

namespace {

constexpr std::uint32_t kCopyChunk = 65536;

std::string Hex16(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

// A library name as read from a file, shown with anything unprintable escaped.
std::string Printable(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F) {
            out.push_back(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
            out += escaped;
        }
    }
    return out;
}

std::optional<Failure> CheckSourceFile(const std::wstring& path) {
    std::string reason;
    switch (QueryPathKind(path, &reason)) {
        case PathKind::Missing:
            return Failure{path, "does not exist"};
        case PathKind::Directory:
            return Failure{path, "is a directory, not a file"};
        case PathKind::Other:
            return Failure{path, reason.empty() ? "is not a regular file" : reason};
        case PathKind::File:
            break;
    }
    ReadOnlyFile file(path);
    if (!file.IsOpen()) {
        return Failure{path, "cannot be opened for reading"};
    }
    std::uint8_t first = 0;
    std::uint32_t read = 0;
    if (!file.Read(&first, 1, read)) {
        return Failure{path, "cannot be read"};
    }
    if (read == 0) {
        return Failure{path, "is empty"};
    }
    return std::nullopt;
}

// The whole of a small file, or nothing when it cannot be read or is larger than limit.
std::optional<std::string> ReadSmallFile(const std::wstring& path, std::uint32_t limit) {
    ReadOnlyFile file(path);
    if (!file.IsOpen()) {
        return std::nullopt;
    }
    std::string content;
    std::array<char, 4096> buffer{};
    for (;;) {
        std::uint32_t read = 0;
        if (!file.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size()), read)) {
            return std::nullopt;
        }
        if (read == 0) {
            return content;
        }
        content.append(buffer.data(), read);
        if (content.size() > limit) {
            return std::nullopt;
        }
    }
}

// Copies source into a staged file in folder, checks that the copy is what was hashed, and moves
// it to folder/name unless a file is there already. A file already there with the same content
// is left as it is; one with other content is an error, since a content name never changes.
std::optional<Failure> PlaceContentFile(const std::wstring& source, const Sha1Digest& digest,
                                        const std::wstring& folder, const std::wstring& name, Change& change) {
    const std::wstring target = JoinPath(folder, name);
    const auto existing = [&]() -> std::optional<Failure> {
        if (QueryPathKind(target) != PathKind::File) {
            return Failure{target, "is in the way: it is not a file"};
        }
        if (HashFile(target) == digest) {
            change = Change::Unchanged;
            return std::nullopt;
        }
        return Failure{target,
                       "already exists with other content; it was left alone (a file named by its content never "
                       "changes: find out why it differs, then remove it)"};
    };
    if (QueryPathKind(target) != PathKind::Missing) {
        return existing();
    }

    std::string reason;
    const std::unique_ptr<StagedFile> staged = StagedFile::Create(folder, name, reason);
    if (!staged) {
        return Failure{target, reason};
    }
    ReadOnlyFile input(source);
    if (!input.IsOpen()) {
        return Failure{source, "cannot be opened for reading"};
    }
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kCopyChunk);
    for (;;) {
        std::uint32_t read = 0;
        if (!input.Read(buffer.get(), kCopyChunk, read)) {
            return Failure{source, "cannot be read"};
        }
        if (read == 0) {
            break;
        }
        if (!staged->Write(buffer.get(), read, reason)) {
            return Failure{target, reason};
        }
    }
    if (!staged->Finish(reason)) {
        return Failure{target, reason};
    }
    // The copy is hashed as the launcher will hash its download: what is published must be what
    // the manifest will name, even if the source changed between the two reads.
    if (HashFile(staged->path()) != digest) {
        return Failure{source, "changed while it was being copied; publish it again once it is complete"};
    }
    switch (staged->MoveTo(target, /*replace=*/false, reason)) {
        case StagedFile::Move::Done:
            change = Change::Added;
            return std::nullopt;
        case StagedFile::Move::TargetExists:
            return existing();
        case StagedFile::Move::Failed:
            break;
    }
    return Failure{target, reason};
}

// Writes the manifest unless it already says exactly this; an older one is replaced in one step.
std::optional<Failure> WriteManifest(const std::wstring& folder, const std::string& body, Change& change) {
    const std::wstring target = JoinPath(folder, std::wstring(kManifestName));
    const PathKind kind = QueryPathKind(target);
    if (kind == PathKind::File && ReadSmallFile(target, static_cast<std::uint32_t>(body.size())) == body) {
        change = Change::Unchanged;
        return std::nullopt;
    }
    if (kind != PathKind::Missing && kind != PathKind::File) {
        return Failure{target, "is in the way: it is not a file"};
    }
    std::string reason;
    const std::unique_ptr<StagedFile> staged = StagedFile::Create(folder, kManifestName, reason);
    if (!staged || !staged->Write(body.data(), body.size(), reason) || !staged->Finish(reason) ||
        staged->MoveTo(target, /*replace=*/true, reason) != StagedFile::Move::Done) {
        return Failure{target, reason};
    }
    change = kind == PathKind::Missing ? Change::Added : Change::Replaced;
    return std::nullopt;
}

// Sets the modification time of each file the manifest in folder names, other than the file being
// published, to now: the manifest is about to be replaced, and from now on only players who still
// hold it in a cache download them. A manifest that is missing or cannot be read names nothing.
void MarkFilesOfReplacedManifest(const std::wstring& tree, const std::vector<std::wstring>& folders, FolderKind kind,
                                 const std::string& baseUrl, Published& published) {
    std::string body;
    if (QueryPathKind(published.manifest) != PathKind::File ||
        ReadManifestBody(published.manifest, body) != BodyRead::Ok) {
        return;
    }
    const ManifestReading reading = ReadManifest(body);
    if (!reading.sha1.ok()) {
        return;
    }
    std::vector<std::string> parts;
    for (const auto& folder : folders) {
        parts.push_back(ToUtf8(folder));
    }
    for (const auto& file : FilesNamedBy(tree, parts, kind, reading, baseUrl)) {
        std::string reason;
        if (file == published.file || QueryPathKind(file) != PathKind::File || MarkModifiedNow(file, reason)) {
            continue;
        }
        published.warnings.push_back(
            {file, "the replaced manifest named it, but its modification time cannot be set to now (" + reason +
                       "), so prune counts its age from an earlier time"});
    }
}

// The common part of both kinds: the file under its content name in TREE/<folder...>, then the
// manifest that names it.
// With a signer, the manifest also carries the file's SHA-256 and the signature over manifestPath
// and both digests (manifest_signature.h).
Published PublishInto(const std::wstring& source, const std::string& baseUrl, const std::wstring& tree, FolderKind kind,
                      const std::vector<std::wstring>& folders,
                      const std::function<std::wstring(const Sha1Digest&)>& nameOf, const std::wstring& manifestPath,
                      const ManifestSigner* signer) {
    Published published;
    if (auto failure = CheckSourceFile(source)) {
        published.failure = std::move(failure);
        return published;
    }
    if (QueryPathKind(tree) == PathKind::File) {
        published.failure = Failure{tree, "is a file; the tree must be a folder"};
        return published;
    }
    const std::optional<FileDigests> digests = HashFileTwice(source);
    if (!digests) {
        published.failure = Failure{source, "cannot be read"};
        return published;
    }
    published.digest = digests->sha1;

    std::wstring folder = tree;
    std::string urlPath;
    for (const std::wstring& part : folders) {
        folder = JoinPath(folder, part);
        urlPath += ToUtf8(part) + "/";
    }
    std::string reason;
    if (!MakeDirectories(folder, reason)) {
        published.failure = Failure{folder, "cannot be created: " + reason};
        return published;
    }

    const std::wstring name = nameOf(published.digest);
    published.file = JoinPath(folder, name);
    published.manifest = JoinPath(folder, std::wstring(kManifestName));
    published.url = baseUrl + urlPath + ToUtf8(name);
    if (auto failure = PlaceContentFile(source, published.digest, folder, name, published.fileChange)) {
        published.failure = std::move(failure);
        return published;
    }
    // Interim: the signed form needs the host and the version, which the tool does not take yet.
    std::string body = FormatManifest(published.digest, published.url);
    if (signer != nullptr) {
        std::string reason;
        const SignedRelease release{Version{}, std::nullopt, 0, published.digest, digests->sha256, published.url};
        std::optional<std::string> signed_ =
            signer->Sign(SignedManifestMessage("", ToUtf8(manifestPath), release), reason);
        if (!signed_) {
            published.failure = Failure{published.manifest, reason};
            return published;
        }
        body = FormatSignedManifest(release, *signed_);
        published.signedManifest = true;
    }
    MarkFilesOfReplacedManifest(tree, folders, kind, baseUrl, published);
    // Only now that the file is in place may a manifest name it.
    if (auto failure = WriteManifest(folder, body, published.manifestChange)) {
        published.failure = std::move(failure);
    }
    return published;
}

}  // namespace

std::optional<std::string> NormaliseBaseUrl(std::string_view text, std::string& reason) {
    constexpr std::string_view kScheme = "https://";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F) {
            reason = "must be printable ASCII without blanks (percent-encode anything else)";
            return std::nullopt;
        }
    }
    std::string url(text);
    std::transform(url.begin(), url.begin() + static_cast<std::ptrdiff_t>(std::min(url.size(), kScheme.size())),
                   url.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    if (!url.starts_with(kScheme)) {
        reason = "must begin with https:// (the launcher's downloads must be as safe as its manifests)";
        return std::nullopt;
    }
    if (url.find_first_of("?#") != std::string::npos) {
        reason = "must not have a query or a fragment";
        return std::nullopt;
    }
    if (url.find('\\') != std::string::npos) {
        reason = "must separate its path with \"/\", not \"\\\"";
        return std::nullopt;
    }
    const std::size_t pathStart = url.find('/', kScheme.size());
    const std::string authority = url.substr(kScheme.size(), pathStart - kScheme.size());
    if (authority.empty()) {
        reason = "has no host";
        return std::nullopt;
    }
    if (authority.find('@') != std::string::npos) {
        reason = "must not carry a user name or password";
        return std::nullopt;
    }
    // host, [IPv6], each optionally followed by :port
    const std::size_t portColon = authority.starts_with('[') ? authority.find("]:") : authority.rfind(':');
    if (portColon != std::string::npos) {
        const std::string port = authority.substr(portColon + (authority.starts_with('[') ? 2 : 1));
        const bool digits = !port.empty() && port.size() <= 5 &&
                            std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!digits || std::stoul(port) == 0 || std::stoul(port) > 65535) {
            reason = "has an invalid port";
            return std::nullopt;
        }
    }
    if (pathStart == std::string::npos) {
        url += '/';
    } else {
        std::string path = url.substr(pathStart);
        for (std::size_t at = 1; at < path.size();) {
            const std::size_t end = std::min(path.find('/', at), path.size());
            const std::string_view segment = std::string_view(path).substr(at, end - at);
            if (segment == "." || segment == ".." || (segment.empty() && end < path.size())) {
                reason = "must not have empty, \".\" or \"..\" path segments";
                return std::nullopt;
            }
            at = end + 1;
        }
        if (!url.ends_with('/')) {
            url += '/';
        }
    }
    return url;
}

std::string DescribeVerdict(const ClientTargetExamination& examination) {
    const std::string client(kClientLibraryName);
    switch (examination.verdict) {
        case ClientTargetVerdict::Target:
            return "it is one";
        case ClientTargetVerdict::CannotOpen:
            return "cannot be opened for reading";
        case ClientTargetVerdict::NotPe:
            return "not a PE file (no \"MZ\" header, or no PE signature where it points)";
        case ClientTargetVerdict::Truncated:
            return "the file is cut short: it ends inside its PE headers or import table";
        case ClientTargetVerdict::OtherMachine:
            return "built for another machine (" + Hex16(examination.machine) +
                   (examination.machine == 0xAA64 ? ", ARM64" : "") + "); the launcher reads only x86 and x64 programs";
        case ClientTargetVerdict::BadOptionalHeader:
            return "its optional header does not match its machine type, or has no import directory entry";
        case ClientTargetVerdict::NoImports:
            return "imports no library; a client target imports " + client + " and nothing else";
        case ClientTargetVerdict::BadImports:
            return "its import table cannot be read (it lies outside every section or beyond 2 GiB, or names an "
                   "empty library)";
        case ClientTargetVerdict::ImportsOtherLibrary:
            return "imports " + Printable(examination.firstLibrary) + " first; a client target imports " + client +
                   " and nothing else";
        case ClientTargetVerdict::ImportsMoreLibraries:
            return "imports other libraries besides " + client + "; a client target imports " + client +
                   " and nothing else";
    }
    return "unknown reason";
}

BuildKey ComputeBuildKey(const std::wstring& target) {
    BuildKey result;
    if (auto failure = CheckSourceFile(target)) {
        result.failure = std::move(failure);
        return result;
    }
    const ClientTargetExamination examination = ExamineClientTarget(target);
    if (examination.verdict != ClientTargetVerdict::Target) {
        result.failure = Failure{target, "not a client target: " + DescribeVerdict(examination)};
        return result;
    }
    const Sha1Digest code = HashCodeSection(target);
    if (code == Sha1Digest{}) {
        result.failure = Failure{
            target, "has no code section the launcher can hash (no \".text\" section and no section marked as code)"};
        return result;
    }
    result.key = DigestToHex(code);
    return result;
}

Published PublishStub(const std::wstring& target, const std::wstring& stub, const std::string& baseUrl,
                      const std::wstring& tree, const ManifestSigner* signer) {
    BuildKey key = ComputeBuildKey(target);
    if (key.failure) {
        Published published;
        published.failure = std::move(key.failure);
        return published;
    }
    Published published = PublishInto(stub, baseUrl, tree, FolderKind::Stub, {std::wstring(kStubFolder), key.key},
                                      StubFileName, StubManifestPath(key.key), signer);
    published.key = key.key;
    return published;
}

Published PublishLauncher(const std::wstring& launcher, const std::string& baseUrl, const std::wstring& tree,
                          const ManifestSigner* signer) {
    return PublishInto(launcher, baseUrl, tree, FolderKind::Launcher, {std::wstring(kLauncherFolder)}, LauncherFileName,
                       LauncherManifestPath(), signer);
}

}  // namespace zv::publish
