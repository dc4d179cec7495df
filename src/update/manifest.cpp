#include "update/manifest.h"

#include <nlohmann/json.hpp>

#include "common/text.h"
#include "integrity/file_digest.h"

namespace zv {

namespace {

using Json = nlohmann::json;

// Exactly one JSON value with nothing but whitespace after it; comments and trailing commas are
// refused. Throws nlohmann::json::exception with the parser's reason.
Json Parse(std::string_view body) {
    // The parser takes a NUL byte for the end of the input, so "{...}\0junk" would pass as one
    // value. JSON text never holds a raw NUL: refuse it as the parser refuses other stray bytes.
    if (const auto nul = body.find('\0'); nul != std::string_view::npos) {
        throw Json::parse_error::create(101, nul + 1, "NUL byte in the manifest body", nullptr);
    }
    return Json::parse(body.begin(), body.end(), /*cb=*/nullptr, /*allow_exceptions=*/true,
                       /*ignore_comments=*/false);
}

ManifestMember<std::string> ReadString(const Json& object, const char* name) {
    ManifestMember<std::string> member;
    const auto it = object.find(name);
    if (it == object.end()) {
        member.fault = MemberFault::Absent;
    } else if (!it->is_string()) {
        member.fault = MemberFault::WrongType;
    } else {
        member.fault = MemberFault::None;
        member.value = it->get<std::string>();
    }
    return member;
}

// A string member read by parse, which gives nothing for a text not of the member's form.
template <typename Parse>
auto ReadParsed(const Json& object, const char* name, Parse&& parse) {
    const ManifestMember<std::string> text = ReadString(object, name);
    ManifestMember<typename decltype(parse(text.value))::value_type> member;
    member.fault = text.fault;
    if (text.ok()) {
        if (auto value = parse(text.value)) {
            member.value = *value;
        } else {
            member.fault = MemberFault::Malformed;
        }
    }
    return member;
}

ManifestMember<std::uint64_t> ReadSize(const Json& object, const char* name) {
    ManifestMember<std::uint64_t> member;
    const auto it = object.find(name);
    if (it == object.end()) {
        member.fault = MemberFault::Absent;
    } else if (it->is_number_unsigned()) {
        member.fault = MemberFault::None;
        member.value = it->get<std::uint64_t>();
    } else if (it->is_number_integer()) {
        member.fault = MemberFault::Malformed;  // negative
    } else {
        member.fault = MemberFault::WrongType;  // not a number, or a number with a fraction or exponent
    }
    return member;
}

ManifestMember<bool> ReadTrue(const Json& object, const char* name) {
    ManifestMember<bool> member;
    const auto it = object.find(name);
    if (it == object.end()) {
        member.fault = MemberFault::Absent;
    } else if (!it->is_boolean()) {
        member.fault = MemberFault::WrongType;
    } else {
        member.value = it->get<bool>();
        member.fault = member.value ? MemberFault::None : MemberFault::Malformed;
    }
    return member;
}

}  // namespace

ManifestReading ReadManifest(std::string_view body) {
    ManifestReading reading;
    Json document;
    try {
        document = Parse(body);
    } catch (const Json::exception& e) {
        reading.form = ManifestForm::NotOneJsonValue;
        reading.parseError = e.what();
        return reading;
    }
    if (!document.is_object()) {
        reading.form = ManifestForm::NotAnObject;
        return reading;
    }
    reading.form = ManifestForm::Object;
    reading.sha1 = ReadParsed(document, kSha1Member, Sha1FromHex);
    reading.url = ReadString(document, kUrlMember);
    reading.sha256 = ReadParsed(document, kSha256Member, Sha256FromHex);
    reading.signature = ReadString(document, kSignatureMember);
    reading.size = ReadSize(document, kSizeMember);
    reading.version = ReadParsed(document, kVersionMember, ParseVersion);
    reading.expiresText = ReadString(document, kExpiresMember);
    reading.expires = ReadParsed(document, kExpiresMember, ParseUtcTime);
    reading.withdrawn = ReadTrue(document, kWithdrawnMember);
    return reading;
}

bool FileMatchesManifest(const std::wstring& path, const ManifestReading& manifest) {
    return HashFile(path) == manifest.sha1.value;
}

std::wstring WidenManifestUrl(std::string_view url) {
    std::wstring wide;
    wide.reserve(url.size());
    for (const char byte : url) {
        // Sign-extended on purpose, as copying a std::string into a std::wstring does where char is
        // signed (on every Windows compiler): that is the address a launcher without keys requests
        // for a "url", and an unsigned tree must name the same address to every launcher reading
        // it. Do not "fix" this into UTF-8 decoding: a byte above 0x7F becomes a unit from U+FF80
        // up, which no well-formed URL holds, so such a manifest fails in every launcher alike
        // instead of fetching, in some, an address nobody tested. A signed "url" is printable ASCII.
        wide.push_back(static_cast<wchar_t>(static_cast<char16_t>(static_cast<signed char>(byte))));
    }
    return wide;
}

}  // namespace zv
