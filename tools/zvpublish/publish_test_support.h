#pragma once

// Small helpers of the publishing tool's tests.

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

#include "digest_text.h"
#include "pe_builder.h"
#include "public_keys.h"
#include "publish.h"
#include "signing.h"
#include "tree_files.h"

namespace zv::publish {

using zv::test::Sha1Hex;

inline std::string KeyOf(const std::filesystem::path& target) { return ToUtf8(ComputeBuildKey(target.wstring()).key); }

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

// A program with a version resource of version (none without one), and after its sections the
// 64-byte points of keys, as a launcher built with them carries them; tag changes the code, so that
// images of the same version can differ.
inline zv::test::Bytes VersionedImage(std::optional<std::array<std::uint16_t, 4>> version,
                                      std::span<const P256PublicKey> keys = {}, std::uint8_t tag = 0xC3) {
    zv::test::PeImage image = zv::test::MakeImportingImage({"KERNEL32.dll"}, 0x8664, zv::test::Bytes(64, tag));
    if (version) {
        zv::test::AddVersionResource(image, *version);
    }
    for (const auto& key : keys) {
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
