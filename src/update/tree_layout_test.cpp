// The tree's names are the contract between zvpublish, the update server and the launcher: a
// change here moves every file a running launcher asks for.
#include "update/tree_layout.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::wstring kKey = L"0123456789abcdef0123456789abcdef01234567";

TEST(TreeLayout, NamesTheManifestsAndTheContentFiles) {
    EXPECT_EQ(zv::LauncherManifestPath(), L"/launcher/manifest.json");
    EXPECT_EQ(zv::StubManifestPath(kKey), L"/stub/" + kKey + L"/manifest.json");
    EXPECT_EQ(zv::LauncherManifestUrl(L"updates.example:9443"), L"https://updates.example:9443/launcher/manifest.json");
    EXPECT_EQ(zv::StubManifestUrl(L"updates.example", kKey),
              L"https://updates.example/stub/" + kKey + L"/manifest.json");

    const zv::Sha1Digest digest = zv::DigestFromHex("00112233445566778899AABBCCDDEEFF01234567");
    EXPECT_EQ(zv::LauncherFileName(digest), L"ZVLauncher-00112233445566778899aabbccddeeff01234567.exe");
    EXPECT_EQ(zv::StubFileName(digest), L"ZVClient-00112233445566778899aabbccddeeff01234567.dll");
}

TEST(TreeLayout, ABuildKeyIsFortyLowerCaseHexadecimalDigits) {
    struct Case {
        std::wstring name;
        bool key;
    };
    const Case cases[] = {
        {kKey, true},
        {std::wstring(40, L'0'), true},
        {L"0123456789ABCDEF0123456789abcdef01234567", false},  // the launcher always asks in lower case
        {kKey.substr(1), false},
        {kKey + L"0", false},
        {kKey.substr(1) + L"g", false},
        {L"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zv::IsBuildKey(c.name), c.key) << std::string(c.name.begin(), c.name.end());
    }
}

}  // namespace
