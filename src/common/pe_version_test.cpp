#include "common/pe_version.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <functional>
#include <string>

#include "file_bytes.h"
#include "pe_builder.h"
#include "scratch_directory.h"

namespace {

namespace fs = std::filesystem;
using zv::PeVersionRead;
using zv::test::Bytes;
using zv::test::PeImage;
using zv::test::VersionResource;

constexpr std::uint32_t kResourceRva = 0x3000;

// A program with the version resource of the resource compilers, which a case may change: the
// image (headers, sections) or the resource section's bytes at the offsets the builder names.
Bytes Build(const std::array<std::uint16_t, 4>& version,
            const std::function<void(PeImage&, VersionResource&)>& change = {}, bool otherTypesFirst = false,
            std::uint16_t machine = 0x8664) {
    PeImage image = zv::test::MakeImportingImage({"ZVClient.dll"}, machine);
    VersionResource resource = zv::test::MakeVersionResource(kResourceRva, version, otherTypesFirst);
    image.resourceRva = kResourceRva;
    image.resourceSize = static_cast<std::uint32_t>(resource.section.data.size());
    if (change) {
        change(image, resource);
    }
    image.sections.push_back(resource.section);
    return zv::test::BuildPe(image);
}

// Changes the resource section's bytes at offset.
std::function<void(PeImage&, VersionResource&)> Patch(std::uint32_t VersionResource::*part, std::uint32_t offset,
                                                      std::uint32_t value) {
    return [=](PeImage&, VersionResource& resource) {
        zv::test::Store32(resource.section.data, resource.*part + offset, value);
    };
}

zv::PeVersion ReadBytes(const Bytes& bytes) {
    const zv::test::ScratchDirectory scratch;
    const fs::path path = scratch.path() / "file.dll";
    zv::test::WriteFileBytes(path, bytes);
    return zv::ReadPeFileVersion(path.wstring());
}

TEST(ReadPeFileVersion, ReadsTheFileVersionOfTheFixedPart) {
    struct Case {
        const char* what;
        Bytes bytes;
        std::array<std::uint16_t, 4> expected;
    };
    const Case cases[] = {
        {"PE32+", Build({1, 2, 3, 4}), {1, 2, 3, 4}},
        {"PE32", Build({65535, 0, 7, 1}, {}, false, 0x014C), {65535, 0, 7, 1}},
        {"a named type and RT_ICON listed first", Build({2, 0, 0, 0}, {}, true), {2, 0, 0, 0}},
        // The version's record may be longer than its fixed part (the string tables follow it).
        {"a record with children",
         Build({3, 1, 4, 1},
               [](PeImage&, VersionResource& r) {
                   r.section.data.resize(r.section.data.size() + 64, 0);
                   zv::test::Store32(r.section.data, r.dataEntry + 4, 92 + 64);
                   r.section.data[r.record] = 92 + 64;
               }),
         {3, 1, 4, 1}},
    };
    for (const auto& c : cases) {
        const zv::PeVersion read = ReadBytes(c.bytes);
        EXPECT_EQ(read.read, PeVersionRead::Found) << c.what;
        EXPECT_EQ(read.version.parts, c.expected) << c.what;
    }
}

TEST(ReadPeFileVersion, TellsFilesWithoutAVersionFromBrokenOnes) {
    using R = VersionResource;
    struct Case {
        const char* what;
        Bytes bytes;
        PeVersionRead expected;
    };
    const std::string text = "not a program";
    const Case cases[] = {
        {"text", Bytes(text.begin(), text.end()), PeVersionRead::NotPe},
        {"no resource directory", zv::test::BuildPe(zv::test::MakeImportingImage({"ZVClient.dll"})),
         PeVersionRead::NoVersion},
        {"a header of two data directories",
         Build({1, 0, 0, 0}, [](PeImage& i, R&) { i.numberOfRvaAndSizes = 2; }), PeVersionRead::NoVersion},
        {"no RT_VERSION among the types", Build({1, 0, 0, 0}, Patch(&R::versionTypeEntry, 0, 3)),
         PeVersionRead::NoVersion},
        {"no VS_VERSION_INFO among the names", Build({1, 0, 0, 0}, Patch(&R::nameEntry, 0, 2)),
         PeVersionRead::NoVersion},
        {"a record without the fixed part",
         Build({1, 0, 0, 0}, [](PeImage&, R& r) { r.section.data[r.record + 2] = 0; }), PeVersionRead::NoVersion},

        {"a header of an unknown kind", Build({1, 0, 0, 0}, [](PeImage& i, R&) { i.optionalMagic = 0x0107; }),
         PeVersionRead::Malformed},
        {"a directory larger than its section",
         Build({1, 0, 0, 0}, [](PeImage& i, R& r) { i.resourceSize = static_cast<std::uint32_t>(r.section.data.size()) + 1; }),
         PeVersionRead::Malformed},
        {"a directory outside every section",
         Build({1, 0, 0, 0}, [](PeImage& i, R&) { i.resourceRva = 0x9000; }), PeVersionRead::Malformed},
        {"more entries than the directory holds",
         Build({1, 0, 0, 0}, [](PeImage&, R& r) { r.section.data[14] = 0xFF; r.section.data[15] = 0xFF; }),
         PeVersionRead::Malformed},
        {"a type that leads to data", Build({1, 0, 0, 0}, Patch(&R::versionTypeEntry, 4, 0x18)),
         PeVersionRead::Malformed},
        {"a subdirectory outside the directory", Build({1, 0, 0, 0}, Patch(&R::nameEntry, 4, 0x80001000)),
         PeVersionRead::Malformed},
        {"an id entry with a name", Build({1, 0, 0, 0}, Patch(&R::nameEntry, 0, 0x80000001)),
         PeVersionRead::Malformed},
        {"a language that leads to a directory", Build({1, 0, 0, 0}, Patch(&R::languageEntry, 4, 0x80000000)),
         PeVersionRead::Malformed},
        {"a record outside every section", Build({1, 0, 0, 0}, Patch(&R::dataEntry, 0, 0x9000)),
         PeVersionRead::Malformed},
        {"a record longer than its section", Build({1, 0, 0, 0}, Patch(&R::dataEntry, 4, 0x1000)),
         PeVersionRead::Malformed},
        {"a record shorter than its fixed part", Build({1, 0, 0, 0}, Patch(&R::dataEntry, 4, 60)),
         PeVersionRead::Malformed},
        {"a record that claims more than its data entry",
         Build({1, 0, 0, 0}, [](PeImage&, R& r) { r.section.data[r.record] = 200; }), PeVersionRead::Malformed},
        {"another key", Build({1, 0, 0, 0}, [](PeImage&, R& r) { r.section.data[r.record + 6] = 'W'; }),
         PeVersionRead::Malformed},
        {"a fixed part without its signature", Build({1, 0, 0, 0}, Patch(&R::record, 40, 0xFEEF04BE)),
         PeVersionRead::Malformed},
        {"cut inside the resource section",
         [] {
             Bytes bytes = Build({1, 0, 0, 0});
             bytes.resize(bytes.size() - 50);
             return bytes;
         }(),
         PeVersionRead::Malformed},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReadBytes(c.bytes).read, c.expected) << c.what;
    }
    const zv::test::ScratchDirectory scratch;
    EXPECT_EQ(zv::ReadPeFileVersion((scratch.path() / "missing.dll").wstring()).read, PeVersionRead::CannotRead);
}

}  // namespace
