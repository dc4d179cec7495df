"""The launcher's log end to end: %LOCALAPPDATA%\\Zarnovelle\\Logs\\launcher.log in the prefix,
one line per event, what support needs to tell why a run failed, rotation past 1 MiB, and a log
that cannot be written changing nothing."""

import re
import shutil

import pytest

from harness import MESSAGE_BOX_CLASS, eventually, fixture, sha1_of, to_windows_path, wait_exit

LINE = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z (\d+) (.*)$")


def log_folder(wine):
    return wine.prefix / "drive_c" / "users" / "root" / "AppData" / "Local" / "Zarnovelle" / "Logs"


@pytest.fixture
def logs(clean_wine):
    """The prefix's log folder, emptied before and after the test."""
    folder = log_folder(clean_wine)
    remove(folder.parent)
    yield folder
    remove(folder.parent)


def remove(path):
    """Removes a folder, or a link in its place (never what the link points to)."""
    if path.is_symlink():
        path.unlink()
    else:
        shutil.rmtree(path, ignore_errors=True)


def events(folder) -> list[str]:
    """The events of the log, each line checked for the time and the process id."""
    text = (folder / "launcher.log").read_bytes().decode("utf-8")
    assert text.endswith("\n")
    found = []
    for line in text.splitlines():
        match = LINE.match(line)
        assert match, f"not a log line: {line!r}"
        found.append(match.group(2))
    return found


def expect_box(game, caption, text, process):
    box = game.wine.find_window(caption, MESSAGE_BOX_CLASS)
    assert box.static_texts() == [text]
    game.wine.press(caption, "OK", MESSAGE_BOX_CLASS)
    assert wait_exit(process) == 1


def test_a_failed_request_its_result_and_the_exit_are_in_the_log(ready_game, server, logs):
    game = ready_game
    server.route("/launcher/manifest.json", status=404)
    expect_box(game, "Launcher Update Error", "Failed to fetch launcher update manifest from server.",
               game.start(["--secret-argument-text", "two words"]))
    lines = events(logs)
    start = lines[0]
    assert start.startswith(f"start {to_windows_path(game.launcher)} sha1 {sha1_of(game.launcher)}, 2 arguments, "
                            "Windows "), start
    assert not [line for line in lines if "secret-argument-text" in line], "arguments are counted, never written"
    assert re.search(rf" GET {re.escape(server.url('/launcher/manifest.json'))} -> HTTP 404, \d+ bytes in \d+ ms$",
                     " " + "\n ".join(lines), re.M), lines
    assert "step self-update begins" in lines
    assert [line for line in lines if line.startswith("step self-update ends with 1 after ")]
    assert lines[-2:] == ["result 1: Failed to fetch launcher update manifest from server.", "exit 1"]


def test_a_run_that_replaces_the_stub_logs_every_request_and_the_file_it_replaced(ready_game, server, logs):
    game = ready_game
    game.add_stub(1)
    server.publish_stub(game.root / "Foo.exe", fixture("stub-2/ZVClient.dll"))
    assert wait_exit(game.start()) == 0
    lines = events(logs)
    requests = [line for line in lines if line.startswith("GET ")]
    assert len(requests) == 3, requests
    assert all(" -> HTTP 200, " in line for line in requests), requests
    assert requests[2].endswith(" into " + to_windows_path(game.stub) + ".partial")
    assert f"replaced {to_windows_path(game.stub)} with the verified download" in lines
    assert lines[-2:] == ["result 0: Operation completed successfully.", "exit 0"]


def test_a_cut_download_and_an_unreachable_host_say_what_happened(ready_game, server, logs):
    game = ready_game
    game.add_stub(1)
    key_path = server.publish_stub(game.root / "Foo.exe", None, {
        "sha1": sha1_of(fixture("stub-2/ZVClient.dll")), "url": server.url("/cut.dll")})
    server.route("/cut.dll", body="x" * 5000, close_after=1000)
    expect_box(game, "Game Update Error", "Failed to download game stub update.", game.start())
    lines = events(logs)
    assert any(line.startswith(f"GET {server.url(key_path)} -> HTTP 200, ") for line in lines), lines
    cut = [line for line in lines if line.startswith(f"GET {server.url('/cut.dll')} -> ")]
    assert len(cut) == 3 and all(" error 12030 ERROR_WINHTTP_CONNECTION_ERROR, " in line for line in cut), cut
    retries = [line for line in lines if line.startswith("attempt ")]
    assert [line.split(" after ")[0] for line in retries] == [
        f"attempt {n} of 3 at {server.url('/cut.dll')}" for n in (2, 3)], retries
    assert lines[-2:] == ["result 15: Failed to download game stub update.", "exit 1"]


def test_a_redirected_request_names_the_address_its_answer_came_from(ready_game, server, logs):
    game = ready_game
    game.add_stub(1)
    stub_path = server.publish_stub(game.root / "Foo.exe", game.stub)
    server.put_file("/moved/stub-manifest.json", (server.root / stub_path.lstrip("/")).read_bytes())
    server.route(stub_path, status=302, headers={"Location": server.url("/moved/stub-manifest.json")})
    assert wait_exit(game.start()) == 0
    lines = events(logs)
    assert f"GET {server.url(stub_path)} -> redirected to {server.url('/moved/stub-manifest.json')}, HTTP 200, " in (
        "\n".join(lines)), [line for line in lines if line.startswith("GET")]
    launcher = [line for line in lines if line.startswith(f"GET {server.url('/launcher/manifest.json')} -> ")]
    assert launcher and " redirected " not in launcher[0], "a request that was not redirected says nothing of it"


def test_a_log_over_1_mib_is_kept_as_launcher_1_log_and_a_new_one_begun(ready_game, server, logs):
    game = ready_game
    game.add_stub(1)
    server.publish_stub(game.root / "Foo.exe", game.stub)
    logs.mkdir(parents=True)
    line = b"2026-01-01T00:00:00.000Z 1 an old line\n"
    old = line * (1024 * 1024 // len(line) + 1)
    assert len(old) > 1024 * 1024
    (logs / "launcher.log").write_bytes(old)
    (logs / "launcher.1.log").write_bytes(b"the oldest log\n")
    assert wait_exit(game.start()) == 0
    assert (logs / "launcher.1.log").read_bytes() == old, "the full log replaced the older one"
    assert events(logs)[0].startswith("start "), "a new log begins with this run"

    # Up to 1 MiB the log grows.
    small = (logs / "launcher.log").read_bytes()
    assert wait_exit(game.start()) == 0
    assert (logs / "launcher.log").read_bytes().startswith(small)
    assert (logs / "launcher.1.log").read_bytes() == old


@pytest.mark.parametrize("in_the_way", ["a file named Logs", "a folder named launcher.log"])
def test_a_log_that_cannot_be_written_changes_nothing(ready_game, server, logs, in_the_way):
    game = ready_game
    if in_the_way == "a file named Logs":
        logs.parent.mkdir(parents=True)
        logs.write_bytes(b"not a folder")
    else:
        (logs / "launcher.log").mkdir(parents=True)
    # One run that fails and one that starts the game: the box, the exit codes and the files are
    # those of a run with a log.
    server.route("/launcher/manifest.json", status=500)
    expect_box(game, "Launcher Update Error", "Failed to fetch launcher update manifest from server.", game.start())
    server.set_routes({})
    server.publish_launcher(game.launcher)
    game.add_stub(1)
    server.publish_stub(game.root / "Foo.exe", game.stub)
    assert wait_exit(game.start()) == 0
    assert game.launch_record() is not None
    if in_the_way == "a file named Logs":
        assert logs.read_bytes() == b"not a folder"
    else:
        assert (logs / "launcher.log").is_dir() and not list((logs / "launcher.log").iterdir())


LINKS = [
    "the Logs folder", "the Zarnovelle folder", "launcher.log", "launcher.log, a link to a missing file",
    "launcher.log, a second name of a file outside", "launcher.1.log, when the log is rotated",
]


@pytest.mark.parametrize("planted", LINKS)
def test_the_log_never_follows_a_link(ready_game, server, logs, tmp_path, planted):
    """A link planted in the log's place (here a host symbolic link, which Wine follows as Windows
    follows a junction; or a hard link) must not lead an elevated launcher to create, append to or
    rename anything where it points: the run goes on without a log."""
    game = ready_game
    game.add_stub(1)
    server.publish_stub(game.root / "Foo.exe", game.stub)
    outside = tmp_path / "outside"
    outside.mkdir()
    victim = outside / "victim.txt"
    victim.write_bytes(b"not the launcher's\n")
    logs.parent.mkdir(parents=True)
    if planted == "the Logs folder":
        logs.symlink_to(outside, target_is_directory=True)
    elif planted == "the Zarnovelle folder":
        logs.parent.rmdir()
        logs.parent.symlink_to(outside, target_is_directory=True)
    elif planted == "launcher.log":
        logs.mkdir()
        (logs / "launcher.log").symlink_to(victim)
    elif planted == "launcher.log, a link to a missing file":
        logs.mkdir()
        (logs / "launcher.log").symlink_to(outside / "made.log")
    elif planted == "launcher.log, a second name of a file outside":
        logs.mkdir()
        (logs / "launcher.log").hardlink_to(victim)
    else:
        logs.mkdir()
        line = b"2026-01-01T00:00:00.000Z 1 an old line\n"
        (logs / "launcher.log").write_bytes(line * (1024 * 1024 // len(line) + 1))
        (logs / "launcher.1.log").symlink_to(victim)
    before = sorted((p.name, p.read_bytes()) for p in outside.iterdir())

    assert wait_exit(game.start()) == 0
    assert game.launch_record() is not None, "the run goes on as usual"
    assert sorted((p.name, p.read_bytes()) for p in outside.iterdir()) == before, "nothing changed outside"
    if planted == "launcher.1.log, when the log is rotated":
        # The rename replaced the name launcher.1.log, not the file it pointed to.
        assert not (logs / "launcher.1.log").is_symlink()
        assert events(logs)[0].startswith("start ")
