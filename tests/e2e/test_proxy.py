"""The proxy end to end: the real launcher under Wine, a real squid started by the test, and the
proxy settings written where Windows keeps them (the user's DefaultConnectionSettings, the
machine's WinHttpSettings).

To show that requests pass only through the proxy, the files are served by a second update server
on 127.0.0.2, at the launcher's own port: squid's hosts file sends "localhost" there, while the
launcher itself reaches 127.0.0.1, where the session's server answers a request that went direct.
Which proxy the run chose, and why, is tabled in src/net/proxy_choice_test.cpp.
"""

import shutil

import pytest

from harness import MESSAGE_BOX_CLASS, UpdateServer, finish_run, fixture
from squid import Squid

PROXIED_ADDRESS = "127.0.0.2"


@pytest.fixture(scope="module")
def proxied_session(session_dir, server_session):
    """The update server that only the proxy reaches, with the session's certificates."""
    server = UpdateServer(session_dir / "proxied-server", address=PROXIED_ADDRESS, certs=server_session.certs)
    server.start()
    try:
        yield server
    finally:
        server.stop()


@pytest.fixture
def proxied(proxied_session):
    proxied_session.reset()
    return proxied_session


@pytest.fixture
def proxy_settings(accepted_wine):
    """The prefix with the log emptied, and without any proxy settings afterwards."""
    shutil.rmtree(accepted_wine.log_folder(), ignore_errors=True)
    yield accepted_wine
    accepted_wine.clear_proxies()


def start_squid(request, credentials_required=False, hosts=None):
    squid = Squid(hosts or {"localhost": PROXIED_ADDRESS}, credentials_required=credentials_required)
    request.addfinalizer(squid.remove)
    squid.start()
    return squid


def publish_run(game, server):
    """A current launcher, and version 2 of the stub for a game that has version 1."""
    server.publish_launcher(game.launcher)
    game.add_stub(1)
    server.publish_stub(game.root / "Foo.exe", fixture("stub-2/ZVClient.dll"))


@pytest.mark.parametrize("setting", ["user", "machine"])
def test_both_manifests_and_the_download_go_through_the_proxy_and_the_game_starts(
        request, ready_game, server, proxied, proxy_settings, setting):
    game, wine = ready_game, proxy_settings
    squid = start_squid(request)
    server.reset()  # a request that went direct finds nothing
    publish_run(game, proxied)
    if setting == "user":
        wine.set_user_proxy(proxy=squid.address)
        expected_line = f"proxy {squid.address} from the user's settings"
    else:
        # The machine's WinHTTP proxy goes first, as it always has; the user's would not answer.
        wine.set_machine_proxy(squid.address)
        wine.set_user_proxy(proxy="127.0.0.1:9")
        expected_line = f"proxy {squid.address} from the machine's WinHTTP setting"

    assert finish_run(wine, game.start()) == (0, None)
    assert game.launch_record()["stub-version"] == "2"
    assert len(proxied.requests()) == 3 and server.requests() == []
    tunnels = squid.tunnels()
    assert tunnels and set(tunnels) == {f"localhost:{server.port}"}, tunnels
    assert wine.log_events().count(expected_line) == 1, wine.log_events()


def test_a_bypassed_host_goes_direct(request, ready_game, server, proxied, proxy_settings):
    game, wine = ready_game, proxy_settings
    squid = start_squid(request)
    publish_run(game, server)
    wine.set_user_proxy(proxy=squid.address, bypass="updates.example.com;localhost")

    assert finish_run(wine, game.start()) == (0, None)
    assert game.launch_record()["stub-version"] == "2"
    assert len(server.requests()) == 3 and proxied.requests() == []
    assert squid.tunnels() == []


@pytest.mark.parametrize("case", ["proxy-stopped", "proxy-asks-for-credentials", "untrusted-certificate"])
def test_a_proxy_that_cannot_carry_the_request_ends_in_the_fetch_failed_box(
        request, ready_game, server, proxied, proxy_settings, session_dir, case):
    """Nothing goes direct instead: the session's server, which would answer, is never asked.
    Through the proxy the certificate is checked as without one. A proxy that wants credentials
    answers 407; Windows hands that status back (the log names it as the proxy asking for
    credentials), while Wine 8 reads the 407 as the start of TLS and reports error 12157, so the
    test takes either line."""
    game, wine = ready_game, proxy_settings
    squid = start_squid(request, credentials_required=case == "proxy-asks-for-credentials")
    publish_run(game, proxied)
    if case == "proxy-stopped":
        squid.stop()
    if case == "untrusted-certificate":
        proxied.stop()
        certs = session_dir / "untrusted-certs"
        certs.mkdir(exist_ok=True)
        for name in ("server.pem", "server.key"):
            shutil.copyfile(proxied.certs / f"untrusted-{name}", certs / name)
        untrusted = UpdateServer(session_dir / "untrusted-server", address=PROXIED_ADDRESS, certs=certs)
        untrusted.start()
        request.addfinalizer(proxied.start)
        request.addfinalizer(untrusted.stop)
    wine.set_user_proxy(proxy=squid.address)

    def expect_text(box):
        assert box.static_texts() == ["Failed to fetch launcher update manifest from server."]

    assert finish_run(wine, game.start(), on_box=expect_text) == (1, "Launcher Update Error")
    assert server.requests() == []
    manifest = [line for line in wine.log_events() if line.startswith(f"GET {server.url('/launcher/manifest.json')}")]
    # A proxy that does not answer is asked again, as any connection that cannot be made; a refusal
    # or a certificate is not.
    assert len(manifest) == (3 if case == "proxy-stopped" else 1), wine.log_events()
    ended = {
        "proxy-stopped": [" -> error 12029 ERROR_WINHTTP_CANNOT_CONNECT, "],
        "proxy-asks-for-credentials": [" -> HTTP 407 (the proxy asks for credentials), ",
                                       " -> error 12157 ERROR_WINHTTP_SECURE_CHANNEL_ERROR, "],
        "untrusted-certificate": [" -> error 12175 ERROR_WINHTTP_SECURE_FAILURE, ",
                                  " -> error 12157 ERROR_WINHTTP_SECURE_CHANNEL_ERROR, "],
    }[case]
    assert any(text in manifest[0] for text in ended), manifest[0]
    if case == "proxy-asks-for-credentials":
        assert "TCP_DENIED/407" in squid.statuses()
    if case == "untrusted-certificate":
        assert squid.tunnels() == [f"localhost:{server.port}"]


@pytest.mark.parametrize("script", ["answers", "cannot-be-fetched"])
def test_a_proxy_script_is_fetched_once_per_run_and_its_answer_logged(
        request, ready_game, server, proxy_settings, script):
    """Wine runs the script (WinHttpGetProxyForUrl) but ignores the proxy set on a request
    (WINHTTP_OPTION_PROXY), so under Wine the requests go direct whatever the script says: this
    test checks the script's fetching, its answer and a run that goes on, not the route the
    requests take. The proxy it names reaches the same server, so the run succeeds on Windows as
    well."""
    game, wine = ready_game, proxy_settings
    squid = start_squid(request, hosts={"localhost": "127.0.0.1"})
    publish_run(game, server)
    origin = f"https://localhost:{server.port}/"
    if script == "answers":
        server.put_file("/proxy.pac", (
            "function FindProxyForURL(url, host) {\n"
            f'  return host == "localhost" ? "PROXY {squid.address}" : "DIRECT";\n'
            "}\n").encode())
        expected_line = f"the proxy script names {squid.address} for {origin}"
    else:
        expected_line = (f"the proxy script {server.url('/proxy.pac')} cannot be fetched or run for {origin} "
                         "(error 12167 ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT): no proxy")
    wine.set_user_proxy(script=server.url("/proxy.pac"))

    assert finish_run(wine, game.start()) == (0, None)
    assert game.launch_record()["stub-version"] == "2"
    assert server.requests().count("/proxy.pac") == 1
    lines = wine.log_events()
    assert lines.count(f"proxy by the script {server.url('/proxy.pac')} from the user's settings") == 1, lines
    assert lines.count(expected_line) == 1, lines
    assert not [w for w in wine.windows(MESSAGE_BOX_CLASS)]
