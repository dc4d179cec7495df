import tempfile
from pathlib import Path

import pytest

from harness import AGREEMENT_KEY, GameFolder, Wine, build_dir


def pytest_sessionstart(session):
    missing = [p for p in (build_dir() / "ZVLauncher.exe", build_dir() / "tests" / "zvwin.exe") if not p.exists()]
    if missing:
        raise pytest.UsageError(f"build the windows preset first; missing: {', '.join(map(str, missing))}")


@pytest.fixture(scope="session")
def wine():
    with tempfile.TemporaryDirectory(prefix="zv-e2e-") as tmp:
        w = Wine(Path(tmp) / "prefix")
        w.up()
        try:
            yield w
        finally:
            w.end_stragglers()
            w.down()


@pytest.fixture
def clean_wine(wine):
    """The shared prefix with no agreement recorded and nothing left running by earlier tests."""
    wine.end_stragglers()
    wine.reg_delete_key(AGREEMENT_KEY)
    yield wine
    wine.end_stragglers()


@pytest.fixture
def game(clean_wine, tmp_path):
    return GameFolder(clean_wine, tmp_path / "Game Folder")
