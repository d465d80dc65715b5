#!/usr/bin/env python3
"""Writes an executable jar of exactly SIZE bytes: a stored
META-INF/MANIFEST.MF naming the Main-Class Main first, then Main.class (a
class for Java 8 whose main returns at once, so java -jar starts the jar and
the installer check finds the class), then one stored entry "payload.bin" of
pseudo-random bytes sized to make up the rest.

The archive is plain ZIP, never ZIP64: the installer check takes ZIP64 too,
but a plain ZIP has a fixed overhead, so any SIZE from the smallest up to
4294967295 comes out exact. It is written as it goes, never held in memory.
With --sparse the payload is zeros left as a hole in the file: an archive of
gigabytes then costs next to no disk, where the file system has holes.

usage: make_sized_zip.py [--sparse] SIZE OUTPUT
"""

import argparse
import os
import random
import struct
import sys
import zlib

BLOCK = 1 << 20
DOS_TIME = 0  # 00:00:00
DOS_DATE = (2020 - 1980) << 9 | 1 << 5 | 1  # 2020-01-01
VERSION = 20  # 2.0: stored entries
MADE_BY = 3 << 8 | VERSION  # on Unix, so unzip keeps the modes below
MANIFEST = b"META-INF/MANIFEST.MF"
MANIFEST_TEXT = b"Manifest-Version: 1.0\r\nMain-Class: Main\r\nCreated-By: make_sized_zip.py\r\n\r\n"
PAYLOAD = b"payload.bin"
CLASS = b"Main.class"
FILE_ATTRIBUTES = 0o100644 << 16


def main_class():
    """The smallest class file java -jar starts: public class Main, major
    version 52 (Java 8), whose static main(String[]) only returns. Written
    out here so making a jar needs no JDK."""
    def utf8(text):
        return b"\x01" + struct.pack(">H", len(text)) + text

    # 1 Main, 3 java/lang/Object (classes naming 2 and 4), 5-7 main's name,
    # descriptor and the Code attribute's name.
    pool = [b"\x07\x00\x02", utf8(b"Main"), b"\x07\x00\x04", utf8(b"java/lang/Object"), utf8(b"main"),
            utf8(b"([Ljava/lang/String;)V"), utf8(b"Code")]
    # max_stack 0, max_locals 1 (the arguments), one instruction: return.
    code = struct.pack(">HHI", 0, 1, 1) + b"\xb1" + struct.pack(">HH", 0, 0)
    method = struct.pack(">HHHHHI", 0x0009, 5, 6, 1, 7, len(code)) + code
    return (b"\xca\xfe\xba\xbe" + struct.pack(">HHH", 0, 52, len(pool) + 1) + b"".join(pool) +
            struct.pack(">HHHHHH", 0x0021, 1, 3, 0, 0, 1) + method + struct.pack(">H", 0))


CLASS_BYTES = main_class()
# Each name is in a local header (30 bytes) and a central one (46 bytes); the
# manifest's text and the class are stored once; the end record takes 22.
OVERHEAD = (3 * (30 + 46) + 2 * (len(MANIFEST) + len(CLASS) + len(PAYLOAD)) + len(MANIFEST_TEXT) + len(CLASS_BYTES)
            + 22)
# Every size and offset field is 32 bits; 0xFFFFFFFF in one would mean "see
# the ZIP64 record", but the payload's size and the directory's offset stay
# below the file size, so a file of this size is still plain ZIP.
LARGEST = 0xFFFFFFFF


def local_header(name, crc, size):
    return struct.pack("<IHHHHHIIIHH", 0x04034B50, VERSION, 0, 0, DOS_TIME, DOS_DATE,
                       crc, size, size, len(name), 0) + name


def central_header(name, crc, size, offset):
    return struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, MADE_BY, VERSION, 0, 0, DOS_TIME, DOS_DATE,
                       crc, size, size, len(name), 0, 0, 0, 0, FILE_ATTRIBUTES, offset) + name


def blocks(block, length):
    """The payload: block repeated, cut at length."""
    while length > 0:
        piece = block[:length]
        yield piece
        length -= len(piece)


def write(size, output, sparse=False):
    if size < OVERHEAD:
        sys.exit("a jar of this shape (manifest, Main.class and payload.bin) needs at least %d bytes" % OVERHEAD)
    if size > LARGEST:
        sys.exit("a ZIP without ZIP64 holds at most %d bytes" % LARGEST)
    length = size - OVERHEAD
    if sparse:
        block = bytes(min(length, BLOCK))
    else:
        # One pseudo-random mebibyte, repeated: big sizes stay quick to make.
        block = random.Random(size).randbytes(min(length, BLOCK))
    # The CRC goes in front of the data, so it is worked out first.
    crc = 0
    for piece in blocks(block, length):
        crc = zlib.crc32(piece, crc)

    manifest_crc = zlib.crc32(MANIFEST_TEXT)
    manifest = local_header(MANIFEST, manifest_crc, len(MANIFEST_TEXT)) + MANIFEST_TEXT
    class_crc = zlib.crc32(CLASS_BYTES)
    main = local_header(CLASS, class_crc, len(CLASS_BYTES)) + CLASS_BYTES
    payload = local_header(PAYLOAD, crc, length)
    directory = (central_header(MANIFEST, manifest_crc, len(MANIFEST_TEXT), 0) +
                 central_header(CLASS, class_crc, len(CLASS_BYTES), len(manifest)) +
                 central_header(PAYLOAD, crc, length, len(manifest) + len(main)))
    directory_offset = len(manifest) + len(main) + len(payload) + length
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 3, 3, len(directory), directory_offset, 0)
    with open(output, "wb") as f:
        f.write(manifest + main + payload)
        if sparse:
            f.seek(length, os.SEEK_CUR)
        else:
            for piece in blocks(block, length):
                f.write(piece)
        f.write(directory + end)
        assert f.tell() == size, (f.tell(), size)


def main(argv):
    parser = argparse.ArgumentParser(description="Writes an executable jar of exactly SIZE bytes.")
    parser.add_argument("--sparse", action="store_true", help="leave the payload as a hole of zeros")
    parser.add_argument("size", metavar="SIZE", type=int)
    parser.add_argument("output", metavar="OUTPUT")
    args = parser.parse_args(argv)
    write(args.size, args.output, args.sparse)


if __name__ == "__main__":
    main(sys.argv[1:])
