"""The end-to-end harness: the real ZVLauncher.exe under Wine, in a private headless prefix.

Wine runs each Windows program as a process of its own; the small Win32 helper zvwin.exe (built
with the launcher) finds the launcher's windows and message boxes, describes them as JSON and
presses their buttons. Registry values are read and written with Wine's own reg.exe.
"""

from __future__ import annotations

import json
import os
import shutil
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
WINE_RUN = REPO / "tests" / "wine" / "run.sh"
PREFIX_SH = REPO / "tests" / "wine" / "prefix.sh"

AGREEMENT_KEY = r"HKCU\SOFTWARE\Zarnovelle"
MESSAGE_BOX_CLASS = "#32770"


def build_dir() -> Path:
    return Path(os.environ.get("ZV_BUILD_DIR", REPO / "build" / "windows")).resolve()


def to_windows_path(path: Path | str) -> str:
    """Wine maps the host's root as drive Z:."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


@dataclass
class Window:
    """A top-level window as zvwin describes it."""

    raw: dict

    @property
    def title(self) -> str:
        return self.raw["text"]

    @property
    def class_name(self) -> str:
        return self.raw["class"]

    @property
    def style(self) -> int:
        return self.raw["style"]

    @property
    def exstyle(self) -> int:
        return self.raw["exstyle"]

    @property
    def rect(self) -> tuple[int, int, int, int]:
        return tuple(self.raw["rect"])

    @property
    def children(self) -> list[dict]:
        return self.raw.get("children", [])

    def static_texts(self) -> list[str]:
        return [c["text"] for c in self.children if c["class"].lower() == "static" and c["text"]]

    def icon(self) -> str:
        icons = [c.get("icon", "") for c in self.children if c["class"].lower() == "static"]
        return next((i for i in icons if i), "")


class Wine:
    """One private prefix for the whole test session."""

    def __init__(self, prefix: Path):
        self.prefix = prefix
        self.zvwin_exe = build_dir() / "tests" / "zvwin.exe"
        self.launcher_exe = build_dir() / "ZVLauncher.exe"
        self._processes: list[subprocess.Popen] = []

    # -- prefix lifecycle -------------------------------------------------------------------
    def up(self) -> None:
        subprocess.run([str(PREFIX_SH), "up", str(self.prefix)], check=True, capture_output=True)

    def down(self) -> None:
        subprocess.run([str(PREFIX_SH), "down", str(self.prefix)], check=False, capture_output=True)

    # -- processes ----------------------------------------------------------------------------
    def _command(self, exe: Path | str, args: list[str]) -> list[str]:
        return [str(WINE_RUN), str(self.prefix), str(exe), *args]

    def start(self, exe: Path | str, args: list[str] | None = None, cwd: Path | None = None,
              stdin=subprocess.DEVNULL) -> subprocess.Popen:
        process = subprocess.Popen(self._command(exe, args or []), cwd=cwd, stdin=stdin,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self._processes.append(process)
        return process

    def run(self, exe: Path | str, args: list[str] | None = None, cwd: Path | None = None,
            timeout: float = 60) -> subprocess.CompletedProcess:
        return subprocess.run(self._command(exe, args or []), cwd=cwd, capture_output=True,
                              timeout=timeout)

    def end_stragglers(self) -> None:
        """Ends whatever a test left running, so that no box or mutex leaks into the next test."""
        for process in self._processes:
            if process.poll() is None:
                process.kill()
                process.wait(timeout=10)
        self._processes.clear()

    # -- the window helper -------------------------------------------------------------------
    def zvwin(self, *args: str, timeout: float = 30) -> subprocess.CompletedProcess:
        return self.run(self.zvwin_exe, list(args), timeout=timeout)

    def find_window(self, title: str, class_name: str | None = None, timeout_ms: int = 15000) -> Window:
        args = ["find", "--title", title, "--timeout", str(timeout_ms)]
        if class_name:
            args += ["--class", class_name]
        result = self.zvwin(*args, timeout=timeout_ms / 1000 + 30)
        if result.returncode != 0:
            raise AssertionError(f"no window titled {title!r} (class {class_name!r}) appeared")
        return Window(json.loads(result.stdout.decode("utf-8")))

    def window_absent(self, title: str, class_name: str | None = None, for_ms: int = 2000) -> bool:
        args = ["absent", "--title", title, "--for", str(for_ms)]
        if class_name:
            args += ["--class", class_name]
        return self.zvwin(*args).returncode == 0

    def press(self, title: str, button: str, class_name: str | None = None) -> None:
        args = ["press", "--title", title, "--button", button]
        if class_name:
            args += ["--class", class_name]
        result = self.zvwin(*args)
        assert result.returncode == 0, result.stderr.decode(errors="replace")

    def screen_size(self) -> tuple[int, int]:
        size = json.loads(self.zvwin("screen").stdout)
        return size["cx"], size["cy"]

    def hold_mutex(self, name: str) -> subprocess.Popen:
        """Owns a named mutex until release_held() closes the helper's stdin."""
        holder = self.start(self.zvwin_exe, ["hold-mutex", name], stdin=subprocess.PIPE)
        assert holder.stdout.readline().strip() == b"held"
        return holder

    @staticmethod
    def release_held(holder: subprocess.Popen) -> None:
        holder.stdin.close()
        assert holder.wait(timeout=30) == 0

    # -- registry -------------------------------------------------------------------------------
    def reg_query(self, key: str, value: str) -> str | None:
        """The value as reg.exe prints it ("REG_DWORD 0x1"), or None when it does not exist."""
        result = self.run("reg", ["query", key, "/v", value])
        if result.returncode != 0:
            return None
        for line in result.stdout.decode(errors="replace").splitlines():
            parts = line.split()
            if len(parts) >= 2 and parts[0] == value:
                return " ".join(parts[1:])
        return None

    def reg_set(self, key: str, value: str, kind: str, data: str) -> None:
        result = self.run("reg", ["add", key, "/v", value, "/t", kind, "/d", data, "/f"])
        assert result.returncode == 0, result.stderr

    def reg_delete_key(self, key: str) -> None:
        self.run("reg", ["delete", key, "/f"])


class GameFolder:
    """A temporary game folder with the launcher copied in under its player-facing name."""

    def __init__(self, wine: Wine, root: Path, launcher_name: str = "Foo_ZV.exe"):
        self.wine = wine
        self.root = root
        self.root.mkdir(parents=True, exist_ok=True)
        self.launcher = root / launcher_name
        shutil.copyfile(wine.launcher_exe, self.launcher)

    def start(self, args: list[str] | None = None, cwd: Path | None = None) -> subprocess.Popen:
        return self.wine.start(self.launcher, args, cwd=cwd or self.root)

    def run(self, args: list[str] | None = None, timeout: float = 60) -> int:
        return self.wine.run(self.launcher, args, cwd=self.root, timeout=timeout).returncode


def wait_exit(process: subprocess.Popen, timeout: float = 60) -> int:
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        raise AssertionError("the launcher did not end in time")


def eventually(predicate, timeout: float = 15, interval: float = 0.2) -> bool:
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(interval)
    return predicate()
