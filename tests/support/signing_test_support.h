#pragma once

// Helpers of the tests that need an encrypted signing key (the Linux build reads them).

#ifndef _WIN32
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace zv::publish {

// Writes the private key at keyPath to encryptedPath, encrypted with passphrase (PKCS#8, AES-256),
// as `openssl pkcs8 -topk8 -v2 aes-256-cbc` writes it.
inline void WriteEncryptedKey(const std::filesystem::path& keyPath, const std::filesystem::path& encryptedPath,
                              const std::string& passphrase) {
    BIO* in = BIO_new_file(keyPath.c_str(), "r");
    EVP_PKEY* key = in != nullptr ? PEM_read_bio_PrivateKey(in, nullptr, nullptr, nullptr) : nullptr;
    BIO* out = key != nullptr ? BIO_new_file(encryptedPath.c_str(), "w") : nullptr;
    const bool written =
        out != nullptr && PEM_write_bio_PKCS8PrivateKey(out, key, EVP_aes_256_cbc(), passphrase.data(),
                                                        static_cast<int>(passphrase.size()), nullptr, nullptr) == 1;
    BIO_free_all(out);
    EVP_PKEY_free(key);
    BIO_free_all(in);
    if (!written) {
        throw std::runtime_error("cannot write an encrypted key");
    }
}

}  // namespace zv::publish
#endif
