#include "verify_tree.h"

#include <algorithm>
#include <array>
#include <set>
#include <string_view>

#include "common/launch_result.h"
#include "common/read_only_file.h"
#include "integrity/file_digest.h"
#include "integrity/sha1.h"
#include "net/transfer_rules.h"
#include "tree_files.h"
#include "update/manifest.h"
#include "update/manifest_signature.h"
#include "update/tree_layout.h"

namespace zv::publish {

namespace {

using Kind = Finding::Kind;

struct Verifier {
    const std::wstring& tree;
    const std::optional<std::string>& baseUrl;
    const std::vector<P256PublicKey>* publicKeys;  // a signed tree
    TreeReport report;
    std::set<std::wstring> referenced;

    void Add(Kind kind, const std::wstring& path, std::string text) {
        report.findings.push_back({kind, path, std::move(text)});
    }
};

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

enum class ManifestKind { Launcher, Stub };

// What a player gets, in the launcher's own words and quoted, for a manifest of this kind that
// cannot be fetched or read, has no usable "sha1", or has no usable "url".
struct PlayerMessages {
    std::string fetchFailed;
    std::string missingSha1;
    std::string missingUrl;
};

// The text in double quotes. (Appended piece by piece: a chain of operator+ on temporaries trips a
// false -Wrestrict warning of GCC 12 in the cross build.)
std::string Quoted(LaunchResult result) {
    std::string text = "\"";
    text += ToUtf8(DescribeLaunchResult(result));
    text += '"';
    return text;
}

PlayerMessages MessagesFor(ManifestKind kind) {
    if (kind == ManifestKind::Launcher) {
        return {Quoted(LaunchResult::LauncherManifestFetchFailed), Quoted(LaunchResult::LauncherManifestMissingSha1),
                Quoted(LaunchResult::LauncherManifestMissingUrl)};
    }
    return {Quoted(LaunchResult::StubManifestFetchFailed), Quoted(LaunchResult::StubManifestMissingSha1),
            Quoted(LaunchResult::StubManifestMissingUrl)};
}

// The manifest's bytes as the launcher would receive them; false, with the error added, for a file
// that cannot be read or that the launcher would refuse for its size.
bool ReadManifestFile(Verifier& v, const std::wstring& manifest, const PlayerMessages& players, std::string& body) {
    switch (ReadManifestBody(manifest, body)) {
        case BodyRead::Unreadable:
            v.Add(Kind::Error, manifest, "cannot be read");
            return false;
        case BodyRead::TooLarge:
            v.Add(Kind::Error, manifest,
                  "is larger than " + std::to_string(kMaxBodyInMemory) + " bytes, which the launcher refuses (" +
                      players.fetchFailed + ")");
            return false;
        case BodyRead::Ok:
            break;
    }
    return true;
}

// Each rule of the manifest reading the body breaks, as an error; true when there is none.
bool CheckReading(Verifier& v, const std::wstring& manifest, const ManifestReading& reading,
                  const PlayerMessages& players) {
    switch (reading.form) {
        case ManifestForm::NotOneJsonValue:
            v.Add(Kind::Error, manifest,
                  "is not one valid JSON value (players get " + players.fetchFailed + "): " + reading.parseError);
            return false;
        case ManifestForm::NotAnObject:
            v.Add(Kind::Error, manifest, "is not a JSON object (players get " + players.missingSha1 + ")");
            return false;
        case ManifestForm::Object:
            break;
    }
    switch (reading.sha1.fault) {
        case MemberFault::None:
            break;
        case MemberFault::Absent:
            v.Add(Kind::Error, manifest, "has no \"sha1\" (players get " + players.missingSha1 + ")");
            break;
        case MemberFault::WrongType:
            v.Add(Kind::Error, manifest, "its \"sha1\" is not a string (players get " + players.missingSha1 + ")");
            break;
        case MemberFault::Malformed:
            v.Add(Kind::Error, manifest,
                  "its \"sha1\" is not 40 hexadecimal digits (players get " + players.missingSha1 + ")");
            break;
    }
    // Any string is a "url" to the reading: it is absent or it is no string.
    if (reading.url.fault == MemberFault::Absent) {
        v.Add(Kind::Error, manifest, "has no \"url\" (players whose copy differs get " + players.missingUrl + ")");
    } else if (!reading.url.ok()) {
        v.Add(Kind::Error, manifest, "its \"url\" is not a string (players get " + players.missingUrl + ")");
    }
    return reading.sha1.ok() && reading.url.ok();
}

// In a signed tree, whether a launcher built with the keys may use the manifest: signed, for its own
// path, by one of them; an error otherwise. True for a tree checked without keys.
bool CheckSignature(Verifier& v, const std::wstring& manifest, const std::vector<std::string>& folders,
                    const ManifestReading& reading, const PlayerMessages& players) {
    if (v.publicKeys == nullptr) {
        return true;
    }
    if (reading.sha256.fault != MemberFault::None || reading.signature.fault != MemberFault::None) {
        v.Add(Kind::Error, manifest,
              reading.sha256.fault == MemberFault::Absent && reading.signature.fault == MemberFault::Absent
                  ? "is not signed (no \"sha256\" and \"signature\"); a launcher built with the keys refuses it "
                    "(players get " +
                        players.missingSha1 + ")"
                  : "its \"sha256\" is not 64 hexadecimal digits or its \"signature\" is missing or not a string "
                    "(players get " +
                        players.missingSha1 + ")");
        return false;
    }
    std::wstring path;
    for (const auto& folder : folders) {
        path += L"/" + FromUtf8(folder);
    }
    path += L"/" + std::wstring(kManifestName);
    // Interim: the host is not known here yet (the signed form names it).
    if (CheckSignedManifest(reading, "", ToUtf8(path),
                            folders.front() == "launcher" ? ManifestPlace::Launcher : ManifestPlace::Stub,
                            *v.publicKeys, std::chrono::system_clock::now())
            .trust != ManifestTrust::Trusted) {
        v.Add(Kind::Error, manifest,
              "its signature does not verify for " + ToUtf8(path) + " with any of the public keys (players get " +
                  players.missingSha1 + ")");
        return false;
    }
    return true;
}

// Whether the launcher can download from url at all: an error for an address its download fails
// on, a note for plain http.
bool CheckDownloadUrl(Verifier& v, const std::wstring& manifest, const std::string& url) {
    const bool printable = std::all_of(url.begin(), url.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u > 0x20 && u < 0x7F;
    });
    if (url.empty() || !printable) {
        v.Add(Kind::Error, manifest,
              "its \"url\" is empty or not printable ASCII without blanks, so the download fails (percent-encode "
              "anything else)");
        return false;
    }
    if (url.starts_with("https://")) {
        return true;
    }
    if (url.starts_with("http://")) {
        v.Add(Kind::Note, manifest,
              "its \"url\" is plain http://: the download is checked by its SHA-1, but any "
              "network on the way can break it");
        return true;
    }
    v.Add(Kind::Error, manifest, "its \"url\" is not an https:// address, so the download fails");
    return false;
}

// The file url names inside the tree, hashed as the launcher will hash its download; a note when
// url points elsewhere. A manifest whose file is good, or out of reach, counts as good.
void CheckNamedFile(Verifier& v, const std::wstring& manifest, const std::vector<std::string>& folders,
                    const ManifestReading& reading) {
    const std::string& url = reading.url.value;
    const Sha1Digest& expected = reading.sha1.value;
    CheckedManifest checked{manifest, {}};
    if (const auto parts = MapIntoTree(url, folders, v.baseUrl)) {
        std::wstring file = v.tree;
        for (const auto& part : *parts) {
            file = JoinPath(file, FromUtf8(part));
        }
        v.referenced.insert(file);
        const PathKind kind = QueryPathKind(file);
        if (kind == PathKind::Missing) {
            v.Add(Kind::Error, manifest, "its \"url\" names " + ToUtf8(file) + ", which is not in the tree");
            return;
        }
        if (kind != PathKind::File) {
            v.Add(Kind::Error, manifest, "its \"url\" names " + ToUtf8(file) + ", which is not a file");
            return;
        }
        const std::optional<FileDigests> actual = HashFileTwice(file);
        if (!actual) {
            v.Add(Kind::Error, file, "cannot be read");
            return;
        }
        if (actual->sha1 != expected) {
            v.Add(Kind::Error, file,
                  "its SHA-1 is " + ToUtf8(DigestToHex(actual->sha1)) + ", but " + ToUtf8(manifest) + " says " +
                      ToUtf8(DigestToHex(expected)) + " (players would get a checksum mismatch)");
            return;
        }
        if (v.publicKeys != nullptr && actual->sha256 != reading.sha256.value) {
            v.Add(Kind::Error, file,
                  "its SHA-256 is " + Sha256ToHex(actual->sha256) + ", but " + ToUtf8(manifest) + " says " +
                      Sha256ToHex(reading.sha256.value) + " (players would get a checksum mismatch)");
            return;
        }
        checked.file = file;
    } else {
        v.Add(Kind::Note, manifest,
              "its \"url\" points outside the tree (" + url + "), so that file was not checked" +
                  (v.baseUrl ? "" : "; give --base-url if the tree is served there"));
    }
    v.report.good.push_back(std::move(checked));
}

// One manifest, in folders below the tree, read with the launcher's rules, and the file it names.
void CheckManifest(Verifier& v, const std::wstring& manifest, const std::vector<std::string>& folders,
                   ManifestKind kind) {
    const PlayerMessages players = MessagesFor(kind);
    std::string body;
    if (!ReadManifestFile(v, manifest, players, body)) {
        return;
    }
    const ManifestReading reading = ReadManifest(body);
    if (!CheckReading(v, manifest, reading, players) || !CheckSignature(v, manifest, folders, reading, players) ||
        !CheckDownloadUrl(v, manifest, reading.url.value)) {
        return;
    }
    CheckNamedFile(v, manifest, folders, reading);
}

// Files beside the manifests that no manifest names, and temporary files left behind.
void NoteStrayFiles(Verifier& v, const std::wstring& folder) {
    std::string reason;
    const auto entries = ListDirectory(folder, reason);
    if (!entries) {
        return;
    }
    for (const auto& entry : *entries) {
        const std::wstring path = JoinPath(folder, entry.name);
        if (entry.name == kManifestName || v.referenced.contains(path)) {
            continue;
        }
        if (entry.name.starts_with(L".")) {
            v.Add(Kind::Note, path, "looks like a temporary file of an interrupted publish; it can be removed");
        } else if (entry.kind == PathKind::File) {
            v.Add(Kind::Note, path,
                  "no manifest names it (an older release?); it can go once nobody can still be downloading it");
        }
    }
}

// TREE/launcher/manifest.json; its folder joins folders when the manifest is there.
void CheckLauncher(Verifier& v, std::vector<std::wstring>& folders) {
    const std::wstring launcherFolder = JoinPath(v.tree, std::wstring(kLauncherFolder));
    const std::wstring manifest = JoinPath(launcherFolder, std::wstring(kManifestName));
    if (QueryPathKind(manifest) == PathKind::Missing) {
        v.Add(Kind::Error, manifest,
              "is missing: every launcher run would stop with " + MessagesFor(ManifestKind::Launcher).fetchFailed);
        return;
    }
    CheckManifest(v, manifest, {ToUtf8(kLauncherFolder)}, ManifestKind::Launcher);
    folders.push_back(launcherFolder);
}

// TREE/stub/<key>/manifest.json for every build folder; each build folder with a manifest joins
// folders.
void CheckStubBuilds(Verifier& v, std::vector<std::wstring>& folders) {
    const std::wstring stubFolder = JoinPath(v.tree, std::wstring(kStubFolder));
    const std::string noBuild = "the launcher deletes the game executable of every player, who gets " +
                                MessagesFor(ManifestKind::Stub).fetchFailed + " (the server answers 404)";
    std::string reason;
    const auto entries =
        QueryPathKind(stubFolder) == PathKind::Directory ? ListDirectory(stubFolder, reason) : std::nullopt;
    bool anyBuild = false;
    for (const auto& entry : entries.value_or(std::vector<ListedEntry>{})) {
        const std::wstring path = JoinPath(stubFolder, entry.name);
        if (entry.name.starts_with(L".")) {
            v.Add(Kind::Note, path, "looks like a temporary file of an interrupted publish; it can be removed");
            continue;
        }
        if (entry.kind != PathKind::Directory) {
            v.Add(Kind::Note, path, "is not a build folder; the launcher never asks for it");
            continue;
        }
        if (!IsBuildKey(entry.name)) {
            v.Add(Kind::Error, path,
                  "is not a build key (40 lower-case hexadecimal digits); the launcher never asks for it");
            continue;
        }
        anyBuild = true;
        const std::wstring manifest = JoinPath(path, std::wstring(kManifestName));
        if (QueryPathKind(manifest) == PathKind::Missing) {
            v.Add(Kind::Error, manifest, "is missing: for this build " + noBuild);
            continue;
        }
        CheckManifest(v, manifest, {ToUtf8(kStubFolder), ToUtf8(entry.name)}, ManifestKind::Stub);
        folders.push_back(path);
    }
    if (!anyBuild) {
        v.Add(Kind::Error, stubFolder, "holds no game build: " + noBuild);
    }
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

bool TreeReport::HasErrors() const {
    return std::any_of(findings.begin(), findings.end(), [](const Finding& f) { return f.kind == Kind::Error; });
}

TreeReport VerifyTree(const std::wstring& tree, const std::optional<std::string>& baseUrl,
                      const std::vector<P256PublicKey>* publicKeys) {
    Verifier v{tree, baseUrl, publicKeys, {}, {}};
    switch (QueryPathKind(tree)) {
        case PathKind::Missing:
            v.Add(Kind::Error, tree, "does not exist");
            return v.report;
        case PathKind::Directory:
            break;
        default:
            v.Add(Kind::Error, tree, "is not a folder");
            return v.report;
    }
    std::vector<std::wstring> folders;
    CheckLauncher(v, folders);
    CheckStubBuilds(v, folders);
    for (const auto& folder : folders) {
        NoteStrayFiles(v, folder);
    }
    return v.report;
}

}  // namespace zv::publish
