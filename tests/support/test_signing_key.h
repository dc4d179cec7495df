#pragma once

// A signing key made afresh for a test, which signs as `openssl dgst -sha256 -sign` does (OpenSSL;
// the native build only), and the signed manifests made with it. For the unit tables of the flows
// that check manifest signatures.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "integrity/p256.h"

namespace zv::test {

class TestSigningKey {
public:
    TestSigningKey();  // a new P-256 key; throws std::runtime_error when OpenSSL cannot make one
    ~TestSigningKey();
    TestSigningKey(TestSigningKey&&) noexcept;
    TestSigningKey& operator=(TestSigningKey&&) noexcept;

    [[nodiscard]] const P256PublicKey& publicKey() const { return publicKey_; }

    // Standard base64, with padding, of the DER ECDSA signature over message with SHA-256.
    [[nodiscard]] std::string Sign(std::string_view message) const;

private:
    struct Key;
    std::unique_ptr<Key> key_;
    P256PublicKey publicKey_;
};

// Key which (0, 1 or 2) of three made once for the test program: a table trusts some of them and
// signs with another.
const TestSigningKey& SharedTestKey(int which);

// A manifest for content at url, signed for path as the publishing tool signs it. A case changes
// one part before Body(): the key, the path or a digest of the signed message, the signature
// itself, or the sha1 the body names.
struct SignedManifest {
    SignedManifest(std::string path, std::string_view content, std::string url);

    std::string path;
    std::string sha1;  // lower-case hexadecimal, as in the message
    std::string sha256;
    std::string url;
    const TestSigningKey* key = &SharedTestKey(0);
    std::optional<std::string> signature;  // replaces the real one
    std::string sha1InBody;                // when not empty, the body names this sha1 instead

    [[nodiscard]] std::string Body() const;
};

}  // namespace zv::test
