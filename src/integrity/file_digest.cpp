#include "integrity/file_digest.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "common/read_only_file.h"

namespace zv {

namespace {

// Files are streamed through one buffer of this size; they are never held in memory whole.
constexpr std::uint32_t kChunkSize = 65536;

constexpr std::uint32_t kDosHeaderSize = 64;
constexpr std::uint16_t kDosMagic = 0x5A4D;         // "MZ"
constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint32_t kFileHeaderSize = 20;
constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::uint32_t kSectionContainsCode = 0x00000020;  // IMAGE_SCN_CNT_CODE

// PE headers are little-endian whatever the host.
std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

struct SectionSpan {
    std::uint32_t pointerToRawData;
    std::uint32_t sizeOfRawData;
};

// The exact name ".text" (a zero byte after it), else the first section marked as code.
std::optional<SectionSpan> ChooseCodeSection(const std::vector<std::uint8_t>& table) {
    const std::uint8_t* firstCode = nullptr;
    for (std::size_t at = 0; at + kSectionHeaderSize <= table.size(); at += kSectionHeaderSize) {
        const std::uint8_t* entry = table.data() + at;
        // ".text" and its terminating zero byte: whatever follows the terminator does not count.
        if (std::memcmp(entry, ".text", 6) == 0) {
            return SectionSpan{Le32(entry + 20), Le32(entry + 16)};
        }
        if (firstCode == nullptr && (Le32(entry + 36) & kSectionContainsCode) != 0) {
            firstCode = entry;
        }
    }
    if (firstCode == nullptr) {
        return std::nullopt;
    }
    return SectionSpan{Le32(firstCode + 20), Le32(firstCode + 16)};
}

std::optional<SectionSpan> ReadCodeSectionSpan(ReadOnlyFile& file) {
    std::uint8_t dos[kDosHeaderSize];
    if (!file.ReadExactly(dos, sizeof dos) || Le16(dos) != kDosMagic) {
        return std::nullopt;
    }
    // e_lfanew is signed: a negative offset fails to seek rather than wrapping far into the file.
    const auto lfanew = static_cast<std::int32_t>(Le32(dos + 60));
    if (!file.SeekFromStart(lfanew)) {
        return std::nullopt;
    }
    std::uint8_t signature[4];
    if (!file.ReadExactly(signature, sizeof signature) || Le32(signature) != kPeSignature) {
        return std::nullopt;
    }
    std::uint8_t fileHeader[kFileHeaderSize];
    if (!file.ReadExactly(fileHeader, sizeof fileHeader)) {
        return std::nullopt;
    }
    const std::uint16_t numberOfSections = Le16(fileHeader + 2);
    const std::uint16_t sizeOfOptionalHeader = Le16(fileHeader + 16);
    if (numberOfSections == 0 || !file.SeekFromCurrent(sizeOfOptionalHeader)) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> table(static_cast<std::size_t>(numberOfSections) * kSectionHeaderSize);
    if (!file.ReadExactly(table.data(), static_cast<std::uint32_t>(table.size()))) {
        return std::nullopt;
    }
    return ChooseCodeSection(table);
}

}  // namespace

Sha1Digest HashFile(const std::wstring& path) {
    ReadOnlyFile file(path);
    if (!file.IsOpen()) {
        return {};
    }
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kChunkSize);
    Sha1Context context;
    Sha1Init(context);
    for (;;) {
        std::uint32_t read = 0;
        if (!file.Read(buffer.get(), kChunkSize, read)) {
            return {};
        }
        if (read == 0) {
            break;
        }
        Sha1Update(context, buffer.get(), read);
    }
    return Sha1Final(context);
}

Sha1Digest HashCodeSection(const std::wstring& path) {
    ReadOnlyFile file(path);
    if (!file.IsOpen()) {
        return {};
    }
    const std::optional<SectionSpan> section = ReadCodeSectionSpan(file);
    if (!section || !file.SeekFromStart(section->pointerToRawData)) {
        return {};
    }
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kChunkSize);
    Sha1Context context;
    Sha1Init(context);
    std::uint32_t remaining = section->sizeOfRawData;
    while (remaining != 0) {
        std::uint32_t read = 0;
        if (!file.Read(buffer.get(), std::min(remaining, kChunkSize), read)) {
            return {};
        }
        if (read == 0) {
            break;  // the file ends inside the section: the digest covers what is there
        }
        Sha1Update(context, buffer.get(), read);
        remaining -= read;
    }
    return Sha1Final(context);
}

}  // namespace zv
