#include "integrity/file_digest.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "common/pe_format.h"
#include "common/read_only_file.h"

namespace zv {

namespace {

// Files are streamed through one buffer of this size; they are never held in memory whole.
constexpr std::uint32_t kChunkSize = 65536;

struct SectionSpan {
    std::uint32_t pointerToRawData;
    std::uint32_t sizeOfRawData;
};

// The exact name ".text" (a zero byte after it), else the first section marked as code.
std::optional<SectionSpan> ChooseCodeSection(const std::vector<pe::SectionHeader>& sections) {
    const pe::SectionHeader* firstCode = nullptr;
    for (const pe::SectionHeader& section : sections) {
        // ".text" and its terminating zero byte: whatever follows the terminator does not count.
        if (std::memcmp(section.name.data(), ".text", 6) == 0) {
            return SectionSpan{section.pointerToRawData, section.sizeOfRawData};
        }
        if (firstCode == nullptr && (section.characteristics & pe::kSectionContainsCode) != 0) {
            firstCode = &section;
        }
    }
    if (firstCode == nullptr) {
        return std::nullopt;
    }
    return SectionSpan{firstCode->pointerToRawData, firstCode->sizeOfRawData};
}

// The section table is found through SizeOfOptionalHeader, as the loader finds it (see
// common/pe_format.h for why the digest reads it so and discovery does not).
std::optional<SectionSpan> ReadCodeSectionSpan(ReadOnlyFile& file) {
    pe::FileHeader header;
    if (pe::ReadFileHeader(file, header) != pe::HeaderRead::Read || header.numberOfSections == 0) {
        return std::nullopt;
    }
    std::vector<pe::SectionHeader> sections;
    if (!pe::ReadSectionTableAfterDeclaredOptionalHeader(file, header, sections)) {
        return std::nullopt;
    }
    return ChooseCodeSection(sections);
}

}  // namespace

std::optional<Sha1Digest> HashSha1(ByteSource& source) {
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kChunkSize);
    Sha1Context context;
    Sha1Init(context);
    for (;;) {
        std::uint32_t read = 0;
        if (!source.Read(buffer.get(), kChunkSize, read)) {
            return std::nullopt;
        }
        if (read == 0) {
            break;
        }
        Sha1Update(context, buffer.get(), read);
    }
    return Sha1Final(context);
}

std::optional<FileDigests> HashTwice(ByteSource& source) {
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kChunkSize);
    Sha1Context sha1;
    Sha1Init(sha1);
    Sha256 sha256;
    for (;;) {
        std::uint32_t read = 0;
        if (!source.Read(buffer.get(), kChunkSize, read)) {
            return std::nullopt;
        }
        if (read == 0) {
            break;
        }
        Sha1Update(sha1, buffer.get(), read);
        sha256.Update(buffer.get(), read);
    }
    const std::optional<Sha256Digest> second = sha256.Final();
    if (!second) {
        return std::nullopt;
    }
    return FileDigests{Sha1Final(sha1), *second};
}

Sha1Digest HashFile(const std::wstring& path) {
    ReadOnlyFile file(path);
    if (!file.IsOpen()) {
        return {};
    }
    return HashSha1(file).value_or(Sha1Digest{});
}

std::optional<FileDigests> HashFileTwice(const std::wstring& path) {
    ReadOnlyFile file(path);
    if (!file.IsOpen()) {
        return std::nullopt;
    }
    return HashTwice(file);
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
