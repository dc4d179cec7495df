#!/usr/bin/env python3
"""Checks that the source folders depend on each other one way only.

    check_layers.py [BUILD_DIR ...]     check the code, the builds' links and the documents
    check_layers.py --picture           print the picture of the layers drawn from the rule

The rule is ALLOWED below: a folder may use the folders listed for it, and nothing else. Every
#include of a header from another folder of src (and of each folder of tools/zvpublish) is checked
against it. For each configured build folder given, CMake's graph of the targets is checked too: a
folder's library links only to the libraries of the folders it may use.

Inside tools/zvpublish the files are layered too: a file and the files of its own name (NAME.h,
NAME.cpp, NAME_windows.cpp, NAME_posix.cpp) count as one, and no chain of includes among them leads
from one back to itself, so that each file's includes run to files below it.

The builds' programs and the product's libraries never link a test library (zv_test_*, whose
headers, in tests/support, are for the tests and the test tools only).

The documents draw the same rule and nothing else: the picture between the "layers" markers in
docs/developers.md is the one --picture prints, and the Floor column of README.md's folder table
gives each folder of src its floor from the rule (a folder uses only floors below its own). Exits
with 1 and names each offending include, link or line.
"""

from __future__ import annotations

import re
import subprocess
import sys
import tempfile
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]

ALLOWED: dict[str, set[str]] = {
    "common": set(),
    "integrity": {"common"},
    "net": {"common"},
    "ui": {"common"},
    "launch": {"common"},
    "update": {"common", "integrity", "net", "launch"},
    "app": {"common", "integrity", "net", "ui", "launch", "update"},
    # zvpublish's folders, named from tools/ in includes ("zvpublish/tree/..."), layered the same way;
    # its entries and the tests' shared helpers sit on top of them.
    "tools/zvpublish/pe": {"common"},
    "tools/zvpublish/signing": {"common", "integrity"},
    "tools/zvpublish/tree": {"common", "integrity", "net", "update", "tools/zvpublish/signing"},
    "tools/zvpublish/commands": {"common", "integrity", "net", "launch", "update", "tools/zvpublish/tree",
                                 "tools/zvpublish/signing", "tools/zvpublish/pe"},
    "tools/zvpublish": {"common", "integrity", "net", "launch", "update", "tools/zvpublish/commands",
                        "tools/zvpublish/tree", "tools/zvpublish/signing", "tools/zvpublish/pe"},
}

# The libraries of the folders that are not named after them.
LIBRARIES = {
    "zv_publish": "tools/zvpublish/commands",
    "zv_publish_tree": "tools/zvpublish/tree",
    "zv_publish_signing": "tools/zvpublish/signing",
    "zv_publish_pe": "tools/zvpublish/pe",
}

# "update/..." names a folder of src, "zvpublish/tree/..." one of tools.
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z]+)/(?:([a-z0-9_]+)/)?', re.MULTILINE)


def check_acyclic() -> list[str]:
    """The list itself must not contain a circle."""
    faults, state = [], {}

    def visit(node: str, path: list[str]) -> None:
        if state.get(node) == "done":
            return
        if state.get(node) == "open":
            faults.append("the layer list has a circle: " + " -> ".join(path + [node]))
            return
        state[node] = "open"
        for dep in sorted(ALLOWED.get(node, ())):
            visit(dep, path + [node])
        state[node] = "done"

    for node in ALLOWED:
        visit(node, [])
    return faults


def check_includes() -> list[str]:
    faults = []
    src_folders = {p.name for p in (REPO / "src").iterdir() if p.is_dir()}
    tool_folders = {f"tools/{p.parent.name}/{p.name}" for p in (REPO / "tools").glob("*/*")
                    if p.is_dir() and f"tools/{p.parent.name}" in ALLOWED}
    for folder in ALLOWED:
        root = REPO / "src" / folder if folder in src_folders else REPO / folder
        for path in sorted(root.rglob("*")):
            if path.suffix not in (".h", ".cpp") or not path.is_file():
                continue
            # A file belongs to the innermost folder of the list that holds it.
            if any(other != folder and other.startswith(folder + "/") and
                   path.is_relative_to(REPO / other) for other in ALLOWED):
                continue
            for match in INCLUDE.finditer(path.read_text(encoding="utf-8", errors="replace")):
                target, included = match.group(1), match.group(1)
                if match.group(2) and f"tools/{target}/{match.group(2)}" in tool_folders:
                    target, included = f"tools/{target}/{match.group(2)}", f"{target}/{match.group(2)}"
                elif target not in src_folders:
                    continue
                if target == folder or target in ALLOWED[folder]:
                    continue
                line = path.read_text(encoding="utf-8", errors="replace")[: match.start()].count("\n") + 1
                faults.append(f"{path.relative_to(REPO)}:{line}: {folder} includes {included}/, "
                              f"which it may not use (may use: {', '.join(sorted(ALLOWED[folder])) or 'nothing'})")
    unknown = src_folders - set(ALLOWED)
    faults += [f"src/{name}: a folder that is in no layer" for name in sorted(unknown)]
    faults += [f"{name}: a folder that is in no layer" for name in sorted(tool_folders - set(ALLOWED))]
    return faults


# The tree whose files are layered among themselves, and the includes that name its files.
FILE_ORDER_ROOT = "tools/zvpublish"
QUOTED_INCLUDE = re.compile(r'^\s*#\s*include\s+"(zvpublish/[^"]+)"', re.MULTILINE)


def file_unit(path: Path) -> str:
    """What a file counts as in the order of files: its path without the extension and without the
    platform's suffix, so that a header and all its implementations are one."""
    stem = path.relative_to(REPO).with_suffix("").as_posix()
    for suffix in ("_windows", "_posix"):
        stem = stem.removesuffix(suffix)
    return stem


def check_file_order() -> list[str]:
    """No include among the files of FILE_ORDER_ROOT runs back up: the includes between its units
    (file_unit) form no circle."""
    uses: dict[str, dict[str, tuple[Path, int, str]]] = {}
    for path in sorted((REPO / FILE_ORDER_ROOT).rglob("*")):
        if path.suffix not in (".h", ".cpp") or not path.is_file():
            continue
        text = path.read_text(encoding="utf-8", errors="replace")
        for match in QUOTED_INCLUDE.finditer(text):
            target = REPO / "tools" / match.group(1)
            if not target.is_file() or file_unit(target) == file_unit(path):
                continue
            line = text[: match.start()].count("\n") + 1
            uses.setdefault(file_unit(path), {}).setdefault(file_unit(target), (path, line, match.group(1)))
    faults, state = [], {}

    def visit(unit: str, chain: list[str]) -> None:
        if state.get(unit) == "done":
            return
        if state.get(unit) == "open":
            circle = chain[chain.index(unit):] + [unit]
            path, line, included = uses[circle[-2]][unit]
            names = " -> ".join(name.removeprefix("tools/") for name in circle)
            faults.append(f"{path.relative_to(REPO)}:{line}: includes {included}, which leads back here "
                          f"({names}): a file includes one above it")
            return
        state[unit] = "open"
        for used in sorted(uses.get(unit, ())):
            visit(used, chain + [unit])
        state[unit] = "done"

    for unit in sorted(uses):
        visit(unit, [])
    return faults


def floors() -> dict[str, int]:
    """Each folder's floor: 0 for a folder that uses nothing, else one above the highest it uses."""
    memo: dict[str, int] = {}

    def floor(node: str) -> int:
        if node not in memo:
            memo[node] = 1 + max((floor(dep) for dep in ALLOWED[node]), default=-1)
        return memo[node]

    for node in ALLOWED:
        floor(node)
    return memo


# What each folder holds, for the picture.
ROLES = {
    "common": "handle owners, text, the process's path and arguments, PE reading, result codes",
    "integrity": "digests: SHA-1, SHA-256, P-256 signatures",
    "net": "the HTTP client behind the Transfer interface, retries, the proxy",
    "ui": "the UI thread, the splash and its bar, the agreement window",
    "launch": "discovery of the client target and the game, the game's start",
    "update": "manifests, signatures, the tree's layout, the two updaters, staging and probation",
    "app": "the composition root, the run's order, the game step, the guard, the agreement",
    "tools/zvpublish/pe": "what the publishing tool reads from PE files: kind, version, resources",
    "tools/zvpublish/signing": "the publishing tool's keys and signatures",
    "tools/zvpublish/tree": "the published tree: its files, manifests and contents",
    "tools/zvpublish/commands": "the publishing tool's commands and command line",
    "tools/zvpublish": "the publishing tool's entry",
}


def picture() -> str:
    """The layers, top floor first: each folder, what it holds, and what it may use."""
    levels = floors()

    def shown(folder: str) -> str:
        return folder.removeprefix("tools/")

    lines = []
    for level in sorted(set(levels.values()), reverse=True):
        lines.append(f"floor {level}")
        for folder in sorted((f for f in ALLOWED if levels[f] == level), key=shown):
            lines.append(f"  {shown(folder):<20} {ROLES[folder]}")
            uses = [shown(f) for f in sorted(ALLOWED[folder], key=lambda f: (-levels[f], shown(f)))] or ["nothing"]
            line = f"  {'':<20}   uses"
            for i, name in enumerate(uses):
                word = f" {name}" + ("," if i < len(uses) - 1 else "")
                if len(line) + len(word) > 100:
                    lines.append(line)
                    line = f"  {'':<20}       "
                line += word
            lines.append(line)
    return "\n".join(lines)


PICTURE_BLOCK = re.compile(r"<!-- layers -->\n```\n(.*?)```\n<!-- /layers -->", re.DOTALL)
README_ROW = re.compile(r"^\| `src/([a-z]+)` \| (\d+) \|", re.MULTILINE)


def check_documents() -> list[str]:
    faults = []
    guide = (REPO / "docs" / "developers.md").read_text(encoding="utf-8")
    match = PICTURE_BLOCK.search(guide)
    if not match:
        faults.append("docs/developers.md: no picture between <!-- layers --> and <!-- /layers -->")
    elif match.group(1).rstrip("\n") != picture():
        faults.append("docs/developers.md: the picture of the layers is not the rule's; "
                      "put in what `check_layers.py --picture` prints")
    readme = (REPO / "README.md").read_text(encoding="utf-8")
    levels = floors()
    seen = set()
    for folder, level in README_ROW.findall(readme):
        seen.add(folder)
        if folder not in levels:
            faults.append(f"README.md: src/{folder} is in no layer")
        elif int(level) != levels[folder]:
            faults.append(f"README.md: src/{folder} is on floor {levels[folder]}, not {level}")
    src_folders = {p.name for p in (REPO / "src").iterdir() if p.is_dir()}
    faults += [f"README.md: the folder table has no floor for src/{name}" for name in sorted(src_folders - seen)]
    return faults


def library_folder(target: str) -> str | None:
    name = target.removeprefix("zv_")
    if target.startswith("zv_") and name in ALLOWED:
        return name
    return LIBRARIES.get(target)


# The programs built from the layers' libraries, which must not reach test code either.
PRODUCT_PROGRAMS = {"ZVLauncher", "zvpublish"}


def check_links(build_dir: Path) -> list[str]:
    with tempfile.TemporaryDirectory() as tmp:
        dot = Path(tmp) / "targets.dot"
        result = subprocess.run(["cmake", f"--graphviz={dot}", str(build_dir)], capture_output=True, text=True)
        if result.returncode != 0 or not dot.exists():
            return [f"{build_dir}: cmake could not describe the targets:\n{result.stderr}"]
        text = dot.read_text()
    names = dict(re.findall(r'"(node\d+)"\s*\[\s*label\s*=\s*"([^"]+)"', text))
    faults = []
    for source, target in re.findall(r'"(node\d+)"\s*->\s*"(node\d+)"', text):
        a, b = library_folder(names.get(source, "")), library_folder(names.get(target, ""))
        if a and b and a != b and b not in ALLOWED[a]:
            faults.append(f"{build_dir.name}: {names[source]} links to {names[target]}, which {a} may not use")
        if (a or names.get(source) in PRODUCT_PROGRAMS) and names.get(target, "").startswith("zv_test"):
            faults.append(f"{build_dir.name}: {names[source]} links to the test library {names[target]}")
    return faults


def main(argv: list[str]) -> int:
    if argv[1:] == ["--picture"]:
        print(picture())
        return 0
    faults = check_acyclic() + check_includes() + check_file_order() + check_documents()
    for build_dir in argv[1:]:
        faults += check_links(Path(build_dir))
    for fault in faults:
        print(fault, file=sys.stderr)
    if not faults:
        print(f"layers: every include and link runs downward, and every include among the files of "
              f"{FILE_ORDER_ROOT} too")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
