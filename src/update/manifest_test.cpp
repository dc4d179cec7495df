#include "update/manifest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using zv::LaunchResult;

const std::string kHex = "00112233445566778899aabbccddeeff01234567";
const std::string kHexUpper = "00112233445566778899AABBCCDDEEFF01234567";

// Which outcome a body leads to, named apart from either updater's numbers.
enum class Outcome { Ok, FetchFailed, MissingSha1, MissingUrl };

LaunchResult CodeFor(Outcome outcome, const zv::ManifestCodes& codes) {
    switch (outcome) {
        case Outcome::FetchFailed:
            return codes.fetchFailed;
        case Outcome::MissingSha1:
            return codes.missingSha1;
        case Outcome::MissingUrl:
            return codes.missingUrl;
        case Outcome::Ok:
            break;
    }
    return LaunchResult::Success;
}

struct BodyCase {
    const char* name;
    std::string body;
    Outcome digest;  // outcome of reading "sha1"
    Outcome url;     // outcome of reading "url" (when "sha1" was read)
    std::wstring expectedUrl;
};

const BodyCase kBodies[] = {
    {"complete", R"({"sha1":")" + kHex + R"(","url":"https://h/f.exe"})", Outcome::Ok, Outcome::Ok, L"https://h/f.exe"},
    {"upper-case digits", R"({"sha1":")" + kHexUpper + R"("})", Outcome::Ok, Outcome::MissingUrl, L""},
    {"whitespace around", " \r\n\t{\"sha1\":\"" + kHex + "\"}\n ", Outcome::Ok, Outcome::MissingUrl, L""},
    {"other members ignored", R"({"v":[1,{"x":null}],"sha1":")" + kHex + R"(","url":"u","n":3})", Outcome::Ok,
     Outcome::Ok, L"u"},
    {"escaped slashes", R"({"sha1":")" + kHex + R"(","url":"https:\/\/h\/a\/b"})", Outcome::Ok, Outcome::Ok,
     L"https://h/a/b"},
    {"empty url is still a url", R"({"sha1":")" + kHex + R"(","url":""})", Outcome::Ok, Outcome::Ok, L""},
    {"url not a string", R"({"sha1":")" + kHex + R"(","url":5})", Outcome::Ok, Outcome::MissingUrl, L""},
    {"url null", R"({"sha1":")" + kHex + R"(","url":null})", Outcome::Ok, Outcome::MissingUrl, L""},
    {"name in another case", R"({"sha1":")" + kHex + R"(","URL":"u"})", Outcome::Ok, Outcome::MissingUrl, L""},
    // Each byte becomes one unit: UTF-8 for U+00E9 (C3 A9) widens to FFC3 FFA9, not to U+00E9.
    {"bytes above ASCII", R"({"sha1":")" + kHex + "\",\"url\":\"h/\xC3\xA9\"}", Outcome::Ok, Outcome::Ok,
     std::wstring(L"h/") + wchar_t(0xFFC3) + wchar_t(0xFFA9)},

    {"SHA1 only", R"({"SHA1":")" + kHex + R"("})", Outcome::MissingSha1, Outcome::Ok, L""},
    {"array root", R"([")" + kHex + R"("])", Outcome::MissingSha1, Outcome::Ok, L""},
    {"string root", R"(")" + kHex + R"(")", Outcome::MissingSha1, Outcome::Ok, L""},
    {"null root", "null", Outcome::MissingSha1, Outcome::Ok, L""},
    {"number root", "42", Outcome::MissingSha1, Outcome::Ok, L""},
    {"sha1 a number", R"({"sha1":1234})", Outcome::MissingSha1, Outcome::Ok, L""},
    {"sha1 an object", R"({"sha1":{}})", Outcome::MissingSha1, Outcome::Ok, L""},
    {"sha1 of 39 digits", R"({"sha1":")" + kHex.substr(1) + R"("})", Outcome::MissingSha1, Outcome::Ok, L""},
    {"sha1 of 41 digits", R"({"sha1":")" + kHex + R"(0"})", Outcome::MissingSha1, Outcome::Ok, L""},
    {"sha1 not hex", R"({"sha1":")" + kHex.substr(1) + R"(g"})", Outcome::MissingSha1, Outcome::Ok, L""},

    {"empty body", "", Outcome::FetchFailed, Outcome::Ok, L""},
    {"whitespace only", "  \n", Outcome::FetchFailed, Outcome::Ok, L""},
    {"trailing comma", R"({"sha1":")" + kHex + R"(",})", Outcome::FetchFailed, Outcome::Ok, L""},
    {"comment", "/* c */{\"sha1\":\"" + kHex + "\"}", Outcome::FetchFailed, Outcome::Ok, L""},
    {"two values", R"({"sha1":")" + kHex + R"("} {})", Outcome::FetchFailed, Outcome::Ok, L""},
    {"text after the value", R"({"sha1":")" + kHex + R"("}x)", Outcome::FetchFailed, Outcome::Ok, L""},
    {"cut short", R"({"sha1":")" + kHex, Outcome::FetchFailed, Outcome::Ok, L""},
    {"an HTML error page", "<html><body>502 Bad Gateway</body></html>", Outcome::FetchFailed, Outcome::Ok, L""},
    {"NUL after the value", "{\"sha1\":\"" + kHex + "\"}" + std::string(1, '\0'), Outcome::FetchFailed, Outcome::Ok,
     L""},
    {"not UTF-8", "{\"sha1\":\"" + kHex + "\",\"url\":\"\xFF\"}", Outcome::FetchFailed, Outcome::Ok, L""},
};

TEST(ReadManifest, GivesEachUpdaterTheCodeOfTheNeighbouringOutcome) {
    for (const auto& codes : {zv::kLauncherManifestCodes, zv::kStubManifestCodes}) {
        for (const auto& c : kBodies) {
            const auto digest = zv::ReadManifestDigest(c.body, codes);
            EXPECT_EQ(digest.failure, CodeFor(c.digest, codes)) << c.name;
            if (digest.failure != LaunchResult::Success) {
                continue;
            }
            EXPECT_EQ(digest.expected, zv::DigestFromHex(kHex)) << c.name;
            const auto url = zv::ReadManifestUrl(digest.document, codes);
            EXPECT_EQ(url.failure, CodeFor(c.url, codes)) << c.name;
            EXPECT_EQ(url.url, c.expectedUrl) << c.name;
        }
    }
}

TEST(ReadManifest, UsesEachUpdatersOwnNumbers) {
    const std::string noSha1 = R"({"url":"https://h/x"})";
    EXPECT_EQ(zv::ReadManifestDigest(noSha1, zv::kLauncherManifestCodes).failure,
              LaunchResult::LauncherManifestMissingSha1);
    EXPECT_EQ(zv::ReadManifestDigest(noSha1, zv::kStubManifestCodes).failure, LaunchResult::StubManifestMissingSha1);
    EXPECT_EQ(zv::ReadManifestDigest("{", zv::kLauncherManifestCodes).failure,
              LaunchResult::LauncherManifestFetchFailed);
    EXPECT_EQ(zv::ReadManifestDigest("{", zv::kStubManifestCodes).failure, LaunchResult::StubManifestFetchFailed);
}

}  // namespace
