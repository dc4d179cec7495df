#include "common/pe_version.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "common/pe_format.h"
#include "common/read_only_file.h"

namespace zv {

namespace {

using pe::Load16;
using pe::Load32;

// IMAGE_DATA_DIRECTORY: VirtualAddress and Size. The resource directory is entry 2, right after the
// import directory (entry 1), whose place each optional header layout names.
constexpr std::uint32_t kDataDirectorySize = 8;
constexpr std::uint32_t kResourceDirectoryIndex = 2;

// IMAGE_RESOURCE_DIRECTORY (NumberOfNamedEntries at 12, NumberOfIdEntries at 14), followed by its
// entries: the named ones first, then those with an id, by id. An entry is Name (an id when the
// high bit is clear) and OffsetToData (a subdirectory when the high bit is set, else a data entry),
// both counted from the start of the resource directory.
constexpr std::uint32_t kDirectoryHeaderSize = 16;
constexpr std::uint32_t kEntrySize = 8;
constexpr std::uint32_t kHighBit = 0x80000000;
// IMAGE_RESOURCE_DATA_ENTRY: OffsetToData (an address, not an offset in the directory) and Size.
constexpr std::uint32_t kDataEntrySize = 16;

constexpr std::uint32_t kRtVersion = 16;     // RT_VERSION
constexpr std::uint32_t kVsVersionInfo = 1;  // VS_VERSION_INFO

// VS_VERSIONINFO: wLength, wValueLength, wType, the key in UTF-16 with its zero, padding to a
// multiple of four, then the value, VS_FIXEDFILEINFO.
constexpr std::uint32_t kKeyOffset = 6;
constexpr char16_t kKey[] = u"VS_VERSION_INFO";
constexpr std::uint32_t kFixedInfoOffset = 40;
constexpr std::uint32_t kFixedInfoSize = 52;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr std::uint32_t kFileVersionMsOffset = 8;  // in VS_FIXEDFILEINFO, after dwSignature, dwStrucVersion
constexpr std::uint32_t kRecordStart = kFixedInfoOffset + kFixedInfoSize;

// The file offset of the size bytes at rva: the first section whose extent holds rva decides, as
// the loader's mapping does, and the bytes must lie whole in its raw data. Nothing otherwise.
std::optional<std::uint64_t> FileOffsetOf(std::span<const pe::SectionHeader> sections, std::uint32_t rva,
                                          std::uint32_t size) {
    for (const pe::SectionHeader& section : sections) {
        if (rva < section.virtualAddress) {
            continue;
        }
        const std::uint64_t into = std::uint64_t{rva} - section.virtualAddress;
        if (into >= std::max(section.virtualSize, section.sizeOfRawData)) {
            continue;
        }
        if (into + size > section.sizeOfRawData) {
            return std::nullopt;
        }
        return std::uint64_t{section.pointerToRawData} + into;
    }
    return std::nullopt;
}

// offset is below 2^33: a 32-bit file offset plus a 32-bit distance.
bool ReadAt(ReadOnlyFile& file, std::uint64_t offset, void* buffer, std::uint32_t count) {
    return file.SeekFromStart(static_cast<std::int64_t>(offset)) && file.ReadExactly(buffer, count);
}

// The resource directory as it lies in the file; every read stays inside it.
class ResourceDirectory {
public:
    ResourceDirectory(ReadOnlyFile& file, std::uint64_t fileOffset, std::uint32_t size)
        : file_(file), fileOffset_(fileOffset), size_(size) {}

    bool Read(std::uint64_t offset, void* buffer, std::uint32_t count) {
        return offset + count <= size_ && ReadAt(file_, fileOffset_ + offset, buffer, count);
    }

private:
    ReadOnlyFile& file_;
    std::uint64_t fileOffset_;
    std::uint32_t size_;
};

enum class Lookup { Found, Missing, Malformed };

// The OffsetToData of the entry with id in the directory at offset; with no id, of the first entry
// with an id.
Lookup FindEntry(ResourceDirectory& directory, std::uint32_t offset, std::optional<std::uint32_t> id,
                 std::uint32_t& target) {
    std::array<std::uint8_t, kDirectoryHeaderSize> header{};
    if (!directory.Read(offset, header.data(), kDirectoryHeaderSize)) {
        return Lookup::Malformed;
    }
    const std::uint32_t named = Load16(&header[12]);
    const std::uint32_t ids = Load16(&header[14]);
    // At most 65535 entries of 8 bytes, inside a directory that Read has checked them against.
    std::vector<std::uint8_t> entries(std::size_t{ids} * kEntrySize);
    if (!directory.Read(std::uint64_t{offset} + kDirectoryHeaderSize + std::uint64_t{named} * kEntrySize,
                        entries.data(), static_cast<std::uint32_t>(entries.size()))) {
        return Lookup::Malformed;
    }
    for (std::uint32_t i = 0; i < ids; ++i) {
        const std::uint32_t name = Load32(&entries[std::size_t{i} * kEntrySize]);
        if ((name & kHighBit) != 0 || name > 0xFFFF) {
            return Lookup::Malformed;  // an entry among those with an id that has none
        }
        if (!id || name == *id) {
            target = Load32(&entries[std::size_t{i} * kEntrySize + 4]);
            return Lookup::Found;
        }
    }
    return Lookup::Missing;
}

PeVersionRead Verdict(Lookup lookup) {
    return lookup == Lookup::Missing ? PeVersionRead::NoVersion : PeVersionRead::Malformed;
}

// Through the type and the name to the language's data entry: the version record's address and
// length.
PeVersionRead FindVersionRecord(ResourceDirectory& directory, std::uint32_t& rva, std::uint32_t& size) {
    std::uint32_t offset = 0;
    for (const std::optional<std::uint32_t> id : {std::optional(kRtVersion), std::optional(kVsVersionInfo)}) {
        std::uint32_t target = 0;
        if (const Lookup lookup = FindEntry(directory, offset, id, target); lookup != Lookup::Found) {
            return Verdict(lookup);
        }
        if ((target & kHighBit) == 0) {
            return PeVersionRead::Malformed;  // a type or a name must lead to a directory
        }
        offset = target & ~kHighBit;
    }
    std::uint32_t dataEntry = 0;
    if (const Lookup lookup = FindEntry(directory, offset, std::nullopt, dataEntry); lookup != Lookup::Found) {
        return Verdict(lookup);
    }
    std::array<std::uint8_t, kDataEntrySize> entry{};
    if ((dataEntry & kHighBit) != 0 || !directory.Read(dataEntry, entry.data(), kDataEntrySize)) {
        return PeVersionRead::Malformed;  // a language must lead to data
    }
    rva = Load32(&entry[0]);
    size = Load32(&entry[4]);
    return PeVersionRead::Found;
}

PeVersionRead ReadFixedFileInfo(ReadOnlyFile& file, std::span<const pe::SectionHeader> sections, std::uint32_t rva,
                                std::uint32_t size, Version& version) {
    const std::optional<std::uint64_t> at = FileOffsetOf(sections, rva, size);
    std::array<std::uint8_t, kRecordStart> record{};
    if (!at || size < kRecordStart || !ReadAt(file, *at, record.data(), kRecordStart)) {
        return PeVersionRead::Malformed;
    }
    const std::uint16_t length = Load16(&record[0]);
    const std::uint16_t valueLength = Load16(&record[2]);
    const std::uint16_t type = Load16(&record[4]);
    if (valueLength == 0) {
        return PeVersionRead::NoVersion;
    }
    if (length < kRecordStart || length > size || valueLength != kFixedInfoSize || type != 0) {
        return PeVersionRead::Malformed;
    }
    for (std::size_t i = 0; i < std::size(kKey); ++i) {
        if (Load16(&record[kKeyOffset + 2 * i]) != kKey[i]) {
            return PeVersionRead::Malformed;
        }
    }
    const std::uint8_t* fixed = &record[kFixedInfoOffset];
    if (Load32(fixed) != kFixedInfoSignature) {
        return PeVersionRead::Malformed;
    }
    const std::uint32_t ms = Load32(fixed + kFileVersionMsOffset);
    const std::uint32_t ls = Load32(fixed + kFileVersionMsOffset + 4);
    version.parts = {static_cast<std::uint16_t>(ms >> 16), static_cast<std::uint16_t>(ms),
                     static_cast<std::uint16_t>(ls >> 16), static_cast<std::uint16_t>(ls)};
    return PeVersionRead::Found;
}

}  // namespace

PeVersion ReadPeFileVersion(const std::wstring& path) {
    PeVersion result;
    ReadOnlyFile file(path);
    if (!file.IsOpen()) {
        result.read = PeVersionRead::CannotRead;
        return result;
    }
    pe::FileHeader header;
    switch (pe::ReadFileHeader(file, header)) {
        case pe::HeaderRead::Read:
            break;
        case pe::HeaderRead::NotPe:
            result.read = PeVersionRead::NotPe;
            return result;
        case pe::HeaderRead::Truncated:
            result.read = PeVersionRead::Malformed;
            return result;
    }
    // The optional header as it is declared, whichever machine: its magic says its layout.
    std::vector<std::uint8_t> optional(header.sizeOfOptionalHeader);
    result.read = PeVersionRead::Malformed;
    if (optional.size() < 2 || !file.ReadExactly(optional.data(), static_cast<std::uint32_t>(optional.size()))) {
        return result;
    }
    const std::uint16_t magic = Load16(optional.data());
    const pe::OptionalHeaderLayout* layout = magic == pe::kPe32.magic       ? &pe::kPe32
                                             : magic == pe::kPe32Plus.magic ? &pe::kPe32Plus
                                                                            : nullptr;
    if (layout == nullptr) {
        return result;
    }
    const std::uint32_t entry = layout->importDirectoryRva + (kResourceDirectoryIndex - 1) * kDataDirectorySize;
    if (optional.size() < entry + kDataDirectorySize ||
        Load32(&optional[layout->numberOfRvaAndSizes]) <= kResourceDirectoryIndex) {
        result.read = PeVersionRead::NoVersion;  // the header has no place for a resource directory
        return result;
    }
    const std::uint32_t directoryRva = Load32(&optional[entry]);
    const std::uint32_t directorySize = Load32(&optional[entry + 4]);
    if (directoryRva == 0 || directorySize == 0) {
        result.read = PeVersionRead::NoVersion;
        return result;
    }
    std::vector<pe::SectionHeader> sections;
    if (!pe::ReadSectionTable(file, header.numberOfSections, sections)) {
        return result;
    }
    const std::optional<std::uint64_t> directoryAt = FileOffsetOf(sections, directoryRva, directorySize);
    if (!directoryAt) {
        return result;
    }
    ResourceDirectory directory(file, *directoryAt, directorySize);
    std::uint32_t recordRva = 0;
    std::uint32_t recordSize = 0;
    result.read = FindVersionRecord(directory, recordRva, recordSize);
    if (result.read == PeVersionRead::Found) {
        result.read = ReadFixedFileInfo(file, sections, recordRva, recordSize, result.version);
    }
    return result;
}

}  // namespace zv
