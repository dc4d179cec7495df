// The rule that decides whether the log may be written where it was opened. The platform's side
// (opening without following links, reading what a handle says) runs end to end under Wine with
// links planted in the log's place: tests/e2e/test_log.py.
#include "common/log_place.h"

#include <gtest/gtest.h>

namespace {

using zv::LogPlace;
using zv::OpenedEntry;

constexpr wchar_t kFolder[] = L"\\\\?\\C:\\Users\\p\\AppData\\Local\\Zarnovelle\\Logs";
constexpr wchar_t kFile[] = L"\\\\?\\C:\\Users\\p\\AppData\\Local\\Zarnovelle\\Logs\\launcher.log";

TEST(CheckLogPlace, OnlyTheEntryItselfAtItsOwnPlace) {
    const struct {
        const char* name;
        OpenedEntry opened;
        bool folder;
        LogPlace place;
        const wchar_t* expected = nullptr;  // the folder's or the file's path above when null
    } cases[] = {
        {"the folder", {false, true, 1, kFolder}, true, LogPlace::Usable},
        {"the folder, its name in another case",
         {false, true, 1, L"\\\\?\\C:\\USERS\\p\\AppData\\Local\\zarnovelle\\LOGS"},
         true,
         LogPlace::Usable},
        {"the file", {false, false, 1, kFile}, false, LogPlace::Usable},
        {"a junction or symbolic link as the folder", {true, true, 1, kFolder}, true, LogPlace::ReparsePoint},
        {"a symbolic link as the file", {true, false, 1, kFile}, false, LogPlace::ReparsePoint},
        {"a link the platform followed to another folder",
         {false, true, 1, L"\\\\?\\C:\\Windows\\System32"},
         true,
         LogPlace::Elsewhere},
        {"a link the platform followed to another file",
         {false, false, 1, L"\\\\?\\C:\\Windows\\win.ini"},
         false,
         LogPlace::Elsewhere},
        {"a longer path that begins with the expected one",
         {false, true, 1, std::wstring(kFolder) + L"2"},
         true,
         LogPlace::Elsewhere},
        {"no final path", {false, true, 1, L""}, true, LogPlace::Elsewhere},
        {"a file in the folder's place", {false, false, 1, kFolder}, true, LogPlace::WrongKind},
        {"a folder in the file's place", {false, true, 1, kFile}, false, LogPlace::WrongKind},
        {"a file with a second name elsewhere", {false, false, 2, kFile}, false, LogPlace::MoreThanOneName},
        {"a letter beyond ASCII in another case",
         {false, true, 1, L"\\\\?\\C:\\Users\\\u00c9\\Logs"},
         true,
         LogPlace::Elsewhere,
         L"\\\\?\\C:\\Users\\\u00e9\\Logs"},
    };
    for (const auto& c : cases) {
        const std::wstring expected = c.expected ? c.expected : (c.folder ? kFolder : kFile);
        const LogPlace place = c.folder ? zv::CheckLogFolder(c.opened, expected) : zv::CheckLogFile(c.opened, expected);
        EXPECT_EQ(place, c.place) << c.name;
    }
}

}  // namespace
