#include "zvpublish/commands/status_report.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "update/tree_layout.h"
#include "zvpublish/commands/terminal_text.h"

namespace zv::publish {

namespace {

using Json = nlohmann::ordered_json;

std::int64_t AgeSeconds(FileTime modified, FileTime now) {
    return std::max<std::int64_t>(0, std::chrono::duration_cast<std::chrono::seconds>(now - modified).count());
}

// "2024-03-01T12:00:00Z": whole seconds, UTC.
std::string IsoTime(FileTime time) {
    return FormatUtcTime(std::chrono::floor<std::chrono::milliseconds>(time), UtcPrecision::Seconds);
}

struct Totals {
    std::size_t files = 0;
    std::map<std::string, std::uint64_t> served;  // each file a manifest names, once
    std::size_t unnamedFiles = 0;
    std::uint64_t unnamedBytes = 0;
    std::size_t leftAloneFiles = 0;
    std::uint64_t leftAloneBytes = 0;

    [[nodiscard]] std::uint64_t ServedBytes() const {
        std::uint64_t bytes = 0;
        for (const auto& [path, size] : served) {
            bytes += size;
        }
        return bytes;
    }
};

// Every manifest folder, the launcher's first.
template <typename Visit>
void ForEachFolder(const TreeContents& contents, Visit visit) {
    if (contents.launcher) {
        visit(*contents.launcher);
    }
    for (const auto& folder : contents.stubs) {
        visit(folder);
    }
}

Totals CountFiles(const TreeContents& contents) {
    Totals totals;
    ForEachFolder(contents, [&](const ManifestFolder& folder) {
        if (folder.state == ManifestState::Good && !folder.namedRelative.empty() && folder.namedFacts) {
            totals.served[folder.namedRelative] = folder.namedFacts->size;
        }
        for (const auto& file : folder.files) {
            ++totals.files;
            const std::uint64_t size = file.facts ? file.facts->size : 0;
            if (!folder.Served()) {
                ++totals.leftAloneFiles;
                totals.leftAloneBytes += size;
            } else if (file.named) {
                if (file.facts) {
                    totals.served[file.relative] = size;
                }
            } else {
                ++totals.unnamedFiles;
                totals.unnamedBytes += size;
            }
        }
    });
    return totals;
}

const char* StateName(ManifestState state) {
    switch (state) {
        case ManifestState::Good:
            return "good";
        case ManifestState::Withdrawn:
            return "withdrawn";
        case ManifestState::Missing:
            return "missing";
        case ManifestState::Unreadable:
            return "unreadable";
    }
    return "";
}

// "1 file", "2 files".
std::string Plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Seconds from now to the manifest's expiry, negative once it has passed.
std::int64_t SecondsToExpiry(FileTime expires, FileTime now) {
    return std::chrono::duration_cast<std::chrono::seconds>(expires - now).count();
}

// "never expires", "expires at T, in 6.5 days", "expired at T, 2.0 days ago".
std::string ExpiryText(const ManifestFolder& folder, FileTime now) {
    if (!folder.expires) {
        return "never expires";
    }
    const std::string at = EscapeForTerminal(folder.expiresText.value_or(""));
    if (*folder.expires < now) {
        return "expired at " + at + ", " + FormatAge(*folder.expires, now) + " ago";
    }
    return "expires at " + at + ", in " + FormatAge(now, *folder.expires);
}

// How a manifest's signature reads, for a person.
std::string SignatureText(const ManifestFolder& folder) {
    switch (folder.signature) {
        case SignatureState::Unsigned:
            return "unsigned";
        case SignatureState::NotChecked:
            return "signed (not checked; give --public-keys)";
        case SignatureState::Verifies:
            return "signed by " + folder.signedBy;
        case SignatureState::DoesNotVerify:
            return "signature does not verify with the given keys: " + EscapeForTerminal(folder.signatureProblem);
    }
    return "";
}

const char* SignatureName(SignatureState state) {
    switch (state) {
        case SignatureState::Unsigned:
            return "unsigned";
        case SignatureState::NotChecked:
            return "not checked";
        case SignatureState::Verifies:
            return "verifies";
        case SignatureState::DoesNotVerify:
            return "does not verify";
    }
    return "";
}

// ---------------------------------------------------------------------------------------------
// For a person

void DescribeManifest(std::ostringstream& out, const ManifestFolder& folder, const std::string& indent, FileTime now) {
    if (!folder.Served()) {
        out << indent << folder.manifestRelative << " " << EscapeForTerminal(folder.problem)
            << "; the files of this folder are left alone\n";
        return;
    }
    const std::string version = folder.version ? FormatVersion(*folder.version) : "none";
    const std::string expiry = folder.signedForm ? "  (" + ExpiryText(folder, now) + ")" : "";
    out << indent << (folder.state == ManifestState::Withdrawn ? "withdrawn at version " : "version  ") << version
        << expiry << "\n";
    out << indent << "signature  " << SignatureText(folder) << "\n";
    if (folder.state == ManifestState::Withdrawn) {
        return;
    }
    out << indent << "sha1  " << Sha1ToHex(folder.sha1) << "\n";
    out << indent << "file  ";
    if (folder.namedRelative.empty()) {
        out << "outside the tree: " << EscapeForTerminal(folder.url) << "\n";
    } else if (!folder.namedFacts) {
        out << EscapeForTerminal(folder.namedRelative) << "  (missing)\n";
    } else {
        out << EscapeForTerminal(folder.namedRelative) << "  (" << FormatSize(folder.namedFacts->size) << ")\n";
    }
}

void DescribeFiles(std::ostringstream& out, const TreeContents& contents, FileTime now, bool served) {
    ForEachFolder(contents, [&](const ManifestFolder& folder) {
        if (folder.Served() != served) {
            return;
        }
        for (const auto& file : folder.files) {
            if (file.named) {
                continue;
            }
            out << "  " << file.relative << "  (";
            if (!file.facts) {
                out << "size and age unknown: " << EscapeForTerminal(file.factsProblem) << ")\n";
            } else if (served) {
                out << FormatSize(file.facts->size) << ", " << FormatAge(file.facts->modified, now) << " old)\n";
            } else {
                out << FormatSize(file.facts->size) << ")\n";
            }
        }
    });
}

// ---------------------------------------------------------------------------------------------
// For scripts

Json OrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

Json ManifestJson(const ManifestFolder& folder, FileTime now) {
    Json json;
    if (folder.kind == FolderKind::Stub) {
        json["key"] = ToUtf8(folder.key);
    }
    const bool good = folder.state == ManifestState::Good;
    json["folder"] = folder.relative;
    json["manifest"] = folder.manifestRelative;
    json["state"] = StateName(folder.state);
    json["problem"] = folder.Served() ? Json(nullptr) : Json(folder.problem);
    json["version"] = folder.version ? Json(FormatVersion(*folder.version)) : Json(nullptr);
    json["signed"] = folder.signedForm;
    json["signature"] = folder.Served() ? Json(SignatureName(folder.signature)) : Json(nullptr);
    json["signed_by"] = OrNull(folder.signedBy);
    json["signature_problem"] = OrNull(folder.signatureProblem);
    json["expires"] = folder.expiresText ? Json(*folder.expiresText) : Json(nullptr);
    json["expires_in_seconds"] = folder.expires ? Json(SecondsToExpiry(*folder.expires, now)) : Json(nullptr);
    json["sha1"] = good ? Json(Sha1ToHex(folder.sha1)) : Json(nullptr);
    json["url"] = good ? Json(folder.url) : Json(nullptr);
    json["file"] = OrNull(folder.namedRelative);
    json["size"] = folder.namedFacts ? Json(folder.namedFacts->size) : Json(nullptr);
    return json;
}

Json FileJson(const ContentFile& file, FileTime now) {
    Json json;
    json["file"] = file.relative;
    json["size"] = file.facts ? Json(file.facts->size) : Json(nullptr);
    json["modified"] = file.facts ? Json(IsoTime(file.facts->modified)) : Json(nullptr);
    json["age_seconds"] = file.facts ? Json(AgeSeconds(file.facts->modified, now)) : Json(nullptr);
    return json;
}

}  // namespace

std::string FormatSize(std::uint64_t bytes) {
    if (bytes < 1024) {
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    }
    const char* units[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string FormatAge(FileTime modified, FileTime now) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f days", static_cast<double>(AgeSeconds(modified, now)) / 86400);
    return text;
}

std::string FormatStatus(const TreeContents& contents, const std::wstring& tree, FileTime now) {
    std::ostringstream out;
    out << EscapeForTerminal(ToUtf8(tree)) << ": status at " << IsoTime(now) << "\n\nlauncher\n";
    if (contents.launcher) {
        DescribeManifest(out, *contents.launcher, "  ", now);
    } else {
        out << "  no launcher folder\n";
    }
    out << "\nstub builds: " << contents.stubs.size() << "\n";
    for (const auto& folder : contents.stubs) {
        out << "  " << ToUtf8(folder.key) << "\n";
        DescribeManifest(out, folder, "    ", now);
    }
    const Totals totals = CountFiles(contents);
    out << "\nnamed by no manifest: " << Plural(totals.unnamedFiles, "file", "files") << "\n";
    DescribeFiles(out, contents, now, true);
    if (totals.leftAloneFiles != 0) {
        out << "\nin folders whose manifest is missing or cannot be read: "
            << Plural(totals.leftAloneFiles, "file", "files") << "\n";
        DescribeFiles(out, contents, now, false);
    }
    if (!contents.unlisted.empty()) {
        out << "\nfolders that cannot be listed:\n";
        for (const auto& folder : contents.unlisted) {
            out << "  " << EscapeForTerminal(folder.relative) << ": " << EscapeForTerminal(folder.reason) << "\n";
        }
    }
    if (!contents.links.empty()) {
        out << "\nlinks, neither followed nor counted:\n";
        for (const auto& link : contents.links) {
            out << "  " << EscapeForTerminal(link.relative) << "\n";
        }
    }
    out << "\ntotal: " << Plural(totals.files, "content-named file", "content-named files") << "; served "
        << FormatSize(totals.ServedBytes()) << " in " << Plural(totals.served.size(), "file", "files")
        << "; named by no manifest " << FormatSize(totals.unnamedBytes) << " in "
        << Plural(totals.unnamedFiles, "file", "files");
    if (totals.leftAloneFiles != 0) {
        out << "; left alone " << FormatSize(totals.leftAloneBytes) << " in "
            << Plural(totals.leftAloneFiles, "file", "files");
    }
    out << "\n";
    return out.str();
}

std::string FormatStatusJson(const TreeContents& contents, const std::wstring& tree, FileTime now) {
    Json json;
    json["format"] = kStatusFormat;
    json["tree"] = ToUtf8(tree);
    json["now"] = IsoTime(now);
    json["launcher"] = contents.launcher ? ManifestJson(*contents.launcher, now) : Json(nullptr);
    json["stubs"] = Json::array();
    json["unreferenced"] = Json::array();
    json["left_alone"] = Json::array();
    json["unlisted"] = Json::array();
    json["links"] = Json::array();
    ForEachFolder(contents, [&](const ManifestFolder& folder) {
        if (folder.kind == FolderKind::Stub) {
            json["stubs"].push_back(ManifestJson(folder, now));
        }
        for (const auto& file : folder.files) {
            if (!file.named) {
                json[folder.Served() ? "unreferenced" : "left_alone"].push_back(FileJson(file, now));
            }
        }
    });
    for (const auto& folder : contents.unlisted) {
        json["unlisted"].push_back(Json{{"folder", folder.relative}, {"problem", folder.reason}});
    }
    for (const auto& link : contents.links) {
        json["links"].push_back(Json{{"path", link.relative}});
    }
    const Totals totals = CountFiles(contents);
    json["totals"] = Json{
        {"files", totals.files},
        {"served_files", totals.served.size()},
        {"served_bytes", totals.ServedBytes()},
        {"unreferenced_files", totals.unnamedFiles},
        {"unreferenced_bytes", totals.unnamedBytes},
        {"left_alone_files", totals.leftAloneFiles},
        {"left_alone_bytes", totals.leftAloneBytes},
    };
    // ASCII only: JSON on a terminal carries no character it could act on.
    return json.dump(2, ' ', true, Json::error_handler_t::replace) + "\n";
}

std::vector<Failure> ExpiryWarnings(const TreeContents& contents, FileTime now) {
    std::vector<Failure> warnings;
    ForEachFolder(contents, [&](const ManifestFolder& folder) {
        const std::wstring manifest = JoinPath(folder.path, std::wstring(kManifestName));
        if (folder.Served() && folder.signedForm && !folder.expires) {
            warnings.push_back({manifest,
                                "is signed and never expires: a host that withholds updates, or a copy of "
                                "the tree, can serve it to players for ever; zvpublish refresh --expires-in DAYS "
                                "signs it again with an expiry"});
            return;
        }
        if (!folder.Served() || !folder.expires || *folder.expires - now > kExpiryWarning) {
            return;
        }
        if (*folder.expires < now) {
            warnings.push_back({manifest, "has expired: " + ExpiryText(folder, now) +
                                              "; launchers built with keys refuse it until zvpublish refresh signs it "
                                              "again with a new expiry"});
        } else {
            warnings.push_back({manifest, ExpiryText(folder, now) + "; renew it with zvpublish refresh before then"});
        }
    });
    return warnings;
}

}  // namespace zv::publish
