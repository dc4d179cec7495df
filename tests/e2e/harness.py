"""The end-to-end harness: the real ZVLauncher.exe under Wine, in a private headless prefix.

Wine runs each Windows program as a process of its own; the small Win32 helper zvwin.exe (built
with the launcher) finds the launcher's windows and message boxes, describes them as JSON and
presses their buttons. Registry values are read and written with Wine's own reg.exe.
"""

from __future__ import annotations

import base64
import contextlib
import hashlib
import importlib.util
import json
import os
import pwd
import shutil
import struct
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
WINE_SCRIPTS = REPO / "tests" / "wine"  # run.sh, prefix.sh and its hooks

AGREEMENT_KEY = r"HKCU\SOFTWARE\Zarnovelle"
MESSAGE_BOX_CLASS = "#32770"
WINDOW_CLASS = "Zarnovelle"
CONSENT_TITLE = "Zarnovelle Launcher"
SPLASH_BITMAP = REPO / "resources" / "zarnovelle.bmp"
PROGRESS_CLASS = "msctls_progress32"
# English for Wine, with UTF-8 for the names of the host's files: Wine takes both the user's
# language and the character set of host file names from LC_ALL, and a locale the machine does not
# have (Debian's base system has C.UTF-8 alone) leaves file names ASCII, so only paths of ASCII
# characters may be used under another language's LC_ALL.
ENGLISH_LOCALE = "C.UTF-8"
# The prefix's display scale (Wine's LogPixels); 96 DPI is 100 %.
DESKTOP_KEY = r"HKCU\Control Panel\Desktop"
INTERNET_SETTINGS_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"
MACHINE_INTERNET_SETTINGS_KEY = INTERNET_SETTINGS_KEY.replace("HKCU", "HKLM", 1)


def signed_build_dir(preset: str = "windows-signed") -> Path:
    """The launcher built with the test signing keys: the windows-signed preset (signing-1 and
    signing-2), or for a key rotation's first and last step windows-signed-key1 and
    windows-signed-key2 (one of them alone)."""
    if preset == "windows-signed" and "ZV_SIGNED_BUILD_DIR" in os.environ:
        return Path(os.environ["ZV_SIGNED_BUILD_DIR"]).resolve()
    return (build_dir().parent / preset).resolve()


def signing_key_file(name: str) -> Path:
    """A signing key of the signed-build tests (tests/keys/make_test_keys.sh): signing-1 and
    signing-2, which the signed launcher trusts, and unknown, which it does not."""
    return build_dir().parent / "test-keys" / f"{name}.pem"


def signed_update_host() -> str:
    """HOST as the signed messages carry it: the signed launcher's ZV_UPDATE_HOST in lower case."""
    return (signed_build_dir() / "update_host.txt").read_text().strip().lower()


def openssl_signature(message: bytes, key: Path) -> str:
    """base64 of the DER signature that `openssl dgst -sha256 -sign` writes over message."""
    signed = subprocess.run(["openssl", "dgst", "-sha256", "-sign", str(key)], input=message,
                            capture_output=True, check=True)
    return base64.b64encode(signed.stdout).decode()


def _changed(manifest: dict, changes: dict) -> dict:
    """The manifest with changes applied after signing: a value replaces a member, None removes it."""
    for name, value in changes.items():
        if value is None:
            manifest.pop(name, None)
        else:
            manifest[name] = value
    return manifest


def signed_manifest(path: str, data: bytes, url: str, version: str = "1.0.0.1", expires: str | None = None,
                    key: str = "signing-1", host: str | None = None, changes: dict | None = None) -> dict:
    """The manifest a publisher with key writes for data at url, signed for host and path as
    openssl signs; changes replace members after signing (None removes one)."""
    sha1, sha256 = hashlib.sha1(data).hexdigest(), hashlib.sha256(data).hexdigest()
    host = signed_update_host() if host is None else host
    message = "".join(f"{line}\n" for line in (
        "zarnovelle-update-manifest-2", host, path, version, expires or "never", str(len(data)), sha1, sha256, url))
    manifest = {"sha1": sha1, "sha256": sha256, "size": len(data), "url": url, "version": version}
    if expires is not None:
        manifest["expires"] = expires
    manifest["signature"] = openssl_signature(message.encode(), signing_key_file(key))
    return _changed(manifest, changes or {})


def signed_withdrawal(path: str, version: str, expires: str | None = None, key: str = "signing-1",
                      host: str | None = None, changes: dict | None = None) -> dict:
    """A withdrawal of the game build whose manifest is at path, signed likewise."""
    host = signed_update_host() if host is None else host
    message = "".join(f"{line}\n" for line in (
        "zarnovelle-update-withdrawal-2", host, path, version, expires or "never"))
    manifest = {"withdrawn": True, "version": version}
    if expires is not None:
        manifest["expires"] = expires
    manifest["signature"] = openssl_signature(message.encode(), signing_key_file(key))
    return _changed(manifest, changes or {})


def key_fingerprint(key: str) -> str:
    """The fingerprint of a test key as configure prints it and the launcher's marks name it: the
    first 16 hexadecimal digits of the SHA-256 of its DER SubjectPublicKeyInfo."""
    der = subprocess.run(["openssl", "pkey", "-in", str(signing_key_file(key)), "-pubout", "-outform", "DER"],
                         capture_output=True, check=True).stdout
    return hashlib.sha256(der).hexdigest()[:16]


def marks_key() -> str:
    """Where the signed launchers keep the marks of the stub manifests they accepted: one key per
    update host (in lower case), one value per manifest path."""
    return rf"HKCU\SOFTWARE\Zarnovelle\Manifests\{signed_update_host()}"


def build_dir() -> Path:
    return Path(os.environ.get("ZV_BUILD_DIR", REPO / "build" / "windows")).resolve()


def to_windows_path(path: Path | str) -> str:
    """Wine maps the host's root as drive Z:."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


@dataclass(frozen=True)
class UnixUser:
    """An ordinary (not root) account of this machine that a prefix's programs can run as."""

    name: str
    uid: int
    gid: int
    home: Path

    @classmethod
    def ensure(cls, name: str) -> UnixUser:
        """The account, created with a home folder when the machine does not have it yet."""
        try:
            entry = pwd.getpwnam(name)
        except KeyError:
            # Another session may create it at the same moment: the look-up after decides.
            created = subprocess.run(["useradd", "--create-home", name], capture_output=True, text=True)
            try:
                entry = pwd.getpwnam(name)
            except KeyError:
                raise RuntimeError(f"could not create the user {name}: {created.stderr.strip()}") from None
        return cls(entry.pw_name, entry.pw_uid, entry.pw_gid, Path(entry.pw_dir))

    def give(self, *paths: Path) -> None:
        """Makes the user the owner of paths (not of what lies inside them)."""
        for path in paths:
            os.chown(path, self.uid, self.gid)

    def process_options(self) -> dict:
        """subprocess options that start the program as this user, with only the user's groups and
        the user's own HOME, USER and LOGNAME."""
        env = dict(os.environ, HOME=str(self.home), USER=self.name, LOGNAME=self.name)
        env.pop("XDG_RUNTIME_DIR", None)
        return {"user": self.uid, "group": self.gid, "extra_groups": os.getgrouplist(self.name, self.gid),
                "env": env}


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
    def hwnd(self) -> int:
        return self.raw["hwnd"]

    @property
    def pid(self) -> int:
        return self.raw["pid"]

    @property
    def visible(self) -> bool:
        return self.raw["visible"]

    @property
    def children(self) -> list[dict]:
        return self.raw.get("children", [])

    def child_layout(self, child: dict) -> tuple[int, int, int, int]:
        """A child's x, y, width and height in its parent's client area."""
        ox, oy = self.raw["client_origin"]
        left, top, right, bottom = child["rect"]
        return left - ox, top - oy, right - left, bottom - top

    def progress_bar(self) -> dict | None:
        """The download bar among the children (its "position" and "marquee"), or None."""
        return next((c for c in self.children if c["class"].lower() == PROGRESS_CLASS), None)

    def static_texts(self) -> list[str]:
        return [c["text"] for c in self.children if c["class"].lower() == "static" and c["text"]]

    def icon(self) -> str:
        icons = [c.get("icon", "") for c in self.children if c["class"].lower() == "static"]
        return next((i for i in icons if i), "")


class Wine:
    """One private prefix for the whole test session.

    With user, every Windows program of the prefix runs as that ordinary user, and the prefix is
    created by and belongs to that user; its parent folder must be the user's to write in."""

    def __init__(self, prefix: Path, user: UnixUser | None = None):
        self.prefix = prefix
        self.user = user
        self.wine_scripts = WINE_SCRIPTS
        self.zvwin_exe = build_dir() / "tests" / "zvwin.exe"
        self.launcher_exe = build_dir() / "ZVLauncher.exe"
        self._processes: list[subprocess.Popen] = []

    def _options(self, cwd: Path | None = None, env: dict[str, str] | None = None) -> dict:
        """subprocess options for a command in this prefix: as its user, when it has one. Wine
        takes the user's language from LC_ALL: English unless env says otherwise, whatever the
        session's own locale is, so that the launcher's texts are the ones the tests expect (see
        ENGLISH_LOCALE)."""
        env = {"LC_ALL": ENGLISH_LOCALE, **(env or {})}
        if self.user is None:
            return {"cwd": cwd, "env": {**os.environ, **env}}
        options = self.user.process_options()
        options["env"].update(env)
        # Not the test's own working folder, which the user may not be allowed to enter.
        options["cwd"] = cwd or self.prefix.parent
        return options

    @contextlib.contextmanager
    def scratch(self, prefix: str):
        """A temporary folder that the prefix's programs may write in."""
        with tempfile.TemporaryDirectory(prefix=prefix) as tmp:
            if self.user:
                self.user.give(Path(tmp))
            yield Path(tmp)

    # -- prefix lifecycle -------------------------------------------------------------------
    def up(self, trusted_ca: Path | None = None) -> None:
        """A new prefix; trusted_ca (DER) becomes a trusted root inside it, and nowhere else."""
        if self.user:
            trusted_ca = self._copy_for_user(trusted_ca)
        env = {"ZVWIN": str(self.zvwin_exe)}
        if trusted_ca:
            env["ZV_TEST_CA"] = str(trusted_ca)
        subprocess.run([str(self.wine_scripts / "prefix.sh"), "up", str(self.prefix)], check=True,
                       capture_output=True, **self._options(env=env))
        self._keep_alive()

    def _copy_for_user(self, trusted_ca: Path | None) -> Path | None:
        """Copies of what the user's commands read, beside the prefix: the checkout, its build and
        the session's folders may lie where only root may enter. Returns the CA's copy."""
        tools = self.prefix.parent / "tools"
        shutil.copytree(self.wine_scripts, tools / "wine", dirs_exist_ok=True)
        self.wine_scripts = tools / "wine"
        self.zvwin_exe = Path(shutil.copy(self.zvwin_exe, tools))
        if trusted_ca:
            trusted_ca = Path(shutil.copy(trusted_ca, tools / "test-ca.der"))
        for folder, _, files in os.walk(tools):
            os.chmod(folder, 0o755)
            for name in files:
                os.chmod(Path(folder) / name, 0o755)
        return trusted_ca

    def _keep_alive(self) -> None:
        # One Windows process for the whole session keeps the prefix's wineserver and its services
        # (the desktop among them) running. Otherwise every test starts them anew, and a program
        # that shows a window while the desktop is still starting can stall under Wine.
        self._keepalive = subprocess.Popen(self._command(self.zvwin_exe, ["hold-mutex", "ZvTestSession"]),
                                           stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                           **self._options())
        assert self._keepalive.stdout.readline().strip() == b"held"
        # The desktop is up once its windows can be listed. Starting it is the prefix's one slow
        # step, and on a loaded machine it has taken longer than any later call may.
        self.zvwin("windows", timeout=180)

    def _let_go(self) -> None:
        keepalive = getattr(self, "_keepalive", None)
        if keepalive and keepalive.poll() is None:
            keepalive.stdin.close()
            try:
                keepalive.wait(timeout=10)
            except subprocess.TimeoutExpired:
                keepalive.kill()

    def restart(self) -> None:
        """Ends every program in the prefix, those that Windows programs started included, and
        starts its session anew: after a test whose launcher went on without the test."""
        self.end_stragglers()
        self._let_go()
        subprocess.run(["wineserver", "-k"], check=False, capture_output=True,
                       **self._options(env={"WINEPREFIX": str(self.prefix)}))
        self._keep_alive()

    def down(self) -> None:
        self._let_go()
        subprocess.run([str(self.wine_scripts / "prefix.sh"), "down", str(self.prefix)], check=False,
                       capture_output=True, **self._options())

    # -- processes ----------------------------------------------------------------------------
    def _command(self, exe: Path | str, args: list[str]) -> list[str]:
        return [str(self.wine_scripts / "run.sh"), str(self.prefix), str(exe), *args]

    def start(self, exe: Path | str, args: list[str] | None = None, cwd: Path | None = None,
              stdin=subprocess.DEVNULL, env: dict[str, str] | None = None) -> subprocess.Popen:
        process = subprocess.Popen(self._command(exe, args or []), stdin=stdin, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, **self._options(cwd, env))
        self._processes.append(process)
        return process

    def run(self, exe: Path | str, args: list[str] | None = None, cwd: Path | None = None,
            timeout: float = 60, env: dict[str, str] | None = None) -> subprocess.CompletedProcess:
        return subprocess.run(self._command(exe, args or []), capture_output=True, timeout=timeout,
                              **self._options(cwd, env))

    @staticmethod
    def processes() -> str:
        """The Windows processes running now, for failure messages."""
        ps = subprocess.run(["ps", "-eo", "pid,stat,etime,args"], capture_output=True, text=True).stdout
        return "\n".join(line for line in ps.splitlines() if ".exe" in line.lower() or "wine" in line)

    def end_stragglers(self) -> None:
        """Ends whatever a test left running, so that no box or mutex leaks into the next test."""
        for process in self._processes:
            if process.poll() is None:
                process.kill()
                process.wait(timeout=10)
        self._processes.clear()

    # -- the window helper -------------------------------------------------------------------
    # Commands that only read, and "press", which fails out loud when it comes too late (its window
    # is gone): asking these again can never make a test pass that should fail.
    ZVWIN_ASKABLE_AGAIN = {"find", "windows", "absent", "screen", "accessible", "press"}

    def zvwin(self, *args: str, timeout: float = 30) -> subprocess.CompletedProcess:
        result = self.run(self.zvwin_exe, list(args), timeout=timeout)
        # zvwin ends with 0, or with 3 and a line saying what it missed. Under Wine it has very
        # rarely ended with 1 and said nothing (twice in five whole runs of the scenarios, never when
        # the test was repeated alone; the cause is not known). Such an end is no answer of zvwin's,
        # and a command that may be asked again is asked once more.
        if result.returncode not in (0, 3) and not result.stderr and args and args[0] in self.ZVWIN_ASKABLE_AGAIN:
            result = self.run(self.zvwin_exe, list(args), timeout=timeout)
        return result

    def find_window(self, title: str, class_name: str | None = None, timeout_ms: int = 15000,
                    visible: bool = True) -> Window:
        """The window once it exists and (unless visible is False) is shown, so that whatever is
        done before showing it, such as creating its controls, is done."""
        args = ["find", "--title", title, "--timeout", str(timeout_ms)] + (["--visible", "1"] if visible else [])
        if class_name:
            args += ["--class", class_name]
        try:
            result = self.zvwin(*args, timeout=timeout_ms / 1000 + 30)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"zvwin did not answer while looking for {title!r}\n{self.processes()}") from None
        if result.returncode != 0:
            raise AssertionError(f"no window titled {title!r} (class {class_name!r}) appeared\n{self.processes()}")
        return Window(json.loads(result.stdout.decode("utf-8")))

    def windows(self, class_name: str | None = None, title: str | None = None) -> list[Window]:
        """Every top-level window that matches, hidden ones too (title "" matches no title)."""
        args = ["windows"]
        if class_name is not None:
            args += ["--class", class_name]
        if title is not None:
            args += ["--title", title]
        result = self.zvwin(*args)
        assert result.returncode == 0, self.zvwin_failure(result)
        return [Window(w) for w in json.loads(result.stdout.decode("utf-8"))]

    def window_absent(self, title: str, class_name: str | None = None, for_ms: int = 2000) -> bool:
        args = ["absent", "--title", title, "--for", str(for_ms)]
        if class_name:
            args += ["--class", class_name]
        return self.zvwin(*args).returncode == 0

    def press(self, title: str, button: str, class_name: str | None = None) -> None:
        self._send("press", title, class_name, "--button", button)

    @classmethod
    def zvwin_failure(cls, result: subprocess.CompletedProcess) -> str:
        """What a failed zvwin call said, with how it ended (a code without words is no refusal of
        zvwin's own, which always names what it missed) and what ran then."""
        return (f"zvwin exited with {result.returncode:#x}: {result.stderr.decode(errors='replace').strip()}\n"
                f"{cls.processes()}")

    def close(self, title: str, class_name: str | None = None) -> None:
        """WM_CLOSE, as the window would get it from the close box or the system menu."""
        self._send("close", title, class_name)

    def system_close(self, title: str, class_name: str | None = None) -> None:
        """WM_SYSCOMMAND SC_CLOSE: what clicking the caption's close box sends."""
        self._send("altf4", title, class_name)

    def alt_f4(self, title: str, class_name: str | None = None) -> None:
        """The Alt+F4 key strokes, for the window's default handling to turn into a close."""
        self._send("altf4", title, class_name, "--keys", "1")

    def key(self, title: str, vk: int, button: str | None = None, class_name: str | None = None) -> None:
        extra = ["--vk", str(vk)] + (["--button", button] if button else [])
        self._send("key", title, class_name, *extra)

    def _send(self, command: str, title: str, class_name: str | None, *extra: str) -> None:
        args = [command, "--title", title, *extra]
        if class_name:
            args += ["--class", class_name]
        result = self.zvwin(*args)
        assert result.returncode == 0, self.zvwin_failure(result)

    def screen(self, dpi: int = 96) -> dict:
        """The screen size, the stock GUI font and white brush handles (the same in every process
        of a prefix under Wine, as on Windows) and the height of the system's message font at dpi."""
        return json.loads(self.zvwin("screen", "--dpi", str(dpi)).stdout)

    def screen_size(self) -> tuple[int, int]:
        size = self.screen()
        return size["cx"], size["cy"]

    @contextlib.contextmanager
    def watch(self):
        """Journals window events of the launchers started with journal.env (see zvhook.cpp)."""
        with self.scratch("zv-journal-") as tmp:
            journal = Journal(tmp / "journal.txt")
            watcher = self.start(self.zvwin_exe, ["watch"], stdin=subprocess.PIPE)
            try:
                assert watcher.stdout.readline().strip() == b"watching"
                yield journal
            finally:
                watcher.stdin.close()
                watcher.wait(timeout=30)
                journal.keep()  # the journal stays readable after its folder is gone

    def hold_mutex(self, name: str) -> subprocess.Popen:
        """Owns a named mutex until release_held() closes the helper's stdin."""
        holder = self.start(self.zvwin_exe, ["hold-mutex", name], stdin=subprocess.PIPE)
        assert holder.stdout.readline().strip() == b"held"
        return holder

    @staticmethod
    def release_held(holder: subprocess.Popen) -> None:
        holder.stdin.close()
        assert holder.wait(timeout=30) == 0

    def temporary_files(self, pattern: str = "ZVL*.tmp") -> list[Path]:
        """Files in the prefix's user temporary folders (where the self-update downloads)."""
        users = self.prefix / "drive_c" / "users"
        return sorted(p for folder in ("AppData/Local/Temp", "Temp") for p in users.glob(f"*/{folder}/{pattern}"))

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

    def reg_exported(self, key: str, value: str) -> str | None:
        """The value's data as reg.exe exports it ("dword:00000001", "hex(b):01,00,...", "\"1\""),
        or None when it does not exist. Unlike reg query under Wine, this shows REG_QWORD data."""
        with self.scratch("zv-reg-") as tmp:
            target = tmp / "export.reg"
            if self.run("reg", ["export", key, to_windows_path(target), "/y"]).returncode != 0:
                return None
            prefix = f'"{value}"='
            for line in target.read_bytes().decode("utf-16").splitlines():
                if line.startswith(prefix):
                    return line[len(prefix):]
        return None

    def reg_set(self, key: str, value: str, kind: str, data: str) -> None:
        result = self.run("reg", ["add", key, "/v", value, "/t", kind, "/d", data, "/f"])
        assert result.returncode == 0, result.stderr

    def reg_delete_key(self, key: str) -> None:
        self.run("reg", ["delete", key, "/f"])

    def reg_delete_value(self, key: str, value: str) -> None:
        self.run("reg", ["delete", key, "/v", value, "/f"])

    # -- proxy settings ---------------------------------------------------------------------------
    @staticmethod
    def _connection_settings(version: int, flags: int, texts: list[str]) -> str:
        """Windows' binary form of proxy settings: the version, a counter, the flags (1 direct,
        2 proxy, 4 script, 8 automatic detection), then each text after its length."""
        data = struct.pack("<III", version, 0, flags)
        for text in texts:
            data += struct.pack("<I", len(text)) + text.encode("ascii")
        return (data + bytes(16)).hex()

    def set_user_proxy(self, proxy: str = "", bypass: str = "", script: str = "", auto_detect: bool = False) -> None:
        """The current user's Internet settings (Settings, or a script a school or company hands
        out) in DefaultConnectionSettings, which WinHTTP reads for the user."""
        flags = 1 | (2 if proxy else 0) | (4 if script else 0) | (8 if auto_detect else 0)
        self.reg_set(INTERNET_SETTINGS_KEY, "DefaultConnectionSettings", "REG_BINARY",
                     self._connection_settings(0x46, flags, [proxy, bypass, script]))

    def set_machine_proxy(self, proxy: str, bypass: str = "") -> None:
        """The machine's WinHTTP proxy, as `netsh winhttp set proxy` keeps it (WinHttpSettings)."""
        self.reg_set(MACHINE_INTERNET_SETTINGS_KEY, "WinHttpSettings", "REG_BINARY",
                     self._connection_settings(0x18, 2, [proxy, bypass]))

    def clear_proxies(self) -> None:
        """Neither a machine proxy nor settings of the user's: a fresh prefix."""
        self.reg_delete_value(INTERNET_SETTINGS_KEY, "DefaultConnectionSettings")
        self.reg_delete_value(MACHINE_INTERNET_SETTINGS_KEY, "WinHttpSettings")

    # -- the launcher's log -------------------------------------------------------------------------
    def log_folder(self) -> Path:
        return self.prefix / "drive_c" / "users" / "root" / "AppData" / "Local" / "Zarnovelle" / "Logs"

    def log_events(self) -> list[str]:
        """The events of the launcher's log (each line without its time and process id)."""
        log = self.log_folder() / "launcher.log"
        if not log.exists():
            return []
        return [line.split(" ", 2)[2] for line in log.read_bytes().decode("utf-8").splitlines()]


def fixture(name: str) -> Path:
    """A file built by tests/fixtures/game: Game.exe, GameCore.dll, stub-1/ZVClient.dll, ..."""
    return build_dir() / "fixtures" / "game" / name


def large_stub(folder: Path, size: int) -> Path:
    """Version 2 of the stub with zeros after its last section, so that it is size bytes long and
    still loads: a download that takes a while, which the game runs with."""
    data = fixture("stub-2/ZVClient.dll").read_bytes()
    path = folder / "ZVClient.dll"
    path.write_bytes(data + bytes(size - len(data)))
    return path


def stub_file_path(client_target: Path, stub: Path) -> str:
    """Where UpdateServer.publish_stub serves the stub."""
    return f"/stub/{build_key(client_target)}/ZVClient-{sha1_of(stub)}.dll"


@dataclass(frozen=True)
class Event:
    pid: int
    tid: int
    hwnd: int
    kind: str
    data: str
    class_name: str
    title: str


class Journal:
    """The window events of watched processes, in the order they happened."""

    def __init__(self, path: Path):
        self.path = path
        self.env = {"ZV_WATCH_LOG": to_windows_path(path)}
        self._kept: str | None = None

    def keep(self) -> None:
        self._kept = self._text()

    def _text(self) -> str:
        if self._kept is not None:
            return self._kept
        return self.path.read_text(encoding="utf-8") if self.path.exists() else ""

    def events(self, pid: int | None = None) -> list[Event]:
        events = []
        for line in self._text().splitlines():
            head, _, title = line.partition("|")
            pid_, tid, hwnd, kind, data, class_name = head.split(" ", 5)
            if pid is None or int(pid_) == pid:
                events.append(Event(int(pid_), int(tid), int(hwnd), kind, data, class_name, title))
        return events

    def window_story(self, hwnd: int) -> list[str]:
        return [e.kind for e in self.events() if e.hwnd == hwnd and e.kind in ("create", "show", "hide", "destroy")]


def write_bitmap(path: Path, width: int, height: int) -> None:
    """A bottom-up 24-bit BMP with a colour gradient."""
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for y in range(height):
        row = bytearray()
        for x in range(width):
            row += bytes(((x * 5) & 0xFF, (y * 3) & 0xFF, 0x80))
        pixels += row + bytes(stride - len(row))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    path.write_bytes(header + info + bytes(pixels))


class GameFolder:
    """A temporary game folder with the launcher copied in under its player-facing name."""

    def __init__(self, wine: Wine, root: Path, launcher_name: str = "Foo_ZV.exe", launcher_source: Path | None = None):
        self.wine = wine
        self.root = root
        self.root.mkdir(parents=True, exist_ok=True)
        self.launcher = root / launcher_name
        shutil.copyfile(launcher_source or wine.launcher_exe, self.launcher)

    @property
    def stub(self) -> Path:
        return self.root / "ZVClient.dll"

    def add(self, source: Path | bytes, name: str) -> Path:
        target = self.root / name
        target.parent.mkdir(parents=True, exist_ok=True)
        if isinstance(source, bytes):
            target.write_bytes(source)
        else:
            shutil.copyfile(source, target)
        return target

    def add_game(self, name: str = "Foo.exe") -> Path:
        """The game fixture, which imports only the client stub."""
        return self.add(fixture("Game.exe"), name)

    def add_stub(self, version: int) -> Path:
        return self.add(fixture(f"stub-{version}/ZVClient.dll"), "ZVClient.dll")

    def launch_record(self, game: Path | None = None, wait: float = 10) -> dict | None:
        """What the game recorded when it ran (command line, current directory, stub version),
        or None when it did not run within wait seconds. The launcher does not wait for the
        game, so the record may come after the launcher has ended."""
        record = (game.parent if game else self.root) / "launch-record.txt"

        def complete() -> bool:
            return record.exists() and record.read_bytes().decode("utf-16-le", "replace").endswith("\r\n")

        if not eventually(complete, timeout=wait):
            return None
        text = record.read_bytes().decode("utf-16-le")
        # The command line may hold line breaks of its own; its hexadecimal form is the exact one.
        fields = dict(line.split("=", 1) for line in text.split("\r\n") if "=" in line)
        if "command-line-hex" in fields:
            units = bytes.fromhex(fields.pop("command-line-hex"))
            fields["command-line"] = b"".join(units[i:i + 2][::-1] for i in range(0, len(units), 2)).decode(
                "utf-16-le")
        return fields

    def add_splash(self, source: Path = SPLASH_BITMAP) -> Path:
        target = self.root / "zarnovelle.bmp"
        shutil.copyfile(source, target)
        return target

    def start(self, args: list[str] | None = None, cwd: Path | None = None,
              env: dict[str, str] | None = None, windows_env: dict[str, str] | None = None) -> subprocess.Popen:
        """env goes to Wine's Unix environment; windows_env into the launcher's own environment,
        through zvwin (Wine sets TMP, TEMP and PATH from the prefix whatever the Unix side says).
        The launcher's exit code is the process's either way."""
        if windows_env:
            assignments = [f"{name}={value}" for name, value in windows_env.items()]
            return self.wine.start(self.wine.zvwin_exe,
                                   ["with-env", *assignments, "--", to_windows_path(self.launcher), *(args or [])],
                                   cwd=cwd or self.root, env=env)
        return self.wine.start(self.launcher, args, cwd=cwd or self.root, env=env)

    def run(self, args: list[str] | None = None, timeout: float = 60) -> int:
        return self.wine.run(self.launcher, args, cwd=self.root, timeout=timeout).returncode


def quote_argument(argument: str) -> str:
    """An argument as the launcher writes it into a command line: quoted only when it holds a
    blank, tab, line feed, vertical tab or double quote, with backslashes doubled before a quote."""
    if not argument or not any(c in argument for c in " \t\n\v\""):
        return argument
    out, backslashes = '"', 0
    for c in argument:
        if c == "\\":
            backslashes += 1
            continue
        out += "\\" * (backslashes * 2 + 1 if c == '"' else backslashes) + c
        backslashes = 0
    return out + "\\" * (backslashes * 2) + '"'


def forwarded_text(arguments: list[str]) -> str:
    """The launcher's forwarded-argument text for an argument list."""
    return " ".join(quote_argument(a) for a in arguments)


def wait_exit(process: subprocess.Popen, timeout: float = 60) -> int:
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        raise AssertionError("the launcher did not end in time")


FAILURE_CAPTIONS = ("Launcher Update Error", "Game Update Error")


def finish_run(wine: Wine, launcher: subprocess.Popen, on_box=None) -> tuple[int, str | None]:
    """Lets a run that is not held by the agreement end: waits until the launcher exits or shows a
    failure box, dismisses the box (after on_box(box) when given) and returns the exit code with
    the box's caption, or None when the run ended without one."""

    def failure_boxes():
        return [w for w in wine.windows(MESSAGE_BOX_CLASS) if w.title in FAILURE_CAPTIONS]

    assert eventually(lambda: launcher.poll() is not None or failure_boxes(), timeout=60)
    boxes = failure_boxes() if launcher.poll() is None else []
    if boxes:
        if on_box:
            on_box(boxes[0])
        wine.press(boxes[0].title, "OK", MESSAGE_BOX_CLASS)
    return wait_exit(launcher), boxes[0].title if boxes else None


def assert_run_goes_on(wine: Wine, launcher: subprocess.Popen) -> None:
    """After the agreement the run reaches its steps: it ends with 0, or with 1 after one of the
    steps' failure boxes (no update server answers in these tests)."""
    code, box = finish_run(wine, launcher)
    assert code == (1 if box else 0), f"exit code {code}, box {box!r}"


def eventually(predicate, timeout: float = 15, interval: float = 0.2) -> bool:
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(interval)
    return predicate()


# -- the update server ---------------------------------------------------------------------------

SERVER_DIR = REPO / "tests" / "server"


def sha1_of(path: Path) -> str:
    return hashlib.sha1(Path(path).read_bytes()).hexdigest()


def build_key(client_target: Path) -> str:
    """The stub manifest key of a game build: the SHA-1 of its ".text" raw data, read by a reader
    of the tests' own."""
    spec = importlib.util.spec_from_file_location(
        "text_section_sha1", REPO / "tests" / "fixtures" / "integrity" / "text_section_sha1.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module.text_section_sha1(Path(client_target).read_bytes())


def update_host() -> tuple[str, int]:
    """The host and port the launcher was built for (ZV_UPDATE_HOST)."""
    host = (build_dir() / "update_host.txt").read_text().strip()
    name, _, port = host.rpartition(":")
    return (name, int(port)) if name else (host, 443)


class UpdateServer:
    """The loopback HTTPS server (tests/server/zvserver.py) on the port the launcher was built for.
    Files go under root; routes change what a path answers; every request is logged."""

    def __init__(self, workdir: Path, address: str = "127.0.0.1", certs: Path | None = None):
        """address: the loopback address to listen on; certs: the folder of make_certs.sh's files
        to use, instead of making new ones."""
        self.workdir = workdir
        self.address = address
        self.certs = certs or workdir / "certs"
        self.root = workdir / "root"
        self.routes_file = workdir / "routes.json"
        self.log_file = workdir / "log.jsonl"
        self.host, self.port = update_host()
        self.process: subprocess.Popen | None = None
        if certs is None:
            subprocess.run([str(SERVER_DIR / "make_certs.sh"), str(self.certs)], check=True, capture_output=True)

    @property
    def ca_der(self) -> Path:
        return self.certs / "ca.der"

    def url(self, path: str) -> str:
        return f"https://{self.host}:{self.port}{path}"

    def start(self) -> None:
        self.root.mkdir(parents=True, exist_ok=True)
        ready = self.workdir / "ready.json"
        ready.unlink(missing_ok=True)
        self.process = subprocess.Popen(
            [sys.executable, str(SERVER_DIR / "zvserver.py"), "--root", str(self.root),
             "--cert", str(self.certs / "server.pem"), "--key", str(self.certs / "server.key"),
             "--address", self.address, "--port", str(self.port), "--routes", str(self.routes_file), "--log", str(self.log_file),
             "--ready-file", str(ready)],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if not eventually(lambda: ready.exists() or self.process.poll() is not None, timeout=15):
            raise RuntimeError("the update server did not start")
        if self.process.poll() is not None:
            raise RuntimeError(f"the update server could not listen on port {self.port}: "
                               + self.process.stderr.read().decode(errors="replace"))

    def stop(self) -> None:
        if self.process and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=10)
        self.process = None

    def reset(self) -> None:
        """No files, no routes, an empty log."""
        shutil.rmtree(self.root, ignore_errors=True)
        self.root.mkdir(parents=True)
        self.set_routes({})
        self.log_file.write_text("")

    def set_routes(self, routes: dict) -> None:
        temporary = self.routes_file.with_suffix(".tmp")
        temporary.write_text(json.dumps(routes))
        temporary.replace(self.routes_file)

    def route(self, path: str, **route) -> None:
        routes = json.loads(self.routes_file.read_text()) if self.routes_file.exists() else {}
        routes[path] = route
        self.set_routes(routes)

    def put_file(self, path: str, source: Path | bytes) -> str:
        """Serves source (a file or bytes) at path; returns its URL."""
        target = self.root / path.lstrip("/")
        target.parent.mkdir(parents=True, exist_ok=True)
        if isinstance(source, bytes):
            target.write_bytes(source)
        else:
            shutil.copyfile(source, target)
        return self.url(path)

    def put_manifest(self, path: str, manifest) -> None:
        body = manifest if isinstance(manifest, (str, bytes)) else json.dumps(manifest)
        self.put_file(path, body.encode() if isinstance(body, str) else body)

    def requests(self) -> list[str]:
        """The paths requested so far, in order."""
        if not self.log_file.exists():
            return []
        entries = [json.loads(line) for line in self.log_file.read_text().splitlines() if line]
        return [entry["path"] for entry in entries if "path" in entry]

    def request_headers(self, path: str) -> list[dict]:
        """The headers of every request for path, in order."""
        if not self.log_file.exists():
            return []
        entries = [json.loads(line) for line in self.log_file.read_text().splitlines() if line]
        return [entry["headers"] for entry in entries if entry.get("path") == path]

    def bytes_sent(self, path: str) -> int:
        """The body bytes all answers for path sent, ranges and cut answers included."""
        if not self.log_file.exists():
            return 0
        entries = [json.loads(line) for line in self.log_file.read_text().splitlines() if line]
        return sum(entry["bytes"] for entry in entries if entry.get("sent_for") == path)

    # The two kinds of manifest the launcher reads.
    def publish_launcher(self, launcher: Path, url: str | None = None) -> None:
        manifest = {"sha1": sha1_of(launcher)}
        if url is not None:
            manifest["url"] = url
        self.put_manifest("/launcher/manifest.json", manifest)

    def publish_stub(self, client_target: Path, stub: Path | None, manifest: dict | str | None = None) -> str:
        """Publishes stub for the build of client_target (the stub file under its digest) and
        returns the manifest's path. manifest replaces the generated one when given."""
        key = build_key(client_target)
        path = f"/stub/{key}/manifest.json"
        if manifest is None:
            url = self.put_file(stub_file_path(client_target, stub), stub)
            manifest = {"sha1": sha1_of(stub), "url": url}
        self.put_manifest(path, manifest)
        return path
