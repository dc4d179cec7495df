#pragma once

// ECDSA over the NIST P-256 curve with SHA-256, as update manifests are signed. The verification
// is the platform's own cryptography: BCrypt on Windows, OpenSSL in a build without Windows (and
// in the publishing tool there).

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "integrity/sha256.h"

namespace zv {

// A public key: the curve point's X and Y, 32 bytes each, most significant byte first (the
// uncompressed point of a SubjectPublicKeyInfo without its leading 0x04).
struct P256PublicKey {
    std::array<std::uint8_t, 64> point{};
    friend bool operator==(const P256PublicKey&, const P256PublicKey&) = default;
};

// A signature: r and s, 32 bytes each, most significant byte first.
struct P256Signature {
    std::array<std::uint8_t, 64> rs{};
    friend bool operator==(const P256Signature&, const P256Signature&) = default;
};

// The signature that the DER encoding of an ECDSA-Sig-Value holds (SEQUENCE of the two INTEGERs
// r and s, as `openssl dgst -sign` writes it). Strict DER only: definite minimal lengths, minimal
// positive integers, nothing after the sequence; r and s must be from 1 to below 2^256. Nothing for
// anything else. The bytes come from the update server, so this reads them with care.
std::optional<P256Signature> ParseDerSignature(std::span<const std::uint8_t> der);

// A key's fingerprint: the first 16 lower-case hexadecimal digits of the SHA-256 of its DER
// SubjectPublicKeyInfo, as the launcher's configure prints it, as its build record and the marks of
// the manifests it accepted (update/manifest_marks.h) keep it, and as
// `openssl pkey -pubin -in KEY.pem -outform DER | sha256sum | cut -c1-16` gives it. Sixteen question
// marks when the platform's SHA-256 cannot be had.
std::string KeyFingerprint(const P256PublicKey& key);

// True when signature is a valid signature of digest under key. False for a key that is not a
// point of the curve, a signature out of range, or when the platform's cryptography cannot be had.
bool VerifyP256(const P256PublicKey& key, const Sha256Digest& digest, const P256Signature& signature);

}  // namespace zv
