#include <windows.h>

#include "common/unique_handle.h"
#include "launch/discovery_platform.h"

namespace zv {

struct DirectorySearch::Impl {
    UniqueFind find;
    WIN32_FIND_DATAW data{};
    bool firstPending = false;
};

DirectorySearch::DirectorySearch(const std::wstring& pattern) : impl_(std::make_unique<Impl>()) {
    impl_->find.reset(::FindFirstFileW(pattern.c_str(), &impl_->data));
    impl_->firstPending = impl_->find.valid();
}

DirectorySearch::~DirectorySearch() = default;

bool DirectorySearch::Next(DirectoryEntry& entry) {
    if (!impl_->find) {
        return false;
    }
    if (impl_->firstPending) {
        impl_->firstPending = false;
    } else if (!::FindNextFileW(impl_->find.get(), &impl_->data)) {
        // The end of the listing and a failure alike end the search; its handle goes right away.
        impl_->find.reset();
        return false;
    }
    entry.name = impl_->data.cFileName;
    entry.attributes = impl_->data.dwFileAttributes;
    return true;
}

std::uint32_t QueryFileAttributes(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()); }

ReadOnlyFile OpenForReading(const std::wstring& path) { return ReadOnlyFile(path); }

}  // namespace zv
