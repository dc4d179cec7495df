#!/usr/bin/env python3
"""Checks that the source folders depend on each other one way only.

    check_layers.py [BUILD_DIR ...]

The layers, bottom to top (a folder may use the folders listed for it, and nothing else):

    common                       handle owners, file reading, PE records, result codes and texts
    integrity, net, ui           digests; the HTTP client; the windows
    launch                       discovery, the game launch, the launcher's own path and arguments
    update                       the manifests and the two updaters
    app                          the run, the game step, the entry

Every #include of a header from another folder of src (and from every folder of tools/zvpublish,
which may use everything below the application) is checked against that list. For each configured
build folder given, CMake's graph of the targets is checked too: a folder's library links only to
the libraries of the folders it may use. Exits with 1 and names each offending include or link.
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
    "tools/zvpublish/signing": {"common", "integrity"},
    "tools/zvpublish/tree": {"common", "integrity", "net", "update", "tools/zvpublish/signing"},
    "tools/zvpublish/commands": {"common", "integrity", "net", "launch", "update", "tools/zvpublish/tree",
                                 "tools/zvpublish/signing"},
    "tools/zvpublish": {"common", "integrity", "net", "launch", "update", "tools/zvpublish/commands",
                        "tools/zvpublish/tree", "tools/zvpublish/signing"},
}

# The libraries of the folders that are not named after them.
LIBRARIES = {
    "zv_publish": "tools/zvpublish/commands",
    "zv_publish_tree": "tools/zvpublish/tree",
    "zv_publish_signing": "tools/zvpublish/signing",
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


def library_folder(target: str) -> str | None:
    name = target.removeprefix("zv_")
    if target.startswith("zv_") and name in ALLOWED:
        return name
    return LIBRARIES.get(target)


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
    return faults


def main(argv: list[str]) -> int:
    faults = check_acyclic() + check_includes()
    for build_dir in argv[1:]:
        faults += check_links(Path(build_dir))
    for fault in faults:
        print(fault, file=sys.stderr)
    if not faults:
        print("layers: every include and link runs downward")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
