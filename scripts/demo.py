"""The launcher's main job with the real pieces: a sample game, its client stub and the launcher
(built with the operator's public key) are published with zvpublish and signed with the
operator's key, the tree is served by nginx over TLS on loopback with a test CA, and the launcher
runs under Wine against it four times: with an out-of-date stub, then current, then with an older
signed manifest served again (a replay), then with a manifest changed on the server after it was
signed.
"""

import subprocess
import sys
import tempfile
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
sys.path.insert(0, str(REPO / "tests" / "publish"))

from harness import (AGREEMENT_KEY, SERVER_DIR, GameFolder, Wine, finish_run, fixture, sha1_of,  # noqa: E402
                     update_host)
from publishing import Nginx, zvpublish, zvpublish_path  # noqa: E402


def step(text: str) -> None:
    print(f"\n== {text}", flush=True)


def show(command: list, result: subprocess.CompletedProcess) -> None:
    print("$ " + " ".join(f'"{a}"' if " " in str(a) else str(a) for a in command))
    for line in (result.stdout + result.stderr).splitlines():
        print("  " + line)


def publish(*args) -> None:
    result = zvpublish(*args)
    show(["zvpublish", *args], result)


def requests_since(nginx: Nginx, seen: int) -> list[dict]:
    return nginx.requests()[seen:]


def print_requests(requests: list[dict]) -> None:
    for r in requests:
        print(f"  nginx: {r['method']} {r['uri']} -> {r['status']} ({r['bytes']} bytes)")


SIGNED_LAUNCHER = REPO / "build" / "demo-signed" / "ZVLauncher.exe"
KEY = REPO / "build" / "demo-key" / "signing.pem"
PUBLIC_KEY = REPO / "build" / "demo-key" / "signing.pub.pem"


def main() -> int:
    host, port = update_host()
    base = f"https://{host}:{port}/"
    with tempfile.TemporaryDirectory(prefix="zv-demo-") as tmp:
        tmp = Path(tmp)
        tree = tmp / "tree"

        step("Test certificates: a CA of this run, and a certificate for localhost from it")
        subprocess.run([str(SERVER_DIR / "make_certs.sh"), str(tmp / "certs")], check=True, capture_output=True)

        step("A private Wine prefix that trusts that CA (about 15 seconds)")
        wine = Wine(tmp / "prefix")
        wine.up(trusted_ca=tmp / "certs" / "ca.der")
        try:
            # The agreement as a player leaves it after the first start ("I Accept"): the demo
            # answers no window, so nothing but the update server decides how a run goes.
            wine.reg_set(AGREEMENT_KEY, "EULA", "REG_DWORD", "1")

            step("A sample game folder: the launcher (built with the operator's public key) as Foo_ZV.exe, "
                 "the game Foo.exe, and stub version 1")
            game = GameFolder(wine, tmp / "Foo Game", launcher_source=SIGNED_LAUNCHER)
            game.add_splash()  # the launcher reads zarnovelle.bmp from its current directory
            game.add_game("Foo.exe")
            game.add_stub(1)
            for f in sorted(game.root.iterdir()):
                print(f"  {f.name:14} sha1 {sha1_of(f)}")

            step(f"Publishing with {zvpublish_path().relative_to(REPO)}, signed with the operator's key for "
                 f"{host}:{port}, valid for 30 days: stub version 1 for this game build (it has no version "
                 "resource: 1.0.0.1), then stub version 2 (its version resource says 2.0.0.0), and this "
                 "launcher (its own version)")
            signing = ["--signing-key", KEY, "--update-host", f"{host}:{port}", "--expires-in", "30"]
            publish("stub", "--target", game.root / "Foo.exe", "--stub", fixture("stub-1/ZVClient.dll"),
                    "--version", "1.0.0.1", "--base-url", base, "--out", tree, *signing)
            for folder in (tree / "stub").iterdir():
                stub_manifest = folder / "manifest.json"
            older = stub_manifest.read_bytes()  # what a hostile host keeps to serve again later
            publish("stub", "--target", game.root / "Foo.exe", "--stub", fixture("stub-2/ZVClient.dll"),
                    "--base-url", base, "--out", tree, *signing)
            publish("launcher", "--file", game.launcher, "--base-url", base, "--out", tree, *signing)
            publish("verify", tree, "--base-url", base, "--public-keys", PUBLIC_KEY, "--update-host", f"{host}:{port}")

            step(f"Serving the tree with nginx over TLS on 127.0.0.1:{port} (deploy/nginx)")
            with Nginx(tmp / "nginx", tree, tmp / "certs", port) as nginx:
                step("First run: the stub beside the game is version 1, the server has version 2")
                code = game.run(["--demo", "first run"])
                first = requests_since(nginx, 0)
                print_requests(first)
                record = game.launch_record()
                print(f"  the launcher ended with exit code {code}")
                if record:
                    print(f"  the game started: {record['command-line']}")
                    print(f"  the game loaded stub version {record['stub-version']}")
                downloaded = any(r["uri"].endswith(".dll") and r["status"] == 200 for r in first)
                stub_now = sha1_of(game.stub)
                print(f"  ZVClient.dll beside the game is now sha1 {stub_now}")
                first_ok = (code == 0 and record is not None and record["stub-version"] == "2" and downloaded
                            and stub_now == sha1_of(fixture("stub-2/ZVClient.dll")))

                step("Second run: everything is current")
                (game.root / "launch-record.txt").unlink(missing_ok=True)
                code = game.run(["--demo", "second run"])
                second = requests_since(nginx, len(first))
                print_requests(second)
                record = game.launch_record()
                print(f"  the launcher ended with exit code {code}")
                if record:
                    print(f"  the game started: {record['command-line']}")
                second_downloads = [r for r in second if not r["uri"].endswith("/manifest.json")]
                second_ok = code == 0 and record is not None and not second_downloads

                step("Third run: the host serves the older signed manifest again (stub version 1, 1.0.0.1)")
                current_stub_manifest = stub_manifest.read_bytes()
                stub_manifest.write_bytes(older)
                (game.root / "launch-record.txt").unlink(missing_ok=True)
                log = wine.prefix / "drive_c" / "users" / "root" / "AppData" / "Local" / "Zarnovelle" / "Logs"
                log_before = (log / "launcher.log").read_text(errors="replace") if log.exists() else ""
                code = game.run(["--demo", "third run"])
                third = requests_since(nginx, len(first) + len(second))
                print_requests(third)
                record = game.launch_record()
                print(f"  the launcher ended with exit code {code}")
                said = [line.split(" ", 2)[2] for line in
                        (log / "launcher.log").read_text(errors="replace")[len(log_before):].splitlines()
                        if "below the accepted" in line]
                for line in said:
                    print(f"  the launcher's log: {line}")
                if record:
                    print(f"  the game started and loaded stub version {record['stub-version']}")
                third_ok = (code == 0 and record is not None and record["stub-version"] == "2" and bool(said)
                            and not [r for r in third if r["uri"].endswith(".dll")])
                stub_manifest.write_bytes(current_stub_manifest)

                step("Fourth run: the launcher manifest is changed on the server after it was signed")
                manifest = tree / "launcher" / "manifest.json"
                original = manifest.read_text()
                at = original.index('"sha256": "') + len('"sha256": "')
                digit = original[at]
                changed = "1" if digit == "0" else "0"
                manifest.write_text(original[:at] + changed + original[at + 1:])
                print(f'  the first digit of "sha256" is now {changed} instead of {digit}')
                (game.root / "launch-record.txt").unlink(missing_ok=True)
                boxes = []
                code, caption = finish_run(wine, game.start(["--demo", "fourth run"]),
                                           on_box=lambda box: boxes.extend(box.static_texts()))
                fourth = requests_since(nginx, len(first) + len(second) + len(third))
                print_requests(fourth)
                print(f"  the launcher showed \"{caption}\": {' '.join(boxes)}")
                print(f"  the launcher ended with exit code {code}")
                fourth_ok = (code == 1 and caption == "Launcher Update Error" and game.launch_record(wait=2) is None
                             and [r["uri"] for r in fourth] == ["/launcher/manifest.json"])
                manifest.write_text(original)
        finally:
            wine.end_stragglers()
            wine.down()

    step("What happened")
    if first_ok:
        print("  First run: the stub was out of date. The launcher fetched the stub manifest for this game\n"
              "  build, checked its signature with the operator's public key, downloaded stub version 2,\n"
              "  checked its SHA-1 and SHA-256 against the manifest, and started the game, which loaded\n"
              "  version 2.")
    else:
        print("  First run: NOT as expected (see above): the stub should have been downloaded, verified and used.")
    if second_ok:
        print("  Second run: the launcher and the stub were current. Only the two manifests were fetched,\n"
              "  nothing was downloaded, and the game started.")
    else:
        print("  Second run: NOT as expected (see above): only the two manifests should have been fetched.")
    if third_ok:
        print("  Third run: the host served an older manifest the operator once signed, for stub version 1.\n"
              "  Its signature is good, but its version is below the 2.0.0.0 this player's launcher has\n"
              "  accepted, so the launcher downloaded nothing and kept stub version 2, which that version\n"
              "  named: whoever controls the server cannot take players back to an older release.")
    else:
        print("  Third run: NOT as expected (see above): the older manifest should have been refused.")
    if fourth_ok:
        print("  Fourth run: the manifest's signature no longer matched what it says, so the launcher used\n"
              "  nothing of it, showed its one box and did not start the game: whoever controls the server\n"
              "  cannot make it install anything the operator's key did not sign.")
    else:
        print("  Fourth run: NOT as expected (see above): the changed manifest should have been refused.")
    return 0 if first_ok and second_ok and third_ok and fourth_ok else 1


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (RuntimeError, AssertionError) as problem:
        print(f"\ndemo: {problem}", file=sys.stderr)
        sys.exit(1)
