"""Faults and odd environments end to end: unusual game folder paths, files that other processes
hold so that the launcher cannot change them, an update server that stalls, breaks off or
answers too much, two launchers started together, and the failure messages that only an odd
environment produces. After every run: at most one box, the documented exit code, no temporary
download left behind and no file changed that the outcome leaves alone."""

import hashlib
import re
import subprocess
from pathlib import Path

import pytest

from harness import (MESSAGE_BOX_CLASS, GameFolder, eventually, fixture, sha1_of, to_windows_path,
                     wait_exit)

LAUNCHER_ERROR = "Launcher Update Error"
GAME_ERROR = "Game Update Error"
INSTANCE_CAPTION = "Zarnovelle Launcher"
CAPTIONS = (LAUNCHER_ERROR, GAME_ERROR, INSTANCE_CAPTION)


def snapshot(folder: Path) -> dict:
    return {p: p.read_bytes() for p in folder.rglob("*") if p.is_file()}


def boxes(wine) -> list:
    return [w for w in wine.windows(MESSAGE_BOX_CLASS) if w.title in CAPTIONS]


def expect_one_box(wine, process, caption: str, text: str | re.Pattern) -> None:
    """The run shows exactly one box, with this caption and text (or a text the pattern matches
    whole); once it is dismissed no second box follows and the launcher ends with 1."""
    box = wine.find_window(caption, MESSAGE_BOX_CLASS)
    assert len(box.static_texts()) == 1
    shown = box.static_texts()[0]
    assert shown == text if isinstance(text, str) else text.fullmatch(shown), shown
    assert [b.title for b in boxes(wine)] == [caption], "one box at a time"
    wine.press(caption, "OK", MESSAGE_BOX_CLASS)
    assert wait_exit(process) == 1
    assert not boxes(wine), "no second box after the first"


def playable_folder(wine, server, root) -> GameFolder:
    """A folder whose launcher and stub are current on the server, so that a run starts the game."""
    folder = GameFolder(wine, root)
    folder.add_game("Foo.exe")
    folder.add_stub(1)
    server.publish_launcher(folder.launcher)
    server.publish_stub(folder.root / "Foo.exe", folder.stub)
    return folder


# The self-update hands the paths to the command interpreter in variables that it reads with
# delayed expansion. Windows' interpreter never looks into such a value; Wine's expands %NAME%
# inside the paths that copy and start get, and exclamation marks inside the file copy reads, so
# under Wine such a path still names another file. The unit tests check these paths against the documented
# rules.
WINE_EXPANDS_AGAIN = pytest.mark.xfail(
    strict=True, reason="Wine's command interpreter expands %NAME% inside a variable's value again")


# -- paths ----------------------------------------------------------------------------------------

DEEP = "/".join(["a deep folder level with a rather long name"] * 7)  # with the test's folder: > 260
PATHS = [
    # (name, folder below the test's own, None when the game starts, else the box's text)
    ("accented Latin", "Jeux/Ça été très jolî", None),
    ("Cyrillic", "Игры/Зарновелле", None),
    ("Japanese", "ゲーム/ザルノヴェレ", None),
    ("blanks", "  two  blanks and a trailing one /Game Files", None),
    # The command interpreter expands %NAME% even inside quotes, !NAME! with delayed expansion,
    # and treats & ^ ( ) as operators outside quotes.
    ("percent signs", "Spiel %OS% für 100%", None),
    ("exclamation marks", "Bang! !OS!", None),
    ("carets and ampersands", "Rock & Roll ^^ (x86)/a&&b ;,=+'", None),
    # The launcher runs from such a folder (its own path is read into a growing buffer, the
    # manifest declares long-path awareness), finds the game and updates the stub. Wine's
    # CreateProcessW does not start a program whose path is longer than 260 characters; the error
    # it reports has been 2, 3 or 123 in launcher builds that differ only in calls made long before
    # it (see docs/developers.md). The launcher passes on whatever it reports.
    ("deeper than 260", DEEP, re.compile(r"CreateProcessW failed\. Error=[1-9][0-9]*")),
]


@pytest.mark.parametrize("name,relative,text", PATHS, ids=[p[0] for p in PATHS])
def test_game_folders_with_unusual_paths_update_and_start(accepted_wine, server, tmp_path, name, relative, text):
    """Paths are UTF-16 throughout and quoted where they are passed on."""
    folder = playable_folder(accepted_wine, server, tmp_path / relative)
    if relative == DEEP:
        assert len(to_windows_path(folder.launcher)) > 260
    # The stub is out of date, so the run writes the new one into this folder too.
    newer = fixture("stub-2/ZVClient.dll")
    server.publish_stub(folder.root / "Foo.exe", newer)

    process = folder.start(["ä б ゲ"])
    if text:
        expect_one_box(accepted_wine, process, GAME_ERROR, text)
    else:
        assert wait_exit(process) == 0
        assert not boxes(accepted_wine)
        record = folder.launch_record()
        assert record is not None, "the game did not run"
        foo = to_windows_path(folder.root / "Foo.exe")
        assert record["command-line"] == f'"{foo}" "ä б ゲ" --zarnovelle-launcher'
    assert sha1_of(folder.stub) == sha1_of(newer)


# Not from a folder deeper than 260 characters: the command interpreter cannot copy or start
# there, and the launcher says so before it downloads anything (below).
@pytest.mark.parametrize("name,relative", [
    pytest.param(*p[:2], id=p[0], marks=[WINE_EXPANDS_AGAIN] if "%" in p[1] else [])
    for p in PATHS if p[1] != DEEP])
def test_self_update_replaces_a_launcher_on_an_unusual_path(accepted_wine, server, tmp_path, name, relative):
    """The replacement command carries the launcher's path through the command interpreter."""
    folder = playable_folder(accepted_wine, server, tmp_path / relative)
    newer = newer_launcher_published(server, folder)

    assert wait_exit(folder.start()) == 0
    assert eventually(lambda: folder.launcher.read_bytes() == newer, timeout=30), "the launcher was not replaced"
    assert folder.launch_record(wait=30) is not None, "the restarted launcher did not start the game"
    assert eventually(lambda: not accepted_wine.temporary_files(), timeout=10)
    assert not boxes(accepted_wine)


def test_self_update_of_a_launcher_deeper_than_260_characters_is_refused_before_the_download(
        accepted_wine, server, tmp_path):
    """Once the launcher has ended nobody would see the interpreter fail, so a replacement it
    cannot carry out ends the run with its box instead, every time, and downloads nothing."""
    folder = playable_folder(accepted_wine, server, tmp_path / DEEP)
    newer_launcher_published(server, folder)
    before = snapshot(folder.root)
    expect_one_box(accepted_wine, folder.start(), LAUNCHER_ERROR, "Failed to create update process.")
    assert snapshot(folder.root) == before
    assert not accepted_wine.temporary_files()
    assert server.requests() == ["/launcher/manifest.json"], "only the manifest was fetched"


# -- files the launcher may not change --------------------------------------------------------------


def hold(wine, path, share: str, access: str = "write") -> subprocess.Popen:
    extra = ["--access", "read"] if access == "read" else []
    holder = wine.start(wine.zvwin_exe, ["hold-file", to_windows_path(path), "--share", share, *extra],
                        stdin=subprocess.PIPE)
    assert holder.stdout.readline().strip() == b"held"
    return holder


# Files and folders made read-only are not among these: Wine has only the Unix permissions to show
# them, and the tests run as root, whom those permissions do not stop.
LOCKED_TARGET = [
    # (name, how the other process holds Foo.exe, stub manifest status, expected text)
    # Discovery opens candidates for shared reading only: a target held without sharing cannot be
    # examined, and when it is the only one there is none.
    ("held without sharing", ("none", "write"), 200, "Could not find a valid ZVClient target executable."),
    # Held for reading, it is found; the server does not know its build, and the deletion that
    # follows fails while the file is open without delete sharing: the target stays.
    ("held for reading, unknown build", ("read", "read"), 404, "Failed to fetch game stub manifest from server."),
]


@pytest.mark.parametrize("name,held,status,text", LOCKED_TARGET, ids=[c[0] for c in LOCKED_TARGET])
def test_a_client_target_held_by_another_process_stays_as_it_is(ready_game, server, name, held, status, text):
    game = ready_game
    game.add_stub(1)
    path = server.publish_stub(game.root / "Foo.exe", game.stub)
    if status != 200:
        server.route(path, status=status)
    before = snapshot(game.root)
    holder = hold(game.wine, game.root / "Foo.exe", *held)
    try:
        expect_one_box(game.wine, game.start(), GAME_ERROR, text)
    finally:
        game.wine.release_held(holder)
    assert snapshot(game.root) == before
    assert game.wine.temporary_files() == []


def test_a_launcher_that_cannot_be_replaced_keeps_working(ready_game, server):
    """The interpreter's copy over the launcher fails while another process holds the file. The
    launcher has already ended with 0 and cannot see that failure; the old launcher stays as it was
    and works on the next run, once the server publishes it again. On Windows the interpreter stops
    at the failed copy, so the downloaded file stays in the temporary folder and nothing restarts;
    Wine's copy reports no failure, so the commands after it delete the download and try the restart
    (which fails on the held file). Either way only the verified download may be left."""
    game, wine = ready_game, ready_game.wine
    game.add_stub(1)
    server.publish_stub(game.root / "Foo.exe", game.stub)
    old = game.launcher.read_bytes()
    newer = newer_launcher_published(server, game)
    leftovers_before = set(wine.temporary_files())
    holder = None
    try:
        assert wait_exit(game.start()) == 0
        # Taken as soon as the old launcher has ended, well inside the interpreter's two seconds.
        holder = hold(wine, game.launcher, "read")
        # The interpreter waits two seconds before its copy; give it time to try and fail.
        assert not eventually(lambda: game.launcher.read_bytes() != old, timeout=6)
        assert game.launch_record(wait=1) is None, "no new launcher started"
    finally:
        if holder:
            wine.release_held(holder)
    assert server.requests().count(MANIFEST) == 1, "no launcher ran again"
    leftovers = set(wine.temporary_files()) - leftovers_before
    assert all(p.read_bytes() == newer for p in leftovers), "nothing but the verified download"
    for path in leftovers:
        path.unlink()

    server.publish_launcher(game.launcher)
    assert wait_exit(game.start()) == 0
    assert game.launch_record() is not None
    assert game.launcher.read_bytes() == old
    assert not boxes(wine)


# -- the update server ------------------------------------------------------------------------------

MANIFEST = "/launcher/manifest.json"


def huge(manifest: dict) -> str:
    """A well-formed manifest padded with blanks to more than a mebibyte."""
    return '{"sha1": "%s",%s"url": "%s"}' % (manifest["sha1"], " " * (1024 * 1024), manifest.get("url", ""))


SERVER_FAULTS = [
    # (name, path ("launcher" or "stub"), route of the manifest, expected box text or None for a run
    #  that starts the game)
    ("stub manifest slow to start", "stub", {"stall_after": 0, "stall_seconds": 4}, None),
    ("launcher manifest stalls mid-body", "launcher", {"stall_after": 20, "stall_seconds": 4}, None),
    ("launcher manifest cut short", "launcher", {"close_after": 20}, "Failed to fetch launcher update manifest from server."),
    ("huge launcher manifest", "launcher", {"huge": True}, "Failed to fetch launcher update manifest from server."),
    ("huge stub manifest", "stub", {"huge": True}, "Failed to fetch game stub manifest from server."),
]


@pytest.mark.parametrize("name,which,route,text", SERVER_FAULTS, ids=[f[0] for f in SERVER_FAULTS])
def test_server_faults_end_the_run_cleanly(ready_game, server, name, which, route, text):
    game = ready_game
    game.add_stub(1)
    stub_manifest = server.publish_stub(game.root / "Foo.exe", game.stub)
    path = MANIFEST if which == "launcher" else stub_manifest
    current = {"sha1": sha1_of(game.launcher if which == "launcher" else game.stub)}
    if route.pop("huge", False):
        route = {"body": huge(current)}
    else:
        route = {"body": '{"sha1": "%s"}' % current["sha1"], **route}
    server.route(path, **route)
    before = snapshot(game.root)

    process = game.start()
    if text is None:
        assert wait_exit(process, timeout=60) == 0
        assert game.launch_record() is not None
        assert not boxes(game.wine)
    else:
        expect_one_box(game.wine, process, LAUNCHER_ERROR if which == "launcher" else GAME_ERROR, text)
        assert snapshot(game.root) == before
    assert game.wine.temporary_files() == []


def test_a_manifest_that_stalls_beyond_the_receive_time_out_fails(ready_game, server):
    """The launcher sets no time-outs of its own: WinHTTP's default receive time-out (30 seconds)
    ends a transfer that stops arriving, and the run reports it like any failed fetch."""
    game = ready_game
    server.route(MANIFEST, body='{"sha1": "%s"}' % sha1_of(game.launcher), stall_after=10, stall_seconds=45)
    before = snapshot(game.root)
    process = game.start()
    box = game.wine.find_window(LAUNCHER_ERROR, MESSAGE_BOX_CLASS, timeout_ms=42000)
    assert box.static_texts() == ["Failed to fetch launcher update manifest from server."]
    game.wine.press(LAUNCHER_ERROR, "OK", MESSAGE_BOX_CLASS)
    assert wait_exit(process) == 1
    assert not boxes(game.wine)
    assert snapshot(game.root) == before


def test_two_launchers_started_together_run_once(ready_game, server):
    """Exactly one of two launchers started at the same moment runs; the other shows the information
    box. The stub manifest answers slowly so that the first run surely still holds the guard."""
    game, wine = ready_game, ready_game.wine
    game.add_stub(1)
    path = server.publish_stub(game.root / "Foo.exe", game.stub)
    server.route(path, body='{"sha1": "%s"}' % sha1_of(game.stub), stall_after=0, stall_seconds=4)

    first, second = game.start(), game.start()
    box = wine.find_window(INSTANCE_CAPTION, MESSAGE_BOX_CLASS)
    assert box.static_texts() == ["Another instance is already running"]
    wine.press(INSTANCE_CAPTION, "OK", MESSAGE_BOX_CLASS)
    codes = sorted([wait_exit(first), wait_exit(second)])
    assert codes == [0, 1], codes
    assert game.launch_record() is not None
    assert not boxes(wine)
    assert server.requests().count(MANIFEST) == 1, "only one launcher went on to its updates"


# -- messages that only an odd environment produces -------------------------------------------------


def newer_launcher_published(server, folder) -> bytes:
    newer = folder.launcher.read_bytes() + b"\0newer build\0" * 64
    url = server.put_file("/launcher/next.exe", newer)
    server.put_manifest(MANIFEST, {"sha1": hashlib.sha1(newer).hexdigest(), "url": url})
    return newer


ENVIRONMENT_MESSAGES = [
    # (name, environment of the launcher, arguments, expected text)
    ("temporary folder missing", {"TMP": r"C:\zv-no-such-folder", "TEMP": r"C:\zv-no-such-folder"}, [],
     "Failed to create temporary file for download."),
    ("temporary folder path too long", {"TMP": "C:\\" + "x" * 300, "TEMP": "C:\\" + "x" * 300}, [],
     "Failed to get system temporary path."),
]


@pytest.mark.parametrize("name,env,args,text", ENVIRONMENT_MESSAGES, ids=[m[0] for m in ENVIRONMENT_MESSAGES])
def test_messages_of_an_odd_environment(ready_game, server, name, env, args, text):
    game = ready_game
    newer_launcher_published(server, game)
    before = snapshot(game.root)
    leftovers_before = set(game.wine.temporary_files())
    expect_one_box(game.wine, game.start(args, windows_env=env), LAUNCHER_ERROR, text)
    assert snapshot(game.root) == before
    assert set(game.wine.temporary_files()) == leftovers_before
    assert not [p for p in server.requests() if p.startswith("/stub/")], "the game step never runs"


# Not a temporary folder with percent signs or exclamation marks: under Wine the interpreter would
# expand them in the variable's value again, fail its copy, go on regardless and restart the old launcher,
# which downloads again, over and over (such paths are checked through the launcher's folder above
# and against the interpreter's rules in the unit tests).
@pytest.mark.parametrize("name", ["Temp Jösé Юзер ユーザー", "Temp ^ & (x) ;,=+'"],
                         ids=["letters", "punctuation"])
def test_self_update_through_a_temporary_folder_with_an_unusual_name(ready_game, server, name):
    """A user's temporary folder often carries the user's name, accents and blanks included; the
    download is made there and the command interpreter copies it from there."""
    game, wine = ready_game, ready_game.wine
    game.add_stub(1)
    server.publish_stub(game.root / "Foo.exe", game.stub)
    folder = wine.prefix / "drive_c" / name
    folder.mkdir(exist_ok=True)
    newer = newer_launcher_published(server, game)

    windows_folder = "C:\\" + name
    assert wait_exit(game.start(windows_env={"TMP": windows_folder, "TEMP": windows_folder})) == 0
    assert eventually(lambda: game.launcher.read_bytes() == newer, timeout=30), "the launcher was not replaced"
    assert game.launch_record(wait=30) is not None, "the restarted launcher did not start the game"
    assert eventually(lambda: not list(folder.glob("ZVL*.tmp")), timeout=10), "the download is deleted"
    assert not boxes(wine)
