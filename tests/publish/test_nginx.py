"""A tree published with zvpublish, served by nginx from Debian with the configuration shipped in
deploy/nginx, over TLS on the loopback port the launcher was built for; and the real launcher
under Wine updating from it.

This module needs that port to itself: run it apart from tests/e2e, whose session holds the
same port for its own server (scripts/test.sh runs the two one after the other)."""

import http.client
import ssl

import pytest

from harness import AGREEMENT_KEY, GameFolder, build_key, fixture, sha1_of, update_host
from publishing import Nginx, zvpublish

HOST, PORT = update_host()


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


def fetch(certs, method: str, path: str):
    context = ssl.create_default_context(cafile=str(certs / "ca.pem"))
    connection = http.client.HTTPSConnection(HOST, PORT, context=context, timeout=30)
    try:
        connection.request(method, path)
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
    cases = [
        # method, path, status, content type, cache lifetime, body
        ("GET", manifest_path, 200, "application/json", SHORT, manifest),
        ("HEAD", manifest_path, 200, "application/json", SHORT, b""),
        ("GET", stub_path, 200, "application/octet-stream", LONG, stub.read_bytes()),
        ("GET", f"/stub/{key}/", 404, None, None, None),
        ("GET", "/stub/", 404, None, None, None),
        ("GET", "/", 404, None, None, None),
        ("GET", f"/stub/{key}/.manifest.json.123.tmp", 404, None, None, None),
        ("GET", f"/stub/{'0' * 40}/manifest.json", 404, None, None, None),
        ("POST", manifest_path, 405, None, None, None),
        ("PUT", stub_path, 405, None, None, None),
    ]
    for method, path, status, content_type, cache, body in cases:
        got_status, headers, got_body = fetch(certs, method, path)
        what = f"{method} {path}"
        assert got_status == status, what
        if content_type:
            assert headers["Content-Type"] == content_type, what
            assert headers["Cache-Control"] == cache, what
            assert got_body == body, what
        else:
            assert b"Index of" not in got_body, what


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
