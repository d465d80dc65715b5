#!/usr/bin/env python3
"""Writes a valid ZIP archive of exactly SIZE bytes: a "META-INF/" entry
first, like a jar, then one stored entry of pseudo-random bytes sized to
make up the rest.

usage: make_sized_zip.py SIZE OUTPUT
"""

import io
import random
import sys
import zipfile

STAMP = (2020, 1, 1, 0, 0, 0)


def archive(payload):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_STORED) as jar:
        jar.writestr(zipfile.ZipInfo("META-INF/", STAMP), b"")
        jar.writestr(zipfile.ZipInfo("payload.bin", STAMP), payload)
    return buffer.getvalue()


def main(size, output):
    overhead = len(archive(b""))
    if size < overhead:
        sys.exit("a ZIP of this shape needs at least %d bytes" % overhead)
    length = size - overhead
    # One pseudo-random mebibyte, repeated: big sizes stay quick to make.
    block = random.Random(size).randbytes(min(length, 1 << 20)) or b""
    payload = (block * (length // max(len(block), 1) + 1))[:length]
    data = archive(payload)
    assert len(data) == size, (len(data), size)
    with open(output, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(int(sys.argv[1]), sys.argv[2])
