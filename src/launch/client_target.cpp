#include "launch/client_target.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>
#include <vector>

#include "common/read_only_file.h"
#include "launch/discovery_platform.h"

namespace zv {

namespace {

constexpr std::uint16_t kDosMagic = 0x5A4D;            // "MZ"
constexpr std::uint32_t kPeSignature = 0x00004550;     // "PE\0\0"
constexpr std::uint16_t kMachineI386 = 0x014C;         // IMAGE_FILE_MACHINE_I386
constexpr std::uint16_t kMachineAmd64 = 0x8664;        // IMAGE_FILE_MACHINE_AMD64
constexpr std::uint32_t kDosHeaderSize = 64;           // IMAGE_DOS_HEADER
constexpr std::uint32_t kLfanewOffset = 60;            // e_lfanew
constexpr std::uint32_t kSignatureAndFileHeader = 24;  // signature, IMAGE_FILE_HEADER
constexpr std::uint32_t kSectionHeaderSize = 40;       // IMAGE_SECTION_HEADER
constexpr std::uint32_t kImportDescriptorSize = 20;    // IMAGE_IMPORT_DESCRIPTOR
constexpr std::uint32_t kImportNameOffset = 12;        // IMAGE_IMPORT_DESCRIPTOR::Name
constexpr std::uint32_t kMaxNameBytes = 255;

// Where the fields of interest lie in the optional header of each machine. The section table is
// taken to follow an optional header of the standard size (sixteen data directories) directly;
// SizeOfOptionalHeader in the file header is not consulted.
struct OptionalHeaderLayout {
    std::uint32_t size;
    std::uint16_t magic;
    std::uint32_t numberOfRvaAndSizes;
    std::uint32_t importDirectoryRva;
};
constexpr OptionalHeaderLayout kPe32{224, 0x010B, 92, 104};
constexpr OptionalHeaderLayout kPe32Plus{240, 0x020B, 108, 120};

// Positions are set as signed 32-bit distances from the start of the file, so no record that
// begins at or beyond 2^31 can be reached.
constexpr std::int64_t kLastReachablePosition = std::numeric_limits<std::int32_t>::max();

std::uint16_t Load16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t Load32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool SeekTo(ReadOnlyFile& file, std::int64_t position) {
    return position >= 0 && position <= kLastReachablePosition && file.SeekFromStart(position);
}

// Reads until count bytes are in or the file ends; bytesRead says how many came.
bool ReadUpTo(ReadOnlyFile& file, std::uint8_t* buffer, std::uint32_t count, std::uint32_t& bytesRead) {
    bytesRead = 0;
    while (bytesRead < count) {
        std::uint32_t read = 0;
        if (!file.Read(buffer + bytesRead, count - bytesRead, read)) {
            return false;
        }
        if (read == 0) {
            break;
        }
        bytesRead += read;
    }
    return true;
}

char FoldAsciiLetter(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return FoldAsciiLetter(x) == FoldAsciiLetter(y); });
}

}  // namespace

std::optional<std::uint32_t> RvaToFileOffset(std::span<const SectionMapping> sections, std::uint32_t rva) {
    for (const SectionMapping& section : sections) {
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

ClientTargetExamination ExamineClientTarget(const std::wstring& path) {
    ClientTargetExamination examination;
    const auto verdict = [&examination](ClientTargetVerdict v) {
        examination.verdict = v;
        return examination;
    };

    ReadOnlyFile file = OpenForReading(path);
    if (!file.IsOpen()) {
        return verdict(ClientTargetVerdict::CannotOpen);
    }

    std::array<std::uint8_t, kDosHeaderSize> dos{};
    if (!file.ReadExactly(dos.data(), kDosHeaderSize) || Load16(&dos[0]) != kDosMagic) {
        return verdict(ClientTargetVerdict::NotPe);
    }
    const auto lfanew = static_cast<std::int32_t>(Load32(&dos[kLfanewOffset]));
    if (!SeekTo(file, lfanew)) {
        return verdict(ClientTargetVerdict::NotPe);
    }

    std::array<std::uint8_t, kSignatureAndFileHeader> nt{};
    std::uint32_t ntBytes = 0;
    if (!ReadUpTo(file, nt.data(), kSignatureAndFileHeader, ntBytes)) {
        return verdict(ClientTargetVerdict::Truncated);
    }
    if (ntBytes < 4 || Load32(&nt[0]) != kPeSignature) {
        return verdict(ClientTargetVerdict::NotPe);
    }
    if (ntBytes < kSignatureAndFileHeader) {
        return verdict(ClientTargetVerdict::Truncated);
    }
    examination.machine = Load16(&nt[4]);
    const std::uint32_t sectionCount = Load16(&nt[6]);
    const OptionalHeaderLayout* layout = examination.machine == kMachineAmd64  ? &kPe32Plus
                                         : examination.machine == kMachineI386 ? &kPe32
                                                                               : nullptr;
    if (layout == nullptr) {
        return verdict(ClientTargetVerdict::OtherMachine);
    }

    // The optional header and the section table behind it, in one read.
    std::vector<std::uint8_t> headers(layout->size + sectionCount * kSectionHeaderSize);
    if (!file.ReadExactly(headers.data(), static_cast<std::uint32_t>(headers.size()))) {
        return verdict(ClientTargetVerdict::Truncated);
    }
    if (Load16(&headers[0]) != layout->magic || Load32(&headers[layout->numberOfRvaAndSizes]) < 2) {
        return verdict(ClientTargetVerdict::BadOptionalHeader);
    }
    const std::uint32_t importRva = Load32(&headers[layout->importDirectoryRva]);
    if (importRva == 0) {
        return verdict(ClientTargetVerdict::NoImports);
    }
    std::vector<SectionMapping> sections(sectionCount);
    for (std::uint32_t i = 0; i < sectionCount; ++i) {
        const std::uint8_t* entry = &headers[layout->size + i * kSectionHeaderSize];
        sections[i] = {Load32(entry + 8), Load32(entry + 12), Load32(entry + 20)};
    }

    const auto descriptorOffset = RvaToFileOffset(sections, importRva);
    if (!descriptorOffset || !SeekTo(file, *descriptorOffset)) {
        return verdict(ClientTargetVerdict::BadImports);
    }
    // The first descriptor and the one after it, in one read. The first must be whole; the
    // second counts only when it begins at a reachable position and is whole too.
    std::array<std::uint8_t, 2 * kImportDescriptorSize> descriptors{};
    std::uint32_t descriptorBytes = 0;
    if (!ReadUpTo(file, descriptors.data(), 2 * kImportDescriptorSize, descriptorBytes) ||
        descriptorBytes < kImportDescriptorSize) {
        return verdict(ClientTargetVerdict::Truncated);
    }
    const std::uint32_t nameRva = Load32(&descriptors[kImportNameOffset]);
    if (nameRva == 0) {
        return verdict(ClientTargetVerdict::NoImports);
    }
    const auto nameOffset = RvaToFileOffset(sections, nameRva);
    if (!nameOffset || !SeekTo(file, *nameOffset)) {
        return verdict(ClientTargetVerdict::BadImports);
    }

    std::array<char, kMaxNameBytes> name{};
    std::uint32_t nameBytes = 0;
    if (!file.Read(name.data(), kMaxNameBytes, nameBytes) || nameBytes == 0) {
        return verdict(ClientTargetVerdict::Truncated);
    }
    // The name ends at its first zero byte, or with the bytes read.
    const auto* nameEnd = std::find(name.data(), name.data() + nameBytes, '\0');
    examination.firstLibrary.assign(name.data(), static_cast<std::size_t>(nameEnd - name.data()));
    if (examination.firstLibrary.empty()) {
        return verdict(ClientTargetVerdict::BadImports);
    }
    if (!EqualsIgnoringAsciiCase(examination.firstLibrary, kClientLibraryName)) {
        // A name that runs into the end of the file is a cut-off name rather than another library.
        const bool endsWithTheFile = nameEnd == name.data() + nameBytes && nameBytes < kMaxNameBytes;
        return verdict(endsWithTheFile ? ClientTargetVerdict::Truncated : ClientTargetVerdict::ImportsOtherLibrary);
    }

    // Only the client library: the descriptor after it must close the list.
    if (*descriptorOffset + std::int64_t{kImportDescriptorSize} > kLastReachablePosition) {
        return verdict(ClientTargetVerdict::BadImports);
    }
    if (descriptorBytes < 2 * kImportDescriptorSize) {
        return verdict(ClientTargetVerdict::Truncated);
    }
    if (Load32(&descriptors[kImportDescriptorSize + kImportNameOffset]) != 0) {
        return verdict(ClientTargetVerdict::ImportsMoreLibraries);
    }
    return verdict(ClientTargetVerdict::Target);
}

bool IsClientTarget(const std::wstring& path) {
    return ExamineClientTarget(path).verdict == ClientTargetVerdict::Target;
}

}  // namespace zv
