#!/usr/bin/env python3
"""The build-time checks of the payload inputs, on small files made here from
the real demo payloads.

usage: check_payloads_test.py DEMO_RUNTIME DEMO_INSTALLER
"""

import io
import os
import struct
import sys
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "resources"))
import check_payloads  # noqa: E402

RUNTIME = INSTALLER = None


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


class CommandLine(unittest.TestCase):
    def test_error_names_the_setting_and_the_file(self):
        import contextlib
        import tempfile
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
    with open(sys.argv[3], "rb") as f:
        INSTALLER_EXE = f.read()
    unittest.main(argv=sys.argv[:1])
