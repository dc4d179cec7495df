#include "common/log_place.h"

#include "common/text.h"

namespace zv {

namespace {

LogPlace Check(const OpenedEntry& opened, std::wstring_view expectedPath, bool folder) {
    if (opened.reparsePoint) {
        return LogPlace::ReparsePoint;
    }
    if (opened.directory != folder) {
        return LogPlace::WrongKind;
    }
    if (opened.finalPath.empty() || !SameFinalPath(opened.finalPath, expectedPath)) {
        return LogPlace::Elsewhere;
    }
    if (!folder && opened.links != 1) {
        return LogPlace::MoreThanOneName;
    }
    return LogPlace::Usable;
}

}  // namespace

LogPlace CheckLogFolder(const OpenedEntry& opened, std::wstring_view expectedPath) {
    return Check(opened, expectedPath, true);
}

LogPlace CheckLogFile(const OpenedEntry& opened, std::wstring_view expectedPath) {
    return Check(opened, expectedPath, false);
}

bool SameFinalPath(std::wstring_view a, std::wstring_view b) { return EqualsIgnoringAsciiCase(a, b); }

}  // namespace zv
