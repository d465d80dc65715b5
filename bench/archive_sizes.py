#!/usr/bin/env python3
"""Sizes of the runtime archive of a folder, not solid and solid, with the
build's own script (resources/make_runtime.py) but without its checks, so
any runtime's files can be measured, whatever system they are for. Links
are followed.

usage: bench/archive_sizes.py FOLDER WORK_DIR
"""

import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources"))
import make_runtime  # noqa: E402


def main(folder, work):
    entries = []
    for here, folders, files in os.walk(folder, followlinks=True):
        folders.sort()
        for name in sorted(files):
            entries.append((os.path.relpath(os.path.join(here, name), folder).split(os.sep), False))
    entries.sort()
    total = sum(os.path.getsize(os.path.join(folder, *parts)) for parts, _ in entries)
    print("folder: %d bytes in %d files" % (total, len(entries)))
    sizes = {}
    for solid in (False, True):
        kind = "solid" if solid else "not solid"
        out = os.path.abspath(os.path.join(work, kind.replace(" ", "-") + ".exe"))
        staged = make_runtime.stage(folder, entries, os.path.abspath(os.path.join(work, "files")))
        script = os.path.join(work, "runtime.nsi")
        with open(script, "w", encoding="utf-8") as f:
            f.write(make_runtime.nsis_script(entries, staged, out, solid=solid))
        started = time.time()
        subprocess.run(["makensis", "-V1", "-INPUTCHARSET", "UTF8", script], check=True)
        sizes[solid] = os.path.getsize(out)
        print("%-10s %d bytes, made in %.1f s" % (kind, sizes[solid], time.time() - started))
    print("solid saves %.2f %%" % (100.0 * (1 - sizes[True] / sizes[False])))


if __name__ == "__main__":
    os.makedirs(sys.argv[2], exist_ok=True)
    main(sys.argv[1], sys.argv[2])
