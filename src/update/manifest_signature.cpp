#include "update/manifest_signature.h"

#include "common/base64.h"
#include "integrity/file_digest.h"

namespace zv {

std::string SignedManifestMessage(std::string_view path, const Sha1Digest& sha1, const Sha256Digest& sha256) {
    const std::wstring sha1Hex = DigestToHex(sha1);
    std::string message(kSignedManifestTag);
    message += '\n';
    message += path;
    message += '\n';
    message.append(sha1Hex.begin(), sha1Hex.end());  // hexadecimal digits: ASCII
    message += '\n';
    message += Sha256ToHex(sha256);
    message += '\n';
    return message;
}

bool VerifyManifestSignature(std::span<const P256PublicKey> keys, std::string_view path, const Sha1Digest& sha1,
                             const Sha256Digest& sha256, std::string_view signature) {
    const auto der = DecodeBase64(signature);
    if (!der) {
        return false;
    }
    const auto parsed = ParseDerSignature(*der);
    if (!parsed) {
        return false;
    }
    const std::string message = SignedManifestMessage(path, sha1, sha256);
    const auto digest = Sha256Of(message.data(), message.size());
    if (!digest) {
        return false;
    }
    for (const P256PublicKey& key : keys) {
        if (VerifyP256(key, *digest, *parsed)) {
            return true;
        }
    }
    return false;
}

bool IsTrustedManifest(const ManifestReading& manifest, std::wstring_view path, std::span<const P256PublicKey> keys) {
    if (keys.empty()) {
        return true;
    }
    std::string ascii;
    for (const wchar_t c : path) {
        if (c <= 0 || c >= 0x80) {
            return false;
        }
        ascii.push_back(static_cast<char>(c));
    }
    return manifest.sha1.ok() && manifest.sha256.ok() && manifest.signature.ok() &&
           VerifyManifestSignature(keys, ascii, manifest.sha1.value, manifest.sha256.value, manifest.signature.value);
}

bool DownloadMatchesManifest(const std::wstring& path, const ManifestReading& manifest,
                             std::span<const P256PublicKey> keys) {
    if (keys.empty()) {
        return FileMatchesManifest(path, manifest);
    }
    const std::optional<FileDigests> digests = HashFileTwice(path);
    return digests && digests->sha1 == manifest.sha1.value && digests->sha256 == manifest.sha256.value;
}

}  // namespace zv
