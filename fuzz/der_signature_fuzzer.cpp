// The DER signatures of signed manifests come from the update server. The launcher's reader must
// accept exactly the strict DER ECDSA-Sig-Values that OpenSSL's own reading accepts and writes back
// unchanged (the test OpenSSL's verification makes), with r and s from 1 to below 2^256, and give
// the same r and s.

#include <openssl/bn.h>
#include <openssl/ecdsa.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "fuzz_check.h"
#include "integrity/p256.h"

namespace {

std::optional<zv::P256Signature> Reference(const std::uint8_t* data, std::size_t size) {
    const unsigned char* cursor = data;
    std::unique_ptr<ECDSA_SIG, decltype(&ECDSA_SIG_free)> sig(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(size)),
                                                              ECDSA_SIG_free);
    if (!sig || cursor != data + size) {
        return std::nullopt;
    }
    unsigned char* again = nullptr;
    const int length = i2d_ECDSA_SIG(sig.get(), &again);
    const bool same = length == static_cast<int>(size) && std::equal(data, data + size, again);
    OPENSSL_free(again);
    if (!same) {
        return std::nullopt;
    }
    const BIGNUM* r = ECDSA_SIG_get0_r(sig.get());
    const BIGNUM* s = ECDSA_SIG_get0_s(sig.get());
    zv::P256Signature signature;
    for (const auto& [value, at] : {std::pair{r, 0}, std::pair{s, 32}}) {
        if (BN_is_negative(value) || BN_is_zero(value) || BN_num_bytes(value) > 32 ||
            BN_bn2binpad(value, signature.rs.data() + at, 32) != 32) {
            return std::nullopt;
        }
    }
    return signature;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto ours = zv::ParseDerSignature(std::span(data, size));
    const auto reference = Reference(data, size);
    zv::fuzz::Check(ours.has_value() == reference.has_value(), "accepts exactly what strict DER accepts");
    if (ours && reference) {
        zv::fuzz::Check(ours->rs == reference->rs, "reads the same r and s");
    }
    return 0;
}
