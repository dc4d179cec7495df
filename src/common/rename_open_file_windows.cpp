#include "common/rename_open_file.h"

#include <cstddef>

namespace zv {

bool RenameOpenFile(HANDLE file, const std::wstring& target, bool replace) {
    // FILE_RENAME_INFO ends in the name's first character: the buffer holds the structure and the
    // whole name after it, in units of wchar_t so that it is aligned for the structure.
    std::wstring buffer(sizeof(FILE_RENAME_INFO) / sizeof(wchar_t) + target.size() + 1, L'\0');
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    target.copy(info->FileName, target.size());
    return ::SetFileInformationByHandle(file, FileRenameInfo, info,
                                        static_cast<DWORD>(buffer.size() * sizeof(wchar_t))) != FALSE;
}

}  // namespace zv
