// Manifest bodies through ReadManifest, checked against a reading of the same body made straight
// with the JSON library: no exception leaves the reading, a body is refused exactly when it is not
// one JSON value (or holds a NUL byte), and each member's outcome and value are what the document
// holds. Both updaters and zvpublish's verify act on this one reading.

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/text.h"
#include "fuzz_check.h"
#include "json_member.h"
#include "integrity/sha1.h"
#include "integrity/sha256.h"
#include "update/manifest.h"

namespace {

using nlohmann::json;
using zv::MemberFault;
using zv::fuzz::StringMember;

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

std::string Lower(std::string text) {
    for (char& c : text) {
        c = zv::FoldAsciiCase(c);
    }
    return text;
}

void CheckSha1(const zv::ManifestReading& reading, const json& document) {
    std::string text;
    MemberFault expected = StringMember(document, "sha1", text);
    if (expected == MemberFault::None) {
        bool digits = text.size() == 40;
        for (const char c : text) {
            digits = digits && IsHexDigit(c);
        }
        expected = digits ? MemberFault::None : MemberFault::Malformed;
    }
    zv::fuzz::Check(reading.sha1.fault == expected, "\"sha1\" reads as the document holds it");
    if (reading.sha1.ok()) {
        zv::fuzz::Check(zv::Sha1ToHex(reading.sha1.value) == Lower(text), "the digest is the one the member spells");
    }
}

void CheckSignedMembers(const zv::ManifestReading& reading, const json& document) {
    std::string text;
    MemberFault expected = StringMember(document, "sha256", text);
    if (expected == MemberFault::None) {
        bool digits = text.size() == 64;
        for (const char c : text) {
            digits = digits && IsHexDigit(c);
        }
        expected = digits ? MemberFault::None : MemberFault::Malformed;
    }
    zv::fuzz::Check(reading.sha256.fault == expected, "\"sha256\" reads as the document holds it");
    if (reading.sha256.ok()) {
        zv::fuzz::Check(zv::Sha256ToHex(reading.sha256.value) == Lower(text),
                        "the SHA-256 is the one the member spells");
    }
    std::string signature;
    zv::fuzz::Check(reading.signature.fault == StringMember(document, "signature", signature) &&
                        (!reading.signature.ok() || reading.signature.value == signature),
                    "\"signature\" is the member's string");
}

void CheckUrl(const zv::ManifestReading& reading, const json& document) {
    std::string text;
    const MemberFault expected = StringMember(document, "url", text);
    zv::fuzz::Check(reading.url.fault == expected, "\"url\" reads as the document holds it");
    if (!reading.url.ok()) {
        return;
    }
    zv::fuzz::Check(reading.url.value == text, "the URL is the member's string");
    const std::wstring wide = zv::WidenManifestUrl(reading.url.value);
    zv::fuzz::Check(wide.size() == text.size(), "one unit per byte of the URL");
    for (std::size_t i = 0; i < text.size(); ++i) {
        zv::fuzz::Check((static_cast<unsigned>(wide[i]) & 0xFF) == static_cast<unsigned char>(text[i]),
                        "each unit carries its byte");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The updaters hold the body as the HTTP client gives it: a std::string.
    const std::string body(reinterpret_cast<const char*>(data), size);
    const zv::ManifestReading reading = zv::ReadManifest(body);

    // The library stops at a NUL byte as at the end of the input; a manifest never holds one.
    json document;
    bool oneValue = body.find('\0') == std::string::npos;
    if (oneValue) {
        try {
            document = json::parse(body, nullptr, /*allow_exceptions=*/true, /*ignore_comments=*/false);
        } catch (const json::exception&) {
            oneValue = false;
        }
    }
    zv::fuzz::Check((reading.form == zv::ManifestForm::NotOneJsonValue) == !oneValue,
                    "a body is refused exactly when it is not one JSON value");
    zv::fuzz::Check(reading.parseError.empty() == oneValue, "a refused body, and only that, says why");
    if (oneValue) {
        zv::fuzz::Check((reading.form == zv::ManifestForm::Object) == document.is_object(),
                        "only an object has members");
    }
    CheckSha1(reading, document);
    CheckUrl(reading, document);
    CheckSignedMembers(reading, document);
    return 0;
}
