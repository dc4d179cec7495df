// The two manifests' signature checks of a current run, alone, timed inside one process: what a
// launcher built with signing keys does beyond one built without. The process first loads
// WinHTTP, as the launcher has by the time it checks (under Wine, WinHTTP brings BCrypt in).
//
//   zv_signature_check KEYS.pem HOST PATH MANIFEST [PATH MANIFEST ...]
//
// Prints one JSON line: the time of the first round of checks (with BCrypt's providers opened on
// the way), and the median of later rounds.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "common/read_only_file.h"
#include "common/text.h"
#include "update/manifest.h"
#include "update/manifest_signature.h"
#include "zvpublish/signing/public_keys.h"

namespace {

std::string ReadAll(const std::wstring& path) {
    zv::ReadOnlyFile file(path);
    std::string text(1 << 20, '\0');
    std::uint32_t read = 0;
    if (!file.IsOpen() || !file.ReadUntilFullOrEnd(text.data(), static_cast<std::uint32_t>(text.size()), read)) {
        return {};
    }
    text.resize(read);
    return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 5 || argc % 2 != 1) {
        std::fprintf(stderr, "usage: zv_signature_check KEYS.pem HOST PATH MANIFEST [PATH MANIFEST ...]\n");
        return 2;
    }
    std::string reason;
    const auto keys = zv::publish::ReadPublicKeys(argv[1], reason);
    if (!keys) {
        std::fprintf(stderr, "keys: %s\n", reason.c_str());
        return 1;
    }
    std::vector<std::pair<std::wstring, std::string>> manifests;
    const std::string host = zv::MessageHost(argv[2]).value_or("");
    for (int i = 3; i + 1 < argc; i += 2) {
        manifests.emplace_back(argv[i], ReadAll(argv[i + 1]));
    }
    ::LoadLibraryExW(L"winhttp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);

    using Clock = std::chrono::steady_clock;
    const auto checkAll = [&] {
        const auto start = Clock::now();
        for (const auto& [path, body] : manifests) {
            const zv::ManifestPlace place =
                path == L"/launcher/manifest.json" ? zv::ManifestPlace::Launcher : zv::ManifestPlace::Stub;
            if (zv::CheckSignedManifest(zv::ReadManifest(body), host, zv::ToUtf8(path), place, *keys,
                                        std::chrono::system_clock::now())
                    .trust != zv::ManifestTrust::Trusted) {
                std::fprintf(stderr, "not trusted: %ls\n", path.c_str());
                std::exit(1);
            }
        }
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };
    const double first = checkAll();
    std::vector<double> again;
    for (int i = 0; i < 101; ++i) {
        again.push_back(checkAll());
    }
    std::sort(again.begin(), again.end());
    std::printf("{\"first_ms\": %.4f, \"again_ms\": %.4f, \"repeats\": %zu}\n", first, again[again.size() / 2],
                again.size());
    return 0;
}
