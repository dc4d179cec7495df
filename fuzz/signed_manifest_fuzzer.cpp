// Manifest bodies through the reading of the signed form's members and through
// CheckSignedManifest, checked against references of the target's own: "size" against the JSON
// library's number kinds, "version" against a plain reading of the four-part rule, "expires"
// against a calendar check and its own text written back, "withdrawn" against the library's
// boolean. Then, for any body, the check keeps its promises: it never throws, it names a problem
// exactly when it does not trust, it trusts only a body whose every signed member is well-formed
// and never a withdrawal in the launcher's place; and a body whose members are well-formed, signed
// anew by a test key over the launcher's own message, is trusted (or expired) for its host and
// path and for no other host.

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/text.h"
#include "fuzz_check.h"
#include "json_member.h"
#include "test_signing_key.h"
#include "update/manifest.h"
#include "update/manifest_signature.h"

namespace {

using nlohmann::json;
using zv::ManifestPlace;
using zv::ManifestTrust;
using zv::MemberFault;
using zv::fuzz::Check;
using zv::fuzz::StringMember;

constexpr char kHost[] = "updates.example.com:8443";
constexpr char kLauncherPath[] = "/launcher/manifest.json";
constexpr char kStubPath[] = "/stub/0123456789abcdef0123456789abcdef01234567/manifest.json";
const auto kNow = std::chrono::sys_days{std::chrono::year{2026} / 12 / 10};

// "A.B.C.D": four runs of one to five digits, each at most 65535, split by single dots.
std::optional<std::vector<unsigned>> PlainVersion(const std::string& text) {
    std::vector<unsigned> parts;
    std::string digits;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '.') {
            if (digits.empty() || digits.size() > 5 || std::stoul(digits) > 65535) {
                return std::nullopt;
            }
            parts.push_back(static_cast<unsigned>(std::stoul(digits)));
            digits.clear();
        } else if (text[i] >= '0' && text[i] <= '9') {
            digits += text[i];
        } else {
            return std::nullopt;
        }
    }
    return parts.size() == 4 ? std::optional(parts) : std::nullopt;
}

// "YYYY-MM-DDTHH:MM:SSZ" naming a moment that exists, from 1970 on.
bool PlainUtcTime(const std::string& text) {
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z') {
        return false;
    }
    for (const std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18}) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    const int year = std::stoi(text.substr(0, 4));
    const int month = std::stoi(text.substr(5, 2));
    const int day = std::stoi(text.substr(8, 2));
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int days[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return year >= 1970 && month >= 1 && month <= 12 && day >= 1 && day <= days[month - 1] &&
           std::stoi(text.substr(11, 2)) <= 23 && std::stoi(text.substr(14, 2)) <= 59 &&
           std::stoi(text.substr(17, 2)) <= 59;
}

void CheckMembers(const zv::ManifestReading& reading, const json& document) {
    // "size"
    MemberFault size = MemberFault::Absent;
    if (document.is_object() && document.contains("size")) {
        const json& value = document["size"];
        size = value.is_number_unsigned()  ? MemberFault::None
               : value.is_number_integer() ? MemberFault::Malformed
                                           : MemberFault::WrongType;
        if (size == MemberFault::None) {
            Check(reading.size.value == value.get<std::uint64_t>(), "\"size\" is the number the member holds");
        }
    }
    Check(reading.size.fault == size, "\"size\" reads as the document holds it");

    // "version"
    std::string text;
    MemberFault version = StringMember(document, "version", text);
    std::optional<std::vector<unsigned>> parts;
    if (version == MemberFault::None) {
        parts = PlainVersion(text);
        version = parts ? MemberFault::None : MemberFault::Malformed;
    }
    Check(reading.version.fault == version, "\"version\" reads by the four-part rule");
    if (reading.version.ok()) {
        for (std::size_t i = 0; i < 4; ++i) {
            Check(reading.version.value.parts[i] == (*parts)[i], "each part is the number written");
        }
    }

    // "expires"
    MemberFault expires = StringMember(document, "expires", text);
    if (expires == MemberFault::None) {
        expires = PlainUtcTime(text) ? MemberFault::None : MemberFault::Malformed;
    }
    Check(reading.expires.fault == expires, "\"expires\" reads as a moment that exists");
    if (reading.expires.ok()) {
        Check(zv::FormatUtcTime(reading.expires.value, zv::UtcPrecision::Seconds) == text &&
                  reading.expiresText.value == text,
              "the moment written back is the text read");
    }

    // "withdrawn"
    MemberFault withdrawn = MemberFault::Absent;
    if (document.is_object() && document.contains("withdrawn")) {
        const json& value = document["withdrawn"];
        withdrawn = !value.is_boolean() ? MemberFault::WrongType
                    : value.get<bool>() ? MemberFault::None
                                        : MemberFault::Malformed;
    }
    Check(reading.withdrawn.fault == withdrawn, "\"withdrawn\" is true, false (malformed) or of another type");
}

void CheckPromises(const zv::ManifestReading& reading, ManifestPlace place, const char* path) {
    const zv::P256PublicKey key = zv::test::SharedTestKey(0).publicKey();
    const zv::SignedReading checked = zv::CheckSignedManifest(reading, kHost, path, place, std::span(&key, 1), kNow);
    Check(checked.problem.empty() == (checked.trust != ManifestTrust::Untrusted),
          "a problem is named exactly when the manifest is not trusted");
    if (checked.trust == ManifestTrust::Untrusted) {
        return;
    }
    Check(reading.signature.ok() && reading.version.ok() && reading.expires.fault != MemberFault::WrongType &&
              reading.expires.fault != MemberFault::Malformed,
          "only a signed, versioned manifest is trusted");
    Check(!checked.withdrawn || place == ManifestPlace::Stub, "a withdrawal is trusted only for a game build");
    if (!checked.withdrawn) {
        Check(reading.sha1.ok() && reading.sha256.ok() && reading.size.ok() && reading.url.ok() &&
                  reading.url.value.starts_with("https://"),
              "a release is trusted only with every member well-formed and an https url");
    }
}

// Signs the body anew over the launcher's own message for its members when they are well-formed,
// and checks that the result is trusted (or expired) for kHost and kStubPath and for no other host.
void CheckSignedAnew(const zv::ManifestReading& reading, json document) {
    const bool withdrawal = reading.withdrawn.fault != MemberFault::Absent;
    const bool expiresOk = reading.expires.ok() || reading.expires.fault == MemberFault::Absent;
    std::optional<std::string> expires;
    if (reading.expires.ok()) {
        expires = reading.expiresText.value;
    }
    std::string message;
    if (withdrawal) {
        if (!reading.withdrawn.ok() || !reading.version.ok() || !expiresOk) {
            return;
        }
        message = zv::WithdrawalMessage(kHost, kStubPath, zv::SignedWithdrawal{reading.version.value, expires});
    } else {
        if (!reading.sha1.ok() || !reading.sha256.ok() || !reading.size.ok() || !reading.url.ok() ||
            !reading.version.ok() || !expiresOk) {
            return;
        }
        message =
            zv::SignedManifestMessage(kHost, kStubPath,
                                      zv::SignedRelease{reading.version.value, expires, reading.size.value,
                                                        reading.sha1.value, reading.sha256.value, reading.url.value});
    }
    document["signature"] = zv::test::SharedTestKey(0).Sign(message);
    const zv::ManifestReading signedAnew = zv::ReadManifest(document.dump());
    const zv::P256PublicKey key = zv::test::SharedTestKey(0).publicKey();
    const zv::SignedReading checked =
        zv::CheckSignedManifest(signedAnew, kHost, kStubPath, ManifestPlace::Stub, std::span(&key, 1), kNow);
    const std::string& url = reading.url.value;
    const bool urlOk =
        withdrawal || (url.size() > 8 && url.starts_with("https://") && std::all_of(url.begin(), url.end(), [](char c) {
                           return static_cast<unsigned char>(c) > 0x20 && static_cast<unsigned char>(c) < 0x7F;
                       }));
    Check((checked.trust != ManifestTrust::Untrusted) == urlOk,
          "a well-formed body signed over its own message is trusted exactly when its url is a signed url");
    Check(zv::CheckSignedManifest(signedAnew, "other.example.com", kStubPath, ManifestPlace::Stub, std::span(&key, 1),
                                  kNow)
                  .trust == ManifestTrust::Untrusted,
          "a signature for one host is no signature for another");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    const zv::ManifestReading reading = zv::ReadManifest(body);
    if (reading.form == zv::ManifestForm::NotOneJsonValue) {
        return 0;  // the body reading itself is the manifest target's
    }
    const json document = json::parse(body, nullptr, /*allow_exceptions=*/true, /*ignore_comments=*/false);
    CheckMembers(reading, document);
    CheckPromises(reading, ManifestPlace::Launcher, kLauncherPath);
    CheckPromises(reading, ManifestPlace::Stub, kStubPath);
    if (document.is_object()) {
        CheckSignedAnew(reading, document);
    }
    return 0;
}
