"""Only one launcher runs at a time."""

from harness import AGREEMENT_KEY, MESSAGE_BOX_CLASS, wait_exit

MUTEX = "ZarnovelleLauncherMutex"


def test_second_start_shows_the_information_box_and_touches_nothing(game):
    wine = game.wine
    holder = wine.hold_mutex(MUTEX)
    launcher = game.start()

    box = wine.find_window("Zarnovelle Launcher", MESSAGE_BOX_CLASS)
    assert box.static_texts() == ["Another instance is already running"]
    # On Windows zvwin names the system icon; Wine keeps an icon's pixels in the process that
    # loaded it, so there only its presence can be seen. The flag (information, 64) is checked
    # by the flow's unit tests.
    assert box.icon() in ("information", "unreadable")
    assert launcher.poll() is None, "the launcher must wait for the box to be dismissed"
    wine.press("Zarnovelle Launcher", "OK", MESSAGE_BOX_CLASS)
    assert wait_exit(launcher) == 1
    # Nothing else happened: no registry access, so an absent agreement stays absent.
    assert wine.reg_query(AGREEMENT_KEY, "EULA") is None

    # Once the holder lets go, a new start takes the guard and never shows the box.
    wine.release_held(holder)
    launcher = game.start()
    assert wine.window_absent("Zarnovelle Launcher", MESSAGE_BOX_CLASS, for_ms=3000)
    wine.end_stragglers()
