#!/usr/bin/env python3
"""Tests of resources/make_runtime.py: the runtime folders and zips it
refuses and accepts, release versions, and the archives it makes with
makensis, which, when this build has its Wine, are also run to unpack.

usage: make_runtime_test.py
  MAKENSIS                makensis to use (default: makensis on PATH)
  BRACKENHUE_STANDIN_DIR  folder holding a 64-bit console java.exe and a
                          64-bit windowed javaw.exe
                          (default: build/resources/demo/jre-bin)
"""

import collections
import contextlib
import io
import os
import random
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "resources"))
import make_runtime  # noqa: E402

STANDINS = os.environ.get("BRACKENHUE_STANDIN_DIR") or os.path.join(ROOT, "build", "resources", "demo", "jre-bin")
MAKENSIS = os.environ.get("MAKENSIS") or "makensis"
WINE_RUN = os.environ.get("BRACKENHUE_WINE_RUN", os.path.join(ROOT, "build", "wine", "run"))
SETTING = "BRACKENHUE_RUNTIME_TEST"


def read_standin(name):
    try:
        with open(os.path.join(STANDINS, name), "rb") as f:
            return f.read()
    except OSError:
        return None


JAVA = read_standin("java.exe")
JAVAW = read_standin("javaw.exe")
NO_STANDINS = ("no java.exe and javaw.exe in %s (set BRACKENHUE_STANDIN_DIR)" % STANDINS
               if JAVA is None or JAVAW is None else None)

# Values of an entries dict besides bytes (a file's content).
FOLDER = "an empty folder"
REMOVE = "no such entry"
Link = collections.namedtuple("Link", "target")


def patched(image, machine=None, magic=None, subsystem=None):
    """A copy of a PE image with its machine, optional header magic or
    subsystem changed."""
    data = bytearray(image)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if machine is not None:
        struct.pack_into("<H", data, pe + 4, machine)
    if magic is not None:
        struct.pack_into("<H", data, pe + 24, magic)
    if subsystem is not None:
        struct.pack_into("<H", data, pe + 24 + 68, subsystem)
    return bytes(data)


def runtime(changes=None):
    """A small runtime's entries (name with "/" -> value), changed."""
    entries = {
        "bin/java.exe": JAVA,
        "bin/javaw.exe": JAVAW,
        "lib/modules": b"modules\n",
        "release": b'IMPLEMENTOR="Test"\nJAVA_VERSION="17.0.8"\n',
    }
    for name, value in (changes or {}).items():
        if value is REMOVE:
            del entries[name]
        else:
            entries[name] = value
    return entries


def write_folder(root, entries):
    os.makedirs(root, exist_ok=True)
    for name, value in entries.items():
        path = os.path.join(root, *name.split("/"))
        if value is FOLDER:
            os.makedirs(path, exist_ok=True)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if isinstance(value, Link):
            os.symlink(value.target, path)
        else:
            with open(path, "wb") as f:
                f.write(value)


def write_zip(path, entries, top=None):
    """Names are stored as given (backslashes included), under top/ when
    top is given."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        if top:
            archive.writestr(top + "/", b"")
        for name, value in entries.items():
            name = top + "/" + name if top else name
            if value is FOLDER:
                archive.writestr(name.rstrip("/\\") + "/", b"")
            elif isinstance(value, Link):
                info = zipfile.ZipInfo(name)
                info.create_system = 3
                info.external_attr = (stat.S_IFLNK | 0o777) << 16
                archive.writestr(info, value.target)
            else:
                archive.writestr(name, value)


def zip_of_folder(path, root, top):
    """The zip a vendor would give of folder root: every folder and file
    under top/."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for here, folders, files in os.walk(root):
            folders.sort()
            relative = os.path.relpath(here, root)
            prefix = top if relative == "." else top + "/" + relative.replace(os.sep, "/")
            archive.writestr(prefix + "/", b"")
            for name in sorted(files):
                archive.write(os.path.join(here, name), prefix + "/" + name)


def as_folder(entries):
    def given(tmp):
        root = os.path.join(tmp, "runtime")
        write_folder(root, entries)
        return "--folder", root
    return given


def as_zip(entries, top=None):
    def given(tmp):
        path = os.path.join(tmp, "runtime.zip")
        write_zip(path, entries, top)
        return "--zip", path
    return given


def given_path(option, name, content=None):
    def given(tmp):
        path = os.path.join(tmp, name)
        if content is not None:
            with open(path, "wb") as f:
                f.write(content)
        return option, path
    return given


def run_main(tmp, given, *options, makensis=None):
    """Runs main on what given makes in tmp, with its facts to
    OUTPUT.facts: (exit code, stderr, input path, work, output). Without
    makensis it only checks."""
    option, path = given(tmp)
    work = os.path.join(tmp, "work")
    output = os.path.join(tmp, "out", "jre_x64.exe")
    arguments = ["--setting", SETTING, option, path, "--work", work, "--output", output, "--facts",
                 output + ".facts"] + list(options)
    if makensis:
        arguments += ["--makensis", makensis]
    else:
        arguments += ["--makensis", os.path.join(tmp, "no-makensis"), "--check-only"]
    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        code = make_runtime.main(arguments)
    return code, err.getvalue(), path, work, output


def check_only(tmp, given, *options):
    return run_main(tmp, given, *options)


def no_makensis():
    """Why made archives cannot be tested here, or None."""
    if shutil.which(MAKENSIS) or os.access(MAKENSIS, os.X_OK):
        return None
    return "no makensis (%s; set MAKENSIS)" % MAKENSIS


def words(size, seed):
    """size bytes of text from a few words: compressible as class files and
    properties are, so lzma, zlib and none give three sizes."""
    generator = random.Random(seed)
    vocabulary = [b"java", b"lang", b"Object", b"String", b"runtime", b"module", b"class", b"(", b")", b";", b"\n"]
    return b" ".join(generator.choice(vocabulary) for _ in range(size // 4))[:size]


def tree(root):
    """Relative name -> content (or FOLDER) of everything under root."""
    found = {}
    for here, folders, files in os.walk(root):
        for name in folders:
            found[os.path.relpath(os.path.join(here, name), root).replace(os.sep, "/")] = FOLDER
        for name in files:
            with open(os.path.join(here, name), "rb") as f:
                found[os.path.relpath(os.path.join(here, name), root).replace(os.sep, "/")] = f.read()
    return found


@unittest.skipIf(NO_STANDINS, NO_STANDINS)
class Refusals(unittest.TestCase):
    def test_cases(self):
        cases = [
            # tag, input, fragment of the rule
            ("no bin\\javaw.exe", as_folder(runtime({"bin/javaw.exe": REMOVE})),
             "it holds no bin\\javaw.exe; the runtime must have bin\\java.exe and bin\\javaw.exe"),
            ("a 32-bit java.exe", as_folder(runtime({"bin/java.exe": patched(JAVA, machine=0x14C, magic=0x10B)})),
             "bin\\java.exe is not a 64-bit program (machine 0x014c)"),
            ("an x86-64 java.exe with a 32-bit header", as_folder(runtime({"bin/java.exe": patched(JAVA, magic=0x10B)})),
             "bin\\java.exe is not a 64-bit program"),
            ("an ARM64 javaw.exe", as_zip(runtime({"bin/javaw.exe": patched(JAVAW, machine=0xAA64)})),
             "bin\\javaw.exe is not a 64-bit program (machine 0xaa64)"),
            ("a windowed java.exe", as_folder(runtime({"bin/java.exe": JAVAW})),
             "bin\\java.exe is not a console program (subsystem 2)"),
            ("a console javaw.exe", as_zip(runtime({"bin/javaw.exe": JAVA}), top="jdk"),
             "bin\\javaw.exe is not a windowed program (subsystem 3)"),
            ("a java.exe that is no program", as_folder(runtime({"bin/java.exe": b"#!/bin/sh\n"})),
             "bin\\java.exe is not a Windows program"),
            ("release JAVA_VERSION 1.7.0_80", as_folder(runtime({"release": b'JAVA_VERSION="1.7.0_80"\n'})),
             "JAVA_VERSION 1.7; the runtime must be Java 1.8 or later"),
            ("release JAVA_VERSION that does not read", as_zip(runtime({"release": b'JAVA_VERSION="x"\n'})),
             "does not read as a version"),
            ("a zip with ../evil", as_zip(runtime({"../evil": b"x"})), "it has a '..' part"),
            ("a zip with ..\\evil", as_zip(runtime({"..\\evil": b"x"})), "it has a '..' part"),
            ("a zip with ..\\evil under its top folder", as_zip(runtime({"..\\..\\evil": b"x"}), top="jdk"),
             "it has a '..' part"),
            ("a folder with a name holding a backslash", as_folder(runtime({"..\\evil": b"x"})),
             "it holds '\\', which Windows takes for a separator"),
            ("a zip with an alternate data stream", as_zip(runtime({"bin/java.exe:stream": b"x"})),
             "alternate data stream"),
            ("a zip with names differing only in case", as_zip(runtime({"lib/a.txt": b"a", "lib/A.TXT": b"b"})),
             "differ only in letter case"),
            ("a folder with a symbolic link", as_folder(runtime({"lib/link": Link("modules")})),
             "lib/link is a symbolic link"),
            ("a zip with a symbolic link", as_zip(runtime({"lib/link": Link("../../etc/passwd")}), top="jdk"),
             "jdk/lib/link is a symbolic link"),
            ("a zip with lib/NUL.txt", as_zip(runtime({"lib/NUL.txt": b"x"})),
             "'NUL.txt' is a reserved device name"),
            ("a folder with CON", as_folder(runtime({"CON": b"x"})), "'CON' is a reserved device name"),
            ("a folder with CONIN$", as_folder(runtime({"CONIN$": b"x"})), "'CONIN$' is a reserved device name"),
            ("a zip with lib/conout$.log", as_zip(runtime({"lib/conout$.log": b"x"})),
             "'conout$.log' is a reserved device name"),
            ("a zip with a trailing dot", as_zip(runtime({"lib/notes.": b"x"})), "'notes.' ends in a dot"),
            ("a folder with a trailing blank", as_folder(runtime({"lib/notes ": b"x"})), "'notes ' ends in a blank"),
            ("a zip with a drive letter", as_zip(runtime({"C:/x": b"x"})), "it starts with a drive letter"),
            ("a zip with an absolute name", as_zip(runtime({"/etc/x": b"x"})), "it is an absolute path"),
            ("a zip with a ?", as_zip(runtime({"lib/what?.txt": b"x"})), "it holds ?"),
            ("a folder with a control character", as_folder(runtime({"lib/bell\x07": b"x"})), "it holds \\x07"),
            ("a zip with its runtime beside a stray file",
             as_zip(dict([("jdk/" + name, value) for name, value in runtime().items()] + [("readme.txt", b"x")])),
             "it holds no bin\\java.exe at its root or under its one top folder"),
            ("no such folder", given_path("--folder", "missing"), "no such folder"),
            ("a zip that is none", given_path("--zip", "runtime.zip", b"PK not really"),
             "it is not a zip archive that can be read"),
        ]
        for tag, given, rule in cases:
            with self.subTest(tag), tempfile.TemporaryDirectory() as tmp:
                code, err, path, work, output = check_only(tmp, given)
                self.assertEqual(code, 1, err)
                self.assertTrue(err.startswith("error: %s: %s: " % (SETTING, path)), err)
                self.assertIn(rule, err)
                self.assertFalse(os.path.exists(output))
                self.assertFalse(os.path.exists(output + ".facts"))
                # Refused names must not have been written anywhere.
                self.assertNotIn("evil", [name for _, _, files in os.walk(tmp) for name in files])


@unittest.skipIf(NO_STANDINS, NO_STANDINS)
class Accepted(unittest.TestCase):
    def test_cases(self):
        release = lambda version: runtime({"release": b'IMPLEMENTOR="Test"\nJAVA_VERSION=' + version + b"\n"})
        windows_names = {name.replace("/", "\\"): value for name, value in runtime({"lib/empty": FOLDER}).items()}
        cases = [
            # tag, input
            ("a folder", as_folder(runtime({"lib/empty": FOLDER, "lib/with blanks/$x Grüße.txt": b"x"}))),
            ("names that only start like a device", as_folder(runtime({"lib/conin.txt": b"x", "lib/CONSOLE$": b"x",
                                                                       "lib/NULL": b"x"}))),
            ("a zip with the runtime at its root", as_zip(runtime())),
            ("a zip with one top folder", as_zip(runtime({"lib/empty": FOLDER}), top="jdk-17.0.8")),
            ("a zip with backslash separators", as_zip(windows_names, top="jdk")),
            ("release 1.8.0_281", as_folder(release(b'"1.8.0_281"'))),
            ("release 1.8.0", as_folder(release(b'"1.8.0"'))),
            ("release 17.0.8", as_folder(release(b'"17.0.8"'))),
            ("release 21", as_folder(release(b'"21"'))),
            ("release 22-ea", as_zip(release(b'"22-ea"'))),
            ("release without quotes", as_folder(release(b"11.0.2"))),
            ("no release file", as_folder(runtime({"release": REMOVE}))),
            ("a release file without JAVA_VERSION", as_folder(runtime({"release": b'IMPLEMENTOR="Test"\n'}))),
        ]
        for tag, given in cases:
            with self.subTest(tag), tempfile.TemporaryDirectory() as tmp:
                code, err, path, work, output = check_only(tmp, given)
                self.assertEqual((code, err), (0, ""))
                self.assertFalse(os.path.exists(output), "--check-only made an archive")
                self.assertFalse(os.path.exists(output + ".facts"), "--check-only wrote facts")
                if path.endswith(".zip"):
                    # The runtime's own root, whatever the zip's layout.
                    with open(os.path.join(work, "runtime", "bin", "java.exe"), "rb") as f:
                        self.assertEqual(f.read(), JAVA)


@unittest.skipIf(NO_STANDINS, NO_STANDINS)
class CompressionRefused(unittest.TestCase):
    def test_cases(self):
        for value in ("xz", "bzip2", "LZMA", "lzma ", ""):
            with self.subTest(repr(value)), tempfile.TemporaryDirectory() as tmp:
                code, err, _, work, output = check_only(tmp, as_folder(runtime()), "--compression", value)
                self.assertEqual((code, err), (1, "error: BRACKENHUE_RUNTIME_COMPRESSION is set to '%s'; it must be "
                                                  "lzma (the default), zlib or none\n" % value))
                self.assertFalse(os.path.exists(work))
                self.assertFalse(os.path.exists(output))


class ReleaseVersion(unittest.TestCase):
    def test_cases(self):
        cases = [
            # tag, release file, version
            ("1.8 with an update", 'JAVA_VERSION="1.8.0_281"\n', 8),
            ("1.8", 'JAVA_VERSION="1.8.0"\n', 8),
            ("1.7", 'JAVA_VERSION="1.7.0_80"\n', 7),
            ("17.0.8", 'JAVA_VERSION="17.0.8"\n', 17),
            ("21", 'JAVA_VERSION="21"\n', 21),
            ("22-ea", 'JAVA_VERSION="22-ea"\n', 22),
            ("no quotes, blanks around =", "JAVA_VERSION = 11.0.2\n", 11),
            ("after other keys, JAVA_VERSION_DATE not taken",
             'IMPLEMENTOR="Test"\nJAVA_VERSION_DATE="2023-07-18"\nJAVA_VERSION="17.0.8"\n', 17),
            ("CRLF lines", 'IMPLEMENTOR="Test"\r\nJAVA_VERSION="1.8.0_392"\r\n', 8),
            ("not a number", 'JAVA_VERSION="x"\n', None),
            ("a bare 1", 'JAVA_VERSION="1"\n', None),
            ("no JAVA_VERSION", 'IMPLEMENTOR="Test"\n', None),
            ("empty", "", None),
        ]
        for tag, text, version in cases:
            with self.subTest(tag):
                self.assertEqual(make_runtime.release_version(text), version)


def pe_header(data):
    """(machine, optional header magic, subsystem), read here rather than
    through the module under test."""
    if data[:2] != b"MZ":
        return None
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return None
    return (struct.unpack_from("<H", data, pe + 4)[0], struct.unpack_from("<H", data, pe + 24)[0],
            struct.unpack_from("<H", data, pe + 24 + 68)[0])


WORDS = words(200000, 1)


@unittest.skipIf(NO_STANDINS, NO_STANDINS)
class MadeArchives(unittest.TestCase):
    TREE = runtime({
        "lib/a/b/deep.txt": b"deep\n",
        "lib/with blanks/read me.txt": b"blanks\n",
        "conf/$EXEDIR Grüße ñ.txt": b"dollar\n",
        "lib/empty": FOLDER,
        "lib/words.txt": WORDS,
    })
    COMPRESSIONS = ("lzma", "zlib", "none")

    @classmethod
    def setUpClass(cls):
        if no_makensis():
            raise unittest.SkipTest(no_makensis())
        cls.tmp = tempfile.mkdtemp(prefix="make_runtime_test.")
        cls.folder = os.path.join(cls.tmp, "runtime")
        write_folder(cls.folder, cls.TREE)
        cls.archives = {}
        cls.archive = cls.archive_of("lzma")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    @classmethod
    def made(cls, folder, zip_path, name, **options):
        output = os.path.join(cls.tmp, name, "jre_x64.exe")
        make_runtime.make(SETTING, folder, zip_path, os.path.join(cls.tmp, name, "work"), output, MAKENSIS,
                          **options)
        with open(output, "rb") as f:
            return f.read()

    @classmethod
    def archive_of(cls, compression):
        """The archive of the class's folder with that compression, made
        once."""
        if compression not in cls.archives:
            cls.archives[compression] = cls.made(cls.folder, None, compression, compression=compression)
        return cls.archives[compression]

    def test_program(self):
        for compression in self.COMPRESSIONS:
            with self.subTest(compression):
                archive = self.archive_of(compression)
                self.assertEqual(pe_header(archive), (0x8664, 0x20B, 2), "not a windowed PE32+ x86-64 program")
                manifest = make_runtime.resource_manifest(archive)
                self.assertIsNotNone(manifest)
                self.assertRegex(manifest, r'requestedExecutionLevel\s+level="asInvoker"')

    def test_same_bytes_again(self):
        os.utime(os.path.join(self.folder, "lib", "a", "b", "deep.txt"), (1e9, 1e9))
        for compression in self.COMPRESSIONS:
            with self.subTest(compression):
                again = self.made(self.folder, None, "again-" + compression, compression=compression)
                self.assertTrue(again == self.archive_of(compression), "the bytes differ")

    def test_compressions_differ(self):
        sizes = {compression: len(self.archive_of(compression)) for compression in self.COMPRESSIONS}
        self.assertLess(sizes["lzma"], sizes["zlib"], sizes)
        self.assertGreater(sizes["none"] - sizes["zlib"], len(WORDS) // 2, sizes)
        for compression in self.COMPRESSIONS:
            with self.subTest(compression):
                # Only an archive without compression holds the file as it is.
                self.assertEqual(WORDS in self.archive_of(compression), compression == "none")

    def test_content_changes_bytes(self):
        changed = os.path.join(self.tmp, "changed-runtime")
        write_folder(changed, dict(self.TREE, **{"lib/a/b/deep.txt": b"DEEP\n"}))
        self.assertFalse(self.made(changed, None, "changed") == self.archive, "the change left the bytes")

    def test_zip_gives_same_bytes(self):
        path = os.path.join(self.tmp, "runtime.zip")
        zip_of_folder(path, self.folder, "jdk-17.0.8")
        self.assertTrue(self.made(None, path, "zip") == self.archive, "the bytes differ from the folder's")

    def run_archive(self, name, archive, in_the_way=None):
        """Runs the archive in a folder of its own under Wine: (exit code,
        folder)."""
        folder = os.path.join(self.tmp, name)
        os.makedirs(folder)
        program = os.path.join(folder, "jre_x64.exe")
        with open(program, "wb") as f:
            f.write(archive)
        if in_the_way is not None:
            with open(os.path.join(folder, "jre"), "wb") as f:
                f.write(in_the_way)
        ran = subprocess.run([WINE_RUN, program], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        if ran.returncode == 125:
            self.skipTest("this build's Wine could not start: %s" % ran.stdout.decode(errors="replace"))
        return ran.returncode, folder

    def need_wine(self):
        if not os.access(WINE_RUN, os.X_OK):
            self.skipTest("no Wine for this build (%s)" % WINE_RUN)

    def test_unpacks_under_wine(self):
        self.need_wine()
        for compression in self.COMPRESSIONS:
            with self.subTest(compression):
                code, folder = self.run_archive("wine-unpacks-" + compression, self.archive_of(compression))
                self.assertEqual(code, 0)
                self.assertEqual(sorted(os.listdir(folder)), ["jre", "jre_x64.exe"])
                self.assertEqual(tree(os.path.join(folder, "jre")), tree(self.folder))

    def test_every_archive_checks_its_own_bytes(self):
        for compression in self.COMPRESSIONS:
            with self.subTest(compression):
                script = make_runtime.nsis_script([], [], "out.exe", compression)
                self.assertIn("CRCCheck on", script.splitlines())

    def test_damaged_under_wine(self):
        # A damaged download must write nothing: every archive checks its
        # own bytes before it unpacks.
        self.need_wine()
        for compression in self.COMPRESSIONS:
            with self.subTest(compression):
                damaged = bytearray(self.archive_of(compression))
                # Past the stub, in the compressed data.
                damaged[len(damaged) * 2 // 3] ^= 0x01
                code, folder = self.run_archive("wine-damaged-" + compression, bytes(damaged))
                self.assertNotEqual(code, 0)
                self.assertEqual(os.listdir(folder), ["jre_x64.exe"])

    def test_jre_in_the_way_under_wine(self):
        self.need_wine()
        for compression in self.COMPRESSIONS:
            with self.subTest(compression):
                code, folder = self.run_archive("wine-blocked-" + compression, self.archive_of(compression),
                                                in_the_way=b"a file\n")
                self.assertEqual(code, 2)
                with open(os.path.join(folder, "jre"), "rb") as f:
                    self.assertEqual(f.read(), b"a file\n")


@unittest.skipIf(NO_STANDINS or no_makensis(), NO_STANDINS or no_makensis())
class Facts(unittest.TestCase):
    """The facts written beside a made archive for the launcher."""

    def test_cases(self):
        top = lambda entries: as_zip(entries, top="jdk-17.0.8")
        cases = [
            # tag, entries, given as, longest_path (the longest path below the workspace, in UTF-16 units),
            # java_feature (None: no line)
            ("only the programs", runtime(), as_folder, 17, "17"),  # jre\bin\javaw.exe
            ("nested names", runtime({"lib/a/b/c/deep.txt": b"deep\n"}), as_folder, 22, "17"),
            # jre\lib\Grüße ñandú.txt: 23 units, 27 bytes of UTF-8
            ("letters beyond ASCII count one unit each", runtime({"lib/Grüße ñandú.txt": b"x"}), as_folder, 23, "17"),
            # jre\lib\😀 smile 😀.txt: 21 code points, 23 units, 27 bytes of UTF-8
            ("a letter beyond the BMP counts two units", runtime({"lib/\U0001F600 smile \U0001F600.txt": b"x"}),
             as_folder, 23, "17"),
            # jre\lib\an empty folder, longer than any file's path
            ("an empty folder is the longest", runtime({"lib/an empty folder": FOLDER}), as_folder, 23, "17"),
            ("a zip's top folder is not counted", runtime({"lib/a/b/c/deep.txt": b"deep\n"}), top, 22, "17"),
            ("release 1.8.0_281", runtime({"release": b'JAVA_VERSION="1.8.0_281"\n'}), as_folder, 17, "8"),
            ("no release file", runtime({"release": REMOVE}), as_folder, 17, None),
            ("a release file without JAVA_VERSION", runtime({"release": b'IMPLEMENTOR="Test"\n'}), as_folder, 17,
             None),
        ]
        for tag, entries, given, longest, feature in cases:
            with self.subTest(tag), tempfile.TemporaryDirectory() as tmp:
                code, err, _, _, output = run_main(tmp, given(entries), makensis=MAKENSIS)
                self.assertEqual((code, err), (0, ""))
                expected = "unpacked_bytes=%d\nlongest_path=%d\n" % (
                    sum(len(value) for value in entries.values() if isinstance(value, bytes)), longest)
                if feature:
                    expected += "java_feature=%s\n" % feature
                with open(output + ".facts", "rb") as f:
                    self.assertEqual(f.read(), expected.encode("ascii"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
