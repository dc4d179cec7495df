// Writes the seed corpora: zv_fuzz_seeds CORPUS_DIR writes CORPUS_DIR/<target>/<seed> for every
// target. Small, readable starting points: valid inputs, and the near misses the unit tests know.

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <iostream>
#include <string>
#include <vector>

#include "file_bytes.h"
#include "pe_builder.h"

namespace {

namespace fs = std::filesystem;
using zv::test::AddVersionResource;
using zv::test::BuildPe;
using zv::test::Bytes;
using zv::test::MakeImportingImage;
using zv::test::PeImage;
using zv::test::PeSection;

constexpr std::uint16_t kI386 = 0x014C;

Bytes FromText(std::string_view text) { return Bytes(text.begin(), text.end()); }

// Arguments joined by zero bytes, as the quoting targets read them.
Bytes Arguments(std::initializer_list<std::string_view> arguments) {
    Bytes bytes;
    bool first = true;
    for (const auto argument : arguments) {
        if (!first) {
            bytes.push_back(0);
        }
        first = false;
        bytes.insert(bytes.end(), argument.begin(), argument.end());
    }
    return bytes;
}

void Put32(Bytes& bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

struct SectionFields {
    std::uint32_t virtualSize;
    std::uint32_t virtualAddress;
    std::uint32_t pointerToRawData;
};

// The RVA, then each section's fields.
Bytes RvaCase(std::uint32_t rva, std::initializer_list<SectionFields> sections) {
    Bytes bytes;
    Put32(bytes, rva);
    for (const auto& s : sections) {
        Put32(bytes, s.virtualSize);
        Put32(bytes, s.virtualAddress);
        Put32(bytes, s.pointerToRawData);
    }
    return bytes;
}

class Corpus {
public:
    explicit Corpus(fs::path root) : root_(std::move(root)) {}

    void Add(const std::string& target, const std::string& name, const Bytes& bytes) {
        fs::create_directories(root_ / target);
        zv::test::WriteFileBytes(root_ / target / name, bytes);
    }

private:
    fs::path root_;
};

PeImage CodeWithoutTextName() {
    PeImage image;
    PeSection data{".rdata", 0x1000, 0x100, zv::test::kSectionInitData, Bytes(32, 0x11), {}, {}};
    PeSection code{"CODE", 0x2000, 0x100, zv::test::kSectionCode, Bytes(48, 0x90), {}, {}};
    image.sections = {data, code};
    return image;
}

void PeSeeds(Corpus& corpus) {
    const Bytes x64 = BuildPe(MakeImportingImage({"ZVClient.dll"}));
    const Bytes x86 = BuildPe(MakeImportingImage({"ZVClient.dll"}, kI386));
    for (const char* target : {"client_target", "code_section_digest"}) {
        corpus.Add(target, "client_x64.exe", x64);
        corpus.Add(target, "client_x86.exe", x86);
    }
    corpus.Add("client_target", "client_then_kernel32.exe",
               BuildPe(MakeImportingImage({"ZVClient.dll", "KERNEL32.dll"})));
    corpus.Add("client_target", "lower_case_name.exe", BuildPe(MakeImportingImage({"zvclient.dll"}, kI386)));
    corpus.Add("client_target", "kernel32_only.exe", BuildPe(MakeImportingImage({"KERNEL32.dll"})));

    corpus.Add("code_section_digest", "code_not_named_text.exe", BuildPe(CodeWithoutTextName()));
    PeImage overlay = MakeImportingImage({"ZVClient.dll"});
    overlay.trailer = Bytes(100, 0xEE);
    corpus.Add("code_section_digest", "overlay.exe", BuildPe(overlay));
    PeImage cut = MakeImportingImage({"ZVClient.dll"});
    cut.sections[0].sizeOfRawData = 0x10000;  // runs past the end of the file
    corpus.Add("code_section_digest", "section_past_end.exe", BuildPe(cut));
    PeImage longOptional = MakeImportingImage({}, 0x8664);
    longOptional.optionalHeaderBytes = 256;
    corpus.Add("code_section_digest", "longer_optional_header.exe", BuildPe(longOptional));
    PeImage versioned = MakeImportingImage({"ZVClient.dll"});
    AddVersionResource(versioned, {1, 2, 3, 4});
    corpus.Add("code_section_digest", "version_resource.dll", BuildPe(versioned));
    // A launcher's resources: the version and the build record, an RCDATA resource named "ZVBUILD".
    PeImage launcher = MakeImportingImage({"KERNEL32.dll"});
    launcher.subsystem = 2;
    zv::test::AddResources(
        launcher, {{16, u"", 1, zv::test::VersionRecord({1, 0, 0, 0})},
                   {10, u"ZVBUILD", 0, FromText("zarnovelle-launcher-build 1\nhost h\nversion 1.0.0.0\nkeys \n")}});
    corpus.Add("code_section_digest", "build_record.exe", BuildPe(launcher));
}

void RvaSeeds(Corpus& corpus) {
    const std::string target = "rva_to_file_offset";
    corpus.Add(target, "inside", RvaCase(0x1800, {{0x1000, 0x1000, 0x400}, {0x200, 0x2000, 0x1400}}));
    corpus.Add(target, "overlapping", RvaCase(0x2200, {{0x200, 0x2000, 0x1400}, {0x1000, 0x2000, 0x9000}}));
    corpus.Add(target, "offset_zero", RvaCase(0x6000, {{0x100, 0x6000, 0}}));
    corpus.Add(target, "offset_wraps", RvaCase(0x7180, {{0x1000, 0x7000, 0xFFFFFF00}}));
    corpus.Add(target, "end_wraps", RvaCase(0xFFFFF800, {{0x2000, 0xFFFFF000, 0x600}}));
    corpus.Add(target, "no_sections", RvaCase(0x1000, {}));
}

void TextSeeds(Corpus& corpus) {
    const std::string hex = "00112233445566778899aabbccddeeff01234567";
    const std::string upper = "00112233445566778899AABBCCDDEEFF01234567";
    corpus.Add("digest_from_hex", "lower", FromText(hex));
    corpus.Add("digest_from_hex", "upper", FromText(upper));
    corpus.Add("digest_from_hex", "short", FromText(hex.substr(1)));
    corpus.Add("digest_from_hex", "not_hex", FromText(hex.substr(1) + "g"));
    corpus.Add("digest_from_hex", "blank", FromText(" " + hex.substr(1)));

    const std::string m = "manifest";
    corpus.Add(m, "complete", FromText(R"({"sha1":")" + hex + R"(","url":"https://h/f.exe"})"));
    corpus.Add(m, "upper_no_url", FromText(R"({"sha1":")" + upper + R"("})"));
    corpus.Add(
        m, "escapes",
        FromText(R"({"sha1":")" + hex + R"(","url":"https:\/\/h\/\u00e9\ud83c\udfae\n","x":[1.5e300,-0,true]})"));
    corpus.Add(m, "nested", FromText(R"({"a":{"b":[[{"c":null}]]},"sha1":")" + hex + R"(","url":5})"));
    corpus.Add(m, "array_root", FromText(R"([")" + hex + R"("])"));
    corpus.Add(m, "sha1_number", FromText(R"({"sha1":12345678901234567890123})"));
    corpus.Add(m, "cut_short", FromText(R"({"sha1":")" + hex));
    corpus.Add(m, "html", FromText("<html><body>502 Bad Gateway</body></html>"));

    const std::string sha256 = hex + hex.substr(0, 24);
    const std::string s = "signed_manifest";
    const std::string release =
        R"({"sha1":")" + hex + R"(","sha256":")" + sha256 +
        R"(","size":1630208,"url":"https://cdn.example.com/s/ZVClient-x.dll","version":"1.4.0.12")";
    corpus.Add(s, "release", FromText(release + R"(,"signature":"MEUCIQ=="})"));
    corpus.Add(s, "expiring", FromText(release + R"(,"expires":"2027-02-28T23:59:59Z","signature":"x"})"));
    corpus.Add(s, "expired", FromText(release + R"(,"expires":"2020-02-29T00:00:00Z","signature":"x"})"));
    corpus.Add(s, "withdrawal", FromText(R"({"withdrawn":true,"version":"01.4.0.13","signature":"x"})"));
    corpus.Add(s, "odd_members",
               FromText(R"({"withdrawn":false,"version":"1.4.0","size":-1,"expires":"2027-02-30T00:00:00Z"})"));
    corpus.Add(s, "http_url",
               FromText(R"({"sha1":")" + hex + R"(","sha256":")" + sha256 +
                        R"(","size":0,"url":"http://h/x","version":"0.0.0.0","signature":""})"));
}

Bytes FromHexText(const std::string& hex) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

void SignatureSeeds(Corpus& corpus) {
    const std::string r = "d919dbae1ed56a58b7be46be068859d066477fd2cb6293f404424bb36cc627c5";
    const std::string s = "b49efa68f2f7223da1f319e9daf73bc54030d2285c3d2921abc151136b056dfc";
    corpus.Add("der_signature", "openssl", FromHexText("3046022100" + r + "022100" + s));
    corpus.Add("der_signature", "short_r", FromHexText("3044021f" + r.substr(2) + "022100" + s));
    corpus.Add("der_signature", "small", FromHexText("3006020101020102"));
    corpus.Add("der_signature", "negative", FromHexText("3006020181020102"));
    corpus.Add("der_signature", "long_form", FromHexText("308106020101020102"));
}

void ArgumentSeeds(Corpus& corpus) {
    const auto awkward = {
        Arguments({"plain", "two words", "\ttab first", "say \"hi\" there"}),
        Arguments({"\"", "\"\"", "trailing\\", "trailing space\\", "\\\\\"", "a\\\\\\\"b c"}),
        Arguments({"C:\\Program Files (x86)\\Zarnovelle\\", "--opt=\"quoted value\"", "", "-w"}),
        Arguments({"a&b", "x|y", "100%", "%PATH%", "^caret^", "a^&b c", "line\nfeed", "cr\rhere"}),
        Arguments({"\xC9l\xE8ve", "\"q\\\" & x\"", "\"a\\%b\"", "(a)", "!x!", "2>&1"}),
    };
    int n = 0;
    for (const Bytes& list : awkward) {
        corpus.Add("quoting", "arguments_" + std::to_string(++n), list);
    }
    // The restart target reads the launcher folder's name first.
    const auto withFolders = {
        Arguments({"Temp", "Games\\Foo", "a&b", "x|y", "%PATH%", "a %PATH% b", "%a%b%", "%%", "%"}),
        Arguments({"Users\\%OS%\\Temp", "Spiel %OS% 100%", "%OS:W=X%", "%CMDCMDLINE:~0,3%", "q\" & echo x"}),
        Arguments({"T !y!", "Bang!\\!OS!", "!OS!", "^!OS^!", "a\\", "trailing\\", "\\\"", "^\"^&", "^"}),
        Arguments({"T^&x", "Rock & Roll ^^", "x y", "\"%x y%\"", "line\nbreak & calc", "cr\rhere", "q\"&\"x"}),
        Arguments({"(x86)", "a ; b, c = d + e", "", "\"", "%%", "--zarnovelle-launcher"}),
    };
    n = 0;
    for (const Bytes& list : withFolders) {
        corpus.Add("restart_command", "arguments_" + std::to_string(++n), list);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: zv_fuzz_seeds CORPUS_DIR\n";
        return 2;
    }
    Corpus corpus{fs::path(argv[1])};
    PeSeeds(corpus);
    RvaSeeds(corpus);
    TextSeeds(corpus);
    ArgumentSeeds(corpus);
    SignatureSeeds(corpus);
    return 0;
}
