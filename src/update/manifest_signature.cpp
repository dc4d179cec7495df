#include "update/manifest_signature.h"

#include "common/base64.h"
#include "common/text.h"
#include "integrity/file_digest.h"

namespace zv {

namespace {

void AppendLine(std::string& message, std::string_view line) {
    message += line;
    message += '\n';
}

// The rule a member broke, for the problem text.
std::string Fault(const char* name, MemberFault fault) {
    const std::string member = std::string("\"") + name + "\"";
    switch (fault) {
        case MemberFault::None:
            break;
        case MemberFault::Absent:
            return member + " is missing";
        case MemberFault::WrongType:
            return member + " is of the wrong type";
        case MemberFault::Malformed:
            return member + " is malformed";
    }
    return member + " is wrong";
}

// A member the signed forms require: the first one missing or malformed names the problem.
template <typename Value>
bool Require(const ManifestMember<Value>& member, const char* name, std::string& problem) {
    if (member.ok()) {
        return true;
    }
    if (problem.empty()) {
        problem = Fault(name, member.fault);
    }
    return false;
}

// "expires", which may be left out; its text when it is there.
bool ReadExpiry(const ManifestReading& manifest, std::optional<std::string>& expires, std::string& problem) {
    if (manifest.expires.fault == MemberFault::Absent) {
        expires.reset();
        return true;
    }
    if (!Require(manifest.expires, kExpiresMember, problem)) {
        return false;
    }
    expires = manifest.expiresText.value;
    return true;
}

// A signed "url": https, and printable ASCII without blanks. The launcher widens the value byte by
// byte into the address it asks for (WidenManifestUrl), so a byte outside ASCII can only make an
// address that is not the one signed.
bool IsSignedUrl(std::string_view url) {
    return url.starts_with(kSignedUrlScheme) && url.size() > kSignedUrlScheme.size() && IsVisibleAscii(url);
}

}  // namespace

std::optional<std::string> MessageHost(std::wstring_view updateHost) {
    if (!IsVisibleAscii(updateHost)) {
        return std::nullopt;
    }
    return FoldAsciiCase(ToUtf8(updateHost));  // ASCII: one byte a character
}

std::string SignedManifestMessage(std::string_view host, std::string_view path, const SignedRelease& release) {
    std::string message;
    AppendLine(message, kSignedManifestTag);
    AppendLine(message, host);
    AppendLine(message, path);
    AppendLine(message, FormatVersion(release.version));
    AppendLine(message, release.expires ? std::string_view(*release.expires) : kNeverExpires);
    AppendLine(message, std::to_string(release.size));
    AppendLine(message, Sha1ToHex(release.sha1));
    AppendLine(message, Sha256ToHex(release.sha256));
    AppendLine(message, release.url);
    return message;
}

std::string WithdrawalMessage(std::string_view host, std::string_view path, const SignedWithdrawal& withdrawal) {
    std::string message;
    AppendLine(message, kWithdrawalTag);
    AppendLine(message, host);
    AppendLine(message, path);
    AppendLine(message, FormatVersion(withdrawal.version));
    AppendLine(message, withdrawal.expires ? std::string_view(*withdrawal.expires) : kNeverExpires);
    return message;
}

std::optional<std::size_t> FindSigningKey(std::span<const P256PublicKey> keys, std::string_view message,
                                          std::string_view signature) {
    const auto der = DecodeBase64(signature);
    if (!der) {
        return std::nullopt;
    }
    const auto parsed = ParseDerSignature(*der);
    if (!parsed) {
        return std::nullopt;
    }
    const auto digest = Sha256Of(message.data(), message.size());
    if (!digest) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (VerifyP256(keys[i], *digest, *parsed)) {
            return i;
        }
    }
    return std::nullopt;
}

SignedReading CheckSignedManifest(const ManifestReading& manifest, std::string_view host, std::string_view path,
                                  ManifestPlace place, std::span<const P256PublicKey> keys,
                                  std::chrono::system_clock::time_point now) {
    SignedReading reading;
    std::string& problem = reading.problem;
    if (manifest.form != ManifestForm::Object) {
        problem = "it is not a JSON object";
        return reading;
    }
    std::string message;
    SignedRelease& release = reading.release;
    if (manifest.withdrawn.fault != MemberFault::Absent) {
        reading.withdrawn = true;
        if (place != ManifestPlace::Stub) {
            problem = "it is a withdrawal, which only a game build's manifest may be";
            return reading;
        }
        bool formed = Require(manifest.withdrawn, kWithdrawnMember, problem);
        formed = Require(manifest.version, kVersionMember, problem) && formed;
        formed = ReadExpiry(manifest, release.expires, problem) && formed;
        formed = Require(manifest.signature, kSignatureMember, problem) && formed;
        if (!formed) {
            return reading;
        }
        release.version = manifest.version.value;
        message = WithdrawalMessage(host, path, SignedWithdrawal{release.version, release.expires});
    } else {
        bool formed = Require(manifest.sha1, kSha1Member, problem);
        formed = Require(manifest.sha256, kSha256Member, problem) && formed;
        formed = Require(manifest.size, kSizeMember, problem) && formed;
        formed = Require(manifest.url, kUrlMember, problem) && formed;
        formed = Require(manifest.version, kVersionMember, problem) && formed;
        formed = ReadExpiry(manifest, release.expires, problem) && formed;
        formed = Require(manifest.signature, kSignatureMember, problem) && formed;
        if (!formed) {
            return reading;
        }
        if (!IsSignedUrl(manifest.url.value)) {
            problem = "its \"url\" is not an https:// address of printable ASCII";
            return reading;
        }
        release.version = manifest.version.value;
        release.size = manifest.size.value;
        release.sha1 = manifest.sha1.value;
        release.sha256 = manifest.sha256.value;
        release.url = manifest.url.value;
        message = SignedManifestMessage(host, path, release);
    }
    const std::optional<std::size_t> signer = FindSigningKey(keys, message, manifest.signature.value);
    if (!signer) {
        problem = "no key of this launcher signed it for host " + std::string(host) + " and path " + std::string(path);
        return reading;
    }
    reading.signer = *signer;
    reading.trust = manifest.expires.ok() && manifest.expires.value < std::chrono::floor<std::chrono::seconds>(now)
                        ? ManifestTrust::Expired
                        : ManifestTrust::Trusted;
    return reading;
}

bool FileIsRelease(const std::wstring& path, const SignedRelease& release) {
    const std::optional<FileDigests> digests = HashFileTwice(path);
    return digests && digests->sha1 == release.sha1 && digests->sha256 == release.sha256;
}

std::optional<Sha256Digest> FileSha256(const std::wstring& path) {
    const std::optional<FileDigests> digests = HashFileTwice(path);
    if (!digests) {
        return std::nullopt;
    }
    return digests->sha256;
}

}  // namespace zv
