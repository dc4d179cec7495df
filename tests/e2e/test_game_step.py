"""The game step end to end: the real launcher as Foo_ZV.exe, the real game fixture, and the
loopback update server publishing stub manifests under the fixture's real build key."""

import subprocess

import pytest

from harness import MESSAGE_BOX_CLASS, build_key, fixture, sha1_of, to_windows_path, wait_exit

GAME_ERROR = "Game Update Error"
ZEROS = "0" * 40


def expect_box(game, caption: str, text: str, process) -> None:
    """Exactly one error box with this caption and text; dismissing it ends the run with 1."""
    box = game.wine.find_window(caption, MESSAGE_BOX_CLASS)
    assert box.static_texts() == [text]
    game.wine.press(caption, "OK", MESSAGE_BOX_CLASS)
    assert wait_exit(process) == 1
    assert game.wine.window_absent(caption, MESSAGE_BOX_CLASS, for_ms=500)


def stub_requests(server) -> list[str]:
    return [p for p in server.requests() if p.startswith("/stub/")]


def test_current_stub_starts_the_game_without_a_download(ready_game, server):
    game = ready_game
    game.add_stub(1)
    manifest = server.publish_stub(game.root / "Foo.exe", game.stub)
    args = ["plain", "two words", 'say "hi"', "trailing\\", "a&b"]

    process = game.start(args)
    assert wait_exit(process) == 0

    assert stub_requests(server) == [manifest], "only the manifest: the stub was current"
    record = game.launch_record()
    assert record is not None, "the game did not run"
    assert record["stub-version"] == "1"
    foo = to_windows_path(game.root / "Foo.exe")
    expected = f'"{foo}" plain "two words" "say \\"hi\\"" trailing\\ a&b --zarnovelle-launcher'
    assert record["command-line"] == expected
    # The game runs in the launcher's current directory, not necessarily its own folder.
    assert record["current-directory"].rstrip("\\") == to_windows_path(game.root)


@pytest.mark.parametrize("local_stub", [None, 1], ids=["no stub", "old stub"])
def test_missing_or_old_stub_is_downloaded_verified_and_used(ready_game, server, local_stub):
    game = ready_game
    if local_stub:
        game.add_stub(local_stub)
    newer = fixture("stub-2/ZVClient.dll")
    server.publish_stub(game.root / "Foo.exe", newer)

    assert wait_exit(game.start()) == 0

    assert sha1_of(game.stub) == sha1_of(newer)
    assert game.launch_record()["stub-version"] == "2"
    assert len(stub_requests(server)) == 2, "the manifest and one download"


def test_forty_zero_digits_match_a_missing_stub(ready_game, server):
    game = ready_game
    server.publish_stub(game.root / "Foo.exe", None, {"sha1": ZEROS})
    assert wait_exit(game.start()) == 0
    assert len(stub_requests(server)) == 1, "nothing downloaded"
    assert not game.stub.exists()
    # The game starts and its loader fails on the missing stub: a start all the same.
    assert game.launch_record(wait=3) is None


def test_unknown_build_deletes_the_client_target(ready_game, server):
    game = ready_game
    game.add_stub(1)
    before = game.stub.read_bytes()
    process = game.start()
    expect_box(game, GAME_ERROR, "Failed to fetch game stub manifest from server.", process)
    assert not (game.root / "Foo.exe").exists()
    assert game.stub.read_bytes() == before


@pytest.mark.parametrize("route", [{"status": 500}, {"body": " " * 100 + "{}", "close_after": 10}],
                         ids=["500", "connection dropped"])
def test_manifest_unreachable_touches_nothing(ready_game, server, route):
    game = ready_game
    game.add_stub(1)
    key = build_key(game.root / "Foo.exe")
    server.route(f"/stub/{key}/manifest.json", **route)
    files = {p: p.read_bytes() for p in game.root.iterdir()}
    process = game.start()
    expect_box(game, GAME_ERROR, "Failed to fetch game stub manifest from server.", process)
    assert {p: p.read_bytes() for p in game.root.iterdir()} == files


# One manifest per result code of the reading, for the box and the files; every other body, and the
# mapping of each rule to its code, is in the unit tables (src/update/manifest_test.cpp,
# src/update/stub_update_test.cpp).
MALFORMED = [
    # (name, manifest body or a function of the stub digest, expected text)
    ("not JSON", lambda d: "{\"sha1\": ", "Failed to fetch game stub manifest from server."),
    ("no sha1", lambda d: {"url": "https://x/"}, "Game stub manifest is missing SHA1 checksum."),
    ("out of date, no url", lambda d: {"sha1": d}, "Game stub manifest is missing download URL."),
]


@pytest.mark.parametrize("name,manifest,text", MALFORMED, ids=[m[0] for m in MALFORMED])
def test_manifest_faults_give_their_message_and_leave_the_files(ready_game, server, name, manifest, text):
    game = ready_game
    game.add_stub(1)
    newer_digest = sha1_of(fixture("stub-2/ZVClient.dll"))
    server.publish_stub(game.root / "Foo.exe", None, manifest(newer_digest))
    files = {p: p.read_bytes() for p in game.root.iterdir()}
    process = game.start()
    expect_box(game, GAME_ERROR, text, process)
    assert {p: p.read_bytes() for p in game.root.iterdir()} == files


def test_stub_download_404_leaves_the_stub_and_the_game(ready_game, server):
    game = ready_game
    old = game.add_stub(1).read_bytes()
    newer_digest = sha1_of(fixture("stub-2/ZVClient.dll"))
    server.publish_stub(game.root / "Foo.exe", None, {"sha1": newer_digest, "url": server.url("/missing.dll")})
    process = game.start()
    expect_box(game, GAME_ERROR, "Failed to download game stub update.", process)
    assert game.stub.read_bytes() == old, "the stub stays as it was"
    assert not (game.root / "ZVClient.dll.partial").exists()
    assert (game.root / "Foo.exe").exists()


def test_downloaded_stub_that_does_not_match_is_thrown_away_and_fetched_again_next_run(ready_game, server):
    game = ready_game
    old = game.add_stub(1).read_bytes()
    good = fixture("stub-2/ZVClient.dll")
    wrong = fixture("stub-1/ZVClient.dll").read_bytes() + b"tampered"
    url = server.put_file("/stub/wrong.dll", wrong)
    server.publish_stub(game.root / "Foo.exe", None, {"sha1": sha1_of(good), "url": url})
    process = game.start()
    expect_box(game, GAME_ERROR, "Downloaded game stub file checksum does not match expected value.", process)
    # Nothing unverified is left where the game, started directly, would load it: the stub it had.
    assert game.stub.read_bytes() == old
    assert not (game.root / "ZVClient.dll.partial").exists()
    assert (game.root / "Foo.exe").exists()

    server.put_file("/stub/wrong.dll", good)
    assert wait_exit(game.start()) == 0
    assert game.stub.read_bytes() == good.read_bytes()
    assert game.launch_record()["stub-version"] == "2"


def test_stub_held_open_by_another_process_is_left_alone(ready_game, server):
    game = ready_game
    game.add_stub(1)
    before = game.stub.read_bytes()
    server.publish_stub(game.root / "Foo.exe", fixture("stub-2/ZVClient.dll"))
    holder = game.wine.start(game.wine.zvwin_exe, ["hold-file", to_windows_path(game.stub), "--share", "read"],
                             stdin=subprocess.PIPE)
    assert holder.stdout.readline().strip() == b"held"
    try:
        process = game.start()
        expect_box(game, GAME_ERROR, "Failed to download game stub update.", process)
    finally:
        game.wine.release_held(holder)
    assert game.stub.read_bytes() == before


def test_discovery_failures_reach_the_player(accepted_wine, server, tmp_path):
    from harness import GameFolder

    no_target = GameFolder(accepted_wine, tmp_path / "no target")
    no_target.add(b"not a program", "Foo.exe")
    server.publish_launcher(no_target.launcher)
    expect_box(no_target, GAME_ERROR, "Could not find a valid ZVClient target executable.", no_target.start())

    no_game = GameFolder(accepted_wine, tmp_path / "no game")
    no_game.add(fixture("GameCore.dll"), "GameCore.dll")  # a client target that is no program
    expect_box(no_game, GAME_ERROR, "Target game executable not found.", no_game.start())
    assert server.requests().count("/launcher/manifest.json") == 2
    assert not [p for p in server.requests() if p.startswith("/stub/")], "discovery fails before any stub request"


def test_a_game_that_is_no_valid_program_gives_the_platforms_number(accepted_wine, server, tmp_path):
    from harness import GameFolder

    game = GameFolder(accepted_wine, tmp_path / "bad game")
    core = game.add(fixture("GameCore.dll"), "GameCore.dll")
    game.add(b"MZ but nothing that runs", "Foo.exe")
    server.publish_launcher(game.launcher)
    server.publish_stub(core, None, {"sha1": ZEROS})
    expect_box(game, GAME_ERROR, "CreateProcessW failed. Error=193", game.start())
