"""A tree published with zvpublish, served by nginx from Debian with the configuration shipped in
deploy/nginx, over TLS on the loopback port the launcher was built for; and the real launcher
under Wine updating from it.

This module needs that port to itself: run it apart from tests/e2e, whose session holds the
same port for its own server (scripts/test.sh runs the two one after the other)."""

import http.client
import socket
import ssl

import pytest

from harness import (AGREEMENT_KEY, MESSAGE_BOX_CLASS, GameFolder, build_key, eventually, fixture, large_stub,
                     sha1_of, signed_build_dir, signing_key_file, update_host, wait_exit)
from publishing import Nginx, zvpublish

HOST, PORT = update_host()
UPDATE_HOST = f"{HOST}:{PORT}"


@pytest.fixture
def tree(tmp_path):
    """The launcher and the game fixture's stub 2, published as an operator would."""
    tree = tmp_path / "tree"
    base = f"https://{HOST}:{PORT}/"
    zvpublish("stub", "--target", fixture("Game.exe"), "--stub", fixture("stub-2/ZVClient.dll"),
              "--base-url", base, "--out", tree)
    return tree


@pytest.fixture
def nginx(tmp_path, tree, certs):
    with Nginx(tmp_path / "nginx", tree, certs, PORT) as server:
        yield server


def fetch(certs, method: str, path: str, headers: dict | None = None):
    context = ssl.create_default_context(cafile=str(certs / "ca.pem"))
    connection = http.client.HTTPSConnection(HOST, PORT, context=context, timeout=30)
    try:
        connection.request(method, path, headers=headers or {})
        response = connection.getresponse()
        return response.status, dict(response.getheaders()), response.read()
    finally:
        connection.close()


def test_the_shipped_configuration_serves_the_tree_as_published(tree, nginx, certs):
    key = build_key(fixture("Game.exe"))
    stub = fixture("stub-2/ZVClient.dll")
    stub_path = f"/stub/{key}/ZVClient-{sha1_of(stub)}.dll"
    manifest_path = f"/stub/{key}/manifest.json"
    (tree / "stub" / key / ".manifest.json.123.tmp").write_text("{")
    manifest = (tree / "stub" / key / "manifest.json").read_bytes()

    SHORT = "public, max-age=60"
    LONG = "public, max-age=31536000, immutable"
    # A 404 that a CDN or proxy kept would go on hiding a manifest published after it.
    NO_STORE = "no-store"
    cases = [
        # method, path, status, content type, cache lifetime, body
        ("GET", manifest_path, 200, "application/json", SHORT, manifest),
        ("HEAD", manifest_path, 200, "application/json", SHORT, b""),
        ("GET", stub_path, 200, "application/octet-stream", LONG, stub.read_bytes()),
        ("GET", f"/stub/{key}/", 404, None, NO_STORE, None),
        ("GET", "/stub/", 404, None, NO_STORE, None),
        ("GET", "/", 404, None, NO_STORE, None),
        ("GET", f"/stub/{key}/.manifest.json.123.tmp", 404, None, NO_STORE, None),
        ("GET", f"/stub/{'0' * 40}/manifest.json", 404, None, NO_STORE, None),
        ("GET", f"/stub/{key}/ZVClient-{'0' * 40}.dll", 404, None, NO_STORE, None),
        ("HEAD", "/launcher/manifest.json", 404, None, NO_STORE, None),
        ("POST", manifest_path, 405, None, None, None),
        ("PUT", stub_path, 405, None, None, None),
    ]
    for method, path, status, content_type, cache, body in cases:
        got_status, headers, got_body = fetch(certs, method, path)
        what = f"{method} {path}"
        assert got_status == status, what
        # No version of the server in any answer.
        assert headers["Server"] == "nginx", what
        if cache:
            assert headers.get("Cache-Control") == cache, what
        if content_type:
            assert headers["Content-Type"] == content_type, what
            assert got_body == body, what
        else:
            assert b"Index of" not in got_body and b"nginx/" not in got_body, what


def test_nothing_is_served_through_a_link_in_the_tree(tmp_path, tree, nginx, certs):
    """A link planted in the tree (to a file, or a build folder elsewhere) serves nothing."""
    key = build_key(fixture("Game.exe"))
    outside = tmp_path / "outside"
    outside.mkdir()
    (outside / "secret.json").write_text('{"secret": true}')
    (outside / "manifest.json").write_bytes((tree / "stub" / key / "manifest.json").read_bytes())
    (tree / "stub" / key / f"ZVClient-{'1' * 40}.dll").symlink_to(outside / "secret.json")
    (tree / "stub" / ("a" * 40)).symlink_to(outside, target_is_directory=True)
    for path in (f"/stub/{key}/ZVClient-{'1' * 40}.dll", f"/stub/{'a' * 40}/manifest.json"):
        status, headers, body = fetch(certs, "GET", path)
        assert status in (403, 404), path
        assert b"secret" not in body and b'"sha1"' not in body, path


def tls12_handshake(certs, cipher: str) -> str | None:
    """The cipher suite a TLS 1.2 handshake that offers only cipher settles on, or None when the
    server refuses it."""
    context = ssl.create_default_context(cafile=str(certs / "ca.pem"))
    context.minimum_version = context.maximum_version = ssl.TLSVersion.TLSv1_2
    context.set_ciphers(cipher)
    try:
        with socket.create_connection((HOST, PORT), timeout=10) as raw:
            with context.wrap_socket(raw, server_hostname=HOST) as tls:
                return tls.cipher()[0]
    except ssl.SSLError:
        return None


@pytest.mark.parametrize("cipher,accepted", [
    ("ECDHE-RSA-AES128-GCM-SHA256", True),
    ("ECDHE-RSA-AES256-GCM-SHA384", True),
    ("ECDHE-RSA-CHACHA20-POLY1305", True),
    ("AES128-SHA256", False),           # no forward secrecy
    ("AES256-GCM-SHA384", False),       # no forward secrecy, though AEAD
    ("ECDHE-RSA-AES128-SHA", False),    # forward secrecy, but CBC with a MAC
    ("ECDHE-RSA-AES256-SHA384", False),
])
def test_tls12_takes_only_suites_with_forward_secrecy_and_aead(nginx, certs, cipher, accepted):
    assert tls12_handshake(certs, cipher) == (cipher if accepted else None)


def test_the_launcher_updates_its_stub_from_nginx_and_starts_the_game(tmp_path, tree, certs, wine):
    wine.reg_set(AGREEMENT_KEY, "EULA", "REG_DWORD", "1")
    game = GameFolder(wine, tmp_path / "Foo Game")
    game.add_game("Foo.exe")
    game.add_stub(1)
    zvpublish("launcher", "--file", game.launcher, "--base-url", f"https://{HOST}:{PORT}/", "--out", tree)
    assert zvpublish("verify", tree).returncode == 0
    key = build_key(game.root / "Foo.exe")
    stub = fixture("stub-2/ZVClient.dll")
    manifests = ["/launcher/manifest.json", f"/stub/{key}/manifest.json"]

    with Nginx(tmp_path / "nginx", tree, certs, PORT) as nginx:
        # First run: stub 1 is out of date; stub 2 is downloaded, verified and used.
        assert game.run(["--first"]) == 0
        record = game.launch_record()
        assert record is not None, "the game did not start"
        assert record["stub-version"] == "2"
        assert record["command-line"].endswith(" --first --zarnovelle-launcher")
        assert sha1_of(game.stub) == sha1_of(stub)
        first = [(r["method"], r["uri"], r["status"]) for r in nginx.requests()]
        assert first == [("GET", u, 200) for u in manifests + [f"/stub/{key}/ZVClient-{sha1_of(stub)}.dll"]]
        assert {r["agent"] for r in nginx.requests()} == {"Zarnovelle HTTP Client/1.0"}

        # Second run: everything is current; only the two manifests are fetched.
        (game.root / "launch-record.txt").unlink()
        assert game.run(["--second"]) == 0
        assert game.launch_record()["command-line"].endswith(" --second --zarnovelle-launcher")
        second = [(r["method"], r["uri"], r["status"]) for r in nginx.requests()][len(first):]
        assert second == [("GET", u, 200) for u in manifests]


def test_the_signed_launcher_updates_from_nginx_and_obeys_a_withdrawal(tmp_path, certs, wine):
    """The launcher built with the test keys (the windows-signed preset) against a tree that
    zvpublish signed with signing-1 for the host the launcher is built for: it installs stub 2 from
    its signed manifest, and once the build is withdrawn it removes the game's program and says so.
    refresh renews the withdrawal's signature, which the launcher takes as well."""
    launcher = signed_build_dir() / "ZVLauncher.exe"
    if not launcher.exists():
        pytest.fail(f"build the windows-signed preset first; missing: {launcher}")
    wine.reg_set(AGREEMENT_KEY, "EULA", "REG_DWORD", "1")
    game = GameFolder(wine, tmp_path / "Signed Game", launcher_source=launcher)
    program = game.add_game("Foo.exe")
    game.add_stub(1)
    tree = tmp_path / "tree"
    signing = ["--signing-key", signing_key_file("signing-1"), "--update-host", UPDATE_HOST, "--expires-in", "30"]
    base = f"https://{HOST}:{PORT}/"
    zvpublish("stub", "--target", program, "--stub", fixture("stub-2/ZVClient.dll"), "--base-url", base, "--out", tree,
              *signing)
    zvpublish("launcher", "--file", game.launcher, "--base-url", base, "--out", tree, *signing)
    public_keys = signing_key_file("signing-1").with_name("update-keys.pem")
    verified = zvpublish("verify", tree, "--base-url", base, "--public-keys", public_keys, "--update-host", UPDATE_HOST)
    assert verified.stdout.endswith(": every manifest is good and signed\n")
    key = build_key(program)

    with Nginx(tmp_path / "nginx", tree, certs, PORT) as nginx:
        assert game.run(["--signed"]) == 0
        record = game.launch_record()
        assert record is not None, "the game did not start"
        assert record["stub-version"] == "2"
        assert sha1_of(game.stub) == sha1_of(fixture("stub-2/ZVClient.dll"))

        withdrawn = zvpublish("withdraw", "--target", program, "--out", tree, *signing[:4])
        assert "(replaced, signed withdrawal)\nversion    2.0.0.1\n" in withdrawn.stdout
        zvpublish("refresh", tree, *signing)
        process = game.start()
        caption = "Game Update Error"
        box = wine.find_window(caption, MESSAGE_BOX_CLASS)
        assert box.static_texts() == ["This game version is no longer supported. Please update or repair the game."]
        wine.press(caption, "OK", MESSAGE_BOX_CLASS)
        assert wait_exit(process) == 1
        assert not program.exists()
        requested = [(r["uri"], r["status"]) for r in nginx.requests()]
        assert requested[-2:] == [("/launcher/manifest.json", 200), (f"/stub/{key}/manifest.json", 200)]


def test_the_shipped_configuration_answers_the_ranges_a_resumed_download_asks_for(tree, nginx, certs):
    """What the launcher asks of a server or CDN to resume a download: a 206 with the rest of the
    same file for "Range: bytes=N-" with an If-Range naming its ETag, and the whole file once the
    ETag is another."""
    key = build_key(fixture("Game.exe"))
    stub = fixture("stub-2/ZVClient.dll").read_bytes()
    path = f"/stub/{key}/ZVClient-{sha1_of(fixture('stub-2/ZVClient.dll'))}.dll"
    status, headers, body = fetch(certs, "GET", path)
    assert status == 200 and body == stub
    etag = headers["ETag"]
    assert headers.get("Accept-Ranges") == "bytes"
    status, headers, body = fetch(certs, "GET", path, {"Range": "bytes=1000-", "If-Range": etag})
    assert status == 206
    assert headers["Content-Range"] == f"bytes 1000-{len(stub) - 1}/{len(stub)}"
    assert body == stub[1000:]
    status, _, body = fetch(certs, "GET", path, {"Range": "bytes=1000-", "If-Range": '"another-answer"'})
    assert (status, body) == (200, stub)


def test_a_run_ended_during_a_download_from_nginx_is_resumed_by_the_next_run(tmp_path, certs, wine):
    wine.reg_set(AGREEMENT_KEY, "EULA", "REG_DWORD", "1")
    game = GameFolder(wine, tmp_path / "Foo Game")
    program = game.add_game("Foo.exe")
    game.add_stub(1)
    stub = large_stub(tmp_path, 3_000_000)
    tree = tmp_path / "tree"
    base = f"https://{HOST}:{PORT}/"
    zvpublish("stub", "--target", program, "--stub", stub, "--base-url", base, "--out", tree)
    zvpublish("launcher", "--file", game.launcher, "--base-url", base, "--out", tree)
    staging = game.root / "ZVClient.dll.partial"
    download = f"/stub/{build_key(program)}/ZVClient-{sha1_of(stub)}.dll"

    with Nginx(tmp_path / "slow", tree, certs, PORT, limit_rate="300k") as nginx:
        process = game.start()
        assert eventually(lambda: staging.exists() and staging.stat().st_size > 300_000, timeout=60)
        process.kill()
        process.wait(timeout=10)
    held = staging.stat().st_size
    with Nginx(tmp_path / "nginx", tree, certs, PORT) as nginx:
        assert wait_exit(game.start()) == 0
        assert game.launch_record(wait=30) is not None
        served = [r for r in nginx.requests() if r["uri"] == download]
    assert [(r["status"], r["range"], r["bytes"]) for r in served] == [(206, f"bytes={held}-", len(stub.read_bytes()) - held)]
    assert game.stub.read_bytes() == stub.read_bytes()
    assert not staging.exists()
