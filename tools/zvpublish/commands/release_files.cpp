#include "zvpublish/commands/release_files.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "common/pe_format.h"
#include "common/read_only_file.h"
#include "common/text.h"
#include "integrity/file_digest.h"
#include "integrity/hex.h"
#include "integrity/sha1.h"
#include "zvpublish/pe/pe_reading.h"
#include "zvpublish/tree/tree_files.h"

namespace zv::publish {

namespace {

constexpr std::string_view kRecordTag = "zarnovelle-launcher-build 1";
constexpr std::size_t kFingerprintDigits = 16;

std::string Hex16(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

// A library name as read from a file, shown with anything unprintable escaped.
std::string Printable(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F) {
            out.push_back(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
            out += escaped;
        }
    }
    return out;
}

bool IsLowerHex(std::string_view text) { return std::all_of(text.begin(), text.end(), IsLowerHexDigit); }

// The record's lines, each without its line end; nothing when the text does not end a line, or
// holds a carriage return anywhere but before a line feed.
std::optional<std::vector<std::string_view>> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        std::string_view line = text.substr(0, end);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (line.find('\r') != std::string_view::npos) {
            return std::nullopt;
        }
        lines.push_back(line);
        text.remove_prefix(end + 1);
    }
    return lines;
}

// The value of a line "NAME VALUE"; nothing when the line is another.
std::optional<std::string_view> ValueOf(std::string_view line, std::string_view name) {
    if (!line.starts_with(name) || (line.size() > name.size() && line[name.size()] != ' ')) {
        return std::nullopt;
    }
    return line.size() > name.size() ? line.substr(name.size() + 1) : std::string_view();
}

std::string MachineName(std::uint16_t machine) {
    switch (machine) {
        case pe::kMachineAmd64:
            return "64-bit (x64)";
        case pe::kMachineI386:
            return "32-bit (x86)";
        case 0xAA64:
            return "ARM64";
        default:
            return "machine " + Hex16(machine);
    }
}

// What a file that is no PE file is, from its first bytes.
std::string DescribeNotPe(const std::wstring& path) {
    ReadOnlyFile file(path);
    std::array<char, 256> start{};
    std::uint32_t read = 0;
    if (!file.IsOpen() || !file.ReadUntilFullOrEnd(start.data(), static_cast<std::uint32_t>(start.size()), read)) {
        return "it cannot be read";
    }
    const std::string_view bytes(start.data(), read);
    if (bytes.starts_with("-----BEGIN ")) {
        return "it is text in PEM form (a key or a certificate), not a Windows program or library";
    }
    const bool text = std::all_of(bytes.begin(), bytes.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 0x20 || c == '\n' || c == '\r' || c == '\t';
    });
    return text ? "it is a text file, not a Windows program or library"
                : "it is not a Windows program or library (no \"MZ\" header, or no PE signature where it points)";
}

// What the image is, in words, when it is not the kind asked for.
std::string DescribeKind(const PeImageKind& kind) {
    const pe::OptionalHeaderLayout* layout = pe::OptionalHeaderLayoutFor(kind.machine);
    if (layout != nullptr && kind.magic != layout->magic) {
        return "it is a PE file whose optional header does not match its machine (" + MachineName(kind.machine) + ")";
    }
    const bool dll = (kind.characteristics & pe::kFileDll) != 0;
    return "it is a " + MachineName(kind.machine) + (dll ? " DLL" : " program");
}

// The image's kind, or the refusal with what reading it found.
std::optional<PeImageKind> ReadKind(const std::wstring& path, const std::string& refusal,
                                    std::optional<Failure>& failure) {
    const PeImageKind kind = ReadPeImageKind(path);
    switch (kind.read) {
        case PeRead::Found:
            return kind;
        case PeRead::CannotRead:
            failure = Failure{path, "cannot be opened for reading"};
            break;
        case PeRead::NotPe:
            failure = Failure{path, refusal + DescribeNotPe(path)};
            break;
        case PeRead::Missing:  // not a reading of the kind
        case PeRead::Malformed:
            failure = Failure{path, refusal + "it is a PE file cut short inside its headers"};
            break;
    }
    return std::nullopt;
}

bool IsPe32PlusX64(const PeImageKind& kind) {
    return kind.machine == pe::kMachineAmd64 && kind.magic == pe::kPe32Plus.magic;
}

}  // namespace

std::optional<Failure> CheckSourceFile(const std::wstring& path) {
    std::string reason;
    switch (QueryPathKind(path, &reason)) {
        case PathKind::Missing:
            return Failure{path, "does not exist"};
        case PathKind::Directory:
            return Failure{path, "is a directory, not a file"};
        case PathKind::Other:
            return Failure{path, reason.empty() ? "is not a regular file" : reason};
        case PathKind::File:
            break;
    }
    ReadOnlyFile file(path);
    if (!file.IsOpen()) {
        return Failure{path, "cannot be opened for reading"};
    }
    std::uint8_t first = 0;
    std::uint32_t read = 0;
    if (!file.Read(&first, 1, read)) {
        return Failure{path, "cannot be read"};
    }
    if (read == 0) {
        return Failure{path, "is empty"};
    }
    return std::nullopt;
}

std::string DescribeVerdict(const ClientTargetExamination& examination) {
    const std::string client(kClientLibraryName);
    switch (examination.verdict) {
        case ClientTargetVerdict::Target:
            return "it is one";
        case ClientTargetVerdict::CannotOpen:
            return "cannot be opened for reading";
        case ClientTargetVerdict::NotPe:
            return "not a PE file (no \"MZ\" header, or no PE signature where it points)";
        case ClientTargetVerdict::Truncated:
            return "the file is cut short: it ends inside its PE headers or import table";
        case ClientTargetVerdict::OtherMachine:
            return "built for another machine (" + Hex16(examination.machine) +
                   (examination.machine == 0xAA64 ? ", ARM64" : "") + "); the launcher reads only x86 and x64 programs";
        case ClientTargetVerdict::BadOptionalHeader:
            return "its optional header does not match its machine type, or has no import directory entry";
        case ClientTargetVerdict::NoImports:
            return "imports no library; a client target imports " + client + " and nothing else";
        case ClientTargetVerdict::BadImports:
            return "its import table cannot be read (it lies outside every section or beyond 2 GiB, or names an "
                   "empty library)";
        case ClientTargetVerdict::ImportsOtherLibrary:
            return "imports " + Printable(examination.firstLibrary) + " first; a client target imports " + client +
                   " and nothing else";
        case ClientTargetVerdict::ImportsMoreLibraries:
            return "imports other libraries besides " + client + "; a client target imports " + client +
                   " and nothing else";
    }
    return "unknown reason";
}

BuildKey ComputeBuildKey(const std::wstring& target) {
    BuildKey result;
    if (auto failure = CheckSourceFile(target)) {
        result.failure = std::move(failure);
        return result;
    }
    const ClientTargetExamination examination = ExamineClientTarget(target);
    if (examination.verdict != ClientTargetVerdict::Target) {
        result.failure = Failure{target, "not a client target: " + DescribeVerdict(examination)};
        return result;
    }
    const Sha1Digest code = HashCodeSection(target);
    if (code == Sha1Digest{}) {
        result.failure = Failure{
            target, "has no code section the launcher can hash (no \".text\" section and no section marked as code)"};
        return result;
    }
    result.key = FromUtf8(Sha1ToHex(code));
    result.machine = examination.machine;
    return result;
}

std::string KeyList(const std::vector<std::string>& keys) {
    std::string list;
    for (const auto& key : keys) {
        list += (list.empty() ? "" : ", ") + key;
    }
    return list.empty() ? "none" : list;
}

std::optional<LauncherBuild> ParseBuildRecord(std::string_view text, std::string& reason) {
    const auto lines = SplitLines(text);
    if (!lines || lines->empty() || !(*lines)[0].starts_with("zarnovelle-launcher-build ")) {
        reason = "it is not a launcher's build record";
        return std::nullopt;
    }
    if ((*lines)[0] != kRecordTag) {
        reason = "it is a build record of another form (" + std::string((*lines)[0]) +
                 "), which this zvpublish does not read; publish with a zvpublish of the launcher's own build";
        return std::nullopt;
    }
    const std::optional<std::string_view> host = lines->size() == 4 ? ValueOf((*lines)[1], "host") : std::nullopt;
    const std::optional<std::string_view> version = lines->size() == 4 ? ValueOf((*lines)[2], "version") : std::nullopt;
    const std::optional<std::string_view> keys = lines->size() == 4 ? ValueOf((*lines)[3], "keys") : std::nullopt;
    if (!host || !version || !keys) {
        reason = "its build record does not have the four lines tag, host, version and keys";
        return std::nullopt;
    }
    LauncherBuild build;
    if (host->empty() || !IsVisibleAscii(*host)) {
        reason = "its build record's host is not printable ASCII without blanks";
        return std::nullopt;
    }
    build.host = *host;
    const std::optional<Version> parsed = ParseVersion(*version);
    if (!parsed) {
        reason = "its build record's version is not four numbers A.B.C.D";
        return std::nullopt;
    }
    build.version = *parsed;
    // "keys" followed by a blank and nothing else: a build without keys.
    for (std::string_view rest = *keys; !rest.empty();) {
        const std::size_t end = std::min(rest.find(' '), rest.size());
        const std::string_view key = rest.substr(0, end);
        if (key.size() != kFingerprintDigits || !IsLowerHex(key)) {
            reason = "its build record's keys are not fingerprints of 16 lower-case hexadecimal digits";
            return std::nullopt;
        }
        build.keys.emplace_back(key);
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return build;
}

LauncherExamination ExamineLauncher(const std::wstring& path) {
    LauncherExamination examination;
    if ((examination.failure = CheckSourceFile(path))) {
        return examination;
    }
    const std::string refusal = "not a launcher: ";
    const std::optional<PeImageKind> kind = ReadKind(path, refusal, examination.failure);
    if (!kind) {
        return examination;
    }
    if (!IsPe32PlusX64(*kind) || (kind->characteristics & pe::kFileDll) != 0) {
        examination.failure =
            Failure{path, refusal + DescribeKind(*kind) + "; the launcher is a 64-bit (x64) Windows program"};
        return examination;
    }
    if (ExamineClientTarget(path).verdict == ClientTargetVerdict::Target) {
        examination.failure =
            Failure{path, refusal + "it is a game program: it imports " + std::string(kClientLibraryName) +
                              " and nothing else, as the game does"};
        return examination;
    }
    if (kind->subsystem != pe::kSubsystemWindowsGui) {
        examination.failure = Failure{path, refusal + "it is a 64-bit " +
                                                (kind->subsystem == pe::kSubsystemWindowsCui
                                                     ? std::string("console program")
                                                     : "program of subsystem " + std::to_string(kind->subsystem)) +
                                                "; the launcher is a Windows GUI program"};
        return examination;
    }
    const PeResource record = ReadPeResource(path, kRtRcdata, kBuildRecordName, kMaxBuildRecord);
    switch (record.read) {
        case PeRead::Found:
            break;
        case PeRead::CannotRead:
            examination.failure = Failure{path, "cannot be opened for reading"};
            return examination;
        case PeRead::NotPe:
        case PeRead::Missing:
            examination.failure =
                Failure{path, refusal +
                                  "it is a 64-bit Windows program without the launcher's build record (the ZVBUILD "
                                  "resource every launcher build carries: its update host, version and keys)"};
            return examination;
        case PeRead::Malformed:
            examination.failure = Failure{path, refusal +
                                                    "its resources, or its ZVBUILD resource, cannot be read: the file "
                                                    "is damaged or cut short"};
            return examination;
    }
    std::string reason;
    const auto build = ParseBuildRecord(
        std::string_view(reinterpret_cast<const char*>(record.data.data()), record.data.size()), reason);
    if (!build) {
        examination.failure =
            Failure{path, refusal + "its ZVBUILD resource is no build record zvpublish reads: " + reason};
        return examination;
    }
    examination.build = *build;
    return examination;
}

std::optional<Failure> ExamineStub(const std::wstring& path, std::uint16_t machine) {
    if (auto failure = CheckSourceFile(path)) {
        return failure;
    }
    const std::string refusal = "not a client stub: ";
    std::optional<Failure> failure;
    const std::optional<PeImageKind> kind = ReadKind(path, refusal, failure);
    if (!kind) {
        return failure;
    }
    const pe::OptionalHeaderLayout* layout = pe::OptionalHeaderLayoutFor(machine);
    const bool dll = (kind->characteristics & pe::kFileDll) != 0;
    if (dll && kind->machine == machine && layout != nullptr && kind->magic == layout->magic) {
        return std::nullopt;
    }
    const std::string wanted = "the game is a " + MachineName(machine) + " program and loads only a " +
                               MachineName(machine) + " DLL as " + std::string(kClientLibraryName);
    return Failure{path, refusal + DescribeKind(*kind) + (dll ? "; " : ", not a DLL; ") + wanted};
}

}  // namespace zv::publish
