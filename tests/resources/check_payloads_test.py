#!/usr/bin/env python3
"""The build-time checks of the payload inputs and of the built launcher's
size, on small files made here from the real demo payloads, on crafted PE
headers, and on archives of gigabytes that are mostly holes.

usage: check_payloads_test.py DEMO_RUNTIME DEMO_INSTALLER LAUNCHER_64
"""

import contextlib
import io
import mmap
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "resources"))
import check_image_size  # noqa: E402
import check_payloads  # noqa: E402

MAKE_SIZED_ZIP = os.path.join(HERE, "..", "payloads", "make_sized_zip.py")
CHECK_IMAGE_SIZE = os.path.join(HERE, "..", "..", "resources", "check_image_size.py")

# Windows' largest image, and what is left of it for the two archives once
# the launcher's own 16 MiB are set aside.
WINDOWS_LIMIT = 0x77000000
PAYLOAD_LIMIT = WINDOWS_LIMIT - 16 * 1024 * 1024

RUNTIME = INSTALLER = INSTALLER_EXE = LAUNCHER_PATH = None


def seven_zip(body=b"packed"):
    """A 7z start header whose end header finishes exactly at the end."""
    next_header = b"\x01\x04\x06\x00"
    return (check_payloads.SEVEN_ZIP + b"\x00\x04" + b"\x00" * 4 +
            struct.pack("<QQ", len(body), len(next_header)) + b"\x00" * 4 + body + next_header)


def zip_bytes(comment=b""):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        archive.writestr("META-INF/", b"")
        archive.writestr("a.txt", b"hello")
        archive.comment = comment
    return buffer.getvalue()


class RuntimeArchive(unittest.TestCase):
    def test_cases(self):
        cases = [
            # tag, data, error expected, warning fragments expected
            ("console i386 program with a 7z archive", RUNTIME + seven_zip(), False, []),
            ("no archive after the program", RUNTIME, False, ["no 7z archive"]),
            ("archive that does not end with the file", RUNTIME + seven_zip() + b"x", False,
             ["does not end with the file"]),
            ("64-bit windowed program", INSTALLER_EXE, False, ["not a 32-bit", "not a console"]),
            ("a jar", INSTALLER, True, []),
            ("empty", b"", True, []),
            ("MZ without PE", b"MZ" + b"\x00" * 100, True, []),
        ]
        for tag, data, error, warnings in cases:
            with self.subTest(tag):
                errors, given = check_payloads.check_runtime(data)
                self.assertEqual(bool(errors), error, errors)
                for fragment in warnings:
                    self.assertTrue(any(fragment in text for text in given), given)
                if not warnings:
                    self.assertEqual(given, [])


class InstallerArchive(unittest.TestCase):
    def test_cases(self):
        good = zip_bytes()
        cases = [
            ("demo installer", INSTALLER, None),
            ("small zip", good, None),
            ("zip with a comment", zip_bytes(b"built by hand"), "comment"),
            ("trailing byte", good + b"\x00", "not an end-of-central-directory"),
            ("bytes in front", b"\x00" * 10 + good, "plus 22"),
            ("two archives joined", good + good, "plus 22"),
            ("cut short", good[:-1], "not an end-of-central-directory"),
            ("empty", b"", "too short"),
            ("a program", RUNTIME, "not an end-of-central-directory"),
        ]
        for tag, data, fragment in cases:
            with self.subTest(tag):
                errors = check_payloads.check_installer(data)
                if fragment is None:
                    self.assertEqual(errors, [])
                else:
                    self.assertEqual(len(errors), 1, errors)
                    self.assertIn(fragment, errors[0])


def run_main(module, argv):
    """(exit status, stderr) of module.main(argv)."""
    err = io.StringIO()
    with contextlib.redirect_stderr(err):
        status = module.main(argv)
    return status, err.getvalue()


def make_sized_zip(size, path, sparse=False):
    return subprocess.run([sys.executable, MAKE_SIZED_ZIP] + (["--sparse"] if sparse else []) + [str(size), path],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True)


def disk_used(path):
    return os.stat(path).st_blocks * 512


def holes_missing(folder):
    """Why sparse files cannot be made in folder, or None if they can."""
    if not hasattr(os.stat_result, "st_blocks"):
        return "this system does not report the disk a file takes (no st_blocks)"
    probe = os.path.join(folder, "probe")
    with open(probe, "wb") as f:
        f.truncate(64 << 20)
    used = disk_used(probe)
    os.remove(probe)
    if used >= 1 << 20:
        return "this file system keeps no holes: a 64 MiB sparse file took %d bytes of disk" % used
    return None


def crc_of_zeros(length):
    zeros = memoryview(bytes(4 << 20))
    crc = 0
    while length:
        piece = min(length, len(zeros))
        crc = zlib.crc32(zeros[:piece], crc)
        length -= piece
    return crc


class CombinedSize(unittest.TestCase):
    """Runtime plus installer must leave room in an image Windows loads."""

    def test_cases(self):
        with tempfile.TemporaryDirectory() as folder:
            no_holes = holes_missing(folder)
            runtime = os.path.join(folder, "runtime.exe")
            with open(runtime, "wb") as f:
                f.write(RUNTIME)
            # The demo runtime padded with a hole to leave the installer 1000 bytes.
            big_runtime = os.path.join(folder, "big-runtime.exe")
            with open(big_runtime, "wb") as f:
                f.write(RUNTIME)
                f.truncate(PAYLOAD_LIMIT - 1000)
            fits = PAYLOAD_LIMIT - len(RUNTIME)
            runtime_setting = ("BRACKENHUE_RUNTIME_ARCHIVE", runtime)
            cases = [
                # tag, runtime (setting, file) or None, installer setting, installer size, refused
                ("demo runtime, installer that just fits", runtime_setting,
                 "BRACKENHUE_INSTALLER_ARCHIVE", fits, False),
                ("demo runtime, installer a byte too large", runtime_setting,
                 "BRACKENHUE_INSTALLER_ARCHIVE", fits + 1, True),
                ("the settings named as given", ("MY_RUNTIME", runtime), "MY_INSTALLER", fits + 1, True),
                ("runtime that takes the room, installer that just fits",
                 ("BRACKENHUE_RUNTIME_ARCHIVE", big_runtime), "BRACKENHUE_INSTALLER_ARCHIVE", 1000, False),
                ("runtime that takes the room, installer a byte too large",
                 ("BRACKENHUE_RUNTIME_ARCHIVE", big_runtime), "BRACKENHUE_INSTALLER_ARCHIVE", 1001, True),
                ("installer alone above what Windows loads", runtime_setting,
                 "BRACKENHUE_INSTALLER_ARCHIVE", WINDOWS_LIMIT + 1, True),
                ("installer checked without the runtime", None, "BRACKENHUE_INSTALLER_ARCHIVE", fits + 1, False),
            ]
            installers = {}
            for tag, runtime_given, installer_variable, installer_size, refused in cases:
                with self.subTest(tag):
                    if no_holes:
                        self.skipTest(no_holes)
                    installer = installers.get(installer_size)
                    if installer is None:
                        installer = os.path.join(folder, "installer-%d.jar" % installer_size)
                        made = make_sized_zip(installer_size, installer, sparse=True)
                        self.assertEqual(made.returncode, 0, made.stderr)
                        installers[installer_size] = installer
                    self.assertLess(disk_used(installer), 1 << 20, "the sparse installer took real disk")
                    self.assertLess(disk_used(big_runtime), 4 << 20, "the padded runtime took real disk")
                    argv = ["--installer", installer_variable, installer]
                    if runtime_given:
                        argv = ["--runtime"] + list(runtime_given) + argv
                    status, err = run_main(check_payloads, argv)
                    errors = [line for line in err.splitlines() if line.startswith("error:")]
                    if not refused:
                        self.assertEqual((status, errors), (0, []), err)
                        continue
                    self.assertEqual(status, 1, err)
                    self.assertEqual(len(errors), 1, err)
                    runtime_variable, runtime_file = runtime_given
                    for name in (runtime_variable, installer_variable):
                        self.assertRegex(errors[0], r"\b%s\b" % name)
                    for figure in (os.path.getsize(runtime_file), installer_size, PAYLOAD_LIMIT):
                        self.assertRegex(errors[0], r"\b%d\b" % figure)


class SizedZip(unittest.TestCase):
    """make_sized_zip.py makes plain ZIPs of exactly the size asked for."""

    def test_cases(self):
        cases = [
            # tag, size, sparse
            ("smallest", 214, False),
            ("a few hundred bytes", 300, False),
            ("one byte over a chunk", 8388609, False),
            ("20 MB hole", 20000000, True),
            ("above 2 GiB, where zipfile turns to ZIP64", 2200000000, True),
            ("largest without ZIP64", 0xFFFFFFFF, True),
        ]
        with tempfile.TemporaryDirectory() as folder:
            no_holes = holes_missing(folder)
            for tag, size, sparse in cases:
                with self.subTest(tag):
                    if sparse and no_holes:
                        self.skipTest(no_holes)
                    path = os.path.join(folder, "%d.jar" % size)
                    made = make_sized_zip(size, path, sparse)
                    self.assertEqual(made.returncode, 0, made.stderr)
                    try:
                        self.check(path, size, sparse)
                    finally:
                        os.remove(path)

    def check(self, path, size, sparse):
        self.assertEqual(os.path.getsize(path), size)
        if sparse:
            self.assertLess(disk_used(path), 1 << 20, "--sparse wrote the payload out")
        with open(path, "rb") as f:
            f.seek(-22, os.SEEK_END)
            end = f.read()
        self.assertEqual(end[:4], b"PK\x05\x06")
        self.assertEqual(struct.unpack_from("<H", end, 20)[0], 0, "a comment")
        with open(path, "rb") as f:
            with mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as data:
                self.assertEqual(check_payloads.check_installer(data), [])
        with zipfile.ZipFile(path) as archive:
            infos = archive.infolist()
            self.assertEqual([i.filename for i in infos], ["META-INF/", "payload.bin"])
            for info in infos:
                self.assertEqual(info.compress_type, zipfile.ZIP_STORED, info.filename)
                self.assertEqual(info.date_time, (2020, 1, 1, 0, 0, 0), info.filename)
            payload = infos[1]
            # Readers that stream the archive go by the local header alone.
            with open(path, "rb") as f:
                f.seek(payload.header_offset)
                local = f.read(30)
            self.assertEqual(local[:4], b"PK\x03\x04")
            self.assertEqual(struct.unpack_from("<III", local, 14),
                             (payload.CRC, payload.compress_size, payload.file_size))
            if size <= 32 << 20:
                self.assertIsNone(archive.testzip())
                with archive.open(payload) as f:
                    start = f.read(4096)
                if start:
                    self.assertEqual(start.strip(b"\0") == b"", sparse, "payload zeros only when sparse")
            else:
                self.assertEqual(payload.CRC, crc_of_zeros(payload.file_size))

    def test_refused_sizes(self):
        cases = [
            # tag, size, message fragment
            ("one byte short of the smallest", 213, "at least 214"),
            ("a byte more than plain ZIP holds", 0x100000000, "at most 4294967295"),
        ]
        with tempfile.TemporaryDirectory() as folder:
            for tag, size, fragment in cases:
                with self.subTest(tag):
                    path = os.path.join(folder, "%d.jar" % size)
                    made = make_sized_zip(size, path, sparse=True)
                    self.assertNotEqual(made.returncode, 0)
                    self.assertIn(fragment, made.stderr)
                    self.assertFalse(os.path.exists(path))


def pe_headers(magic, size_of_image, optional_size=None):
    """An MZ header, PE signature, file header and optional header with
    realistic values around SizeOfImage, so a read at the wrong offset shows."""
    e_lfanew = 0x80
    plus = magic == 0x20B
    if optional_size is None:
        optional_size = 240 if plus else 224
    dos = bytearray(e_lfanew)
    dos[:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, e_lfanew)
    machine = 0x8664 if plus else 0x14C
    file_header = struct.pack("<HHIIIHH", machine, 3, 0, 0, 0, optional_size, 0x22)
    optional = bytearray(max(optional_size, 64))
    struct.pack_into("<H", optional, 0, magic)
    if plus:
        struct.pack_into("<Q", optional, 24, 0x140000000)  # ImageBase
    else:
        struct.pack_into("<II", optional, 24, 0x2000, 0x400000)  # BaseOfData, ImageBase
    # SectionAlignment, FileAlignment, OS/image/subsystem versions, Win32VersionValue,
    # SizeOfImage, SizeOfHeaders.
    struct.pack_into("<IIHHHHHHIII", optional, 32, 0x1000, 0x200, 4, 0, 0, 0, 5, 2, 0, size_of_image, 0x400)
    return bytes(dos) + b"PE\0\0" + file_header + bytes(optional[:optional_size])


class ImageSize(unittest.TestCase):
    """check_image_size.py refuses what Windows will not load."""

    def test_cases(self):
        over = "SizeOfImage is %d bytes, above the 1996488704 (0x77000000) that Windows loads"
        cases = [
            # tag, file bytes (or a path to check as it is), message after "error: FILE: " or None
            ("PE32+ at the limit", pe_headers(0x20B, 0x77000000), None),
            ("PE32+ a byte over", pe_headers(0x20B, 0x77000001), over % 0x77000001),
            ("PE32+ at 4 GiB", pe_headers(0x20B, 0xFFFFFFFF), over % 0xFFFFFFFF),
            ("PE32 at the limit", pe_headers(0x10B, 0x77000000), None),
            ("PE32 a byte over", pe_headers(0x10B, 0x77000001), over % 0x77000001),
            ("PE32+ small", pe_headers(0x20B, 0x180000), None),
            ("optional header ending before SizeOfImage", pe_headers(0x20B, 0x180000, optional_size=58),
             "not a PE image"),
            ("file ending before SizeOfImage", pe_headers(0x20B, 0x180000)[:0x80 + 24 + 58], "not a PE image"),
            ("ROM image magic", pe_headers(0x107, 0x1000), "not a PE image"),
            ("MZ without PE", b"MZ" + b"\0" * 200, "not a PE image"),
            ("a jar", INSTALLER, "not a PE image"),
            ("empty", b"", "not a PE image"),
            ("the 32-bit demo runtime", RUNTIME, None),
            ("the 64-bit launcher", LAUNCHER_PATH, None),
            ("no such file", os.path.join(HERE, "no-such-launcher.exe"), "cannot read"),
        ]
        with tempfile.TemporaryDirectory() as folder:
            for tag, given, message in cases:
                with self.subTest(tag):
                    if isinstance(given, bytes):
                        path = os.path.join(folder, "image.exe")
                        with open(path, "wb") as f:
                            f.write(given)
                    else:
                        path = given
                    status, err = run_main(check_image_size, [path])
                    if message is None:
                        self.assertEqual((status, err), (0, ""))
                        continue
                    self.assertEqual(status, 1, err)
                    self.assertEqual(len(err.splitlines()), 1, err)
                    self.assertTrue(err.startswith("error: %s: " % path), err)
                    if message.startswith("SizeOfImage"):
                        self.assertEqual(err, "error: %s: %s\n" % (path, message))
                    else:
                        self.assertIn(message, err)

    def test_as_the_build_runs_it(self):
        with tempfile.TemporaryDirectory() as folder:
            too_large = os.path.join(folder, "too-large.exe")
            with open(too_large, "wb") as f:
                f.write(pe_headers(0x20B, 0x77000001))
            cases = [
                # tag, file, exit status
                ("the 64-bit launcher", LAUNCHER_PATH, 0),
                ("an image a byte too large", too_large, 1),
            ]
            for tag, path, expected in cases:
                with self.subTest(tag):
                    ran = subprocess.run([sys.executable, CHECK_IMAGE_SIZE, path], stdout=subprocess.PIPE,
                                         stderr=subprocess.PIPE, universal_newlines=True)
                    self.assertEqual(ran.returncode, expected, ran.stderr)
                    self.assertEqual(ran.stdout, "")
                    self.assertEqual(bool(ran.stderr), expected != 0, ran.stderr)


class CommandLine(unittest.TestCase):
    def test_error_names_the_setting_and_the_file(self):
        with tempfile.TemporaryDirectory() as folder:
            broken = os.path.join(folder, "broken.jar")
            with open(broken, "wb") as f:
                f.write(zip_bytes(b"comment"))
            err = io.StringIO()
            with contextlib.redirect_stderr(err):
                status = check_payloads.main(["--installer", "BRACKENHUE_INSTALLER_ARCHIVE", broken])
            self.assertEqual(status, 1)
            self.assertIn("error: BRACKENHUE_INSTALLER_ARCHIVE: " + broken + ":", err.getvalue())


if __name__ == "__main__":
    with open(sys.argv[1], "rb") as f:
        RUNTIME = f.read()
    with open(sys.argv[2], "rb") as f:
        INSTALLER = f.read()
    LAUNCHER_PATH = sys.argv[3]
    with open(LAUNCHER_PATH, "rb") as f:
        INSTALLER_EXE = f.read()
    # Verbose, so the reason for any skipped case shows in the log.
    unittest.main(argv=sys.argv[:1], verbosity=2)
