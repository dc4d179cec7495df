#include "pe_builder.h"

#include <algorithm>
#include <cstring>

namespace zv::test {

namespace {

constexpr std::uint32_t kFileAlignment = 0x200;

void Put16(Bytes& out, std::size_t at, std::uint16_t v) {
    if (out.size() < at + 2) {
        out.resize(at + 2);
    }
    out[at] = static_cast<std::uint8_t>(v);
    out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(Bytes& out, std::size_t at, std::uint32_t v) {
    if (out.size() < at + 4) {
        out.resize(at + 4);
    }
    for (int i = 0; i < 4; ++i) {
        out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

std::uint32_t AlignUp(std::uint32_t v, std::uint32_t a) { return (v + a - 1) / a * a; }

std::uint16_t OptionalBytes(const PeImage& image) {
    return image.optionalHeaderBytes.value_or(image.pe32plus() ? 240 : 224);
}

std::uint32_t HeadersEnd(const PeImage& image) {
    const auto lfanew = static_cast<std::uint32_t>(std::max(image.lfanew, 64));
    return lfanew + 4 + 20 + OptionalBytes(image) + 40 * static_cast<std::uint32_t>(image.sections.size());
}

}  // namespace

std::vector<std::uint32_t> SectionFileOffsets(const PeImage& image) {
    std::vector<std::uint32_t> offsets;
    std::uint32_t next = AlignUp(HeadersEnd(image), kFileAlignment);
    for (const auto& s : image.sections) {
        const std::uint32_t at = s.pointerToRawData.value_or(next);
        offsets.push_back(at);
        if (!s.pointerToRawData) {
            next = AlignUp(at + static_cast<std::uint32_t>(s.data.size()), kFileAlignment);
        }
    }
    return offsets;
}

Bytes BuildPe(const PeImage& image) {
    Bytes out(64, 0);
    Put16(out, 0, image.dosMagic);
    Put32(out, 60, static_cast<std::uint32_t>(image.lfanew));
    if (image.lfanew < 64) {
        // A header that points nowhere sensible: only the DOS header is written.
        return out;
    }
    const auto pe = static_cast<std::size_t>(image.lfanew);
    Put32(out, pe, image.signature);
    const std::size_t fileHeader = pe + 4;
    const std::uint16_t optionalBytes = OptionalBytes(image);
    Put16(out, fileHeader + 0, image.machine);
    Put16(out, fileHeader + 2, image.numberOfSectionsField.value_or(static_cast<std::uint16_t>(image.sections.size())));
    Put16(out, fileHeader + 16, image.sizeOfOptionalHeaderField.value_or(optionalBytes));
    Put16(out, fileHeader + 18, image.characteristics);

    const std::size_t optional = fileHeader + 20;
    out.resize(std::max(out.size(), optional + optionalBytes));
    Put16(out, optional, image.OptionalMagic());
    if (68 + 2 <= optionalBytes) {
        Put16(out, optional + 68, image.subsystem);
    }
    const std::size_t countAt = optional + (image.pe32plus() ? 108 : 92);
    const std::size_t importAt = optional + (image.pe32plus() ? 120 : 104);
    if (countAt + 4 <= optional + optionalBytes) {
        Put32(out, countAt, image.numberOfRvaAndSizes);
    }
    if (importAt + 4 <= optional + optionalBytes) {
        Put32(out, importAt, image.importRva);
    }
    const std::size_t resourceAt = importAt + 8;
    if (resourceAt + 8 <= optional + optionalBytes) {
        Put32(out, resourceAt, image.resourceRva);
        Put32(out, resourceAt + 4, image.resourceSize);
    }

    const auto offsets = SectionFileOffsets(image);
    std::size_t entry = optional + optionalBytes;
    for (std::size_t i = 0; i < image.sections.size(); ++i, entry += 40) {
        const auto& s = image.sections[i];
        out.resize(std::max(out.size(), entry + 40));
        std::memcpy(&out[entry], s.name.data(), std::min<std::size_t>(s.name.size(), 8));
        Put32(out, entry + 8, s.virtualSize ? s.virtualSize : static_cast<std::uint32_t>(s.data.size()));
        Put32(out, entry + 12, s.virtualAddress);
        Put32(out, entry + 16, s.sizeOfRawData.value_or(static_cast<std::uint32_t>(s.data.size())));
        Put32(out, entry + 20, offsets[i]);
        Put32(out, entry + 36, s.characteristics);
    }
    for (std::size_t i = 0; i < image.sections.size(); ++i) {
        const auto& s = image.sections[i];
        if (s.data.empty()) {
            continue;
        }
        out.resize(std::max<std::size_t>(out.size(), offsets[i] + s.data.size()));
        std::copy(s.data.begin(), s.data.end(), out.begin() + offsets[i]);
    }
    out.insert(out.end(), image.trailer.begin(), image.trailer.end());
    return out;
}

PeImage MakeImportingImage(const std::vector<std::string>& libraries, std::uint16_t machine, const Bytes& code) {
    PeImage image;
    image.machine = machine;

    PeSection text;
    text.name = ".text";
    text.virtualAddress = 0x1000;
    text.characteristics = kSectionCode | kSectionExecuteRead;
    text.data = code;

    // Import descriptors (20 bytes each, a zero one closing the list), then the names.
    constexpr std::uint32_t kIdataRva = 0x2000;
    PeSection idata;
    idata.name = ".idata";
    idata.virtualAddress = kIdataRva;
    idata.characteristics = kSectionInitData | 0xC0000000;
    const auto descriptorsSize = static_cast<std::uint32_t>(20 * (libraries.size() + 1));
    idata.data.assign(descriptorsSize, 0);
    for (std::size_t i = 0; i < libraries.size(); ++i) {
        const auto nameRva = kIdataRva + static_cast<std::uint32_t>(idata.data.size());
        Put32(idata.data, 20 * i + 12, nameRva);
        idata.data.insert(idata.data.end(), libraries[i].begin(), libraries[i].end());
        idata.data.push_back(0);
    }
    idata.data.resize(AlignUp(static_cast<std::uint32_t>(idata.data.size()), 16), 0);

    image.sections = {text, idata};
    image.importRva = libraries.empty() ? 0 : kIdataRva;
    return image;
}

VersionResource MakeVersionResource(std::uint32_t rva, const std::array<std::uint16_t, 4>& fileVersion,
                                    bool otherTypesFirst) {
    constexpr std::uint32_t kSubdirectory = 0x80000000;
    VersionResource resource;
    Bytes& data = resource.section.data;
    // A directory header with its counts, then its entries (name, offset), each appended in turn.
    const auto directory = [&](std::uint16_t named, std::uint16_t ids) {
        const auto at = static_cast<std::uint32_t>(data.size());
        data.resize(data.size() + 16 + 8u * (named + ids), 0);
        Put16(data, at + 12, named);
        Put16(data, at + 14, ids);
        return at;
    };
    const auto entry = [&](std::uint32_t directoryAt, std::uint32_t index, std::uint32_t name, std::uint32_t to) {
        const std::uint32_t at = directoryAt + 16 + 8 * index;
        Put32(data, at, name);
        Put32(data, at + 4, to);
        return at;
    };

    const std::uint32_t root = directory(otherTypesFirst ? 1 : 0, otherTypesFirst ? 2 : 1);
    const std::uint32_t types = directory(0, 1);
    const std::uint32_t names = directory(0, 1);
    std::uint32_t index = 0;
    if (otherTypesFirst) {
        const std::uint32_t empty = directory(0, 0);
        const auto typeName = static_cast<std::uint32_t>(data.size());
        data.insert(data.end(), {3, 0, 'M', 0, 'U', 0, 'I', 0});  // length, then UTF-16
        entry(root, index++, kSubdirectory | typeName, kSubdirectory | empty);
        entry(root, index++, 3, kSubdirectory | empty);
    }
    resource.versionTypeEntry = entry(root, index, 16, kSubdirectory | types);
    resource.nameEntry = entry(types, 0, 1, kSubdirectory | names);
    resource.dataEntry = static_cast<std::uint32_t>(data.size());
    data.resize(data.size() + 16, 0);
    resource.languageEntry = entry(names, 0, 0x0409, resource.dataEntry);

    constexpr std::uint32_t kRecordSize = 40 + 52;
    resource.record = AlignUp(static_cast<std::uint32_t>(data.size()), 4);
    data.resize(resource.record + kRecordSize, 0);
    Put32(data, resource.dataEntry, rva + resource.record);
    Put32(data, resource.dataEntry + 4, kRecordSize);
    Put16(data, resource.record, kRecordSize);
    Put16(data, resource.record + 2, 52);
    const char16_t key[] = u"VS_VERSION_INFO";
    for (std::size_t i = 0; i < std::size(key); ++i) {
        Put16(data, resource.record + 6 + 2 * i, key[i]);
    }
    const std::uint32_t fixed = resource.record + 40;
    Put32(data, fixed, 0xFEEF04BD);
    Put32(data, fixed + 4, 0x00010000);
    Put32(data, fixed + 8, (std::uint32_t{fileVersion[0]} << 16) | fileVersion[1]);
    Put32(data, fixed + 12, (std::uint32_t{fileVersion[2]} << 16) | fileVersion[3]);

    resource.section.name = ".rsrc";
    resource.section.virtualAddress = rva;
    resource.section.characteristics = kSectionInitData | 0x40000000;  // readable
    return resource;
}

void AddVersionResource(PeImage& image, const std::array<std::uint16_t, 4>& fileVersion) {
    std::uint32_t rva = 0x1000;
    for (const auto& section : image.sections) {
        const auto size = std::max<std::uint32_t>(section.virtualSize, static_cast<std::uint32_t>(section.data.size()));
        rva = std::max(rva, AlignUp(section.virtualAddress + size, 0x1000));
    }
    VersionResource resource = MakeVersionResource(rva, fileVersion);
    image.resourceRva = rva;
    image.resourceSize = static_cast<std::uint32_t>(resource.section.data.size());
    image.sections.push_back(std::move(resource.section));
}

Bytes VersionRecord(const std::array<std::uint16_t, 4>& fileVersion) {
    constexpr std::uint32_t kRecordSize = 40 + 52;
    Bytes record(kRecordSize, 0);
    Put16(record, 0, kRecordSize);
    Put16(record, 2, 52);
    const char16_t key[] = u"VS_VERSION_INFO";
    for (std::size_t i = 0; i < std::size(key); ++i) {
        Put16(record, 6 + 2 * i, key[i]);
    }
    Put32(record, 40, 0xFEEF04BD);
    Put32(record, 44, 0x00010000);
    Put32(record, 48, (std::uint32_t{fileVersion[0]} << 16) | fileVersion[1]);
    Put32(record, 52, (std::uint32_t{fileVersion[2]} << 16) | fileVersion[3]);
    return record;
}

ResourceSection MakeResourceSection(std::uint32_t rva, std::vector<PeResourceEntry> entries) {
    constexpr std::uint32_t kSubdirectory = 0x80000000;
    // The order of the directories: by type, then the named entries by name, then the ids.
    std::stable_sort(entries.begin(), entries.end(), [](const PeResourceEntry& a, const PeResourceEntry& b) {
        if (a.type != b.type) {
            return a.type < b.type;
        }
        if (a.name.empty() != b.name.empty()) {
            return !a.name.empty();
        }
        return a.name.empty() ? a.id < b.id : a.name < b.name;
    });
    std::vector<std::uint16_t> types;
    for (const auto& entry : entries) {
        if (types.empty() || types.back() != entry.type) {
            types.push_back(entry.type);
        }
    }
    ResourceSection resource;
    Bytes& data = resource.section.data;
    const auto directory = [&](std::size_t named, std::size_t ids) {
        const auto at = static_cast<std::uint32_t>(data.size());
        data.resize(data.size() + 16 + 8 * (named + ids), 0);
        Put16(data, at + 12, static_cast<std::uint16_t>(named));
        Put16(data, at + 14, static_cast<std::uint16_t>(ids));
        return at;
    };
    const std::uint32_t root = directory(0, types.size());
    std::vector<std::uint32_t> languages(entries.size());
    for (std::size_t t = 0; t < types.size(); ++t) {
        std::size_t named = 0;
        std::size_t ids = 0;
        for (const auto& entry : entries) {
            if (entry.type == types[t]) {
                ++(entry.name.empty() ? ids : named);
            }
        }
        const std::uint32_t names = directory(named, ids);
        Put32(data, root + 16 + 8 * t, types[t]);
        Put32(data, root + 16 + 8 * t + 4, kSubdirectory | names);
        std::uint32_t index = 0;
        for (std::size_t e = 0; e < entries.size(); ++e) {
            if (entries[e].type != types[t]) {
                continue;
            }
            resource.nameDirectories.push_back(names);
            resource.nameEntries.push_back(names + 16 + 8 * index++);
            languages[e] = directory(0, 1);
            Put32(data, resource.nameEntries.back() + 4, kSubdirectory | languages[e]);
        }
    }
    for (std::size_t e = 0; e < entries.size(); ++e) {
        if (entries[e].name.empty()) {
            resource.nameTexts.push_back(0);
            Put32(data, resource.nameEntries[e], entries[e].id);
            continue;
        }
        resource.nameTexts.push_back(static_cast<std::uint32_t>(data.size()));
        Put32(data, resource.nameEntries[e], kSubdirectory | resource.nameTexts.back());
        Put16(data, data.size(), static_cast<std::uint16_t>(entries[e].name.size()));
        for (const char16_t c : entries[e].name) {
            Put16(data, data.size(), c);
        }
        data.resize(AlignUp(static_cast<std::uint32_t>(data.size()), 4), 0);
    }
    for (std::size_t e = 0; e < entries.size(); ++e) {
        resource.dataEntries.push_back(static_cast<std::uint32_t>(data.size()));
        data.resize(data.size() + 16, 0);
        Put32(data, languages[e] + 16, 0x0409);
        Put32(data, languages[e] + 20, resource.dataEntries.back());
    }
    for (std::size_t e = 0; e < entries.size(); ++e) {
        const auto at = AlignUp(static_cast<std::uint32_t>(data.size()), 4);
        data.resize(at, 0);
        data.insert(data.end(), entries[e].data.begin(), entries[e].data.end());
        Put32(data, resource.dataEntries[e], rva + at);
        Put32(data, resource.dataEntries[e] + 4, static_cast<std::uint32_t>(entries[e].data.size()));
    }
    resource.section.name = ".rsrc";
    resource.section.virtualAddress = rva;
    resource.section.characteristics = kSectionInitData | 0x40000000;  // readable
    return resource;
}

void AddResources(PeImage& image, const std::vector<PeResourceEntry>& entries) {
    std::uint32_t rva = 0x1000;
    for (const auto& section : image.sections) {
        const auto size = std::max<std::uint32_t>(section.virtualSize, static_cast<std::uint32_t>(section.data.size()));
        rva = std::max(rva, AlignUp(section.virtualAddress + size, 0x1000));
    }
    ResourceSection resource = MakeResourceSection(rva, entries);
    image.resourceRva = rva;
    image.resourceSize = static_cast<std::uint32_t>(resource.section.data.size());
    image.sections.push_back(std::move(resource.section));
}

void Store32(Bytes& bytes, std::size_t at, std::uint32_t value) { Put32(bytes, at, value); }

}  // namespace zv::test
