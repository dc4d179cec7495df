#include "launch/client_target.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/pe_format.h"
#include "common/read_only_file.h"
#include "common/text.h"
#include "launch/discovery_platform.h"

namespace zv {

namespace {

using Verdict = ClientTargetVerdict;

// A step of the examination: the verdict that ends it, or nothing when the next step goes on.
using Stop = std::optional<ClientTargetVerdict>;

// Positions are set as signed 32-bit distances from the start of the file, so no record that
// begins at or beyond 2^31 can be reached.
constexpr std::int64_t kLastReachablePosition = std::numeric_limits<std::int32_t>::max();

constexpr std::uint32_t kMaxNameBytes = 255;

bool SeekTo(ReadOnlyFile& file, std::int64_t position) {
    return position >= 0 && position <= kLastReachablePosition && file.SeekFromStart(position);
}

// Where the headers say the import table is, and the sections that map its addresses.
struct ImportDirectory {
    std::uint32_t rva = 0;
    std::vector<pe::SectionHeader> sections;
};

// The first import descriptor, and the one after it as far as the file holds it.
struct FirstDescriptors {
    std::uint32_t offset = 0;  // the first one's, in the file
    std::array<std::uint8_t, 2 * pe::kImportDescriptorSize> bytes{};
    std::uint32_t bytesRead = 0;
};

// The DOS header, the PE signature and the file header.
Stop ReadSignatureAndFileHeader(ReadOnlyFile& file, pe::FileHeader& header) {
    switch (pe::ReadFileHeader(file, header)) {
        case pe::HeaderRead::Read:
            return std::nullopt;
        case pe::HeaderRead::NotPe:
            return Verdict::NotPe;
        case pe::HeaderRead::Truncated:
            return Verdict::Truncated;
    }
    return Verdict::NotPe;
}

// The optional header of the kind the machine calls for, at its standard size, and the section
// table behind it (discovery's reading of the section table: see common/pe_format.h); the optional
// header must be of that kind, and must have room for the import directory and name it.
Stop ReadImportDirectory(ReadOnlyFile& file, const pe::FileHeader& header, ImportDirectory& imports) {
    const pe::OptionalHeaderLayout* layout = pe::OptionalHeaderLayoutFor(header.machine);
    if (layout == nullptr) {
        return Verdict::OtherMachine;
    }
    pe::OptionalHeaderFields optional;
    if (!pe::ReadStandardOptionalHeaderAndSectionTable(file, header, *layout, optional, imports.sections)) {
        return Verdict::Truncated;
    }
    if (optional.magic != layout->magic || optional.numberOfRvaAndSizes < 2) {
        return Verdict::BadOptionalHeader;
    }
    imports.rva = optional.importDirectoryRva;
    if (imports.rva == 0) {
        return Verdict::NoImports;
    }
    return std::nullopt;
}

// The first descriptor and the one after it, in one read. The first must be whole and name a
// library; the second is judged only once the first library is known to be the client library.
Stop ReadFirstDescriptors(ReadOnlyFile& file, const ImportDirectory& imports, FirstDescriptors& descriptors) {
    const auto offset = pe::RvaToFileOffset(imports.sections, imports.rva);
    if (!offset || !SeekTo(file, *offset)) {
        return Verdict::BadImports;
    }
    descriptors.offset = *offset;
    if (!file.ReadUntilFullOrEnd(descriptors.bytes.data(), static_cast<std::uint32_t>(descriptors.bytes.size()),
                                 descriptors.bytesRead) ||
        descriptors.bytesRead < pe::kImportDescriptorSize) {
        return Verdict::Truncated;
    }
    if (pe::Load32(&descriptors.bytes[pe::kImportNameOffset]) == 0) {
        return Verdict::NoImports;
    }
    return std::nullopt;
}

// Up to 255 bytes of the name the first descriptor points at, kept as stored up to its first zero
// byte. endsWithTheFile: the name has no zero byte and runs into the end of the file.
Stop ReadFirstLibraryName(ReadOnlyFile& file, const ImportDirectory& imports, const FirstDescriptors& descriptors,
                          std::string& name, bool& endsWithTheFile) {
    const std::uint32_t nameRva = pe::Load32(&descriptors.bytes[pe::kImportNameOffset]);
    const auto offset = pe::RvaToFileOffset(imports.sections, nameRva);
    if (!offset || !SeekTo(file, *offset)) {
        return Verdict::BadImports;
    }
    std::array<char, kMaxNameBytes> bytes{};
    std::uint32_t bytesRead = 0;
    if (!file.Read(bytes.data(), kMaxNameBytes, bytesRead) || bytesRead == 0) {
        return Verdict::Truncated;
    }
    const char* end = std::find(bytes.data(), bytes.data() + bytesRead, '\0');
    name.assign(bytes.data(), static_cast<std::size_t>(end - bytes.data()));
    endsWithTheFile = end == bytes.data() + bytesRead && bytesRead < kMaxNameBytes;
    if (name.empty()) {
        return Verdict::BadImports;
    }
    return std::nullopt;
}

// The first library must be the client library. A name that runs into the end of the file is a
// cut-off name rather than another library.
Stop CheckFirstLibrary(std::string_view name, bool endsWithTheFile) {
    if (EqualsIgnoringAsciiCase(name, kClientLibraryName)) {
        return std::nullopt;
    }
    return endsWithTheFile ? Verdict::Truncated : Verdict::ImportsOtherLibrary;
}

// Only the client library: the descriptor after it must close the list. It counts only when it
// begins at a reachable position and is whole.
Verdict CheckListEndsAfterIt(const FirstDescriptors& descriptors) {
    if (descriptors.offset + std::int64_t{pe::kImportDescriptorSize} > kLastReachablePosition) {
        return Verdict::BadImports;
    }
    if (descriptors.bytesRead < descriptors.bytes.size()) {
        return Verdict::Truncated;
    }
    if (pe::Load32(&descriptors.bytes[pe::kImportDescriptorSize + pe::kImportNameOffset]) != 0) {
        return Verdict::ImportsMoreLibraries;
    }
    return Verdict::Target;
}

// The steps in the order the file is read; the first that finds a reason gives the verdict.
Verdict Examine(const std::wstring& path, ClientTargetExamination& examination) {
    ReadOnlyFile file = OpenForReading(path);
    if (!file.IsOpen()) {
        return Verdict::CannotOpen;
    }
    pe::FileHeader header;
    if (const Stop stop = ReadSignatureAndFileHeader(file, header)) {
        return *stop;
    }
    examination.machine = header.machine;
    ImportDirectory imports;
    if (const Stop stop = ReadImportDirectory(file, header, imports)) {
        return *stop;
    }
    FirstDescriptors descriptors;
    if (const Stop stop = ReadFirstDescriptors(file, imports, descriptors)) {
        return *stop;
    }
    bool nameEndsWithTheFile = false;
    if (const Stop stop =
            ReadFirstLibraryName(file, imports, descriptors, examination.firstLibrary, nameEndsWithTheFile)) {
        return *stop;
    }
    if (const Stop stop = CheckFirstLibrary(examination.firstLibrary, nameEndsWithTheFile)) {
        return *stop;
    }
    return CheckListEndsAfterIt(descriptors);
}

}  // namespace

ClientTargetExamination ExamineClientTarget(const std::wstring& path) {
    ClientTargetExamination examination;
    examination.verdict = Examine(path, examination);
    return examination;
}

bool IsClientTarget(const std::wstring& path) {
    return ExamineClientTarget(path).verdict == ClientTargetVerdict::Target;
}

}  // namespace zv
