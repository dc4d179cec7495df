import subprocess
import sys
import tempfile
from pathlib import Path

import pytest

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "e2e"))
sys.path.insert(0, str(HERE))

from harness import SERVER_DIR, Wine, build_dir  # noqa: E402
from publishing import zvpublish_path  # noqa: E402


def pytest_sessionstart(session):
    needed = [zvpublish_path(), build_dir() / "ZVLauncher.exe", build_dir() / "tests" / "zvwin.exe",
              build_dir() / "tools" / "zvpublish" / "zvpublish.exe"]
    missing = [p for p in needed if not p.exists()]
    if missing:
        raise pytest.UsageError(f"build both presets first; missing: {', '.join(map(str, missing))}")


@pytest.fixture(scope="session")
def session_dir():
    with tempfile.TemporaryDirectory(prefix="zv-publish-") as tmp:
        yield Path(tmp)


@pytest.fixture(scope="session")
def certs(session_dir):
    """A test CA of this run and localhost's certificate from it (tests/server/make_certs.sh)."""
    folder = session_dir / "certs"
    subprocess.run([str(SERVER_DIR / "make_certs.sh"), str(folder)], check=True, capture_output=True)
    return folder


@pytest.fixture(scope="session")
def wine(session_dir, certs):
    """One private prefix that trusts the test CA."""
    w = Wine(session_dir / "prefix")
    w.up(trusted_ca=certs / "ca.der")
    try:
        yield w
    finally:
        w.end_stragglers()
        w.down()
