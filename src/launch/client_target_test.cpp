#include "launch/client_target.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "discovery_test_support.h"
#include "file_bytes.h"
#include "pe_builder.h"
#include "scratch_directory.h"

#ifdef _WIN32
#include <windows.h>

#include "common/unique_handle.h"
#endif

namespace {

namespace fs = std::filesystem;
using zv::ClientTargetVerdict;
using zv::ExamineClientTarget;
using zv::IsClientTarget;
using zv::test::BuildPe;
using zv::test::Bytes;
using zv::test::DiscoveryPath;
using zv::test::MakeImportingImage;
using zv::test::PeImage;
using zv::test::PeSection;
using zv::test::ScratchDirectory;
using zv::test::SectionFileOffsets;
using zv::test::Store32;

constexpr std::uint16_t kAmd64 = 0x8664;
constexpr std::uint16_t kI386 = 0x014C;
constexpr std::uint16_t kArm64 = 0xAA64;
constexpr std::size_t kIdata = 1;  // MakeImportingImage's import section
using V = ClientTargetVerdict;

// ---------------------------------------------------------------------------------------------
// ExamineClientTarget and IsClientTarget on byte-level images

Bytes Importing(const std::vector<std::string>& libraries, std::uint16_t machine = kAmd64) {
    return BuildPe(MakeImportingImage(libraries, machine));
}

Bytes ClientImage(const std::function<void(PeImage&)>& edit, std::uint16_t machine = kAmd64) {
    PeImage image = MakeImportingImage({"ZVClient.dll"}, machine);
    edit(image);
    return BuildPe(image);
}

// An image whose import section holds the library name first (padded to 16 bytes) and the two
// descriptors after it, so that the file can end inside the second descriptor or the descriptors
// can be moved without moving the name.
constexpr std::uint32_t kNameFirstDescriptors = 16;
PeImage NameFirstImage() {
    PeImage image = MakeImportingImage({"ZVClient.dll"});
    auto& data = image.sections[kIdata].data;
    data.assign(kNameFirstDescriptors + 40, 0);
    const std::string name = "ZVClient.dll";
    std::copy(name.begin(), name.end(), data.begin());
    Store32(data, kNameFirstDescriptors + 12, image.sections[kIdata].virtualAddress);
    image.importRva = image.sections[kIdata].virtualAddress + kNameFirstDescriptors;
    return image;
}

Bytes Cut(Bytes bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

struct ImageCase {
    const char* what;
    std::function<Bytes()> make;
    ClientTargetVerdict verdict;
};

const std::vector<ImageCase>& ImageCases() {
    static const std::vector<ImageCase> cases = {
        {"PE32+ importing only the client library", [] { return Importing({"ZVClient.dll"}); }, V::Target},
        {"PE32 importing only the client library", [] { return Importing({"ZVClient.dll"}, kI386); }, V::Target},

        // The library name.
        {"name in lower case", [] { return Importing({"zvclient.dll"}); }, V::Target},
        {"name in upper case", [] { return Importing({"ZVCLIENT.DLL"}); }, V::Target},
        {"name followed by a zero byte and more bytes",
         [] { return Importing({std::string("ZVClient.dll\0KERNEL32.dll", 25)}); }, V::Target},
        {"a byte that is no letter never matches another case",
         [] {
             return Importing(
                 {"ZVClient\x0e"
                  "dll"});
         },
         V::ImportsOtherLibrary},
        {"name cut short", [] { return Importing({"ZVClient.dl"}); }, V::ImportsOtherLibrary},
        {"name with more after it", [] { return Importing({"ZVClient.dll.bak"}); }, V::ImportsOtherLibrary},
        {"name longer than 255 bytes", [] { return Importing({"ZVClient.dll" + std::string(300, 'x')}); },
         V::ImportsOtherLibrary},
        {"empty name", [] { return Importing({""}); }, V::BadImports},

        // The import table.
        {"client library, then KERNEL32.dll",
         [] {
             return Importing({"ZVClient.dll", "KERNEL32.dll"});
         },
         V::ImportsMoreLibraries},
        {"KERNEL32.dll, then the client library",
         [] {
             return Importing({"KERNEL32.dll", "ZVClient.dll"});
         },
         V::ImportsOtherLibrary},
        {"another library only", [] { return Importing({"KERNEL32.dll"}); }, V::ImportsOtherLibrary},
        {"no import directory", [] { return Importing({}); }, V::NoImports},
        {"import directory that opens with the closing descriptor",
         [] { return ClientImage([](PeImage& i) { Store32(i.sections[kIdata].data, 12, 0); }); }, V::NoImports},
        {"import directory outside every section", [] { return ClientImage([](PeImage& i) { i.importRva = 0x9000; }); },
         V::BadImports},
        {"library name outside every section",
         [] { return ClientImage([](PeImage& i) { Store32(i.sections[kIdata].data, 12, 0x9000); }); }, V::BadImports},
        {"library name first, descriptors after it", [] { return BuildPe(NameFirstImage()); }, V::Target},

        // Machines and optional headers.
        {"ARM64", [] { return ClientImage([](PeImage& i) { i.optionalMagic = 0x020B; }, kArm64); }, V::OtherMachine},
        {"x64 machine with a PE32 optional header",
         [] { return ClientImage([](PeImage& i) { i.optionalMagic = 0x010B; }); }, V::BadOptionalHeader},
        {"x86 machine with a PE32+ optional header",
         [] { return ClientImage([](PeImage& i) { i.optionalMagic = 0x020B; }, kI386); }, V::BadOptionalHeader},
        {"one data directory", [] { return ClientImage([](PeImage& i) { i.numberOfRvaAndSizes = 1; }); },
         V::BadOptionalHeader},
        {"two data directories", [] { return ClientImage([](PeImage& i) { i.numberOfRvaAndSizes = 2; }); }, V::Target},
        {"PE32 with one data directory",
         [] { return ClientImage([](PeImage& i) { i.numberOfRvaAndSizes = 1; }, kI386); }, V::BadOptionalHeader},
        // SizeOfOptionalHeader is not consulted: the section table is taken to follow a standard
        // optional header of 224 (PE32) or 240 (PE32+) bytes.
        {"SizeOfOptionalHeader 0", [] { return ClientImage([](PeImage& i) { i.sizeOfOptionalHeaderField = 0; }); },
         V::Target},
        {"SizeOfOptionalHeader 224 in a PE32+",
         [] { return ClientImage([](PeImage& i) { i.sizeOfOptionalHeaderField = 224; }); }, V::Target},
        {"SizeOfOptionalHeader 0xFFFF in a PE32",
         [] { return ClientImage([](PeImage& i) { i.sizeOfOptionalHeaderField = 0xFFFF; }, kI386); }, V::Target},
        {"optional header really 16 bytes longer: the table is read from 240 bytes on",
         [] { return ClientImage([](PeImage& i) { i.optionalHeaderBytes = 256; }); }, V::BadImports},
        {"no sections", [] { return ClientImage([](PeImage& i) { i.sections.clear(); }); }, V::BadImports},
        {"more sections claimed than the file holds",
         [] { return ClientImage([](PeImage& i) { i.numberOfSectionsField = 400; }); }, V::Truncated},

        // Not PE files at all.
        {"empty file", [] { return Bytes{}; }, V::NotPe},
        {"text file", [] { return Text("This is not a program.\r\n"); }, V::NotPe},
        {"just \"MZ\"", [] { return Text("MZ"); }, V::NotPe},
        {"16-bit MZ program (e_lfanew 0)",
         [] {
             PeImage image;
             image.lfanew = 0;
             Bytes bytes = BuildPe(image);
             bytes.resize(512, 0x90);
             return bytes;
         },
         V::NotPe},
        {"16-bit Windows program (NE signature)", [] { return ClientImage([](PeImage& i) { i.signature = 0x454E; }); },
         V::NotPe},
        {"no MZ", [] { return ClientImage([](PeImage& i) { i.dosMagic = 0x4D5A; }); }, V::NotPe},
        {"e_lfanew negative",
         [] {
             PeImage image;
             image.lfanew = INT32_MIN;
             return BuildPe(image);
         },
         V::NotPe},
        {"e_lfanew past the end of the file",
         [] {
             Bytes bytes = Importing({"ZVClient.dll"});
             Store32(bytes, 60, 0x10000);
             return bytes;
         },
         V::NotPe},
    };
    return cases;
}

void ExpectVerdicts(const std::vector<ImageCase>& cases) {
    ScratchDirectory scratch;
    for (const auto& c : cases) {
        const fs::path file = scratch.path() / "Candidate.exe";
        zv::test::WriteFileBytes(file, c.make());
        EXPECT_EQ(ExamineClientTarget(DiscoveryPath(file)).verdict, c.verdict) << c.what;
        EXPECT_EQ(IsClientTarget(DiscoveryPath(file)), c.verdict == V::Target) << c.what;
    }
}

TEST(IsClientTarget, AcceptsOnlyAnImportTableNamingTheClientLibraryAlone) { ExpectVerdicts(ImageCases()); }

// What the examination reports besides its verdict, for a publisher's error messages.
TEST(ExamineClientTarget, ReportsTheMachineAndTheFirstLibraryAsStored) {
    struct DetailCase {
        const char* what;
        Bytes bytes;
        std::uint16_t machine;
        std::string firstLibrary;
    };
    const DetailCase cases[] = {
        {"ARM64: nothing past the file header is read",
         ClientImage([](PeImage& i) { i.optionalMagic = 0x020B; }, kArm64), kArm64, ""},
        {"another library first", Importing({"KERNEL32.dll", "ZVClient.dll"}, kI386), kI386, "KERNEL32.dll"},
        {"the client library in its stored case", Importing({"zvclient.dll"}), kAmd64, "zvclient.dll"},
        {"only up to the first zero byte", Importing({std::string("ZVClient.dll\0more", 17)}), kAmd64, "ZVClient.dll"},
    };
    ScratchDirectory scratch;
    for (const auto& c : cases) {
        const fs::path file = scratch.path() / "Candidate.exe";
        zv::test::WriteFileBytes(file, c.bytes);
        const auto examination = ExamineClientTarget(DiscoveryPath(file));
        EXPECT_EQ(examination.machine, c.machine) << c.what;
        EXPECT_EQ(examination.firstLibrary, c.firstLibrary) << c.what;
    }
}

// Each record must be read whole: a file that ends inside one is passed over, wherever that is.
TEST(IsClientTarget, PassesOverFilesThatEndInsideARecord) {
    const PeImage image = MakeImportingImage({"ZVClient.dll"});
    const Bytes whole = BuildPe(image);
    const std::size_t fileHeader = static_cast<std::size_t>(image.lfanew) + 4;
    const std::size_t sectionTable = fileHeader + 20 + 240;
    const std::size_t descriptors = SectionFileOffsets(image)[kIdata];
    const std::size_t name = descriptors + 40;  // two descriptors, then the name

    const PeImage nameFirst = NameFirstImage();
    const Bytes nameFirstWhole = BuildPe(nameFirst);
    const std::size_t secondDescriptor = SectionFileOffsets(nameFirst)[kIdata] + kNameFirstDescriptors + 20;

    const std::vector<ImageCase> cases = {
        {"inside the DOS header", [&] { return Cut(whole, 63); }, V::NotPe},
        {"inside the signature", [&] { return Cut(whole, fileHeader - 2); }, V::NotPe},
        {"inside the file header", [&] { return Cut(whole, fileHeader + 10); }, V::Truncated},
        {"inside the optional header", [&] { return Cut(whole, fileHeader + 20 + 200); }, V::Truncated},
        {"inside the section table", [&] { return Cut(whole, sectionTable + 40 + 39); }, V::Truncated},
        {"inside the first import descriptor", [&] { return Cut(whole, descriptors + 19); }, V::Truncated},
        {"at the start of the library name", [&] { return Cut(whole, name); }, V::Truncated},
        {"inside the library name", [&] { return Cut(whole, name + 5); }, V::Truncated},
        // Up to 255 bytes are read and a zero put after them: the name needs no zero of its own.
        {"right after the library name, before its zero", [&] { return Cut(whole, name + 12); }, V::Target},
        {"inside the second import descriptor", [&] { return Cut(nameFirstWhole, secondDescriptor + 19); },
         V::Truncated},
        {"right after the second import descriptor", [&] { return Cut(nameFirstWhole, secondDescriptor + 20); },
         V::Target},
    };
    ExpectVerdicts(cases);
}

// File positions are signed 32-bit distances from the start: a record that begins at or beyond
// 2^31 is out of reach, however large the file. The files are sparse: only their headers and the
// import section take space on disk.
TEST(IsClientTarget, CannotReachRecordsFrom2GiBOn) {
    struct FarCase {
        const char* what;
        bool nameFirst;  // NameFirstImage's import section, or MakeImportingImage's (name last)
        std::uint32_t importSectionOffset;
        ClientTargetVerdict verdict;
    };
    constexpr std::uint32_t k2GiB = 0x80000000;
    constexpr std::uint32_t kNameAfterDescriptors = 40;
    constexpr std::uint32_t kSecondDescriptor = kNameFirstDescriptors + 20;
    const FarCase cases[] = {
        {"import section below 2 GiB", true, 0x7FFFF000, V::Target},
        {"library name starting at 2^31 - 1", false, k2GiB - 1 - kNameAfterDescriptors, V::Target},
        {"library name starting at 2^31", false, k2GiB - kNameAfterDescriptors, V::BadImports},
        {"first descriptor starting at 2^31", true, k2GiB - kNameFirstDescriptors, V::BadImports},
        {"second descriptor starting at 2^31 - 1", true, k2GiB - 1 - kSecondDescriptor, V::Target},
        {"second descriptor starting at 2^31", true, k2GiB - kSecondDescriptor, V::BadImports},
    };
    ScratchDirectory scratch;
    for (const auto& c : cases) {
        PeImage image = c.nameFirst ? NameFirstImage() : MakeImportingImage({"ZVClient.dll"});
        PeSection& idata = image.sections[kIdata];
        const Bytes data = idata.data;
        idata.data.clear();
        idata.virtualSize = static_cast<std::uint32_t>(data.size());
        idata.sizeOfRawData = static_cast<std::uint32_t>(data.size());
        idata.pointerToRawData = c.importSectionOffset;

        const fs::path file = scratch.path() / "Far.exe";
        zv::test::WriteFileBytes(file, BuildPe(image));
        {
            std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
            stream.seekp(static_cast<std::streamoff>(c.importSectionOffset));
            stream.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
            ASSERT_TRUE(stream.good()) << c.what;
        }
        EXPECT_EQ(ExamineClientTarget(DiscoveryPath(file)).verdict, c.verdict) << c.what;
        EXPECT_EQ(IsClientTarget(DiscoveryPath(file)), c.verdict == V::Target) << c.what;
        fs::remove(file);
    }
}

// ---------------------------------------------------------------------------------------------
// IsClientTarget on real programs, built by the test build with mingw-w64

TEST(IsClientTarget, ReadsTheImportTablesOfRealPrograms) {
    struct RealCase {
        const char* file;
        ClientTargetVerdict verdict;
    };
    const RealCase cases[] = {
        {"Game.exe", V::Target},                 // x64, imports ZVClient.dll alone
        {"Game32.exe", V::Target},               // x86, the same
        {"GameLowerCaseImport.exe", V::Target},  // imports "zvclient.dll"
        {"ClientThenKernel32.exe", V::ImportsMoreLibraries},
        {"Kernel32ThenClient.exe", V::ImportsOtherLibrary},
        {"ZVClient.dll", V::ImportsOtherLibrary},  // the stub itself imports the system's libraries
    };
    std::vector<std::string> missing;
    for (const auto& c : cases) {
        const auto path = zv::test::RealFixture(c.file);
        if (!path) {
            missing.push_back(c.file);
            continue;
        }
        EXPECT_EQ(ExamineClientTarget(DiscoveryPath(*path)).verdict, c.verdict) << c.file;
        EXPECT_EQ(IsClientTarget(DiscoveryPath(*path)), c.verdict == V::Target) << c.file;
    }
    if (!missing.empty()) {
        std::string list;
        for (const auto& name : missing) {
            list += " " + name;
        }
        GTEST_SKIP() << "no mingw-w64 fixtures (is ZV_BINARY_DIR set, and mingw-w64 installed?) for:" << list;
    }
}

TEST(IsClientTarget, PassesOverAPathThatIsNoFile) {
    ScratchDirectory scratch;
    fs::create_directory(scratch.path() / "Folder.exe");
    for (const std::wstring& path : {DiscoveryPath(scratch.path() / "Folder.exe"),
                                     DiscoveryPath(scratch.path() / "Missing.exe"), std::wstring()}) {
        EXPECT_FALSE(IsClientTarget(path));
        EXPECT_EQ(ExamineClientTarget(path).verdict, V::CannotOpen);
    }
}

#ifdef _WIN32
// Candidates are opened with FILE_SHARE_READ alone: a file another handle holds open for writing
// cannot be examined and is passed over. (A build without Windows has no share modes.)
TEST(IsClientTarget, PassesOverAFileSomeoneIsWriting) {
    ScratchDirectory scratch;
    const fs::path file = scratch.path() / "Game.exe";
    zv::test::WriteFileBytes(file, Importing({"ZVClient.dll"}));
    const std::wstring path = DiscoveryPath(file);
    {
        zv::UniqueFile writer(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(writer);
        EXPECT_FALSE(IsClientTarget(path));
        EXPECT_EQ(ExamineClientTarget(path).verdict, V::CannotOpen);
    }
    EXPECT_TRUE(IsClientTarget(path));
}
#endif

}  // namespace
