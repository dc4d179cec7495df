#include "zvpublish/signing/signing.h"

namespace zv::publish {

bool CanSign() { return false; }

std::optional<std::string> GenerateSigningKey(const std::wstring&, const std::wstring*) {
    return std::string(kCannotSign);
}

std::unique_ptr<ManifestSigner> ManifestSigner::Load(const std::wstring&, std::string& reason, const std::string*) {
    reason = kCannotSign;
    return nullptr;
}

}  // namespace zv::publish
