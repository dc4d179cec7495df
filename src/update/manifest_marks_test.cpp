// The marks of accepted stub manifests as they are kept: the text FormatManifestMark writes, and
// the reading of whatever value another program of the same user may have left in its place.
#include "update/manifest_marks.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using State = zv::KeptMark::State;

const std::string kSha = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";
const std::wstring kWideSha(kSha.begin(), kSha.end());

TEST(ManifestMark, IsKeptAsTheVersionTheStubAndTheSigner) {
    const zv::ManifestMark released{zv::Version{{1, 4, 0, 2}}, *zv::Sha256FromHex(kSha), "3f2a9c0d41b7e655"};
    EXPECT_EQ(zv::FormatManifestMark(released), "1.4.0.2 " + kSha + " 3f2a9c0d41b7e655");
    const zv::ManifestMark withdrawn{zv::Version{{65535, 65535, 65535, 65535}}, std::nullopt, "0000000000000000"};
    EXPECT_EQ(zv::FormatManifestMark(withdrawn), "65535.65535.65535.65535 withdrawn 0000000000000000");
    for (const zv::ManifestMark& mark : {released, withdrawn}) {
        EXPECT_EQ(zv::ParseManifestMark(zv::FormatManifestMark(mark)), mark);
    }
}

TEST(ReadManifestMarkText, TakesOnlyTheTextAMarkIsKeptAs) {
    struct Case {
        const char* name;
        std::wstring value;
        State state;
        std::string problem;
    };
    const std::wstring signer = L" 3f2a9c0d41b7e655";
    const std::wstring longest = L"65535.65535.65535.65535 " + kWideSha + signer;
    const Case cases[] = {
        {"a mark", L"1.4.0.2 " + kWideSha + signer, State::Kept, ""},
        {"a withdrawal's", L"1.4.0.2 withdrawn" + signer, State::Kept, ""},
        {"ended by the registry's NULs", L"1.4.0.2 withdrawn" + signer + std::wstring(2, L'\0'), State::Kept, ""},
        {"the longest", longest, State::Kept, ""},

        {"longer than the longest", longest + L"0", State::Unreadable, "it is longer than any mark"},
        {"empty", L"", State::Unreadable, "it is not a mark"},
        {"the form before signers were kept", L"1.4.0.2 " + kWideSha, State::Unreadable, "it is not a mark"},
        {"a version with three parts", L"1.4.0 withdrawn" + signer, State::Unreadable, "it is not a mark"},
        {"a version with a leading zero", L"1.04.0.2 withdrawn" + signer, State::Unreadable, "it is not a mark"},
        {"a version part above 65535", L"1.65536.0.2 withdrawn" + signer, State::Unreadable, "it is not a mark"},
        {"a digest in upper case", L"1.4.0.2 9F86" + kWideSha.substr(4) + signer, State::Unreadable,
         "it is not a mark"},
        {"a digest one digit short", L"1.4.0.2 " + kWideSha.substr(1) + signer, State::Unreadable, "it is not a mark"},
        {"a signer in upper case", L"1.4.0.2 withdrawn 3F2A9C0D41B7E655", State::Unreadable, "it is not a mark"},
        {"a signer one digit short", L"1.4.0.2 withdrawn 3f2a9c0d41b7e65", State::Unreadable, "it is not a mark"},
        {"two blanks", L"1.4.0.2  withdrawn" + signer, State::Unreadable, "it is not a mark"},
        {"a blank at the end", L"1.4.0.2 withdrawn" + signer + L" ", State::Unreadable, "it is not a mark"},
        {"a tab for a blank", L"1.4.0.2\twithdrawn" + signer, State::Unreadable, "it is not a mark"},
        {"a NUL inside", L"1.4.0.2 withdrawn" + signer + std::wstring(1, L'\0') + L"x", State::Unreadable,
         "it is not a mark"},
        {"a character outside ASCII", L"1.4.0.2 withdrawn 3f2a9c0d41b7e65\u0435", State::Unreadable,
         "it is not a mark"},
        {"another word", L"1.4.0.2 withdraw" + signer, State::Unreadable, "it is not a mark"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const zv::KeptMark read = zv::ReadManifestMarkText(c.value);
        EXPECT_EQ(read.state, c.state);
        EXPECT_EQ(read.problem, c.problem);
    }
    const zv::KeptMark read = zv::ReadManifestMarkText(L"1.4.0.2 " + kWideSha + signer);
    EXPECT_EQ(read.mark, (zv::ManifestMark{zv::Version{{1, 4, 0, 2}}, *zv::Sha256FromHex(kSha), "3f2a9c0d41b7e655"}));
}

}  // namespace
