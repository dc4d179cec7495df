// The manifest matrix: every kind of body a server or an operator can produce, and what the reading
// makes of it, rule by rule. The updaters' own tables map each rule to their result codes; the
// end-to-end scenarios keep one body per code.
#include "update/manifest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

using zv::ManifestForm;
using zv::MemberFault;

const std::string kHex = "00112233445566778899aabbccddeeff01234567";
const std::string kHexUpper = "00112233445566778899AABBCCDDEEFF01234567";

constexpr auto kObject = ManifestForm::Object;
constexpr auto kNotJson = ManifestForm::NotOneJsonValue;
constexpr auto kNotObject = ManifestForm::NotAnObject;
constexpr auto kOk = MemberFault::None;
constexpr auto kAbsent = MemberFault::Absent;
constexpr auto kWrongType = MemberFault::WrongType;
constexpr auto kMalformed = MemberFault::Malformed;

struct BodyCase {
    const char* name;
    std::string body;
    ManifestForm form;
    MemberFault sha1;
    MemberFault url;
    std::string urlValue = {};  // when url is kOk
};

const BodyCase kBodies[] = {
    {"complete", R"({"sha1":")" + kHex + R"(","url":"https://h/f.exe"})", kObject, kOk, kOk, "https://h/f.exe"},
    {"upper-case digits, no url", R"({"sha1":")" + kHexUpper + R"("})", kObject, kOk, kAbsent},
    {"whitespace around", " \r\n\t{\"sha1\":\"" + kHex + "\"}\n ", kObject, kOk, kAbsent},
    {"other members ignored", R"({"v":[1,{"x":null}],"sha1":")" + kHex + R"(","url":"u","n":3})", kObject, kOk, kOk,
     "u"},
    {"escaped slashes", R"({"sha1":")" + kHex + R"(","url":"https:\/\/h\/a\/b"})", kObject, kOk, kOk, "https://h/a/b"},
    {"empty url is still a url", R"({"sha1":")" + kHex + R"(","url":""})", kObject, kOk, kOk, ""},
    {"url not a string", R"({"sha1":")" + kHex + R"(","url":5})", kObject, kOk, kWrongType},
    {"url null", R"({"sha1":")" + kHex + R"(","url":null})", kObject, kOk, kWrongType},
    {"url an array", R"({"sha1":")" + kHex + R"(","url":["u"]})", kObject, kOk, kWrongType},
    {"name in another case", R"({"sha1":")" + kHex + R"(","URL":"u"})", kObject, kOk, kAbsent},
    {"bytes above ASCII", R"({"sha1":")" + kHex + "\",\"url\":\"h/\xC3\xA9\"}", kObject, kOk, kOk, "h/\xC3\xA9"},
    {"an escape above ASCII", R"({"sha1":")" + kHex + R"(","url":"h/\u00e9"})", kObject, kOk, kOk, "h/\xC3\xA9"},

    {"SHA1 only", R"({"SHA1":")" + kHex + R"("})", kObject, kAbsent, kAbsent},
    {"no sha1, with a url", R"({"url":"https://h/x"})", kObject, kAbsent, kOk, "https://h/x"},
    {"empty object", "{}", kObject, kAbsent, kAbsent},
    {"sha1 a number", R"({"sha1":1234,"url":"u"})", kObject, kWrongType, kOk, "u"},
    {"sha1 an object", R"({"sha1":{}})", kObject, kWrongType, kAbsent},
    {"sha1 null", R"({"sha1":null})", kObject, kWrongType, kAbsent},
    {"sha1 of 39 digits", R"({"sha1":")" + kHex.substr(1) + R"("})", kObject, kMalformed, kAbsent},
    {"sha1 of 41 digits", R"({"sha1":")" + kHex + R"(0"})", kObject, kMalformed, kAbsent},
    {"sha1 not hex", R"({"sha1":")" + kHex.substr(1) + R"(g"})", kObject, kMalformed, kAbsent},
    {"sha1 with a blank", R"({"sha1":" )" + kHex.substr(1) + R"("})", kObject, kMalformed, kAbsent},
    {"sha1 and url both wrong", R"({"sha1":"x","url":7})", kObject, kMalformed, kWrongType},

    {"array root", R"([")" + kHex + R"("])", kNotObject, kAbsent, kAbsent},
    {"string root", R"(")" + kHex + R"(")", kNotObject, kAbsent, kAbsent},
    {"null root", "null", kNotObject, kAbsent, kAbsent},
    {"number root", "42", kNotObject, kAbsent, kAbsent},

    {"empty body", "", kNotJson, kAbsent, kAbsent},
    {"whitespace only", "  \n", kNotJson, kAbsent, kAbsent},
    {"trailing comma", R"({"sha1":")" + kHex + R"(",})", kNotJson, kAbsent, kAbsent},
    {"comment", "/* c */{\"sha1\":\"" + kHex + "\"}", kNotJson, kAbsent, kAbsent},
    {"two values", R"({"sha1":")" + kHex + R"("} {})", kNotJson, kAbsent, kAbsent},
    {"text after the value", R"({"sha1":")" + kHex + R"("}x)", kNotJson, kAbsent, kAbsent},
    {"cut short", R"({"sha1":")" + kHex, kNotJson, kAbsent, kAbsent},
    {"an HTML error page", "<html><body>502 Bad Gateway</body></html>", kNotJson, kAbsent, kAbsent},
    {"NUL after the value", "{\"sha1\":\"" + kHex + "\"}" + std::string(1, '\0'), kNotJson, kAbsent, kAbsent},
    {"NUL before the value", std::string(1, '\0') + "{\"sha1\":\"" + kHex + "\"}", kNotJson, kAbsent, kAbsent},
    {"not UTF-8", "{\"sha1\":\"" + kHex + "\",\"url\":\"\xFF\"}", kNotJson, kAbsent, kAbsent},
    {"a number too large for a double", R"({"sha1":")" + kHex + R"(","n":1e400})", kNotJson, kAbsent, kAbsent},
};

TEST(ReadManifest, ReadsEachMemberByItsRule) {
    for (const auto& c : kBodies) {
        SCOPED_TRACE(c.name);
        const zv::ManifestReading reading = zv::ReadManifest(c.body);
        EXPECT_EQ(reading.form, c.form);
        EXPECT_EQ(reading.parseError.empty(), c.form != kNotJson) << reading.parseError;
        EXPECT_EQ(reading.sha1.fault, c.sha1);
        if (c.sha1 == kOk) {
            EXPECT_EQ(reading.sha1.value, zv::DigestFromHex(kHex));
        }
        EXPECT_EQ(reading.url.fault, c.url);
        EXPECT_EQ(reading.url.value, c.urlValue);
    }
}

TEST(ReadManifest, ReadsTheMembersOfASignedManifest) {
    const std::string sha256 = std::string(32, 'a') + std::string(32, 'B');
    struct Case {
        const char* name;
        std::string members;
        MemberFault sha256;
        MemberFault signature;
    };
    const Case cases[] = {
        {"both", R"("sha256":")" + sha256 + R"(","signature":"MEU=")", kOk, kOk},
        {"neither", "", kAbsent, kAbsent},
        {"sha256 of 63 digits", R"("sha256":")" + sha256.substr(1) + R"(")", kMalformed, kAbsent},
        {"sha256 not hex", R"("sha256":")" + sha256.substr(1) + R"(x")", kMalformed, kAbsent},
        {"sha256 a number", R"("sha256":1,"signature":2)", kWrongType, kWrongType},
        {"names in another case", R"("SHA256":")" + sha256 + R"(","Signature":"x")", kAbsent, kAbsent},
    };
    for (const auto& c : cases) {
        const zv::ManifestReading reading =
            zv::ReadManifest(R"({"sha1":")" + kHex + "\"" + (c.members.empty() ? "" : ",") + c.members + "}");
        EXPECT_EQ(reading.sha256.fault, c.sha256) << c.name;
        EXPECT_EQ(reading.signature.fault, c.signature) << c.name;
        if (c.sha256 == kOk) {
            EXPECT_EQ(zv::Sha256ToHex(reading.sha256.value), std::string(32, 'a') + std::string(32, 'b')) << c.name;
            EXPECT_EQ(reading.signature.value, "MEU=") << c.name;
        }
    }
}

TEST(ReadManifest, ReadsTheVersionSizeExpiryAndWithdrawal) {
    using std::chrono::sys_days;
    using namespace std::chrono_literals;
    struct Case {
        const char* name;
        std::string members;
        MemberFault size;
        MemberFault version;
        MemberFault expires;
        MemberFault withdrawn;
    };
    const Case cases[] = {
        {"all well-formed", R"("size":1234,"version":"1.2.3.4","expires":"2027-01-31T12:00:00Z","withdrawn":true)", kOk,
         kOk, kOk, kOk},
        {"none", "", kAbsent, kAbsent, kAbsent, kAbsent},
        {"size zero", R"("size":0)", kOk, kAbsent, kAbsent, kAbsent},
        {"size as a string", R"("size":"1234")", kWrongType, kAbsent, kAbsent, kAbsent},
        {"size with a fraction", R"("size":1234.0)", kWrongType, kAbsent, kAbsent, kAbsent},
        {"size with an exponent", R"("size":1e3)", kWrongType, kAbsent, kAbsent, kAbsent},
        {"size negative", R"("size":-1)", kMalformed, kAbsent, kAbsent, kAbsent},
        {"size beyond 64 bits", R"("size":18446744073709551616)", kWrongType, kAbsent, kAbsent, kAbsent},
        {"version of three parts", R"("version":"1.2.3")", kAbsent, kMalformed, kAbsent, kAbsent},
        {"version a number", R"("version":1.2)", kAbsent, kWrongType, kAbsent, kAbsent},
        {"version part over 65535", R"("version":"1.2.3.65536")", kAbsent, kMalformed, kAbsent, kAbsent},
        {"expires without Z", R"("expires":"2027-01-31T12:00:00")", kAbsent, kAbsent, kMalformed, kAbsent},
        {"expires a date only", R"("expires":"2027-01-31")", kAbsent, kAbsent, kMalformed, kAbsent},
        {"expires a number", R"("expires":1800000000)", kAbsent, kAbsent, kWrongType, kAbsent},
        {"withdrawn false", R"("withdrawn":false)", kAbsent, kAbsent, kAbsent, kMalformed},
        {"withdrawn a string", R"("withdrawn":"true")", kAbsent, kAbsent, kAbsent, kWrongType},
        {"withdrawn null", R"("withdrawn":null)", kAbsent, kAbsent, kAbsent, kWrongType},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const zv::ManifestReading reading = zv::ReadManifest("{" + c.members + "}");
        EXPECT_EQ(reading.size.fault, c.size);
        EXPECT_EQ(reading.version.fault, c.version);
        EXPECT_EQ(reading.expires.fault, c.expires);
        EXPECT_EQ(reading.withdrawn.fault, c.withdrawn);
    }
    const zv::ManifestReading reading = zv::ReadManifest(
        R"({"size":18446744073709551615,"version":"01.2.3.4","expires":"2027-01-31T12:00:00Z","withdrawn":true})");
    EXPECT_EQ(reading.size.value, 18446744073709551615u);
    EXPECT_EQ(reading.version.value, (zv::Version{{1, 2, 3, 4}}));
    EXPECT_EQ(reading.expiresText.value, "2027-01-31T12:00:00Z") << "kept as it stands: the signature covers it";
    EXPECT_EQ(reading.expires.value, sys_days{std::chrono::year{2027} / 1 / 31} + 12h);
    EXPECT_TRUE(reading.withdrawn.value);
}

TEST(ReadManifest, NamesWhereTheParserStopped) {
    EXPECT_NE(zv::ReadManifest(R"({"sha1": )").parseError.find("parse error at line 1, column 10"), std::string::npos)
        << zv::ReadManifest(R"({"sha1": )").parseError;
    const std::string nul = zv::ReadManifest(std::string("{}\0", 3)).parseError;
    EXPECT_NE(nul.find("parse error at byte 3: NUL byte in the manifest body"), std::string::npos) << nul;
}

TEST(WidenManifestUrl, MakesEachByteOneUnit) {
    EXPECT_EQ(zv::WidenManifestUrl("https://h/a%20b?x=1"), L"https://h/a%20b?x=1");
    // UTF-8 for U+00E9 (C3 A9) widens to FFC3 FFA9, not to U+00E9: each byte is a signed 8-bit value.
    EXPECT_EQ(zv::WidenManifestUrl("h/\xC3\xA9"), std::wstring(L"h/") + wchar_t(0xFFC3) + wchar_t(0xFFA9));
    EXPECT_EQ(zv::WidenManifestUrl(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
    EXPECT_EQ(zv::WidenManifestUrl(""), L"");
}

TEST(FormatManifest, WritesWhatTheReadingReadsBack) {
    const zv::Sha1Digest digest = zv::DigestFromHex(kHexUpper);
    const std::string url = "https://cdn.example.com/zv/stub/ZVClient-x.dll";
    const std::string body = zv::FormatManifest(digest, url);
    EXPECT_EQ(body, "{\n  \"sha1\": \"" + kHex + "\",\n  \"url\": \"" + url + "\"\n}\n");
    const zv::ManifestReading reading = zv::ReadManifest(body);
    EXPECT_EQ(reading.form, kObject);
    EXPECT_EQ(reading.sha1.value, digest);
    EXPECT_EQ(reading.url.value, url);
}

}  // namespace
