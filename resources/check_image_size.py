#!/usr/bin/env python3
"""Checks that Windows can load a built launcher.

  check_image_size.py FILE

FILE must be a PE image (MZ header, PE signature, optional header) whose
SizeOfImage is at most 0x77000000 bytes: Windows refuses to start a larger
image, whatever the payloads inside it. Anything else is an error (exit 1,
one line on stderr); a good image passes silently.

Only the headers are looked at: the file is mapped, not read, since a
launcher around a large installer archive runs to gigabytes.
"""

import mmap
import os
import struct
import sys

import pe_image

# The kernel's largest image; bigger ones fail to start with "not a valid
# Win32 application" no matter how much memory there is.
WINDOWS_IMAGE_LIMIT = 0x77000000
# SizeOfImage sits at the same offset in PE32 and PE32+ optional headers;
# the two layouts only part ways after it.
SIZE_OF_IMAGE_OFFSET = 56


def image_size_error(header):
    """What is wrong with the image whose file begins with header (bytes or a
    map of the whole file), or None if Windows can load it."""
    headers, wrong = pe_image.read_headers(header)
    if headers is None:
        return "it is not a PE image: " + wrong
    if headers.magic not in (pe_image.PE32, pe_image.PE32_PLUS):
        return "it is not a PE image: its optional header magic is 0x%04x, neither PE32 nor PE32+" % headers.magic
    size = struct.unpack_from("<I", header, headers.optional + SIZE_OF_IMAGE_OFFSET)[0]
    if size > WINDOWS_IMAGE_LIMIT:
        return "SizeOfImage is %d bytes, above the %d (0x%X) that Windows loads" % (
            size, WINDOWS_IMAGE_LIMIT, WINDOWS_IMAGE_LIMIT)
    return None


def main(argv):
    if len(argv) != 1:
        print("usage: check_image_size.py FILE", file=sys.stderr)
        return 2
    path = argv[0]
    try:
        with open(path, "rb") as f:
            if os.fstat(f.fileno()).st_size == 0:
                error = image_size_error(b"")
            else:
                with mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as data:
                    error = image_size_error(data)
    except OSError as e:
        error = "cannot read it: %s" % e.strerror
    if error:
        print("error: %s: %s" % (path, error), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
