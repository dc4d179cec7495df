// Discovery against its floor under Windows or Wine, where Google Benchmark is not built: the
// same tree and the same two loops as discovery_benchmark.cpp, timed with QueryPerformanceCounter
// in alternating order, round after round, within one run.
//   zv_discovery_timing.exe [ROUNDS]   (default 15)

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "discovery_bench_tree.h"
#include "launch/target_discovery.h"
#include "scratch_directory.h"

namespace {

template <typename Work>
double Milliseconds(Work&& work) {
    LARGE_INTEGER frequency;
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    work();
    ::QueryPerformanceCounter(&end);
    return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int rounds = argc > 1 ? std::max(1, _wtoi(argv[1])) : 15;
    const zv::test::ScratchDirectory scratch;
    const zv::bench::BenchTree tree = zv::bench::MakeBenchTree(scratch.path());
    const std::wstring root = tree.launcherPath.substr(0, tree.launcherPath.rfind(L'\\'));

    bool found = true;
    const auto discover = [&] {
        zv::GameLocation location;
        found = found && zv::LocateGame(tree.launcherPath, location) == zv::LaunchResult::Success &&
                location.clientTarget == tree.clientTarget;
    };
    const auto floor = [&] { zv::bench::ListAndReadFirstBytes(root); };

    // One round of each first, untimed, so that both start from the same warm caches.
    floor();
    discover();
    std::vector<double> floorTimes;
    std::vector<double> discoveryTimes;
    for (int round = 0; round < rounds; ++round) {
        // Each goes first in every other round, so neither always finds the other's leftovers.
        if (round % 2 == 0) {
            floorTimes.push_back(Milliseconds(floor));
            discoveryTimes.push_back(Milliseconds(discover));
        } else {
            discoveryTimes.push_back(Milliseconds(discover));
            floorTimes.push_back(Milliseconds(floor));
        }
    }
    if (!found) {
        std::fprintf(stderr, "discovery did not end at the tree's client target\n");
        return 1;
    }

    const double floorMedian = Median(floorTimes);
    const double discoveryMedian = Median(discoveryTimes);
    std::printf("tree: %u files, %u PE files, %d rounds\n", tree.files, tree.peFiles, rounds);
    std::printf("%-28s median %8.2f ms   min %8.2f ms\n", "list + read 64 bytes (floor)", floorMedian,
                *std::min_element(floorTimes.begin(), floorTimes.end()));
    std::printf("%-28s median %8.2f ms   min %8.2f ms\n", "LocateGame", discoveryMedian,
                *std::min_element(discoveryTimes.begin(), discoveryTimes.end()));
    std::printf("LocateGame / floor (medians): %.2f\n", discoveryMedian / floorMedian);
    return 0;
}
