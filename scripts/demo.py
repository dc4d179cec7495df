"""Runs the launcher once under Wine in a fresh sample game folder and tells what it did."""

import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))

from harness import AGREEMENT_KEY, GameFolder, Wine  # noqa: E402


def main() -> int:
    with tempfile.TemporaryDirectory(prefix="zv-demo-") as tmp:
        wine = Wine(Path(tmp) / "prefix")
        print("Setting up a private Wine prefix (about 15 seconds)...")
        wine.up()
        try:
            game = GameFolder(wine, Path(tmp) / "Foo Game")
            game.add_splash()  # the launcher reads zarnovelle.bmp from its current directory
            wine.reg_set(AGREEMENT_KEY, "EULA", "REG_DWORD", "1")
            print(f"Running {game.launcher.name} in {game.root} ...")
            code = game.run(["--demo"])
            print(f"The launcher ended with exit code {code}.")
            return 0 if code == 0 else 1
        finally:
            wine.end_stragglers()
            wine.down()


if __name__ == "__main__":
    sys.exit(main())
