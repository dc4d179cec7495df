"""The windows at the display's scale: the real launcher under Wine with the prefix's LogPixels at
96, 144 and 192 DPI (100, 150 and 200 %).

Wine takes every window's DPI from LogPixels and does not stretch windows as Windows does for a
program that declares no awareness, so the sizes read here are the ones the launcher chose. Wine
scales the caption with LogPixels but not the borders, where Windows scales both: the agreement
window's client area is what is designed to scale, and what is compared (within 2 pixels, for
rounding). The null driver's screen is 1024 by 768 pixels: at 200 % the agreement window (about
800 pixels high) is taller than it, and Windows and Wine alike keep a window within the greatest
height a window may have (SM_CYMAXTRACK); there its height is that limit. The fonts' heights are
read inside the launcher by the journal (zvwin watch)."""

import pytest

from harness import CONSENT_TITLE, DESKTOP_KEY, WINDOW_CLASS, wait_exit

pytestmark = pytest.mark.usefixtures("server")

SPLASH = (480, 270)  # the shipped bitmap


@pytest.fixture
def scaled_wine(game):
    """The prefix at a scale the test sets with set_dpi, and at 96 DPI again afterwards."""
    wine = game.wine

    def set_dpi(dpi: int) -> None:
        wine.reg_set(DESKTOP_KEY, "LogPixels", "REG_DWORD", str(dpi))

    try:
        yield set_dpi
    finally:
        set_dpi(96)


def test_splash_agreement_window_and_fonts_scale_with_the_display(game, scaled_wine):
    wine = game.wine
    game.add_splash()
    seen = {}
    for dpi in (96, 144, 192):
        scaled_wine(dpi)
        with wine.watch() as journal:
            launcher = game.start(env=journal.env)
            window = wine.find_window(CONSENT_TITLE, WINDOW_CLASS)
            splash = [w for w in wine.windows(WINDOW_CLASS, "") if w.pid == window.pid][0]
            layout = [window.child_layout(c) for c in window.children]
            wine.press(CONSENT_TITLE, "Cancel", WINDOW_CLASS)
            assert wait_exit(launcher) == 1
        fonts = {e.data.split(":")[2] for e in journal.events(window.pid) if e.kind == "setfont"}
        height = window.rect[3] - window.rect[1]
        seen[dpi] = (splash.raw["client"], window.raw["client"], layout, fonts, wine.screen(dpi), height)

    design_client = seen[96][1]
    design_layout = seen[96][2]
    for dpi, (splash_client, client, layout, fonts, screen, height) in seen.items():
        scale = dpi / 96
        # The splash: the bitmap's size in 96-DPI pixels at this scale.
        assert splash_client == [round(SPLASH[0] * scale), round(SPLASH[1] * scale)], dpi
        # The agreement window's client area and every control in it, scaled.
        assert abs(client[0] - design_client[0] * scale) <= 2, (dpi, client)
        if height < screen["max_track_cy"]:
            assert abs(client[1] - design_client[1] * scale) <= 2, (dpi, client)
        else:
            assert client[1] < design_client[1] * scale and dpi == 192, (dpi, client, height)
        for got, want in zip(layout, design_layout):
            assert all(abs(g - w * scale) <= 2 for g, w in zip(got, want)), (dpi, got, want)
        # One font for the controls: the system's message font at this DPI, scaled with it.
        assert fonts == {str(screen["message_font_height"])}, dpi
        assert abs(screen["message_font_height"] - seen[96][4]["message_font_height"] * scale) <= 1
