#include "integrity/file_digest.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "build_tree.h"
#include "file_bytes.h"
#include "integrity/sha1.h"
#include "pe_builder.h"
#include "random_bytes.h"
#include "scratch_directory.h"

#ifdef _WIN32
#include <windows.h>

#include "common/unique_handle.h"
#else
#include "common/native_path.h"
#endif

namespace {

namespace fs = std::filesystem;
using zv::HashCodeSection;
using zv::HashFile;
using zv::Sha1Digest;
using zv::test::Bytes;
using zv::test::PeImage;
using zv::test::PeSection;
using zv::test::RandomBytes;

constexpr Sha1Digest kZeros{};

Sha1Digest DigestOfBytes(const Bytes& bytes) { return zv::Sha1Of(bytes.data(), bytes.size()); }

// The launcher's wide form of a path. (The standard library would convert a POSIX path through the
// C locale, which knows no characters beyond ASCII.)
std::wstring Wide(const fs::path& path) {
#ifdef _WIN32
    return path.wstring();
#else
    return zv::FromNativePath(path.native());
#endif
}

// A scratch folder of its own for each test.
class FileDigestTest : public testing::Test {
protected:
    // Writes the file into the test's folder; the launcher's form of its path.
    std::wstring Write(const fs::path& name, const Bytes& bytes) {
        const fs::path path = directory_ / name;
        zv::test::WriteFileBytes(path, bytes);
        return Wide(path);
    }

    const zv::test::ScratchDirectory scratch_;
    const fs::path directory_ = scratch_.path();
};

TEST_F(FileDigestTest, HashFileCoversEveryByteWhateverTheSize) {
    // Around the size of one read: the last read may be full, or leave a single byte.
    for (const std::size_t size : {0u, 1u, 64u, 65535u, 65536u, 65537u, 3u * 65536u + 100u}) {
        const Bytes content = RandomBytes(size, static_cast<std::uint32_t>(size));
        EXPECT_EQ(HashFile(Write("file.bin", content)), DigestOfBytes(content)) << "size " << size;
    }
    EXPECT_EQ(zv::Sha1ToHex(HashFile(Write("empty.bin", {}))), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

TEST_F(FileDigestTest, HashFileTwiceGivesBothDigestsFromOnePass) {
    for (const std::size_t size : {0u, 65536u, 3u * 65536u + 100u}) {
        const Bytes content = RandomBytes(size, static_cast<std::uint32_t>(size) + 7);
        const auto digests = zv::HashFileTwice(Write("file.bin", content));
        ASSERT_TRUE(digests.has_value()) << "size " << size;
        EXPECT_EQ(digests->sha1, DigestOfBytes(content)) << "size " << size;
        EXPECT_EQ(digests->sha256, zv::Sha256Of(content.data(), content.size())) << "size " << size;
    }
    EXPECT_FALSE(zv::HashFileTwice(Wide(directory_ / "missing.bin")).has_value());
    EXPECT_FALSE(zv::HashFileTwice(Wide(directory_)).has_value());
}

TEST_F(FileDigestTest, FindsFilesWhoseNamesAreNotAscii) {
    const Bytes content = RandomBytes(100, 1);
    EXPECT_EQ(HashFile(Write(fs::path(u8"Spi\u00e9l \u65e5\u672c.bin"), content)), DigestOfBytes(content));
}

TEST_F(FileDigestTest, GivesZerosForWhatCannotBeOpened) {
    for (const fs::path& path : {directory_ / "missing.exe", directory_ / "no" / "such" / "dir.exe", directory_}) {
        EXPECT_EQ(HashFile(Wide(path)), kZeros) << path;
        EXPECT_EQ(HashCodeSection(Wide(path)), kZeros) << path;
    }
}

PeSection Section(std::string name, std::uint32_t characteristics, Bytes data) {
    PeSection section;
    section.name = std::move(name);
    section.characteristics = characteristics;
    section.data = std::move(data);
    return section;
}

PeImage ImageOf(std::vector<PeSection> sections) {
    PeImage image;
    image.sections = std::move(sections);
    return image;
}

struct CodeSectionCase {
    const char* name;
    PeImage image;
    // The section bytes the digest must cover; none for twenty zero bytes.
    std::optional<Bytes> hashed;
    // Changes to the built file, for what the image builder does not lay out.
    std::function<void(Bytes&)> patch;
};

std::vector<CodeSectionCase> CodeSectionCases() {
    using zv::test::kSectionCode;
    using zv::test::kSectionInitData;
    const Bytes code = RandomBytes(300, 1);
    const Bytes other = RandomBytes(200, 2);
    const Bytes more = RandomBytes(100, 3);
    constexpr std::uint32_t kData = kSectionInitData;

    std::vector<CodeSectionCase> cases;
    cases.push_back({"TextSection", ImageOf({Section(".text", kSectionCode, code)}), code, {}});
    cases.push_back({"TextWinsOverAnEarlierCodeSection",
                     ImageOf({Section(".init", kSectionCode, other), Section(".text", kSectionCode, code)}),
                     code,
                     {}});
    cases.push_back({"TextWinsEvenWithoutTheCodeFlag",
                     ImageOf({Section("CODE", kSectionCode, other), Section(".text", kData, code)}),
                     code,
                     {}});
    cases.push_back({"BytesAfterTheTerminatorDoNotCount",
                     ImageOf({Section("CODE", kSectionCode, other), Section(std::string(".text\0xy", 8), kData, code)}),
                     code,
                     {}});
    cases.push_back({"LongerNameIsNotText",
                     ImageOf({Section(".textbss", kData, other), Section("CODE", kSectionCode, code)}),
                     code,
                     {}});
    cases.push_back({"NameIsCaseSensitive",
                     ImageOf({Section(".TEXT", kData, other), Section("CODE", kSectionCode, code)}),
                     code,
                     {}});
    cases.push_back({"FirstCodeSectionWithoutText",
                     ImageOf({Section(".data", kData, other), Section("CODE", kSectionCode, code),
                              Section("CODE2", kSectionCode, more)}),
                     code,
                     {}});
    cases.push_back({"NoCodeSectionAtAll",
                     ImageOf({Section(".data", kData, code), Section(".rdata", kData, other)}),
                     std::nullopt,
                     {}});

    PeImage pe32 = ImageOf({Section(".rdata", kData, other), Section(".text", kSectionCode, code)});
    pe32.machine = 0x014C;
    cases.push_back({"Pe32LikePe32Plus", pe32, code, {}});

    PeImage trailer = ImageOf({Section(".text", kSectionCode, code), Section(".data", kData, other)});
    trailer.trailer = RandomBytes(1000, 4);
    cases.push_back({"AppendedBytesDoNotCount", trailer, code, {}});

    cases.push_back({"SectionLongerThanOneRead",
                     ImageOf({Section(".text", kSectionCode, RandomBytes(150000, 5))}),
                     RandomBytes(150000, 5),
                     {}});

    PeImage empty = ImageOf({Section(".text", kSectionCode, {}), Section(".data", kData, other)});
    empty.sections[0].sizeOfRawData = 0;
    cases.push_back({"SizeOfRawDataZero", empty, Bytes{}, {}});

    PeImage beyond = ImageOf({Section(".text", kSectionCode, {})});
    beyond.sections[0].sizeOfRawData = 512;
    beyond.sections[0].pointerToRawData = 0x100000;
    cases.push_back({"PointerToRawDataPastTheEnd", beyond, Bytes{}, {}});

    PeImage cut = ImageOf({Section(".data", kData, other), Section(".text", kSectionCode, code)});
    cut.sections[1].sizeOfRawData = 4096;
    cases.push_back({"SectionCutShortByTheEndOfTheFile", cut, code, {}});

    PeImage negative = ImageOf({Section(".text", kSectionCode, code)});
    negative.lfanew = -64;
    cases.push_back({"NegativeLfanew", negative, std::nullopt, {}});
    cases.push_back({"LfanewPastTheEnd", ImageOf({Section(".text", kSectionCode, code)}), std::nullopt,
                     [](Bytes& file) { file[62] = 0x10; }});

    PeImage badMagic = ImageOf({Section(".text", kSectionCode, code)});
    badMagic.dosMagic = 0x4D5A;
    cases.push_back({"NotMz", badMagic, std::nullopt, {}});

    PeImage badSignature = ImageOf({Section(".text", kSectionCode, code)});
    badSignature.signature = 0x01004550;
    cases.push_back({"SignatureNotPeAndTwoZeros", badSignature, std::nullopt, {}});

    PeImage noSections = ImageOf({Section(".text", kSectionCode, code)});
    noSections.numberOfSectionsField = 0;
    cases.push_back({"NoSections", noSections, std::nullopt, {}});

    PeImage hugeOptional = ImageOf({Section(".text", kSectionCode, code)});
    hugeOptional.sizeOfOptionalHeaderField = 0xFFFF;
    cases.push_back({"OptionalHeaderPastTheEnd", hugeOptional, std::nullopt, {}});

    const PeImage twoSections = ImageOf({Section(".text", kSectionCode, code), Section(".data", kData, other)});
    const std::size_t tableEnd = 0x80 + 4 + 20 + 240 + 2 * 40;
    cases.push_back(
        {"SectionTableCutShort", twoSections, std::nullopt, [=](Bytes& file) { file.resize(tableEnd - 1); }});
    cases.push_back({"DosHeaderCutShort", twoSections, std::nullopt, [](Bytes& file) { file.resize(63); }});
    cases.push_back(
        {"TextFile", twoSections, std::nullopt, [](Bytes& file) {
             const std::string text =
                 "MZ is how this line starts, but the file is only text,\nlong enough to fill a DOS header.\n";
             file.assign(text.begin(), text.end());
         }});
    cases.push_back({"EmptyFile", twoSections, std::nullopt, [](Bytes& file) { file.clear(); }});
    return cases;
}

TEST_F(FileDigestTest, HashCodeSectionChoosesTheCodeSectionAndRejectsBrokenHeaders) {
    for (const auto& c : CodeSectionCases()) {
        SCOPED_TRACE(c.name);
        Bytes file = zv::test::BuildPe(c.image);
        if (c.patch) {
            c.patch(file);
        }
        const Sha1Digest expected = c.hashed ? DigestOfBytes(*c.hashed) : kZeros;
        EXPECT_EQ(zv::Sha1ToHex(HashCodeSection(Write("image.exe", file))), zv::Sha1ToHex(expected));
    }
}

TEST_F(FileDigestTest, RealImageFromTheCrossCompilerMatchesItsTextSectionHashedByAnotherReader) {
    // Made by the build (tests/fixtures/integrity).
    const auto image = zv::test::BuildTreePath("src/integrity/fixtures/tiny_game.exe");
    const auto expectedFile = zv::test::BuildTreePath("src/integrity/fixtures/tiny_game.text.sha1");
    ASSERT_TRUE(image && expectedFile) << "ZV_BINARY_DIR is not set; run the tests through ctest";
    const std::string expected = zv::test::ReadFileText(*expectedFile).substr(0, 40);

    const Sha1Digest digest = HashCodeSection(Wide(*image));
    EXPECT_EQ(zv::Sha1ToHex(digest), expected);

    // A signature or other overlay appended to the file leaves the key alone.
    Bytes withOverlay = zv::test::ReadFileBytes(*image);
    const Bytes overlay = RandomBytes(777, 6);
    withOverlay.insert(withOverlay.end(), overlay.begin(), overlay.end());
    EXPECT_EQ(HashCodeSection(Write("signed.exe", withOverlay)), digest);
}

#ifdef _WIN32

// The digests open files shared with readers only: a file someone is writing cannot be hashed.
TEST_F(FileDigestTest, AFileOpenForWritingElsewhereGivesZeros) {
    const Bytes content = zv::test::BuildPe(ImageOf({Section(".text", zv::test::kSectionCode, RandomBytes(300, 1))}));
    const std::wstring path = Write("held.exe", content);
    const Sha1Digest wholeFile = DigestOfBytes(content);
    const Sha1Digest codeSection = DigestOfBytes(RandomBytes(300, 1));

    const struct {
        const char* name;
        DWORD access;
        DWORD share;
        bool hashable;
    } cases[] = {
        {"WriterSharingReadAndWrite", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
        {"WriterSharingRead", GENERIC_WRITE, FILE_SHARE_READ, false},
        {"ReaderWriterSharingEverything", GENERIC_READ | GENERIC_WRITE,
         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false},
        {"ReaderSharingRead", GENERIC_READ, FILE_SHARE_READ, true},
        {"ReaderSharingReadAndWrite", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        zv::UniqueFile other(
            ::CreateFileW(path.c_str(), c.access, c.share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(other.valid()) << ::GetLastError();
        EXPECT_EQ(HashFile(path), c.hashable ? wholeFile : kZeros);
        EXPECT_EQ(HashCodeSection(path), c.hashable ? codeSection : kZeros);
    }
    // Once the other handles are gone, the same file hashes again.
    EXPECT_EQ(HashFile(path), wholeFile);
}

#endif

}  // namespace
