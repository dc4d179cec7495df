"""Where the launcher's libraries come from, end to end.

Windows looks for a library that is not a KnownDLL in the program's own folder first, so a
winhttp.dll planted beside a program that imports WINHTTP.dll is loaded in place of the system's.
Wine loads its own builtin winhttp whatever lies beside the program unless told to prefer a native
one: WINEDLLOVERRIDES=winhttp=n,b makes it search as Windows does (run.sh's default overrides are
kept in the value). The planted library records every process that loads it."""

from pathlib import Path

from harness import MESSAGE_BOX_CLASS, build_dir, eventually, to_windows_path, wait_exit

DEFAULT_OVERRIDES = "mscoree,mshtml="
PREFER_NATIVE_WINHTTP = {"WINEDLLOVERRIDES": f"{DEFAULT_OVERRIDES};winhttp=n,b"}
NO_WINHTTP = {"WINEDLLOVERRIDES": f"{DEFAULT_OVERRIDES};winhttp="}


def planted(name: str) -> Path:
    return build_dir() / "fixtures" / "planted" / name


def plant_winhttp(folder) -> None:
    folder.add(planted("winhttp.dll"), "winhttp.dll")


def processes_that_loaded_it(folder) -> list[str]:
    marker = folder.root / "planted-loaded.txt"
    if not marker.exists():
        return []
    return marker.read_bytes().decode("utf-16-le").splitlines()


def test_a_winhttp_dll_beside_the_launcher_is_never_loaded(ready_game, server):
    game = ready_game
    game.add_stub(1)
    manifest = server.publish_stub(game.root / "Foo.exe", game.stub)
    plant_winhttp(game)

    process = game.start(env=PREFER_NATIVE_WINHTTP)
    # A launcher that loads the planted library records it at once and then crashes on its first
    # call into it (it exports nothing the launcher would use): fail on the record, not the crash.
    eventually(lambda: process.poll() is not None or processes_that_loaded_it(game), timeout=60)
    assert processes_that_loaded_it(game) == []
    assert wait_exit(process) == 0
    # The run is the one it would be without the planted library: both manifests, and the game
    # started with the current stub.
    assert server.requests() == ["/launcher/manifest.json", manifest]
    record = game.launch_record()
    assert record is not None, "the game did not run"
    assert record["stub-version"] == "1"


def test_the_same_override_loads_it_into_a_program_that_imports_winhttp(ready_game):
    # Shows that the test above would catch a launcher that imports WINHTTP.dll again.
    game = ready_game
    plant_winhttp(game)
    program = game.add(planted("StaticWinHttp.exe"), "StaticWinHttp.exe")

    assert wait_exit(game.wine.start(program, cwd=game.root, env=PREFER_NATIVE_WINHTTP)) == 0

    assert processes_that_loaded_it(game) == [to_windows_path(program)]


def test_without_winhttp_the_run_ends_with_the_launcher_manifest_box(ready_game, server):
    # Wine refuses to load a library that the override turns off: the launcher starts all the same
    # (nothing in its import table names winhttp) and its client fails as a session that did not
    # open, before any request.
    game = ready_game
    process = game.start(env=NO_WINHTTP)
    box = game.wine.find_window("Launcher Update Error", MESSAGE_BOX_CLASS)
    assert box.static_texts() == ["Failed to fetch launcher update manifest from server."]
    game.wine.press("Launcher Update Error", "OK", MESSAGE_BOX_CLASS)
    assert wait_exit(process) == 1
    assert server.requests() == []
