// The file digests over arbitrary file contents. HashCodeSection's walk of the headers and the
// section table must run clean under the sanitizers whatever the fields say, and must give the
// digest of the bytes a reference picks out of the input in memory, in 64-bit arithmetic (twenty
// zero bytes where the reference finds no code section); HashFile, which streams the file, must
// give the digest of the bytes taken at once. The version resource's reading walks the same
// headers and then the resource directory: it must run clean too, find nothing in a file without
// the PE signatures, and find a version only where the file holds the record's key and signature.
// So must the reading of a resource by name (the launcher's build record): it finds one only where
// the file holds the name, never more bytes than it was allowed, and only bytes the file holds in
// that order; and the reading of the image's kind agrees with the file header's bytes.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "fuzz_check.h"
#include "zvpublish/pe/pe_reading.h"
#include "integrity/file_digest.h"
#include "integrity/sha1.h"

namespace {

std::uint64_t Field(std::string_view bytes, std::uint64_t at, int size) {
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = (value << 8) | static_cast<std::uint8_t>(bytes[at + static_cast<std::uint64_t>(i)]);
    }
    return value;
}

// The code section's bytes by the digest's rules: the DOS and PE signatures, the section table
// SizeOfOptionalHeader bytes after the file header and whole, the section named exactly ".text"
// or else the first marked as code; its raw data as far as the file holds it. Nothing when any of
// that is missing.
std::optional<std::string_view> ReferenceCodeSection(std::string_view file) {
    if (file.size() < 64 || Field(file, 0, 2) != 0x5A4D) {
        return std::nullopt;
    }
    const auto lfanew = static_cast<std::int64_t>(static_cast<std::int32_t>(Field(file, 60, 4)));
    if (lfanew < 0 || static_cast<std::uint64_t>(lfanew) + 24 > file.size()) {
        return std::nullopt;
    }
    const auto pe = static_cast<std::uint64_t>(lfanew);
    if (Field(file, pe, 4) != 0x00004550) {
        return std::nullopt;
    }
    const std::uint64_t sections = Field(file, pe + 6, 2);
    const std::uint64_t table = pe + 24 + Field(file, pe + 20, 2);
    if (sections == 0 || table + sections * 40 > file.size()) {
        return std::nullopt;
    }
    std::optional<std::uint64_t> chosen;
    for (std::uint64_t i = 0; i < sections; ++i) {
        const std::uint64_t entry = table + i * 40;
        if (std::memcmp(file.data() + entry, ".text\0", 6) == 0) {
            chosen = entry;
            break;
        }
        if (!chosen && (Field(file, entry + 36, 4) & 0x20) != 0) {
            chosen = entry;
        }
    }
    if (!chosen) {
        return std::nullopt;
    }
    const std::uint64_t begin = Field(file, *chosen + 20, 4);
    const std::uint64_t end = begin + Field(file, *chosen + 16, 4);
    if (begin >= file.size()) {
        return file.substr(0, 0);
    }
    return file.substr(begin, std::min<std::uint64_t>(end, file.size()) - begin);
}

zv::Sha1Digest DigestOf(const void* data, std::size_t size) { return zv::Sha1Of(data, size); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zv::fuzz::WriteScratch(data, size);
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const zv::Sha1Digest code = zv::HashCodeSection(zv::fuzz::ScratchPath());
    const std::optional<std::string_view> section = ReferenceCodeSection(bytes);
    zv::fuzz::Check(code == (section ? DigestOf(section->data(), section->size()) : zv::Sha1Digest{}),
                    "the code section's digest is that of the section the reference picks");
    if (!bytes.starts_with("MZ") || bytes.find(std::string_view("PE\0\0", 4)) == std::string_view::npos) {
        zv::fuzz::Check(code == zv::Sha1Digest{}, "a file without the signatures has no code section");
    }

    zv::fuzz::Check(zv::HashFile(zv::fuzz::ScratchPath()) == DigestOf(data, size),
                    "the file's digest is the digest of its bytes");

    const zv::publish::PeVersion version = zv::publish::ReadPeFileVersion(zv::fuzz::ScratchPath());
    if (!bytes.starts_with("MZ") || bytes.find(std::string_view("PE\0\0", 4)) == std::string_view::npos) {
        zv::fuzz::Check(version.read == zv::publish::PeRead::NotPe, "a file without the signatures is no PE file");
    }
    if (version.read == zv::publish::PeRead::Found) {
        constexpr char kKey[] = "V\0S\0_\0V\0E\0R\0S\0I\0O\0N\0_\0I\0N\0F\0O\0\0\0";
        zv::fuzz::Check(bytes.find(std::string_view(kKey, sizeof kKey - 1)) != std::string_view::npos &&
                            bytes.find(std::string_view("\xBD\x04\xEF\xFE", 4)) != std::string_view::npos,
                        "a version is found only in a record with its key and signature");
    }

    constexpr std::uint32_t kMaxRecord = 64;
    const zv::publish::PeResource record =
        zv::publish::ReadPeResource(zv::fuzz::ScratchPath(), zv::publish::kRtRcdata, u"ZVBUILD", kMaxRecord);
    if (!bytes.starts_with("MZ") || bytes.find(std::string_view("PE\0\0", 4)) == std::string_view::npos) {
        zv::fuzz::Check(record.read == zv::publish::PeRead::NotPe, "a file without the signatures has no resources");
    }
    if (record.read == zv::publish::PeRead::Found) {
        constexpr char kName[] = "Z\0V\0B\0U\0I\0L\0D\0";
        const std::string_view data(reinterpret_cast<const char*>(record.data.data()), record.data.size());
        zv::fuzz::Check(bytes.find(std::string_view(kName, sizeof kName - 1)) != std::string_view::npos,
                        "a resource is found only where the file holds its name");
        zv::fuzz::Check(data.size() <= kMaxRecord, "a resource is never larger than the reader takes");
        zv::fuzz::Check(bytes.find(data) != std::string_view::npos, "a resource's bytes are bytes of the file");
    } else {
        zv::fuzz::Check(record.data.empty(), "a resource not found has no bytes");
    }

    const zv::publish::PeImageKind kind = zv::publish::ReadPeImageKind(zv::fuzz::ScratchPath());
    zv::fuzz::Check((kind.read == zv::publish::PeRead::NotPe) == (version.read == zv::publish::PeRead::NotPe),
                    "the image's kind and its version agree on what is no PE file");
    if (kind.read == zv::publish::PeRead::Found) {
        const auto pe = static_cast<std::uint64_t>(static_cast<std::int32_t>(Field(bytes, 60, 4)));
        zv::fuzz::Check(kind.machine == Field(bytes, pe + 4, 2) && kind.characteristics == Field(bytes, pe + 22, 2) &&
                            kind.magic == Field(bytes, pe + 24, 2) && kind.subsystem == Field(bytes, pe + 24 + 68, 2),
                        "the image's kind is the file header's and the optional header's bytes");
    }
    return 0;
}
