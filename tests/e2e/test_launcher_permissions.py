"""A launcher the player may not replace, end to end: the self-update refuses before it downloads
anything, with one box, instead of downloading on every run what it can never put in place. The
update is staged beside the launcher and switched by renames, so what counts is whether the player
may create files in the launcher's folder and move the launcher's file there.

Why Wine runs as an ordinary user here: Wine has no access control of its own. A Windows program
may write a file exactly when the Unix permissions let the Wine process write it, and nothing
stops root, whom the other end-to-end tests run as. Only as another user does the launcher meet a
file it may not replace."""

import hashlib
import os
import shutil
import stat
import tempfile
from pathlib import Path

import pytest

from harness import (AGREEMENT_KEY, FAILURE_CAPTIONS, MESSAGE_BOX_CLASS, GameFolder, UnixUser, Wine, eventually,
                     finish_run)

PLAYER = "zvplayer"
MANIFEST = "/launcher/manifest.json"
DOWNLOAD = "/launcher/next.exe"
REFUSED = "Failed to create update process."  # result 8: the launcher cannot be moved aside
NO_STAGING = "Failed to create temporary file for download."  # result 5: nothing can be made beside it


@pytest.fixture(scope="module")
def player():
    if os.geteuid() != 0:
        pytest.skip("needs root: it creates the player's account and game folders of root's")
    return UnixUser.ensure(PLAYER)


@pytest.fixture(scope="module")
def workspace(player):
    """A folder the player can reach (pytest's own temporary folders are root's alone)."""
    folder = Path(tempfile.mkdtemp(prefix="zv-e2e-", dir=player.home))
    try:
        os.chmod(folder, 0o755)
        yield folder
    finally:
        shutil.rmtree(folder, ignore_errors=True)


@pytest.fixture(scope="module")
def player_wine(player, workspace, server_session):
    """One prefix for the module, the player's own, which trusts the session's test CA; the
    agreement is accepted there."""
    (workspace / "wine").mkdir()
    player.give(workspace / "wine")
    wine = Wine(workspace / "wine" / "prefix", user=player)
    wine.up(trusted_ca=server_session.ca_der)
    try:
        wine.reg_set(AGREEMENT_KEY, "EULA", "REG_DWORD", "1")
        yield wine
    finally:
        wine.end_stragglers()
        wine.down()


@pytest.fixture
def game_root(player_wine, workspace, request):
    """Where the test's game folder goes (not made yet), in a folder of root's that the player may
    enter; removed after the test."""
    games = workspace / "games"
    games.mkdir(exist_ok=True)
    os.chmod(games, 0o755)
    parent = Path(tempfile.mkdtemp(dir=games))
    os.chmod(parent, 0o755)
    try:
        yield parent / "Foo Game"
    finally:
        if getattr(request.node, "report_call", None) and request.node.report_call.failed:
            # A launcher that went on without the test: nothing of it may reach the next case.
            player_wine.restart()
        player_wine.end_stragglers()
        shutil.rmtree(parent, ignore_errors=True)


def owner_and_mode(path: Path) -> tuple[int, int]:
    info = path.stat()
    return info.st_uid, stat.S_IMODE(info.st_mode)


def snapshot(folder: Path) -> dict:
    return {p: (p.read_bytes(), owner_and_mode(p)) for p in folder.rglob("*")
            if p.is_file()} | {folder: owner_and_mode(folder)}


ROOT, PLAYER_OWNS = "root", "player"

CASES = [
    # (name, owner of the game folder, owner and mode of the launcher file, None when the launcher
    #  replaces itself, otherwise the box's text; the run then ends before the download)
    # The running launcher's own file, refused only for being in use, counts as one the player may move.
    ("the player's folder and launcher", PLAYER_OWNS, PLAYER_OWNS, 0o644, None),
    # Program Files, say: the player may neither create files in the folder nor move the launcher.
    ("root's folder and launcher", ROOT, ROOT, 0o644, NO_STAGING),
    # The folder is the player's: renaming a file there needs the folder, not the file (on Windows
    # the folder's right to delete its children, here the folder's write permission).
    ("root's launcher in the player's folder", PLAYER_OWNS, ROOT, 0o644, None),
    # The read-only attribute, which Wine shows for a file without any write permission: a file
    # someone chose to keep as it is.
    ("the player's launcher, read-only", PLAYER_OWNS, PLAYER_OWNS, 0o444, REFUSED),
]


@pytest.mark.parametrize("name,folder_owner,launcher_owner,launcher_mode,refusal", CASES, ids=[c[0] for c in CASES])
def test_a_launcher_the_player_may_not_replace_is_refused_before_the_download(
        player_wine, player, server, game_root, name, folder_owner, launcher_owner, launcher_mode, refusal):
    wine = player_wine
    game = GameFolder(wine, game_root)
    game.add_game("Foo.exe")
    game.add_stub(1)
    server.publish_stub(game.root / "Foo.exe", game.stub)
    newer = game.launcher.read_bytes() + b"\0newer build\0" * 64
    url = server.put_file(DOWNLOAD, newer)
    server.put_manifest(MANIFEST, {"sha1": hashlib.sha1(newer).hexdigest(), "url": url})
    # Root's folder (755) and files (644) that the player may read; then the case's owners and mode.
    os.chmod(game.root, 0o755)
    for path in game.root.iterdir():
        os.chmod(path, 0o644)
    if folder_owner == PLAYER_OWNS:
        player.give(game.root, *game.root.iterdir())
    if launcher_owner == ROOT:
        os.chown(game.launcher, 0, 0)
    os.chmod(game.launcher, launcher_mode)
    before = snapshot(game.root)

    texts = []
    code, caption = finish_run(wine, game.start(), on_box=lambda box: texts.extend(box.static_texts()))
    assert not [w for w in wine.windows(MESSAGE_BOX_CLASS) if w.title in FAILURE_CAPTIONS], "one box at most"
    if refusal is None:
        assert (code, caption) == (0, None)
        assert game.launcher.read_bytes() == newer, "the launcher was not replaced"
        assert game.launch_record(wait=30) is not None, "the restarted launcher did not start the game"
        assert eventually(lambda: not [p for p in game.root.iterdir() if p.suffix in (".new", ".previous")],
                          timeout=15), "the previous launcher is removed"
        assert server.requests().count(DOWNLOAD) == 1
    else:
        assert (code, caption, texts) == (1, "Launcher Update Error", [refusal])
        assert snapshot(game.root) == before, "the launcher and its folder stay as they were"
        assert server.requests() == [MANIFEST], "neither the download nor the game step"
    assert wine.temporary_files() == [], "nothing is made in the player's temporary folder"
