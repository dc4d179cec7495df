"""The agreement consent window of the real launcher, and how its answer ends or continues the run.

While the launcher waits for an answer the run is held, so the windows can be read at leisure.
The journal (zvwin watch) records, inside the launcher, each window's creation, showing, hiding
and destruction in the order they happened, the fonts the controls were given and the brushes the
window answered WM_CTLCOLORSTATIC with: Wine returns no font for WM_GETFONT asked from another
process, and the null graphics driver has no pixels to look at from outside.

Keys are posted to the control that has the focus, as the keyboard would deliver them; under the
null graphics driver they reach the window's dialog keyboard handling as on Windows. Posted keys
carry no Shift state, so Shift+Tab is shown inside a test process (src/ui/ui_thread_test.cpp).
"""

import json

import pytest

from harness import AGREEMENT_KEY, CONSENT_TITLE, MESSAGE_BOX_CLASS, WINDOW_CLASS, assert_run_goes_on, wait_exit

# No files on the update server: a run that gets past the agreement ends in the self-update's
# failure box, the same way every time.
pytestmark = pytest.mark.usefixtures("server")

WS_CLIPSIBLINGS = 0x04000000  # added by Windows to every top-level window
WS_VISIBLE = 0x10000000
WS_EX_WINDOWEDGE = 0x100  # added by Windows to windows with a modal frame
BS_DEFPUSHBUTTON = 0x1
VK_TAB, VK_RETURN, VK_ESCAPE, VK_SPACE = 0x09, 0x0D, 0x1B, 0x20
INSTRUCTION = "To install Zarnovelle you must accept the terms of the EULA:"

# class, text, extended style, style, id, x, y, width, height, in the order of creation (which is
# the tab order): the agreement and the buttons are tab stops; "I Accept" is 100, never IDOK (1),
# which Enter sends from anywhere; "Cancel" is IDCANCEL (2), which Esc sends.
CONTROLS = [
    ("Static", INSTRUCTION, 0, 0x50000000, 0, 10, 10, 460, 20),
    ("Edit", None, 0x200, 0x50210844, 0, 10, 35, 460, 280),
    ("Button", "&I Accept", 0, 0x50010000, 100, 280, 330, 90, 25),
    ("Button", "&Cancel", 0, 0x50010000, 2, 380, 330, 90, 25),
]


def open_consent(game, journal):
    """Starts the launcher with no agreement recorded and returns it with its consent window."""
    game.add_splash()
    launcher = game.start(env=journal.env)
    window = game.wine.find_window(CONSENT_TITLE, WINDOW_CLASS)
    return launcher, window


def test_consent_window_is_laid_out_as_designed(game):
    wine = game.wine
    screen = wine.screen()
    with wine.watch() as journal:
        launcher, window = open_consent(game, journal)

        assert window.class_name == WINDOW_CLASS
        assert window.style & ~WS_CLIPSIBLINGS == 0xC80000 | WS_VISIBLE
        assert window.exstyle & ~WS_EX_WINDOWEDGE == 0x1
        left, top = screen["cx"] // 2 - 250, screen["cy"] // 2 - 200
        assert window.rect == (left, top, left + 500, top + 400)

        children = window.children
        assert [(c["class"].lower(), c["exstyle"], c["style"], c["id"]) for c in children] == [
            (cls.lower(), exstyle, style, id_) for cls, _, exstyle, style, id_, *_ in CONTROLS]
        for child, (_, text, _, _, _, x, y, width, height) in zip(children, CONTROLS):
            assert window.child_layout(child) == (x, y, width, height), child["class"]
            if text is not None:
                assert child["text"] == text
        # The player starts in the agreement; no button is the default.
        assert window.raw["focus"] == children[1]["hwnd"]

        # The whole agreement reached the box unchanged in form, and its long paragraphs wrap:
        # 15 paragraphs and 14 empty lines would be 29 lines without wrapping.
        agreement = children[1]
        assert len(agreement["text"]) == 2780
        assert agreement["text"].count("\r\n") == 28
        assert agreement["text"].startswith("*")
        assert agreement["lines"] > 29

        # The splash waits hidden while the window is open.
        splash = [w for w in wine.windows(WINDOW_CLASS, "") if w.pid == window.pid]
        assert len(splash) == 1 and not splash[0].visible

        wine.press(CONSENT_TITLE, "Cancel", WINDOW_CLASS)
        assert wait_exit(launcher) == 1

    # Every control has the system's message font, the same one, redrawn.
    events = journal.events(window.pid)
    fonts = {e.hwnd: e.data.split(":") for e in events if e.kind == "setfont"}
    assert len({fonts[c["hwnd"]][0] for c in children}) == 1
    for child in children:
        assert fonts[child["hwnd"]][1:] == ["1", str(screen["message_font_height"])], child["class"]
    # The instruction line is drawn on white; the read-only agreement box keeps its own colours.
    brushes = {int(control): int(brush) for e in events if e.kind == "ctlcolorstatic"
               for control, brush in [e.data.split(":")]}
    assert brushes[children[0]["hwnd"]] == screen["white_brush"]
    assert brushes.get(children[1]["hwnd"], 0) != screen["white_brush"]


def test_accepting_records_the_agreement_and_brings_the_splash_back(game):
    wine = game.wine
    with wine.watch() as journal:
        launcher, window = open_consent(game, journal)
        splash = [w for w in wine.windows(WINDOW_CLASS, "") if w.pid == window.pid][0]
        wine.press(CONSENT_TITLE, "I Accept", WINDOW_CLASS)
        assert_run_goes_on(wine, launcher)

    assert wine.reg_query(AGREEMENT_KEY, "EULA") == "REG_DWORD 0x1"
    assert journal.window_story(splash.hwnd)[:4] == ["create", "show", "hide", "show"]
    story = [(e.hwnd, e.kind) for e in journal.events(window.pid)
             if e.kind in ("show", "hide", "destroy") and e.class_name == WINDOW_CLASS]
    # The consent window is gone before the splash shows again.
    assert story[:5] == [(splash.hwnd, "show"), (splash.hwnd, "hide"), (window.hwnd, "show"),
                         (window.hwnd, "destroy"), (splash.hwnd, "show")]


@pytest.mark.parametrize("refuse", [
    pytest.param(lambda w: w.press(CONSENT_TITLE, "Cancel", WINDOW_CLASS), id="cancel"),
    pytest.param(lambda w: w.system_close(CONSENT_TITLE, WINDOW_CLASS), id="close-box"),
    pytest.param(lambda w: w.close(CONSENT_TITLE, WINDOW_CLASS), id="wm-close"),
    pytest.param(lambda w: w.alt_f4(CONSENT_TITLE, WINDOW_CLASS), id="alt-f4"),
])
def test_every_other_way_out_refuses_silently(game, refuse):
    wine = game.wine
    with wine.watch() as journal:
        launcher, window = open_consent(game, journal)
        refuse(wine)
        assert wait_exit(launcher) == 1
    assert wine.reg_query(AGREEMENT_KEY, "EULA") is None
    assert not [e for e in journal.events(window.pid) if e.class_name == MESSAGE_BOX_CLASS]


def keys(wine, window, *strokes):
    """Posts key strokes, one after the other, to whichever control has the focus at the time; a
    stroke is a virtual key, or ("alt", key) for the key with Alt held."""
    for stroke in strokes:
        if isinstance(stroke, tuple):
            wine.zvwin("key", "--hwnd", str(window.hwnd), "--vk", str(stroke[1]), "--focused", "1", "--alt", "1")
        else:
            wine.zvwin("key", "--hwnd", str(window.hwnd), "--vk", str(stroke), "--focused", "1")


@pytest.mark.parametrize("strokes, accepted", [
    pytest.param([VK_ESCAPE], False, id="esc-in-the-agreement"),
    pytest.param([VK_TAB, VK_ESCAPE], False, id="esc-on-i-accept"),
    pytest.param([VK_TAB, VK_RETURN], True, id="tab-enter-accepts"),
    pytest.param([VK_TAB, VK_SPACE], True, id="tab-space-accepts"),
    pytest.param([VK_TAB, VK_TAB, VK_RETURN], False, id="tab-tab-enter-cancels"),
    # Past the last button the focus comes round to the agreement, where Enter presses nothing.
    pytest.param([VK_TAB, VK_TAB, VK_TAB, VK_RETURN, VK_ESCAPE], False, id="round-to-the-agreement"),
    pytest.param([("alt", ord("I"))], True, id="alt-i-accepts"),
    pytest.param([("alt", ord("C"))], False, id="alt-c-cancels"),
])
def test_the_keyboard_answers_as_a_dialog_does(game, strokes, accepted):
    wine = game.wine
    with wine.watch() as journal:
        launcher, window = open_consent(game, journal)
        keys(wine, window, *strokes)
        if accepted:
            assert_run_goes_on(wine, launcher)
        else:
            assert wait_exit(launcher) == 1
    assert wine.reg_query(AGREEMENT_KEY, "EULA") == ("REG_DWORD 0x1" if accepted else None)
    assert not [e for e in journal.events(window.pid) if e.class_name == MESSAGE_BOX_CLASS and not accepted]


def test_enter_presses_only_the_focused_button_and_tab_makes_it_the_default(game):
    """Enter in the agreement answers nothing; Tab moves to "I Accept", which becomes the
    default button, and on to "Cancel", which takes that over."""
    wine = game.wine
    with wine.watch() as journal:
        launcher, window = open_consent(game, journal)
        accept, cancel = window.children[2]["hwnd"], window.children[3]["hwnd"]

        def state():
            now = wine.find_window(CONSENT_TITLE, WINDOW_CLASS)
            return now.raw["focus"], [c["style"] & BS_DEFPUSHBUTTON for c in now.children[2:]]

        keys(wine, window, VK_RETURN)
        assert state() == (window.children[1]["hwnd"], [0, 0])
        keys(wine, window, VK_TAB)
        assert state() == (accept, [BS_DEFPUSHBUTTON, 0])
        keys(wine, window, VK_TAB)
        assert state() == (cancel, [0, BS_DEFPUSHBUTTON])
        wine.press(CONSENT_TITLE, "Cancel", WINDOW_CLASS)
        assert wait_exit(launcher) == 1
    assert wine.reg_query(AGREEMENT_KEY, "EULA") is None


def test_every_control_has_a_name_a_screen_reader_speaks(game):
    """The names oleacc gives a screen reader: an edit control is named by the static text before
    it, so the agreement is announced by the instruction line that names the agreement; each
    button by its text, with its access key."""
    wine = game.wine
    game.add_splash()
    launcher = game.start()
    window = wine.find_window(CONSENT_TITLE, WINDOW_CLASS)
    read = json.loads(wine.zvwin("accessible", "--hwnd", str(window.hwnd)).stdout)
    assert [(r["name"], r["shortcut"]) for r in read] == [
        (INSTRUCTION, ""), (INSTRUCTION, ""), ("I Accept", "Alt+I"), ("Cancel", "Alt+C")]
    ROLE_SYSTEM_TEXT = 42
    assert read[1]["role"] == ROLE_SYSTEM_TEXT
    wine.press(CONSENT_TITLE, "Cancel", WINDOW_CLASS)
    assert wait_exit(launcher) == 1


def test_second_launcher_during_consent_is_turned_away(game):
    wine = game.wine
    with wine.watch() as journal:
        first, window = open_consent(game, journal)
        second = game.start()
        box = wine.find_window(CONSENT_TITLE, MESSAGE_BOX_CLASS)
        assert box.static_texts() == ["Another instance is already running"]
        wine.press(CONSENT_TITLE, "OK", MESSAGE_BOX_CLASS)
        assert wait_exit(second) == 1

        # The first still waits for its answer and takes it as usual.
        assert first.poll() is None
        assert wine.find_window(CONSENT_TITLE, WINDOW_CLASS).hwnd == window.hwnd
        wine.press(CONSENT_TITLE, "I Accept", WINDOW_CLASS)
        assert_run_goes_on(wine, first)
    assert wine.reg_query(AGREEMENT_KEY, "EULA") == "REG_DWORD 0x1"
