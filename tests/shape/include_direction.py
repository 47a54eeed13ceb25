#!/usr/bin/env python3
"""Checks that the folders of src/ include each other only downward (docs/architecture.md).

Usage: include_direction.py SRC_DIR. Prints each include against the direction and exits 1.
"""
import pathlib
import re
import sys

# Top to bottom: a file may include its own folder and anything below it.
LAYERS = ["plugin", "panel", "pipeline", "browser", "platform"]
# The small shared base, included from anywhere; it includes only itself.
BASE = {"plugin/log.h", "plugin/settings.h", "plugin/settings_file.h", "plugin/paths.h", "plugin/text_encoding.h"}
BASE_FOLDERS = ("platform/",)
# One per platform, compiled alone into its module: only the backend itself includes its files.
BACKENDS = ("browser/chromium/", "browser/webview2/")

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')


def is_base(path):
    return path in BASE or path.startswith(BASE_FOLDERS)


def backend_of(path):
    return next((b for b in BACKENDS if path.startswith(b)), None)


def layer(path):
    return LAYERS.index(path.split("/")[0]) if path.split("/")[0] in LAYERS else None


def problem(includer, target):
    """Why `includer` may not include `target` (paths relative to src/), or None."""
    if is_base(includer):
        return None if is_base(target) else f"{includer} is in the shared base, which includes only the base"
    if backend_of(target) and backend_of(target) != backend_of(includer):
        return f"{backend_of(target)} is a backend: only its own files include it"
    if is_base(target):
        return None
    if layer(includer) is None or layer(target) is None:
        return "not in a folder of the direction: " + ", ".join(LAYERS)
    if layer(target) < layer(includer):
        return f"{LAYERS[layer(includer)]}/ may not include {LAYERS[layer(target)]}/, which is above it"
    return None


def main(src):
    src = pathlib.Path(src).resolve()
    faults = []
    for file in sorted(p for p in src.rglob("*") if p.suffix in (".cpp", ".h")):
        includer = file.relative_to(src).as_posix()
        for number, line in enumerate(file.read_text(encoding="utf-8").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            quote, name = match.groups()
            # Includes are written from src/; "../x.h" or a file's neighbour resolves the same way.
            beside = (file.parent / name).resolve()
            target = beside if quote == '"' and beside.is_file() else (src / name).resolve()
            if not target.is_file() or not target.is_relative_to(src):
                if quote == '"':
                    faults.append(f"{includer}:{number}: {line.strip()}: not a file under src/")
                continue
            why = problem(includer, target.relative_to(src).as_posix())
            if why:
                faults.append(f"{includer}:{number}: {line.strip()}: {why}")
    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} include(s) against the direction of docs/architecture.md")
    return 1 if faults else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1]))
