"""Takes the README's screenshots of the real launcher under Wine on a virtual X screen (Xvfb).

    python3 scripts/screenshots.py        (after building the windows preset)

Writes docs/screenshots/splash.png, splash-progress.png (the splash while a slow stub download
runs, from a loopback update server on the launcher's port), splash-200.png (the splash on a
display at 200 %), consent.png, and the agreement window in German and in Simplified Chinese
(consent-de.png, consent-zh-CN.png). Unlike the tests, this prefix draws through Wine's X11
driver, so the windows have pixels to capture.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))

from harness import (AGREEMENT_KEY, CONSENT_TITLE, DESKTOP_KEY, REPO, WINDOW_CLASS, GameFolder,  # noqa: E402
                     UpdateServer, Wine, eventually, large_stub, stub_file_path)

OUTPUT = REPO / "docs" / "screenshots"
WINE_FONTS = Path("/usr/share/wine/fonts")
# A font with the Chinese, Japanese and Korean characters (Debian's fonts-wqy-microhei), linked to
# Wine's user-interface fonts, which have none of them, as Windows links its own.
CJK_FONT = Path("/usr/share/fonts/truetype/wqy/wqy-microhei.ttc")
FONT_LINKS = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink"
SCREEN = "1280x800x24"


def start_xvfb() -> tuple[subprocess.Popen, str]:
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", SCREEN, "-nolisten", "tcp"],
                            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as pipe:
        display = ":" + pipe.readline().strip()
    return xvfb, display


def capture(rect: tuple[int, int, int, int], path: Path) -> None:
    left, top, right, bottom = rect
    subprocess.run(["import", "-window", "root", "-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage",
                    "-strip", str(path)], check=True)
    print(f"wrote {path.relative_to(REPO)}")


def main() -> int:
    OUTPUT.mkdir(parents=True, exist_ok=True)
    xvfb, display = start_xvfb()
    os.environ["DISPLAY"] = display
    try:
        with tempfile.TemporaryDirectory(prefix="zv-shots-") as tmp:
            server = UpdateServer(Path(tmp) / "server")
            server.start()
            wine = Wine(Path(tmp) / "prefix")
            wine.up(trusted_ca=server.ca_der)
            try:
                # Draw through X instead of the tests' null driver. There is no window manager on
                # the virtual screen, so Wine draws the captions and frames itself.
                wine.run("reg", ["delete", r"HKCU\Software\Wine\Drivers", "/v", "Graphics", "/f"])
                for setting in ("Decorated", "Managed"):
                    wine.run("reg", ["add", r"HKCU\Software\Wine\X11 Driver", "/v", setting, "/d", "N", "/f"])
                # Wine's own fonts (fonts-wine) for the caption buttons' glyphs and a Windows-like
                # face; this Wine build does not look for them in its data folder.
                fonts = wine.prefix / "drive_c" / "windows" / "Fonts"
                for name in ("marlett.ttf", "tahoma.ttf", "tahomabd.ttf"):
                    if (WINE_FONTS / name).exists():
                        shutil.copyfile(WINE_FONTS / name, fonts / name)
                if CJK_FONT.exists():
                    shutil.copyfile(CJK_FONT, fonts / CJK_FONT.name)
                    for face in ("Tahoma", "MS Shell Dlg", "MS Shell Dlg 2", "Microsoft Sans Serif"):
                        wine.run("reg", ["add", FONT_LINKS, "/v", face, "/t", "REG_MULTI_SZ", "/d",
                                         f"{CJK_FONT.name},WenQuanYi Micro Hei", "/f"])
                # The prefix's session (its desktop) started with the null driver: start it anew.
                wine.restart()
                game = GameFolder(wine, Path(tmp) / "Foo Game")
                game.add_splash()

                # The splash: a run with the agreement on record, held once the splash has painted.
                wine.reg_set(AGREEMENT_KEY, "EULA", "REG_DWORD", "1")
                with wine.watch() as journal:
                    game.start(env={**journal.env, "ZV_WATCH_FREEZE": WINDOW_CLASS})
                    assert eventually(lambda: [e for e in journal.events() if e.kind == "freeze"], timeout=60)
                    splash = [w for w in wine.windows(WINDOW_CLASS, "") if w.visible][0]
                    time.sleep(1)  # let the X server catch up with the last paint
                    capture(splash.rect, OUTPUT / "splash.png")
                    wine.end_stragglers()

                # The splash with the download bar: a stub of 6 MB sent at 200 kB a second, taken
                # about half way.
                game.add_game("Foo.exe")
                game.add_stub(1)
                server.publish_launcher(game.launcher)
                stub = large_stub(Path(tmp), 6_000_000)
                server.publish_stub(game.root / "Foo.exe", stub)
                server.route(stub_file_path(game.root / "Foo.exe", stub), bytes_per_second=200_000)
                game.start()

                def half_way():
                    splashes = [w for w in wine.windows(WINDOW_CLASS, "") if w.visible and w.progress_bar()]
                    return splashes[0] if splashes and splashes[0].progress_bar()["position"] >= 45 else None

                assert eventually(half_way, timeout=60)
                time.sleep(1)
                capture(half_way().rect, OUTPUT / "splash-progress.png")
                wine.end_stragglers()

                # The consent window: a run with no agreement on record waits on it; in English, then
                # in the languages of Windows set to German and to Simplified Chinese.
                for locale, name in (("C.UTF-8", "consent.png"), ("de_DE.UTF-8", "consent-de.png"),
                                     ("zh_CN.UTF-8", "consent-zh-CN.png")):
                    if name == "consent-zh-CN.png" and not CJK_FONT.exists():
                        print(f"skipped {name}: no font with Chinese characters ({CJK_FONT})")
                        continue
                    wine.reg_delete_key(AGREEMENT_KEY)
                    game.start(env={"LC_ALL": locale})
                    assert eventually(lambda: [w for w in wine.windows(WINDOW_CLASS) if w.visible and w.title],
                                      timeout=60)
                    window = [w for w in wine.windows(WINDOW_CLASS) if w.visible and w.title][0]
                    time.sleep(2)
                    capture(window.rect, OUTPUT / name)
                    wine.end_stragglers()

                # The splash on a display at 200 %: twice the bitmap's size, smoothed.
                wine.reg_set(AGREEMENT_KEY, "EULA", "REG_DWORD", "1")
                wine.reg_set(DESKTOP_KEY, "LogPixels", "REG_DWORD", "192")
                with wine.watch() as journal:
                    game.start(env={**journal.env, "ZV_WATCH_FREEZE": WINDOW_CLASS})
                    assert eventually(lambda: [e for e in journal.events() if e.kind == "freeze"], timeout=60)
                    splash = [w for w in wine.windows(WINDOW_CLASS, "") if w.visible][0]
                    time.sleep(1)
                    capture(splash.rect, OUTPUT / "splash-200.png")
                    wine.end_stragglers()
                wine.reg_set(DESKTOP_KEY, "LogPixels", "REG_DWORD", "96")
            finally:
                wine.end_stragglers()
                wine.down()
                server.stop()
    finally:
        xvfb.terminate()
        xvfb.wait(timeout=30)
    return 0


if __name__ == "__main__":
    sys.exit(main())
