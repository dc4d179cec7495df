"""The splash window of the real launcher: its size and place, where its bitmap comes from, and
when it goes. The consent window holds the run where the splash must be read at leisure; the
journal (zvwin watch) tells the order of events inside the launcher where the run does not wait.
How the splash is painted, and that closing it destroys it before the call returns, is checked
inside a test process by src/ui/ui_thread_test.cpp.
"""

import pytest

from harness import (AGREEMENT_KEY, CONSENT_TITLE, MESSAGE_BOX_CLASS, SPLASH_BITMAP, WINDOW_CLASS,
                     assert_run_goes_on, finish_run, wait_exit, write_bitmap)

# No files on the update server: a run that gets past the agreement ends in the self-update's
# failure box, the same way every time.
pytestmark = pytest.mark.usefixtures("server")

WS_POPUP = 0x80000000
WS_CLIPSIBLINGS = 0x04000000  # added by Windows to every top-level window
WS_EX_TOPMOST_TOOLWINDOW = 0x88


def splash_of(wine, pid):
    return [w for w in wine.windows(WINDOW_CLASS, "") if w.pid == pid]


def assert_no_splash(wine, pid):
    assert splash_of(wine, pid) == []


@pytest.mark.parametrize("bitmap", [
    pytest.param(None, id="shipped-480x270"),
    # Odd sizes: each extent is halved on its own, which differs from halving the difference.
    pytest.param((301, 201), id="odd-301x201"),
    pytest.param((1, 1), id="one-pixel"),
])
def test_splash_has_the_bitmaps_size_and_sits_in_the_middle(game, tmp_path, bitmap):
    wine = game.wine
    if bitmap is None:
        source, (width, height) = SPLASH_BITMAP, (480, 270)
    else:
        source, (width, height) = tmp_path / "fixture.bmp", bitmap
        write_bitmap(source, width, height)
    game.add_splash(source)
    cx, cy = wine.screen_size()

    launcher = game.start()
    consent = wine.find_window(CONSENT_TITLE, WINDOW_CLASS)
    splash = splash_of(wine, consent.pid)
    assert len(splash) == 1
    splash = splash[0]
    left, top = cx // 2 - width // 2, cy // 2 - height // 2
    assert splash.rect == (left, top, left + width, top + height)
    assert splash.raw["client"] == [width, height]
    assert splash.style & ~WS_CLIPSIBLINGS == WS_POPUP  # hidden while the agreement is asked
    assert splash.exstyle == WS_EX_TOPMOST_TOOLWINDOW
    assert splash.title == ""

    wine.press(CONSENT_TITLE, "Cancel", WINDOW_CLASS)
    assert wait_exit(launcher) == 1


@pytest.mark.parametrize("where", ["none-anywhere", "beside-launcher-only"])
def test_without_a_bitmap_in_the_current_directory_there_is_no_splash(game, tmp_path, where):
    """The bitmap is looked up in the current directory, not beside the launcher; the consent
    window opens all the same."""
    wine = game.wine
    if where == "beside-launcher-only":
        game.add_splash()
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()

    launcher = game.start(cwd=elsewhere)
    consent = wine.find_window(CONSENT_TITLE, WINDOW_CLASS)
    assert splash_of(wine, consent.pid) == []
    wine.press(CONSENT_TITLE, "I Accept", WINDOW_CLASS)
    assert_run_goes_on(wine, launcher)
    assert wine.reg_query(AGREEMENT_KEY, "EULA") == "REG_DWORD 0x1"


def test_accepted_agreement_keeps_the_splash_up_until_the_run_ends_or_a_box_shows(game):
    """With the agreement on record nothing hides the splash. No update server answers here: a
    build whose steps can fail ends in a failure box, and the splash must be gone before the box
    is created; a build whose steps succeed ends with 0 and the splash goes with the process."""
    wine = game.wine
    wine.reg_set(AGREEMENT_KEY, "EULA", "REG_DWORD", "1")
    game.add_splash()
    with wine.watch() as journal:
        launcher = game.start(env=journal.env)
        # While a box is up the splash is no longer there at all.
        code, box = finish_run(wine, launcher, on_box=lambda b: assert_no_splash(wine, b.pid))

    events = [e for e in journal.events() if e.class_name in (WINDOW_CLASS, MESSAGE_BOX_CLASS)]
    assert not [e for e in events if e.title == CONSENT_TITLE and e.class_name == WINDOW_CLASS]
    order = [("splash" if e.class_name == WINDOW_CLASS else "box", e.kind) for e in events
             if e.kind in ("create", "show", "hide", "destroy")]
    if box:
        assert code == 1
        box = order.index(("box", "create"))
        assert order[:box] == [("splash", "create"), ("splash", "show"), ("splash", "hide"), ("splash", "destroy")]
    else:
        assert code == 0
        assert order == [("splash", "create"), ("splash", "show")]
