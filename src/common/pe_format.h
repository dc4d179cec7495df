#pragma once

// The PE file format as the launcher and zvpublish read it: the little-endian fields, the format's
// numbers, the reading of the headers up to the section table, and the mapping of addresses to
// file offsets through that table. Two readers build on it:
//   - discovery (launch/client_target.cpp): is a file the client target, a PE file whose import
//     table names ZVClient.dll and nothing else;
//   - the code-section digest (integrity/file_digest.cpp): the SHA-1 of a PE file's code section,
//     the build key under which the update server keeps a game build's stub.
// They find the section table in different places, and each says which at its call: see
// ReadSectionTableAfterDeclaredOptionalHeader and ReadStandardOptionalHeaderAndSectionTable.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "common/read_only_file.h"

namespace zv::pe {

// Every field of a PE file is little-endian, whatever the host.
constexpr std::uint16_t Load16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

constexpr std::uint32_t Load32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// IMAGE_DOS_HEADER, at the start of the file.
inline constexpr std::uint32_t kDosHeaderSize = 64;
inline constexpr std::uint16_t kDosMagic = 0x5A4D;  // e_magic: "MZ"
inline constexpr std::uint32_t kLfanewOffset = 60;  // e_lfanew: where the PE signature lies

// The PE signature, and IMAGE_FILE_HEADER right after it.
inline constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
inline constexpr std::uint32_t kSignatureSize = 4;
inline constexpr std::uint32_t kFileHeaderSize = 20;
inline constexpr std::uint16_t kMachineI386 = 0x014C;   // IMAGE_FILE_MACHINE_I386
inline constexpr std::uint16_t kMachineAmd64 = 0x8664;  // IMAGE_FILE_MACHINE_AMD64
inline constexpr std::uint16_t kFileDll = 0x2000;       // IMAGE_FILE_DLL, in Characteristics

// The fields of IMAGE_FILE_HEADER that the readers use.
struct FileHeader {
    std::uint16_t machine = 0;
    std::uint16_t numberOfSections = 0;
    std::uint16_t sizeOfOptionalHeader = 0;
    std::uint16_t characteristics = 0;
};

// The optional header of each kind at its standard size (sixteen data directories), and where the
// fields discovery reads lie in it, counted from its start.
struct OptionalHeaderLayout {
    std::uint32_t size;
    std::uint16_t magic;
    std::uint32_t numberOfRvaAndSizes;
    std::uint32_t importDirectoryRva;  // DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress
};
inline constexpr OptionalHeaderLayout kPe32{224, 0x010B, 92, 104};       // IMAGE_OPTIONAL_HEADER32
inline constexpr OptionalHeaderLayout kPe32Plus{240, 0x020B, 108, 120};  // IMAGE_OPTIONAL_HEADER64

// Subsystem lies at the same place in both kinds of optional header.
inline constexpr std::uint32_t kSubsystemOffset = 68;
inline constexpr std::uint16_t kSubsystemWindowsGui = 2;  // IMAGE_SUBSYSTEM_WINDOWS_GUI
inline constexpr std::uint16_t kSubsystemWindowsCui = 3;  // IMAGE_SUBSYSTEM_WINDOWS_CUI: a console program

// The kind of optional header a program for machine has: PE32 for x86, PE32+ for x64; none for any
// other machine.
const OptionalHeaderLayout* OptionalHeaderLayoutFor(std::uint16_t machine);

// The fields of the optional header that discovery reads.
struct OptionalHeaderFields {
    std::uint16_t magic = 0;
    std::uint32_t numberOfRvaAndSizes = 0;
    std::uint32_t importDirectoryRva = 0;
};

// IMAGE_SECTION_HEADER: one record of the section table.
inline constexpr std::uint32_t kSectionHeaderSize = 40;
inline constexpr std::uint32_t kSectionContainsCode = 0x00000020;  // IMAGE_SCN_CNT_CODE

struct SectionHeader {
    // As stored: padded with zero bytes, and with no zero byte at all when the name fills all eight.
    std::array<char, 8> name{};
    std::uint32_t virtualSize = 0;
    std::uint32_t virtualAddress = 0;
    std::uint32_t sizeOfRawData = 0;
    std::uint32_t pointerToRawData = 0;
    std::uint32_t characteristics = 0;
};

// IMAGE_IMPORT_DESCRIPTOR: one record of the import table, which ends with a record whose Name is 0.
inline constexpr std::uint32_t kImportDescriptorSize = 20;
inline constexpr std::uint32_t kImportNameOffset = 12;  // Name: the RVA of the library's name

// The file offset of rva in the first section that holds it, in unsigned 32-bit arithmetic (the
// end of a section wraps like the loader's own arithmetic). Nothing when no section holds it, and
// nothing for offset 0, which is never where a record of interest can lie.
std::optional<std::uint32_t> RvaToFileOffset(std::span<const SectionHeader> sections, std::uint32_t rva);

// ---------------------------------------------------------------------------------------------
// Reading the headers from a file

enum class HeaderRead {
    Read,
    NotPe,      // no "MZ" header, e_lfanew cannot be followed, or no PE signature where it points
    Truncated,  // the signature is there but the file ends inside the file header, or the read fails
};

// Reads the DOS header at the start of a file just opened, follows e_lfanew and reads the PE
// signature and the file header behind it, in one read of 24 bytes. e_lfanew is a signed 32-bit
// field: a negative one fails to seek rather than wrapping far into the file, and none reaches
// 2^31. On Read, header is filled and the file stands where the optional header begins.
HeaderRead ReadFileHeader(ReadOnlyFile& file, FileHeader& header);

// Reads count records of a section table at the file's current position; false when the file ends
// inside them or a read fails.
bool ReadSectionTable(ReadOnlyFile& file, std::uint16_t count, std::vector<SectionHeader>& sections);

// Where the section table lies. The two readers differ on purpose, and each reading is fixed:
// what they find is shared with the world outside the launcher, so either reading once changed
// would disagree with what is already published and installed.

// The code-section digest's reading: the section table lies SizeOfOptionalHeader bytes after the
// file header, whatever kind and size the optional header has, as the Windows loader places it;
// the optional header itself is skipped, not read. The digest is the build key of a game build
// and names the build's folder on the update server: it covers the code the loader maps, and a key
// once published must stay the same for the same file. Follows ReadFileHeader; false when the file
// ends inside the table or a read fails.
bool ReadSectionTableAfterDeclaredOptionalHeader(ReadOnlyFile& file, const FileHeader& header,
                                                 std::vector<SectionHeader>& sections);

// Discovery's reading: the optional header is taken to be of layout's standard size (224 bytes for
// PE32, 240 for PE32+, chosen by the machine) and the section table to follow it directly;
// SizeOfOptionalHeader is not consulted. This is the launcher's rule for recognising the client
// target: launchers already installed apply it in players' folders, and zvpublish accepts a target
// by the same rule, so it stays what they apply. Reads the optional header and the table in one
// read. Follows ReadFileHeader; false when the file ends inside either or a read fails.
bool ReadStandardOptionalHeaderAndSectionTable(ReadOnlyFile& file, const FileHeader& header,
                                               const OptionalHeaderLayout& layout, OptionalHeaderFields& fields,
                                               std::vector<SectionHeader>& sections);

}  // namespace zv::pe
