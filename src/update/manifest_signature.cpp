#include "update/manifest_signature.h"

#include "common/base64.h"

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

}  // namespace zv
