#include "discovery_bench_tree.h"

#include <array>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "common/read_only_file.h"
#include "discovery_test_support.h"
#include "file_bytes.h"
#include "launch/discovery_platform.h"
#include "launch/target_discovery.h"
#include "pe_builder.h"

namespace zv::bench {

namespace fs = std::filesystem;

namespace {

constexpr int kSubfolders = 20;
constexpr int kFilesPerSubfolder = 500;
constexpr int kPeFilesPerSubfolder = 100;

std::wstring Joined(const std::wstring& directory, std::wstring_view name) {
    std::wstring path = directory;
    if (!path.empty() && path.back() != L'\\') {
        path.push_back(L'\\');
    }
    path.append(name);
    return path;
}

// The name of the last entry of a listing that satisfies keep.
template <typename Keep>
std::wstring LastListed(const std::wstring& directory, Keep keep) {
    DirectorySearch search(Joined(directory, L"*"));
    DirectoryEntry entry;
    std::wstring last;
    while (search.Next(entry)) {
        if (entry.name != L"." && entry.name != L".." && keep(entry)) {
            last = entry.name;
        }
    }
    if (last.empty()) {
        throw std::runtime_error("benchmark tree: nothing listed");
    }
    return last;
}

}  // namespace

BenchTree MakeBenchTree(const fs::path& root) {
    using test::BuildPe;
    using test::MakeImportingImage;
    const test::Bytes dll = BuildPe(MakeImportingImage({"ZVClient.dll", "KERNEL32.dll"}));
    const test::Bytes target = BuildPe(MakeImportingImage({"ZVClient.dll"}));
    const test::Bytes launcher = BuildPe(MakeImportingImage({"KERNEL32.dll", "USER32.dll", "WINHTTP.dll"}));
    const test::Bytes data(700, 0x5A);
    constexpr std::array<const char*, 4> kDataExtensions = {".pak", ".txt", ".png", ".json"};

    BenchTree tree;
    test::WriteFileBytes(root / "Foo_ZV.exe", launcher);
    test::WriteFileBytes(root / "Foo.exe", launcher);
    for (int folder = 0; folder < kSubfolders; ++folder) {
        const fs::path subfolder = root / ("pack" + std::to_string(folder));
        fs::create_directory(subfolder);
        for (int file = 0; file < kFilesPerSubfolder; ++file) {
            const bool pe = file % (kFilesPerSubfolder / kPeFilesPerSubfolder) == 0;
            const std::string name = pe ? "module" + std::to_string(file) + ".dll"
                                        : "asset" + std::to_string(file) + kDataExtensions[file % 4];
            test::WriteFileBytes(subfolder / name, pe ? dll : data);
            ++tree.files;
            tree.peFiles += pe ? 1 : 0;
        }
    }

    // The target replaces a DLL's content under the DLL's own name, so the listing order stays.
    const std::wstring rootPath = test::DiscoveryPath(root);
    const std::wstring lastFolder = Joined(rootPath, LastListed(rootPath, [](const DirectoryEntry& e) {
                                               return (e.attributes & kFileAttributeDirectory) != 0;
                                           }));
    tree.clientTarget =
        Joined(lastFolder, LastListed(lastFolder, [](const DirectoryEntry& e) {
                   return (e.attributes & kFileAttributeDirectory) == 0 && HasCandidateExtension(e.name);
               }));
    test::WriteFileBytes(fs::path(root) / fs::path(lastFolder.substr(rootPath.size() + 1)) /
                             fs::path(tree.clientTarget.substr(lastFolder.size() + 1)),
                         target);
    tree.launcherPath = Joined(rootPath, L"Foo_ZV.exe");
    return tree;
}

std::uint32_t ListAndReadFirstBytes(const std::wstring& directory, std::uint32_t depth) {
    std::uint32_t read = 0;
    DirectorySearch search(Joined(directory, L"*"));
    DirectoryEntry entry;
    while (search.Next(entry)) {
        if (entry.name == L"." || entry.name == L"..") {
            continue;
        }
        if ((entry.attributes & kFileAttributeDirectory) != 0) {
            if (depth == 0 && (entry.attributes & kFileAttributeReparsePoint) == 0) {
                read += ListAndReadFirstBytes(Joined(directory, entry.name), depth + 1);
            }
            continue;
        }
        if (!HasCandidateExtension(entry.name)) {
            continue;
        }
        ReadOnlyFile file = OpenForReading(Joined(directory, entry.name));
        std::array<std::uint8_t, 64> header{};
        if (file.IsOpen() && file.ReadExactly(header.data(), header.size())) {
            ++read;
        }
    }
    return read;
}

}  // namespace zv::bench
