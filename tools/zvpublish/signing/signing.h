#pragma once

// The operator's signing key: making one, and signing manifests with it. OpenSSL does both, in the
// tool's build for Linux; the Windows build of the tool checks signatures (see verify_tree.h) but
// does not make keys or sign, and says so.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "integrity/p256.h"

namespace zv::publish {

// Whether this build of the tool makes keys and signs.
bool CanSign();

// Why signing is not offered by this build, for the operator.
inline constexpr std::string_view kCannotSign =
    "this build of zvpublish does not sign; sign with the Linux build (the key belongs on the "
    "machine that signs, not on the server)";

// Writes a new EC P-256 private key to keyPath (PKCS#8 PEM, readable by its owner only), and its
// public key (SubjectPublicKeyInfo PEM, what ZV_UPDATE_PUBLIC_KEYS takes) to publicPath when one
// is given. Neither file may exist: an existing key is never overwritten, and the reason names
// every file in the way. The reason when it fails.
std::optional<std::string> GenerateSigningKey(const std::wstring& keyPath, const std::wstring* publicPath);

// A private key loaded for signing.
class ManifestSigner {
public:
    // The key at path (a PEM private key on the curve P-256), or nothing with the reason. An
    // encrypted key is decrypted with passphrase when one is given (a key that is not encrypted is
    // then refused, as the passphrase was meant for another key), and otherwise with a passphrase
    // the operator types at the terminal when asked.
    static std::unique_ptr<ManifestSigner> Load(const std::wstring& path, std::string& reason,
                                                const std::string* passphrase = nullptr);
    virtual ~ManifestSigner() = default;

    // ECDSA with SHA-256 over message: standard base64, with padding, of the DER signature (as
    // `openssl dgst -sha256 -sign` writes it). Nothing with the reason when it fails.
    virtual std::optional<std::string> Sign(std::string_view message, std::string& reason) const = 0;

    // The key's public half as SubjectPublicKeyInfo PEM.
    virtual std::string PublicKeyPem() const = 0;
};

// What signing a manifest takes (update/manifest_signature.h): the key, the update host the
// launcher is built for, and when the manifest stops being valid.
struct Signing {
    const ManifestSigner* signer = nullptr;
    P256PublicKey publicKey;             // the key's public half, as a launcher built with it carries it
    std::wstring keyPath;                // where the key was read from, for messages
    std::string host;                    // HOST of the signed messages (MessageHost of ZV_UPDATE_HOST)
    std::optional<std::string> expires;  // "YYYY-MM-DDTHH:MM:SSZ"; nothing: it never expires
};

}  // namespace zv::publish
