#include "zvpublish/commands/verify_tree.h"

#include <algorithm>
#include <set>
#include <string_view>

#include "common/launch_result.h"
#include "common/text.h"
#include "integrity/file_digest.h"
#include "integrity/sha1.h"
#include "net/transfer_rules.h"
#include "update/manifest.h"
#include "update/manifest_signature.h"
#include "update/tree_layout.h"
#include "zvpublish/commands/address.h"
#include "zvpublish/tree/manifest_files.h"
#include "zvpublish/tree/tree_contents.h"
#include "zvpublish/tree/tree_files.h"

namespace zv::publish {

namespace {

using Kind = Finding::Kind;

struct UrlOfManifest {
    std::wstring manifest;
    std::string host;
};

struct Verifier {
    const std::wstring& tree;
    const std::optional<std::string>& baseUrl;
    const SignedCheck* signedCheck;  // a signed tree
    TreeReport report;
    std::vector<UrlOfManifest> urls;  // the host of each manifest's "url", in the order checked

    void Add(Kind kind, const std::wstring& path, std::string text) {
        report.findings.push_back({kind, path, std::move(text)});
    }
};

enum class ManifestKind { Launcher, Stub };

// What a player gets, in the launcher's own words and quoted, for a manifest of this kind that
// cannot be fetched or read, has no usable "sha1", or has no usable "url"; and from a launcher built
// with keys, for one that is not signed for it, that has expired, or that withdraws the build.
struct PlayerMessages {
    std::string fetchFailed;
    std::string missingSha1;
    std::string missingUrl;
    std::string untrusted;
    std::string expired;
    std::string withdrawn;
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
                Quoted(LaunchResult::LauncherManifestMissingUrl),  Quoted(LaunchResult::LauncherManifestUntrusted),
                Quoted(LaunchResult::LauncherManifestExpired),     {}};
    }
    return {Quoted(LaunchResult::StubManifestFetchFailed), Quoted(LaunchResult::StubManifestMissingSha1),
            Quoted(LaunchResult::StubManifestMissingUrl),  Quoted(LaunchResult::StubManifestUntrusted),
            Quoted(LaunchResult::StubManifestStale),       Quoted(LaunchResult::GameBuildWithdrawn)};
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

// Whether the body is one JSON object; an error otherwise.
bool CheckForm(Verifier& v, const std::wstring& manifest, const ManifestReading& reading,
               const PlayerMessages& players) {
    switch (reading.form) {
        case ManifestForm::NotOneJsonValue:
            v.Add(Kind::Error, manifest,
                  "is not one valid JSON value (players get " + players.fetchFailed + "): " + reading.parseError);
            return false;
        case ManifestForm::NotAnObject:
            v.Add(
                Kind::Error, manifest,
                "is not a JSON object (players get " + (v.signedCheck ? players.untrusted : players.missingSha1) + ")");
            return false;
        case ManifestForm::Object:
            break;
    }
    return true;
}

// Each rule of the unsigned reading the body breaks, as an error; true when there is none.
bool CheckUnsignedMembers(Verifier& v, const std::wstring& manifest, const ManifestReading& reading,
                          const PlayerMessages& players) {
    if (reading.withdrawn.fault != MemberFault::Absent) {
        v.Add(Kind::Error, manifest,
              "is a withdrawal, which only a launcher built with keys reads; one without keys finds no \"sha1\" "
              "(players get " +
                  players.missingSha1 + "). Check a signed tree with --public-keys and --update-host");
        return false;
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

// The manifest's path on the server, from its folders below the tree.
std::string ServerPath(const std::vector<std::string>& folders) {
    std::string path;
    for (const auto& folder : folders) {
        path += "/" + folder;
    }
    return path + "/" + ToUtf8(kManifestName);
}

// Whether the launcher can download from url at all: an error for an address its download fails
// on or that is not https://. Keeps the url's host for the check of all hosts.
bool CheckDownloadUrl(Verifier& v, const std::wstring& manifest, const std::string& url) {
    if (url.empty() || !IsVisibleAscii(url)) {
        v.Add(Kind::Error, manifest,
              "its \"url\" is empty or not printable ASCII without blanks, so the download fails (percent-encode "
              "anything else)");
        return false;
    }
    if (url.starts_with("http://")) {
        v.Add(Kind::Error, manifest,
              "its \"url\" is plain http://: any network on the way can block or change the download, and a "
              "launcher built with keys refuses the manifest; publish with an https:// --base-url");
        return false;
    }
    const std::optional<std::string> host = UrlHost(url);
    if (!url.starts_with("https://") || !host) {
        v.Add(Kind::Error, manifest, "its \"url\" is not an https:// address with a host, so the download fails");
        return false;
    }
    v.urls.push_back({manifest, *host});
    return true;
}

// The file url names inside the tree, hashed as the launcher will hash its download, and with a
// signed release held to its size and SHA-256 too; a note when url points elsewhere. A manifest
// whose file is good, or out of reach, counts as good.
void CheckNamedFile(Verifier& v, const std::wstring& manifest, const std::vector<std::string>& folders,
                    const std::string& url, const Sha1Digest& expected, const SignedRelease* release) {
    CheckedManifest checked{manifest, {}};
    const NamedFile named = ReadNamedFile(v.tree, url, folders, v.baseUrl);
    const std::wstring& file = named.path;
    switch (named.state) {
        case NamedFile::State::Outside:
            v.Add(Kind::Note, manifest,
                  "its \"url\" points outside the tree (" + url + "), so that file was not checked" +
                      (v.baseUrl ? "" : "; give --base-url if the tree is served there"));
            v.report.good.push_back(std::move(checked));
            return;
        case NamedFile::State::Missing:
            v.Add(Kind::Error, manifest, "its \"url\" names " + ToUtf8(file) + ", which is not in the tree");
            return;
        case NamedFile::State::NotAFile:
            v.Add(Kind::Error, manifest, "its \"url\" names " + ToUtf8(file) + ", which is not a file");
            return;
        case NamedFile::State::Unreadable:
            v.Add(Kind::Error, file, "cannot be read");
            return;
        case NamedFile::State::Read:
            break;
    }
    if (release != nullptr && named.size != release->size) {
        v.Add(Kind::Error, file,
              "is " + std::to_string(named.size) + " bytes long, but " + ToUtf8(manifest) + " says " +
                  std::to_string(release->size) + " (players' download would stop at that size or fail)");
        return;
    }
    if (named.digests.sha1 != expected) {
        v.Add(Kind::Error, file,
              "its SHA-1 is " + Sha1ToHex(named.digests.sha1) + ", but " + ToUtf8(manifest) + " says " +
                  Sha1ToHex(expected) + " (players would get a checksum mismatch)");
        return;
    }
    if (release != nullptr && named.digests.sha256 != release->sha256) {
        v.Add(Kind::Error, file,
              "its SHA-256 is " + Sha256ToHex(named.digests.sha256) + ", but " + ToUtf8(manifest) + " says " +
                  Sha256ToHex(release->sha256) + " (players would get a checksum mismatch)");
        return;
    }
    checked.file = file;
    v.report.good.push_back(std::move(checked));
}

// A manifest of a signed tree, read as a launcher built with the keys reads it.
void CheckSignedManifestOf(Verifier& v, const std::wstring& manifest, const std::vector<std::string>& folders,
                           const ManifestReading& reading, ManifestKind kind, const PlayerMessages& players) {
    const SignedCheck& check = *v.signedCheck;
    const std::string path = ServerPath(folders);
    const SignedReading signedReading = CheckSignedManifest(
        reading, check.host, path, kind == ManifestKind::Launcher ? ManifestPlace::Launcher : ManifestPlace::Stub,
        check.keys, check.now);
    const SignedRelease& release = signedReading.release;
    switch (signedReading.trust) {
        case ManifestTrust::Untrusted:
            v.Add(Kind::Error, manifest,
                  "is refused by a launcher built with these keys: " + signedReading.problem + " (players get " +
                      players.untrusted + ")");
            return;
        case ManifestTrust::Expired:
            v.Add(Kind::Error, manifest,
                  "expired at " + release.expires.value_or("") + " (players get " + players.expired +
                      "); zvpublish refresh signs it again with a new expiry");
            return;
        case ManifestTrust::Trusted:
            break;
    }
    if (signedReading.withdrawn) {
        v.Add(Kind::Note, manifest,
              "withdraws this game build at version " + FormatVersion(release.version) +
                  ": a launcher that has accepted no higher version for it deletes its program (players get " +
                  players.withdrawn + "); one that has accepted a higher version does nothing with it");
        v.report.good.push_back({manifest, {}});
        return;
    }
    if (CheckDownloadUrl(v, manifest, release.url)) {
        CheckNamedFile(v, manifest, folders, release.url, release.sha1, &release);
    }
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
    if (!CheckForm(v, manifest, reading, players)) {
        return;
    }
    if (v.signedCheck != nullptr) {
        CheckSignedManifestOf(v, manifest, folders, reading, kind, players);
        return;
    }
    if (reading.signature.fault != MemberFault::Absent || reading.withdrawn.fault != MemberFault::Absent) {
        ++v.report.signedManifests;
    }
    if (CheckUnsignedMembers(v, manifest, reading, players) && CheckDownloadUrl(v, manifest, reading.url.value)) {
        CheckNamedFile(v, manifest, folders, reading.url.value, reading.sha1.value, nullptr);
    }
}

// Every download comes from the host the tree is served from: --base-url's, or else the one most
// manifests name (the first of them when as many name another). Each manifest elsewhere is named.
void CheckUrlHosts(Verifier& v) {
    std::optional<std::string> expected;
    if (v.baseUrl) {
        expected = UrlHost(*v.baseUrl);
    } else {
        std::size_t most = 0;
        for (const auto& url : v.urls) {
            const auto count = static_cast<std::size_t>(std::count_if(
                v.urls.begin(), v.urls.end(), [&](const UrlOfManifest& other) { return other.host == url.host; }));
            if (count > most) {
                most = count;
                expected = url.host;
            }
        }
    }
    for (const auto& url : v.urls) {
        if (!expected || url.host == *expected) {
            continue;
        }
        if (v.baseUrl) {
            v.Add(Kind::Error, url.manifest,
                  "its \"url\" is on the host " + url.host + ", not on " + *expected + ", the host of --base-url");
        } else {
            v.Add(Kind::Error, url.manifest,
                  "its \"url\" is on the host " + url.host + ", while the other manifests' are on " + *expected +
                      ": every download should come from the host the tree is served from");
        }
    }
}

// What lies beside a manifest that nothing uses: temporary files left behind, content-named files no
// manifest names (by the rule of status and prune, so that verify never calls a file unnamed that
// they keep), and other files the launcher never asks for. A folder whose manifest does not serve
// is left to the manifest's own error: prune keeps all of it.
void NoteStrayFiles(Verifier& v, const ManifestFolder& folder, const std::set<std::string>& urlNamed) {
    std::string reason;
    const auto entries = ListDirectory(folder.path, reason);
    if (!entries || !folder.Served()) {
        return;
    }
    for (const auto& entry : *entries) {
        const std::wstring path = JoinPath(folder.path, entry.name);
        if (entry.name == kManifestName || entry.link ||
            urlNamed.contains(folder.relative + "/" + ToUtf8(entry.name))) {
            continue;
        }
        if (entry.name.starts_with(L".")) {
            v.Add(Kind::Note, path, "looks like a temporary file of an interrupted publish; it can be removed");
            continue;
        }
        if (entry.kind != PathKind::File) {
            continue;
        }
        const auto content = std::find_if(folder.files.begin(), folder.files.end(),
                                          [&](const ContentFile& file) { return file.path == path; });
        if (content == folder.files.end()) {
            v.Add(Kind::Note, path,
                  "is not a file the launcher asks for (no manifest names it and it has no content name); "
                  "zvpublish prune leaves it alone");
        } else if (!content->named) {
            v.Add(Kind::Note, path,
                  "no manifest names it (an older release?); it can go once nobody can still be downloading it "
                  "(zvpublish prune removes it once it is old enough)");
        }
    }
}

// TREE/launcher/manifest.json.
void CheckLauncher(Verifier& v) {
    const std::wstring launcherFolder = JoinPath(v.tree, std::wstring(kLauncherFolder));
    const std::wstring manifest = JoinPath(launcherFolder, std::wstring(kManifestName));
    if (QueryPathKind(manifest) == PathKind::Missing) {
        v.Add(Kind::Error, manifest,
              "is missing: every launcher run would stop with " + MessagesFor(ManifestKind::Launcher).fetchFailed);
        return;
    }
    CheckManifest(v, manifest, {ToUtf8(kLauncherFolder)}, ManifestKind::Launcher);
}

// TREE/stub/<key>/manifest.json for every build folder.
void CheckStubBuilds(Verifier& v) {
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
    }
    if (!anyBuild) {
        v.Add(Kind::Error, stubFolder, "holds no game build: " + noBuild);
    }
}

}  // namespace

bool TreeReport::HasErrors() const {
    return std::any_of(findings.begin(), findings.end(), [](const Finding& f) { return f.kind == Kind::Error; });
}

TreeReport VerifyTree(const std::wstring& tree, const std::optional<std::string>& baseUrl,
                      const SignedCheck* signedCheck) {
    Verifier v{tree, baseUrl, signedCheck, {}, {}};
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
    CheckLauncher(v);
    CheckStubBuilds(v);
    CheckUrlHosts(v);
    const TreeContents contents = ReadTreeContents(tree, baseUrl);
    std::vector<const ManifestFolder*> folders;
    if (contents.launcher) {
        folders.push_back(&*contents.launcher);
    }
    for (const auto& folder : contents.stubs) {
        folders.push_back(&folder);
    }
    std::set<std::string> urlNamed;  // below the tree, whatever their names
    for (const ManifestFolder* folder : folders) {
        if (folder->state == ManifestState::Good && !folder->namedRelative.empty()) {
            urlNamed.insert(folder->namedRelative);
        }
    }
    for (const ManifestFolder* folder : folders) {
        NoteStrayFiles(v, *folder, urlNamed);
    }
    return v.report;
}

}  // namespace zv::publish
