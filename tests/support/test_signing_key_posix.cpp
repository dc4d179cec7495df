#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <stdexcept>
#include <utility>
#include <vector>

#include "common/base64.h"
#include "digest_text.h"
#include "integrity/sha256.h"
#include "test_signing_key.h"

namespace zv::test {

struct TestSigningKey::Key {
    EVP_PKEY* pkey = nullptr;
    ~Key() { EVP_PKEY_free(pkey); }
};

TestSigningKey::TestSigningKey() : key_(std::make_unique<Key>()) {
    key_->pkey = EVP_EC_gen("prime256v1");
    unsigned char point[65] = {};
    std::size_t length = 0;
    if (key_->pkey == nullptr ||
        EVP_PKEY_get_octet_string_param(key_->pkey, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &length) != 1 ||
        length != sizeof point || point[0] != 0x04) {
        throw std::runtime_error("OpenSSL made no P-256 key");
    }
    std::copy(point + 1, point + sizeof point, publicKey_.point.begin());
}

TestSigningKey::~TestSigningKey() = default;
TestSigningKey::TestSigningKey(TestSigningKey&&) noexcept = default;
TestSigningKey& TestSigningKey::operator=(TestSigningKey&&) noexcept = default;

std::string TestSigningKey::Sign(std::string_view message) const {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    std::size_t size = 0;
    const auto* data = reinterpret_cast<const unsigned char*>(message.data());
    if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key_->pkey) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &size, data, message.size()) != 1) {
        throw std::runtime_error("OpenSSL cannot sign");
    }
    std::vector<std::uint8_t> der(size);
    if (EVP_DigestSign(context.get(), der.data(), &size, data, message.size()) != 1) {
        throw std::runtime_error("OpenSSL cannot sign");
    }
    der.resize(size);
    return EncodeBase64(der);
}

const TestSigningKey& SharedTestKey(int which) {
    static const TestSigningKey keys[3];
    return keys[which];
}

SignedManifest::SignedManifest(std::string path, std::string_view content, std::string url)
    : path(std::move(path)),
      sha1(Sha1Hex(content)),
      sha256(Sha256ToHex(*Sha256Of(content.data(), content.size()))),
      url(std::move(url)) {}

std::string SignedManifest::Body() const {
    // The message is written out here, not taken from the launcher's code, so that the tables check
    // the launcher against the published form.
    const std::string message = "zarnovelle-update-manifest-1\n" + path + "\n" + sha1 + "\n" + sha256 + "\n";
    return R"({"sha1": ")" + (sha1InBody.empty() ? sha1 : sha1InBody) + R"(", "url": ")" + url + R"(", "sha256": ")" +
           sha256 + R"(", "signature": ")" + signature.value_or(key->Sign(message)) + R"("})";
}

}  // namespace zv::test
