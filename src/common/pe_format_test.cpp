#include "common/pe_format.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/read_only_file.h"
#include "file_bytes.h"
#include "pe_builder.h"
#include "scratch_directory.h"

#ifndef _WIN32
#include "common/native_path.h"
#endif

namespace {

namespace fs = std::filesystem;
using zv::pe::RvaToFileOffset;
using zv::pe::SectionHeader;
using zv::test::PeImage;
using zv::test::PeSection;

// ---------------------------------------------------------------------------------------------
// RvaToFileOffset

SectionHeader Mapping(std::uint32_t virtualSize, std::uint32_t virtualAddress, std::uint32_t pointerToRawData) {
    SectionHeader section;
    section.virtualSize = virtualSize;
    section.virtualAddress = virtualAddress;
    section.pointerToRawData = pointerToRawData;
    return section;
}

const SectionHeader kSections[] = {
    // virtualSize, virtualAddress, pointerToRawData
    Mapping(0x1000, 0x1000, 0x400),      Mapping(0x0200, 0x2000, 0x1400),
    Mapping(0x1000, 0x2000, 0x9000),      // overlaps the one before; only what that one lacks maps here
    Mapping(0x0100, 0x6000, 0x0),         // raw data at offset 0
    Mapping(0x1000, 0x7000, 0xFFFFFF00),  // offsets run past 2^32
    Mapping(0x2000, 0xFFFFF000, 0x600),   // its end wraps round to 0x1000, so it holds nothing
};

struct RvaCase {
    const char* what;
    std::uint32_t rva;
    std::optional<std::uint32_t> offset;
};

const RvaCase kRvaCases[] = {
    {"below every section", 0x0FFF, std::nullopt},
    {"first byte of a section", 0x1000, 0x400},
    {"last byte of a section", 0x1FFF, 0x13FF},
    {"held by two sections: the first in the table wins", 0x2000, 0x1400},
    {"past the first section's end, inside the overlapping one", 0x2200, 0x9200},
    {"between sections", 0x5000, std::nullopt},
    {"maps to offset 0", 0x6000, std::nullopt},
    {"maps to offset 1", 0x6001, 0x1},
    {"offset wraps round to exactly 0", 0x7100, std::nullopt},
    {"offset wraps round past 2^32", 0x7180, 0x80},
    {"inside a section whose end wraps", 0xFFFFF800, std::nullopt},
};

TEST(RvaToFileOffset, MapsThroughTheFirstSectionThatHoldsTheAddress) {
    for (const auto& c : kRvaCases) {
        EXPECT_EQ(RvaToFileOffset(kSections, c.rva), c.offset) << c.what;
    }
    EXPECT_EQ(RvaToFileOffset({}, 0x1000), std::nullopt) << "no sections";
}

// ---------------------------------------------------------------------------------------------
// The two readings of the section table

// A file in a fresh folder of the temporary folder, removed with the folder afterwards.
class ScratchFile {
public:
    // Writes bytes to the file and gives its path in the launcher's wide form.
    std::wstring Write(const zv::test::Bytes& bytes) const {
        const fs::path path = folder_.path() / "image.exe";
        zv::test::WriteFileBytes(path, bytes);
#ifdef _WIN32
        return path.wstring();
#else
        return zv::FromNativePath(path.native());
#endif
    }

private:
    zv::test::ScratchDirectory folder_;
};

// What a reading finds where it looks for the section table.
enum class Finds { TheTable, OtherBytes, Nothing };

Finds Judge(bool read, const std::vector<SectionHeader>& sections) {
    if (!read) {
        return Finds::Nothing;
    }
    const bool named = sections.size() == 2 && std::string(sections[0].name.data(), 5) == ".text" &&
                       std::string(sections[1].name.data(), 5) == ".data";
    return named ? Finds::TheTable : Finds::OtherBytes;
}

// The code-section digest looks behind SizeOfOptionalHeader bytes, discovery behind the standard
// size of the machine's optional header; only where the two agree do both find the table.
TEST(SectionTable, EachReadingLooksWhereItSays) {
    struct Case {
        const char* what;
        std::uint16_t machine;
        std::optional<std::uint16_t> optionalHeaderBytes;
        std::optional<std::uint16_t> sizeOfOptionalHeaderField;
        Finds declared;
        Finds standard;
    };
    using enum Finds;
    const Case cases[] = {
        {"PE32+ of the standard size", 0x8664, std::nullopt, std::nullopt, TheTable, TheTable},
        {"PE32 of the standard size", 0x014C, std::nullopt, std::nullopt, TheTable, TheTable},
        {"optional header 16 bytes longer, and declared so", 0x8664, 256, std::nullopt, TheTable, OtherBytes},
        {"SizeOfOptionalHeader 0 before a standard optional header", 0x8664, std::nullopt, 0, OtherBytes, TheTable},
        {"SizeOfOptionalHeader past the end of the file", 0x8664, std::nullopt, 0xFFFF, Nothing, TheTable},
    };
    ScratchFile scratch;
    for (const auto& c : cases) {
        PeImage image;
        image.machine = c.machine;
        image.optionalHeaderBytes = c.optionalHeaderBytes;
        image.sizeOfOptionalHeaderField = c.sizeOfOptionalHeaderField;
        for (const char* name : {".text", ".data"}) {
            PeSection section;
            section.name = name;
            section.data = zv::test::Bytes(16, 0xCC);
            image.sections.push_back(section);
        }
        const std::wstring path = scratch.Write(zv::test::BuildPe(image));

        zv::ReadOnlyFile declaredFile(path);
        zv::pe::FileHeader header;
        ASSERT_EQ(zv::pe::ReadFileHeader(declaredFile, header), zv::pe::HeaderRead::Read) << c.what;
        std::vector<SectionHeader> declared;
        const bool declaredRead = zv::pe::ReadSectionTableAfterDeclaredOptionalHeader(declaredFile, header, declared);
        EXPECT_EQ(Judge(declaredRead, declared), c.declared) << c.what << ": after SizeOfOptionalHeader";

        zv::ReadOnlyFile standardFile(path);
        ASSERT_EQ(zv::pe::ReadFileHeader(standardFile, header), zv::pe::HeaderRead::Read) << c.what;
        const zv::pe::OptionalHeaderLayout* layout = zv::pe::OptionalHeaderLayoutFor(header.machine);
        ASSERT_NE(layout, nullptr) << c.what;
        zv::pe::OptionalHeaderFields fields;
        std::vector<SectionHeader> standard;
        const bool standardRead =
            zv::pe::ReadStandardOptionalHeaderAndSectionTable(standardFile, header, *layout, fields, standard);
        EXPECT_EQ(Judge(standardRead, standard), c.standard) << c.what << ": after the standard size";
        EXPECT_EQ(fields.magic, layout->magic) << c.what;
    }
}

}  // namespace
