"""A real HTTP proxy for the end-to-end tests: Debian's squid on a free loopback port, started and
stopped by the test itself, never the machine's squid service.

Started as root, squid runs as its own unprivileged user (proxy), so its folder belongs to that
user. Its hosts file is the only name service it uses: the tests map the update host's name to an
address where only the proxy finds the server they mean.
"""

from __future__ import annotations

import os
import pwd
import shutil
import socket
import subprocess
import tempfile
import time
from pathlib import Path

SQUID = "/usr/sbin/squid"
BASIC_AUTH_HELPER = "/usr/lib/squid/basic_ncsa_auth"
SQUID_USER = "proxy"


def free_loopback_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Squid:
    """One squid; hosts maps names to addresses for it alone. With credentials_required, every
    request without a user name and password gets 407."""

    def __init__(self, hosts: dict[str, str], credentials_required: bool = False):
        self.folder = Path(tempfile.mkdtemp(prefix="zv-squid-"))
        self.port = free_loopback_port()
        self.access_log = self.folder / "access.log"
        self.process: subprocess.Popen | None = None
        (self.folder / "hosts").write_text("".join(f"{address} {name}\n" for name, address in hosts.items()))
        lines = [
            f"http_port 127.0.0.1:{self.port}",
            f"pid_filename {self.folder / 'squid.pid'}",
            f"access_log stdio:{self.access_log}",
            f"cache_log {self.folder / 'cache.log'}",
            f"coredump_dir {self.folder}",
            f"hosts_file {self.folder / 'hosts'}",
            "cache deny all",
            "shutdown_lifetime 0 seconds",
        ]
        if credentials_required:
            # A password file with one user nobody gives: every request is asked for credentials.
            (self.folder / "passwords").write_text("someone:$apr1$zv$0000000000000000000000\n")
            lines += [f"auth_param basic program {BASIC_AUTH_HELPER} {self.folder / 'passwords'}",
                      "acl known proxy_auth REQUIRED", "http_access allow known", "http_access deny all"]
        else:
            lines.append("http_access allow all")
        (self.folder / "squid.conf").write_text("\n".join(lines) + "\n")
        if os.geteuid() == 0:
            user = pwd.getpwnam(SQUID_USER)
            for path in [self.folder, *self.folder.iterdir()]:
                os.chown(path, user.pw_uid, user.pw_gid)

    @property
    def address(self) -> str:
        return f"127.0.0.1:{self.port}"

    def start(self) -> None:
        self.process = subprocess.Popen([SQUID, "-N", "-f", str(self.folder / "squid.conf")],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError("squid did not start: " + self.process.stderr.read().decode(errors="replace"))
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=1):
                    return
            except OSError:
                time.sleep(0.2)
        raise RuntimeError(f"squid did not listen on port {self.port}")

    def stop(self) -> None:
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=10)
        self.process = None

    def remove(self) -> None:
        self.stop()
        shutil.rmtree(self.folder, ignore_errors=True)

    def tunnels(self) -> list[str]:
        """The CONNECT targets in the access log, in order ("localhost:9743")."""
        if not self.access_log.exists():
            return []
        targets = []
        for line in self.access_log.read_text().splitlines():
            fields = line.split()
            if len(fields) > 6 and fields[5] == "CONNECT":
                targets.append(fields[6])
        return targets

    def statuses(self) -> list[str]:
        """The result codes in the access log ("TCP_TUNNEL/200", "TCP_DENIED/407")."""
        if not self.access_log.exists():
            return []
        return [line.split()[3] for line in self.access_log.read_text().splitlines() if len(line.split()) > 3]
