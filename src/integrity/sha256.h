#pragma once

// SHA-256, as the signed update manifests name their files. The launcher owns its SHA-1; SHA-256
// comes from the platform's own cryptography: BCrypt on Windows, OpenSSL in a build without
// Windows.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zv {

struct Sha256Digest {
    std::array<std::uint8_t, 32> bytes{};
    friend bool operator==(const Sha256Digest&, const Sha256Digest&) = default;
};

// An incremental SHA-256. When the platform's cryptography cannot be had or fails, the object is
// spent: Final gives nothing, and a check against any expected digest fails.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(Sha256&&) noexcept;
    Sha256& operator=(Sha256&&) noexcept;
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* data, std::size_t length);
    // The digest of everything taken in; the object is spent afterwards.
    std::optional<Sha256Digest> Final();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The digest of bytes in one call.
std::optional<Sha256Digest> Sha256Of(const void* data, std::size_t length);

// Sixty-four lower-case hexadecimal digits.
std::string Sha256ToHex(const Sha256Digest& digest);

// Exactly sixty-four hexadecimal digits of either case, nothing else; nothing otherwise.
std::optional<Sha256Digest> Sha256FromHex(std::string_view text);

}  // namespace zv
