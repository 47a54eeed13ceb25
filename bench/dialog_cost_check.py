#!/usr/bin/env python3
"""A test, not a measurement: what a page dialog of 8 MB costs the main thread against a
one-line one, in instructions counted by callgrind (which the machine's load does not change).
Showing it (its texts bounded on arrival, laid out once, drawn) and answering it (a click beside
its button, a key, Enter) may each cost at most twice as much. Exits 77, skipped, without
valgrind.

  dialog_cost_check.py PATH-OF-dialog_cost_probe"""

import os
import shutil
import subprocess
import sys
import tempfile

HUGE = 8 << 20
MOST = 2.0


def instructions(probe, step, size, folder):
    out = os.path.join(folder, f"{step}-{size}.out")
    subprocess.run(["valgrind", "-q", "--tool=callgrind", "--collect-atstart=no", "--toggle-collect=" + step,
                    "--callgrind-out-file=" + out, probe, str(size)], check=True, timeout=900)
    with open(out) as f:
        for line in f:
            if line.startswith(("summary:", "totals:")):
                return int(line.split()[1])
    raise RuntimeError("no totals in " + out)


def main():
    if shutil.which("valgrind") is None:
        print("valgrind is not installed: skipped")
        return 77
    failed = False
    with tempfile.TemporaryDirectory() as folder:
        for step in ("showDialog", "answerDialog"):
            one, huge = (instructions(sys.argv[1], step, size, folder) for size in (0, HUGE))
            print(f"{step}: {one} instructions with one line, {huge} with 8 MiB ({huge / one:.2f} times)")
            failed = failed or huge > MOST * one
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
