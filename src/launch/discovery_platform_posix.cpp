// The stand-in for a build without Windows.
//
// Paths: discovery builds its paths as on Windows, with "\" between the parts, so every "\" is
// turned into "/" here before a POSIX call (a file name that itself holds a backslash cannot be
// reached through this layer). "/" is left alone.
//
// Listing order: the entries of one directory come sorted by name, "." and ".." included, so that
// a scan is repeatable from run to run. As on NTFS (and under Wine), letter case does not count:
// names are compared with the ASCII letters upper-cased, then byte by byte to break ties.
//
// Attributes: a directory has the directory bit. A symbolic link stands for a Windows reparse
// point: it has the reparse-point bit, plus the directory bit when it leads to a directory (as a
// junction or directory symbolic link has on Windows). Everything else is a plain file.

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "common/native_path.h"
#include "launch/discovery_platform.h"

namespace zv {

namespace {

constexpr std::uint32_t kFileAttributeNormal = 0x80;  // FILE_ATTRIBUTE_NORMAL

std::wstring WithSlashes(std::wstring_view path) {
    std::wstring out(path);
    std::replace(out.begin(), out.end(), L'\\', L'/');
    return out;
}

std::uint32_t LinkAttributes(const std::string& path) {
    struct stat target {};
    const bool toDirectory = ::stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
    return kFileAttributeReparsePoint | (toDirectory ? kFileAttributeDirectory : 0);
}

// Attributes of an entry given its lstat mode.
std::uint32_t AttributesFromMode(const std::string& path, mode_t mode) {
    if (S_ISLNK(mode)) {
        return LinkAttributes(path);
    }
    return S_ISDIR(mode) ? kFileAttributeDirectory : kFileAttributeNormal;
}

unsigned char UpperAscii(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 'a' && u <= 'z' ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}

bool ListedBefore(const std::string& a, const std::string& b) {
    const auto less = [](char x, char y) { return UpperAscii(x) < UpperAscii(y); };
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), less)) {
        return true;
    }
    if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), less)) {
        return false;
    }
    return a < b;
}

struct CloseDir {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

struct DirectorySearch::Impl {
    struct Item {
        std::string name;
        unsigned char type = DT_UNKNOWN;
    };
    std::string directory;  // the prefix of every entry's path: empty or ending in "/"
    std::vector<Item> items;
    std::size_t next = 0;
    std::wstring current;
};

DirectorySearch::DirectorySearch(const std::wstring& pattern) : impl_(std::make_unique<Impl>()) {
    if (pattern.empty() || pattern.back() != L'*') {
        return;
    }
    impl_->directory = ToNativePath(WithSlashes(std::wstring_view(pattern).substr(0, pattern.size() - 1)));
    const std::unique_ptr<DIR, CloseDir> dir(::opendir(impl_->directory.empty() ? "." : impl_->directory.c_str()));
    if (!dir) {
        return;
    }
    while (const dirent* item = ::readdir(dir.get())) {
        impl_->items.push_back({item->d_name, item->d_type});
    }
    std::sort(impl_->items.begin(), impl_->items.end(),
              [](const Impl::Item& a, const Impl::Item& b) { return ListedBefore(a.name, b.name); });
}

DirectorySearch::~DirectorySearch() = default;

bool DirectorySearch::Next(DirectoryEntry& entry) {
    if (impl_->next >= impl_->items.size()) {
        return false;
    }
    const Impl::Item& item = impl_->items[impl_->next++];
    impl_->current = FromNativePath(item.name);
    entry.name = impl_->current;
    switch (item.type) {
        case DT_DIR:
            entry.attributes = kFileAttributeDirectory;
            break;
        case DT_REG:
            entry.attributes = kFileAttributeNormal;
            break;
        case DT_LNK:
            entry.attributes = LinkAttributes(impl_->directory + item.name);
            break;
        default: {
            // The file system did not say what the entry is; ask.
            const std::string path = impl_->directory + item.name;
            struct stat info {};
            entry.attributes =
                ::lstat(path.c_str(), &info) == 0 ? AttributesFromMode(path, info.st_mode) : kFileAttributeNormal;
            break;
        }
    }
    return true;
}

std::uint32_t QueryFileAttributes(const std::wstring& path) {
    if (path.empty()) {
        return kInvalidFileAttributes;
    }
    const std::string native = ToNativePath(WithSlashes(path));
    struct stat info {};
    if (::lstat(native.c_str(), &info) != 0) {
        return kInvalidFileAttributes;
    }
    return AttributesFromMode(native, info.st_mode);
}

ReadOnlyFile OpenForReading(const std::wstring& path) { return ReadOnlyFile(WithSlashes(path)); }

}  // namespace zv
