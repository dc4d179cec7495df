"""A flaky network end to end: the test server resets connections, answers 503 with Retry-After,
cuts downloads, ignores ranges and stalls, and the real launcher under Wine tries again with growing
waits, resumes what was cut with a ranged request, gives up a silent server within its bounds, and
ends with the usual box once its attempts are used up. The schedule and the resume decisions are
tabled natively (src/net/retry_test.cpp, src/net/transfer_rules_test.cpp,
src/update/staging_test.cpp); the client's ranged requests under Wine in
src/net/http_client_test.cpp."""

import hashlib
import json
import time

import pytest

from harness import (MESSAGE_BOX_CLASS, WINDOW_CLASS, eventually, finish_run, fixture, large_stub, sha1_of,
                     stub_file_path, wait_exit)

LAUNCHER_MANIFEST = "/launcher/manifest.json"
LAUNCHER_DOWNLOAD = "/launcher/next.exe"
LAUNCHER_ERROR = "Launcher Update Error"
GAME_ERROR = "Game Update Error"


def request_times(server, path) -> list[float]:
    entries = [json.loads(line) for line in server.log_file.read_text().splitlines() if line]
    return [entry["time"] for entry in entries if entry.get("path") == path]


class Flaky:
    """A game folder whose launcher and stub are both out of date: a run downloads a newer launcher
    (the same program with bytes appended) and a 2 MB stub, unless a case publishes otherwise."""

    def __init__(self, game, server, tmp_path):
        self.game, self.server = game, server
        # The log says what this test's runs did, and nothing earlier.
        for log in game.wine.log_folder().glob("launcher*.log"):
            log.unlink()
        game.add_stub(1)
        self.newer = game.launcher.read_bytes() + b"\0newer build\0" * 4096
        url = server.put_file(LAUNCHER_DOWNLOAD, self.newer)
        server.put_manifest(LAUNCHER_MANIFEST, {"sha1": hashlib.sha1(self.newer).hexdigest(), "url": url})
        self.stub = large_stub(tmp_path, 2_000_000)
        self.stub_manifest = server.publish_stub(game.root / "Foo.exe", self.stub)
        self.stub_download = stub_file_path(game.root / "Foo.exe", self.stub)

    def publish_current_launcher(self):
        self.server.publish_launcher(self.game.launcher)

    def expect_updated(self, process):
        assert wait_exit(process) == 0
        record = self.game.launch_record(wait=30)
        assert record is not None, f"the game did not start: {self.game.wine.log_events()}"
        assert self.game.stub.read_bytes() == self.stub.read_bytes()
        assert self.game.launcher.read_bytes() == self.newer
        assert eventually(lambda: not self.leftovers(), timeout=15), self.leftovers()

    def leftovers(self):
        return [p.name for p in self.game.root.iterdir() if p.suffix in (".new", ".previous", ".partial", ".resume")]


@pytest.fixture
def flaky(ready_game, server, tmp_path):
    return Flaky(ready_game, server, tmp_path)


def test_one_reset_on_every_manifest_and_download_costs_the_run_nothing(flaky, server):
    for path in (LAUNCHER_MANIFEST, LAUNCHER_DOWNLOAD, flaky.stub_manifest, flaky.stub_download):
        server.route(path, first={"count": 1, "reset": True})
    flaky.expect_updated(flaky.game.start())
    requests = server.requests()
    for path in (LAUNCHER_DOWNLOAD, flaky.stub_manifest, flaky.stub_download):
        assert requests.count(path) == 2, (path, requests)
    # The old launcher's two, and the new launcher's own check.
    assert requests.count(LAUNCHER_MANIFEST) == 3
    events = flaky.game.wine.log_events()
    retries = [e for e in events if e.startswith("attempt 2 of 3 at ")]
    assert len(retries) == 4, events


def test_a_503_with_retry_after_is_waited_for(flaky, server):
    flaky.publish_current_launcher()
    server.route(LAUNCHER_MANIFEST, file=LAUNCHER_MANIFEST,
                 first={"count": 1, "status": 503, "headers": {"Retry-After": "1"}})
    flaky.game.add_splash()
    process = flaky.game.start()
    assert wait_exit(process) == 0
    first, second = request_times(server, LAUNCHER_MANIFEST)
    assert second - first >= 1.0, "the wait the server asked for is honoured"
    assert second - first < 3.0


def test_the_bar_shows_that_the_run_waits(flaky, server):
    flaky.publish_current_launcher()
    server.route(flaky.stub_manifest, file=flaky.stub_manifest,
                 first={"count": 1, "status": 503, "headers": {"Retry-After": "4"}})
    game, wine = flaky.game, flaky.game.wine
    game.add_splash()
    process = game.start()
    bars = []

    def waiting_bar():
        for splash in wine.windows(WINDOW_CLASS, ""):
            if bar := splash.progress_bar():
                bars.append(bar)
        return any(bar.get("marquee") for bar in bars)

    assert eventually(waiting_bar, timeout=30, interval=0.1), bars
    assert wait_exit(process) == 0


SINGLE_ANSWERS = [
    # (name, the route of the launcher manifest, the box's text)
    ("Retry-After beyond 10 s gives up at once", {"status": 503, "headers": {"Retry-After": "120"}},
     "Failed to fetch launcher update manifest from server."),
    ("a 404 is the server's word", {"status": 404}, "Failed to fetch launcher update manifest from server."),
    ("a 403 likewise", {"status": 403}, "Failed to fetch launcher update manifest from server."),
    ("an answer that is no manifest", {"body": "<html>a captive portal</html>"},
     "Failed to fetch launcher update manifest from server."),
]


@pytest.mark.parametrize("name,route,text", SINGLE_ANSWERS, ids=[c[0] for c in SINGLE_ANSWERS])
def test_what_is_not_worth_another_attempt_is_asked_once(flaky, server, name, route, text):
    server.route(LAUNCHER_MANIFEST, **route)
    started = time.monotonic()
    code, caption = finish_run(flaky.game.wine, flaky.game.start())
    assert (code, caption) == (1, LAUNCHER_ERROR)
    assert server.requests().count(LAUNCHER_MANIFEST) == 1
    assert time.monotonic() - started < 30


def test_three_failures_end_with_the_usual_box_within_the_runs_bound(flaky, server):
    server.route(LAUNCHER_MANIFEST, status=503)
    started = time.monotonic()
    texts = []
    code, caption = finish_run(flaky.game.wine, flaky.game.start(),
                               on_box=lambda box: texts.extend(box.static_texts()))
    assert (code, caption, texts) == (1, LAUNCHER_ERROR, ["Failed to fetch launcher update manifest from server."])
    times = request_times(server, LAUNCHER_MANIFEST)
    assert len(times) == 3
    # The waits, and a request's own time under Wine on a shared machine.
    assert 0.5 <= times[1] - times[0] < 1.5, "about half a second, and at most a quarter more"
    assert 2.0 <= times[2] - times[1] < 3.5, "about two seconds, and at most a quarter more"
    assert time.monotonic() - started < 40


CUTS = [
    # (name, the download's route, bytes the server sends in all, whether the second answer is a 206)
    ("a download cut at 60 % is resumed", {}, 2_000_000, True),
    ("a server that ignores Range starts over", {"ranges": False}, 3_200_000, False),
]


@pytest.mark.parametrize("name,route,sent,ranged", CUTS, ids=[c[0] for c in CUTS])
def test_a_cut_download_is_resumed_or_started_over(flaky, server, name, route, sent, ranged):
    flaky.publish_current_launcher()
    server.route(flaky.stub_download, file=flaky.stub_download, **route,
                 first={"count": 1, "close_after": 1_200_000})
    process = flaky.game.start()
    assert wait_exit(process) == 0
    assert flaky.game.stub.read_bytes() == flaky.stub.read_bytes()
    assert flaky.game.launch_record(wait=30)["stub-version"] == "2"
    headers = server.request_headers(flaky.stub_download)
    assert len(headers) == 2
    assert headers[1].get("Range") == "bytes=1200000-", "the second request asks for the rest"
    assert headers[1].get("If-Range"), "of the same answer"
    assert server.bytes_sent(flaky.stub_download) == sent
    events = flaky.game.wine.log_events()
    assert any("attempt 2 of 3 at " in e and "ERROR_WINHTTP_CONNECTION_ERROR" in e for e in events), events
    assert any("(resumed from byte 1200000)" in e for e in events) == ranged, events
    assert not flaky.leftovers()


def test_a_server_that_says_nothing_is_given_up_within_the_bound_and_asked_again(flaky, server):
    flaky.publish_current_launcher()
    server.route(flaky.stub_manifest, file=flaky.stub_manifest,
                 first={"count": 1, "stall_after": 0, "stall_seconds": 40})
    process = flaky.game.start()
    assert wait_exit(process, timeout=90) == 0
    first, second = request_times(server, flaky.stub_manifest)
    # No byte for 15 s gives the attempt up; the next comes about half a second later.
    assert 15.0 <= second - first < 20.0, second - first
    assert flaky.game.launch_record(wait=30) is not None


def test_a_run_ended_mid_download_is_resumed_by_the_next_run(flaky, server):
    flaky.publish_current_launcher()
    server.route(flaky.stub_download, file=flaky.stub_download, bytes_per_second=200_000)
    game = flaky.game
    staging = game.root / "ZVClient.dll.partial"
    process = game.start()
    assert eventually(lambda: staging.exists() and staging.stat().st_size > 400_000, timeout=30)
    process.kill()
    process.wait(timeout=10)
    held = staging.stat().st_size
    assert (game.root / "ZVClient.dll.partial.resume").exists(), "what identifies it lies beside it"
    assert game.stub.read_bytes() == fixture("stub-1/ZVClient.dll").read_bytes()

    server.set_routes({})
    assert wait_exit(game.start()) == 0
    assert game.stub.read_bytes() == flaky.stub.read_bytes()
    headers = server.request_headers(flaky.stub_download)
    assert headers[-1].get("Range") == f"bytes={held}-", "the next run asked for the rest"
    assert not flaky.leftovers()
