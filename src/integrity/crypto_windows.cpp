// SHA-256 and ECDSA P-256 verification on Windows: BCrypt, loaded at run time from System32 only
// (bcrypt.dll is not a KnownDLL, so an import would let Windows look for it beside the launcher
// first; the build refuses such an import).
#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <vector>

#include "common/system_library.h"
#include "common/unique_handle.h"
#include "integrity/p256.h"
#include "integrity/sha256.h"

namespace zv {

namespace {

// System32's bcrypt.dll with the functions used here and the two algorithm providers, opened by
// the first use (thread-safe) and kept until the process ends. Null functions when any of it
// failed; it is not tried again.
class BCryptLibrary {
public:
    struct Functions {
        decltype(&::BCryptOpenAlgorithmProvider) openAlgorithmProvider = nullptr;
        decltype(&::BCryptCloseAlgorithmProvider) closeAlgorithmProvider = nullptr;
        decltype(&::BCryptCreateHash) createHash = nullptr;
        decltype(&::BCryptHashData) hashData = nullptr;
        decltype(&::BCryptFinishHash) finishHash = nullptr;
        decltype(&::BCryptDestroyHash) destroyHash = nullptr;
        decltype(&::BCryptImportKeyPair) importKeyPair = nullptr;
        decltype(&::BCryptDestroyKey) destroyKey = nullptr;
        decltype(&::BCryptVerifySignature) verifySignature = nullptr;
    };

    static const BCryptLibrary& Get() noexcept {
        static const BCryptLibrary library;
        return library;
    }

    [[nodiscard]] const Functions* functions() const noexcept { return ready_ ? &functions_ : nullptr; }
    [[nodiscard]] BCRYPT_ALG_HANDLE sha256() const noexcept { return sha256_; }
    [[nodiscard]] BCRYPT_ALG_HANDLE ecdsaP256() const noexcept { return ecdsaP256_; }

    BCryptLibrary(const BCryptLibrary&) = delete;
    BCryptLibrary& operator=(const BCryptLibrary&) = delete;

private:
    BCryptLibrary() noexcept : module_(LoadSystemLibrary(L"bcrypt.dll")) {
        if (!module_) {
            return;
        }
        const HMODULE m = module_.get();
        Functions& f = functions_;
        const bool resolved = ResolveExport(m, "BCryptOpenAlgorithmProvider", f.openAlgorithmProvider) &&
                              ResolveExport(m, "BCryptCloseAlgorithmProvider", f.closeAlgorithmProvider) &&
                              ResolveExport(m, "BCryptCreateHash", f.createHash) &&
                              ResolveExport(m, "BCryptHashData", f.hashData) &&
                              ResolveExport(m, "BCryptFinishHash", f.finishHash) &&
                              ResolveExport(m, "BCryptDestroyHash", f.destroyHash) &&
                              ResolveExport(m, "BCryptImportKeyPair", f.importKeyPair) &&
                              ResolveExport(m, "BCryptDestroyKey", f.destroyKey) &&
                              ResolveExport(m, "BCryptVerifySignature", f.verifySignature);
        ready_ = resolved && BCRYPT_SUCCESS(f.openAlgorithmProvider(&sha256_, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
                 BCRYPT_SUCCESS(f.openAlgorithmProvider(&ecdsaP256_, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0));
    }
    // The providers and the library stay for the life of the process: hashes and keys made from
    // them may be in use until it ends.

    UniqueModule module_;
    Functions functions_;
    BCRYPT_ALG_HANDLE sha256_ = nullptr;
    BCRYPT_ALG_HANDLE ecdsaP256_ = nullptr;
    bool ready_ = false;
};

}  // namespace

struct Sha256::State {
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool failed = false;

    ~State() {
        if (hash != nullptr) {
            BCryptLibrary::Get().functions()->destroyHash(hash);
        }
    }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    const BCryptLibrary& library = BCryptLibrary::Get();
    const auto* f = library.functions();
    // No object buffer: BCrypt keeps the hash's state itself (Windows 7 and later).
    state_->failed =
        f == nullptr || !BCRYPT_SUCCESS(f->createHash(library.sha256(), &state_->hash, nullptr, 0, nullptr, 0, 0));
}
Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Update(const void* data, std::size_t length) {
    const auto* f = BCryptLibrary::Get().functions();
    auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
    // BCryptHashData takes at most 4 GiB at a time.
    while (state_ && !state_->failed && length != 0) {
        const ULONG piece = length > 0x80000000u ? 0x80000000u : static_cast<ULONG>(length);
        state_->failed = !BCRYPT_SUCCESS(f->hashData(state_->hash, bytes, piece, 0));
        bytes += piece;
        length -= piece;
    }
}

std::optional<Sha256Digest> Sha256::Final() {
    if (!state_ || state_->failed) {
        return std::nullopt;
    }
    Sha256Digest digest;
    const bool ok = BCRYPT_SUCCESS(BCryptLibrary::Get().functions()->finishHash(
        state_->hash, digest.bytes.data(), static_cast<ULONG>(digest.bytes.size()), 0));
    state_->failed = true;
    return ok ? std::optional(digest) : std::nullopt;
}

namespace {

// An imported key, destroyed on every path out.
struct ImportedKey {
    BCRYPT_KEY_HANDLE handle = nullptr;
    ImportedKey() = default;
    ImportedKey(const ImportedKey&) = delete;
    ImportedKey& operator=(const ImportedKey&) = delete;
    ~ImportedKey() {
        if (handle != nullptr) {
            BCryptLibrary::Get().functions()->destroyKey(handle);
        }
    }
};

}  // namespace

bool VerifyP256(const P256PublicKey& key, const Sha256Digest& digest, const P256Signature& signature) {
    const BCryptLibrary& library = BCryptLibrary::Get();
    const auto* f = library.functions();
    if (f == nullptr) {
        return false;
    }
    // BCRYPT_ECCKEY_BLOB, then X and Y.
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + key.point.size());
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, key.point.data(), key.point.size());
    ImportedKey imported;
    if (!BCRYPT_SUCCESS(f->importKeyPair(library.ecdsaP256(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &imported.handle,
                                         blob.data(), static_cast<ULONG>(blob.size()), 0))) {
        return false;
    }
    return BCRYPT_SUCCESS(f->verifySignature(
        imported.handle, nullptr, const_cast<PUCHAR>(digest.bytes.data()), static_cast<ULONG>(digest.bytes.size()),
        const_cast<PUCHAR>(signature.rs.data()), static_cast<ULONG>(signature.rs.size()), 0));
}

}  // namespace zv
