#pragma once

// A signing key made afresh for a test, which signs as `openssl dgst -sha256 -sign` does (OpenSSL;
// the native build only). For the unit tables of the flows that check manifest signatures.

#include <memory>
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

}  // namespace zv::test
