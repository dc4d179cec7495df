"""A launcher built with signing keys (the windows-signed preset: ZV_UPDATE_PUBLIC_KEYS holds the
public keys of signing-1 and signing-2) end to end: it uses only manifests one of its keys signed
for exactly the path it asked for, checks downloads against both digests, and otherwise ends with
the box of a manifest without a usable "sha1". The signatures are made by openssl itself. The
unsigned build's scenarios are the other files of this folder."""

import hashlib

import pytest

from harness import (MESSAGE_BOX_CLASS, GameFolder, build_key, eventually, fixture, manifest_signature,
                     sha1_of, signed_build_dir, signing_key_file, wait_exit)

LAUNCHER_ERROR = "Launcher Update Error"
GAME_ERROR = "Game Update Error"
LAUNCHER_UNUSABLE = "Launcher manifest is missing SHA1 checksum."
STUB_UNUSABLE = "Game stub manifest is missing SHA1 checksum."


def digests(data: bytes) -> tuple[str, str]:
    return hashlib.sha1(data).hexdigest(), hashlib.sha256(data).hexdigest()


def signed(path: str, data: bytes, url: str | None = None, key: str = "signing-1", **changes) -> dict:
    """The manifest a publisher with key writes for data at path; changes replace members after
    signing ("signature" included)."""
    sha1, sha256 = digests(data)
    manifest = {"sha1": sha1, "sha256": sha256,
                "signature": manifest_signature(path, sha1, sha256, signing_key_file(key))}
    if url is not None:
        manifest["url"] = url
    manifest.update(changes)
    return manifest


@pytest.fixture
def signed_game(accepted_wine, server, tmp_path):
    """The signed launcher as Foo_ZV.exe beside the game, with stub 1; the launcher manifest signed
    and current, the stub manifest signed for stub 1 (a current stub)."""
    launcher = signed_build_dir() / "ZVLauncher.exe"
    if not launcher.exists():
        pytest.fail(f"build the windows-signed preset first; missing: {launcher}")
    game = GameFolder(accepted_wine, tmp_path / "Foo Game", launcher_source=launcher)
    game.add_game("Foo.exe")
    game.add_stub(1)
    game.key = build_key(game.root / "Foo.exe")
    game.stub_path = f"/stub/{game.key}/manifest.json"
    server.put_manifest("/launcher/manifest.json", signed("/launcher/manifest.json", game.launcher.read_bytes()))
    server.put_manifest(game.stub_path, signed(game.stub_path, game.stub.read_bytes()))
    return game


def expect_box(game, caption, text, process):
    box = game.wine.find_window(caption, MESSAGE_BOX_CLASS)
    assert box.static_texts() == [text]
    game.wine.press(caption, "OK", MESSAGE_BOX_CLASS)
    assert wait_exit(process) == 1


LAUNCHER_CASES = [
    # (name, the launcher manifest for the launcher's own bytes, or None when the game starts)
    ("current, signed by the first key", lambda data: signed("/launcher/manifest.json", data), None),
    ("current, signed by the second key",
     lambda data: signed("/launcher/manifest.json", data, key="signing-2"), None),
    ("unsigned", lambda data: {"sha1": digests(data)[0]}, LAUNCHER_UNUSABLE),
    ("signed by a key the build does not trust",
     lambda data: signed("/launcher/manifest.json", data, key="unknown"), LAUNCHER_UNUSABLE),
    ("a signature that is not base64",
     lambda data: signed("/launcher/manifest.json", data, signature="not base64!"), LAUNCHER_UNUSABLE),
    ("a signature that is not DER",
     lambda data: signed("/launcher/manifest.json", data, signature="MEQCIA=="), LAUNCHER_UNUSABLE),
    ("sha256 changed after signing",
     lambda data: signed("/launcher/manifest.json", data, sha256="0" * 64), LAUNCHER_UNUSABLE),
    ("a manifest signed for another place",
     lambda data: signed("/stub/" + "a" * 40 + "/manifest.json", data), LAUNCHER_UNUSABLE),
]


@pytest.mark.parametrize("name,manifest,text", LAUNCHER_CASES, ids=[c[0] for c in LAUNCHER_CASES])
def test_the_launcher_manifest_is_used_only_when_signed_for_its_place(signed_game, server, name, manifest, text):
    game = signed_game
    server.put_manifest("/launcher/manifest.json", manifest(game.launcher.read_bytes()))
    before = game.launcher.read_bytes()
    process = game.start()
    if text is None:
        assert wait_exit(process) == 0
        assert game.launch_record() is not None, "the game started"
    else:
        expect_box(game, LAUNCHER_ERROR, text, process)
        assert not [p for p in server.requests() if p.startswith("/stub/")], "the game step never runs"
    assert game.launcher.read_bytes() == before
    assert game.wine.temporary_files() == []


def test_another_builds_signed_stub_manifest_is_refused_and_deletes_nothing(signed_game, server):
    game = signed_game
    newer = fixture("stub-2/ZVClient.dll").read_bytes()
    url = server.put_file(f"/stub/{game.key}/ZVClient-2.dll", newer)
    # Signed, but for a build key that is not this game's.
    server.put_manifest(game.stub_path, signed("/stub/" + "b" * 40 + "/manifest.json", newer, url))
    before = {p.name: p.read_bytes() for p in game.root.iterdir()}
    expect_box(game, GAME_ERROR, STUB_UNUSABLE, game.start())
    assert {p.name: p.read_bytes() for p in game.root.iterdir()} == before, "nothing downloaded, nothing deleted"
    assert f"/stub/{game.key}/ZVClient-2.dll" not in server.requests()


def test_a_stub_whose_sha1_matches_but_sha256_does_not_is_removed(signed_game, server):
    game = signed_game
    newer = fixture("stub-2/ZVClient.dll").read_bytes()
    url = server.put_file(f"/stub/{game.key}/ZVClient-2.dll", newer)
    sha1, _ = digests(newer)
    other = hashlib.sha256(b"other bytes").hexdigest()
    # A correctly signed manifest whose two digests name different files.
    manifest = {"sha1": sha1, "sha256": other, "url": url,
                "signature": manifest_signature(game.stub_path, sha1, other, signing_key_file("signing-1"))}
    server.put_manifest(game.stub_path, manifest)
    expect_box(game, GAME_ERROR, "Downloaded game stub file checksum does not match expected value.", game.start())
    assert not game.stub.exists(), "nothing unverified is left where the game loads it"
    assert (game.root / "Foo.exe").exists()


def test_a_signed_stub_is_downloaded_verified_and_used(signed_game, server):
    game = signed_game
    newer = fixture("stub-2/ZVClient.dll").read_bytes()
    url = server.put_file(f"/stub/{game.key}/ZVClient-2.dll", newer)
    server.put_manifest(game.stub_path, signed(game.stub_path, newer, url, key="signing-2"))
    assert wait_exit(game.start()) == 0
    assert game.stub.read_bytes() == newer
    assert game.launch_record()["stub-version"] == "2"


def test_a_signed_self_update_replaces_the_launcher_and_restarts_it(signed_game, server):
    game, wine = signed_game, signed_game.wine
    # Another build: the same program with bytes after its last section, which Windows ignores.
    newer = game.launcher.read_bytes() + b"\0newer signed build\0" * 64
    url = server.put_file("/launcher/ZVLauncher-next.exe", newer)
    server.put_manifest("/launcher/manifest.json", signed("/launcher/manifest.json", newer, url))
    assert wait_exit(game.start(["-w"])) == 0
    assert eventually(lambda: game.launcher.read_bytes() == newer, timeout=30), "the launcher was not replaced"
    record = game.launch_record(wait=30)
    assert record is not None, "the restarted launcher did not start the game"
    assert record["command-line"].endswith(" -w --zarnovelle-launcher")
    assert eventually(lambda: not wine.temporary_files(), timeout=10)
    assert server.requests().count("/launcher/manifest.json") == 2, "the restarted launcher checked again"
