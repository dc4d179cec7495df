"""The download bar on the splash, with the real launcher and a server that sends the stub slowly.
zvwin reads the bar's position (PBM_GETPOS) from the splash's children while the run goes on; the
journal (zvwin watch) tells when the launcher created and removed it. Wine sends no WM_DESTROY to
the windows of a process that ends, so a "destroy" in the journal is the launcher's own doing.
The rule for when to update the bar is tabled in src/ui/progress_pacing_test.cpp; the bar's place
and range in src/ui/ui_thread_test.cpp.
"""

import pytest

from harness import (MESSAGE_BOX_CLASS, PROGRESS_CLASS, WINDOW_CLASS, eventually, finish_run, large_stub, sha1_of,
                     stub_file_path)

RATE = 400_000  # bytes a second: a 2 MB stub takes about five seconds


def publish_slow_stub(game, server, stub, rate, manifest_sha1=None, content_length=True):
    """The stub sent at rate bytes a second (None: at once), under a manifest that names
    manifest_sha1 (by default the stub's own)."""
    path = stub_file_path(game.root / "Foo.exe", stub)
    server.publish_stub(game.root / "Foo.exe", None,
                        {"sha1": manifest_sha1 or sha1_of(stub), "url": server.put_file(path, stub)})
    route = {"bytes_per_second": rate} if rate else {}
    if not content_length:
        route["content_length"] = False
    server.route(path, **route)


def bar_events(journal):
    """When the bar was created and destroyed (showing and hiding come with those)."""
    return [e.kind for e in journal.events() if e.class_name.lower() == PROGRESS_CLASS and e.kind in ("create",
                                                                                                     "destroy")]


def watch_bar(wine, launcher):
    """The bars the launcher's splash showed, as zvwin saw them, until the run ends or a box shows.
    A bar caught while the launcher destroys it has no position to read, and is left out."""
    seen = []

    def look():
        for splash in wine.windows(WINDOW_CLASS, ""):
            if (bar := splash.progress_bar()) and bar["position"] is not None:
                seen.append(bar)
        boxes = [w for w in wine.windows(MESSAGE_BOX_CLASS) if w.title == "Game Update Error"]
        return launcher.poll() is not None or boxes

    assert eventually(look, timeout=90, interval=0.1)
    return seen


@pytest.mark.parametrize("case", ["rising-then-game", "rising-then-box", "no-length-marquee"])
def test_a_slow_download_shows_the_bar_which_goes_before_the_game_or_the_box(ready_game, server, tmp_path, case):
    game = ready_game
    wine = game.wine
    game.add_stub(1)
    game.add_splash()
    stub = large_stub(tmp_path, 2_000_000)
    publish_slow_stub(game, server, stub, RATE, manifest_sha1="0" * 40 if case == "rising-then-box" else None,
                      content_length=case != "no-length-marquee")

    with wine.watch() as journal:
        launcher = game.start(env=journal.env)
        seen = watch_bar(wine, launcher)
        code, box = finish_run(wine, launcher, on_box=lambda b: assert_no_bar_at_the_box(wine, b))

    assert seen, "no bar appeared"
    if case == "no-length-marquee":
        assert all(bar["marquee"] for bar in seen)
    else:
        positions = [bar["position"] for bar in seen]
        assert not any(bar["marquee"] for bar in seen)
        assert all(0 <= p <= 100 for p in positions), positions
        assert positions == sorted(positions) and positions[-1] > positions[0], positions
    # Created once, and removed by the launcher when the download ended.
    assert bar_events(journal) == ["create", "destroy"]
    if case == "rising-then-box":
        assert (code, box) == (1, "Game Update Error")
        order = [(e.class_name.lower(), e.kind) for e in journal.events()]
        assert order.index((PROGRESS_CLASS, "destroy")) < order.index((MESSAGE_BOX_CLASS.lower(), "create"))
    else:
        assert (code, box) == (0, None)
        assert game.launch_record()["stub-version"] == "2"


def assert_no_bar_at_the_box(wine, box):
    assert not [w for w in wine.windows(WINDOW_CLASS, "") if w.pid == box.pid], "the splash outlived the box"


@pytest.mark.parametrize("case", ["fast-download", "slow-without-splash"])
def test_no_bar_for_a_short_download_or_without_a_splash(ready_game, server, tmp_path, case):
    game = ready_game
    wine = game.wine
    game.add_stub(1)
    if case == "fast-download":
        game.add_splash()
        publish_slow_stub(game, server, large_stub(tmp_path, 200_000), rate=None)
    else:
        publish_slow_stub(game, server, large_stub(tmp_path, 1_000_000), RATE)

    with wine.watch() as journal:
        launcher = game.start(env=journal.env)
        code, box = finish_run(wine, launcher)

    assert (code, box) == (0, None)
    assert game.launch_record()["stub-version"] == "2"
    assert bar_events(journal) == []
