#!/usr/bin/env python3
"""Runs every speed and memory comparison side by side in one run and writes the report
(docs/benchmarks/README.md). scripts/bench.sh builds what this needs and then calls it.

  SHA-1 throughput        zv_sha1_bench (Google Benchmark): the engines beside OpenSSL
  HashFile of 512 MiB     zv_hash_file beside sha1sum and openssl sha1 on the same file
  Discovery               zv_discovery_benchmark natively, zv_discovery_timing.exe under Wine
  Launcher against floor  ZVLauncher.exe and zv_launch_floor.exe under Wine, both started by
                          zv_measure.exe, interleaved, against the loopback HTTPS update server
  Signed against unsigned the launcher built with signing keys against the one built without,
                          current runs, interleaved, the same way
  Peak memory             the launcher's peak working set for small and large code sections
                          and small and large stub downloads
  Against an earlier one  this launcher against one built from an earlier commit (--baseline-dir),
                          current runs interleaved, with Windows in English and in German, and
                          their peak working sets
"""

from __future__ import annotations

import argparse
import datetime
import hashlib
import json
import os
import platform
import re
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
MiB = 1024 * 1024


def log(*args) -> None:
    print("[bench]", *args, file=sys.stderr, flush=True)


def median(values):
    return statistics.median(values)


def text_of(command: list[str]) -> str:
    try:
        result = subprocess.run(command, capture_output=True, text=True, timeout=30)
        return (result.stdout or result.stderr).strip().splitlines()[0]
    except (OSError, IndexError, subprocess.TimeoutExpired):
        return "unknown"


# -- SHA-1 throughput -----------------------------------------------------------------------------

def sha1_throughput(native: Path, repetitions: int) -> list[dict]:
    log("SHA-1 throughput (Google Benchmark)")
    result = subprocess.run(
        [str(native / "bench" / "zv_sha1_bench"), f"--benchmark_repetitions={repetitions}",
         "--benchmark_enable_random_interleaving=true", "--benchmark_report_aggregates_only=true",
         "--benchmark_format=json"], check=True, capture_output=True, text=True)
    rows = {}
    for entry in json.loads(result.stdout)["benchmarks"]:
        if entry.get("aggregate_name") != "median":
            continue
        rows[entry["run_name"]] = entry["bytes_per_second"] / 2**30
    names = {"BM_Sha1Update/ShaExtensions": "`Sha1::Update`, SHA extensions",
             "BM_Sha1Update/Portable": "`Sha1::Update`, portable",
             "BM_OpenSslSha1Update": "OpenSSL `EVP_DigestUpdate` (SHA-1)"}
    openssl = rows["BM_OpenSslSha1Update"]
    return [{"name": names.get(k, k), "gib_s": v, "ratio": v / openssl} for k, v in rows.items()]


# -- HashFile of a large file -----------------------------------------------------------------------

def make_file(path: Path, size: int) -> None:
    if path.exists() and path.stat().st_size == size:
        return
    with path.open("wb") as out:
        for _ in range(size // MiB):
            out.write(os.urandom(MiB))


def hash_file(native: Path, windows: Path, wine, workdir: Path, rounds: int) -> dict:
    log("HashFile of 512 MiB against sha1sum and openssl sha1")
    target = workdir / "hash-512MiB.bin"
    make_file(target, 512 * MiB)
    tools = {
        "`HashFile` (zv_hash_file)": [str(native / "bench" / "zv_hash_file"), str(target)],
        "sha1sum": ["sha1sum", str(target)],
        "openssl sha1": ["openssl", "sha1", "-r", str(target)],
    }
    # Warm the file cache, and check that all three agree.
    digests = {}
    for name, command in tools.items():
        out = subprocess.run(command, check=True, capture_output=True, text=True).stdout
        digests[name] = out.split()[0].lstrip("\\").lower()
    if len(set(digests.values())) != 1:
        raise RuntimeError(f"the digests differ: {digests}")
    times = {name: [] for name in tools}
    names = list(tools)
    for r in range(rounds):
        order = names[r % len(names):] + names[:r % len(names)]
        for name in order:
            start = time.perf_counter()
            subprocess.run(tools[name], check=True, capture_output=True)
            times[name].append(time.perf_counter() - start)
    rows = [{"name": n, "seconds": median(t), "best": min(t), "mib_s": 512 / median(t)} for n, t in times.items()]

    # The same HashFile under Wine: Wine's start-up is left out, the program times its own call.
    wine_seconds = []
    if wine is not None:
        from harness import to_windows_path
        exe = windows / "bench" / "zv_hash_file.exe"
        for _ in range(rounds):
            result = wine.run(exe, [to_windows_path(target)], timeout=120)
            if result.returncode != 0 or result.stdout.decode().split()[0] != digests[names[0]]:
                raise RuntimeError("zv_hash_file.exe failed under Wine: " + result.stderr.decode(errors="replace"))
            wine_seconds.append(float(re.search(rb"seconds=([0-9.]+)", result.stderr).group(1)))
    target.unlink()
    return {"rows": rows, "digest": digests[names[0]], "wine": wine_seconds}


# -- discovery ----------------------------------------------------------------------------------------

def discovery(native: Path, windows: Path, wine, repetitions: int, wine_rounds: int) -> dict:
    log("discovery against its floor, natively")
    result = subprocess.run(
        [str(native / "bench" / "zv_discovery_benchmark"), f"--benchmark_repetitions={repetitions}",
         "--benchmark_enable_random_interleaving=true", "--benchmark_report_aggregates_only=true",
         "--benchmark_format=json"], check=True, capture_output=True, text=True)
    native_rows = {}
    for entry in json.loads(result.stdout)["benchmarks"]:
        if entry.get("aggregate_name") == "median":
            native_rows[entry["run_name"]] = entry["cpu_time"]  # milliseconds (the benchmark's unit)
    out = {"native_floor": native_rows["BM_ListAndReadFirstBytes"], "native_locate": native_rows["BM_LocateGame"]}
    if wine is not None:
        log("discovery against its floor, under Wine")
        result = wine.run(windows / "bench" / "zv_discovery_timing.exe", [str(wine_rounds)], timeout=900)
        text = result.stdout.decode(errors="replace")
        found = re.findall(r"median\s+([0-9.]+) ms\s+min\s+([0-9.]+) ms", text)
        if result.returncode != 0 or len(found) != 2:
            raise RuntimeError("zv_discovery_timing.exe failed: " + text + result.stderr.decode(errors="replace"))
        out.update(wine_floor=float(found[0][0]), wine_floor_min=float(found[0][1]),
                   wine_locate=float(found[1][0]), wine_locate_min=float(found[1][1]))
    return out


# -- the launcher against its floor -------------------------------------------------------------------

def code_section(path: Path) -> tuple[int, int]:
    """The file offset and raw size of the ".text" section."""
    with path.open("rb") as f:
        head = f.read(4096)
    pe = struct.unpack_from("<I", head, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H", head, pe + 6)[0], struct.unpack_from("<H", head, pe + 20)[0]
    table = pe + 24 + optional_size
    for i in range(sections):
        name, _, _, raw_size, raw_offset = struct.unpack_from("<8sIIII", head, table + 40 * i)
        if name.rstrip(b"\0") == b".text":
            return raw_offset, raw_size
    raise RuntimeError(f"{path} has no .text section")


def measure_run(wine, measure: Path, folder, mode: str, program: list[str], started: bool = True,
                env: dict[str, str] | None = None, what: str = "the run") -> dict:
    """One run of program in folder under zv_measure (mode "time" or "memory"): what zv_measure
    printed, once it has said that the program ended with 0 and, with started, that the game started."""
    from harness import to_windows_path
    started_file = to_windows_path(folder.root / "game-started.txt") if started else "-"
    result = wine.run(measure, [mode, started_file, *program], cwd=folder.root, timeout=600, env=env)
    if result.returncode != 0 or not result.stdout.strip():
        raise RuntimeError(f"zv_measure failed for {what} (exit {result.returncode}): "
                           + result.stderr.decode(errors="replace"))
    values = json.loads(result.stdout.decode().strip().splitlines()[-1])
    if values["exit_code"] != 0 or (started and values["spawn_to_game_ms"] < 0):
        raise RuntimeError(f"{what} did not start the game: {values} " + result.stderr.decode(errors="replace"))
    return values


def measure_current_launcher(wine, measure: Path, server, stub_path: str, folder, what: str, mode: str = "time",
                             env: dict[str, str] | None = None) -> dict:
    """One run of folder's launcher that must be current: it asks for the two manifests and nothing else."""
    from harness import to_windows_path
    server.log_file.write_text("")
    values = measure_run(wine, measure, folder, mode, [to_windows_path(folder.launcher)], env=env, what=what)
    if server.requests() != ["/launcher/manifest.json", stub_path]:
        raise RuntimeError(f"{what}'s run was not current: {server.requests()}")
    return values


class LaunchBench:
    def __init__(self, windows: Path, wine, server, workdir: Path):
        from harness import GameFolder
        self.windows = windows
        self.wine = wine
        self.server = server
        self.measure = windows / "bench" / "zv_measure.exe"
        self.floor = windows / "bench" / "zv_launch_floor.exe"
        self.stub = windows / "bench-game" / "ZVClient.dll"
        self.folders = {}
        for name, game in (("150 MiB", "BigGame.exe"), ("8 KiB", "SmallGame.exe")):
            folder = GameFolder(wine, workdir / f"game {name.replace(' ', '')}")
            folder.add(windows / "bench-game" / game, "Foo.exe")
            folder.add(self.stub, "ZVClient.dll")
            self.folders[name] = folder
        server.publish_launcher(next(iter(self.folders.values())).launcher)
        self.stub_manifests = {name: server.publish_stub(f.root / "Foo.exe", f.stub) for name, f in self.folders.items()}

    def _measure(self, folder, mode: str, program: list[str], started: bool = True) -> dict:
        return measure_run(self.wine, self.measure, folder, mode, program, started)

    def launcher(self, size: str, mode: str = "time", started: bool = True) -> dict:
        from harness import to_windows_path
        folder = self.folders[size]
        return self._measure(folder, mode, [to_windows_path(folder.launcher)], started)

    def floor_run(self, size: str, mode: str = "time") -> dict:
        from harness import to_windows_path
        folder = self.folders[size]
        game = folder.root / "Foo.exe"
        offset, raw_size = code_section(game)
        program = [to_windows_path(self.floor), self.server.url("/launcher/manifest.json"),
                   self.server.url(self.stub_manifests[size]), to_windows_path(game), str(offset), str(raw_size)]
        return self._measure(folder, mode, program)

    def check_current(self) -> None:
        """A launcher run asks for the two manifests and downloads nothing."""
        for size in self.folders:
            self.server.log_file.write_text("")
            self.launcher(size)
            requests = self.server.requests()
            if requests != ["/launcher/manifest.json", self.stub_manifests[size]]:
                raise RuntimeError(f"the launcher's run was not current: it asked for {requests}")

    def timing(self, rounds: int) -> dict:
        log("launcher against its floor: checking the runs are current, one warm-up round")
        self.check_current()
        for size in self.folders:
            self.floor_run(size)
        results = {size: {"launcher": [], "floor": []} for size in self.folders}
        for r in range(rounds):
            log(f"launcher against its floor: round {r + 1} of {rounds}")
            for size in self.folders:
                pair = [("launcher", lambda s=size: self.launcher(s)), ("floor", lambda s=size: self.floor_run(s))]
                for kind, run in (pair if r % 2 == 0 else pair[::-1]):
                    results[size][kind].append(run())
        return results

    def memory(self, rounds: int) -> list[dict]:
        """Peak working sets: current runs with small and large code sections, then runs that
        download a small and a large stub (the local stub out of date)."""
        rows = []
        for size in self.folders:
            log(f"peak memory: current run, code section {size}")
            peaks = [self.launcher(size, "memory")["peak_working_set"] for _ in range(rounds)]
            rows.append({"run": f"current, code section {size}", "peaks": peaks})
        size = "8 KiB"
        folder = self.folders[size]
        floor_peaks = [self.floor_run(size, "memory")["peak_working_set"] for _ in range(rounds)]
        old_stub = self.stub.read_bytes()
        for extra in (1, 256):
            log(f"peak memory: stub download of {extra} MiB")
            # The bench stub with data appended: still a library the game can load.
            bigger = folder.root.parent / f"stub-{extra}MiB.dll"
            with bigger.open("wb") as out:
                out.write(old_stub)
                for _ in range(extra):
                    out.write(os.urandom(MiB))
            self.server.publish_stub(folder.root / "Foo.exe", bigger)
            peaks = []
            for _ in range(rounds):
                folder.add(self.stub, "ZVClient.dll")
                self.server.log_file.write_text("")
                peaks.append(self.launcher(size, "memory")["peak_working_set"])
                if len([p for p in self.server.requests() if p.endswith(".dll")]) != 1:
                    raise RuntimeError("the stub was not downloaded")
                if folder.stub.stat().st_size != bigger.stat().st_size:
                    raise RuntimeError("the downloaded stub is not the published one")
            rows.append({"run": f"downloads a {extra} MiB stub (code section {size})", "peaks": peaks})
            bigger.unlink()
        folder.add(self.stub, "ZVClient.dll")
        self.server.publish_stub(folder.root / "Foo.exe", folder.stub)
        rows.append({"run": "floor program (code section 8 KiB), for comparison", "peaks": floor_peaks})
        return rows


# -- a launcher built with signing keys against one built without ---------------------------------------

class SignedBench:
    """Current runs of the launcher built with the test signing keys (the windows-signed preset) and
    of the one built without, on the same game (code section 8 KiB) and the same stub manifest,
    signed (the unsigned launcher does not look at the signature). A second folder with the
    unsigned launcher runs too: the difference between the two unsigned folders is the noise the
    comparison has to be read against. The launchers are different files, so the launcher manifest
    is switched to the one about to run before each run."""

    KINDS = ("unsigned", "signed", "unsigned again")

    def __init__(self, windows: Path, signed: Path, wine, server, workdir: Path):
        from harness import GameFolder, build_key, signed_manifest, signed_update_host, signing_key_file
        self.windows, self.wine, self.server = windows, wine, server
        self.measure = windows / "bench" / "zv_measure.exe"
        self.key = signing_key_file("signing-1")
        self.sign = signed_manifest
        self.host = signed_update_host()
        sources = {"unsigned": windows / "ZVLauncher.exe", "signed": signed / "ZVLauncher.exe",
                   "unsigned again": windows / "ZVLauncher.exe"}
        self.folders = {}
        for kind in self.KINDS:
            folder = GameFolder(wine, workdir / f"signing {kind}", launcher_source=sources[kind])
            folder.add(windows / "bench-game" / "SmallGame.exe", "Foo.exe")
            folder.add(windows / "bench-game" / "ZVClient.dll", "ZVClient.dll")
            self.folders[kind] = folder
        # Every folder holds the same game, so one stub manifest serves them all.
        folder = self.folders["signed"]
        self.stub_path = f"/stub/{build_key(folder.root / 'Foo.exe')}/manifest.json"
        server.put_manifest(self.stub_path, self._signed(self.stub_path, folder.stub.read_bytes()))

    def _signed(self, path: str, data: bytes) -> dict:
        """A signed manifest for data at path, current at version 1.0.0.0 (the launcher's own)."""
        return self.sign(path, data, self.server.url(path.rsplit("/", 1)[0] + "/file"), version="1.0.0.0",
                         expires="2099-01-01T00:00:00Z")

    def run(self, kind: str) -> dict:
        folder = self.folders[kind]
        self.server.put_manifest("/launcher/manifest.json",
                                 self._signed("/launcher/manifest.json", folder.launcher.read_bytes()))
        return measure_current_launcher(self.wine, self.measure, self.server, self.stub_path, folder,
                                        f"the {kind} launcher")

    def check_in_process(self) -> dict:
        """The two manifests' signature checks alone, inside one process under Wine: the first
        check (BCrypt loaded and its providers opened) and the next ones."""
        from harness import to_windows_path
        program = self.windows / "bench" / "zv_signature_check.exe"
        folder = self.folders["signed"]
        launcher = self._signed("/launcher/manifest.json", folder.launcher.read_bytes())
        stub = self._signed(self.stub_path, folder.stub.read_bytes())
        files = []
        for name, path, manifest in (("launcher.json", "/launcher/manifest.json", launcher),
                                     ("stub.json", self.stub_path, stub)):
            target = folder.root.parent / name
            target.write_text(json.dumps(manifest))
            files += [path, to_windows_path(target)]
        keys = self.key.parent / "update-keys.pem"
        result = self.wine.run(program, [to_windows_path(keys), self.host, *files], timeout=120)
        if result.returncode != 0:
            raise RuntimeError("zv_signature_check failed: " + result.stderr.decode(errors="replace"))
        return json.loads(result.stdout.decode().strip().splitlines()[-1])

    def timing(self, rounds: int) -> dict:
        log("signed against unsigned launcher: one warm-up round")
        for kind in self.KINDS:
            self.run(kind)
        results = {kind: [] for kind in self.KINDS}
        for r in range(rounds):
            log(f"signed against unsigned launcher: round {r + 1} of {rounds}")
            # Each launcher runs first, second and third in turn.
            order = self.KINDS[r % 3:] + self.KINDS[:r % 3]
            for kind in order:
                results[kind].append(self.run(kind))
        results["in_process"] = self.check_in_process()
        return results


# -- this launcher against one built from an earlier commit ----------------------------------------------

class BaselineBench:
    """Current runs of this launcher and of one built from an earlier commit (scripts/bench.sh
    builds it with the same toolchain, options and port), on the same game (code section 8 KiB)
    and stub manifest, no splash, the agreement recorded: measured as the launch comparison is,
    interleaved, each kind in every place of the order in turn. Both run with Windows in English
    (as the other rows) and in German (LC_ALL, as the end-to-end tests set it), where this launcher
    reads its German texts and Wine has its own work for another language."""

    KINDS = ("earlier", "this", "earlier, Windows in German", "this, Windows in German")
    LOCALES = {"earlier": "C.UTF-8", "this": "C.UTF-8", "earlier, Windows in German": "de_DE.UTF-8",
               "this, Windows in German": "de_DE.UTF-8"}

    def __init__(self, windows: Path, baseline: Path, wine, server, workdir: Path):
        from harness import GameFolder, build_key
        self.wine, self.server = wine, server
        self.measure = windows / "bench" / "zv_measure.exe"
        sources = {kind: baseline if kind.startswith("earlier") else windows / "ZVLauncher.exe"
                   for kind in self.KINDS}
        self.folders = {}
        for kind in self.KINDS:
            folder = GameFolder(wine, workdir / f"baseline {kind.replace(',', '')}", launcher_source=sources[kind])
            folder.add(windows / "bench-game" / "SmallGame.exe", "Foo.exe")
            folder.add(windows / "bench-game" / "ZVClient.dll", "ZVClient.dll")
            self.folders[kind] = folder
        self.stub_path = server.publish_stub(self.folders["this"].root / "Foo.exe", self.folders["this"].stub)
        assert all(build_key(f.root / "Foo.exe") == build_key(self.folders["this"].root / "Foo.exe")
                   for f in self.folders.values())

    def run(self, kind: str, mode: str = "time") -> dict:
        folder = self.folders[kind]
        # Each launcher is current against its own file.
        self.server.publish_launcher(folder.launcher)
        return measure_current_launcher(self.wine, self.measure, self.server, self.stub_path, folder,
                                        f"the {kind} launcher", mode, env={"LC_ALL": self.LOCALES[kind]})

    def timing(self, rounds: int) -> dict:
        log("this launcher against the earlier one: one warm-up round")
        for kind in self.KINDS:
            self.run(kind)
        results = {kind: [] for kind in self.KINDS}
        for r in range(rounds):
            log(f"this launcher against the earlier one: round {r + 1} of {rounds}")
            order = self.KINDS[r % len(self.KINDS):] + self.KINDS[:r % len(self.KINDS)]
            for kind in order:
                results[kind].append(self.run(kind))
        return results

    def memory(self, rounds: int) -> dict:
        log("this launcher against the earlier one: peak memory")
        return {kind: [self.run(kind, "memory")["peak_working_set"] for _ in range(rounds)] for kind in self.KINDS}


# -- the report -----------------------------------------------------------------------------------------

def machine() -> dict:
    cpu = "unknown"
    flags = ""
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name") and cpu == "unknown":
            cpu = line.split(":", 1)[1].strip()
        if line.startswith("flags") and not flags:
            flags = line
    return {
        "cpu": cpu, "cores": os.cpu_count(), "sha_ni": " sha_ni" in flags,
        "os": text_of(["sh", "-c", ". /etc/os-release && echo $PRETTY_NAME"]), "kernel": platform.release(),
        "gcc": text_of(["gcc", "--version"]), "mingw": text_of(["x86_64-w64-mingw32-g++-posix", "--version"]),
        "wine": text_of(["wine", "--version"]), "openssl": text_of(["openssl", "version"]),
        "sha1sum": text_of(["sha1sum", "--version"]),
        "memory": f"{os.sysconf('SC_PAGE_SIZE') * os.sysconf('SC_PHYS_PAGES') / 2**30:.0f} GiB",
    }


def ms(value: float) -> str:
    return f"{value:.1f} ms"


def mib(value: float) -> str:
    return f"{value / MiB:.1f} MiB"


def write_report(path: Path, results: dict, command: str) -> None:
    m = results["machine"]
    lines = [
        "# Speed and memory, side by side",
        "",
        "Written by the benchmark command from one run; every table compares the launcher's code with",
        "its yardstick measured in the same run, on the same machine, one after the other.",
        "",
        "    " + command,
        "",
        f"- Date: {results['date']} (took {results['duration_min']:.0f} minutes)",
        f"- Machine: {m['cpu']}, {m['cores']} cores (SHA extensions: {'yes' if m['sha_ni'] else 'no'}), "
        f"{m['memory']}, {m['os']}, Linux {m['kernel']}; shared with other jobs "
        f"(load average {results['load_before']} before, {results['load_after']} after)",
        f"- Toolchain: {m['gcc']}; {m['mingw']}; {m['wine']}; {m['openssl']}; {m['sha1sum']}",
        "",
        "The figures of earlier, separate measurements are explained in [integrity.md](integrity.md),",
        "[discovery.md](discovery.md) and [network.md](network.md).",
        "",
    ]

    if "sha1" in results:
        lines += [
            "## SHA-1 throughput against OpenSSL",
            "",
            "`zv_sha1_bench`: one 64 KiB buffer fed again and again into one context (Release, `-O3`); medians",
            f"of {results['sha1_repetitions']} interleaved repetitions, throughput from CPU time.",
            "",
            "| Engine | Throughput (GiB/s) | Against OpenSSL |",
            "|---|---:|---:|",
        ]
        lines += [f"| {r['name']} | {r['gib_s']:.3f} | {r['ratio']:.2f} |" for r in results["sha1"]]
        lines.append("")

    if "hash_file" in results:
        h = results["hash_file"]
        lines += [
            "## `HashFile` of a 512 MiB file against `sha1sum` and `openssl sha1`",
            "",
            "One file of random bytes, read from a warm file cache; each tool is a whole process",
            f"(wall time, start-up included), the order rotating from round to round; medians of {results['rounds']}",
            f"rounds, the fastest in brackets. All three printed the same digest (`{h['digest']}`).",
            "",
            "| Tool | Time | Throughput (MiB/s) | Against `sha1sum` |",
            "|---|---:|---:|---:|",
        ]
        base = next(r["seconds"] for r in h["rows"] if r["name"] == "sha1sum")
        lines += [f"| {r['name']} | {r['seconds'] * 1000:.0f} ms ({r['best'] * 1000:.0f}) | {r['mib_s']:.0f} | "
                  f"{r['seconds'] / base:.2f} |" for r in h["rows"]]
        if h["wine"]:
            w = median(h["wine"])
            lines += [f"| `HashFile` under Wine (zv_hash_file.exe, its own call only) | {w * 1000:.0f} ms "
                      f"({min(h['wine']) * 1000:.0f}) | {512 / w:.0f} | {w / base:.2f} |"]
        lines.append("")

    if "discovery" in results:
        d = results["discovery"]
        lines += [
            "## Discovery against its floor",
            "",
            "`LocateGame` on a tree of 10,000 files (2,000 PE files) against a loop that lists the same",
            "folders and reads the first 64 bytes of each candidate (see [discovery.md](discovery.md)).",
            f"Natively: CPU time, medians of {results['discovery_repetitions']} interleaved repetitions. Under Wine:",
            f"wall time, medians of {results['discovery_wine_rounds']} alternating rounds (fastest in brackets).",
            "",
            "| Where | List + read 64 bytes | `LocateGame` | Ratio |",
            "|---|---:|---:|---:|",
            f"| Native | {ms(d['native_floor'])} | {ms(d['native_locate'])} | "
            f"{d['native_locate'] / d['native_floor']:.2f} |",
        ]
        if "wine_floor" in d:
            lines.append(f"| Wine | {ms(d['wine_floor'])} ({d['wine_floor_min']:.1f}) | {ms(d['wine_locate'])} "
                         f"({d['wine_locate_min']:.1f}) | {d['wine_locate'] / d['wine_floor']:.2f} |")
        lines.append("")

    if "launch" in results:
        lines += [
            "## The launcher against its floor, from process start to the game's start",
            "",
            "Under Wine, in a private prefix that trusts the test CA, against the loopback HTTPS update",
            "server (tests/server/zvserver.py) on the port the launcher was built for. Each run is started by",
            "`zv_measure.exe` (bench/measure_windows.cpp), which takes the time just before its",
            "`CreateProcessW`; the game's client stub (bench/game_stub.c) writes the time its game's entry",
            "point ran; both clocks are `GetSystemTimePreciseAsFileTime`. The launcher's run is a current",
            "one: its manifest names the launcher's own digest, the stub manifest the local stub's, the",
            "agreement is recorded (`EULA` = 1), there is no splash bitmap beside it, and the server's log",
            "shows only the two manifests asked for. The floor (bench/launch_floor_windows.cpp, same",
            "toolchain and flags) makes the same two HTTPS GETs on one WinHTTP session, reads the code",
            "section once in 64 KiB reads without hashing, sleeps 300 ms and calls `CreateProcessW` once.",
            "The game is a real program that imports only `ZVClient.dll`, its code section padded to the",
            f"size given. Medians of {results['rounds']} interleaved rounds (which program goes first alternates),",
            "fastest in brackets; the goal with the 150 MiB code section is at most 150 ms over the floor.",
            "",
            "| Code section | Floor | Launcher | Launcher − floor |",
            "|---|---:|---:|---:|",
        ]
        for size, runs in results["launch"].items():
            floor = [r["spawn_to_game_ms"] for r in runs["floor"]]
            launcher = [r["spawn_to_game_ms"] for r in runs["launcher"]]
            diffs = [a - b for a, b in zip(launcher, floor)]
            lines.append(
                f"| {size} | {ms(median(floor))} ({min(floor):.0f}) | {ms(median(launcher))} ({min(launcher):.0f}) | "
                f"{ms(median(launcher) - median(floor))} (paired rounds: median {median(diffs):.0f}) |")
        lines += ["", "Every round, in order (launcher / floor, ms):", ""]
        for size, runs in results["launch"].items():
            pairs = ", ".join(f"{a['spawn_to_game_ms']:.0f}/{b['spawn_to_game_ms']:.0f}"
                              for a, b in zip(runs["launcher"], runs["floor"]))
            lines.append(f"- {size}: {pairs}")
        lines.append("")

    if "signed" in results:
        runs = {kind: [r["spawn_to_game_ms"] for r in results["signed"][kind]] for kind in SignedBench.KINDS}
        signed_diffs = [a - b for a, b in zip(runs["signed"], runs["unsigned"])]
        noise_diffs = [a - b for a, b in zip(runs["unsigned again"], runs["unsigned"])]
        check = results["signed"]["in_process"]
        lines += [
            "",
            "## A launcher built with signing keys against one built without",
            "",
            "Current runs as above (code section 8 KiB, no splash, the agreement recorded), measured the same",
            "way and interleaved, each launcher first, second and third in turn: the launcher built with the",
            "test signing keys (the `windows-signed` preset), which checks the two manifests' ECDSA P-256",
            "signatures with BCrypt before it uses them, and the launcher built without keys, which does",
            "not look at them, twice, from two folders: the difference between those two is the noise",
            "the comparison is read against. All read the same signed stub manifest; each its own launcher",
            f"manifest, signed. Medians of {results['signed_rounds']} rounds (fastest in brackets).",
            "",
            "| Launcher | To the game's start | Against the first unsigned folder |",
            "|---|---:|---:|",
            f"| built without keys | {ms(median(runs['unsigned']))} ({min(runs['unsigned']):.0f}) | |",
            f"| built with keys | {ms(median(runs['signed']))} ({min(runs['signed']):.0f}) | "
            f"{ms(median(runs['signed']) - median(runs['unsigned']))} (paired rounds: median "
            f"{median(signed_diffs):.1f}) |",
            f"| built without keys, another folder | {ms(median(runs['unsigned again']))} "
            f"({min(runs['unsigned again']):.0f}) | {ms(median(runs['unsigned again']) - median(runs['unsigned']))} "
            f"(paired rounds: median {median(noise_diffs):.1f}) |",
            "",
            "What the signed launcher does beyond the other, alone: both manifests' signature checks",
            "(`IsTrustedManifest`: base64, the DER reading, the SHA-256 of the signed message, the ECDSA",
            "check) in one process under Wine (bench/signature_check_windows.cpp), with the launcher's",
            "keys; the first call also loads BCrypt and opens its providers, which Wine's WinHTTP has",
            "usually loaded already in the launcher.",
            "",
            "| Both checks | Time |",
            "|---|---:|",
            f"| first, in a new process | {check['first_ms']:.2f} ms |",
            f"| again (median of {check['repeats']}) | {check['again_ms']:.3f} ms |",
            "",
            "The goal is at most 5 ms more for the signed run.",
            "",
            "Every round, in order (signed / unsigned / unsigned again, ms): "
            + ", ".join(f"{a:.0f} / {b:.0f} / {c:.0f}"
                        for a, b, c in zip(runs["signed"], runs["unsigned"], runs["unsigned again"])),
        ]
    if "baseline" in results:
        b = results["baseline"]
        runs = {kind: [r["spawn_to_game_ms"] for r in b["timing"][kind]] for kind in BaselineBench.KINDS}
        earlier = runs["earlier"]
        lines += [
            "",
            f"## This launcher against the one of {b['commit']}",
            "",
            f"Current runs as above (code section 8 KiB, no splash, the agreement recorded) of this launcher and",
            f"of the launcher built from {b['commit']} ({b['subject']}) with the same toolchain, options and",
            "port, measured the same way and interleaved, each in every place of the order in turn; both with",
            "Windows in English and in German (`LC_ALL`), where this launcher reads its German texts.",
            f"Medians of {b['rounds']} rounds (fastest in brackets); then the peak working set, the highest of",
            f"{b['memory_rounds']} runs each (every run in brackets). The goals: no slower, and at most 1 MiB more.",
            "",
            "| Launcher | To the game's start | Against the earlier one, same language | Peak working set |",
            "|---|---:|---:|---:|",
        ]
        for kind in BaselineBench.KINDS:
            # Each against the earlier launcher in the same language.
            reference = runs["earlier, Windows in German" if kind.endswith("German") else "earlier"]
            diffs = [a - c for a, c in zip(runs[kind], reference)]
            against = "" if kind.startswith("earlier") else (
                f"{ms(median(runs[kind]) - median(reference))} (paired rounds: median {median(diffs):.1f})")
            peaks = b["memory"][kind]
            name = kind.replace("earlier", b["commit"]).replace("this", "this one")
            lines.append(f"| {name} | {ms(median(runs[kind]))} ({min(runs[kind]):.0f}) | {against} | "
                         f"{mib(max(peaks))} ({', '.join(f'{p / MiB:.1f}' for p in peaks)}) |")
        lines += ["", "Every round, in order (" + " / ".join(BaselineBench.KINDS) + ", ms): "
                  + ", ".join(" / ".join(f"{runs[k][i]:.0f}" for k in BaselineBench.KINDS)
                              for i in range(len(earlier))), ""]

    if "memory" in results:
        lines += [
            "## Peak memory of a launcher run",
            "",
            "The launcher's peak working set (`PeakWorkingSetSize` of `GetProcessMemoryInfo` on the child",
            "handle), sampled by `zv_measure.exe memory` every 2 ms while the run lasts: under Wine the",
            "counters of another process come from the host's process, which is gone once it has ended.",
            "Runs that download have a local stub that is out of date; the published stub is the bench",
            "stub with random bytes appended (still a library the game loads). The highest of",
            f"{results['memory_rounds']} runs, every run in brackets.",
            "",
            "| Run | Peak working set |",
            "|---|---:|",
        ]
        for row in results["memory"]:
            lines.append(f"| {row['run']} | {mib(max(row['peaks']))} "
                         f"({', '.join(f'{p / MiB:.1f}' for p in row['peaks'])}) |")
        lines.append("")

    lines += results.get("notes", [])
    path.write_text("\n".join(lines).rstrip() + "\n")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--native-dir", type=Path, default=REPO / "build" / "bench-native")
    parser.add_argument("--windows-dir", type=Path, default=REPO / "build" / "windows")
    parser.add_argument("--signed-dir", type=Path, default=REPO / "build" / "windows-signed")
    parser.add_argument("--rounds", type=int, default=9, help="rounds of the launch and HashFile comparisons")
    parser.add_argument("--memory-rounds", type=int, default=3)
    parser.add_argument("--signed-rounds", type=int, default=21,
                        help="rounds of the signed-against-unsigned comparison")
    parser.add_argument("--baseline-dir", type=Path, default=None,
                        help="the build folder of a launcher from an earlier commit (with baseline.txt)")
    parser.add_argument("--baseline-rounds", type=int, default=15)
    parser.add_argument("--only", default="sha1,hashfile,discovery,launch,signed,memory,baseline")
    parser.add_argument("--output", type=Path, default=REPO / "docs" / "benchmarks" / "README.md")
    parser.add_argument("--command", default="sh scripts/bench.sh", help="the command named in the report")
    args = parser.parse_args()
    only = set(args.only.split(","))

    os.environ["ZV_BUILD_DIR"] = str(args.windows_dir.resolve())
    sys.path.insert(0, str(REPO / "tests" / "e2e"))
    from harness import AGREEMENT_KEY, UpdateServer, Wine

    started = time.monotonic()
    results = {"date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
               "machine": machine(), "rounds": args.rounds, "memory_rounds": args.memory_rounds,
               "sha1_repetitions": 10, "discovery_repetitions": 15, "discovery_wine_rounds": 31,
               "load_before": f"{os.getloadavg()[0]:.1f}"}

    workdir = Path(tempfile.mkdtemp(prefix="zv-bench-"))
    server = wine = None
    try:
        if only & {"hashfile", "discovery", "launch", "signed", "memory", "baseline"}:
            server = UpdateServer(workdir / "server")
            server.start()
            wine = Wine(workdir / "prefix")
            log("starting the Wine prefix")
            wine.up(trusted_ca=server.ca_der)
            wine.reg_set(AGREEMENT_KEY, "EULA", "REG_DWORD", "1")
        if "sha1" in only:
            results["sha1"] = sha1_throughput(args.native_dir, results["sha1_repetitions"])
        if "hashfile" in only:
            results["hash_file"] = hash_file(args.native_dir, args.windows_dir, wine, workdir, args.rounds)
        if "discovery" in only:
            results["discovery"] = discovery(args.native_dir, args.windows_dir, wine, results["discovery_repetitions"],
                                             results["discovery_wine_rounds"])
        if only & {"launch", "memory"}:
            bench = LaunchBench(args.windows_dir, wine, server, workdir)
            if "launch" in only:
                results["launch"] = bench.timing(args.rounds)
            if "memory" in only:
                results["memory"] = bench.memory(args.memory_rounds)
        if "signed" in only:
            results["signed"] = SignedBench(args.windows_dir, args.signed_dir, wine, server, workdir).timing(
                args.signed_rounds)
            results["signed_rounds"] = args.signed_rounds
        if "baseline" in only and args.baseline_dir is not None:
            commit, _, subject = (args.baseline_dir / "baseline.txt").read_text().strip().partition(" ")
            bench = BaselineBench(args.windows_dir, args.baseline_dir / "ZVLauncher.exe", wine, server, workdir)
            results["baseline"] = {"commit": commit, "subject": subject, "rounds": args.baseline_rounds,
                                   "memory_rounds": args.memory_rounds,
                                   "timing": bench.timing(args.baseline_rounds),
                                   "memory": bench.memory(args.memory_rounds)}
    finally:
        if wine is not None:
            wine.end_stragglers()
            wine.down()
        if server is not None:
            server.stop()
        shutil.rmtree(workdir, ignore_errors=True)

    results["load_after"] = f"{os.getloadavg()[0]:.1f}"
    results["duration_min"] = (time.monotonic() - started) / 60
    notes_file = REPO / "docs" / "benchmarks" / "notes.md"
    if notes_file.exists():
        results["notes"] = ["", *notes_file.read_text().splitlines()]
    (workdir.parent / "zv-bench-results.json").write_text(json.dumps(results, indent=1))
    write_report(args.output, results, args.command)
    log(f"wrote {args.output}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
