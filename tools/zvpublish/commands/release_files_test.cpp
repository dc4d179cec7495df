#include "zvpublish/commands/release_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "publish_test_support.h"

namespace {

using namespace zv::publish;

TEST(ComputeBuildKey, IsTheLowerCaseSha1OfTheCodeSectionBytes) {
    ScratchDirectory scratch;
    const Bytes code = {0x48, 0x31, 0xC0, 0xC3, 0xAB, 0xCD, 0xEF};
    zv::test::PeImage image = zv::test::MakeImportingImage({"ZVClient.dll"}, 0x8664, code);
    image.trailer = Bytes(100, 0x5A);  // bytes outside the code section do not count
    WriteFileBytes(scratch.path() / "Game.exe", zv::test::BuildPe(image));

    const BuildKey key = ComputeBuildKey((scratch.path() / "Game.exe").wstring());
    ASSERT_FALSE(key.failure) << key.failure->reason;
    EXPECT_EQ(ToUtf8(key.key), Sha1Hex(code));
}

TEST(ComputeBuildKey, RefusesEveryFileTheLauncherWouldNotTakeForTheGame) {
    using zv::test::PeImage;
    const auto build = [](const std::function<void(PeImage&)>& edit) {
        PeImage image = zv::test::MakeImportingImage({"ZVClient.dll"});
        edit(image);
        return zv::test::BuildPe(image);
    };
    const auto importing = [](std::vector<std::string> libraries) {
        return zv::test::BuildPe(zv::test::MakeImportingImage(libraries));
    };
    struct RefusalCase {
        const char* what;
        std::function<void(const fs::path&)> make;
        const char* reason;
    };
    const auto bytes = [](Bytes content) { return [content](const fs::path& p) { WriteFileBytes(p, content); }; };
    const std::string text = "not a program\r\n";
    const RefusalCase cases[] = {
        {"missing", [](const fs::path&) {}, "does not exist"},
        {"a folder", [](const fs::path& p) { fs::create_directory(p); }, "is a directory"},
        {"empty", bytes({}), "is empty"},
        {"text", bytes(Bytes(text.begin(), text.end())), "not a client target: not a PE file"},
        {"ARM64", bytes(build([](PeImage& i) {
             i.machine = 0xAA64;
             i.optionalMagic = 0x020B;
         })),
         "another machine (0xAA64, ARM64)"},
        {"cut inside the optional header", bytes([&] {
             Bytes b = importing({"ZVClient.dll"});
             b.resize(0x80 + 24 + 100);
             return b;
         }()),
         "cut short"},
        {"optional header of the other kind", bytes(build([](PeImage& i) { i.optionalMagic = 0x010B; })),
         "optional header"},
        {"no imports", bytes(importing({})), "imports no library"},
        {"import table outside every section", bytes(build([](PeImage& i) { i.importRva = 0x9000; })),
         "import table cannot be read"},
        {"another library first", bytes(importing({"KERNEL32.dll", "ZVClient.dll"})), "imports KERNEL32.dll first"},
        {"a name with bytes that are not text", bytes(importing({"ZV\x01lient.dll"})), "imports ZV\\x01lient.dll"},
        {"more libraries", bytes(importing({"ZVClient.dll", "USER32.dll"})),
         "imports other libraries besides ZVClient.dll"},
        {"no code section", bytes(build([](PeImage& i) {
             i.sections[0].name = ".data";
             i.sections[0].characteristics = zv::test::kSectionInitData;
         })),
         "no code section"},
    };
    ScratchDirectory scratch;
    int n = 0;
    for (const auto& c : cases) {
        const fs::path path = scratch.path() / ("Game" + std::to_string(n++) + ".exe");
        c.make(path);
        const BuildKey key = ComputeBuildKey(path.wstring());
        ASSERT_TRUE(key.failure) << c.what;
        EXPECT_EQ(key.failure->path, path.wstring()) << c.what;
        EXPECT_NE(key.failure->reason.find(c.reason), std::string::npos) << c.what << ": " << key.failure->reason;
    }
}

}  // namespace
