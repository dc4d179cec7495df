"""A launcher built with signing keys (the windows-signed preset: ZV_UPDATE_PUBLIC_KEYS holds the
public keys of signing-1 and signing-2, ZV_VERSION is 1.0.0.0) end to end. It uses only manifests one
of its keys signed for its host and exactly the path it asked for, never installs a launcher
version that is not above its own, never goes below the highest stub version it accepted from a key
it trusts, deletes a game only for a signed withdrawal, and stops a download at its signed size.
A key rotation runs through the launchers of its three steps, built from the same sources: signing-1
alone at 0.9.0.0 (windows-signed-key1), both keys at 1.0.0.0, signing-2 alone at 1.1.0.0
(windows-signed-key2). The signatures are made by openssl itself. The unsigned build's scenarios
are the other files of this folder; every untrusted form is in the unit tables
(src/update/manifest_signature_test.cpp)."""

import hashlib
import re
import shutil
from datetime import datetime, timedelta, timezone
from pathlib import Path

import pytest

from harness import (MESSAGE_BOX_CLASS, GameFolder, build_key, eventually, fixture, key_fingerprint, marks_key,
                     signed_build_dir, signed_manifest, signed_update_host, signed_withdrawal, wait_exit)

LAUNCHER_ERROR = "Launcher Update Error"
GAME_ERROR = "Game Update Error"
LAUNCHER_PATH = "/launcher/manifest.json"
MARKS_KEY = r"HKCU\SOFTWARE\Zarnovelle\Manifests"


def utc(days: float) -> str:
    """An "expires" that many days from now."""
    return (datetime.now(timezone.utc) + timedelta(days=days)).strftime("%Y-%m-%dT%H:%M:%SZ")


@pytest.fixture
def signed_game(accepted_wine, server, tmp_path):
    """The signed launcher as Foo_ZV.exe beside the game, with stub 1; the launcher manifest signed
    for its own bytes at its own version, the stub manifest signed for stub 1 (a current stub)."""
    launcher = signed_build_dir() / "ZVLauncher.exe"
    if not launcher.exists():
        pytest.fail(f"build the windows-signed preset first; missing: {launcher}")
    accepted_wine.reg_delete_key(MARKS_KEY)
    game = GameFolder(accepted_wine, tmp_path / "Foo Game", launcher_source=launcher)
    game.add_game("Foo.exe")
    game.add_stub(1)
    game.key = build_key(game.root / "Foo.exe")
    game.stub_path = f"/stub/{game.key}/manifest.json"
    game.stub_url = lambda n: server.url(f"/stub/{game.key}/ZVClient-{n}.dll")
    server.put_manifest(LAUNCHER_PATH, signed_manifest(LAUNCHER_PATH, game.launcher.read_bytes(),
                                                       server.url("/launcher/ZVLauncher-own.exe"), version="1.0.0.0"))
    publish_stub(server, game, 1, "1.0.0.1")
    yield game
    accepted_wine.reg_delete_key(MARKS_KEY)


def publish_stub(server, game, number: int, version: str, **options) -> bytes:
    """Serves test stub number and a signed manifest naming it at version; returns its bytes."""
    data = fixture(f"stub-{number}/ZVClient.dll").read_bytes()
    url = server.put_file(f"/stub/{game.key}/ZVClient-{number}.dll", data)
    server.put_manifest(game.stub_path, signed_manifest(game.stub_path, data, url, version=version, **options))
    return data


def expect_box(game, caption, text, process):
    box = game.wine.find_window(caption, MESSAGE_BOX_CLASS)
    assert box.static_texts() == [text]
    game.wine.press(caption, "OK", MESSAGE_BOX_CLASS)
    assert wait_exit(process) == 1


def expect_game_started(game, process, stub_version: str):
    assert wait_exit(process) == 0
    record = game.launch_record()
    assert record is not None, "the game started"
    assert record["stub-version"] == stub_version


def folder_contents(game) -> dict:
    return {p.name: p.read_bytes() for p in game.root.iterdir()}


def mark(version: str, stub: Path | None, key: str) -> str:
    """A mark as reg.exe exports it: the version, the stub's SHA-256 (or "withdrawn") and the
    fingerprint of the key that signed the manifest."""
    digest = hashlib.sha256(stub.read_bytes()).hexdigest() if stub else "withdrawn"
    return f'"{version} {digest} {key_fingerprint(key)}"'


def kept_mark(game) -> str | None:
    return game.wine.reg_exported(marks_key(), game.stub_path)


def test_a_current_signed_run_starts_the_game(signed_game, server):
    game = signed_game
    expect_game_started(game, game.start(), "1")
    assert not [p for p in server.requests() if not p.endswith("manifest.json")], "nothing downloaded"
    assert kept_mark(game) == mark("1.0.0.1", game.stub, "signing-1"), (
        "the accepted version is kept for this host, with the key that signed it")


def launcher_manifest(game, server, **options) -> dict:
    """A signed manifest for a newer launcher build at version 1.0.0.1 (unless options say
    otherwise), with the changes options name."""
    newer = game.launcher.read_bytes() + b"\0another signed build\0" * 64
    url = server.put_file("/launcher/ZVLauncher-next.exe", newer)
    return signed_manifest(LAUNCHER_PATH, newer, url, **options)


UNTRUSTED = [
    # (name, the manifest's options)
    ("signed for another host (a staging tree)", {"host": "staging.example.com"}),
    ("signed for another path", {"path_override": "/stub/" + "a" * 40 + "/manifest.json"}),
    ("an http url", {"url_override": "http"}),
    ("the version raised after signing", {"version": "1.0.0.1", "changes": {"version": "9.9.9.9"}}),
    ("the url changed after signing", {"changes": {"url": "https://elsewhere.example.com/x.exe"}}),
    ("no size", {"changes": {"size": None}}),
    ("the first signed form (no version, size or url signed)", {"changes": {"size": None, "version": None}}),
    ("signed by a key the launcher does not trust", {"key": "unknown"}),
]


@pytest.mark.parametrize("name,options", UNTRUSTED, ids=[c[0] for c in UNTRUSTED])
def test_an_untrusted_launcher_manifest_is_used_for_nothing(signed_game, server, name, options):
    game = signed_game
    newer = game.launcher.read_bytes() + b"\0another signed build\0" * 64
    url = server.put_file("/launcher/ZVLauncher-next.exe", newer)
    if options.get("url_override") == "http":
        url = url.replace("https://", "http://")
    manifest = signed_manifest(options.get("path_override", LAUNCHER_PATH), newer, url,
                               host=options.get("host"), key=options.get("key", "signing-1"),
                               version=options.get("version", "1.0.0.1"), changes=options.get("changes"))
    server.put_manifest(LAUNCHER_PATH, manifest)
    before = game.launcher.read_bytes()
    expect_box(game, LAUNCHER_ERROR, "Launcher manifest is not signed for this launcher.", game.start())
    assert server.requests() == [LAUNCHER_PATH], "nothing downloaded, and the game step never runs"
    assert game.launcher.read_bytes() == before
    assert game.wine.temporary_files() == []


def test_an_expired_launcher_manifest_is_used_for_nothing(signed_game, server):
    game = signed_game
    server.put_manifest(LAUNCHER_PATH, launcher_manifest(game, server, expires=utc(-1)))
    expect_box(game, LAUNCHER_ERROR, "Launcher manifest has expired.", game.start())
    assert server.requests() == [LAUNCHER_PATH]


@pytest.mark.parametrize("version", ["1.0.0.0", "0.9.0.0"], ids=["equal", "lower"])
def test_a_launcher_manifest_not_above_its_own_version_is_no_update(signed_game, server, version):
    """A replayed older manifest, for a build that is not this one: the run goes on."""
    game = signed_game
    server.put_manifest(LAUNCHER_PATH, launcher_manifest(game, server, version=version, expires=utc(30)))
    before = game.launcher.read_bytes()
    expect_game_started(game, game.start(), "1")
    assert "/launcher/ZVLauncher-next.exe" not in server.requests()
    assert game.launcher.read_bytes() == before


def leftovers(game) -> list[str]:
    return sorted(p.name for p in game.root.iterdir() if p.suffix in (".new", ".previous", ".partial"))


def test_a_higher_launcher_version_replaces_the_launcher_and_restarts_it(signed_game, server):
    game, wine = signed_game, signed_game.wine
    # Another build: the same program with bytes after its last section, which Windows ignores. It
    # still says it is 1.0.0.0; the restarted launcher finds its file to be the release.
    manifest = launcher_manifest(game, server, version="1.0.0.1", expires=utc(30))
    newer = server.root.joinpath("launcher/ZVLauncher-next.exe").read_bytes()
    server.put_manifest(LAUNCHER_PATH, manifest)
    assert wait_exit(game.start(["-w"])) == 0
    assert game.launcher.read_bytes() == newer, "the launcher was not replaced"
    record = game.launch_record(wait=30)
    assert record is not None, "the restarted launcher did not start the game"
    assert record["command-line"].endswith(" -w --zarnovelle-launcher")
    assert eventually(lambda: leftovers(game) == [], timeout=15)
    assert wine.temporary_files() == []
    assert server.requests().count(LAUNCHER_PATH) == 2, "the restarted launcher checked again"
    assert server.requests().count("/launcher/ZVLauncher-next.exe") == 1


ROLLED_BACK_KEY = r"HKCU\SOFTWARE\Zarnovelle\RolledBackLaunchers"
CANNOT_START = [
    # (name, the release's file)
    ("it crashes at start", "broken/crash-at-start.exe"),
    ("it imports a library that does not exist", "broken/missing-import.exe"),
]


@pytest.mark.parametrize("name,release", CANNOT_START, ids=[c[0] for c in CANNOT_START])
def test_a_signed_release_that_cannot_start_is_rolled_back_and_the_game_starts(signed_game, server, name, release):
    """A release signed and published by mistake that cannot start on this machine: the launcher it
    replaced puts itself back and starts the game in the same run, with no box; the release is
    never downloaded again, and a higher working release is taken as usual."""
    game, wine = signed_game, signed_game.wine
    old = game.launcher.read_bytes()
    broken = fixture(release).read_bytes()
    url = server.put_file("/launcher/broken.exe", broken)
    server.put_manifest(LAUNCHER_PATH, signed_manifest(LAUNCHER_PATH, broken, url, version="1.0.0.1"))

    expect_game_started(game, game.start(["-w"]), "1")
    assert not wine.windows(MESSAGE_BOX_CLASS), "no box"
    assert game.launcher.read_bytes() == old
    assert leftovers(game) == []
    assert game.launch_record()["command-line"].endswith(" -w --zarnovelle-launcher")
    assert wine.reg_query(ROLLED_BACK_KEY, hashlib.sha256(broken).hexdigest()) is not None

    # The next run downloads nothing for that release.
    (game.root / "launch-record.txt").unlink()
    expect_game_started(game, game.start(), "1")
    assert server.requests().count("/launcher/broken.exe") == 1
    assert game.launcher.read_bytes() == old

    # A higher release that works is downloaded, put in place and confirms its start.
    (game.root / "launch-record.txt").unlink()
    newer = old + b"\0the fixed release\0" * 64
    url = server.put_file("/launcher/fixed.exe", newer)
    server.put_manifest(LAUNCHER_PATH, signed_manifest(LAUNCHER_PATH, newer, url, version="1.0.0.2"))
    expect_game_started(game, game.start(), "1")
    assert game.launcher.read_bytes() == newer
    assert eventually(lambda: leftovers(game) == [], timeout=15)


def test_an_untrusted_or_expired_stub_manifest_deletes_nothing(signed_game, server):
    game = signed_game
    before = folder_contents(game)
    data = fixture("stub-2/ZVClient.dll").read_bytes()
    url = server.put_file(f"/stub/{game.key}/ZVClient-2.dll", data)
    cases = [
        (signed_manifest("/stub/" + "b" * 40 + "/manifest.json", data, url, version="1.0.0.2"),
         "Game stub manifest is not signed for this launcher."),
        (signed_manifest(game.stub_path, data, url, version="1.0.0.2", host="other." + signed_update_host()),
         "Game stub manifest is not signed for this launcher."),
        (signed_manifest(game.stub_path, data, url, version="1.0.0.2", expires=utc(-0.01)),
         "Game stub manifest is out of date."),
        (signed_withdrawal(game.stub_path, "1.0.0.2", expires=utc(-1)), "Game stub manifest is out of date."),
    ]
    for manifest, text in cases:
        server.put_manifest(game.stub_path, manifest)
        expect_box(game, GAME_ERROR, text, game.start())
        assert folder_contents(game) == before, "nothing downloaded, nothing deleted"
    assert f"/stub/{game.key}/ZVClient-2.dll" not in server.requests()


def test_a_stub_manifest_below_the_accepted_version_is_never_used_to_download(signed_game, server):
    game = signed_game
    publish_stub(server, game, 2, "1.0.0.2")
    expect_game_started(game, game.start(), "2")
    # The host (or a CDN edge that lags) serves the older manifest again: the stub the higher
    # version named is in place, so the game starts with it.
    publish_stub(server, game, 1, "1.0.0.1")
    expect_game_started(game, game.start(), "2")
    assert server.requests().count(f"/stub/{game.key}/ZVClient-1.dll") == 0
    # With another stub in place, the older manifest cannot bring it back either.
    game.add_stub(1)
    expect_box(game, GAME_ERROR, "Game stub manifest is out of date.", game.start())
    assert game.stub.read_bytes() == fixture("stub-1/ZVClient.dll").read_bytes()
    assert server.requests().count(f"/stub/{game.key}/ZVClient-1.dll") == 0


NO_MARK = [
    # (name, the value's type, its data, what the log says of it)
    ("signed by a key the launcher does not trust", "REG_SZ", None,
     "comes from a manifest signed by {unknown}, a key this launcher does not trust; it counts as none"),
    ("not a text value", "REG_DWORD", "1", "cannot be read (it is not a text value (REG_SZ)); it counts as none"),
    ("the form before signers were kept", "REG_SZ", "9.0.0.0 withdrawn", "cannot be read (it is not a mark)"),
    ("longer than any mark", "REG_SZ", "9" * 400, "cannot be read (it is longer than any mark)"),
]


@pytest.mark.parametrize("name,kind,data,logged", NO_MARK, ids=[c[0] for c in NO_MARK])
def test_a_mark_that_does_not_count_holds_nothing_back_and_is_replaced(signed_game, server, name, kind, data,
                                                                       logged):
    """Any program of the player's Windows user can write these values: one that is no mark, or a
    mark of a key this launcher does not trust, counts as none (the log says so), and the next
    manifest accepted replaces it."""
    game = signed_game
    shutil.rmtree(game.wine.log_folder(), ignore_errors=True)
    unknown = key_fingerprint("unknown")
    game.wine.reg_set(marks_key(), game.stub_path, kind, data or f"9.0.0.0 withdrawn {unknown}")
    publish_stub(server, game, 2, "1.0.0.2")
    expect_game_started(game, game.start(), "2")
    assert kept_mark(game) == mark("1.0.0.2", game.stub, "signing-1")
    expected = logged.format(unknown=unknown)
    assert [e for e in game.wine.log_events() if expected in e], game.wine.log_events()


def log_lines(wine) -> list[str]:
    folder = wine.prefix / "drive_c" / "users" / "root" / "AppData" / "Local" / "Zarnovelle" / "Logs"
    return (folder / "launcher.log").read_text(errors="replace").splitlines()


@pytest.mark.parametrize("framing", [True, False], ids=["announced", "until the connection closes"])
def test_a_download_longer_than_its_signed_size_is_stopped_and_removed(signed_game, server, framing):
    game = signed_game
    shutil.rmtree(game.wine.prefix / "drive_c" / "users" / "root" / "AppData" / "Local" / "Zarnovelle",
                  ignore_errors=True)
    data = fixture("stub-2/ZVClient.dll").read_bytes()
    # The signed size is that of stub 2; the server sends 32 MiB more behind it.
    path = f"/stub/{game.key}/ZVClient-2.dll"
    url = server.put_file(path, data + b"\0" * (32 << 20))
    server.route(path, file=path, content_length=framing)
    server.put_manifest(game.stub_path, signed_manifest(game.stub_path, data, url, version="1.0.0.2"))
    expect_box(game, GAME_ERROR, "Failed to download game stub update.", game.start())
    assert game.stub.read_bytes() == fixture("stub-1/ZVClient.dll").read_bytes(), "the stub stays as it was"
    assert not (game.root / "ZVClient.dll.partial").exists(), "no unverified byte stays beside it"
    assert (game.root / "Foo.exe").exists()
    download = [line for line in log_lines(game.wine) if "ZVClient-2.dll -> " in line]
    written = re.search(r"-> HTTP 200, then error \d+ \w+, (\d+) bytes", download[0]) if download else None
    assert written, download
    assert int(written.group(1)) == 0 if framing else int(written.group(1)) <= len(data)


def test_a_bare_404_deletes_nothing_and_a_signed_withdrawal_deletes_the_game(signed_game, server):
    game = signed_game
    server.route(game.stub_path, status=404)
    expect_box(game, GAME_ERROR, "Failed to fetch game stub manifest from server.", game.start())
    assert (game.root / "Foo.exe").exists(), "a 404 is not the operator's word"

    server.set_routes({})
    server.put_manifest(game.stub_path, signed_withdrawal(game.stub_path, "1.0.0.2"))
    expect_box(game, GAME_ERROR, "This game version is no longer supported. Please update or repair the game.",
               game.start())
    assert not (game.root / "Foo.exe").exists()
    assert game.stub.exists(), "only the client target goes"


def rotation_launcher(preset: str) -> bytes:
    """The launcher of one step of the key rotation, built for the same host as the others."""
    build = signed_build_dir(preset)
    launcher = build / "ZVLauncher.exe"
    if not launcher.exists():
        pytest.fail(f"build the {preset} preset first (sh scripts/build.sh); missing: {launcher}")
    host = (build / "update_host.txt").read_text().strip().lower()
    assert host == signed_update_host(), f"{preset} is built for {host}, not for {signed_update_host()}"
    return launcher.read_bytes()


def finished_runs(wine) -> int:
    """How many runs the launcher's log has seen end ("exit N", the last line of each run; a launcher
    that hands over to its replacement ends without one)."""
    log = wine.log_folder() / "launcher.log"
    lines = log.read_bytes().decode("utf-8", "replace").splitlines() if log.exists() else []
    return sum(1 for line in lines if re.search(r" exit \d+$", line))


def run_to_the_game(game, stub_version: str, replaced_by: bytes | None = None) -> None:
    """Starts the launcher and waits for the game it starts, which must run with that stub; with
    replaced_by, the launcher first replaces itself with those bytes and the restarted one starts
    the game. Returns once the run that started the game has ended, so that the next start does
    not meet its instance guard."""
    record = game.root / "launch-record.txt"
    record.unlink(missing_ok=True)
    finished = finished_runs(game.wine)
    assert wait_exit(game.start()) == 0
    if replaced_by is not None:
        assert eventually(lambda: game.launcher.read_bytes() == replaced_by, timeout=30), "not replaced"
    started = game.launch_record(wait=30)
    assert started is not None, "the game did not start"
    assert started["stub-version"] == stub_version
    assert eventually(lambda: finished_runs(game.wine) > finished, timeout=30), "the run did not end"


def test_a_key_rotation_keeps_the_marks_while_their_key_is_trusted(accepted_wine, server, tmp_path):
    """The rotation docs/operators.md prescribes. The two-key launcher of its first step keeps the
    marks of the old key, so the host's replays of an older stub manifest and of a withdrawal since
    undone change nothing; the launcher of its last step ignores the old key's marks (which a leaked
    key could have pushed ahead) and takes the new key's manifest, whatever its version."""
    first, both, last = (rotation_launcher(p) for p in ("windows-signed-key1", "windows-signed", "windows-signed-key2"))
    wine = accepted_wine
    wine.reg_delete_key(MARKS_KEY)
    shutil.rmtree(wine.log_folder(), ignore_errors=True)
    game = GameFolder(wine, tmp_path / "Foo Game", launcher_source=signed_build_dir("windows-signed-key1") /
                      "ZVLauncher.exe")
    game.add_game("Foo.exe")
    game.add_stub(1)
    game.key = build_key(game.root / "Foo.exe")
    game.stub_path = f"/stub/{game.key}/manifest.json"

    def publish_launcher(data: bytes, version: str, key: str) -> None:
        url = server.put_file(f"/launcher/ZVLauncher-{version}.exe", data)
        server.put_manifest(LAUNCHER_PATH, signed_manifest(LAUNCHER_PATH, data, url, version=version, key=key))

    # The launcher of key 1 accepts stub 2 at 1.0.0.3: the build was withdrawn at 1.0.0.2, then
    # allowed again.
    publish_launcher(first, "0.9.0.0", "signing-1")
    publish_stub(server, game, 2, "1.0.0.3")
    run_to_the_game(game, "2")
    assert kept_mark(game) == mark("1.0.0.3", game.stub, "signing-1")

    # The first step: the two-key launcher, signed with the old key, replaces it and keeps the mark.
    publish_launcher(both, "1.0.0.0", "signing-1")
    run_to_the_game(game, "2", replaced_by=both)
    assert kept_mark(game) == mark("1.0.0.3", game.stub, "signing-1")
    # The host serves the older stub manifest again, then the old withdrawal: neither is used.
    stub_2 = game.stub.read_bytes()
    for replay in (lambda: publish_stub(server, game, 1, "1.0.0.1"),
                   lambda: server.put_manifest(game.stub_path, signed_withdrawal(game.stub_path, "1.0.0.2"))):
        replay()
        run_to_the_game(game, "2")
        assert game.stub.read_bytes() == stub_2
        assert (game.root / "Foo.exe").exists(), "the replayed withdrawal deleted the game"
    assert f"/stub/{game.key}/ZVClient-1.dll" not in server.requests()
    assert kept_mark(game) == mark("1.0.0.3", game.stub, "signing-1")

    # The last step: the launcher of key 2 alone, signed with the new key. The old key's mark counts
    # as none, and the new key's manifest for stub 1, below it, is taken.
    publish_launcher(last, "1.1.0.0", "signing-2")
    data = fixture("stub-1/ZVClient.dll").read_bytes()
    url = server.put_file(f"/stub/{game.key}/ZVClient-1.dll", data)
    server.put_manifest(game.stub_path, signed_manifest(game.stub_path, data, url, version="1.0.0.1", key="signing-2"))
    run_to_the_game(game, "1", replaced_by=last)
    assert kept_mark(game) == mark("1.0.0.1", game.stub, "signing-2")
    untrusted = f"comes from a manifest signed by {key_fingerprint('signing-1')}, a key this launcher does not trust"
    assert [e for e in wine.log_events() if untrusted in e], wine.log_events()
