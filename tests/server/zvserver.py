#!/usr/bin/python3
"""A scriptable HTTPS file server on loopback for the launcher's tests (see README.md).

Serves the files under --root over HTTPS (and, with --plain-port, over plain HTTP), with an ETag
and a Last-Modified, answering a single byte range ("Range: bytes=N-" or "N-M", with If-Range) as
a 206 the way a CDN does. A routes file, read again on every request, changes what a path answers:
status, headers, body, how the body is framed, and faults such as a connection closed mid-body or
reset before any answer; "first": {"count": N, ...} answers the path's first N requests with other
route members. Every request is appended to a JSON-lines log, and so are the body bytes each
answer sent. Standard library only.
"""

import argparse
import base64
import email.utils
import hashlib
import http.server
import json
import mimetypes
import os
import signal
import socket
import ssl
import struct
import sys
import threading
import time
import urllib.parse
import warnings

CHUNK = 256 * 1024

TLS_VERSIONS = {
    "1.0": ssl.TLSVersion.TLSv1,
    "1.1": ssl.TLSVersion.TLSv1_1,
    "1.2": ssl.TLSVersion.TLSv1_2,
    "1.3": ssl.TLSVersion.TLSv1_3,
}


def tls_range(text):
    """"1.2" or "1.0-1.1": the lowest and highest TLS version to offer."""
    low, _, high = text.partition("-")
    high = high or low
    if low not in TLS_VERSIONS or high not in TLS_VERSIONS or TLS_VERSIONS[low] > TLS_VERSIONS[high]:
        raise argparse.ArgumentTypeError(f"not a TLS version or range of {', '.join(TLS_VERSIONS)}: {text!r}")
    return TLS_VERSIONS[low], TLS_VERSIONS[high]


def offer_only(context, versions):
    low, high = versions
    if low < ssl.TLSVersion.TLSv1_2:
        # OpenSSL's default security level refuses TLS 1.0 and 1.1 outright (their handshakes
        # depend on SHA-1); a server that offers them is what the tests want.
        context.set_ciphers("DEFAULT:@SECLEVEL=0")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        context.minimum_version = low
        context.maximum_version = high


class Config:
    def __init__(self, args):
        self.root = os.path.realpath(args.root)
        self.routes_path = args.routes
        self.log_path = args.log
        self.log_lock = threading.Lock()
        # Requests per path since the routes file was last written: routes written again (they are
        # replaced whole, by a rename) count afresh.
        self.counts = {}
        self.counted_routes = None

    def routes(self):
        if not self.routes_path:
            return {}
        try:
            with open(self.routes_path, "rb") as f:
                written = os.fstat(f.fileno())
                text = f.read()
        except FileNotFoundError:
            return {}
        with self.log_lock:
            if (written.st_ino, written.st_mtime_ns) != self.counted_routes:
                self.counted_routes = (written.st_ino, written.st_mtime_ns)
                self.counts = {}
        return json.loads(text)

    def count(self, path):
        """How many requests for path came before this one under the current routes."""
        with self.log_lock:
            seen = self.counts.get(path, 0)
            self.counts[path] = seen + 1
            return seen

    def log(self, entry):
        if not self.log_path:
            return
        line = json.dumps(entry, sort_keys=True) + "\n"
        with self.log_lock, open(self.log_path, "a", encoding="utf-8") as f:
            f.write(line)

    def local_file(self, url_path):
        """The file under root that url_path names, or None (missing, a folder, or outside root)."""
        relative = urllib.parse.unquote(url_path).lstrip("/")
        full = os.path.realpath(os.path.join(self.root, relative))
        if os.path.commonpath([full, self.root]) != self.root or not os.path.isfile(full):
            return None
        return full


class Body:
    """Response bytes from memory or from a file, read in chunks so large files never sit in memory;
    first and size select a part of them (a range)."""

    def __init__(self, data=b"", path=None):
        self.data = data
        self.path = path
        self.total = os.path.getsize(path) if path else len(data)
        self.first = 0
        self.size = self.total

    def validators(self):
        """An ETag from the content, and the file's modification time (none for bytes in memory)."""
        digest = hashlib.sha1()
        for block in self.part(0, self.total):
            digest.update(block)
        etag = '"%s"' % digest.hexdigest()[:16]
        modified = email.utils.formatdate(os.path.getmtime(self.path), usegmt=True) if self.path else None
        return etag, modified

    def select(self, first, last):
        self.first = first
        self.size = last - first + 1

    def part(self, first, size):
        if self.path is None:
            data = self.data[first : first + size]
            for start in range(0, len(data), CHUNK):
                yield data[start : start + CHUNK]
            return
        with open(self.path, "rb") as f:
            f.seek(first)
            left = size
            while left > 0 and (block := f.read(min(CHUNK, left))):
                left -= len(block)
                yield block

    def chunks(self):
        yield from self.part(self.first, self.size)


def requested_range(header, total):
    """The single range "bytes=N-" or "bytes=N-M" of a Range header, as (first, last), when it
    lies within the body; None for anything else (which is then answered whole)."""
    if not header or not header.startswith("bytes=") or "," in header:
        return None
    first, _, last = header[len("bytes="):].strip().partition("-")
    if not first.isdigit() or (last and not last.isdigit()):
        return None
    first, last = int(first), int(last) if last else total - 1
    if first >= total or last < first:
        return None
    return first, min(last, total - 1)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "zvserver/1"

    def version_string(self):
        return self.server_version

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass

    def do_GET(self):
        self.respond(send_body=True)

    def do_HEAD(self):
        self.respond(send_body=False)

    def respond(self, send_body):
        config = self.server.config
        path = urllib.parse.urlsplit(self.path).path
        config.log(
            {
                "time": time.time(),
                "method": self.command,
                "path": self.path,
                "scheme": self.server.scheme,
                "user_agent": self.headers.get("User-Agent"),
                "headers": dict(self.headers.items()),
            }
        )
        route = dict(config.routes().get(path, {}))
        first = route.pop("first", None)
        if first is not None and config.count(path) < int(first.get("count", 1)):
            route.update({name: value for name, value in first.items() if name != "count"})
        if route.get("reset"):
            self.reset_connection()
            return
        body = self.route_body(config, path, route)
        status = route.get("status", 200 if body is not None else 404)
        if body is None:
            body = Body(b"not found\n")
        extra = {}
        if status == 200 and route.get("validators", True) and "body" not in route and "body_base64" not in route:
            etag, modified = body.validators()
            extra["ETag"] = etag
            if modified:
                extra["Last-Modified"] = modified
            wanted = requested_range(self.headers.get("Range"), body.total) if route.get("ranges", True) else None
            condition = self.headers.get("If-Range")
            if wanted and (condition is None or condition in (etag, modified)):
                body.select(*wanted)
                status = 206
                extra["Content-Range"] = "bytes %d-%d/%d" % (body.first, body.first + body.size - 1, body.total)

        framing = route.get("content_length", True)
        chunked = route.get("chunked", False)
        self.send_response(status)
        self.send_header("Content-Type", mimetypes.guess_type(path)[0] or "application/octet-stream")
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        elif framing is True:
            self.send_header("Content-Length", str(body.size))
        elif framing is not False:
            self.send_header("Content-Length", str(int(framing)))
        for name, value in extra.items():
            self.send_header(name, value)
        for name, value in route.get("headers", {}).items():
            self.send_header(name, value)
        # A body without any framing ends when the connection does.
        close_delimited = framing is False and not chunked
        if close_delimited or "close_after" in route:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        if not send_body or status in (204, 304):
            return
        sent = self.send_body(body, route, chunked)
        config.log({"time": time.time(), "sent_for": path, "bytes": sent, "status": status})
        if close_delimited:
            self.close_tls_politely()

    def route_body(self, config, path, route):
        if "body" in route:
            return Body(route["body"].encode("utf-8"))
        if "body_base64" in route:
            return Body(base64.b64decode(route["body_base64"]))
        file_path = config.local_file(route.get("file", path))
        if file_path:
            return Body(path=file_path)
        return Body() if "status" in route else None

    def send_body(self, body, route, chunked):
        """Sends the body as the route says; returns the body bytes sent."""
        close_after = route.get("close_after")
        stall_after = route.get("stall_after")
        sent = 0
        blocks = body.chunks()
        if "bytes_per_second" in route:
            blocks = paced(blocks, int(route["bytes_per_second"]))
        for block in blocks:
            if stall_after is not None and sent <= stall_after < sent + len(block):
                cut = stall_after - sent
                self.write_block(block[:cut], chunked)
                sent += cut
                block = block[cut:]
                time.sleep(float(route.get("stall_seconds", 0)))
                stall_after = None
            if close_after is not None and sent + len(block) >= close_after:
                # The cut falls inside the block (and, when chunked, inside its chunk).
                part = block[: close_after - sent]
                if chunked:
                    self.wfile.write(b"%x\r\n" % len(block))
                self.wfile.write(part)
                self.drop_connection()
                return sent + len(part)
            self.write_block(block, chunked)
            sent += len(block)
        if chunked:
            self.wfile.write(b"0\r\n\r\n")
        return sent

    def write_block(self, block, chunked):
        if not block:
            return
        if chunked:
            self.wfile.write(b"%x\r\n%s\r\n" % (len(block), block))
        else:
            self.wfile.write(block)

    def reset_connection(self):
        """Resets the connection before any answer: a TCP RST, as a dropped route or an overloaded
        edge gives."""
        self.close_connection = True
        try:
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            socket.socket.close(self.connection)
        except OSError:
            pass

    def drop_connection(self):
        """Ends the connection at once, as a crashed server or a broken proxy does (no TLS close_notify)."""
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def close_tls_politely(self):
        """Sends TLS close_notify, so a body that ends with the connection ends cleanly. The
        client's own close_notify is not awaited: some clients wait for the connection to close
        first."""
        if isinstance(self.connection, ssl.SSLSocket):
            try:
                self.connection.setblocking(False)
                self.connection.unwrap()
            except (OSError, ValueError):
                pass


def paced(blocks, rate):
    """The blocks cut into twentieths of a second's worth, each sent when the rate allows: a large
    body that takes a known while to arrive."""
    piece = max(1, rate // 20)
    start = time.monotonic()
    sent = 0
    for block in blocks:
        for offset in range(0, len(block), piece):
            part = block[offset : offset + piece]
            delay = start + sent / rate - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            sent += len(part)
            yield part


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, port, config, tls_context):
        self.config = config
        self.scheme = "https" if tls_context else "http"
        super().__init__((address, port), Handler)
        if tls_context:
            # The handshake runs in the request's own thread, so one stuck client never blocks accept.
            self.socket = tls_context.wrap_socket(self.socket, server_side=True, do_handshake_on_connect=False)

    def finish_request(self, request, client_address):
        if isinstance(request, ssl.SSLSocket):
            try:
                request.settimeout(30)
                request.do_handshake()
                request.settimeout(None)
            except (OSError, ssl.SSLError):
                return  # an untrusting client hangs up here; nothing was requested
        super().finish_request(request, client_address)

    def handle_error(self, request, client_address):
        pass  # clients that hang up mid-response are part of the tests


def write_atomically(path, text):
    temporary = path + ".tmp"
    with open(temporary, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(temporary, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True, help="folder whose files are served")
    parser.add_argument("--cert", required=True, help="server certificate (PEM)")
    parser.add_argument("--key", required=True, help="its private key (PEM)")
    parser.add_argument("--address", default="127.0.0.1",
                        help="loopback address to listen on (default 127.0.0.1)")
    parser.add_argument("--port", type=int, default=0, help="HTTPS port (0: any free port)")
    parser.add_argument("--plain-port", type=int, help="also serve plain HTTP on this port (0: any free port)")
    parser.add_argument("--routes", help="JSON routes file, read again on every request")
    parser.add_argument("--log", help="request log, one JSON object a line")
    parser.add_argument("--ready-file", help="written once listening: ports and process id as JSON")
    parser.add_argument("--tls", type=tls_range, metavar="VERSIONS",
                        help="offer only these TLS versions: one (1.2) or a range (1.0-1.1); "
                             "default: what Python's ssl module offers")
    args = parser.parse_args()

    config = Config(args)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    if args.tls:
        offer_only(context, args.tls)
    servers = [Server(args.address, args.port, config, context)]
    if args.plain_port is not None:
        servers.append(Server(args.address, args.plain_port, config, None))
    # The serving threads inherit a mask without these, so the main thread alone takes them.
    stop_signals = {signal.SIGTERM, signal.SIGINT}
    signal.pthread_sigmask(signal.SIG_BLOCK, stop_signals)
    for server in servers:
        threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True).start()

    ready = {
        "https_port": servers[0].server_address[1],
        "http_port": servers[1].server_address[1] if len(servers) > 1 else None,
        "pid": os.getpid(),
    }
    if args.ready_file:
        write_atomically(args.ready_file, json.dumps(ready) + "\n")
    print(json.dumps(ready), flush=True)

    signal.sigwait(stop_signals)
    for server in servers:
        server.shutdown()
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
