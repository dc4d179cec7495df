// zv_launch_floor: the least a launcher of a current game can do before the game starts, built
// with the launcher's toolchain and flags, for the launch benchmark (bench/run_bench.py).
//
//   zv_launch_floor LAUNCHER_MANIFEST_URL STUB_MANIFEST_URL GAME CODE_OFFSET CODE_SIZE
//
// Two HTTPS GETs of the manifests on one WinHTTP session, one sequential read of the game's code
// section in 64 KiB reads (no hashing), the 300 ms pause of a current stub, and one CreateProcessW
// of the game with the argument the launcher adds. Nothing is parsed or checked beyond success.
#include <windows.h>
#include <winhttp.h>

#include <array>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

#include "common/unique_handle.h"

namespace {

constexpr DWORD kChunkSize = 65536;

// The floor imports WinHTTP as a plain program would; the launcher loads it from System32 at run
// time (src/net/winhttp_library.h), which costs it one LoadLibraryExW.
void CloseInternet(HINTERNET h) noexcept { ::WinHttpCloseHandle(h); }
HINTERNET NoInternet() noexcept { return nullptr; }
using UniqueInternet = zv::UniqueResource<HINTERNET, zv::detail::PreserveLastError<CloseInternet>, NoInternet>;

bool Get(HINTERNET session, const wchar_t* url) {
    std::array<wchar_t, 256> host{};
    std::array<wchar_t, 2048> path{};
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host.data();
    parts.dwHostNameLength = static_cast<DWORD>(host.size());
    parts.lpszUrlPath = path.data();
    parts.dwUrlPathLength = static_cast<DWORD>(path.size());
    if (!::WinHttpCrackUrl(url, 0, 0, &parts)) {
        return false;
    }
    const UniqueInternet connection(::WinHttpConnect(session, host.data(), parts.nPort, 0));
    if (!connection) {
        return false;
    }
    const UniqueInternet request(::WinHttpOpenRequest(connection.get(), L"GET", path.data(), nullptr,
                                                      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                      WINHTTP_FLAG_SECURE));
    if (!request ||
        !::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !::WinHttpReceiveResponse(request.get(), nullptr)) {
        return false;
    }
    std::array<char, 4096> body{};
    for (;;) {
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(request.get(), &available)) {
            return false;
        }
        if (available == 0) {
            return true;
        }
        DWORD read = 0;
        if (!::WinHttpReadData(request.get(), body.data(),
                               available < body.size() ? available : static_cast<DWORD>(body.size()), &read)) {
            return false;
        }
    }
}

bool ReadRange(const wchar_t* path, unsigned long long offset, unsigned long long size) {
    const zv::UniqueFile file(
        ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN)) {
        return false;
    }
    const auto buffer = std::make_unique_for_overwrite<unsigned char[]>(kChunkSize);
    while (size > 0) {
        const DWORD want = size < kChunkSize ? static_cast<DWORD>(size) : kChunkSize;
        DWORD read = 0;
        if (!::ReadFile(file.get(), buffer.get(), want, &read, nullptr) || read == 0) {
            return false;
        }
        size -= read;
    }
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 6) {
        std::fprintf(stderr,
                     "usage: zv_launch_floor LAUNCHER_MANIFEST_URL STUB_MANIFEST_URL GAME CODE_OFFSET CODE_SIZE\n");
        return 2;
    }
    const UniqueInternet session(::WinHttpOpen(L"Zarnovelle HTTP Client/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                               WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session || !Get(session.get(), argv[1])) {
        std::fprintf(stderr, "zv_launch_floor: the first GET failed, error %lu\n", ::GetLastError());
        return 1;
    }
    if (!ReadRange(argv[3], std::wcstoull(argv[4], nullptr, 10), std::wcstoull(argv[5], nullptr, 10))) {
        std::fprintf(stderr, "zv_launch_floor: reading the code section failed, error %lu\n", ::GetLastError());
        return 1;
    }
    if (!Get(session.get(), argv[2])) {
        std::fprintf(stderr, "zv_launch_floor: the second GET failed, error %lu\n", ::GetLastError());
        return 1;
    }
    ::Sleep(300);

    std::wstring commandLine = L"\"";
    commandLine += argv[3];
    commandLine += L"\" --zarnovelle-launcher";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // The launcher's own flags: a console program it starts gets a console of its own.
    if (!::CreateProcessW(argv[3], commandLine.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr,
                          &startup, &process)) {
        std::fprintf(stderr, "zv_launch_floor: CreateProcessW failed, error %lu\n", ::GetLastError());
        return 1;
    }
    const zv::UniqueHandle processHandle(process.hProcess);
    const zv::UniqueHandle threadHandle(process.hThread);
    return 0;
}
