#!/usr/bin/env python3
"""The build's stamp of its inputs (resources/input_stamp.py): it changes
exactly when an input's content changes, whatever the dates say, reads a
file again only when its status changed, and stops with one line for an
input it cannot read."""

import contextlib
import hashlib
import io
import os
import shutil
import stat
import sys
import tempfile
import unittest
from unittest import mock

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "resources"))
import input_stamp  # noqa: E402

A_YEAR_AGO = 1700000000


def write(path, data, mtime=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    if mtime is not None:
        os.utime(path, (mtime, mtime))


class Stamp(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="input-stamp-")
        self.addCleanup(shutil.rmtree, self.work)
        self.folder = os.path.join(self.work, "jdk [x64]")
        write(os.path.join(self.folder, "bin", "java.exe"), b"java")
        write(os.path.join(self.folder, "lib", "modules"), b"modules" * 100)
        self.jar = os.path.join(self.work, "app.jar")
        write(self.jar, b"PK the jar")
        self.stamp = os.path.join(self.work, "out", "inputs.stamp")

    def run_stamp(self, *extra):
        args = [self.stamp, "--folder", "BRACKENHUE_RUNTIME_FOLDER", self.folder,
                "--file", "BRACKENHUE_INSTALLER_ARCHIVE", self.jar] + list(extra)
        err = io.StringIO()
        with contextlib.redirect_stderr(err):
            code = input_stamp.main(args)
        return code, err.getvalue()

    def stamp_text(self):
        with open(self.stamp, "rb") as f:
            return f.read()

    def test_changes_that_count_and_those_that_do_not(self):
        modules = os.path.join(self.folder, "lib", "modules")
        cases = [
            # tag, change, whether the stamp must change
            ("nothing", lambda: None, False),
            ("a file's date alone", lambda: os.utime(modules, (A_YEAR_AGO, A_YEAR_AGO)), False),
            ("a hard link to a file, as the runtime maker makes",
             lambda: os.link(modules, os.path.join(self.work, "staged")), False),
            ("the same bytes written again", lambda: write(self.jar, b"PK the jar"), False),
            ("the jar replaced by an older-dated one", lambda: write(self.jar, b"PK other", A_YEAR_AGO), True),
            ("same size, other bytes, the old date kept",
             lambda: write(modules, b"MODULES" * 100, os.stat(modules).st_mtime), True),
            ("a file added", lambda: write(os.path.join(self.folder, "lib", "added.txt"), b"new"), True),
            ("a file removed", lambda: os.remove(os.path.join(self.folder, "lib", "added.txt")), True),
            ("an empty folder added", lambda: os.mkdir(os.path.join(self.folder, "empty")), True),
            ("a file renamed", lambda: os.rename(os.path.join(self.folder, "bin", "java.exe"),
                                                 os.path.join(self.folder, "bin", "javaw.exe")), True),
            ("a symbolic link added", lambda: os.symlink("javaw.exe", os.path.join(self.folder, "bin", "j")), True),
        ]
        self.assertEqual(self.run_stamp(), (0, ""))
        for tag, change, changes in cases:
            with self.subTest(tag):
                before = self.stamp_text()
                written = os.stat(self.stamp).st_mtime_ns
                change()
                self.assertEqual(self.run_stamp(), (0, ""))
                self.assertEqual(self.stamp_text() != before, changes)
                # Unchanged text leaves the file alone, so Ninja sees no change.
                if not changes:
                    self.assertEqual(os.stat(self.stamp).st_mtime_ns, written)

    def test_unchanged_files_are_not_read_again(self):
        self.assertEqual(self.run_stamp(), (0, ""))
        with mock.patch.object(input_stamp.hashlib, "sha256", wraps=hashlib.sha256) as sha:
            self.assertEqual(self.run_stamp(), (0, ""))
            self.assertEqual(sha.call_count, 0, "a file whose status did not change was read again")
            write(self.jar, b"PK changed")
            self.assertEqual(self.run_stamp(), (0, ""))
            self.assertEqual(sha.call_count, 1, "only the changed file is read")

    def test_a_damaged_cache_is_no_cache(self):
        self.assertEqual(self.run_stamp(), (0, ""))
        good = self.stamp_text()
        for tag, content in [("not JSON", b"{"), ("a list", b"[]"), ("wrong entries", b'{"x": 1, "y": [1]}'),
                             ("a wrong hash for the jar's status",
                              None), ("bytes that are no UTF-8", b"\xff\xfe")]:
            with self.subTest(tag):
                if content is None:
                    with open(self.stamp + ".cache", encoding="utf-8") as f:
                        text = f.read()
                    content = text.replace(hashlib.sha256(b"PK the jar").hexdigest(), "0" * 64).encode()
                    # A stale entry under the same status is believed: the
                    # status is the key. Change the status so it is not.
                    os.utime(self.jar, (A_YEAR_AGO + 5, A_YEAR_AGO + 5))
                with open(self.stamp + ".cache", "wb") as f:
                    f.write(content)
                self.assertEqual(self.run_stamp(), (0, ""))
                self.assertEqual(self.stamp_text(), good)

    def test_a_pipe_in_the_folder_is_never_opened(self):
        os.mkfifo(os.path.join(self.folder, "lib", "pipe"))
        self.assertEqual(self.run_stamp(), (0, ""))
        self.assertIn(b"o %s " % os.fsencode(os.path.join("lib", "pipe")).hex().encode(), self.stamp_text())

    def test_a_program_counts_with_its_version(self):
        program = os.path.join(self.work, "tools", "makensis")
        write(program, b'#!/bin/sh\ncat "$(dirname "$0")/version.txt"\n')
        os.chmod(program, 0o755)
        version = os.path.join(self.work, "tools", "version.txt")
        write(version, b"v3.08\n")
        extra = ("--program", "MAKENSIS_EXECUTABLE", program)
        self.assertEqual(self.run_stamp(*extra), (0, ""))
        self.assertIn(b"version MAKENSIS_EXECUTABLE v3.08", self.stamp_text())
        before = self.stamp_text()
        write(version, b"v3.09\n")
        self.assertEqual(self.run_stamp(*extra), (0, ""))
        self.assertNotEqual(self.stamp_text(), before, "a new version alone must make the archive again")

    def test_what_cannot_be_read_stops_with_one_line(self):
        failing = os.path.join(self.work, "tools", "failing")
        write(failing, b"#!/bin/sh\nexit 3\n")
        os.chmod(failing, 0o755)
        missing = os.path.join(self.work, "tools", "gone")
        cases = [
            ("a missing program", ("--program", "MAKENSIS_EXECUTABLE", missing),
             "error: MAKENSIS_EXECUTABLE names %s, which cannot be read: No such file or directory\n" % missing),
            ("a program that fails", ("--program", "MAKENSIS_EXECUTABLE", failing),
             "error: MAKENSIS_EXECUTABLE names %s, which fails (exit code 3)\n" % failing),
            ("a missing file", ("--file", "BRACKENHUE_RUNTIME_ZIP", missing),
             "error: BRACKENHUE_RUNTIME_ZIP names %s, which cannot be read: No such file or directory\n" % missing),
            ("a folder named as a file", ("--file", "BRACKENHUE_RUNTIME_ZIP", self.folder),
             "error: BRACKENHUE_RUNTIME_ZIP names %s, which is not a file\n" % self.folder),
            ("a file named as a folder", ("--folder", "BRACKENHUE_RUNTIME_FOLDER", self.jar),
             "error: BRACKENHUE_RUNTIME_FOLDER names %s, which is not a folder\n" % self.jar),
        ]
        self.assertEqual(self.run_stamp(), (0, ""))
        good = self.stamp_text()
        for tag, extra, line in cases:
            with self.subTest(tag):
                self.assertEqual(self.run_stamp(*extra), (1, line))
                self.assertEqual(self.stamp_text(), good, "a failed check must leave the stamp as it was")


if __name__ == "__main__":
    unittest.main(verbosity=2)
