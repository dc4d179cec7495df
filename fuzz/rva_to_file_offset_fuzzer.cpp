// RvaToFileOffset against a reference written another way, in 64-bit arithmetic. Input: the RVA
// (four bytes, little-endian), then twelve bytes per section: virtual size, virtual address,
// pointer to raw data.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/pe_format.h"
#include "fuzz_check.h"

namespace {

constexpr std::size_t kMaxSections = 96;

std::uint32_t Load32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// A section spans [virtualAddress, virtualAddress + virtualSize). One whose end lies at or past 2^32
// holds nothing, since the end wraps below the start in 32 bits. The first section that holds the
// address decides; offsets wrap at 2^32, and offset 0 counts as none.
std::optional<std::uint32_t> Reference(const std::vector<zv::pe::SectionHeader>& sections, std::uint32_t rva) {
    constexpr std::uint64_t kWrap = std::uint64_t{1} << 32;
    for (const auto& s : sections) {
        const std::uint64_t begin = s.virtualAddress;
        const std::uint64_t end = begin + s.virtualSize;
        if (end >= kWrap || rva < begin || rva >= end) {
            continue;
        }
        const auto offset = static_cast<std::uint32_t>((rva - begin + s.pointerToRawData) % kWrap);
        if (offset == 0) {
            return std::nullopt;
        }
        return offset;
    }
    return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    const std::uint32_t rva = Load32(data);
    std::vector<zv::pe::SectionHeader> sections;
    for (std::size_t at = 4; at + 12 <= size && sections.size() < kMaxSections; at += 12) {
        zv::pe::SectionHeader& section = sections.emplace_back();
        section.virtualSize = Load32(data + at);
        section.virtualAddress = Load32(data + at + 4);
        section.pointerToRawData = Load32(data + at + 8);
    }
    const auto offset = zv::pe::RvaToFileOffset(sections, rva);
    zv::fuzz::Check(!offset || *offset != 0, "an offset that is given is never 0");
    zv::fuzz::Check(offset == Reference(sections, rva), "the offset is the reference's");
    return 0;
}
