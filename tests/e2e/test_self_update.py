"""The launcher's self-update end to end: manifests on the loopback server, the download staged
beside the launcher and checked there, the switch by rename, the new launcher started on
probation and watched, and a release that cannot start rolled back by the launcher it replaced.
The client stub's download is staged the same way."""

import hashlib
import shutil
import subprocess
import time

import pytest

from harness import (MESSAGE_BOX_CLASS, eventually, fixture, forwarded_text, large_stub, sha1_of, stub_file_path,
                     to_windows_path, wait_exit)

LAUNCHER_ERROR = "Launcher Update Error"


def expect_box(folder, caption, text, process):
    box = folder.wine.find_window(caption, MESSAGE_BOX_CLASS)
    assert box.static_texts() == [text]
    folder.wine.press(caption, "OK", MESSAGE_BOX_CLASS)
    assert wait_exit(process) == 1


@pytest.fixture
def playable(ready_game, server):
    """ready_game with a current stub, so a run that passes the self-update starts the game."""
    ready_game.add_stub(1)
    server.publish_stub(ready_game.root / "Foo.exe", ready_game.stub)
    return ready_game


def sha1_of_bytes(data: bytes) -> str:
    return hashlib.sha1(data).hexdigest()


def leftovers(folder) -> list[str]:
    """What a self-update or a stub update may leave beside the launcher: staging files and the
    previous launcher."""
    return sorted(p.name for p in folder.root.iterdir() if p.suffix in (".new", ".previous", ".partial"))


def publish_newer_launcher(server, folder) -> bytes:
    newer = newer_build(folder)
    url = server.put_file("/launcher/ZVLauncher-next.exe", newer)
    server.put_manifest("/launcher/manifest.json", {"sha1": sha1_of_bytes(newer), "url": url})
    return newer


def newer_build(folder) -> bytes:
    """Another build of the launcher: the same program with bytes appended after its last section,
    which Windows ignores when it loads it but which change its SHA-1."""
    return folder.launcher.read_bytes() + b"\0newer build\0" * 64


# Arguments a command interpreter would expand, split or run; none sees them: the new launcher is
# started directly, and splits its command line as the game does.
HOSTILE_ARGUMENTS = [
    "%OS:W=X%", "%CMDCMDLINE:~0,3%", "!OS!", "%%", "%PATH%", "^", "c^d", 'q"&"x', 'say "hi"', "trailing\\",
    "two words", "a&b", "x|y", "(z)", "<in>", "a\rb", "line\nbreak", "--zarnovelle-launcher",
]


def test_newer_launcher_replaces_itself_and_restarts_with_exactly_its_arguments(playable, server):
    game, wine = playable, playable.wine
    newer = newer_build(game)
    url = server.put_file("/launcher/ZVLauncher-next.exe", newer)
    server.put_manifest("/launcher/manifest.json", {"sha1": sha1_of_bytes(newer), "url": url})

    first = game.start(HOSTILE_ARGUMENTS)
    assert wait_exit(first) == 0, "the old launcher hands over and ends without a box once the new one confirms"
    assert wine.window_absent(LAUNCHER_ERROR, MESSAGE_BOX_CLASS, for_ms=200)
    assert game.launcher.read_bytes() == newer
    record = game.launch_record(wait=30)
    assert record is not None, "the restarted launcher did not start the game"
    assert record["command-line"].endswith(" " + forwarded_text(HOSTILE_ARGUMENTS) + " --zarnovelle-launcher")
    assert record["hand-over-variables"] == "", "the game never sees the hand-over's variables"
    assert eventually(lambda: leftovers(game) == [], timeout=15), "the previous launcher is removed"
    assert wine.temporary_files() == [], "nothing is made in the user's temporary folder"
    requests = server.requests()
    assert requests.count("/launcher/manifest.json") == 2, "the restarted launcher checked again"
    assert requests.count("/launcher/ZVLauncher-next.exe") == 1


def test_programs_planted_beside_the_launcher_or_in_the_current_directory_never_run(playable, server, tmp_path):
    """No system program takes part in the hand-over: copies of the command interpreter and its wait
    program beside the launcher or in the current directory, which a bare name would find first,
    are never run."""
    game, wine = playable, playable.wine
    elsewhere = tmp_path / "current directory"
    elsewhere.mkdir()
    planted = [folder / name for folder in (game.root, elsewhere) for name in ("cmd.exe", "timeout.exe")]
    for path in planted:
        shutil.copyfile(fixture("planted.exe"), path)
    newer = newer_build(game)
    url = server.put_file("/launcher/ZVLauncher-next.exe", newer)
    server.put_manifest("/launcher/manifest.json", {"sha1": sha1_of_bytes(newer), "url": url})

    assert wait_exit(game.start(["-w"], cwd=elsewhere)) == 0
    assert game.launcher.read_bytes() == newer, "the launcher was not replaced"
    record = game.launch_record(wait=30)
    assert record is not None, "the restarted launcher did not start the game"
    assert record["command-line"].endswith(" -w --zarnovelle-launcher")
    ran = [p.name for p in planted if p.with_name(p.name + ".ran").exists()]
    assert ran == [], f"planted programs ran: {ran}"


def test_current_launcher_needs_no_url(playable, server):
    server.put_manifest("/launcher/manifest.json", {"sha1": sha1_of(playable.launcher)})
    assert wait_exit(playable.start()) == 0
    assert playable.launch_record() is not None
    assert [p for p in server.requests() if p.startswith("/launcher/")] == ["/launcher/manifest.json"]


# One case per result code, for the box and the files; every other manifest body, and every
# outcome of the flow with its acts, is in the unit tables (src/update/manifest_test.cpp,
# src/update/launcher_update_test.cpp).
FAILURES = [
    # (name, how the server answers, expected text)
    ("manifest 404", lambda s, g: s.route("/launcher/manifest.json", status=404),
     "Failed to fetch launcher update manifest from server."),
    ("no sha1", lambda s, g: s.put_manifest("/launcher/manifest.json", {"url": s.url("/x.exe")}),
     "Launcher manifest is missing SHA1 checksum."),
    ("differs, no url", lambda s, g: s.put_manifest("/launcher/manifest.json", {"sha1": "1" * 40}),
     "Launcher manifest is missing download URL."),
    ("download cut short", lambda s, g: (s.route("/launcher/next.exe", body="x" * 5000, close_after=1000),
                                         s.put_manifest("/launcher/manifest.json",
                                                        {"sha1": sha1_of_bytes(b"x" * 5000),
                                                         "url": s.url("/launcher/next.exe")})),
     "Failed to download launcher update."),
    ("bytes do not match", lambda s, g: s.put_manifest(
        "/launcher/manifest.json", {"sha1": "1" * 40, "url": s.put_file("/launcher/next.exe", b"MZ other")}),
     "Downloaded launcher file checksum does not match expected value."),
]


@pytest.mark.parametrize("name,arrange,text", FAILURES, ids=[f[0] for f in FAILURES])
def test_failed_self_update_shows_its_box_and_never_reaches_the_game(playable, server, name, arrange, text):
    game = playable
    arrange(server, game)
    before = game.launcher.read_bytes()
    process = game.start()
    expect_box(game, LAUNCHER_ERROR, text, process)
    assert not [p for p in server.requests() if p.startswith("/stub/")], "the game step never runs"
    assert game.launcher.read_bytes() == before
    assert leftovers(game) == [], "no staging file is left beside the launcher"


# -- a launcher file in use, a program that overwrites downloads, a release that cannot start ------


def hold(wine, path) -> subprocess.Popen:
    """Another program holding path open for reading, without sharing writing or deleting, as a
    scanner may, until release_held."""
    holder = wine.start(wine.zvwin_exe, ["hold-file", to_windows_path(path), "--share", "read", "--access", "read"],
                        stdin=subprocess.PIPE)
    assert holder.stdout.readline().strip() == b"held"
    return holder


def test_a_launcher_file_held_for_a_while_is_replaced_once_it_is_free(playable, server):
    game, wine = playable, playable.wine
    newer = publish_newer_launcher(server, game)
    holder = hold(wine, game.launcher)
    process = game.start()
    try:
        assert eventually(lambda: any("a file is in use" in e for e in wine.log_events()), timeout=30)
        time.sleep(3)
    finally:
        wine.release_held(holder)
    assert wait_exit(process) == 0
    assert game.launcher.read_bytes() == newer
    assert game.launch_record(wait=30) is not None
    assert eventually(lambda: leftovers(game) == [], timeout=15)


def test_a_launcher_file_held_for_the_whole_run_is_left_and_the_game_starts(playable, server):
    """Never a run that ends with nothing restarted and nothing said: the old launcher goes on, and
    the log says why."""
    game, wine = playable, playable.wine
    old = game.launcher.read_bytes()
    publish_newer_launcher(server, game)
    holder = hold(wine, game.launcher)
    try:
        assert wait_exit(game.start()) == 0
        assert game.launch_record() is not None, "the old launcher went on to the game"
    finally:
        wine.release_held(holder)
    assert not [w for w in wine.windows(MESSAGE_BOX_CLASS) if w.title == LAUNCHER_ERROR]
    assert game.launcher.read_bytes() == old
    assert leftovers(game) == []
    events = wine.log_events()
    assert any("could not be put in place while" in e and "is in use" in e for e in events), events


def test_a_program_that_overwrites_every_new_file_changes_nothing_that_runs(playable, server):
    """A program of the player's account tries, again and again, to write its own bytes into every
    file that appears in the user's temporary folder and beside the launcher during the run. The
    downloads are written, checked and switched under handles it cannot write through, so what is
    in place afterwards is exactly the verified release, and its bytes never run."""
    game, wine = playable, playable.wine
    newer = publish_newer_launcher(server, game)
    stub = fixture("stub-2/ZVClient.dll").read_bytes()
    server.publish_stub(game.root / "Foo.exe", fixture("stub-2/ZVClient.dll"))
    temp = wine.prefix / "drive_c" / "users" / "root" / "AppData" / "Local" / "Temp"
    temp.mkdir(parents=True, exist_ok=True)
    attacker = wine.start(wine.zvwin_exe, ["overwrite-new", to_windows_path(fixture("planted.exe")),
                                           to_windows_path(temp), to_windows_path(game.root)], stdin=subprocess.PIPE)
    assert attacker.stdout.readline().strip() == b"watching"
    try:
        assert wait_exit(game.start()) == 0
        record = game.launch_record(wait=30)
        assert record is not None and record["stub-version"] == "2"
        assert eventually(lambda: leftovers(game) == [], timeout=15)
    finally:
        attacker.stdin.close()
        overwritten = attacker.stdout.read().decode()
        attacker.wait(timeout=30)
    assert game.launcher.read_bytes() == newer
    assert game.stub.read_bytes() == stub
    ran = [str(p) for folder in (game.root, temp) for p in folder.rglob("*.ran")]
    assert ran == [], f"the overwriting program's bytes ran: {ran} (it overwrote: {overwritten})"


def test_a_run_ended_during_the_stub_download_leaves_the_stub_as_it_was(playable, server):
    """A player who ends a stuck run, a crash, a power cut: the game, started directly, loads the
    stub it had, never part of a download; the next run completes the update."""
    game, wine = playable, playable.wine
    old = game.stub.read_bytes()
    newer = large_stub(game.root.parent, 4 << 20)
    server.publish_stub(game.root / "Foo.exe", newer)
    served = stub_file_path(game.root / "Foo.exe", newer)
    server.route(served, file=served, bytes_per_second=200_000)
    staging = game.root / "ZVClient.dll.partial"
    process = game.start()
    assert eventually(lambda: staging.exists() and staging.stat().st_size > 100_000, timeout=30)
    process.kill()
    process.wait(timeout=10)
    assert game.stub.read_bytes() == old, "the stub is exactly as it was"
    assert game.launch_record(wait=1) is None

    server.set_routes({})
    assert wait_exit(game.start()) == 0
    assert game.stub.read_bytes() == newer.read_bytes()
    assert game.launch_record() is not None
    assert leftovers(game) == []
