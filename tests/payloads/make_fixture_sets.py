#!/usr/bin/env python3
"""Generates the payload fixtures of the tests, never committed:

  OUT/sets.rc            resource script of the odd chunk sets that the
                         payload tests carry in their own image
  OUT/chunks/*.bin       the chunk files it names
  OUT/expected/SET.bin   what extracting each set must give
  OUT/three-chunk.jar    input for the three-chunk launcher build

Chunk bytes are pseudo-random but fixed, and every chunk starts with
CR, LF, NUL and Ctrl-Z so that any text-mode translation shows.

usage: make_fixture_sets.py OUT
"""

import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "resources"))
import payload_chunks  # noqa: E402


def data(seed, size):
    rng = random.Random(seed)
    prefix = b"\r\n\x00\x1a"
    return (prefix + bytes(rng.getrandbits(8) for _ in range(size)))[:size]


def main(out):
    chunk_dir = os.path.join(out, "chunks")
    expected_dir = os.path.join(out, "expected")
    os.makedirs(chunk_dir, exist_ok=True)
    os.makedirs(expected_dir, exist_ok=True)

    # name -> ({index: bytes}, type)
    sets = {
        "THREE": ({1: data(1, 1000), 2: data(8, 1000), 3: data(9, 333)}, "JAR"),
        "ONE": ({1: data(2, 517)}, "JAR"),
        "GAP": ({1: data(3, 300), 2: data(4, 301), 4: data(5, 302)}, "JAR"),
        "NOFIRST": ({2: data(6, 100)}, "JAR"),
        "SIXTYSEVEN": ({k: data(100 + k, 10 + k) for k in range(1, 68)}, "JAR"),
    }

    lines = [payload_chunks.rc_header()]
    for base, (chunks, type_name) in sets.items():
        for index, chunk in sorted(chunks.items()):
            name = "%s_%d" % (base, index)
            path = os.path.abspath(os.path.join(chunk_dir, name + ".bin"))
            with open(path, "wb") as f:
                f.write(chunk)
            lines.append(payload_chunks.rc_line(name, type_name, path))
        joined = b""
        index = 1
        while index in chunks:
            joined += chunks[index]
            index += 1
        with open(os.path.join(expected_dir, base + ".bin"), "wb") as f:
            f.write(joined)

    with open(os.path.join(out, "sets.rc"), "w", encoding="utf-8") as f:
        f.write("".join(lines))
    with open(os.path.join(out, "three-chunk.jar"), "wb") as f:
        f.write(data(7, 2500))


if __name__ == "__main__":
    main(sys.argv[1])
