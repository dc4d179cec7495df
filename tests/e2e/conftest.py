import tempfile
from pathlib import Path

import pytest

from harness import AGREEMENT_KEY, GameFolder, UpdateServer, Wine, build_dir


def pytest_sessionstart(session):
    missing = [p for p in (build_dir() / "ZVLauncher.exe", build_dir() / "tests" / "zvwin.exe") if not p.exists()]
    if missing:
        raise pytest.UsageError(f"build the windows preset first; missing: {', '.join(map(str, missing))}")


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    """Keeps each phase's report on the test (item.report_call, ...) for fixtures to look at."""
    outcome = yield
    report = outcome.get_result()
    setattr(item, f"report_{report.when}", report)


@pytest.fixture(scope="session")
def session_dir():
    with tempfile.TemporaryDirectory(prefix="zv-e2e-") as tmp:
        yield Path(tmp)


@pytest.fixture(scope="session")
def server_session(session_dir):
    """The update server on the port the launcher was built for, with a test CA of this run."""
    server = UpdateServer(session_dir / "server")
    server.start()
    try:
        yield server
    finally:
        server.stop()


@pytest.fixture(scope="session")
def wine(session_dir, server_session):
    w = Wine(session_dir / "prefix")
    w.up(trusted_ca=server_session.ca_der)
    try:
        yield w
    finally:
        w.end_stragglers()
        w.down()


@pytest.fixture
def server(server_session):
    """The update server with no files, no routes and an empty log."""
    server_session.reset()
    return server_session


@pytest.fixture
def clean_wine(wine):
    """The shared prefix with no agreement recorded and nothing left running by earlier tests."""
    wine.end_stragglers()
    wine.reg_delete_key(AGREEMENT_KEY)
    yield wine
    wine.end_stragglers()


@pytest.fixture
def accepted_wine(clean_wine):
    """The prefix with the agreement accepted, so runs go straight to the updates."""
    clean_wine.reg_set(AGREEMENT_KEY, "EULA", "REG_DWORD", "1")
    return clean_wine


@pytest.fixture
def game(clean_wine, tmp_path):
    return GameFolder(clean_wine, tmp_path / "Game Folder")


@pytest.fixture
def ready_game(accepted_wine, server, tmp_path):
    """A game folder whose launcher is current on the server: Foo_ZV.exe beside Foo.exe (which
    imports only the stub); the agreement accepted. The stub and its manifest are the test's."""
    folder = GameFolder(accepted_wine, tmp_path / "Foo Game")
    folder.add_game("Foo.exe")
    server.publish_launcher(folder.launcher)
    return folder
