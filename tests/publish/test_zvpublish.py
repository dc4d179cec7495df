"""zvpublish against the real game fixtures: the same key as a reader of the tests' own, the same
refusals, and the same tree from the Linux tool and from zvpublish.exe under Wine."""

import hashlib
import json
import os
import re
import subprocess
from pathlib import Path

import pytest

from harness import (build_dir, build_key, fixture, sha1_of, signed_build_dir, signed_update_host, signing_key_file,
                     to_windows_path)
from publishing import zvpublish

WINDOWS_TOOL = build_dir() / "tools" / "zvpublish" / "zvpublish.exe"
BASE = "https://updates.example.com/"
SIGNED_LAUNCHER = signed_build_dir() / "ZVLauncher.exe"
PUBLIC_KEYS = signing_key_file("signing-1").with_name("update-keys.pem")


def update_host() -> str:
    """The host the launchers of the build are built for (ZV_UPDATE_HOST): zvpublish signs a launcher
    only for its own host."""
    return signed_update_host()


def unsigned_base() -> str:
    """The address of a tree served from the host the unsigned launcher is built for."""
    return f"https://{(build_dir() / 'update_host.txt').read_text().strip()}/"


def signing(name: str = "signing-1") -> list:
    """The options that sign with a test key (tests/keys/make_test_keys.sh) for the launchers' host."""
    return ["--signing-key", signing_key_file(name), "--update-host", update_host()]


def built_version(build: Path) -> str:
    """The launcher's version as the build was configured (ZV_VERSION), from its CMake cache."""
    cache = (build / "CMakeCache.txt").read_text()
    return re.search(r"^ZV_VERSION:STRING=(.*)$", cache, re.MULTILINE).group(1)


def run_tool(kind: str, wine, *args: str):
    """(exit code, stdout, stderr) of the Linux tool or of zvpublish.exe under Wine. Paths given
    as Path objects are handed to the Windows tool in its own form (drive Z:)."""
    if kind == "linux":
        result = zvpublish(*args, check=False)
        return result.returncode, result.stdout, result.stderr
    windows_args = [to_windows_path(a) if hasattr(a, "resolve") else a for a in args]
    result = wine.run(WINDOWS_TOOL, windows_args, timeout=120)
    # The C runtime's text mode ends lines with CR LF.
    return (result.returncode, result.stdout.decode().replace("\r\n", "\n"),
            result.stderr.decode().replace("\r\n", "\n"))


@pytest.mark.parametrize("kind", ["linux", "windows"])
@pytest.mark.parametrize("target", ["Game.exe", "GameCore.dll"])
def test_key_of_a_real_client_target_is_its_code_sections_sha1(kind, target, wine):
    code, out, err = run_tool(kind, wine, "key", fixture(target))
    assert (code, err) == (0, "")
    assert out == build_key(fixture(target)) + "\n"


@pytest.mark.parametrize("path,reason", [
    (fixture("stub-1/ZVClient.dll"), "not a client target: imports KERNEL32.dll first"),
    (build_dir() / "ZVLauncher.exe", "not a client target: imports "),
], ids=["the stub", "the launcher"])
def test_real_programs_that_are_no_client_target_are_refused(path, reason):
    result = zvpublish("key", path, check=False)
    assert result.returncode == 1
    assert result.stdout == ""
    assert result.stderr.startswith(f"zvpublish: {path}: {reason}"), result.stderr


def tree_contents(tree):
    return {str(p.relative_to(tree)): p.read_bytes() for p in sorted(tree.rglob("*")) if p.is_file()}


def test_linux_and_windows_tools_publish_the_same_tree(tmp_path, wine):
    game = fixture("Game.exe")
    stub = fixture("stub-2/ZVClient.dll")
    launcher = build_dir() / "ZVLauncher.exe"
    trees = {}
    for kind in ("linux", "windows"):
        tree = tmp_path / kind
        for args in (["stub", "--target", game, "--stub", stub], ["launcher", "--file", launcher]):
            code, _, err = run_tool(kind, wine, *args, "--base-url", unsigned_base(), "--out", tree)
            assert (code, err) == (0, ""), f"{kind}: {err}"
        trees[kind] = tree_contents(tree)

    assert trees["linux"] == trees["windows"]
    key = build_key(game)
    assert sorted(trees["linux"]) == sorted([
        f"stub/{key}/manifest.json", f"stub/{key}/ZVClient-{sha1_of(stub)}.dll",
        "launcher/manifest.json", f"launcher/ZVLauncher-{sha1_of(launcher)}.exe",
    ])
    # Each tool accepts what the other wrote.
    assert zvpublish("verify", tmp_path / "windows").returncode == 0
    code, out, err = run_tool("windows", wine, "verify", tmp_path / "linux")
    assert (code, err) == (0, ""), err


def test_a_tree_signed_on_linux_verifies_with_the_public_keys_on_both_tools(tmp_path, wine):
    """Signing is the Linux tool's; checking signatures is both tools' (the Windows one through the
    platform's own cryptography), for the update host given, and the Windows tool says plainly that
    it does not sign."""
    if not SIGNED_LAUNCHER.exists():
        pytest.fail(f"build the windows-signed preset first; missing: {SIGNED_LAUNCHER}")
    tree = tmp_path / "tree"
    zvpublish("stub", "--target", fixture("Game.exe"), "--stub", fixture("stub-2/ZVClient.dll"), "--base-url", BASE,
              "--out", tree, *signing(), "--expires-in", "30")
    zvpublish("launcher", "--file", SIGNED_LAUNCHER, "--base-url", BASE, "--out", tree, *signing())
    other = tmp_path / "other.pub.pem"
    zvpublish("keygen", "--out", tmp_path / "other.pem", "--public-out", other)

    for kind in ("linux", "windows"):
        code, out, err = run_tool(kind, wine, "verify", tree, "--public-keys", PUBLIC_KEYS, "--update-host",
                                  update_host())
        assert (code, err) == (0, ""), f"{kind}: {err}"
        assert out.endswith(": every manifest is good and signed\n"), out
        for keys, host in ((other, update_host()), (PUBLIC_KEYS, "staging.example.com")):
            code, _, err = run_tool(kind, wine, "verify", tree, "--public-keys", keys, "--update-host", host)
            assert code == 1
            assert err.count("no key of this launcher signed it for host " + host) == 2, f"{kind}: {err}"

    code, _, err = run_tool("windows", wine, "keygen", "--out", tmp_path / "windows.pem")
    assert code == 1 and "does not sign" in err, err
    assert not (tmp_path / "windows.pem").exists()
    code, _, err = run_tool("windows", wine, "launcher", "--file", SIGNED_LAUNCHER, "--base-url", BASE, "--out",
                            tmp_path / "w", *signing())
    assert code == 1 and "does not sign" in err, err


def fingerprint(public_key_pem: Path) -> str:
    """A key's fingerprint as openssl gives it: the first 16 digits of the SHA-256 of its DER
    SubjectPublicKeyInfo (openssl pkey -pubin -outform DER | sha256sum | cut -c1-16)."""
    der = subprocess.run(["openssl", "pkey", "-pubin", "-in", str(public_key_pem), "-outform", "DER"],
                         check=True, capture_output=True).stdout
    return hashlib.sha256(der).hexdigest()[:16]


@pytest.mark.parametrize("launcher,key,refused", [
    (build_dir() / "ZVLauncher.exe", "signing-1", "does not carry the public key of {key} ({fp}; the launcher's keys: "
                                                  "none): "),
    (SIGNED_LAUNCHER, "unknown", "does not carry the public key of {key} ({fp}; the launcher's keys: {keys}): "),
    (fixture("Game.exe"), "signing-1", "not a launcher: it is a game program"),
    (SIGNED_LAUNCHER, "signing-2", None),
], ids=["without keys", "other keys", "no launcher", "its second key"])
def test_a_launcher_is_signed_only_when_it_carries_the_keys_public_key(tmp_path, launcher, key, refused):
    """The fingerprints zvpublish names are those openssl computes from the public keys."""
    tree = tmp_path / "tree"
    result = zvpublish("launcher", "--file", launcher, "--base-url", BASE, "--out", tree, *signing(key), check=False)
    launcher_keys = ", ".join(fingerprint(signing_key_file(k).with_suffix(".pub.pem")) for k in ("signing-1", "signing-2"))
    if refused:
        assert result.returncode == 1
        expected = refused.format(key=signing_key_file(key), fp=fingerprint(signing_key_file(key).with_suffix(".pub.pem")),
                                  keys=launcher_keys)
        assert result.stderr.startswith(f"zvpublish: {launcher}: {expected}"), result.stderr
        assert not tree.exists()
    else:
        assert result.returncode == 0, result.stderr
        assert f"launcher   host {update_host()}, version {built_version(signed_build_dir())}, keys {launcher_keys}\n" \
               f"signed by  {fingerprint(signing_key_file(key).with_suffix('.pub.pem'))}, the launcher's key 2 of 2\n" \
            in result.stdout, result.stdout
        manifest = json.loads((tree / "launcher" / "manifest.json").read_text())
        assert manifest["version"] == built_version(signed_build_dir())


def test_signed_versions_come_from_the_version_resource(tmp_path):
    """Stub 2 carries FILEVERSION 2.0.0.0; stub 1 has no version resource and needs --version."""
    tree = tmp_path / "tree"
    common = ["--target", fixture("Game.exe"), "--base-url", BASE, "--out", tree, *signing()]
    manifest = tree / "stub" / build_key(fixture("Game.exe")) / "manifest.json"

    refused = zvpublish("stub", "--stub", fixture("stub-1/ZVClient.dll"), *common, check=False)
    assert refused.returncode == 1
    assert "has no version resource (no VERSIONINFO with a FILEVERSION); give the stub's version with --version" \
        in refused.stderr
    zvpublish("stub", "--stub", fixture("stub-1/ZVClient.dll"), *common, "--version", "1.0.0.7")
    assert json.loads(manifest.read_text())["version"] == "1.0.0.7"
    zvpublish("stub", "--stub", fixture("stub-2/ZVClient.dll"), *common)
    assert json.loads(manifest.read_text())["version"] == "2.0.0.0"
    # Going back to stub 1 needs a version above stub 2's.
    back = zvpublish("stub", "--stub", fixture("stub-1/ZVClient.dll"), *common, "--version", "1.0.0.8", check=False)
    assert back.returncode == 1
    assert "its version 1.0.0.8 is not above 2.0.0.0" in back.stderr
    assert json.loads(manifest.read_text())["version"] == "2.0.0.0"


@pytest.mark.parametrize("kind", ["linux", "windows"])
def test_prune_leaves_a_linked_build_folder_alone(tmp_path, wine, kind):
    """A build folder that is a symbolic link to a folder elsewhere is neither entered nor pruned.
    Under Wine the Windows tool sees a Unix link to a folder as a reparse point, as Windows shows a
    link or a junction; a link to a file Wine shows as a plain file (see docs/developers.md), so
    only the folder is checked on both tools."""
    tree = tmp_path / "tree"
    zvpublish("stub", "--target", fixture("Game.exe"), "--stub", fixture("stub-2/ZVClient.dll"), "--base-url", BASE,
              "--out", tree)
    outside = tmp_path / "outside"
    outside.mkdir()
    old = outside / f"ZVClient-{'b' * 40}.dll"
    old.write_text("not served")
    os.utime(old, (1709208000, 1709208000))
    (outside / "manifest.json").write_bytes(next((tree / "stub").iterdir()).joinpath("manifest.json").read_bytes())
    link = tree / "stub" / ("a" * 40)
    link.symlink_to(outside, target_is_directory=True)

    code, out, err = run_tool(kind, wine, "prune", tree, "--older-than", "0")
    assert code == 0, err
    assert "removed 0 files" in out, out
    assert f"{'a' * 40}: is a symbolic link (or another reparse point); prune neither enters nor removes links" in err
    assert old.exists() and link.is_symlink()

def test_linux_and_windows_tools_agree_on_the_status_of_a_tree(tmp_path, wine):
    """status --json of one real tree reads the same from both tools: the same paths below the tree
    (with "/"), sizes, totals, and modification times read through each platform's own calls."""
    tree = tmp_path / "tree"
    game, launcher = fixture("Game.exe"), build_dir() / "ZVLauncher.exe"
    for stub in ("stub-1", "stub-2"):
        zvpublish("stub", "--target", game, "--stub", fixture(f"{stub}/ZVClient.dll"),
                  "--base-url", unsigned_base(), "--out", tree)
    zvpublish("launcher", "--file", launcher, "--base-url", unsigned_base(), "--out", tree)
    key = build_key(game)
    replaced = f"stub/{key}/ZVClient-{sha1_of(fixture('stub-1/ZVClient.dll'))}.dll"
    stamp = 1709208000  # 2024-02-29T12:00:00Z
    os.utime(tree / replaced, (stamp, stamp))

    statuses = {}
    for kind in ("linux", "windows"):
        code, out, err = run_tool(kind, wine, "status", "--json", tree)
        assert (code, err) == (0, ""), f"{kind}: {err}"
        status = json.loads(out)
        # What differs by the moment and the form of the path given.
        del status["tree"], status["now"]
        for entry in status["unreferenced"]:
            del entry["age_seconds"]
        statuses[kind] = status

    assert statuses["linux"] == statuses["windows"]
    status = statuses["linux"]
    assert status["unreferenced"] == [
        {"file": replaced, "size": (tree / replaced).stat().st_size, "modified": "2024-02-29T12:00:00Z"}]
    assert status["launcher"]["file"] == f"launcher/ZVLauncher-{sha1_of(launcher)}.exe"
    assert [stub["key"] for stub in status["stubs"]] == [key]
    assert status["totals"]["files"] == 3


@pytest.mark.parametrize("kind", ["linux", "windows"])
def test_a_newcomers_slips_with_the_real_files_are_refused_or_named(tmp_path, wine, kind):
    """The real game program, launcher, stub and test key handed to the wrong option, an unsigned
    publish over a signed tree, a mistyped --out, and verify without keys on a signed tree, through
    both tools: each refusal says what the file or the tree is, and leaves the tree as it was."""
    if not SIGNED_LAUNCHER.exists():
        pytest.fail(f"build the windows-signed preset first; missing: {SIGNED_LAUNCHER}")
    game, launcher, stub, key = (fixture("Game.exe"), build_dir() / "ZVLauncher.exe",
                                 fixture("stub-2/ZVClient.dll"), signing_key_file("signing-1"))
    tree = tmp_path / "tree"
    # A tree signed for the signed launcher's host (the Linux tool signs).
    zvpublish("stub", "--target", game, "--stub", stub, "--base-url", BASE, "--out", tree, *signing())
    zvpublish("launcher", "--file", SIGNED_LAUNCHER, "--base-url", BASE, "--out", tree, *signing())
    before = tree_contents(tree)
    key_manifest = tree / "stub" / build_key(game) / "manifest.json"

    slips = [
        (["launcher", "--file", game], f"{game}: not a launcher: it is a game program"),
        (["launcher", "--file", key], f"{key}: not a launcher: it is text in PEM form (a key or a certificate)"),
        (["stub", "--target", game, "--stub", key], f"{key}: not a client stub: it is text in PEM form"),
        (["stub", "--target", game, "--stub", launcher],
         f"{launcher}: not a client stub: it is a 64-bit (x64) program, not a DLL"),
        (["stub", "--target", game, "--stub", fixture("stub-1/ZVClient.dll")],
         f"{key_manifest}: is signed: publishing without --signing-key would replace it with an unsigned manifest"),
    ]
    for arguments, refusal in slips:
        code, out, err = run_tool(kind, wine, *arguments, "--base-url", BASE, "--out", tree)
        if kind == "windows":
            err = err.replace("\\", "/").replace("Z:", "")
        assert (code, out) == (1, ""), f"{arguments}: {err}"
        assert err.startswith(f"zvpublish: {refusal}"), err
        assert tree_contents(tree) == before

    missing = tmp_path / "typo" / "tree"
    code, _, err = run_tool(kind, wine, "launcher", "--file", launcher, "--base-url", unsigned_base(), "--out", missing)
    assert code == 1 and "does not exist, and neither does its parent folder" in err, err
    assert not missing.parent.exists()

    code, out, err = run_tool(kind, wine, "verify", tree)
    assert (code, err) == (0, ""), err
    assert out.endswith("signatures were not checked: 2 manifests are signed; check them with --public-keys PUB.pem "
                        "--update-host HOST\n"
                        f"{to_windows_path(tree) if kind == 'windows' else tree}: every manifest is good for a "
                        "launcher without keys (signatures not checked)\n"), out

