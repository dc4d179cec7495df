#include "update/manifest.h"

#include <stdexcept>

namespace zv {

nlohmann::json ParseManifest(std::string_view body) {
    // The parser takes a NUL byte for the end of the input, so "{...}\0junk" would pass as one
    // value. JSON text never holds a raw NUL: refuse it as the parser refuses other stray bytes.
    if (const auto nul = body.find('\0'); nul != std::string_view::npos) {
        throw nlohmann::json::parse_error::create(101, nul + 1, "NUL byte in the manifest body", nullptr);
    }
    return nlohmann::json::parse(body.begin(), body.end(), /*cb=*/nullptr, /*allow_exceptions=*/true,
                                 /*ignore_comments=*/false);
}

std::optional<std::string> GetManifestString(const nlohmann::json& document, std::string_view member) {
    if (!document.is_object()) {
        return std::nullopt;
    }
    const auto it = document.find(member);
    if (it == document.end()) {
        return std::nullopt;
    }
    return it->get<std::string>();
}

std::wstring WidenManifestUrl(std::string_view url) {
    std::wstring wide;
    wide.reserve(url.size());
    for (const char byte : url) {
        wide.push_back(static_cast<wchar_t>(static_cast<char16_t>(static_cast<signed char>(byte))));
    }
    return wide;
}

ManifestDigest ReadManifestDigest(std::string_view body, const ManifestCodes& codes) {
    ManifestDigest reading;
    try {
        reading.document = ParseManifest(body);
    } catch (const nlohmann::json::exception&) {
        reading.failure = codes.fetchFailed;
        return reading;
    }
    try {
        const auto sha1 = GetManifestString(reading.document, "sha1");
        if (!sha1) {
            reading.failure = codes.missingSha1;
            return reading;
        }
        reading.expected = DigestFromHex(*sha1);
    } catch (const nlohmann::json::exception&) {
        reading.failure = codes.missingSha1;
    } catch (const std::invalid_argument&) {
        reading.failure = codes.missingSha1;
    }
    return reading;
}

ManifestUrl ReadManifestUrl(const nlohmann::json& document, const ManifestCodes& codes) {
    ManifestUrl reading;
    try {
        const auto url = GetManifestString(document, "url");
        if (!url) {
            reading.failure = codes.missingUrl;
            return reading;
        }
        reading.url = WidenManifestUrl(*url);
    } catch (const nlohmann::json::exception&) {
        reading.failure = codes.missingUrl;
    }
    return reading;
}

}  // namespace zv
