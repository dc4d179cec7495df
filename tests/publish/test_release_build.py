"""The operator's build of the launcher: configure says what the launcher is built for, and a host,
version or keys given once stay until they are given again (re-running the preset without them
keeps them), so that a rebuild cannot silently point every player at another host. The launcher
built twice from two folders is the same file: scripts/check_reproducible.sh, a stage of the test
command."""

import hashlib
import re
import subprocess
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
KEYS = REPO / "build" / "test-keys"


def configure(build: Path, *options: str) -> subprocess.CompletedProcess:
    return subprocess.run(["cmake", "--preset", "launcher", "-B", str(build), *options], cwd=REPO,
                          capture_output=True, text=True, timeout=300)


def summary(result: subprocess.CompletedProcess) -> str:
    lines = [line for line in (result.stdout + result.stderr).splitlines() if line.startswith("ZVLauncher.exe: ")]
    assert len(lines) == 1, result.stdout + result.stderr
    return lines[0]


def fingerprint(public_pem: Path) -> str:
    der = subprocess.run(["openssl", "pkey", "-pubin", "-in", str(public_pem), "-outform", "DER"],
                         capture_output=True, check=True).stdout
    return hashlib.sha256(der).hexdigest()[:16]


def test_configure_says_what_the_launcher_is_built_for_and_a_rerun_keeps_it(tmp_path):
    build = tmp_path / "launcher"
    keys = KEYS / "update-keys.pem"
    first = configure(build, "-DZV_UPDATE_HOST=Updates.Example.com:8443", "-DZV_VERSION=2.01.0.7",
                      f"-DZV_UPDATE_PUBLIC_KEYS={keys}")
    assert first.returncode == 0, first.stderr
    prints = " ".join(fingerprint(KEYS / f"{name}.pub.pem") for name in ("signing-1", "signing-2"))
    expected = (f"ZVLauncher.exe: update host Updates.Example.com:8443, version 2.1.0.7, manifests must be "
                f"signed by one of 2 key(s): {prints} (ZV_UPDATE_PUBLIC_KEYS={keys})")
    assert summary(first) == expected

    # The newcomer's slip: the preset again, without the options. Nothing goes back to a default.
    again = configure(build)
    assert again.returncode == 0, again.stderr
    assert summary(again) == expected
    assert (build / "update_host.txt").read_text() == "Updates.Example.com:8443\n"

    # Given again, it changes, and says so.
    changed = configure(build, "-DZV_UPDATE_HOST=updates.example.net", "-DZV_UPDATE_PUBLIC_KEYS=")
    assert summary(changed) == ("ZVLauncher.exe: update host updates.example.net, version 2.1.0.7, manifests are "
                                "not signed (ZV_UPDATE_PUBLIC_KEYS is empty)")


@pytest.mark.parametrize("option,message", [
    ("-DZV_VERSION=1.2.3", "ZV_VERSION must be four numbers A.B.C.D"),
    ("-DZV_VERSION=1.2.3.65536", "each of its four numbers must be from 0 to 65535"),
    ("-DZV_UPDATE_HOST=https://updates.example.com", "ZV_UPDATE_HOST must be a host name or host:port"),
    (f"-DZV_UPDATE_PUBLIC_KEYS={KEYS / 'signing-1.pem'}", "it holds no PEM \"PUBLIC KEY\" block"),
], ids=["three numbers", "a number over 65535", "a URL for a host", "a private key for the public keys"])
def test_configure_refuses_what_no_launcher_can_be_built_for(tmp_path, option, message):
    result = configure(tmp_path / "launcher", option)
    assert result.returncode != 0
    assert message in re.sub(r"\s+", " ", result.stderr), result.stderr
