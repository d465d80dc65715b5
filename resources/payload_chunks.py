#!/usr/bin/env python3
"""Cuts payload files into numbered resource chunks and writes the resource
script lines that carry them.

Each payload is cut into pieces of exactly --chunk-size bytes; only the last
piece is shorter, and it holds at least one byte. The pieces are written to
--out-dir as <BASE>_<index>.bin (index from 1) and named in the resource
script as resource <BASE>_<index> of string type <TYPE>, language 1033.

usage: payload_chunks.py --out-dir DIR --rc FILE [--chunk-size N]
                         --payload BASE TYPE FILE [--payload ...]
"""

import argparse
import os
import sys

CHUNK_SIZE = 8 * 1024 * 1024


def rc_header():
    return "// Generated at build time; do not edit.\nLANGUAGE 0x09, 0x01\n"


def rc_line(name, type_name, path):
    return '%s %s "%s"\n' % (name, type_name, path.replace("\\", "/"))


def write_chunks(base, type_name, source, chunk_size, out_dir):
    """Cuts the open file `source` into chunk files, one chunk in memory at a
    time, dropping stale ones of the same base name; returns their resource
    script lines (none for an empty file)."""
    prefix = base + "_"
    for old in os.listdir(out_dir):
        if old.startswith(prefix) and old.endswith(".bin"):
            os.remove(os.path.join(out_dir, old))
    lines = []
    index = 0
    while True:
        chunk = source.read(chunk_size)
        if not chunk:
            return lines
        index += 1
        name = "%s_%d" % (base, index)
        path = os.path.abspath(os.path.join(out_dir, name + ".bin"))
        with open(path, "wb") as f:
            f.write(chunk)
        lines.append(rc_line(name, type_name, path))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out-dir", required=True)
    parser.add_argument("--rc", required=True)
    parser.add_argument("--chunk-size", type=int, default=CHUNK_SIZE)
    parser.add_argument("--payload", nargs=3, action="append", default=[],
                        metavar=("BASE", "TYPE", "FILE"))
    args = parser.parse_args(argv)

    os.makedirs(args.out_dir, exist_ok=True)
    text = rc_header()
    if args.chunk_size <= 0:
        sys.exit("the chunk size must be positive")
    for base, type_name, path in args.payload:
        try:
            with open(path, "rb") as source:
                lines = write_chunks(base, type_name, source, args.chunk_size, args.out_dir)
        except OSError as error:
            sys.exit("payload %s: cannot read %s: %s" % (base, path, error.strerror))
        if not lines:
            sys.exit("payload %s: %s is empty; a payload needs at least one byte" % (base, path))
        text += "".join(lines)

    with open(args.rc, "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main(sys.argv[1:])
