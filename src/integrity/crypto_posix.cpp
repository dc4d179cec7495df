// SHA-256 and ECDSA P-256 verification in a build without Windows: OpenSSL.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <memory>

#include "integrity/p256.h"
#include "integrity/sha256.h"

namespace zv {

namespace {

template <typename T, void (*Free)(T*)>
struct OpenSslFree {
    void operator()(T* p) const noexcept { Free(p); }
};
template <typename T, void (*Free)(T*)>
using OpenSslPtr = std::unique_ptr<T, OpenSslFree<T, Free>>;

using DigestContext = OpenSslPtr<EVP_MD_CTX, EVP_MD_CTX_free>;
using Key = OpenSslPtr<EVP_PKEY, EVP_PKEY_free>;
using KeyContext = OpenSslPtr<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using Signature = OpenSslPtr<ECDSA_SIG, ECDSA_SIG_free>;
using ParamBuilder = OpenSslPtr<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>;
using Params = OpenSslPtr<OSSL_PARAM, OSSL_PARAM_free>;

}  // namespace

struct Sha256::State {
    DigestContext context{EVP_MD_CTX_new()};
    bool failed = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    state_->failed = !state_->context || EVP_DigestInit_ex(state_->context.get(), EVP_sha256(), nullptr) != 1;
}
Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Update(const void* data, std::size_t length) {
    if (state_ && !state_->failed && length != 0) {
        state_->failed = EVP_DigestUpdate(state_->context.get(), data, length) != 1;
    }
}

std::optional<Sha256Digest> Sha256::Final() {
    if (!state_ || state_->failed) {
        return std::nullopt;
    }
    Sha256Digest digest;
    unsigned int size = 0;
    const bool ok = EVP_DigestFinal_ex(state_->context.get(), digest.bytes.data(), &size) == 1 && size == 32;
    state_->failed = true;
    return ok ? std::optional(digest) : std::nullopt;
}

bool VerifyP256(const P256PublicKey& key, const Sha256Digest& digest, const P256Signature& signature) {
    unsigned char point[65] = {0x04};
    std::copy(key.point.begin(), key.point.end(), point + 1);
    const ParamBuilder builder(OSSL_PARAM_BLD_new());
    if (!builder || OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) != 1 ||
        OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point) != 1) {
        return false;
    }
    const Params params(OSSL_PARAM_BLD_to_param(builder.get()));
    const KeyContext fromData(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* raw = nullptr;
    if (!params || !fromData || EVP_PKEY_fromdata_init(fromData.get()) != 1 ||
        EVP_PKEY_fromdata(fromData.get(), &raw, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
        return false;
    }
    const Key publicKey(raw);
    // OpenSSL checks a signature in its DER form.
    Signature sig(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(signature.rs.data(), 32, nullptr);
    BIGNUM* s = BN_bin2bn(signature.rs.data() + 32, 32, nullptr);
    if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        return false;
    }
    unsigned char* der = nullptr;
    const int derSize = i2d_ECDSA_SIG(sig.get(), &der);
    if (derSize <= 0) {
        return false;
    }
    const std::unique_ptr<unsigned char, void (*)(unsigned char*)> derOwner(der,
                                                                            [](unsigned char* p) { OPENSSL_free(p); });
    const KeyContext verify(EVP_PKEY_CTX_new(publicKey.get(), nullptr));
    return verify && EVP_PKEY_verify_init(verify.get()) == 1 &&
           EVP_PKEY_verify(verify.get(), der, static_cast<std::size_t>(derSize), digest.bytes.data(),
                           digest.bytes.size()) == 1;
}

}  // namespace zv
