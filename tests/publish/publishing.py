"""The operator's side for tests and the demo: the zvpublish tool, and nginx serving a published
tree over TLS on loopback with the configuration shipped in deploy/nginx.

nginx runs as a plain child process from a configuration generated in a folder of its own
(`nginx -p DIR -c nginx.conf -g "daemon off;"`): no system service, no file outside that folder.
"""

from __future__ import annotations

import json
import os
import pwd
import shutil
import socket
import subprocess
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
DEPLOY = REPO / "deploy" / "nginx"
SITE_CONF = DEPLOY / "zarnovelle-updates.conf"
TREE_CONF = DEPLOY / "zarnovelle-tree.conf"


def native_build_dir() -> Path:
    return Path(os.environ.get("ZV_NATIVE_BUILD_DIR", REPO / "build" / "native")).resolve()


def zvpublish_path() -> Path:
    return native_build_dir() / "tools" / "zvpublish" / "zvpublish"


def zvpublish(*args: str | Path, check: bool = True) -> subprocess.CompletedProcess:
    """Runs the native zvpublish; with check, a failure raises with its standard error."""
    result = subprocess.run([str(zvpublish_path()), *map(str, args)], capture_output=True, text=True, timeout=120)
    if check and result.returncode != 0:
        raise AssertionError(f"zvpublish {' '.join(map(str, args))} failed ({result.returncode}):\n{result.stderr}")
    return result


def port_is_free(port: int) -> bool:
    """True when nothing listens on 127.0.0.1:port. Connections of an earlier server that are
    still closing (TIME_WAIT) do not count: nginx binds with SO_REUSEADDR, and so does the probe."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            probe.bind(("127.0.0.1", port))
        except OSError:
            return False
    return True


def render_site(tree: Path, certs: Path, port: int, access_log: Path) -> str:
    """The shipped site configuration with the operator's values set for a loopback test. Every
    line replaced must be in the shipped file exactly once, so the test follows the file."""
    text = SITE_CONF.read_text()
    replacements = {
        "    listen 443 ssl;\n": f"    listen 127.0.0.1:{port} ssl;\n",
        "    listen [::]:443 ssl;\n": "",
        "    server_name updates.example.com;\n": "    server_name localhost;\n",
        "    ssl_certificate /etc/ssl/zarnovelle/fullchain.pem;\n": f"    ssl_certificate {certs / 'server.pem'};\n",
        "    ssl_certificate_key /etc/ssl/zarnovelle/privkey.pem;\n":
            f"    ssl_certificate_key {certs / 'server.key'};\n",
        "    root /srv/zarnovelle/tree;\n": f"    root {tree};\n",
        "    access_log /var/log/nginx/zarnovelle-updates.access.log;\n": f"    access_log {access_log} zv_json;\n",
        "    include /etc/nginx/snippets/zarnovelle-tree.conf;\n": f"    include {TREE_CONF};\n",
    }
    for line, replacement in replacements.items():
        if text.count(line) != 1:
            raise AssertionError(f"{SITE_CONF} no longer has exactly one line {line.strip()!r}")
        text = text.replace(line, replacement)
    return text


class Nginx:
    """nginx from Debian serving tree over HTTPS on 127.0.0.1:port with the shipped configuration."""

    def __init__(self, workdir: Path, tree: Path, certs: Path, port: int, limit_rate: str | None = None):
        """limit_rate: nginx's limit_rate for every answer (a slow connection), as nginx writes it."""
        self.workdir = workdir
        self.tree = tree
        self.certs = certs
        self.port = port
        self.limit_rate = limit_rate
        self.access_log = workdir / "access.log"
        self.error_log = workdir / "error.log"
        self.process: subprocess.Popen | None = None

    def _write_config(self) -> Path:
        for sub in ("tmp", "logs"):
            (self.workdir / sub).mkdir(parents=True, exist_ok=True)
        (self.workdir / "site.conf").write_text(render_site(self.tree, self.certs, self.port, self.access_log))
        # Started by root, nginx runs its workers as another user; here they run as whoever runs
        # the test, so that they can read its private temporary folders.
        user = f"user {pwd.getpwuid(os.geteuid()).pw_name};" if os.geteuid() == 0 else ""
        temp = self.workdir / "tmp"
        conf = self.workdir / "nginx.conf"
        conf.write_text(f"""
{user}
worker_processes 1;
error_log {self.error_log} warn;
pid {self.workdir / 'nginx.pid'};
events {{ worker_connections 64; }}
http {{
    client_body_temp_path {temp}/body;
    proxy_temp_path {temp}/proxy;
    fastcgi_temp_path {temp}/fastcgi;
    uwsgi_temp_path {temp}/uwsgi;
    scgi_temp_path {temp}/scgi;
    log_format zv_json escape=json
        '{{"method":"$request_method","uri":"$request_uri","status":$status,'
        '"bytes":$body_bytes_sent,"agent":"$http_user_agent","range":"$http_range"}}';
    sendfile on;
    {f"limit_rate {self.limit_rate};" if self.limit_rate else ""}
    include {self.workdir / 'site.conf'};
}}
""")
        return conf

    def start(self) -> None:
        if not shutil.which("nginx"):
            raise RuntimeError("nginx is not installed (scripts/install-deps.sh installs it)")
        if not port_is_free(self.port):
            raise RuntimeError(f"port {self.port} on 127.0.0.1 is in use by another program; the launcher was "
                               "built for it (ZV_UPDATE_HOST), so nginx must listen there")
        conf = self._write_config()
        # -e: not even the start-up messages go to the system's log folder.
        command = ["nginx", "-p", str(self.workdir), "-e", str(self.error_log), "-c", str(conf)]
        check = subprocess.run([*command, "-t"], capture_output=True, text=True)
        if check.returncode != 0:
            raise RuntimeError(f"nginx refuses the configuration:\n{check.stderr}")
        self.access_log.write_text("")
        self.process = subprocess.Popen([*command, "-g", "daemon off;"], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE)
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError("nginx ended at once: " + self.process.stderr.read().decode(errors="replace"))
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=1):
                    return
            except OSError:
                time.sleep(0.1)
        self.stop()
        raise RuntimeError(f"nginx did not listen on port {self.port}")

    def stop(self) -> None:
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=10)
        self.process = None

    def requests(self) -> list[dict]:
        """Every request served so far, in order: method, uri, status, bytes, agent. nginx writes a
        request's line once the response is sent, so a client that has its answer finds it."""
        if not self.access_log.exists():
            return []
        return [json.loads(line) for line in self.access_log.read_text().splitlines() if line.strip()]

    def __enter__(self) -> "Nginx":
        self.start()
        return self

    def __exit__(self, *exc) -> None:
        self.stop()
