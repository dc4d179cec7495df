#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "common/base64.h"
#include "common/native_path.h"
#include "zvpublish/signing/signing.h"

namespace zv::publish {

namespace {

template <typename T, void (*Free)(T*)>
struct OpenSslFree {
    void operator()(T* p) const noexcept { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY, EVP_PKEY_free>>;
using Bio = std::unique_ptr<BIO, OpenSslFree<BIO, BIO_free_all>>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, OpenSslFree<EVP_MD_CTX, EVP_MD_CTX_free>>;

// OpenSSL's own words for its latest error, or a fallback.
std::string OpenSslReason(std::string_view fallback) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) {
        return std::string(fallback);
    }
    char text[256] = {};
    ERR_error_string_n(code, text, sizeof text);
    return std::string(fallback) + " (" + text + ")";
}

std::string PemOf(int (*write)(BIO*, const EVP_PKEY*), const EVP_PKEY* key) {
    const Bio memory(BIO_new(BIO_s_mem()));
    if (!memory || write(memory.get(), key) != 1) {
        return {};
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(memory.get(), &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

int WritePublic(BIO* bio, const EVP_PKEY* key) { return PEM_write_bio_PUBKEY(bio, const_cast<EVP_PKEY*>(key)); }
int WritePrivate(BIO* bio, const EVP_PKEY* key) {
    return PEM_write_bio_PKCS8PrivateKey(bio, const_cast<EVP_PKEY*>(key), nullptr, nullptr, 0, nullptr, nullptr);
}

// Whether anything is at path, a symbolic link followed: a path that cannot be queried counts, as
// nothing may be written there either.
bool IsInTheWay(const std::wstring& path) {
    std::error_code error;
    return std::filesystem::status(ToNativePath(path), error).type() != std::filesystem::file_type::not_found;
}

// Creates path (which must not exist) with the given mode and writes text into it.
std::optional<std::string> WriteNewFile(const std::wstring& path, const std::string& text, mode_t mode) {
    const std::string native = ToNativePath(path);
    const int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        return errno == EEXIST ? std::string("already exists; a key is never overwritten")
                               : std::string("cannot create it: ") + std::strerror(errno);
    }
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n <= 0) {
            const std::string reason = std::string("cannot write it: ") + std::strerror(errno);
            ::close(fd);
            ::unlink(native.c_str());
            return reason;
        }
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        ::unlink(native.c_str());
        return std::string("cannot write it: ") + std::strerror(errno);
    }
    return std::nullopt;
}

// The passphrase given for an encrypted key, and whether OpenSSL asked for it.
struct GivenPassphrase {
    const std::string* text;
    bool asked = false;
};

int SupplyPassphrase(char* buffer, int size, int /*writing*/, void* data) {
    auto* given = static_cast<GivenPassphrase*>(data);
    given->asked = true;
    if (given->text->size() > static_cast<std::size_t>(size)) {
        return -1;
    }
    std::memcpy(buffer, given->text->data(), given->text->size());
    return static_cast<int>(given->text->size());
}

bool IsP256(const EVP_PKEY* key) {
    char group[64] = {};
    std::size_t length = 0;
    return EVP_PKEY_is_a(key, "EC") &&
           EVP_PKEY_get_utf8_string_param(key, "group", group, sizeof group, &length) == 1 &&
           std::string_view(group, length) == "prime256v1";
}

class OpenSslSigner final : public ManifestSigner {
public:
    explicit OpenSslSigner(Key key) : key_(std::move(key)) {}

    std::optional<std::string> Sign(std::string_view message, std::string& reason) const override {
        const DigestContext context(EVP_MD_CTX_new());
        std::size_t size = 0;
        if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key_.get()) != 1 ||
            EVP_DigestSign(context.get(), nullptr, &size, reinterpret_cast<const unsigned char*>(message.data()),
                           message.size()) != 1) {
            reason = OpenSslReason("cannot sign");
            return std::nullopt;
        }
        std::vector<std::uint8_t> der(size);
        if (EVP_DigestSign(context.get(), der.data(), &size, reinterpret_cast<const unsigned char*>(message.data()),
                           message.size()) != 1) {
            reason = OpenSslReason("cannot sign");
            return std::nullopt;
        }
        der.resize(size);
        return EncodeBase64(der);
    }

    std::string PublicKeyPem() const override { return PemOf(WritePublic, key_.get()); }

private:
    Key key_;
};

}  // namespace

bool CanSign() { return true; }

std::optional<std::string> GenerateSigningKey(const std::wstring& keyPath, const std::wstring* publicPath) {
    // Every file in the way named at once, so that one look settles it.
    std::string inTheWay;
    for (const std::wstring* path : {&keyPath, publicPath}) {
        if (path != nullptr && IsInTheWay(*path)) {
            inTheWay += (inTheWay.empty() ? "" : " and ") + ToNativePath(*path);
        }
    }
    if (!inTheWay.empty()) {
        return inTheWay + (inTheWay.find(" and ") == std::string::npos ? " already exists" : " already exist") +
               "; a key is never overwritten: choose other names, or move the files away first";
    }
    const Key key(EVP_EC_gen("prime256v1"));
    if (!key) {
        return OpenSslReason("cannot make a key");
    }
    const std::string privatePem = PemOf(WritePrivate, key.get());
    const std::string publicPem = PemOf(WritePublic, key.get());
    if (privatePem.empty() || publicPem.empty()) {
        return OpenSslReason("cannot write the key");
    }
    // The public key first: when it cannot be written, no private key is left without it.
    if (publicPath != nullptr) {
        if (auto failure = WriteNewFile(*publicPath, publicPem, 0644)) {
            return ToNativePath(*publicPath) + ": " + *failure;
        }
    }
    if (auto failure = WriteNewFile(keyPath, privatePem, 0600)) {
        if (publicPath != nullptr) {
            ::unlink(ToNativePath(*publicPath).c_str());
        }
        return ToNativePath(keyPath) + ": " + *failure;
    }
    return std::nullopt;
}

std::unique_ptr<ManifestSigner> ManifestSigner::Load(const std::wstring& path, std::string& reason,
                                                     const std::string* passphrase) {
    const Bio file(BIO_new_file(ToNativePath(path).c_str(), "r"));
    if (!file) {
        reason = OpenSslReason("cannot read the signing key");
        return nullptr;
    }
    // Without a passphrase OpenSSL's own callback asks at the terminal for an encrypted key.
    GivenPassphrase given{passphrase};
    Key key(passphrase != nullptr ? PEM_read_bio_PrivateKey(file.get(), nullptr, SupplyPassphrase, &given)
                                  : PEM_read_bio_PrivateKey(file.get(), nullptr, nullptr, nullptr));
    if (!key && given.asked) {
        reason = OpenSslReason("the passphrase of --passphrase-file does not decrypt this key");
        return nullptr;
    }
    if (!key) {
        reason = OpenSslReason(passphrase != nullptr
                                   ? "not a PEM private key"
                                   : "not a PEM private key, or it is encrypted and its passphrase was not given "
                                     "(--passphrase-file FILE gives it without a terminal)");
        return nullptr;
    }
    if (passphrase != nullptr && !given.asked) {
        reason =
            "is not encrypted, yet --passphrase-file was given: leave the option out, or check that this is the "
            "key you meant";
        return nullptr;
    }
    if (!IsP256(key.get())) {
        reason = "not an EC P-256 key";
        return nullptr;
    }
    return std::make_unique<OpenSslSigner>(std::move(key));
}

}  // namespace zv::publish
