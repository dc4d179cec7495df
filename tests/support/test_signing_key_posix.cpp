#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
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

namespace {

// One JSON object from its members' texts in order, with changes applied: a changed member keeps
// its place, a removed one goes, a new one comes last.
std::string Object(std::vector<std::pair<std::string, std::string>> members,
                   const std::map<std::string, std::optional<std::string>>& changes) {
    for (const auto& change : changes) {
        const std::string& name = change.first;
        const std::optional<std::string>& text = change.second;
        auto it = std::find_if(members.begin(), members.end(), [&name](const auto& m) { return m.first == name; });
        if (!text) {
            if (it != members.end()) {
                members.erase(it);
            }
        } else if (it != members.end()) {
            it->second = *text;
        } else {
            members.emplace_back(name, *text);
        }
    }
    std::string body = "{";
    for (const auto& [name, text] : members) {
        body += (body.size() > 1 ? ", " : "") + JsonString(name) + ": " + text;
    }
    return body + "}";
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string json = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (u < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", u);
            json += escape;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

SignedManifest::SignedManifest(std::string path, std::string_view content, std::string url, std::string version)
    : path(std::move(path)),
      version(std::move(version)),
      size(content.size()),
      sha1(Sha1Hex(content)),
      sha256(Sha256ToHex(*Sha256Of(content.data(), content.size()))),
      url(std::move(url)) {}

// The messages are written out here, not taken from the launcher's code, so that the tables check
// the launcher against the published form.
std::string SignedManifest::Message() const {
    return "zarnovelle-update-manifest-2\n" + host + "\n" + path + "\n" + version + "\n" + expires.value_or("never") +
           "\n" + std::to_string(size) + "\n" + sha1 + "\n" + sha256 + "\n" + url + "\n";
}

std::string SignedManifest::Body() const {
    std::vector<std::pair<std::string, std::string>> members = {
        {"sha1", JsonString(sha1)}, {"sha256", JsonString(sha256)},   {"size", std::to_string(size)},
        {"url", JsonString(url)},   {"version", JsonString(version)},
    };
    if (expires) {
        members.emplace_back("expires", JsonString(*expires));
    }
    members.emplace_back("signature", JsonString(signature.value_or(key->Sign(Message()))));
    return Object(std::move(members), bodyChanges);
}

SignedWithdrawal::SignedWithdrawal(std::string path, std::string version)
    : path(std::move(path)), version(std::move(version)) {}

std::string SignedWithdrawal::Message() const {
    return "zarnovelle-update-withdrawal-2\n" + host + "\n" + path + "\n" + version + "\n" + expires.value_or("never") +
           "\n";
}

std::string SignedWithdrawal::Body() const {
    std::vector<std::pair<std::string, std::string>> members = {{"withdrawn", "true"},
                                                                {"version", JsonString(version)}};
    if (expires) {
        members.emplace_back("expires", JsonString(*expires));
    }
    members.emplace_back("signature", JsonString(key->Sign(Message())));
    return Object(std::move(members), bodyChanges);
}

}  // namespace zv::test
