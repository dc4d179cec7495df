"""zvpublish against the real game fixtures: the same key as a reader of the tests' own, the same
refusals, and the same tree from the Linux tool and from zvpublish.exe under Wine."""

import json
import os

import pytest

from harness import build_dir, build_key, fixture, sha1_of, to_windows_path
from publishing import zvpublish

WINDOWS_TOOL = build_dir() / "tools" / "zvpublish" / "zvpublish.exe"


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
            code, _, err = run_tool(kind, wine, *args, "--base-url", "https://updates.example.com/", "--out", tree)
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
    platform's own cryptography), and the Windows tool says plainly that it does not sign."""
    key, public = tmp_path / "key.pem", tmp_path / "key.pub.pem"
    zvpublish("keygen", "--out", key, "--public-out", public)
    tree = tmp_path / "tree"
    for args in (["stub", "--target", fixture("Game.exe"), "--stub", fixture("stub-2/ZVClient.dll")],
                 ["launcher", "--file", build_dir() / "ZVLauncher.exe"]):
        zvpublish(*args, "--base-url", "https://updates.example.com/", "--out", tree, "--signing-key", key)
    other = tmp_path / "other.pub.pem"
    zvpublish("keygen", "--out", tmp_path / "other.pem", "--public-out", other)

    for kind in ("linux", "windows"):
        code, out, err = run_tool(kind, wine, "verify", tree, "--public-keys", public)
        assert (code, err) == (0, ""), f"{kind}: {err}"
        assert out.endswith(": every manifest is good and signed\n"), out
        code, _, err = run_tool(kind, wine, "verify", tree, "--public-keys", other)
        assert code == 1
        assert err.count("its signature does not verify") == 2, f"{kind}: {err}"

    code, _, err = run_tool("windows", wine, "keygen", "--out", tmp_path / "windows.pem")
    assert code == 1 and "does not sign" in err, err
    assert not (tmp_path / "windows.pem").exists()
    code, _, err = run_tool("windows", wine, "launcher", "--file", build_dir() / "ZVLauncher.exe", "--base-url",
                            "https://updates.example.com/", "--out", tmp_path / "w", "--signing-key", key)
    assert code == 1 and "does not sign" in err, err


def test_linux_and_windows_tools_agree_on_the_status_of_a_tree(tmp_path, wine):
    """status --json of one real tree reads the same from both tools: the same paths below the tree
    (with "/"), sizes, totals, and modification times read through each platform's own calls."""
    tree = tmp_path / "tree"
    game, launcher = fixture("Game.exe"), build_dir() / "ZVLauncher.exe"
    for stub in ("stub-1", "stub-2"):
        zvpublish("stub", "--target", game, "--stub", fixture(f"{stub}/ZVClient.dll"),
                  "--base-url", "https://updates.example.com/", "--out", tree)
    zvpublish("launcher", "--file", launcher, "--base-url", "https://updates.example.com/", "--out", tree)
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
