#include "launch/client_target.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>
#include <vector>

#include "common/pe_format.h"
#include "common/read_only_file.h"
#include "launch/discovery_platform.h"

namespace zv {

namespace {

// Positions are set as signed 32-bit distances from the start of the file, so no record that
// begins at or beyond 2^31 can be reached.
constexpr std::int64_t kLastReachablePosition = std::numeric_limits<std::int32_t>::max();

constexpr std::uint32_t kMaxNameBytes = 255;

bool SeekTo(ReadOnlyFile& file, std::int64_t position) {
    return position >= 0 && position <= kLastReachablePosition && file.SeekFromStart(position);
}

char FoldAsciiLetter(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return FoldAsciiLetter(x) == FoldAsciiLetter(y); });
}

}  // namespace

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

    // The DOS header, the PE signature and the file header.
    pe::FileHeader header;
    switch (pe::ReadFileHeader(file, header)) {
        case pe::HeaderRead::Read:
            break;
        case pe::HeaderRead::NotPe:
            return verdict(ClientTargetVerdict::NotPe);
        case pe::HeaderRead::Truncated:
            return verdict(ClientTargetVerdict::Truncated);
    }
    examination.machine = header.machine;
    const pe::OptionalHeaderLayout* layout = pe::OptionalHeaderLayoutFor(header.machine);
    if (layout == nullptr) {
        return verdict(ClientTargetVerdict::OtherMachine);
    }

    // The optional header and the section table behind it (discovery's reading of the section
    // table: see common/pe_format.h).
    pe::OptionalHeaderFields optional;
    std::vector<pe::SectionHeader> sections;
    if (!pe::ReadStandardOptionalHeaderAndSectionTable(file, header, *layout, optional, sections)) {
        return verdict(ClientTargetVerdict::Truncated);
    }
    if (optional.magic != layout->magic || optional.numberOfRvaAndSizes < 2) {
        return verdict(ClientTargetVerdict::BadOptionalHeader);
    }
    const std::uint32_t importRva = optional.importDirectoryRva;
    if (importRva == 0) {
        return verdict(ClientTargetVerdict::NoImports);
    }

    const auto descriptorOffset = pe::RvaToFileOffset(sections, importRva);
    if (!descriptorOffset || !SeekTo(file, *descriptorOffset)) {
        return verdict(ClientTargetVerdict::BadImports);
    }
    // The first descriptor and the one after it, in one read. The first must be whole; the
    // second counts only when it begins at a reachable position and is whole too.
    std::array<std::uint8_t, 2 * pe::kImportDescriptorSize> descriptors{};
    std::uint32_t descriptorBytes = 0;
    if (!file.ReadUntilFullOrEnd(descriptors.data(), 2 * pe::kImportDescriptorSize, descriptorBytes) ||
        descriptorBytes < pe::kImportDescriptorSize) {
        return verdict(ClientTargetVerdict::Truncated);
    }
    const std::uint32_t nameRva = pe::Load32(&descriptors[pe::kImportNameOffset]);
    if (nameRva == 0) {
        return verdict(ClientTargetVerdict::NoImports);
    }
    const auto nameOffset = pe::RvaToFileOffset(sections, nameRva);
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
    if (*descriptorOffset + std::int64_t{pe::kImportDescriptorSize} > kLastReachablePosition) {
        return verdict(ClientTargetVerdict::BadImports);
    }
    if (descriptorBytes < 2 * pe::kImportDescriptorSize) {
        return verdict(ClientTargetVerdict::Truncated);
    }
    if (pe::Load32(&descriptors[pe::kImportDescriptorSize + pe::kImportNameOffset]) != 0) {
        return verdict(ClientTargetVerdict::ImportsMoreLibraries);
    }
    return verdict(ClientTargetVerdict::Target);
}

bool IsClientTarget(const std::wstring& path) {
    return ExamineClientTarget(path).verdict == ClientTargetVerdict::Target;
}

}  // namespace zv
