// zvwin: the end-to-end tests' hands and eyes inside the Wine prefix. It finds the launcher's
// windows and message boxes, describes them as JSON on stdout, presses their buttons, and holds
// resources (a mutex, a locked file) for as long as the test keeps its stdin open.
//
// --hwnd N may stand for --title T (and --class C) wherever a command names a window: the window
// with that handle, as a description gave it.
//
// A description lists the window's children; a progress bar among them (the splash's download
// bar) comes with its position (PBM_GETPOS) and whether it is a marquee. A top-level window also
// says which window has the keyboard focus in its thread ("focus").
//
//   zvwin find    --title T [--class C] [--timeout MS]   describe a top-level window (exit 3: none)
//                 [--visible 1]                          ... once it is also visible
//   zvwin windows [--title T] [--class C]                every matching top-level window, hidden ones
//                                                        too, as a JSON array (--title "" = no title)
//   zvwin absent  --title T [--class C] [--for MS]       exit 0 when no such window shows up
//   zvwin press   --title T --button TEXT [--timeout MS] click a button of that window
//   zvwin press   --title T --id N [--timeout MS]        ... the button with that control id (the
//                                                        boxes' buttons, whatever their language)
//   zvwin close   --title T [--timeout MS]               WM_CLOSE, as the caption's close box sends
//   zvwin altf4   --title T [--timeout MS]               WM_SYSCOMMAND SC_CLOSE, as Alt+F4 sends
//   zvwin altf4   --title T --keys                       the Alt+F4 key strokes themselves
//   zvwin key     --title T --vk N [--button TEXT]       a key press sent to the window (or to one
//                 [--focused 1] [--alt 1]                of its buttons, or to the control that has
//                 [--timeout MS]                         the focus in the window's thread); with
//                                                        --alt, with Alt held (an access key)
//   zvwin accessible --title T [--class C]               each child's accessible name, role and
//                                                        keyboard shortcut as a screen reader
//                                                        reads them (oleacc), as a JSON array
//   zvwin screen [--dpi N]                               the primary screen's size and the stock
//                                                        GUI font and white brush as this process
//                                                        sees them, and the height of the
//                                                        system's message font at N DPI, and the
//                                                        greatest height a window may have
//   zvwin watch                                          install zvhook.dll's journal hooks for the
//                                                        whole prefix until stdin closes
//   zvwin hold-mutex NAME                                own a named mutex until stdin closes
//   zvwin hold-file PATH [--share none|read|write]       keep a file open until stdin closes
//                   [--access read]                      ... for reading only (default: read and
//                                                        write)
//   zvwin trust-ca FILE.der                              add a CA to the machine's Root store
//   zvwin probation confirm|hang                         play a launcher started on probation: set
//                                                        the event its token names and end, or
//                                                        hang without a window until ended
//   zvwin overwrite-new FILE FOLDER...                   until stdin closes, try again and again to
//                                                        overwrite, with FILE's bytes, every file in
//                                                        the folders that was not there when it
//                                                        began (but launch-record.txt); print what
//                                                        it overwrote, one name a line
//   zvwin with-env NAME=VALUE... -- PROGRAM [ARGS...]    run PROGRAM with these variables set in
//                                                        its environment, wait for it and exit
//                                                        with its exit code (Wine sets TMP, TEMP
//                                                        and PATH from the prefix, whatever the
//                                                        Unix environment says)
#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int n =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::string JsonString(const std::wstring& text) {
    std::string out = "\"";
    for (const unsigned char c : Utf8(text)) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out + "\"";
}

// Sends a message to a window of another process and waits for the answer, but never for ever:
// a window whose thread is busy or hung answers 0 after a few seconds instead of blocking the test.
LRESULT Ask(HWND hwnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_ABORTIFHUNG | SMTO_BLOCK, 5000, &result)) {
        std::fprintf(stderr, "zvwin: window %p did not answer message %u\n", static_cast<void*>(hwnd), message);
        return 0;
    }
    return static_cast<LRESULT>(result);
}

// A bar's position, or "null" when there is none to read: the message went unanswered, or the
// bar was being destroyed while it was asked (its own procedure is gone by then, and the default
// one answers 0, which is no position of the download's). A live bar's range ends above nothing;
// PBM_GETRANGE returns that high limit, with no structure to fill across the process boundary.
std::string BarPosition(HWND bar) {
    constexpr UINT kFlags = SMTO_ABORTIFHUNG | SMTO_BLOCK;
    DWORD_PTR position = 0;
    DWORD_PTR high = 0;
    const bool live = ::SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, kFlags, 5000, &position) != 0 &&
                      ::SendMessageTimeoutW(bar, PBM_GETRANGE, FALSE, 0, kFlags, 5000, &high) != 0 && high > 0 &&
                      ::IsWindow(bar);
    return live ? std::to_string(position) : "null";
}

std::wstring WindowText(HWND hwnd) {
    // WM_GETTEXT reaches windows of other processes too (GetWindowTextW does not for controls).
    const auto length = Ask(hwnd, WM_GETTEXTLENGTH);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const auto copied = Ask(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(copied));
    return text;
}

std::wstring ClassName(HWND hwnd) {
    wchar_t name[256] = {};
    ::GetClassNameW(hwnd, name, 256);
    return name;
}

std::string Describe(HWND hwnd, bool withChildren);

BOOL CALLBACK CollectChild(HWND child, LPARAM param) {
    auto* children = reinterpret_cast<std::vector<HWND>*>(param);
    if (::GetParent(child) == ::GetAncestor(child, GA_PARENT)) {
        children->push_back(child);
    }
    return TRUE;
}

// The colour pixels of an icon at its own size, or nothing when the handle cannot be read.
std::vector<unsigned char> IconPixels(HICON icon) {
    ICONINFO info{};
    if (!::GetIconInfo(icon, &info)) {
        return {};
    }
    std::vector<unsigned char> pixels;
    BITMAP bm{};
    HBITMAP colour = info.hbmColor ? info.hbmColor : info.hbmMask;
    if (::GetObjectW(colour, sizeof bm, &bm) == sizeof bm) {
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = bm.bmWidth;
        bi.bmiHeader.biHeight = bm.bmHeight;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        pixels.resize(static_cast<size_t>(bm.bmWidth) * static_cast<size_t>(bm.bmHeight) * 4);
        HDC dc = ::GetDC(nullptr);
        if (!::GetDIBits(dc, colour, 0, static_cast<UINT>(bm.bmHeight), pixels.data(), &bi, DIB_RGB_COLORS)) {
            pixels.clear();
        }
        ::ReleaseDC(nullptr, dc);
    }
    if (info.hbmColor) {
        ::DeleteObject(info.hbmColor);
    }
    if (info.hbmMask) {
        ::DeleteObject(info.hbmMask);
    }
    return pixels;
}

// Which system icon a static control shows. Icon handles are not shared between processes, so
// the pixels are compared with the system icons this process loads.
std::string IconKind(HWND hwnd) {
    const auto icon = reinterpret_cast<HICON>(Ask(hwnd, STM_GETICON));
    if (icon == nullptr) {
        return "";
    }
    const auto shown = IconPixels(icon);
    if (shown.empty()) {
        return "unreadable";
    }
    const std::pair<const wchar_t*, const char*> kinds[] = {
        {IDI_INFORMATION, "information"}, {IDI_ERROR, "error"}, {IDI_WARNING, "warning"}, {IDI_QUESTION, "question"}};
    for (const auto& [id, name] : kinds) {
        if (IconPixels(::LoadIconW(nullptr, id)) == shown) {
            return name;
        }
    }
    return "other";
}

std::string Describe(HWND hwnd, bool withChildren) {
    RECT rect{};
    ::GetWindowRect(hwnd, &rect);
    RECT client{};
    ::GetClientRect(hwnd, &client);
    POINT clientOrigin{};
    ::ClientToScreen(hwnd, &clientOrigin);
    DWORD pid = 0;
    const DWORD tid = ::GetWindowThreadProcessId(hwnd, &pid);
    const std::wstring cls = ClassName(hwnd);
    char head[640];
    std::snprintf(head, sizeof head,
                  "{\"hwnd\":%llu,\"pid\":%lu,\"tid\":%lu,\"style\":%lu,\"exstyle\":%lu,\"id\":%ld,"
                  "\"visible\":%s,\"rect\":[%ld,%ld,%ld,%ld],\"client\":[%ld,%ld],\"client_origin\":[%ld,%ld],"
                  "\"font\":%llu",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hwnd)), pid, tid,
                  static_cast<unsigned long>(::GetWindowLongW(hwnd, GWL_STYLE)),
                  static_cast<unsigned long>(::GetWindowLongW(hwnd, GWL_EXSTYLE)),
                  static_cast<long>(::GetWindowLongPtrW(hwnd, GWLP_ID)), ::IsWindowVisible(hwnd) ? "true" : "false",
                  rect.left, rect.top, rect.right, rect.bottom, client.right, client.bottom, clientOrigin.x,
                  clientOrigin.y, static_cast<unsigned long long>(Ask(hwnd, WM_GETFONT)));
    std::string out = head;
    out += ",\"class\":" + JsonString(cls) + ",\"text\":" + JsonString(WindowText(hwnd));
    if (_wcsicmp(cls.c_str(), L"Static") == 0) {
        out += ",\"icon\":\"" + IconKind(hwnd) + "\"";
    }
    if (_wcsicmp(cls.c_str(), PROGRESS_CLASSW) == 0) {
        const bool marquee = (::GetWindowLongW(hwnd, GWL_STYLE) & PBS_MARQUEE) != 0;
        out += ",\"position\":" + BarPosition(hwnd) + ",\"marquee\":" + (marquee ? "true" : "false");
    }
    if (_wcsicmp(cls.c_str(), L"Edit") == 0) {
        // Lines as laid out in the control, so wrapped paragraphs count more than once.
        out += ",\"lines\":" + std::to_string(Ask(hwnd, EM_GETLINECOUNT));
    }
    if (withChildren) {
        GUITHREADINFO thread{};
        thread.cbSize = sizeof thread;
        const HWND focus = ::GetGUIThreadInfo(tid, &thread) ? thread.hwndFocus : nullptr;
        out += ",\"focus\":" + std::to_string(static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(focus)));
        std::vector<HWND> children;
        ::EnumChildWindows(hwnd, CollectChild, reinterpret_cast<LPARAM>(&children));
        out += ",\"children\":[";
        for (size_t i = 0; i < children.size(); ++i) {
            if (i != 0) {
                out += ",";
            }
            out += Describe(children[i], false);
        }
        out += "]";
    }
    return out + "}";
}

using Options = std::map<std::wstring, std::wstring>;

Options ParseOptions(int argc, wchar_t** argv, int first) {
    Options options;
    for (int i = first; i < argc; ++i) {
        std::wstring key = argv[i];
        if (key.rfind(L"--", 0) == 0 && i + 1 < argc) {
            options[key.substr(2)] = argv[++i];
        } else {
            options[L"_" + std::to_wstring(i - first)] = key;
        }
    }
    return options;
}

DWORD Number(const Options& options, const wchar_t* key, DWORD fallback) {
    const auto it = options.find(key);
    return it == options.end() ? fallback : static_cast<DWORD>(std::wcstoul(it->second.c_str(), nullptr, 0));
}

HWND FindTopLevel(const Options& options) {
    if (options.count(L"hwnd")) {
        // A window named by its handle (from an earlier description), whatever its title's language.
        const auto hwnd =
            reinterpret_cast<HWND>(static_cast<uintptr_t>(std::wcstoull(options.at(L"hwnd").c_str(), nullptr, 10)));
        return ::IsWindow(hwnd) ? hwnd : nullptr;
    }
    const auto title = options.find(L"title");
    const auto cls = options.find(L"class");
    return ::FindWindowW(cls == options.end() ? nullptr : cls->second.c_str(),
                         title == options.end() ? nullptr : title->second.c_str());
}

HWND WaitForWindow(const Options& options, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        if (HWND hwnd = FindTopLevel(options)) {
            return hwnd;
        }
        if (::GetTickCount64() >= deadline) {
            return nullptr;
        }
        ::Sleep(50);
    }
}

struct WindowSearch {
    const Options* options;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    const auto cls = search->options->find(L"class");
    const auto title = search->options->find(L"title");
    if (cls != search->options->end() && _wcsicmp(ClassName(hwnd).c_str(), cls->second.c_str()) != 0) {
        return TRUE;
    }
    if (title != search->options->end() && WindowText(hwnd) != title->second) {
        return TRUE;
    }
    search->found.push_back(hwnd);
    return TRUE;
}

struct ButtonSearch {
    std::wstring text;
    HWND found = nullptr;
};

BOOL CALLBACK FindButton(HWND child, LPARAM param) {
    auto* search = reinterpret_cast<ButtonSearch*>(param);
    std::wstring text = WindowText(child);
    std::wstring plain;
    for (wchar_t c : text) {
        if (c != L'&') {
            plain.push_back(c);
        }
    }
    if (_wcsicmp(ClassName(child).c_str(), L"Button") == 0 && (text == search->text || plain == search->text)) {
        search->found = child;
        return FALSE;
    }
    return TRUE;
}

void WaitForStdinToClose() {
    char buffer[256];
    while (std::fread(buffer, 1, sizeof buffer, stdin) > 0) {
    }
}

int Fail(const char* what) {
    std::fprintf(stderr, "zvwin: %s\n", what);
    return 3;
}

// One argument as the C runtime splits it again: quoted when it holds blanks or quotes, with the
// backslashes before a quote doubled.
std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        quoted.push_back(c);
        backslashes = 0;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

int RunWithEnvironment(int argc, wchar_t** argv) {
    int i = 2;
    for (; i < argc && std::wstring(argv[i]) != L"--"; ++i) {
        const std::wstring assignment = argv[i];
        const size_t equals = assignment.find(L'=');
        if (equals == std::wstring::npos ||
            !::SetEnvironmentVariableW(assignment.substr(0, equals).c_str(), assignment.c_str() + equals + 1)) {
            return Fail("with-env: NAME=VALUE expected");
        }
    }
    if (i + 1 >= argc) {
        return Fail("with-env: no program");
    }
    std::wstring commandLine;
    for (int j = i + 1; j < argc; ++j) {
        commandLine += (commandLine.empty() ? L"" : L" ") + QuoteArgument(argv[j]);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        return Fail("with-env: CreateProcessW failed");
    }
    ::CloseHandle(process.hThread);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 3;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

// The names of the files in folder (not subfolders).
std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data{};
    HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            names.emplace_back(data.cFileName);
        }
    } while (::FindNextFileW(search, &data));
    ::FindClose(search);
    return names;
}

// A same-user program that wants its own bytes run in place of a download: whatever appears in the
// folders it watches, it overwrites as soon as it can open it for writing.
int OverwriteNewFiles(int argc, wchar_t** argv) {
    if (argc < 4) {
        return Fail("overwrite-new: FILE FOLDER... expected");
    }
    HANDLE source = ::CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (source == INVALID_HANDLE_VALUE) {
        return Fail("overwrite-new: cannot open FILE");
    }
    std::vector<char> bytes(16 << 20);
    DWORD size = 0;
    ::ReadFile(source, bytes.data(), static_cast<DWORD>(bytes.size()), &size, nullptr);
    ::CloseHandle(source);
    std::vector<std::pair<std::wstring, std::vector<std::wstring>>> folders;
    for (int i = 3; i < argc; ++i) {
        folders.emplace_back(argv[i], FilesIn(argv[i]));
    }
    // stdin closing ends the watch; a thread waits for it.
    volatile bool done = false;
    HANDLE waiter = ::CreateThread(
        nullptr, 0,
        [](void* flag) -> DWORD {
            WaitForStdinToClose();
            *static_cast<volatile bool*>(flag) = true;
            return 0;
        },
        const_cast<bool*>(&done), 0, nullptr);
    std::printf("watching\n");
    std::fflush(stdout);
    std::map<std::wstring, int> overwritten;
    while (!done) {
        for (const auto& [folder, before] : folders) {
            for (const std::wstring& name : FilesIn(folder)) {
                if (std::find(before.begin(), before.end(), name) != before.end() ||
                    _wcsicmp(name.c_str(), L"launch-record.txt") == 0) {
                    continue;
                }
                const std::wstring path = folder + L"\\" + name;
                HANDLE file =
                    ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
                if (file == INVALID_HANDLE_VALUE) {
                    continue;
                }
                DWORD written = 0;
                if (::WriteFile(file, bytes.data(), size, &written, nullptr) && ::SetEndOfFile(file)) {
                    ++overwritten[folder + L"\\" + name];
                }
                ::CloseHandle(file);
            }
        }
        ::Sleep(1);
    }
    ::WaitForSingleObject(waiter, INFINITE);
    ::CloseHandle(waiter);
    for (const auto& [path, times] : overwritten) {
        std::printf("%s\n", Utf8(path).c_str());
    }
    return 0;
}

// A launcher started on probation, as far as its watcher can tell: the event the token names.
int PlayProbation(const std::wstring& how) {
    wchar_t token[128] = {};
    if (::GetEnvironmentVariableW(L"ZV_REPLACEMENT_PROBATION", token, 128) == 0) {
        return Fail("probation: no token");
    }
    const HANDLE event = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::wcstoull(token, nullptr, 16)));
    if (how == L"confirm") {
        return ::SetEvent(event) ? 0 : Fail("probation: SetEvent failed");
    }
    ::Sleep(INFINITE);
    return 0;
}

// IID_IAccessible, spelled out: the import library's data symbol does not link statically.
constexpr GUID kIAccessible = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

std::wstring FromBstr(BSTR text) {
    std::wstring out = text ? std::wstring(text, ::SysStringLen(text)) : std::wstring();
    ::SysFreeString(text);
    return out;
}

// What a screen reader reads of each child of a window: the standard accessible object that
// oleacc makes for it (as for any window that does not answer WM_GETOBJECT itself).
int DescribeAccessible(const Options& options) {
    const HWND hwnd = WaitForWindow(options, Number(options, L"timeout", 10000));
    if (!hwnd) {
        return Fail("window not found");
    }
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::vector<HWND> children;
    ::EnumChildWindows(hwnd, CollectChild, reinterpret_cast<LPARAM>(&children));
    std::string out = "[";
    for (const HWND child : children) {
        IAccessible* object = nullptr;
        if (FAILED(
                ::AccessibleObjectFromWindow(child, OBJID_CLIENT, kIAccessible, reinterpret_cast<void**>(&object)))) {
            return Fail("no accessible object");
        }
        VARIANT self{};
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        BSTR name = nullptr;
        BSTR shortcut = nullptr;
        VARIANT role{};
        object->get_accName(self, &name);
        object->get_accKeyboardShortcut(self, &shortcut);
        object->get_accRole(self, &role);
        object->Release();
        if (out.size() > 1) {
            out += ",";
        }
        out.append("{\"hwnd\":").append(std::to_string(reinterpret_cast<uintptr_t>(child)));
        out.append(",\"name\":").append(JsonString(FromBstr(name)));
        out.append(",\"shortcut\":").append(JsonString(FromBstr(shortcut)));
        out.append(",\"role\":").append(std::to_string(role.vt == VT_I4 ? role.lVal : 0)).append("}");
    }
    std::printf("%s]\n", out.c_str());
    return 0;
}

int Run(int argc, wchar_t** argv) {
    if (argc < 2) {
        return Fail("no command");
    }
    const std::wstring command = argv[1];
    if (command == L"with-env") {
        return RunWithEnvironment(argc, argv);
    }
    if (command == L"overwrite-new") {
        return OverwriteNewFiles(argc, argv);
    }
    if (command == L"probation") {
        return PlayProbation(argc > 2 ? argv[2] : L"");
    }
    const Options options = ParseOptions(argc, argv, 2);
    const DWORD timeout = Number(options, L"timeout", 10000);

    if (command == L"find") {
        HWND hwnd = WaitForWindow(options, timeout);
        if (hwnd && options.count(L"visible")) {
            const ULONGLONG deadline = ::GetTickCount64() + timeout;
            while (!::IsWindowVisible(hwnd) && ::GetTickCount64() < deadline) {
                ::Sleep(50);
            }
            if (!::IsWindowVisible(hwnd)) {
                return Fail("window not visible");
            }
        }
        if (!hwnd) {
            return Fail("window not found");
        }
        std::printf("%s\n", Describe(hwnd, true).c_str());
        return 0;
    }
    if (command == L"windows") {
        WindowSearch search{&options, {}};
        ::EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
        std::string out = "[";
        for (size_t i = 0; i < search.found.size(); ++i) {
            if (i != 0) {
                out += ",";
            }
            out += Describe(search.found[i], true);
        }
        std::printf("%s]\n", out.c_str());
        return 0;
    }
    if (command == L"absent") {
        return WaitForWindow(options, Number(options, L"for", 2000)) ? Fail("window present") : 0;
    }
    if (command == L"press" || command == L"close" || command == L"altf4" || command == L"key") {
        HWND hwnd = WaitForWindow(options, timeout);
        if (!hwnd) {
            return Fail("window not found");
        }
        HWND button = nullptr;
        if (options.count(L"id")) {
            button = ::GetDlgItem(hwnd, static_cast<int>(Number(options, L"id", 0)));
            if (!button) {
                return Fail("no control with that id");
            }
        } else if (options.count(L"button")) {
            ButtonSearch search{options.at(L"button")};
            ::EnumChildWindows(hwnd, FindButton, reinterpret_cast<LPARAM>(&search));
            if (!search.found) {
                return Fail("button not found");
            }
            button = search.found;
        }
        if (command == L"press") {
            if (!button) {
                return Fail("no --button");
            }
            const auto id = static_cast<WORD>(::GetDlgCtrlID(button));
            ::PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
        } else if (command == L"close") {
            ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
        } else if (command == L"altf4" && options.count(L"keys")) {
            // Alt held (context bit 29) while F4 goes down and up, as the keyboard delivers it.
            const UINT altScan = ::MapVirtualKeyW(VK_MENU, MAPVK_VK_TO_VSC);
            const UINT f4Scan = ::MapVirtualKeyW(VK_F4, MAPVK_VK_TO_VSC);
            ::PostMessageW(hwnd, WM_SYSKEYDOWN, VK_MENU, 1 | (altScan << 16) | (1u << 29));
            ::PostMessageW(hwnd, WM_SYSKEYDOWN, VK_F4, 1 | (f4Scan << 16) | (1u << 29));
            ::PostMessageW(hwnd, WM_SYSKEYUP, VK_F4, 1 | (f4Scan << 16) | (1u << 29) | (3u << 30));
            ::PostMessageW(hwnd, WM_KEYUP, VK_MENU, 1 | (altScan << 16) | (3u << 30));
        } else if (command == L"altf4") {
            ::PostMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        } else {
            HWND target = button ? button : hwnd;
            if (options.count(L"focused")) {
                GUITHREADINFO thread{};
                thread.cbSize = sizeof thread;
                if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(hwnd, nullptr), &thread) || !thread.hwndFocus) {
                    return Fail("nothing has the focus");
                }
                target = thread.hwndFocus;
            }
            const auto vk = static_cast<WPARAM>(Number(options, L"vk", VK_RETURN));
            const LPARAM scan = static_cast<LPARAM>(::MapVirtualKeyW(static_cast<UINT>(vk), MAPVK_VK_TO_VSC)) << 16;
            if (options.count(L"alt")) {
                // The key with Alt held (context bit 29), as an access key arrives: its character
                // comes as WM_SYSCHAR.
                const LPARAM alt = 1 | scan | (1u << 29);
                ::PostMessageW(target, WM_SYSKEYDOWN, vk, alt);
                ::PostMessageW(target, WM_SYSCHAR, ::MapVirtualKeyW(static_cast<UINT>(vk), MAPVK_VK_TO_CHAR) | 0x20,
                               alt);
                ::PostMessageW(target, WM_SYSKEYUP, vk, alt | (3u << 30));
                return 0;
            }
            ::PostMessageW(target, WM_KEYDOWN, vk, 1 | scan);
            ::PostMessageW(target, WM_CHAR, vk == VK_RETURN ? L'\r' : (vk == VK_ESCAPE ? 27 : 0), 1 | scan);
            ::PostMessageW(target, WM_KEYUP, vk, 1 | scan | (3u << 30));
        }
        return 0;
    }
    if (command == L"screen") {
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        ::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, Number(options, L"dpi", 96));
        std::printf(
            "{\"cx\":%d,\"cy\":%d,\"max_track_cy\":%d,\"gui_font\":%llu,\"white_brush\":%llu,"
            "\"message_font_height\":%ld}\n",
            ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN), ::GetSystemMetrics(SM_CYMAXTRACK),
            static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(::GetStockObject(DEFAULT_GUI_FONT))),
            static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(::GetStockObject(WHITE_BRUSH))),
            metrics.lfMessageFont.lfHeight);
        return 0;
    }
    if (command == L"accessible") {
        return DescribeAccessible(options);
    }
    if (command == L"watch") {
        // zvhook.dll lies beside this program; the hook stays until this process ends.
        wchar_t path[MAX_PATH];
        const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring dll(path, n);
        const size_t slash = dll.find_last_of(L"\\/");
        dll.resize(slash == std::wstring::npos ? 0 : slash + 1);
        dll += L"zvhook.dll";
        const HMODULE module = ::LoadLibraryW(dll.c_str());
        const auto hookProc = [module](const char* name) {
            return module ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(::GetProcAddress(module, name)))
                          : nullptr;
        };
        const HOOKPROC sent = hookProc("ZvWatchHook");
        const HOOKPROC returned = hookProc("ZvWatchReturnHook");
        const HHOOK hooks[] = {sent ? ::SetWindowsHookExW(WH_CALLWNDPROC, sent, module, 0) : nullptr,
                               returned ? ::SetWindowsHookExW(WH_CALLWNDPROCRET, returned, module, 0) : nullptr};
        if (!hooks[0] || !hooks[1]) {
            return Fail("cannot install the journal hooks");
        }
        std::printf("watching\n");
        std::fflush(stdout);
        WaitForStdinToClose();
        for (const HHOOK hook : hooks) {
            ::UnhookWindowsHookEx(hook);
        }
        return 0;
    }
    if (command == L"hold-mutex") {
        HANDLE mutex = ::CreateMutexW(nullptr, TRUE, options.count(L"_0") ? options.at(L"_0").c_str() : L"");
        if (!mutex) {
            return Fail("CreateMutexW failed");
        }
        std::printf("held\n");
        std::fflush(stdout);
        WaitForStdinToClose();
        ::ReleaseMutex(mutex);
        ::CloseHandle(mutex);
        return 0;
    }
    if (command == L"hold-file") {
        const std::wstring share = options.count(L"share") ? options.at(L"share") : L"none";
        const DWORD shareMode = share == L"read" ? FILE_SHARE_READ : share == L"write" ? FILE_SHARE_WRITE : 0;
        const bool readOnly = options.count(L"access") && options.at(L"access") == L"read";
        HANDLE file = ::CreateFileW(options.count(L"_0") ? options.at(L"_0").c_str() : L"",
                                    readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE, shareMode, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return Fail("CreateFileW failed");
        }
        std::printf("held\n");
        std::fflush(stdout);
        WaitForStdinToClose();
        ::CloseHandle(file);
        return 0;
    }
    if (command == L"trust-ca") {
        HANDLE file = ::CreateFileW(options.count(L"_0") ? options.at(L"_0").c_str() : L"", GENERIC_READ,
                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return Fail("cannot open the certificate");
        }
        std::vector<BYTE> der(65536);
        DWORD read = 0;
        const BOOL ok = ::ReadFile(file, der.data(), static_cast<DWORD>(der.size()), &read, nullptr);
        ::CloseHandle(file);
        if (!ok || read == 0) {
            return Fail("cannot read the certificate");
        }
        HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
        if (!store) {
            return Fail("cannot open the Root store");
        }
        const BOOL added = ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), read,
                                                              CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
        ::CertCloseStore(store, 0);
        return added ? 0 : Fail("CertAddEncodedCertificateToStore failed");
    }
    return Fail("unknown command");
}

}  // namespace

int wmain(int argc, wchar_t** argv) { return Run(argc, argv); }
