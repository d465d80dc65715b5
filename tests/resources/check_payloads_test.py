#!/usr/bin/env python3
"""The build-time checks of the payload inputs and of the built launcher's
size, on small files made here from the real demo payloads, on crafted PE
headers, on jars built here, some compiled for a stated runtime's Java and
some signed by the host's jarsigner (each also run with the host's java -jar,
which must agree with the check where the host's Java can show the verdict),
and on archives of gigabytes that are mostly holes.

usage: check_payloads_test.py DEMO_RUNTIME DEMO_INSTALLER LAUNCHER_64
"""

import atexit
import base64
import contextlib
import filecmp
import functools
import hashlib
import io
import mmap
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import warnings
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "resources"))
sys.path.insert(0, os.path.join(HERE, "..", "payloads"))
import check_image_size  # noqa: E402
import check_payloads  # noqa: E402
import make_sized_zip  # noqa: E402

MAKE_SIZED_ZIP = os.path.join(HERE, "..", "payloads", "make_sized_zip.py")
CHECK_IMAGE_SIZE = os.path.join(HERE, "..", "..", "resources", "check_image_size.py")

# Windows' largest image, and what is left of it for the two archives once
# the launcher's own 16 MiB are set aside.
WINDOWS_LIMIT = 0x77000000
PAYLOAD_LIMIT = WINDOWS_LIMIT - 16 * 1024 * 1024

RUNTIME = INSTALLER = INSTALLER_EXE = LAUNCHER_PATH = None


def patched(image, machine=None, signature_size=None):
    """A copy of a PE image with its machine or the size of its signature
    (the security directory) changed."""
    data = bytearray(image)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if machine is not None:
        struct.pack_into("<H", data, pe + 4, machine)
    if signature_size is not None:
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        struct.pack_into("<II", data, optional + (144 if magic == 0x20B else 128), 0x1000, signature_size)
    return bytes(data)


class RuntimeArchive(unittest.TestCase):
    def test_cases(self):
        cases = [
            # tag, data, given ready-made, error expected, warning fragments expected
            ("the demo runtime, made by the build", RUNTIME, False, False, []),
            ("the same given ready-made: unsigned", RUNTIME, True, False, ["not signed"]),
            ("a signed 64-bit program given ready-made", patched(RUNTIME, signature_size=0x600), True, False, []),
            ("a 32-bit program given ready-made", patched(RUNTIME, machine=0x14C), True, False,
             ["not a 64-bit program (machine 0x014c)", "BRACKENHUE_RUNTIME_FOLDER", "not signed"]),
            ("a jar", INSTALLER, True, True, []),
            ("empty", b"", True, True, []),
            ("MZ without PE", b"MZ" + b"\x00" * 100, False, True, []),
        ]
        for tag, data, ready_made, error, warnings in cases:
            with self.subTest(tag):
                errors, given = check_payloads.check_runtime(data, ready_made)
                self.assertEqual(bool(errors), error, errors)
                for fragment in warnings:
                    self.assertTrue(any(fragment in text for text in given), given)
                if not warnings:
                    self.assertEqual(given, [])


MANIFEST = b"Manifest-Version: 1.0\nMain-Class: Main\n\n"
# What Main prints, so a start is told apart from any other exit 0.
STARTED = "brackenhue-check-started"
NO_MANIFEST = "no META-INF/MANIFEST.MF entry (java -jar matches the name exactly; it has %s)"
NO_MAIN_CLASS = "its manifest META-INF/MANIFEST.MF names no Main-Class, so java -jar cannot start it"


def java_missing():
    """Why jars cannot be run here, or None."""
    for tool in ("java", "javac"):
        if shutil.which(tool) is None:
            return "no %s on PATH: the installer check is not compared with java -jar" % tool
    return None


# A class that prints text, and one that can be loaded as a Java agent.
CLASS_SOURCE = '%spublic class %s { public static void main(String[] a) { System.out.println("%s"); } }\n'
AGENT_SOURCE = ('public class Agent { public static void agentmain(String a, java.lang.instrument.Instrumentation i) '
                '{ System.out.println("agent"); } }\n')


@functools.lru_cache(maxsize=None)
def compiled(name="Main", release=None, text=STARTED):
    """The class file of the class name (a.b.C for a package) printing
    text, compiled by the host's javac (for the Java release given), or
    where there is none the hand-made class of make_sized_zip.py given the
    major version that release has: the check reads no more of a class."""
    if java_missing():
        data = bytearray(make_sized_zip.CLASS_BYTES)
        if release:
            struct.pack_into(">H", data, 6, release + 44)
        return bytes(data)
    package, _, simple = name.rpartition(".")
    with tempfile.TemporaryDirectory() as folder:
        source = os.path.join(folder, "Agent.java" if name == "Agent" else simple + ".java")
        with open(source, "w") as f:
            f.write(AGENT_SOURCE if name == "Agent" else
                    CLASS_SOURCE % ("package %s; " % package if package else "", simple, text))
        subprocess.run(["javac"] + (["--release", str(release)] if release else []) + ["-d", folder, source],
                       check=True)
        with open(os.path.join(folder, *name.split(".")) + ".class", "rb") as f:
            return f.read()


def main_class():
    return compiled()


def with_version(data, major, minor=0):
    """A class file given another version."""
    return data[:4] + struct.pack(">HH", minor, major) + data[8:]


def jar(manifest=MANIFEST, name="META-INF/MANIFEST.MF", method=zipfile.ZIP_STORED, comment=b"", extra=(),
        into=None, classes=None):
    """A jar of the manifest (None for none), the classes ((name, bytes),
    Main.class when not given) and the extra (name, bytes, method)
    entries, written into the stream given or a new one, at its current
    position."""
    out = into or io.BytesIO()
    if classes is None:
        classes = [("Main.class", main_class())]
    with warnings.catch_warnings():
        # Some cases hold a name twice on purpose.
        warnings.simplefilter("ignore", UserWarning)
        with zipfile.ZipFile(out, "w") as archive:
            entries = [] if manifest is None else [(name, manifest, method)]
            entries += [(entry_name, data, zipfile.ZIP_STORED) for entry_name, data in classes] + list(extra)
            for entry_name, data, entry_method in entries:
                archive.writestr(zipfile.ZipInfo(entry_name, (2020, 1, 1, 0, 0, 0)), data, entry_method)
            archive.comment = comment
    return out.getvalue() if isinstance(out, io.BytesIO) else None


class Unseekable(io.RawIOBase):
    """A stream zipfile cannot seek back in, so it writes data descriptors."""

    def __init__(self):
        super().__init__()
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, data):
        self.data += data
        return len(data)


def streamed_jar():
    out = Unseekable()
    jar(into=out)
    data = bytes(out.data)
    assert struct.unpack_from("<H", data, 6)[0] & 8, "no data descriptor"
    return data


def with_zip64_end(data, locator_shift=0, directory_disk=0):
    """A jar (without comment) given ZIP64 end records: its classic end
    record's counts, size and offset 0xFFFF or 0xFFFFFFFF, its directory disk
    directory_disk, the locator's offset moved by locator_shift."""
    end = len(data) - 22
    count, size, offset = struct.unpack_from("<HII", data, end + 10)
    record = struct.pack("<4sQHHIIQQQQ", b"PK\x06\x06", 44, 45, 45, 0, 0, count, count, size, offset)
    locator = struct.pack("<4sIQI", b"PK\x06\x07", 0, end + locator_shift, 1)
    classic = struct.pack("<4sHHHHIIH", b"PK\x05\x06", 0, directory_disk, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
    return data[:end] + record + locator + classic


def stub_in_front():
    """A stub, then a jar written after it, its offsets counted from the
    file's start (what zip -A does to a self-extracting archive)."""
    out = io.BytesIO()
    out.write(b"#!/bin/sh\nexec java -jar \"$0\"\n")
    jar(into=out)
    return out.getvalue()


def first_local_header_gone():
    """A jar whose first entry, Main.class, lost its local header's
    signature; the manifest after it is whole."""
    data = bytearray(jar(None, extra=(("META-INF/MANIFEST.MF", MANIFEST, zipfile.ZIP_STORED),)))
    data[:4] = b"PK\0\0"
    return bytes(data)


def empty_end_record():
    return struct.pack("<4sHHHHIIH", b"PK\x05\x06", 0, 0, 0, 0, 0, 0, 0)


@functools.lru_cache(maxsize=None)
def jar_cases():
    """(tag, archive, None when the check accepts it or a fragment of its
    error) for jars built here; java -jar must agree on each."""
    good = jar()
    many = jar(extra=[("e/%05d" % i, b"", zipfile.ZIP_STORED) for i in range(70000)])
    assert many[-42:-38] == b"PK\x06\x07", "zipfile wrote no ZIP64 end records"
    line = b"X-Long: " + b"x" * (511 - 8)
    bzip2 = (("notes.txt", b"bzip2 is not for jars", zipfile.ZIP_BZIP2),)
    return (
        ("plain executable jar", good, None),
        ("with an archive comment", jar(comment=b"built by hand"), None),
        ("70,000 entries, so ZIP64 end records", many, None),
        ("ZIP64 end records, classic size and offset 0xFFFFFFFF", with_zip64_end(good), None),
        ("ZIP64 locator a byte off", with_zip64_end(good, 1), "no ZIP64 end-of-central-directory record"),
        # Some writers fill every classic field with 0xFFFF; java -jar then refuses.
        ("ZIP64 end records, classic directory disk 0xFFFF", with_zip64_end(good, directory_disk=0xFFFF),
         "starts on disk 65535"),
        ("manifest deflated", jar(method=zipfile.ZIP_DEFLATED), None),
        ("manifest with a data descriptor", streamed_jar(), None),
        ("CRLF line ends", jar(b"Manifest-Version: 1.0\r\nMain-Class: Main\r\n\r\n"), None),
        ("bare CR line ends", jar(b"Manifest-Version: 1.0\rMain-Class: Main\r\r"), None),
        ("Main-Class split by a continuation line", jar(b"Main-Class: Ma\n in\n"), None),
        ("attribute name in other case", jar(b"main-class: Main\n"), None),
        ("a 511-byte line", jar(line + b"\nMain-Class: Main\n"), None),
        ("a 512-byte line", jar(line + b"x\nMain-Class: Main\n"), "longer than the 511 bytes"),
        ("Main-Class only in an entry's section",
         jar(b"Manifest-Version: 1.0\n\nName: Main.class\nMain-Class: Main\n"), "in an entry's section"),
        ("Main-Class on a last line without a line break", jar(b"Main-Class: Main"), "has no line break"),
        ("manifest without Main-Class", jar(b"Manifest-Version: 1.0\n"), NO_MAIN_CLASS),
        ("empty Main-Class", jar(b"Main-Class: \n"), "empty Main-Class"),
        ("no space after the colon", jar(b"Main-Class:Main\n"), "a colon and a space"),
        ("a section without Name after a blank line", jar(b"Main-Class: Main\n\nCreated-By: hand\n"),
         "without 'Name: '"),
        ("no manifest", jar(None), NO_MANIFEST % "1 entry"),
        ("manifest name in other case", jar(name="meta-inf/manifest.mf"), NO_MANIFEST % "2 entries"),
        ("an entry packed with bzip2", jar(extra=bzip2), "method 12"),
        ("first entry's local header gone", first_local_header_gone(), "its first entry has no local file header"),
        ("data in front, offsets for the jar alone", b"#!/bin/sh\nexit 1\n" + good, None),
        ("data in front, offsets moved for it", stub_in_front(), None),
        ("two jars joined", good + good, None),
        ("comment holding PK\\5\\6", jar(comment=b"not an end record: PK\x05\x06 PK\x05\x06"), None),
        ("comment ending in an end record that fits", jar(comment=b"spare " + empty_end_record()),
         NO_MANIFEST % "no entries"),
        ("a byte after the end record", good + b"\x00", "no end-of-central-directory record"),
        ("cut short by a byte", good[:-1], "no end-of-central-directory record"),
        ("cut in half", good[:len(good) // 2], "no end-of-central-directory record"),
        ("not a ZIP archive", b"Main-Class: Main\n" * 20, "no end-of-central-directory record"),
        ("empty", b"", "too short"),
    ) + class_cases()


MULTI_RELEASE = b"Main-Class: Main\nMulti-Release: true\n"
ABSENT = "its manifest META-INF/MANIFEST.MF names %s %s, but the jar has no entry %s, so java -jar cannot start it"


def class_cases():
    """(tag, archive, fragment) for the classes the manifest names, with
    no runtime stated: a class in META-INF/versions/ counts."""
    packaged = [("app/Main.class", compiled("app.Main"))]
    agent = [("Main.class", main_class()), ("Agent.class", compiled("Agent"))]
    with_agent = b"Main-Class: Main\nLauncher-Agent-Class: %s\n"
    only_versioned = [("META-INF/versions/9/Main.class", main_class())]
    return (
        ("Main-Class not in the jar", jar(b"Main-Class: Absent\n"),
         ABSENT % ("Main-Class", "Absent", "Absent.class")),
        ("Main-Class in a package", jar(b"Main-Class: app.Main\n", classes=packaged), None),
        ("Main-Class in a package, written with slashes", jar(b"Main-Class: app/Main\n", classes=packaged), None),
        ("Main-Class without its package", jar(b"Main-Class: Main\n", classes=packaged),
         ABSENT % ("Main-Class", "Main", "Main.class")),
        ("Main-Class naming the class file", jar(b"Main-Class: app.Main.class\n", classes=packaged),
         "no entry app/Main/class.class"),
        ("Main.class only as a folder", jar(classes=[("Main.class/", b"")]), "no entry Main.class,"),
        ("Main.class not a class file", jar(classes=[("Main.class", b"public class Main {}")]),
         "its Main-Class Main (Main.class) is not a class file"),
        ("Main.class deflated", jar(extra=(("Main.class", main_class(), zipfile.ZIP_DEFLATED),), classes=[]),
         None),
        # Java's zip reader takes the last entry of a name.
        ("two Main.class, the first not a class file",
         jar(classes=[("Main.class", b"\0" * 100), ("Main.class", main_class())]), None),
        ("two Main.class, the last not a class file",
         jar(classes=[("Main.class", main_class()), ("Main.class", b"\0" * 100)]), "is not a class file"),
        ("Main.class using preview features", jar(classes=[("Main.class", with_version(main_class(), 61, 0xFFFF))]),
         "uses preview features of Java 17 (class file version 61.65535)"),
        ("Main-Class only in META-INF/versions/9, multi-release", jar(MULTI_RELEASE, classes=only_versioned), None),
        ("Main-Class only in META-INF/versions/9, not multi-release", jar(classes=only_versioned),
         "META-INF/versions/9/Main.class is there, but Java reads META-INF/versions/ only in a jar whose "
         "manifest's main section says Multi-Release: true"),
        # Java looks for "Multi-Release: true" in the manifest's bytes first.
        ("Multi-Release: true split by a continuation line",
         jar(b"Main-Class: Main\nMulti-Release: tr\n ue\n", classes=only_versioned), "Multi-Release: true)"),
        ("Multi-Release: TRUE in other case", jar(b"Main-Class: Main\nmulti-release: TRUE\n", classes=only_versioned),
         None),
        ("Main-Class only in META-INF/versions/09, multi-release",
         jar(MULTI_RELEASE, classes=[("META-INF/versions/09/Main.class", main_class())]),
         ABSENT % ("Main-Class", "Main", "Main.class")),
        ("Launcher-Agent-Class not in the jar", jar(with_agent % b"Absent"),
         ABSENT % ("Launcher-Agent-Class", "Absent", "Absent.class")),
        ("Launcher-Agent-Class in the jar", jar(with_agent % b"Agent", classes=agent), None),
        ("Launcher-Agent-Class with spaces around it", jar(with_agent % b"  Agent  ", classes=agent), None),
        ("Launcher-Agent-Class with a tab after it", jar(with_agent % b"Agent\t", classes=agent),
         "no entry Agent\t.class"),
        ("empty Launcher-Agent-Class", jar(with_agent % b""), "has an empty Launcher-Agent-Class"),
        ("Launcher-Agent-Class only in an entry's section",
         jar(b"Main-Class: Main\n\nName: Main.class\nLauncher-Agent-Class: Absent\n"), None),
        ("Launcher-Agent-Class only in META-INF/versions/9, multi-release",
         jar(MULTI_RELEASE + b"Launcher-Agent-Class: Agent\n",
             classes=agent[:1] + [("META-INF/versions/9/Agent.class", compiled("Agent"))]), None),
    )


def runtime_cases():
    """(tag, the runtime's Java feature release, archive, fragment) for a
    runtime the build knows."""
    for_8, for_17 = compiled(release=8), compiled(release=17)
    multi = b"Main-Class: Main\nMulti-Release: true\n"
    return (
        # Java 8 refuses a class file above version 52 (UnsupportedClassVersionError); the host's Java is
        # not that runtime, so this row is not compared with it.
        ("class for Java 17, runtime Java 8", 8, jar(classes=[("Main.class", for_17)]),
         "its Main-Class Main (Main.class) is compiled for Java 17 (class file version 61), but the bundled "
         "runtime is Java 8, which loads class files up to version 52"),
        ("class for Java 8, runtime Java 8", 8, jar(classes=[("Main.class", for_8)]), None),
        ("class for Java 17, runtime Java 17", 17, jar(classes=[("Main.class", for_17)]), None),
        ("class for Java 18, runtime Java 17", 17, jar(classes=[("Main.class", with_version(for_17, 62))]),
         "compiled for Java 18 (class file version 62)"),
        ("deflated class for Java 17, runtime Java 8", 8,
         jar(classes=[], extra=(("Main.class", for_17, zipfile.ZIP_DEFLATED),)), "compiled for Java 17"),
        # Java 8 never reads META-INF/versions/.
        ("multi-release, class only in versions/9, runtime Java 8", 8,
         jar(multi, classes=[("META-INF/versions/9/Main.class", for_8)]),
         "the bundled runtime, Java 8, never reads META-INF/versions/"),
        ("multi-release, class only in versions/18, runtime Java 17", 17,
         jar(multi, classes=[("META-INF/versions/18/Main.class", for_8)]),
         "the bundled runtime, Java 17, reads no folder above 17"),
        # The copy the runtime reads is the one whose version counts.
        ("multi-release, versions/11 copy for Java 17, runtime Java 11", 11,
         jar(multi, classes=[("Main.class", for_8), ("META-INF/versions/11/Main.class", for_17)]),
         "its Main-Class Main (META-INF/versions/11/Main.class) is compiled for Java 17"),
        ("multi-release, versions/11 copy for Java 17, runtime Java 17", 17,
         jar(multi, classes=[("Main.class", for_8), ("META-INF/versions/11/Main.class", for_17)]), None),
        ("multi-release, versions/11 copy for Java 17, runtime Java 8", 8,
         jar(multi, classes=[("Main.class", for_8), ("META-INF/versions/11/Main.class", for_17)]), None),
        # Java 8 knows no Launcher-Agent-Class.
        ("Launcher-Agent-Class not in the jar, runtime Java 8", 8,
         jar(b"Main-Class: Main\nLauncher-Agent-Class: Absent\n", classes=[("Main.class", for_8)]), None),
        ("Launcher-Agent-Class not in the jar, runtime Java 17", 17,
         jar(b"Main-Class: Main\nLauncher-Agent-Class: Absent\n"), "names Launcher-Agent-Class Absent"),
        ("Launcher-Agent-Class for Java 18, runtime Java 17", 17,
         jar(b"Main-Class: Main\nLauncher-Agent-Class: Agent\n",
             classes=[("Main.class", for_17), ("Agent.class", with_version(compiled("Agent"), 62))]),
         "its Launcher-Agent-Class Agent (Agent.class) is compiled for Java 18"),
    )


def signing_missing():
    """Why signed jars cannot be made here, or None."""
    for tool in ("keytool", "jarsigner"):
        if shutil.which(tool) is None:
            return "no %s on PATH: no signed jars are made" % tool
    return java_missing()


SIGNER = "signer"
PASSWORD = "brackenhue"


@functools.lru_cache(maxsize=None)
def keystore():
    """A throwaway keystore (it lasts as long as the test)."""
    folder = tempfile.mkdtemp(prefix="check-payloads-keys-")
    atexit.register(shutil.rmtree, folder, True)
    path = os.path.join(folder, "keys.p12")
    subprocess.run(["keytool", "-genkeypair", "-keystore", path, "-storetype", "PKCS12", "-storepass", PASSWORD,
                    "-keypass", PASSWORD, "-alias", SIGNER, "-keyalg", "RSA", "-keysize", "2048",
                    "-dname", "CN=Brackenhue throwaway signer", "-validity", "2"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return path


def signed(data, digest="SHA-256"):
    """The jar signed by jarsigner, with entry digests of the algorithm given."""
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "signed.jar")
        with open(path, "wb") as f:
            f.write(data)
        subprocess.run(["jarsigner", "-keystore", keystore(), "-storepass", PASSWORD, "-digestalg", digest, path,
                        SIGNER], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(path, "rb") as f:
            return f.read()


def entries_of(data):
    with zipfile.ZipFile(io.BytesIO(data)) as archive:
        return [(info.filename, archive.read(info), info.compress_type) for info in archive.infolist()]


def rewritten(data, replace=None, drop=(), add=()):
    """The jar again, in the same order, its entries named in replace given
    other bytes, those in drop left out, the (name, bytes) in add added."""
    replace = replace or {}
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as archive:
        for name, content, method in entries_of(data) + [(name, content, zipfile.ZIP_STORED) for name, content in add]:
            if name not in drop:
                archive.writestr(zipfile.ZipInfo(name, (2020, 1, 1, 0, 0, 0)), replace.get(name, content), method)
    return out.getvalue()


def main_class_digest(text, digested):
    """A manifest or signature file whose SHA-256 digest for Main.class is
    that of digested."""
    return re.sub(rb"(Name: Main\.class\r\nSHA-256-Digest: )\S+",
                  lambda m: m.group(1) + base64.b64encode(hashlib.sha256(digested).digest()), text)


def redigested(data, main_class_bytes):
    """A jar signed with SHA-256 digests, Main.class replaced and every digest
    of it made again: the manifest's and the signature file's, all but the
    signature block, which then no longer fits."""
    files = {name: content for name, content, _ in entries_of(data)}
    manifest = main_class_digest(files["META-INF/MANIFEST.MF"], main_class_bytes)
    section = manifest[manifest.index(b"Name: Main.class"):]
    sf = re.sub(rb"(SHA-256-Digest-Manifest: )\S+",
                lambda m: m.group(1) + base64.b64encode(hashlib.sha256(manifest).digest()),
                files["META-INF/SIGNER.SF"])
    sf = main_class_digest(sf, section)
    assert sf != files["META-INF/SIGNER.SF"]
    return rewritten(data, {"Main.class": main_class_bytes, "META-INF/MANIFEST.MF": manifest, "META-INF/SIGNER.SF": sf})


SHA1_CHANGED = "SHA-1 digests, then Main.class changed"
RESOURCE_CHANGED = "signed, then a resource changed"
# Signed rows whose verdict the host's java -jar does not show, and why.
NOT_COMPARED = {
    # The bundled runtime may be an older Java 8 that verifies SHA-1 digests and refuses the jar.
    SHA1_CHANGED: "Java 17 no longer trusts SHA-1 in jar signatures and runs such a jar as if unsigned",
    # The installer fails later, when it reads the entry.
    RESOURCE_CHANGED: "java -jar starts it: Java refuses a changed entry only when it reads that entry",
}


@functools.lru_cache(maxsize=None)
def signed_cases():
    """(tag, archive, fragment of the refusal or None) for signed jars, as
    the check's own digest comparison judges them (no JDK)."""
    changed_class = compiled(text=STARTED + " changed")
    good = signed(jar())
    other = signed(jar(classes=[("Main.class", changed_class)]))
    plain = jar()

    def changed(data):
        return rewritten(data, {"Main.class": changed_class})

    def meta(data, *names):
        return [(name, content) for name, content, _ in entries_of(data) if name in names]

    # A name longer than a manifest line, which jarsigner continues on the next.
    long_name = "resources/" + "a-long-folder-name/" * 5 + "notes.txt"
    long_signed = signed(jar(extra=((long_name, b"signed notes", zipfile.ZIP_DEFLATED),)))
    manifest = dict(meta(good, "META-INF/MANIFEST.MF"))["META-INF/MANIFEST.MF"]
    main_section = manifest[:manifest.index(b"\r\n\r\n") + 4]
    signature = ("META-INF/SIGNER.SF", "META-INF/SIGNER.RSA")
    return (
        ("signed, SHA-256 digests", good, None),
        ("signed, SHA-384 digests", signed(jar(), "SHA-384"), None),
        ("signed, SHA-512 digests", signed(jar(), "SHA-512"), None),
        ("signed, SHA-1 digests", signed(jar(), "SHA-1"), None),
        ("signed, then an entry added", rewritten(good, add=[("notes.txt", b"not signed")]), None),
        ("signed, an entry's name continued on a second line", long_signed, None),
        (RESOURCE_CHANGED, rewritten(long_signed, {long_name: b"other notes"}),
         "its entry %s does not match its SHA-256 digest" % long_name),
        # The whole manifest no longer matches, so each signed section is found and compared.
        ("signed, then a section added to the manifest", rewritten(long_signed, {
            "META-INF/MANIFEST.MF": dict(meta(long_signed, "META-INF/MANIFEST.MF"))["META-INF/MANIFEST.MF"] +
            b"Name: notes.txt\r\nX-Added: after signing\r\n\r\n"}, add=[("notes.txt", b"not signed")]), None),
        ("signed, then Main.class changed", changed(good),
         "its entry Main.class does not match its SHA-256 digest in the manifest"),
        ("SHA-512 digests, then Main.class changed", changed(signed(jar(), "SHA-512")),
         "its entry Main.class does not match its SHA-512 digest"),
        (SHA1_CHANGED, changed(signed(jar(), "SHA-1")), "its entry Main.class does not match its SHA-1 digest"),
        ("signed, then the manifest's main section changed",
         rewritten(good, {"META-INF/MANIFEST.MF": manifest.replace(b"Main-Class: Main\r\n",
                                                                   b"Main-Class: Main\r\nX-Changed: yes\r\n")}),
         "its manifest's main section does not match its SHA-256 digest in META-INF/SIGNER.SF"),
        ("signed, then Main.class and its digest in the manifest changed",
         rewritten(good, {"Main.class": changed_class,
                          "META-INF/MANIFEST.MF": main_class_digest(manifest, changed_class)}),
         "its manifest's section for Main.class does not match its SHA-256 digest in META-INF/SIGNER.SF"),
        ("signature files from another jar", rewritten(plain, add=meta(other, *signature)),
         "its manifest's main section does not match its SHA-256 digest in META-INF/SIGNER.SF"),
        ("signature files and the manifest's main section from another jar",
         rewritten(plain, {"META-INF/MANIFEST.MF": main_section}, add=meta(other, *signature)),
         "META-INF/SIGNER.SF signs Main.class, but its manifest has no section for it"),
        ("manifest and signature files from another jar",
         rewritten(plain, {"META-INF/MANIFEST.MF": dict(meta(other, "META-INF/MANIFEST.MF"))["META-INF/MANIFEST.MF"]},
                   add=meta(other, *signature)),
         "its entry Main.class does not match its SHA-256 digest in the manifest"),
        # Java verifies only a signature file with a block beside it.
        ("a signature file without its block, then Main.class changed",
         changed(rewritten(good, drop=("META-INF/SIGNER.RSA",))), None),
        # The check's own comparison cannot tell this one; jarsigner can (see SignedJars).
        ("digests made again after a change, the block left as it was", redigested(good, changed_class), None),
    )


class InstallerArchive(unittest.TestCase):
    """What the check says about each jar, with or without a java here."""

    def test_cases(self):
        cases = jar_cases() + (
            ("demo installer", INSTALLER, None),
            ("a program", RUNTIME, "no end-of-central-directory record"),
        )
        for tag, data, fragment in cases:
            with self.subTest(tag):
                self.verdict(check_payloads.check_installer(data), fragment)

    def test_runtime_stated(self):
        for tag, feature, data, fragment in runtime_cases():
            with self.subTest(tag):
                self.verdict(check_payloads.check_installer(data, feature), fragment)

    def test_signed(self):
        missing = signing_missing()
        if missing:
            self.skipTest(missing)
        for tag, data, fragment in signed_cases():
            with self.subTest(tag):
                self.verdict(check_payloads.check_installer(data), fragment)

    def verdict(self, errors, fragment):
        if fragment is None:
            self.assertEqual(errors, [])
        else:
            self.assertEqual(len(errors), 1, errors)
            self.assertIn(fragment, errors[0])


class ManifestValue(unittest.TestCase):
    """The Main-Class value read from a manifest, where the verdict alone
    would not show a misread."""

    def test_cases(self):
        cases = [
            # tag, manifest, Main-Class
            ("split by a continuation line", b"Main-Class: app.Ma\n in\n", "app.Main"),
            ("split after the colon", b"Main-Class: \n app.Main\n", "app.Main"),
            ("CRLF line ends", b"Manifest-Version: 1.0\r\nMain-Class: app.Main\r\n X\r\n\r\n", "app.MainX"),
            ("bare CR line ends", b"Main-Class: app.Main\r X\rClass-Path: lib.jar\r", "app.MainX"),
            ("name in other case", b"MAIN-CLASS: app.Main\n", "app.Main"),
            ("blanks around the value", b"Main-Class:  app.Main \t\n", "app.Main"),
            ("the later of two", b"Main-Class: app.First\nMain-Class: app.Second\n", "app.Second"),
        ]
        for tag, text, value in cases:
            with self.subTest(tag):
                self.assertEqual(check_payloads.main_class(text), value)


@functools.lru_cache(maxsize=None)
def host_feature():
    """The Java feature release of the host's java."""
    ran = subprocess.run(["java", "-version"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                         universal_newlines=True, errors="replace")
    found = re.search(r'version "(?:1\.)?(\d+)', ran.stdout)
    assert found, ran.stdout
    return int(found.group(1))


class JavaAgrees(unittest.TestCase):
    """The check accepts exactly the jars the host's java -jar starts."""

    def test_cases(self):
        missing = java_missing()
        if missing:
            self.skipTest(missing)
        cases = [(tag, None, data) for tag, data, _ in jar_cases()]
        cases += [(tag, feature, data) for tag, feature, data, _ in runtime_cases()]
        if not signing_missing():
            cases += [(tag, None, data) for tag, data, _ in signed_cases()]
        # As a build with a JDK checks: jarsigner too.
        jarsigner = check_payloads.find_jarsigner()
        with tempfile.TemporaryDirectory() as folder:
            for tag, feature, data in cases:
                with self.subTest(tag):
                    if feature not in (None, host_feature()):
                        self.skipTest("the row states a Java %d runtime; the host's java is Java %d"
                                      % (feature, host_feature()))
                    if tag in NOT_COMPARED:
                        self.skipTest(NOT_COMPARED[tag])
                    path = os.path.join(folder, "installer.jar")
                    with open(path, "wb") as f:
                        f.write(data)
                    try:
                        ran = subprocess.run(["java", "-jar", path], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                             stderr=subprocess.STDOUT, universal_newlines=True, errors="replace",
                                             timeout=60)
                    except subprocess.TimeoutExpired:
                        self.fail("java -jar did not end within a minute")
                    started = ran.returncode == 0 and STARTED in ran.stdout
                    errors = check_payloads.check_installer(data, feature, path, jarsigner)
                    self.assertEqual(not errors, started,
                                     "check: %s; java -jar (exit %d): %s" % (errors, ran.returncode, ran.stdout))


class SignedJars(unittest.TestCase):
    """jarsigner -verify, when a JDK is there, on top of the check's own
    digest comparison."""

    REDIGESTED = "digests made again after a change, the block left as it was"

    def setUp(self):
        missing = signing_missing()
        if missing:
            self.skipTest(missing)
        self.cases = {tag: data for tag, data, _ in signed_cases()}

    def test_jarsigner(self):
        cases = [
            # tag, refused with jarsigner
            ("signed, SHA-256 digests", False),
            # jarsigner warns of entries outside the signature; Java runs the jar.
            ("signed, then an entry added", False),
            ("a signature file without its block, then Main.class changed", False),
            (self.REDIGESTED, True),
        ]
        jarsigner = check_payloads.find_jarsigner()
        with tempfile.TemporaryDirectory() as folder:
            for tag, refused in cases:
                with self.subTest(tag):
                    path = os.path.join(folder, "installer.jar")
                    with open(path, "wb") as f:
                        f.write(self.cases[tag])
                    self.assertEqual(check_payloads.check_installer(self.cases[tag]), [])
                    errors = check_payloads.check_installer(self.cases[tag], None, path, jarsigner)
                    if not refused:
                        self.assertEqual(errors, [])
                        continue
                    self.assertEqual(len(errors), 1, errors)
                    self.assertIn("%s -verify refuses its signature, and Java refuses such a jar: jarsigner: "
                                  % jarsigner, errors[0])

    def test_found_through_path(self):
        java = os.path.realpath(shutil.which("java"))
        with tempfile.TemporaryDirectory() as folder:
            installer = os.path.join(folder, "installer.jar")
            with open(installer, "wb") as f:
                f.write(self.cases[self.REDIGESTED])
            only_java = os.path.join(folder, "only-java")
            os.mkdir(only_java)
            os.symlink(java, os.path.join(only_java, "java"))
            nothing = os.path.join(folder, "nothing")
            os.mkdir(nothing)
            on_path = shutil.which("jarsigner")
            cases = [
                # tag, PATH, the jarsigner that refuses it (None: accepted)
                ("jarsigner on PATH", os.path.dirname(on_path), on_path),
                ("only a link to the JDK's java on PATH", only_java, os.path.join(os.path.dirname(java), "jarsigner")),
                ("no JDK on PATH: the check's own comparison only", nothing, None),
            ]
            for tag, path, jarsigner in cases:
                with self.subTest(tag):
                    saved = os.environ["PATH"]
                    os.environ["PATH"] = path
                    try:
                        status, err = run_main(check_payloads, ["--installer", "BRACKENHUE_INSTALLER_ARCHIVE",
                                                                installer])
                    finally:
                        os.environ["PATH"] = saved
                    if jarsigner is None:
                        self.assertEqual((status, err), (0, ""))
                        continue
                    self.assertEqual(status, 1, err)
                    self.assertTrue(err.startswith("error: BRACKENHUE_INSTALLER_ARCHIVE: %s: %s -verify refuses its "
                                                   "signature" % (installer, jarsigner)), err)


def run_main(module, argv):
    """(exit status, stderr) of module.main(argv)."""
    err = io.StringIO()
    with contextlib.redirect_stderr(err):
        status = module.main(argv)
    return status, err.getvalue()


# What make_sized_zip.py puts in every jar it makes.
SIZED_MANIFEST = b"Manifest-Version: 1.0\r\nMain-Class: Main\r\nCreated-By: make_sized_zip.py\r\n\r\n"


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
    """make_sized_zip.py makes plain ZIPs of exactly the size asked for,
    jars the installer check accepts."""

    def test_cases(self):
        cases = [
            # tag, size, sparse
            ("smallest", 528, False),
            ("a few hundred bytes", 600, False),
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
                errors = check_payloads.check_installer(data)
        self.assertEqual(errors, [])
        with zipfile.ZipFile(path) as archive:
            infos = archive.infolist()
            self.assertEqual([i.filename for i in infos], ["META-INF/MANIFEST.MF", "Main.class", "payload.bin"])
            manifest = archive.read(infos[0])
            self.assertEqual(manifest, SIZED_MANIFEST)
            self.assertEqual(check_payloads.main_class(manifest), "Main")
            for info in infos:
                self.assertEqual(info.compress_type, zipfile.ZIP_STORED, info.filename)
                self.assertEqual(info.date_time, (2020, 1, 1, 0, 0, 0), info.filename)
            payload = infos[2]
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
        if size <= 32 << 20 and not java_missing():
            # The hand-made Main.class is one Java loads and runs.
            ran = subprocess.run(["java", "-jar", path], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, universal_newlines=True, errors="replace", timeout=60)
            self.assertEqual((ran.returncode, ran.stdout), (0, ""))
        if size <= 32 << 20:
            again = path + ".again"
            made = make_sized_zip(size, again, sparse)
            self.assertEqual(made.returncode, 0, made.stderr)
            try:
                self.assertTrue(filecmp.cmp(path, again, shallow=False), "a second run wrote other bytes")
            finally:
                os.remove(again)

    def test_refused_sizes(self):
        cases = [
            # tag, size, message fragment
            ("one byte short of the smallest", 527, "at least 528"),
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
            ("the demo runtime", RUNTIME, None),
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
    def test_error_names_the_setting_the_file_and_the_rule(self):
        with tempfile.TemporaryDirectory() as folder:
            broken = os.path.join(folder, "broken.jar")
            with open(broken, "wb") as f:
                f.write(jar(b"Manifest-Version: 1.0\n"))
            status, err = run_main(check_payloads, ["--installer", "BRACKENHUE_INSTALLER_ARCHIVE", broken])
            self.assertEqual(status, 1)
            self.assertEqual(err, "error: BRACKENHUE_INSTALLER_ARCHIVE: %s: %s\n" % (broken, NO_MAIN_CLASS))

    def test_runtime_facts(self):
        newer = ("its Main-Class Main (Main.class) is compiled for Java 17 (class file version 61), but the bundled "
                 "runtime is Java 8, which loads class files up to version 52, so java -jar cannot start it")
        cases = [
            # tag, facts file text (None: no --runtime-facts, False: named but missing), error after
            # "error: " or None
            ("no facts: a ready-made runtime", None, None),
            ("java_feature=8", "java_feature=8\n", "BRACKENHUE_INSTALLER_ARCHIVE: {jar}: " + newer),
            ("java_feature=17 among other lines", "java_version=17.0.8\r\njava_feature=17\r\nmachine=x64\r\n", None),
            ("no java_feature line", "java_version=unknown\n", None),
            ("facts named but missing", False, "BRACKENHUE_RUNTIME_FOLDER: cannot read {facts}: "),
            ("java_feature=1.8", "java_feature=1.8\n",
             "BRACKENHUE_RUNTIME_FOLDER: {facts}: line 1 gives java_feature=1.8, not a Java feature release"),
        ]
        with tempfile.TemporaryDirectory() as folder:
            runtime = os.path.join(folder, "jre_x64.exe")
            with open(runtime, "wb") as f:
                f.write(RUNTIME)
            installer = os.path.join(folder, "installer.jar")
            with open(installer, "wb") as f:
                f.write(jar(classes=[("Main.class", compiled(release=17))]))
            facts = runtime + ".facts"
            for tag, text, error in cases:
                with self.subTest(tag):
                    if os.path.exists(facts):
                        os.remove(facts)
                    argv = ["--runtime", "BRACKENHUE_RUNTIME_FOLDER", runtime]
                    if text is not None:
                        argv += ["--runtime-facts", facts]
                    if text:
                        with open(facts, "w", newline="") as f:
                            f.write(text)
                    status, err = run_main(check_payloads, argv + ["--installer", "BRACKENHUE_INSTALLER_ARCHIVE",
                                                                   installer])
                    if error is None:
                        self.assertEqual((status, err), (0, ""))
                        continue
                    self.assertEqual(status, 1, err)
                    self.assertEqual(len(err.splitlines()), 1, err)
                    self.assertTrue(err.startswith("error: " + error.format(jar=installer, facts=facts)), err)


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
