#pragma once

// A signing key made afresh for a test, which signs as `openssl dgst -sha256 -sign` does (OpenSSL;
// the native build only), and the signed manifests made with it. For the unit tables of the flows
// that check manifest signatures.

#include <cstdint>
#include <map>
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

// JSON text of a string: the body builders below write members as JSON texts, so that a case can
// put any value in a member's place.
std::string JsonString(std::string_view text);

// A manifest for content at url, signed as the publishing tool signs it for host and path. A case
// changes one part of the signed message before Body() (the key, the host, the path, a member's
// value), the signature itself, or the body after signing (bodyChanges: a member's JSON text, or
// nothing to leave the member out; a name not in the manifest is added).
struct SignedManifest {
    SignedManifest(std::string path, std::string_view content, std::string url, std::string version = "1.0.0.1");

    std::string host = "updates.test";
    std::string path;
    std::string version;
    std::optional<std::string> expires;
    std::uint64_t size = 0;
    std::string sha1;  // lower-case hexadecimal, as in the message
    std::string sha256;
    std::string url;
    const TestSigningKey* key = &SharedTestKey(0);
    std::optional<std::string> signature;  // replaces the real one
    std::map<std::string, std::optional<std::string>> bodyChanges;

    [[nodiscard]] std::string Message() const;
    [[nodiscard]] std::string Body() const;
};

// A withdrawal of the game build whose manifest is at path, signed likewise.
struct SignedWithdrawal {
    SignedWithdrawal(std::string path, std::string version);

    std::string host = "updates.test";
    std::string path;
    std::string version;
    std::optional<std::string> expires;
    const TestSigningKey* key = &SharedTestKey(0);
    std::map<std::string, std::optional<std::string>> bodyChanges;

    [[nodiscard]] std::string Message() const;
    [[nodiscard]] std::string Body() const;
};

}  // namespace zv::test
