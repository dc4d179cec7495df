#pragma once

// Byte-level PE/COFF fixtures for what a compiler will not make: odd machines, broken headers,
// import tables and section tables arranged on purpose. The images are for the parsers only; they
// are not loadable programs.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bytes.h"

namespace zv::test {

inline constexpr std::uint32_t kSectionCode = 0x00000020;         // IMAGE_SCN_CNT_CODE
inline constexpr std::uint32_t kSectionInitData = 0x00000040;     // IMAGE_SCN_CNT_INITIALIZED_DATA
inline constexpr std::uint32_t kSectionExecuteRead = 0x60000000;  // MEM_EXECUTE | MEM_READ

struct PeSection {
    // Up to eight bytes, written as they are and padded with zero bytes.
    std::string name;
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t characteristics = kSectionInitData;
    // Written at pointerToRawData; sizeOfRawData defaults to its size.
    Bytes data;
    std::optional<std::uint32_t> sizeOfRawData;
    // Defaults to the next free 512-byte boundary after the headers and earlier sections.
    std::optional<std::uint32_t> pointerToRawData;
};

struct PeImage {
    std::int32_t lfanew = 0x80;
    std::uint16_t dosMagic = 0x5A4D;
    std::uint32_t signature = 0x00004550;
    std::uint16_t machine = 0x8664;
    // The file header's Characteristics: an executable image, large-address aware; add 0x2000
    // (IMAGE_FILE_DLL) for a library.
    std::uint16_t characteristics = 0x0022;
    // The optional header's Subsystem: 0 (unknown) unless set; 2 is a GUI program, 3 a console one.
    std::uint16_t subsystem = 0;
    // Defaults: 0x020B for 0x8664, otherwise 0x010B.
    std::optional<std::uint16_t> optionalMagic;
    std::uint32_t numberOfRvaAndSizes = 16;
    std::uint32_t importRva = 0;
    // The resource directory (data directory 2), written when the optional header has room for it.
    std::uint32_t resourceRva = 0;
    std::uint32_t resourceSize = 0;
    // Bytes actually taken by the optional header: defaults to 240 (PE32+) or 224 (PE32).
    std::optional<std::uint16_t> optionalHeaderBytes;
    // What the file header claims; defaults to optionalHeaderBytes.
    std::optional<std::uint16_t> sizeOfOptionalHeaderField;
    // What the file header claims; defaults to the number of sections.
    std::optional<std::uint16_t> numberOfSectionsField;
    std::vector<PeSection> sections;
    // Appended after everything else (an overlay, a signature).
    Bytes trailer;

    [[nodiscard]] bool pe32plus() const { return OptionalMagic() == 0x020B; }
    [[nodiscard]] std::uint16_t OptionalMagic() const {
        return optionalMagic.value_or(machine == 0x8664 ? 0x020B : 0x010B);
    }
};

// Lays the image out: DOS header, signature at lfanew, file header, optional header, section
// table, section data. Sections without an explicit place follow each other on 512-byte
// boundaries.
Bytes BuildPe(const PeImage& image);

// Where BuildPe puts each section's data.
std::vector<std::uint32_t> SectionFileOffsets(const PeImage& image);

// An image with a ".text" code section holding code, and an ".idata" section whose import table
// names the given libraries in order (each name written as given, then a zero byte).
// machine 0x8664 makes PE32+, 0x014C PE32.
PeImage MakeImportingImage(const std::vector<std::string>& libraries, std::uint16_t machine = 0x8664,
                           const Bytes& code = Bytes(64, 0xC3));

// A resource section at rva holding a version resource as resource compilers lay it out: the root
// directory, the type RT_VERSION (16), the name VS_VERSION_INFO (1), the language 0x0409, its data
// entry, and the record VS_VERSIONINFO with the key and VS_FIXEDFILEINFO of fileVersion (nothing
// after it). With otherTypesFirst, the root lists a named type and RT_ICON (3) before RT_VERSION,
// each leading to an empty directory. The offsets, in the section's data, are those of the parts a
// test may break.
struct VersionResource {
    PeSection section;
    std::uint32_t versionTypeEntry = 0;  // the root's entry for RT_VERSION: Name, OffsetToData
    std::uint32_t nameEntry = 0;         // the entry for VS_VERSION_INFO
    std::uint32_t languageEntry = 0;
    std::uint32_t dataEntry = 0;  // IMAGE_RESOURCE_DATA_ENTRY: the record's address and size
    std::uint32_t record = 0;     // VS_VERSIONINFO; its VS_FIXEDFILEINFO begins 40 bytes in
};
VersionResource MakeVersionResource(std::uint32_t rva, const std::array<std::uint16_t, 4>& fileVersion,
                                    bool otherTypesFirst = false);

// The image with a version resource of fileVersion in a ".rsrc" section after its others.
void AddVersionResource(PeImage& image, const std::array<std::uint16_t, 4>& fileVersion);

// One resource of a resource section: its type id, its name (a text, or an id when the text is
// empty), and its data.
struct PeResourceEntry {
    std::uint16_t type = 0;
    std::u16string name;
    std::uint16_t id = 0;
    Bytes data;
};

// A resource section at rva as resource compilers lay it out: the root directory of the types by
// id, for each type a directory of its names (the named ones first, by name, then those with an
// id), for each name a directory of one language (0x0409) leading to a data entry; then the name
// texts, the data entries and the data, each on a four-byte boundary. The offsets, in the
// section's data, are those of the parts a test may break, in the order of entries.
struct ResourceSection {
    PeSection section;
    std::vector<std::uint32_t> nameDirectories;  // the directory of names of each entry's type
    std::vector<std::uint32_t> nameEntries;      // each entry's Name and OffsetToData there
    std::vector<std::uint32_t> nameTexts;        // each named entry's length and text; 0 for an id
    std::vector<std::uint32_t> dataEntries;      // each entry's IMAGE_RESOURCE_DATA_ENTRY
};
ResourceSection MakeResourceSection(std::uint32_t rva, std::vector<PeResourceEntry> entries);

// The image with these resources in a ".rsrc" section after its others.
void AddResources(PeImage& image, const std::vector<PeResourceEntry>& entries);

// A VS_VERSIONINFO record of fileVersion as MakeVersionResource writes it: the key and
// VS_FIXEDFILEINFO, nothing after them.
Bytes VersionRecord(const std::array<std::uint16_t, 4>& fileVersion);

// Writes value little-endian at byte offset at, growing bytes as needed (for patching a field of an
// image or a section's data by hand).
void Store32(Bytes& bytes, std::size_t at, std::uint32_t value);

}  // namespace zv::test
