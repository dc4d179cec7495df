#include "common/pe_format.h"

#include <algorithm>
#include <cstddef>

namespace zv::pe {

namespace {

SectionHeader ParseSectionHeader(const std::uint8_t* record) {
    SectionHeader section;
    std::copy_n(record, section.name.size(), reinterpret_cast<std::uint8_t*>(section.name.data()));
    section.virtualSize = Load32(record + 8);
    section.virtualAddress = Load32(record + 12);
    section.sizeOfRawData = Load32(record + 16);
    section.pointerToRawData = Load32(record + 20);
    section.characteristics = Load32(record + 36);
    return section;
}

// The records of a section table read whole.
std::vector<SectionHeader> ParseSectionTable(const std::uint8_t* table, std::uint32_t count) {
    std::vector<SectionHeader> sections(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        sections[i] = ParseSectionHeader(table + std::size_t{i} * kSectionHeaderSize);
    }
    return sections;
}

}  // namespace

const OptionalHeaderLayout* OptionalHeaderLayoutFor(std::uint16_t machine) {
    switch (machine) {
        case kMachineAmd64:
            return &kPe32Plus;
        case kMachineI386:
            return &kPe32;
        default:
            return nullptr;
    }
}

std::optional<std::uint32_t> RvaToFileOffset(std::span<const SectionHeader> sections, std::uint32_t rva) {
    for (const SectionHeader& section : sections) {
        const std::uint32_t end = section.virtualAddress + section.virtualSize;
        if (section.virtualAddress <= rva && rva < end) {
            const std::uint32_t offset = rva - section.virtualAddress + section.pointerToRawData;
            if (offset == 0) {
                return std::nullopt;
            }
            return offset;
        }
    }
    return std::nullopt;
}

HeaderRead ReadFileHeader(ReadOnlyFile& file, FileHeader& header) {
    std::array<std::uint8_t, kDosHeaderSize> dos{};
    if (!file.ReadExactly(dos.data(), kDosHeaderSize) || Load16(&dos[0]) != kDosMagic) {
        return HeaderRead::NotPe;
    }
    const auto lfanew = static_cast<std::int32_t>(Load32(&dos[kLfanewOffset]));
    if (!file.SeekFromStart(lfanew)) {
        return HeaderRead::NotPe;
    }

    // The signature and the file header in one read: a file that ends inside the signature is no
    // PE file, one that ends inside the file header is a PE file cut short.
    std::array<std::uint8_t, kSignatureSize + kFileHeaderSize> nt{};
    std::uint32_t ntBytes = 0;
    if (!file.ReadUntilFullOrEnd(nt.data(), static_cast<std::uint32_t>(nt.size()), ntBytes)) {
        return HeaderRead::Truncated;
    }
    if (ntBytes < kSignatureSize || Load32(&nt[0]) != kPeSignature) {
        return HeaderRead::NotPe;
    }
    if (ntBytes < nt.size()) {
        return HeaderRead::Truncated;
    }
    const std::uint8_t* fileHeader = &nt[kSignatureSize];
    header.machine = Load16(fileHeader);
    header.numberOfSections = Load16(fileHeader + 2);
    header.sizeOfOptionalHeader = Load16(fileHeader + 16);
    header.characteristics = Load16(fileHeader + 18);
    return HeaderRead::Read;
}

bool ReadSectionTable(ReadOnlyFile& file, std::uint16_t count, std::vector<SectionHeader>& sections) {
    std::vector<std::uint8_t> table(std::size_t{count} * kSectionHeaderSize);
    if (!file.ReadExactly(table.data(), static_cast<std::uint32_t>(table.size()))) {
        return false;
    }
    sections = ParseSectionTable(table.data(), count);
    return true;
}

bool ReadSectionTableAfterDeclaredOptionalHeader(ReadOnlyFile& file, const FileHeader& header,
                                                 std::vector<SectionHeader>& sections) {
    return file.SeekFromCurrent(header.sizeOfOptionalHeader) &&
           ReadSectionTable(file, header.numberOfSections, sections);
}

bool ReadStandardOptionalHeaderAndSectionTable(ReadOnlyFile& file, const FileHeader& header,
                                               const OptionalHeaderLayout& layout, OptionalHeaderFields& fields,
                                               std::vector<SectionHeader>& sections) {
    std::vector<std::uint8_t> headers(layout.size + std::size_t{header.numberOfSections} * kSectionHeaderSize);
    if (!file.ReadExactly(headers.data(), static_cast<std::uint32_t>(headers.size()))) {
        return false;
    }
    fields.magic = Load16(&headers[0]);
    fields.numberOfRvaAndSizes = Load32(&headers[layout.numberOfRvaAndSizes]);
    fields.importDirectoryRva = Load32(&headers[layout.importDirectoryRva]);
    sections = ParseSectionTable(headers.data() + layout.size, header.numberOfSections);
    return true;
}

}  // namespace zv::pe
