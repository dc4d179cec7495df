#!/usr/bin/python3
"""Download benchmark: HttpClient::DownloadToFile under Wine against curl, side by side.

Both fetch the same files from the same loopback HTTPS test server (zvserver.py) into the same
folder, alternating, for several rounds. The launcher's side is zvfetch.exe from the Windows build,
which times DownloadToFile itself and reports its peak working set before and after the download.
A small and a large file show whether memory grows with the file.

    tests/server/bench_download.py [--build build/windows] [--size-mib 256] [--small-mib 16] [--rounds 3]
"""

import argparse
import hashlib
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def make_file(path, mib):
    digest = hashlib.sha1()
    with open(path, "wb") as f:
        for _ in range(mib):
            block = os.urandom(1024 * 1024)
            digest.update(block)
            f.write(block)
    return digest.hexdigest()


def sha1_of(path):
    digest = hashlib.sha1()
    with open(path, "rb") as f:
        while block := f.read(1 << 20):
            digest.update(block)
    return digest.hexdigest()


def run_zvfetch(prefix, zvfetch, url, target, warm_up_url):
    started = time.perf_counter()
    out = subprocess.run(
        [os.path.join(SOURCE, "tests/wine/run.sh"), prefix, zvfetch, url, windows_path(target), warm_up_url],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    wall = time.perf_counter() - started
    result = json.loads(out.strip().splitlines()[-1])
    if not result["ok"]:
        raise RuntimeError(f"DownloadToFile failed: {result}")
    return result["seconds"], wall, result


def run_curl(ca, url, target):
    started = time.perf_counter()
    out = subprocess.run(
        ["/usr/bin/time", "-f", "%M", "curl", "-sS", "--fail", "--cacert", ca, "-o", target, "-w", "%{time_total}", url],
        check=True,
        capture_output=True,
        text=True,
    )
    wall = time.perf_counter() - started
    peak_kib = int(out.stderr.strip().splitlines()[-1])
    return float(out.stdout.strip()), wall, peak_kib


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(SOURCE, "build/windows"))
    parser.add_argument("--size-mib", type=int, default=256)
    parser.add_argument("--small-mib", type=int, default=16)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    zvfetch = os.path.join(args.build, "tests/zvfetch.exe")
    zvwin = os.path.join(args.build, "tests/zvwin.exe")
    for tool in (zvfetch, zvwin):
        if not os.path.exists(tool):
            sys.exit(f"{tool} is missing: build the windows preset first")

    work = tempfile.mkdtemp(prefix="zv-bench-", dir=args.build)
    prefix = os.path.join(work, "wineprefix")
    server = None
    try:
        certs = os.path.join(work, "certs")
        subprocess.run([os.path.join(HERE, "make_certs.sh"), certs], check=True, capture_output=True)
        root = os.path.join(work, "root")
        os.makedirs(root)
        with open(os.path.join(root, "warm-up.txt"), "w") as f:
            f.write("warm-up\n")
        files = {
            "small": (f"small-{args.small_mib}m.bin", args.small_mib),
            "large": (f"large-{args.size_mib}m.bin", args.size_mib),
        }
        digests = {key: make_file(os.path.join(root, name), mib) for key, (name, mib) in files.items()}

        env = dict(os.environ, ZV_TEST_CA=os.path.join(certs, "ca.der"), ZVWIN=zvwin)
        subprocess.run([os.path.join(SOURCE, "tests/wine/prefix.sh"), "up", prefix], check=True, env=env,
                       capture_output=True)

        ready = os.path.join(work, "ready.json")
        server = subprocess.Popen(
            [os.path.join(HERE, "zvserver.py"), "--root", root, "--cert", os.path.join(certs, "server.pem"),
             "--key", os.path.join(certs, "server.key"), "--ready-file", ready],
            stdout=subprocess.DEVNULL,
        )
        for _ in range(100):
            if os.path.exists(ready):
                break
            time.sleep(0.1)
        port = json.load(open(ready))["https_port"]
        base = f"https://localhost:{port}/"
        warm_up = base + "warm-up.txt"

        target = os.path.join(work, "download.bin")
        results = {key: {"zv": [], "zv_wall": [], "zv_peak": [], "zv_base": [], "curl": [], "curl_wall": [],
                         "curl_peak": []} for key in files}
        for round_number in range(args.rounds):
            for key, (name, _) in files.items():
                # Alternate which client goes first, so neither always meets a warmer cache.
                order = ("zv", "curl") if round_number % 2 == 0 else ("curl", "zv")
                for client in order:
                    if os.path.exists(target):
                        os.remove(target)
                    r = results[key]
                    if client == "zv":
                        seconds, wall, report = run_zvfetch(prefix, zvfetch, base + name, target, warm_up)
                        r["zv"].append(seconds)
                        r["zv_wall"].append(wall)
                        r["zv_peak"].append(report["peak_working_set_after"])
                        r["zv_base"].append(report["peak_working_set_before"])
                    else:
                        seconds, wall, peak_kib = run_curl(os.path.join(certs, "ca.pem"), base + name, target)
                        r["curl"].append(seconds)
                        r["curl_wall"].append(wall)
                        r["curl_peak"].append(peak_kib * 1024)
                    if sha1_of(target) != digests[key]:
                        raise RuntimeError(f"{client} wrote a different {name}")

        mib = 1024 * 1024
        print(f"rounds: {args.rounds}; times are medians, memory the highest seen")
        print()
        print("| File | Client | Transfer time (s) | Throughput (MiB/s) | Whole process (s) | Peak memory (MiB) |")
        print("|---|---|---|---|---|---|")
        for key, (name, size) in files.items():
            r = results[key]
            zv = statistics.median(r["zv"])
            curl = statistics.median(r["curl"])
            print(f"| {size} MiB | DownloadToFile (Wine) | {zv:.2f} | {size / zv:.0f} | "
                  f"{statistics.median(r['zv_wall']):.2f} | {max(r['zv_peak']) / mib:.1f} "
                  f"(before the download: {max(r['zv_base']) / mib:.1f}) |")
            print(f"| {size} MiB | curl | {curl:.2f} | {size / curl:.0f} | "
                  f"{statistics.median(r['curl_wall']):.2f} | {max(r['curl_peak']) / mib:.1f} |")
    finally:
        if server is not None:
            server.terminate()
            server.wait()
        subprocess.run([os.path.join(SOURCE, "tests/wine/prefix.sh"), "down", prefix], capture_output=True)
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
