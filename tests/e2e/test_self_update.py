"""The launcher's self-update end to end: manifests on the loopback server, the replacement handed
to the hidden command interpreter, and the restarted launcher."""

import hashlib
import shutil

import pytest

from harness import MESSAGE_BOX_CLASS, eventually, fixture, forwarded_text, sha1_of, wait_exit

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


def newer_build(folder) -> bytes:
    """Another build of the launcher: the same program with bytes appended after its last section,
    which Windows ignores when it loads it but which change its SHA-1."""
    return folder.launcher.read_bytes() + b"\0newer build\0" * 64


# Arguments the command interpreter would expand, split or run if they were on its line; they
# travel beside it, so the restarted launcher gets them as they were, under Wine as on Windows.
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
    assert wait_exit(first) == 0, "the old launcher hands over and ends without a box"
    assert wine.window_absent(LAUNCHER_ERROR, MESSAGE_BOX_CLASS, for_ms=200)

    # About two seconds later the interpreter has copied the new build in place and started it.
    assert eventually(lambda: game.launcher.read_bytes() == newer, timeout=30)
    record = game.launch_record(wait=30)
    assert record is not None, "the restarted launcher did not start the game"
    assert record["command-line"].endswith(" " + forwarded_text(HOSTILE_ARGUMENTS) + " --zarnovelle-launcher")
    assert record["hand-over-variables"] == "", "the game never sees the hand-over's variables"
    assert eventually(lambda: not wine.temporary_files(), timeout=10), "the temporary file is deleted"
    requests = server.requests()
    assert requests.count("/launcher/manifest.json") == 2, "the restarted launcher checked again"
    assert requests.count("/launcher/ZVLauncher-next.exe") == 1


def test_programs_planted_beside_the_launcher_or_in_the_current_directory_never_run(playable, server, tmp_path):
    """The interpreter is started, and starts its wait program, by their System32 paths; copies of
    them beside the launcher or in the current directory, which a bare name would find first,
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
    assert eventually(lambda: game.launcher.read_bytes() == newer, timeout=30), "the launcher was not replaced"
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
    assert game.wine.temporary_files() == [], "no temporary file is left behind"
