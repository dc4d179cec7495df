// The staging files' names and the resume decisions: which leftover staging file a run takes up
// again, by its note. The real staging, its note and the resumed download are tested under Wine
// (update_windows_test.cpp, http_client_test.cpp) and end to end (tests/e2e/test_flaky_network.py).
#include "update/staging.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using zv::HeldAnswer;

TEST(Staging, NamesBesideTheFilesTheyReplace) {
    EXPECT_EQ(zv::LauncherStagingPath(L"C:\\Games\\Foo_ZV.exe"), L"C:\\Games\\Foo_ZV.exe.new");
    EXPECT_EQ(zv::PreviousLauncherPath(L"C:\\Games\\Foo_ZV.exe"), L"C:\\Games\\Foo_ZV.exe.previous");
    EXPECT_EQ(zv::StubStagingPath(L"C:\\Games\\ZVClient.dll"), L"C:\\Games\\ZVClient.dll.partial");
    EXPECT_EQ(zv::StagingNotePath(L"C:\\Games\\ZVClient.dll.partial"), L"C:\\Games\\ZVClient.dll.partial.resume");
}

bool operator==(const HeldAnswer& a, const HeldAnswer& b) {
    return a.bytes == b.bytes && a.validator == b.validator && a.total == b.total;
}

TEST(ResumableStaging, TakesUpOnlyPartOfTheSameReleaseFromAKnownAnswer) {
    zv::Sha1Digest sha1;
    sha1.bytes[0] = 0xab;
    zv::Sha256Digest sha256;
    sha256.bytes[0] = 0xcd;
    const std::string signedRelease = zv::StagingIdentity(sha1, sha256, 3000);
    const std::string unsignedRelease = zv::StagingIdentity(sha1, std::nullopt, std::nullopt);
    EXPECT_EQ(unsignedRelease, "sha1 ab" + std::string(38, '0'));
    EXPECT_EQ(signedRelease, unsignedRelease + " sha256 cd" + std::string(62, '0') + " size 3000");

    const std::string note = zv::FormatStagingNote(signedRelease, "\"v1\"", 3000);
    EXPECT_EQ(note, "zarnovelle-staging-1\n" + signedRelease + "\n\"v1\"\n3000\n");
    struct Case {
        const char* name;
        std::string note;
        std::string identity;
        std::uint64_t fileSize;
        std::optional<HeldAnswer> held;
    };
    const Case cases[] = {
        {"part of the same release", note, signedRelease, 1200, HeldAnswer{1200, "\"v1\"", 3000}},
        {"whole, not yet checked", note, signedRelease, 3000, HeldAnswer{3000, "\"v1\"", 3000}},
        {"a Last-Modified as the validator",
         zv::FormatStagingNote(unsignedRelease, "Thu, 10 Dec 2026 12:00:00 GMT", 500), unsignedRelease, 10,
         HeldAnswer{10, "Thu, 10 Dec 2026 12:00:00 GMT", 500}},
        {"another release", note, zv::StagingIdentity(sha1, sha256, 3001), 1200, std::nullopt},
        {"the same digests without keys is another identity", note, unsignedRelease, 1200, std::nullopt},
        {"no answer yet", zv::FormatStagingNote(signedRelease, "", std::nullopt), signedRelease, 1200, std::nullopt},
        {"an answer without a validator", zv::FormatStagingNote(signedRelease, "", 3000), signedRelease, 1200,
         std::nullopt},
        {"an answer of unknown length", zv::FormatStagingNote(signedRelease, "\"v1\"", std::nullopt), signedRelease,
         1200, std::nullopt},
        {"nothing held", note, signedRelease, 0, std::nullopt},
        {"more held than the answer has", note, signedRelease, 3001, std::nullopt},
        {"a note of another form", "zarnovelle-staging-2\n" + note.substr(21), signedRelease, 1200, std::nullopt},
        {"a note cut short", note.substr(0, note.size() - 1), signedRelease, 1200, std::nullopt},
        {"a note with more", note + "x\n", signedRelease, 1200, std::nullopt},
        {"a validator that would add a header", "zarnovelle-staging-1\n" + signedRelease + "\n\"v1\"\rX: y\n3000\n",
         signedRelease, 1200, std::nullopt},
        {"a length that is no number", "zarnovelle-staging-1\n" + signedRelease + "\n\"v1\"\n3e3\n", signedRelease,
         1200, std::nullopt},
        {"an empty note", "", signedRelease, 1200, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<HeldAnswer> held = zv::ResumableStaging(c.note, c.identity, c.fileSize);
        ASSERT_EQ(held.has_value(), c.held.has_value());
        if (held) {
            EXPECT_TRUE(*held == *c.held);
        }
    }
}

}  // namespace
