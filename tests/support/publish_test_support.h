#pragma once

// What the publishing tool's tests share: the names every one of them uses, the address and the
// moment their trees are served and read at, and the programs, stubs and launchers they publish.
// Its names are in zv::publish, which each test uses whole.

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/version.h"
#include "digest_text.h"
#include "file_bytes.h"
#include "pe_builder.h"
#include "scratch_directory.h"
#include "signing_test_support.h"
#include "zvpublish/commands/publish.h"
#include "zvpublish/commands/release_files.h"
#include "zvpublish/signing/public_keys.h"
#include "zvpublish/signing/signing.h"
#include "zvpublish/tree/tree_files.h"

namespace zv::publish {

namespace fs = std::filesystem;
using zv::test::Bytes;
using zv::test::ReadFileBytes;
using zv::test::ReadFileText;
using zv::test::ScratchDirectory;
using zv::test::Sha1Hex;
using zv::test::WriteFileBytes;

// Where the tests' trees are served.
inline constexpr char kBase[] = "https://cdn.example.com/zv/";

// The moment the tests count files' ages and manifests' expiries up to: fixed, never the clock's.
inline const FileTime kNow = std::chrono::sys_days{std::chrono::year{2024} / 3 / 1};

// A game program: the client target of a game build, importing ZVClient.dll and nothing else.
inline Bytes GameImage() { return zv::test::BuildPe(zv::test::MakeImportingImage({"ZVClient.dll"})); }

inline std::string KeyOf(const std::filesystem::path& target) { return ToUtf8(ComputeBuildKey(target.wstring()).key); }

// published, when nothing failed; a fixture that cannot publish what its tests read throws.
inline const Published& Require(const Published& published) {
    if (published.failure) {
        throw std::runtime_error("cannot publish: " + ToUtf8(published.failure->path) + ": " +
                                 published.failure->reason);
    }
    return published;
}

// The names in a folder, sorted.
inline std::vector<std::string> EntriesOf(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A file's modification time, set to a moment a test fixes (never the clock's) and read back.
inline void SetModified(const std::filesystem::path& path, FileTime time) {
    std::filesystem::last_write_time(path, std::chrono::file_clock::from_sys(time));
}
inline FileTime ModifiedAt(const std::filesystem::path& path) {
    return std::chrono::time_point_cast<FileTime::duration>(
        std::chrono::file_clock::to_sys(std::filesystem::last_write_time(path)));
}

// A client stub: a 64-bit DLL with a version resource of version (none without one); tag changes
// the code, so that stubs of the same version can differ.
inline zv::test::Bytes StubImage(std::optional<std::array<std::uint16_t, 4>> version = std::nullopt,
                                 std::uint8_t tag = 0xC3) {
    zv::test::PeImage image = zv::test::MakeImportingImage({"KERNEL32.dll"}, 0x8664, zv::test::Bytes(64, tag));
    image.characteristics |= 0x2000;  // IMAGE_FILE_DLL
    image.subsystem = 2;
    if (version) {
        zv::test::AddVersionResource(image, *version);
    }
    return zv::test::BuildPe(image);
}

// The build record of a launcher built for host with version and keys, as its build writes it.
inline std::string BuildRecordText(const std::string& host, const std::array<std::uint16_t, 4>& version,
                                   std::span<const P256PublicKey> keys) {
    // Appended piece by piece: operator+ on temporaries trips a false -Wrestrict warning of GCC 12 in
    // the cross build.
    std::string text = "zarnovelle-launcher-build 1\nhost ";
    text += host;
    text += "\nversion ";
    text += FormatVersion(Version{version});
    text += "\nkeys ";
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (i != 0) {
            text += ' ';
        }
        text += KeyFingerprint(keys[i]);
    }
    text += '\n';
    return text;
}

// A launcher as its build makes it: a 64-bit Windows GUI program with a version resource of
// version (none without one), its build record (record, when given, in place of the one for host,
// version and keys), and after its sections the 64-byte points of keys, as the launcher compiles
// them in; tag changes the code, so that launchers of the same version can differ.
struct LauncherFixture {
    std::optional<std::array<std::uint16_t, 4>> version = std::array<std::uint16_t, 4>{1, 0, 0, 0};
    std::vector<P256PublicKey> keys;
    std::uint8_t tag = 0xC3;
    std::string host = "updates.test";
    std::optional<std::string> record;

    LauncherFixture& WithVersion(std::optional<std::array<std::uint16_t, 4>> value) {
        version = value;
        return *this;
    }
    LauncherFixture& WithKeys(std::vector<P256PublicKey> value) {
        keys = std::move(value);
        return *this;
    }
    LauncherFixture& WithTag(std::uint8_t value) {
        tag = value;
        return *this;
    }
    LauncherFixture& WithHost(std::string value) {
        host = std::move(value);
        return *this;
    }
    LauncherFixture& WithRecord(std::string value) {
        record = std::move(value);
        return *this;
    }
};

inline zv::test::Bytes LauncherImage(const LauncherFixture& launcher = LauncherFixture()) {
    zv::test::PeImage image = zv::test::MakeImportingImage({"KERNEL32.dll"}, 0x8664, zv::test::Bytes(64, launcher.tag));
    image.subsystem = 2;  // IMAGE_SUBSYSTEM_WINDOWS_GUI
    const std::string record = launcher.record.value_or(
        BuildRecordText(launcher.host, launcher.version.value_or(std::array<std::uint16_t, 4>{}), launcher.keys));
    std::vector<zv::test::PeResourceEntry> resources = {
        {10, u"ZVBUILD", 0, zv::test::Bytes(record.begin(), record.end())}};
    if (launcher.version) {
        resources.push_back({16, u"", 1, zv::test::VersionRecord(*launcher.version)});
    }
    zv::test::AddResources(image, resources);
    for (const auto& key : launcher.keys) {
        image.trailer.insert(image.trailer.end(), key.point.begin(), key.point.end());
    }
    return zv::test::BuildPe(image);
}

#ifndef _WIN32
// A signing key made for one test in folder (the Linux build makes keys and signs), with what
// signing takes for the host "updates.test" and expires.
struct TestSigning {
    std::unique_ptr<ManifestSigner> signer;
    Signing signing;
    std::vector<P256PublicKey> keys;  // its public key alone
    std::wstring publicPath;

    TestSigning(const std::filesystem::path& folder, const std::string& name,
                std::optional<std::string> expires = std::nullopt) {
        const std::wstring key = (folder / (name + ".pem")).wstring();
        publicPath = (folder / (name + ".pub.pem")).wstring();
        std::string reason;
        if (GenerateSigningKey(key, &publicPath) || !(signer = ManifestSigner::Load(key, reason))) {
            throw std::runtime_error("cannot make a signing key: " + reason);
        }
        keys = *ReadPublicKeys(publicPath, reason);
        signing = Signing{signer.get(), keys.front(), key, "updates.test", std::move(expires)};
    }
};
#endif

}  // namespace zv::publish
