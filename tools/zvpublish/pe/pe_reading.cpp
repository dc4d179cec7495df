#include "zvpublish/pe/pe_reading.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

#include "common/pe_format.h"
#include "common/read_only_file.h"

namespace zv::publish {

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

// The directory's header: how many named entries it has, and how many with an id.
bool ReadDirectoryCounts(ResourceDirectory& directory, std::uint32_t offset, std::uint32_t& named, std::uint32_t& ids) {
    std::array<std::uint8_t, kDirectoryHeaderSize> header{};
    if (!directory.Read(offset, header.data(), kDirectoryHeaderSize)) {
        return false;
    }
    named = Load16(&header[12]);
    ids = Load16(&header[14]);
    return true;
}

// The entries of the directory at offset, first the named ones, after them those with an id.
// At most 65535 entries of 8 bytes each, inside a directory that Read checks them against.
bool ReadEntries(ResourceDirectory& directory, std::uint32_t offset, std::uint32_t skip, std::uint32_t count,
                 std::vector<std::uint8_t>& entries) {
    entries.resize(std::size_t{count} * kEntrySize);
    return directory.Read(std::uint64_t{offset} + kDirectoryHeaderSize + std::uint64_t{skip} * kEntrySize,
                          entries.data(), static_cast<std::uint32_t>(entries.size()));
}

// The OffsetToData of the entry with id in the directory at offset; with no id, of the first entry
// with an id.
PeRead FindEntry(ResourceDirectory& directory, std::uint32_t offset, std::optional<std::uint32_t> id,
                 std::uint32_t& target) {
    std::uint32_t named = 0;
    std::uint32_t ids = 0;
    std::vector<std::uint8_t> entries;
    if (!ReadDirectoryCounts(directory, offset, named, ids) || !ReadEntries(directory, offset, named, ids, entries)) {
        return PeRead::Malformed;
    }
    for (std::uint32_t i = 0; i < ids; ++i) {
        const std::uint32_t name = Load32(&entries[std::size_t{i} * kEntrySize]);
        if ((name & kHighBit) != 0 || name > 0xFFFF) {
            return PeRead::Malformed;  // an entry among those with an id that has none
        }
        if (!id || name == *id) {
            target = Load32(&entries[std::size_t{i} * kEntrySize + 4]);
            return PeRead::Found;
        }
    }
    return PeRead::Missing;
}

// The OffsetToData of the named entry whose name is exactly name in the directory at offset. A name
// is IMAGE_RESOURCE_DIR_STRING_U: a length in UTF-16 units, then the units, inside the directory.
PeRead FindNamedEntry(ResourceDirectory& directory, std::uint32_t offset, std::u16string_view name,
                      std::uint32_t& target) {
    std::uint32_t named = 0;
    std::uint32_t ids = 0;
    std::vector<std::uint8_t> entries;
    if (!ReadDirectoryCounts(directory, offset, named, ids) || !ReadEntries(directory, offset, 0, named, entries)) {
        return PeRead::Malformed;
    }
    std::vector<std::uint8_t> text(name.size() * 2);
    for (std::uint32_t i = 0; i < named; ++i) {
        const std::uint32_t field = Load32(&entries[std::size_t{i} * kEntrySize]);
        if ((field & kHighBit) == 0) {
            return PeRead::Malformed;  // an entry among the named ones that has an id
        }
        const std::uint32_t at = field & ~kHighBit;
        std::array<std::uint8_t, 2> length{};
        if (!directory.Read(at, length.data(), 2)) {
            return PeRead::Malformed;
        }
        if (Load16(length.data()) != name.size()) {
            continue;
        }
        if (!directory.Read(std::uint64_t{at} + 2, text.data(), static_cast<std::uint32_t>(text.size()))) {
            return PeRead::Malformed;
        }
        bool same = true;
        for (std::size_t c = 0; c < name.size(); ++c) {
            same = same && Load16(&text[2 * c]) == name[c];
        }
        if (same) {
            target = Load32(&entries[std::size_t{i} * kEntrySize + 4]);
            return PeRead::Found;
        }
    }
    return PeRead::Missing;
}

// A resource's name: an id, or a text.
using ResourceName = std::variant<std::uint32_t, std::u16string_view>;

// Through the type and the name to the first language's data entry: the resource's address and
// length.
PeRead FindResourceData(ResourceDirectory& directory, std::uint32_t type, ResourceName name, std::uint32_t& rva,
                        std::uint32_t& size) {
    std::uint32_t target = 0;
    if (const PeRead lookup = FindEntry(directory, 0, type, target); lookup != PeRead::Found) {
        return lookup;
    }
    if ((target & kHighBit) == 0) {
        return PeRead::Malformed;  // a type must lead to a directory
    }
    const std::uint32_t names = target & ~kHighBit;
    const PeRead byName = std::holds_alternative<std::uint32_t>(name)
                              ? FindEntry(directory, names, std::get<std::uint32_t>(name), target)
                              : FindNamedEntry(directory, names, std::get<std::u16string_view>(name), target);
    if (byName != PeRead::Found) {
        return byName;
    }
    if ((target & kHighBit) == 0) {
        return PeRead::Malformed;  // a name must lead to a directory
    }
    std::uint32_t dataEntry = 0;
    if (const PeRead lookup = FindEntry(directory, target & ~kHighBit, std::nullopt, dataEntry);
        lookup != PeRead::Found) {
        return lookup;
    }
    std::array<std::uint8_t, kDataEntrySize> entry{};
    if ((dataEntry & kHighBit) != 0 || !directory.Read(dataEntry, entry.data(), kDataEntrySize)) {
        return PeRead::Malformed;  // a language must lead to data
    }
    rva = Load32(&entry[0]);
    size = Load32(&entry[4]);
    return PeRead::Found;
}

PeRead ReadFixedFileInfo(ReadOnlyFile& file, std::span<const pe::SectionHeader> sections, std::uint32_t rva,
                         std::uint32_t size, Version& version) {
    const std::optional<std::uint64_t> at = FileOffsetOf(sections, rva, size);
    std::array<std::uint8_t, kRecordStart> record{};
    if (!at || size < kRecordStart || !ReadAt(file, *at, record.data(), kRecordStart)) {
        return PeRead::Malformed;
    }
    const std::uint16_t length = Load16(&record[0]);
    const std::uint16_t valueLength = Load16(&record[2]);
    const std::uint16_t type = Load16(&record[4]);
    if (valueLength == 0) {
        return PeRead::Missing;
    }
    if (length < kRecordStart || length > size || valueLength != kFixedInfoSize || type != 0) {
        return PeRead::Malformed;
    }
    for (std::size_t i = 0; i < std::size(kKey); ++i) {
        if (Load16(&record[kKeyOffset + 2 * i]) != kKey[i]) {
            return PeRead::Malformed;
        }
    }
    const std::uint8_t* fixed = &record[kFixedInfoOffset];
    if (Load32(fixed) != kFixedInfoSignature) {
        return PeRead::Malformed;
    }
    const std::uint32_t ms = Load32(fixed + kFileVersionMsOffset);
    const std::uint32_t ls = Load32(fixed + kFileVersionMsOffset + 4);
    version.parts = {static_cast<std::uint16_t>(ms >> 16), static_cast<std::uint16_t>(ms),
                     static_cast<std::uint16_t>(ls >> 16), static_cast<std::uint16_t>(ls)};
    return PeRead::Found;
}

// The file header of an open file, as the readings report it.
PeRead ReadHeader(ReadOnlyFile& file, pe::FileHeader& header) {
    if (!file.IsOpen()) {
        return PeRead::CannotRead;
    }
    switch (pe::ReadFileHeader(file, header)) {
        case pe::HeaderRead::Read:
            return PeRead::Found;
        case pe::HeaderRead::NotPe:
            return PeRead::NotPe;
        case pe::HeaderRead::Truncated:
            break;
    }
    return PeRead::Malformed;
}

struct ResourceImage {
    std::vector<pe::SectionHeader> sections;
    std::uint64_t directoryAt = 0;
    std::uint32_t directorySize = 0;
};

// The headers through to the resource directory: Missing when the file has none.
PeRead OpenResources(ReadOnlyFile& file, ResourceImage& image) {
    pe::FileHeader header;
    if (const PeRead read = ReadHeader(file, header); read != PeRead::Found) {
        return read;
    }
    // The optional header as it is declared, whichever machine: its magic says its layout.
    std::vector<std::uint8_t> optional(header.sizeOfOptionalHeader);
    if (optional.size() < 2 || !file.ReadExactly(optional.data(), static_cast<std::uint32_t>(optional.size()))) {
        return PeRead::Malformed;
    }
    const std::uint16_t magic = Load16(optional.data());
    const pe::OptionalHeaderLayout* layout = magic == pe::kPe32.magic       ? &pe::kPe32
                                             : magic == pe::kPe32Plus.magic ? &pe::kPe32Plus
                                                                            : nullptr;
    if (layout == nullptr) {
        return PeRead::Malformed;
    }
    const std::uint32_t entry = layout->importDirectoryRva + (kResourceDirectoryIndex - 1) * kDataDirectorySize;
    if (optional.size() < entry + kDataDirectorySize ||
        Load32(&optional[layout->numberOfRvaAndSizes]) <= kResourceDirectoryIndex) {
        return PeRead::Missing;  // the header has no place for a resource directory
    }
    const std::uint32_t directoryRva = Load32(&optional[entry]);
    image.directorySize = Load32(&optional[entry + 4]);
    if (directoryRva == 0 || image.directorySize == 0) {
        return PeRead::Missing;
    }
    if (!pe::ReadSectionTable(file, header.numberOfSections, image.sections)) {
        return PeRead::Malformed;
    }
    const std::optional<std::uint64_t> directoryAt = FileOffsetOf(image.sections, directoryRva, image.directorySize);
    if (!directoryAt) {
        return PeRead::Malformed;
    }
    image.directoryAt = *directoryAt;
    return PeRead::Found;
}

}  // namespace

PeVersion ReadPeFileVersion(const std::wstring& path) {
    PeVersion result;
    ReadOnlyFile file(path);
    ResourceImage image;
    if ((result.read = OpenResources(file, image)) != PeRead::Found) {
        return result;
    }
    ResourceDirectory directory(file, image.directoryAt, image.directorySize);
    std::uint32_t recordRva = 0;
    std::uint32_t recordSize = 0;
    if ((result.read = FindResourceData(directory, kRtVersion, kVsVersionInfo, recordRva, recordSize)) ==
        PeRead::Found) {
        result.read = ReadFixedFileInfo(file, image.sections, recordRva, recordSize, result.version);
    }
    return result;
}

PeImageKind ReadPeImageKind(const std::wstring& path) {
    PeImageKind kind;
    ReadOnlyFile file(path);
    pe::FileHeader header;
    if ((kind.read = ReadHeader(file, header)) != PeRead::Found) {
        return kind;
    }
    std::array<std::uint8_t, pe::kSubsystemOffset + 2> optional{};
    if (header.sizeOfOptionalHeader < optional.size() ||
        !file.ReadExactly(optional.data(), static_cast<std::uint32_t>(optional.size()))) {
        kind.read = PeRead::Malformed;
        return kind;
    }
    kind.read = PeRead::Found;
    kind.machine = header.machine;
    kind.characteristics = header.characteristics;
    kind.magic = Load16(optional.data());
    kind.subsystem = Load16(&optional[pe::kSubsystemOffset]);
    return kind;
}

PeResource ReadPeResource(const std::wstring& path, std::uint32_t type, std::u16string_view name,
                          std::uint32_t maxSize) {
    PeResource result;
    ReadOnlyFile file(path);
    ResourceImage image;
    if ((result.read = OpenResources(file, image)) != PeRead::Found) {
        return result;
    }
    ResourceDirectory directory(file, image.directoryAt, image.directorySize);
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
    if ((result.read = FindResourceData(directory, type, name, rva, size)) != PeRead::Found) {
        return result;
    }
    const std::optional<std::uint64_t> at = FileOffsetOf(image.sections, rva, size);
    result.read = PeRead::Malformed;
    if (!at || size > maxSize) {
        return result;
    }
    result.data.resize(size);
    if (size != 0 && !ReadAt(file, *at, result.data.data(), size)) {
        result.data.clear();
        return result;
    }
    result.read = PeRead::Found;
    return result;
}

}  // namespace zv::publish
