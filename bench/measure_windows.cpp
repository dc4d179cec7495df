// zv_measure: starts one program, waits for it, and tells how long it took until the game it
// starts began running and how much memory it needed, for the launch benchmark
// (bench/run_bench.py). Launcher and floor are measured by this one program in the same way.
//
//   zv_measure time|memory STARTED_FILE PROGRAM [ARGUMENTS...]
//
// STARTED_FILE ("-" for none) is where the game's bench stub writes the time its game started
// (GetSystemTimePreciseAsFileTime, decimal); it is deleted before the start. "time" only waits;
// "memory" also samples the child's peak working set every few milliseconds while it runs (Wine
// reads another process's counters from the host, which has nothing left once the process ended).
// Prints one JSON line.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "common/unique_handle.h"

namespace {

unsigned long long Now() {
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    return (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

unsigned long long ToNumber(const FILETIME& time) {
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

unsigned long long PeakWorkingSet(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!::GetProcessMemoryInfo(process, &counters, sizeof counters)) {
        return 0;
    }
    return counters.PeakWorkingSetSize;
}

// The game's start time, once its stub has written it; 0 when it did not within the wait.
unsigned long long ReadStarted(const wchar_t* path, DWORD waitMs) {
    for (DWORD waited = 0; waited <= waitMs; waited += 5) {
        const zv::UniqueFile file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            char text[32] = {};
            DWORD read = 0;
            if (::ReadFile(file.get(), text, sizeof text - 1, &read, nullptr) && read > 0 && text[read - 1] == '\n') {
                return std::strtoull(text, nullptr, 10);
            }
        }
        ::Sleep(5);
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4 || (std::wcscmp(argv[1], L"time") != 0 && std::wcscmp(argv[1], L"memory") != 0)) {
        std::fprintf(stderr, "usage: zv_measure time|memory STARTED_FILE PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    const bool sampleMemory = std::wcscmp(argv[1], L"memory") == 0;
    const bool waitForGame = std::wcscmp(argv[2], L"-") != 0;
    if (waitForGame) {
        ::DeleteFileW(argv[2]);
    }
    // The arguments here never hold quotes or end in backslashes.
    std::wstring commandLine;
    for (int i = 3; i < argc; ++i) {
        commandLine += commandLine.empty() ? L"\"" : L" \"";
        commandLine += argv[i];
        commandLine += L"\"";
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    const unsigned long long spawned = Now();
    if (!::CreateProcessW(argv[3], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        std::fprintf(stderr, "zv_measure: CreateProcessW failed, error %lu\n", ::GetLastError());
        return 1;
    }
    const zv::UniqueHandle process(info.hProcess);
    const zv::UniqueHandle thread(info.hThread);

    unsigned long long peak = 0;
    if (sampleMemory) {
        while (::WaitForSingleObject(process.get(), 2) == WAIT_TIMEOUT) {
            const unsigned long long now = PeakWorkingSet(process.get());
            peak = now > peak ? now : peak;
        }
    } else {
        ::WaitForSingleObject(process.get(), INFINITE);
    }
    const unsigned long long ended = Now();
    const unsigned long long afterExit = PeakWorkingSet(process.get());
    peak = afterExit > peak ? afterExit : peak;

    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.get(), &exitCode);
    FILETIME creation{};
    FILETIME exit{};
    FILETIME kernel{};
    FILETIME user{};
    ::GetProcessTimes(process.get(), &creation, &exit, &kernel, &user);
    const unsigned long long started = waitForGame ? ReadStarted(argv[2], 20000) : 0;

    const auto ms = [](unsigned long long from, unsigned long long to) {
        return from != 0 && to >= from ? static_cast<double>(to - from) / 10000.0 : -1.0;
    };
    std::printf(
        "{\"exit_code\": %lu, \"spawn_to_game_ms\": %.3f, \"creation_to_game_ms\": %.3f, \"spawn_to_exit_ms\": %.3f, "
        "\"cpu_ms\": %.3f, \"peak_working_set\": %llu}\n",
        exitCode, ms(spawned, started), ms(ToNumber(creation), started), ms(spawned, ended),
        static_cast<double>(ToNumber(kernel) + ToNumber(user)) / 10000.0, peak);
    return 0;
}
