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

// At most size bytes of file from where it stands: a section's raw data.
class SectionSource final : public ByteSource {
public:
    SectionSource(ReadOnlyFile& file, std::uint32_t size) : file_(file), remaining_(size) {}

    bool Read(void* buffer, std::uint32_t count, std::uint32_t& bytesRead) override {
        bytesRead = 0;
        if (remaining_ == 0) {
            return true;
        }
        if (!file_.Read(buffer, std::min(remaining_, count), bytesRead)) {
            return false;
        }
        remaining_ -= bytesRead;
        return true;
    }

private:
    ReadOnlyFile& file_;
    std::uint32_t remaining_;
};

}  // namespace

std::optional<FileDigests> HashSource(ByteSource& source, bool withSha256) {
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kChunkSize);
    Sha1 sha1;
    std::optional<Sha256> sha256;
    if (withSha256) {
        sha256.emplace();
    }
    for (;;) {
        std::uint32_t read = 0;
        if (!source.Read(buffer.get(), kChunkSize, read)) {
            return std::nullopt;
        }
        if (read == 0) {
            break;
        }
        sha1.Update(buffer.get(), read);
        if (sha256) {
            sha256->Update(buffer.get(), read);
        }
    }
    FileDigests digests{sha1.Final(), {}};
    if (sha256) {
        const std::optional<Sha256Digest> second = sha256->Final();
        if (!second) {
            return std::nullopt;
        }
        digests.sha256 = *second;
    }
    return digests;
}

Sha1Digest HashFile(const std::wstring& path) {
    ReadOnlyFile file(path);
    if (!file.IsOpen()) {
        return {};
    }
    const std::optional<FileDigests> digests = HashSource(file, false);
    return digests ? digests->sha1 : Sha1Digest{};
}

std::optional<FileDigests> HashFileTwice(const std::wstring& path) {
    ReadOnlyFile file(path);
    if (!file.IsOpen()) {
        return std::nullopt;
    }
    return HashSource(file, true);
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
    // A section cut short by the end of the file is hashed up to the end.
    SectionSource source(file, section->sizeOfRawData);
    const std::optional<FileDigests> digests = HashSource(source, false);
    return digests ? digests->sha1 : Sha1Digest{};
}

}  // namespace zv
