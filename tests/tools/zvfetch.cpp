// zvfetch: one download as the launcher makes it, for the download benchmark
// (tests/server/bench_download.py).
//
//   zvfetch URL TARGET [WARM_UP_URL]
//
// With WARM_UP_URL, fetches that small document into memory first, so the TLS stack is loaded and
// the peak working set before the download is a fair baseline. Then downloads URL to TARGET through
// the client's DownloadToFile, as the updaters do, with nothing to report its progress to, and
// prints one JSON line: the result (complete, the HTTP status and the system error), the seconds
// the download took, the target's size and the peak working set before and after it.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "net/http_client.h"
#include "net/run_proxy.h"

namespace {

unsigned long long PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
}

unsigned long long FileSize(const wchar_t* path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path, GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: zvfetch URL TARGET [WARM_UP_URL]\n");
        return 2;
    }
    zv::RunProxy proxy;
    zv::HttpClient client(zv::RunSessionOpener(proxy), proxy.script());
    if (argc == 4) {
        std::string ignored;
        const zv::TransferResult warmUp = client.GetString(argv[3], ignored);
        if (!warmUp.complete) {
            std::fprintf(stderr, "zvfetch: warm-up failed, status %u, error %u\n", warmUp.httpStatus,
                         warmUp.systemError);
            return 1;
        }
    }
    const unsigned long long peakBefore = PeakWorkingSet();
    LARGE_INTEGER frequency;
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    const zv::TransferResult result = client.DownloadToFile(argv[1], argv[2], std::nullopt);
    ::QueryPerformanceCounter(&end);
    const unsigned long long peakAfter = PeakWorkingSet();
    std::printf(
        "{\"ok\": %s, \"http_status\": %u, \"system_error\": %u, \"bytes\": %llu, \"seconds\": %.4f, "
        "\"peak_working_set_before\": %llu, \"peak_working_set_after\": %llu}\n",
        result.complete ? "true" : "false", result.httpStatus, result.systemError, FileSize(argv[2]),
        static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart), peakBefore,
        peakAfter);
    return result.complete ? 0 : 1;
}
