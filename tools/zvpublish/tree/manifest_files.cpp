#include "zvpublish/tree/manifest_files.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>

#include "common/read_only_file.h"
#include "integrity/hex.h"
#include "net/transfer_rules.h"
#include "update/tree_layout.h"

namespace zv::publish {

namespace {

// One path segment with its %XX escapes resolved; nothing for a broken escape or a segment that
// could leave its folder.
std::optional<std::string> DecodeSegment(std::string_view segment) {
    std::string out;
    for (std::size_t i = 0; i < segment.size(); ++i) {
        if (segment[i] != '%') {
            out.push_back(segment[i]);
            continue;
        }
        if (i + 2 >= segment.size()) {
            return std::nullopt;
        }
        const int high = HexDigitValue(segment[i + 1]);
        const int low = HexDigitValue(segment[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    if (out.empty() || out == "." || out == ".." ||
        out.find_first_of(std::string_view("/\\\0", 3)) != std::string::npos) {
        return std::nullopt;
    }
    return out;
}

std::string_view WithoutQuery(std::string_view url) {
    return url.substr(0, std::min(url.find_first_of("?#"), url.size()));
}

}  // namespace

BodyRead ReadManifestBody(const std::wstring& path, std::string& body) {
    ReadOnlyFile file(path);
    if (!file.IsOpen()) {
        return BodyRead::Unreadable;
    }
    std::array<char, 4096> buffer{};
    for (;;) {
        std::uint32_t read = 0;
        if (!file.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size()), read)) {
            return BodyRead::Unreadable;
        }
        if (read == 0) {
            return BodyRead::Ok;
        }
        body.append(buffer.data(), read);
        if (body.size() > kMaxBodyInMemory) {
            return BodyRead::TooLarge;
        }
    }
}

std::optional<std::vector<std::string>> MapIntoTree(std::string_view url, const std::vector<std::string>& folders,
                                                    const std::optional<std::string>& baseUrl) {
    std::vector<std::string> parts;
    if (baseUrl) {
        if (!url.starts_with(*baseUrl)) {
            return std::nullopt;
        }
        std::string_view rest = WithoutQuery(url.substr(baseUrl->size()));
        for (std::size_t at = 0; at <= rest.size();) {
            const std::size_t end = std::min(rest.find('/', at), rest.size());
            const auto segment = DecodeSegment(rest.substr(at, end - at));
            if (!segment) {
                return std::nullopt;
            }
            parts.push_back(*segment);
            at = end + 1;
        }
        return parts;
    }
    // Without the base address: the layout the tool writes, the file beside its manifest.
    const std::size_t authority = url.find("://");
    if (authority == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t pathStart = url.find('/', authority + 3);
    if (pathStart == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view path = WithoutQuery(url.substr(pathStart));
    std::string folder = "/";
    for (const auto& part : folders) {
        folder += part + "/";
    }
    const std::size_t lastSlash = path.rfind('/');
    if (!path.substr(0, lastSlash + 1).ends_with(folder)) {
        return std::nullopt;
    }
    const auto name = DecodeSegment(path.substr(lastSlash + 1));
    if (!name) {
        return std::nullopt;
    }
    parts = folders;
    parts.push_back(*name);
    return parts;
}

NamedFile ReadNamedFile(const std::wstring& tree, std::string_view url, const std::vector<std::string>& folders,
                        const std::optional<std::string>& baseUrl) {
    NamedFile named;
    const auto parts = MapIntoTree(url, folders, baseUrl);
    if (!parts) {
        return named;
    }
    named.path = tree;
    for (const auto& part : *parts) {
        named.path = JoinPath(named.path, FromUtf8(part));
    }
    switch (QueryPathKind(named.path)) {
        case PathKind::Missing:
            named.state = NamedFile::State::Missing;
            return named;
        case PathKind::File:
            break;
        default:
            named.state = NamedFile::State::NotAFile;
            return named;
    }
    std::string reason;
    const std::optional<FileFacts> facts = QueryFileFacts(named.path, reason);
    const std::optional<FileDigests> digests = facts ? HashFileTwice(named.path) : std::nullopt;
    if (!digests) {
        named.state = NamedFile::State::Unreadable;
        return named;
    }
    named.state = NamedFile::State::Read;
    named.size = facts->size;
    named.digests = *digests;
    return named;
}

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
