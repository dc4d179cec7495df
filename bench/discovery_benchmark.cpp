// Discovery against its floor, side by side on the same tree (see discovery_bench_tree.h):
// LocateGame, and a bare loop that lists the same folders and reads the first 64 bytes of every
// candidate file.

#include <benchmark/benchmark.h>

#include <optional>

#include "discovery_bench_tree.h"
#include "launch/target_discovery.h"
#include "scratch_directory.h"

namespace {

std::optional<zv::bench::BenchTree> g_tree;

void BM_ListAndReadFirstBytes(benchmark::State& state) {
    const std::wstring root = g_tree->launcherPath.substr(0, g_tree->launcherPath.rfind(L'\\'));
    for (auto _ : state) {
        benchmark::DoNotOptimize(zv::bench::ListAndReadFirstBytes(root));
    }
    state.counters["files"] = g_tree->files;
}

void BM_LocateGame(benchmark::State& state) {
    for (auto _ : state) {
        zv::GameLocation location;
        if (zv::LocateGame(g_tree->launcherPath, location) != zv::LaunchResult::Success ||
            location.clientTarget != g_tree->clientTarget) {
            state.SkipWithError("discovery did not end at the tree's client target");
            break;
        }
        benchmark::DoNotOptimize(location);
    }
    state.counters["files"] = g_tree->files;
}

BENCHMARK(BM_ListAndReadFirstBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LocateGame)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    const zv::test::ScratchDirectory scratch;
    g_tree = zv::bench::MakeBenchTree(scratch.path());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
