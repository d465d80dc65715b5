#!/usr/bin/env python3
"""Checks the two payload inputs before they are built into the launcher.

  check_payloads.py --runtime VARIABLE FILE [--runtime-facts FACTS]
                    --installer VARIABLE FILE

VARIABLE is the build setting the file came from, so a message can say which
setting to fix. Errors stop the build (exit 1); warnings only print. FACTS is
what the runtime archive maker learnt of a runtime it made: key=value lines,
of which java_feature=N (the runtime's Java feature release, 8 for 1.8) is
read; without it, or without the line, the Java of the runtime is not known.

Runtime archive: must be a Windows program (PE image). One given ready-made
(BRACKENHUE_RUNTIME_ARCHIVE) gets a warning when it is not a 64-bit program
or not signed; one the build made from a runtime folder or zip is a signed
(when signing is set) 64-bit program by construction.

Installer archive: must be a jar that java -jar starts, read the way Java
reads it. The end-of-central-directory record may sit behind a comment; ZIP64
end records are followed; bytes in front of the archive are allowed (offsets
count from where the central directory really lies); every entry must be
stored or deflated and not encrypted; META-INF/MANIFEST.MF must be a manifest
Java reads whose main section names a Main-Class. The class it names, and the
one a Launcher-Agent-Class names, must be in the jar as a class file Java
loads (in a multi-release jar, the META-INF/versions/N copy the runtime
reads), compiled for no newer Java than the bundled runtime when the build
knows which Java that is. A signed jar (a META-INF/X.SF with a signature
block X.RSA, .DSA or .EC) must verify as Java verifies it: the signature
file's digests of the manifest, or of its main section and each section it
signs, and the manifest's digests of each signed entry. That comparison runs
always, so a build without a JDK still refuses a jar changed after signing or
one with another jar's signature files; where a JDK is found (jarsigner on
PATH or beside java), jarsigner -verify also checks the blocks' signatures.
Only the end records, the central directory, the manifest, those class files'
headers and, in a signed jar, the signature files and signed entries are read
from the mapped file.

Both together: the launcher carries both archives whole, and Windows will not
start an image above 0x77000000 bytes, so their sizes added must not exceed
that less a margin for the launcher's own code and art. Sizes come from the
file system; the files are not read for this.
"""

import argparse
import base64
import binascii
import hashlib
import mmap
import os
import re
import shutil
import struct
import subprocess
import sys
import zlib

import pe_image

# The kernel's largest image.
WINDOWS_IMAGE_LIMIT = 0x77000000
# Room for everything in the launcher besides the two archives: its code, the
# 17 splash bitmaps (about 450 KB) and section alignment stay well below it.
LAUNCHER_MARGIN = 16 << 20
PAYLOAD_LIMIT = WINDOWS_IMAGE_LIMIT - LAUNCHER_MARGIN


def check_runtime(data, ready_made=True):
    """(errors, warnings) for a runtime archive. A made one (from a runtime
    folder or zip) is a 64-bit program by construction; a ready-made one
    gets warnings for what machines and policies refuse."""
    headers, wrong = pe_image.read_headers(data)
    if headers is None:
        return ["it is not a Windows program: " + wrong], []
    if not ready_made:
        return [], []
    warnings = []
    machine = headers.machine
    if machine != pe_image.IMAGE_FILE_MACHINE_AMD64:
        warnings.append("it is not a 64-bit program (machine 0x%04x): Windows without 32-bit support cannot run it; "
                        "name the runtime folder or the vendor's zip instead (BRACKENHUE_RUNTIME_FOLDER or "
                        "BRACKENHUE_RUNTIME_ZIP) and the build makes a 64-bit archive" % machine)
    if pe_image.directory(data, headers, pe_image.DIRECTORY_SECURITY)[1] == 0:
        warnings.append("it is not signed: machines whose policy lets only signed programs run from TMP refuse it, "
                        "and scanners flag it; the build signs an archive it makes when the signing settings are "
                        "given")
    return [], warnings


class Refused(Exception):
    """An installer archive java -jar would not start; the text says why."""


MANIFEST_NAME = b"META-INF/MANIFEST.MF"
ITS_MANIFEST = "its manifest META-INF/MANIFEST.MF"
END_SIG = b"PK\x05\x06"
LOCATOR_SIG = b"PK\x06\x07"
ZIP64_END_SIG = b"PK\x06\x06"
CENTRAL_SIG = b"PK\x01\x02"
LOCAL_SIG = b"PK\x03\x04"
END_SIZE, LOCATOR_SIZE, ZIP64_END_SIZE, CENTRAL_SIZE, LOCAL_SIZE = 22, 20, 56, 46, 30
MAX_COMMENT = 0xFFFF
MAGIC32 = 0xFFFFFFFF
STORED, DEFLATED = 0, 8
# What an entry is read in.
PIECE = 1 << 20
# Java's manifest reader takes lines into a 512-byte buffer; a line that does
# not end in it is an error.
MANIFEST_LINE_BUFFER = 512
HEADER_NAME = re.compile(rb"[A-Za-z0-9_-]{1,70}")
LINE_BREAK = re.compile(rb"[\r\n]")
# What String.trim() takes off the Main-Class value.
JAVA_TRIM = "".join(map(chr, range(33)))


def find_end(data):
    """Where the end-of-central-directory record starts. Like java -jar, the
    record nearest the end whose comment runs exactly to the last byte: a
    "PK\\5\\6" inside a comment is taken only if its own comment length fits
    too, and then Java takes it as well."""
    if len(data) < END_SIZE:
        raise Refused("it is too short to be a ZIP archive (%d bytes; the end-of-central-directory record alone "
                      "takes %d)" % (len(data), END_SIZE))
    lowest = max(0, len(data) - END_SIZE - MAX_COMMENT)
    stop = len(data)
    while True:
        at = data.rfind(END_SIG, lowest, stop)
        if at < 0:
            raise Refused("no end-of-central-directory record ends it: java -jar needs one in the last %d bytes whose "
                          "comment runs exactly to the end of the file (not a ZIP archive, cut short, or followed "
                          "by other bytes)" % (END_SIZE + MAX_COMMENT))
        if at + END_SIZE <= len(data) and at + END_SIZE + struct.unpack_from("<H", data, at + 20)[0] == len(data):
            return at
        stop = at + len(END_SIG) - 1


def find_directory(data, end):
    """(where the central directory starts, its size, base): base is where
    the archive's offsets count from. Bytes in front of the archive (a stub,
    or another archive) are accepted as Java accepts them: base is where the
    directory lies less where the records say it lies, so offsets written
    for the archive alone and offsets adjusted for the stub both work."""
    size, offset = struct.unpack_from("<II", data, end + 12)
    directory_end = end
    locator = end - LOCATOR_SIZE
    if locator >= 0 and data[locator:locator + 4] == LOCATOR_SIG:
        # Java follows the locator whenever there is one. Its offset is a
        # position in the file, and the ZIP64 end record found there begins
        # where the central directory ends.
        disk = struct.unpack_from("<H", data, end + 6)[0]
        if disk != 0:
            raise Refused("its end-of-central-directory record says the central directory starts on disk %d; "
                          "with ZIP64 records java -jar takes disk 0 only" % disk)
        record = struct.unpack_from("<Q", data, locator + 8)[0]
        if record > locator - ZIP64_END_SIZE or data[record:record + 4] != ZIP64_END_SIG:
            raise Refused("its ZIP64 end-of-central-directory locator points to byte %d, where no ZIP64 "
                          "end-of-central-directory record is; java -jar reads the record there" % record)
        size64, offset64 = struct.unpack_from("<QQ", data, record + 40)
        size = size64 if size == MAGIC32 else size
        offset = offset64 if offset == MAGIC32 else offset
        directory_end = record
    start = directory_end - size
    if start < 0 or offset > start:
        raise Refused("its central directory (%d bytes, %d bytes into the archive by its records) does not fit "
                      "before the record at byte %d that follows it" % (size, offset, directory_end))
    return start, size, start - offset


def zip64_values(extra, fields):
    """fields (size, compressed size, offset of a central header) with
    those that read 0xFFFFFFFF taken from the ZIP64 extra field where it
    holds them. Raises on extra data Java's zip reader refuses."""
    values = list(fields)
    at = 0
    while at + 4 <= len(extra):
        tag, length = struct.unpack_from("<HH", extra, at)
        at += 4
        if at + length > len(extra):
            raise Refused("an extra field of %d bytes runs past the end of the extra data" % length)
        if tag == 1:
            if length not in (0, 8, 16, 24, 28) or (length == 0 and MAGIC32 in fields):
                raise Refused("its ZIP64 extra field is %d bytes long, a length Java's zip reader refuses" % length)
            block = at
            for i, value in enumerate(fields):
                if value == MAGIC32 and block + 8 <= at + length:
                    values[i] = struct.unpack_from("<Q", extra, block)[0]
                    if values[i] >= 1 << 63:
                        raise Refused("its ZIP64 extra field holds a size or offset of 2^63 or more")
                    block += 8
        at += length
    return values


def read_directory(data, start, size):
    """Walks the central directory, refusing what makes Java's zip reader
    refuse the whole archive. Returns the header positions of the first
    entry and of the META-INF/MANIFEST.MF entries, the entry count, and
    each name's header position."""
    first = None
    manifests = []
    entries = {}
    at, stop = start, start + size
    index = 0
    while at < stop:
        if at + CENTRAL_SIZE > stop or data[at:at + 4] != CENTRAL_SIG:
            raise Refused("its central directory has no central file header at byte %d (entry %d); the directory "
                          "must start %d bytes before the record after it and be made of headers only"
                          % (at, index + 1, size))
        flags, method = struct.unpack_from("<HH", data, at + 8)
        name_length, extra_length, comment_length = struct.unpack_from("<HHH", data, at + 28)
        after = at + CENTRAL_SIZE + name_length + extra_length + comment_length
        if after > stop:
            raise Refused("entry %d of its central directory runs past the directory's end" % (index + 1))
        name = data[at + CENTRAL_SIZE:at + CENTRAL_SIZE + name_length]
        try:
            shown = name.decode("utf-8")
        except UnicodeDecodeError:
            raise Refused("the name of entry %d of its central directory is not UTF-8, which Java's zip reader "
                          "refuses (%r)" % (index + 1, name))
        if method not in (STORED, DEFLATED):
            raise Refused("its entry %s is packed with method %d; Java's zip reader refuses an archive with any "
                          "entry neither stored (0) nor deflated (8)" % (shown, method))
        if flags & 1:
            raise Refused("its entry %s is encrypted; Java's zip reader refuses an archive with encrypted entries"
                          % shown)
        if extra_length:
            extra = data[at + CENTRAL_SIZE + name_length:at + CENTRAL_SIZE + name_length + extra_length]
            try:
                compressed, size_field = struct.unpack_from("<II", data, at + 20)
                zip64_values(extra, (size_field, compressed, struct.unpack_from("<I", data, at + 42)[0]))
            except Refused as error:
                raise Refused("entry %s: %s" % (shown, error))
        if first is None:
            first = at
        if name == MANIFEST_NAME:
            manifests.append(at)
        # Java's zip reader finds the last entry of a name.
        entries[shown] = at
        at = after
        index += 1
    return first, manifests, index, entries


def local_data(data, base, header, what):
    """Where an entry's data starts, as java -jar finds it: the launcher
    takes the 32-bit offset as it stands, never from a ZIP64 extra field."""
    offset = struct.unpack_from("<I", data, header + 42)[0]
    local = base + offset
    if offset == MAGIC32 or local + LOCAL_SIZE > len(data) or data[local:local + 4] != LOCAL_SIG:
        raise Refused("%s has no local file header at byte %d, where its central directory entry points, "
                      "so java -jar cannot read it" % (what, local))
    name_length, extra_length = struct.unpack_from("<HH", data, local + 26)
    return local + LOCAL_SIZE + name_length + extra_length


def entry_pieces(data, base, header, shown):
    """An entry's bytes in pieces, as Java's zip reader gives them to a
    class loader or the jar verifier: sizes and offset from the ZIP64 extra
    field where the directory entry defers to it, a stored entry's
    compressed size of bytes, a deflated one inflated to its stream's end."""
    method = struct.unpack_from("<H", data, header + 10)[0]
    compressed, size = struct.unpack_from("<II", data, header + 20)
    name_length, extra_length = struct.unpack_from("<HH", data, header + 28)
    offset = struct.unpack_from("<I", data, header + 42)[0]
    extra = data[header + CENTRAL_SIZE + name_length:header + CENTRAL_SIZE + name_length + extra_length]
    size, compressed, offset = zip64_values(extra, (size, compressed, offset))
    local = base + offset
    what = "its entry %s" % shown
    if local + LOCAL_SIZE > len(data) or data[local:local + 4] != LOCAL_SIG:
        raise Refused("%s has no local file header at byte %d, where its central directory entry points, so Java "
                      "cannot read it" % (what, local))
    local_name, local_extra = struct.unpack_from("<HH", data, local + 26)
    start = local + LOCAL_SIZE + local_name + local_extra
    stop = start + compressed
    if stop > len(data):
        raise Refused("%s runs past the end of the file" % what)
    if method == STORED:
        for at in range(start, stop, PIECE):
            yield data[at:min(at + PIECE, stop)]
        return
    inflater = zlib.decompressobj(-zlib.MAX_WBITS)
    for at in range(start, stop, PIECE):
        pending = data[at:min(at + PIECE, stop)]
        while pending and not inflater.eof:
            try:
                # Bounded: a small piece can inflate to a great deal.
                out = inflater.decompress(pending, PIECE)
            except zlib.error as error:
                raise Refused("%s does not inflate (%s)" % (what, error))
            yield out
            pending = inflater.unconsumed_tail
        if inflater.eof:
            return
    raise Refused("%s ends before its deflated data does" % what)


def entry_bytes(data, base, header, shown):
    return b"".join(entry_pieces(data, base, header, shown))


def manifest_text(data, base, header):
    """The manifest entry's bytes, as many as its directory entry says."""
    method = struct.unpack_from("<H", data, header + 10)[0]
    compressed, size = struct.unpack_from("<II", data, header + 20)
    name_length, extra_length = struct.unpack_from("<HH", data, header + 28)
    if compressed == MAGIC32:
        raise Refused("its META-INF/MANIFEST.MF entry keeps its compressed size in a ZIP64 extra field, which "
                      "java -jar's launcher does not read")
    extra = data[header + CENTRAL_SIZE + name_length:header + CENTRAL_SIZE + name_length + extra_length]
    size = zip64_values(extra, (size, compressed, 0))[0]
    start = local_data(data, base, header, "its META-INF/MANIFEST.MF entry")
    if start + compressed > len(data):
        raise Refused("its META-INF/MANIFEST.MF entry runs past the end of the file")
    packed = data[start:start + compressed]
    if method == STORED:
        text = packed[:size]
    else:
        try:
            # At most size bytes: Java reads no more (and 0 would mean no limit).
            text = zlib.decompressobj(-zlib.MAX_WBITS).decompress(packed, size) if size else b""
        except zlib.error as error:
            raise Refused("its META-INF/MANIFEST.MF entry does not inflate (%s)" % error)
    if len(text) < size:
        raise Refused("its META-INF/MANIFEST.MF entry holds %d bytes where its directory entry says %d"
                      % (len(text), size))
    return text


def check_launcher_syntax(text):
    """What java -jar's launcher itself parses before Java starts: the main
    section, up to a blank line or a NUL byte, final line included even
    without a line break. Each header needs a colon and a space; a
    continuation line needs a line break after it."""
    lines = re.split(rb"\r\n|\r|\n", text.split(b"\0", 1)[0])
    for number, line in enumerate(lines, 1):
        if not line:
            return
        if number > 1 and line[:1] == b" ":
            if number == len(lines):
                raise Refused("the last line of %s continues a header but has no line break, which java -jar "
                              "refuses" % ITS_MANIFEST)
            continue
        colon = line.find(b":")
        if colon < 0 or line[colon + 1:colon + 2] != b" ":
            raise Refused("line %d of %s is not a header: java -jar needs 'Name: value', a colon and a space"
                          % (number, ITS_MANIFEST))


def java_lines(text):
    """The manifest's lines as Java's manifest reader takes them: a line
    break is CR LF, CR or LF, and must come within the 512-byte buffer (so a
    CR LF split by the buffer's end leaves an empty line). A last line
    without a break is left out, as Java leaves it out. Yields (line number,
    line, its text when it is the last and has no break)."""
    at = 0
    number = 0
    while at < len(text):
        number += 1
        stop = min(at + MANIFEST_LINE_BUFFER, len(text))
        match = LINE_BREAK.search(text, at, stop)
        if match is None:
            if stop - at >= MANIFEST_LINE_BUFFER:
                raise Refused("line %d of %s is longer than the %d bytes Java's manifest reader takes"
                              % (number, ITS_MANIFEST, MANIFEST_LINE_BUFFER - 1))
            yield number, None, text[at:]
            return
        end = match.start()
        after = end + 1
        if text[end:after] == b"\r" and after < at + MANIFEST_LINE_BUFFER and text[after:after + 1] == b"\n":
            after += 1
        yield number, text[at:end], None
        at = after


def read_manifest(text, what=ITS_MANIFEST):
    """A manifest (or a signature file, which has the same form) read as
    Java reads it; refuses what Java's manifest reader refuses. Returns
    (main, sections, elsewhere, unread): main maps each main-section header
    name, in lower case, to its value; sections maps each entry's name to
    its headers the same way, sections of one name merged as Java merges
    them; elsewhere lists (line number, name in lower case) of the headers
    in entries' sections; unread is the last line when Java leaves it out
    for want of a line break."""
    main = {}
    sections = {}
    elsewhere = []
    unread = None
    header = None  # [line number, name, value] of the header being read
    section = None  # the headers of the entry's section being read
    in_main = True
    section_start = True

    def finish():
        nonlocal section
        if header is None:
            return
        number, name, value = header
        name = name.lower()
        if in_main:
            main[name] = value
            return
        elsewhere.append((number, name))
        if section is None:
            # Its Name header.
            section = sections.setdefault(value.decode("utf-8", "replace"), {})
        else:
            section[name] = value

    for number, line, unterminated in java_lines(text):
        if line is None:
            unread = unterminated
            break
        if not line:
            finish()
            header = None
            section = None
            in_main = False
            section_start = True
            continue
        if line[:1] == b" ":
            if header is None:
                raise Refused("line %d of %s continues a header but no header comes before it in its section"
                              % (number, what))
            header[2] += line[1:]
            continue
        finish()
        colon = line.find(b":")
        name = line[:colon]
        if colon < 0 or line[colon + 1:colon + 2] != b" " or not HEADER_NAME.fullmatch(name):
            raise Refused("line %d of %s is not a header Java reads: 'Name: value', the name 1 to 70 letters, "
                          "digits, '-' or '_', then a colon and a space" % (number, what))
        if section_start and not in_main and name.lower() != b"name":
            raise Refused("line %d of %s starts a section after a blank line without 'Name: ', which Java "
                          "refuses" % (number, what))
        section_start = False
        header = [number, name, line[colon + 2:]]
    finish()
    return main, sections, elsewhere, unread


def main_class_of(main, elsewhere, unread):
    """The Main-Class named in a manifest's main section, from
    read_manifest's parts; refuses a manifest that names none."""
    value = main.get(b"main-class")
    if value is None:
        hints = [" (the Main-Class on line %d is in an entry's section: only the main section, before the first "
                 "blank line, counts)" % number for number, name in elsewhere if name == b"main-class"]
        if unread is not None and re.match(rb"(?i)main-class:", unread):
            hints.append(" (its last line sets Main-Class but has no line break, and Java leaves such a line out)")
        raise Refused("%s names no Main-Class, so java -jar cannot start it%s" % (ITS_MANIFEST, "".join(hints)))
    value = value.decode("utf-8", "replace").strip(JAVA_TRIM)
    if not value:
        raise Refused("%s has an empty Main-Class, so java -jar cannot start it" % ITS_MANIFEST)
    return value


def main_class(text):
    """The Main-Class of the manifest's main section, read as Java reads
    the manifest; refuses what Java's manifest reader refuses."""
    main, _, elsewhere, unread = read_manifest(text)
    return main_class_of(main, elsewhere, unread)


VERSIONS = "META-INF/versions/"
# Java 9 reads META-INF/versions/ first; 8 is the lowest folder it reads.
FIRST_VERSIONED_FEATURE, LOWEST_VERSION_FOLDER = 9, 8
MULTI_RELEASE = b"MULTI-RELEASE: TRUE"
CLASS_MAGIC = b"\xca\xfe\xba\xbe"
# A class file's major version less this is its Java feature release.
MAJOR_TO_FEATURE = 44
PREVIEW_MINOR = 0xFFFF
# The agent loader takes spaces, and only spaces, off the Launcher-Agent-Class.
AGENT_TRIM = " "


def multi_release(main, text):
    """Whether Java reads the jar's META-INF/versions/ (on Java 9 or
    later): only when the manifest's bytes hold "Multi-Release: true" (in
    any case, on one line) and the main section's Multi-Release is true."""
    return MULTI_RELEASE in text.upper() and main.get(b"multi-release", b"").lower() == b"true"


def versioned_copies(entries, name):
    """The N of each META-INF/versions/N/name entry Java can find (N as
    Java writes a number: no leading zero), lowest first."""
    found = []
    for entry in entries:
        if entry.startswith(VERSIONS) and entry.endswith("/" + name):
            number = entry[len(VERSIONS):-len(name) - 1]
            if re.fullmatch(r"[1-9][0-9]*", number) and int(number) >= LOWEST_VERSION_FOLDER:
                found.append(int(number))
    return sorted(found)


def find_class(entries, attribute, class_name, versioned, java_feature):
    """(entry name, header position) of the class file Java loads for the
    class an attribute names: a.b.C (or a/b/C) is a/b/C.class, or in a jar
    Java reads as multi-release, META-INF/versions/N/a/b/C.class for the
    highest N up to the runtime's feature release (for a runtime not known,
    any N). Refuses a class that is not there."""
    name = class_name.replace(".", "/") + ".class"
    copies = versioned_copies(entries, name)
    readable = [number for number in copies if java_feature is None or number <= java_feature]
    if versioned and readable:
        chosen = "%s%d/%s" % (VERSIONS, readable[-1], name)
        return chosen, entries[chosen]
    if name in entries:
        return name, entries[name]
    hint = ""
    if copies:
        where = ", ".join("%s%d/%s" % (VERSIONS, number, name) for number in copies)
        if java_feature is not None and java_feature < FIRST_VERSIONED_FEATURE:
            hint = " (%s is there, but the bundled runtime, Java %d, never reads META-INF/versions/)" % (
                where, java_feature)
        elif not versioned:
            hint = (" (%s is there, but Java reads META-INF/versions/ only in a jar whose manifest's main section "
                    "says Multi-Release: true)" % where)
        else:
            hint = " (%s is there, but the bundled runtime, Java %d, reads no folder above %d)" % (
                where, java_feature, java_feature)
    raise Refused("%s names %s %s, but the jar has no entry %s, so java -jar cannot start it%s"
                  % (ITS_MANIFEST, attribute, class_name, name, hint))


def check_class_file(data, base, entries, attribute, class_name, versioned, java_feature):
    """Refuses the class an attribute names when it is not in the jar, is
    not a class file, needs preview features, or is compiled for a newer
    Java than the bundled runtime (when that runtime is known)."""
    name, header = find_class(entries, attribute, class_name, versioned, java_feature)
    head = b""
    for piece in entry_pieces(data, base, header, name):
        head += piece
        if len(head) >= 8:
            break
    what = "its %s %s (%s)" % (attribute, class_name, name)
    if len(head) < 8 or head[:4] != CLASS_MAGIC:
        raise Refused("%s is not a class file (it does not start with 0xCAFEBABE and a version), so Java cannot "
                      "load it" % what)
    minor, major = struct.unpack(">HH", head[4:8])
    feature = major - MAJOR_TO_FEATURE
    if minor == PREVIEW_MINOR and feature >= 12:
        raise Refused("%s uses preview features of Java %d (class file version %d.%d), which Java loads only when "
                      "started with --enable-preview, and the launcher does not pass that" % (what, feature, major,
                                                                                            minor))
    if java_feature is not None and feature > java_feature:
        raise Refused("%s is compiled for Java %d (class file version %d), but the bundled runtime is Java %d, "
                      "which loads class files up to version %d, so java -jar cannot start it"
                      % (what, feature, major, java_feature, java_feature + MAJOR_TO_FEATURE))


# Digest algorithms of signed jars, by the names Java takes (in lower case).
# Java disables MD5 and MD2 for jars, so they are not checked either.
DIGESTS = {b"sha": "sha1", b"sha1": "sha1", b"sha-1": "sha1", b"sha-224": "sha224", b"sha-256": "sha256",
           b"sha-384": "sha384", b"sha-512": "sha512"}
SIGNATURE_BLOCKS = ("RSA", "DSA", "EC")
# The name by which a signature file's section may sign the main section.
MAIN_SECTION_NAME = "Manifest-Main-Attributes"


def digest_cut(raw):
    """The manifest cut as Java's jar verifier cuts it for digests: (main,
    named), main the main section's (start, end without, end with the blank
    line after it), named each entry name's list of the same for its
    sections; main is None when Java finds no section end."""
    def find(offset):
        # (end of first line, end of section, start of next) as Java finds
        # them: a section ends at a blank line or at a line break that ends
        # the text.
        i, last, blank, first_end = offset, offset - 1, True, None
        while i < len(raw):
            byte = raw[i]
            if byte in b"\r\n":
                if first_end is None:
                    first_end = i - 1
                if byte == 13 and i + 1 < len(raw) and raw[i + 1] == 10:
                    i += 1
                if blank or i == len(raw) - 1:
                    return first_end, last if blank else i, i + 1
                last, blank = i, True
            else:
                blank = False
            i += 1
        return None

    found = find(0)
    if found is None:
        return None, {}
    main = (0, found[1] + 1, found[2])
    named = {}
    start = found[2]
    while True:
        found = find(start)
        if found is None:
            break
        first_end, end, following = found
        first_length, length = first_end - start + 1, end - start + 1
        if first_length >= 6 and raw[start:start + 4].lower() == b"name" and raw[start + 4:start + 6] == b": ":
            name = raw[start + 6:start + first_length]
            # Continuation lines of the name, as Java joins them.
            i = start + first_length
            if i - start < length:
                i += 2 if raw[i:i + 2] == b"\r\n" and i + 1 - start < length else 1
            while i - start < length and raw[i:i + 1] == b" ":
                i += 1
                wrap = i
                while i - start < length and raw[i] not in b"\r\n":
                    i += 1
                name += raw[wrap:i]
                if i - start < length:
                    i += 2 if raw[i:i + 2] == b"\r\n" and i + 1 - start < length else 1
            named.setdefault(name.decode("utf-8", "replace"), []).append((start, end + 1, following))
        start = following
    return main, named


def stated_digests(headers, suffix):
    """(algorithm, hashlib name, digest) of each header ALGORITHM<suffix>
    (suffix in lower case) of an algorithm the check knows; digest is None
    when the value is not Base64."""
    found = []
    for name, value in sorted(headers.items()):
        if name.endswith(suffix) and name[:-len(suffix)] in DIGESTS:
            try:
                digest = base64.b64decode(value)
            except (binascii.Error, ValueError):
                digest = None
            found.append((name[:-len(suffix)].decode().upper(), DIGESTS[name[:-len(suffix)]], digest))
    return found


def digest_of(algorithm, raw, pieces, with_blank=True):
    """The digest of a manifest's sections (start, end, end with the blank
    line) as Java takes it, with or without each section's blank line."""
    made = hashlib.new(algorithm)
    for start, end, following in pieces:
        made.update(raw[start:following if with_blank else end])
    return made.digest()


def signature_files(entries):
    """The signature files Java verifies: each META-INF/X.SF (directly in
    META-INF, any case) with a block META-INF/X.RSA, .DSA or .EC beside it.
    A signature file without a block, or a block without one, is ignored."""
    files, blocks = {}, set()
    for name in entries:
        upper = name.upper()
        if upper.startswith("META-INF/") and "/" not in upper[len("META-INF/"):]:
            stem, _, extension = upper.rpartition(".")
            if extension == "SF":
                files[stem] = name
            elif extension in SIGNATURE_BLOCKS:
                blocks.add(stem)
    return [files[stem] for stem in sorted(files) if stem in blocks]


def check_signature(data, base, entries, raw, sections):
    """Refuses a signed jar Java refuses: a signature file whose digest of
    the whole manifest does not match must match the main section (when it
    gives a digest of it) and every section it names; then each entry it
    signs must match the manifest's digests of it. So a jar changed after
    signing, or with signature files from another jar, is refused; entries
    the signature does not name are not checked, as Java does not check
    them. Whether a block's signature fits its signature file is left to
    jarsigner. Returns whether the jar is signed."""
    found = signature_files(entries)
    cut = None
    signed = {}
    for file_name in found:
        try:
            file_main, file_sections, _, _ = read_manifest(entry_bytes(data, base, entries[file_name], file_name),
                                                           "its signature file %s" % file_name)
        except Refused:
            # Java takes a signature file it cannot read as no signature.
            continue
        whole = stated_digests(file_main, b"-digest-manifest")
        if any(hashlib.new(algorithm, raw).digest() == digest for _, algorithm, digest in whole):
            for name in file_sections:
                signed.setdefault(name, file_name)
            continue
        if cut is None:
            cut = digest_cut(raw)
        main, named = cut
        main_digests = stated_digests(file_main, b"-digest-manifest-main-attributes")
        if main is None and main_digests:
            # Java finds no main section to compare and ignores the signature.
            continue
        for shown, algorithm, digest in main_digests:
            if digest_of(algorithm, raw, [main]) != digest:
                raise Refused("its manifest's main section does not match its %s digest in %s, which Java refuses: "
                              "the manifest was changed after the jar was signed, or the signature files come from "
                              "another jar" % (shown, file_name))
        for name, headers in file_sections.items():
            pieces = named.get(name) or ([main] if name == MAIN_SECTION_NAME and main else None)
            if pieces is None:
                raise Refused("%s signs %s, but its manifest has no section for it, which Java refuses: the "
                              "signature files come from another jar, or the manifest was replaced after signing"
                              % (file_name, name))
            digests = stated_digests(headers, b"-digest")
            for shown, algorithm, digest in digests:
                # Some signers left the blank line out of the digest; Java takes both.
                if digest not in (digest_of(algorithm, raw, pieces), digest_of(algorithm, raw, pieces, False)):
                    raise Refused("its manifest's section for %s does not match its %s digest in %s, which Java "
                                  "refuses: the manifest was changed after the jar was signed, or the signature "
                                  "files come from another jar" % (name, shown, file_name))
            if digests:
                signed.setdefault(name, file_name)
    for name, file_name in sorted(signed.items()):
        # Java reads "./name" and "/name" as name.
        entry = name[2:] if name.startswith("./") else name[1:] if name.startswith("/") else name
        if entry.endswith("/") or entry.upper() == MANIFEST_NAME.decode() or entry not in entries:
            continue
        headers = sections.get(entry) or sections.get("./" + entry) or sections.get("/" + entry)
        if headers is None or not any(key.endswith(b"-digest") for key in headers):
            raise Refused("%s signs its entry %s, but its manifest gives no digest of it, which Java refuses when "
                          "it reads the entry" % (file_name, entry))
        digests = stated_digests(headers, b"-digest")
        if not digests:
            continue
        made = {algorithm: hashlib.new(algorithm) for _, algorithm, _ in digests}
        for piece in entry_pieces(data, base, entries[entry], entry):
            for digest in made.values():
                digest.update(piece)
        for shown, algorithm, digest in digests:
            if made[algorithm].digest() != digest:
                raise Refused("its entry %s does not match its %s digest in the manifest, which Java refuses when "
                              "it reads the entry: the entry was changed after the jar was signed, or the manifest "
                              "and signature files come from another jar" % (entry, shown))
    return bool(found)


def find_jarsigner():
    """The JDK's jarsigner: on PATH, or beside the java on PATH; None
    without a JDK."""
    found = shutil.which("jarsigner")
    java = shutil.which("java")
    if found is None and java is not None:
        beside = os.path.join(os.path.dirname(os.path.realpath(java)), "jarsigner")
        if os.path.isfile(beside) and os.access(beside, os.X_OK):
            found = beside
    return found


def jarsigner_refusal(jarsigner, path):
    """What jarsigner -verify says against a jar, or None when it verifies
    it (warnings, such as a certificate no one vouches for, are not
    refusals: Java runs such a jar) or cannot be run."""
    try:
        ran = subprocess.run([jarsigner, "-verify", path], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, universal_newlines=True, errors="replace")
    except OSError:
        return None
    if ran.returncode == 0:
        return None
    lines = [line.strip() for line in ran.stdout.splitlines() if line.strip()]
    return next((line for line in lines if line.startswith("jarsigner")),
                lines[0] if lines else "exit status %d" % ran.returncode)


def check_installer(data, java_feature=None, path=None, jarsigner=None):
    """Errors for an installer archive: what java -jar refuses. java_feature
    is the bundled runtime's Java feature release (8, 17, ...) when the
    build knows it, else None: the class file's version is not compared, and
    a class in META-INF/versions/ counts as a runtime new enough would read
    it. A signed jar's digests are always checked; with a jarsigner and the
    jar's path, jarsigner -verify checks its signature blocks too."""
    try:
        start, size, base = find_directory(data, find_end(data))
        first, manifests, count, entries = read_directory(data, start, size)
        if not manifests:
            held = {0: "no entries", 1: "1 entry"}.get(count, "%d entries" % count)
            raise Refused("it has no META-INF/MANIFEST.MF entry (java -jar matches the name exactly; it has %s), "
                          "so java -jar cannot start it" % held)
        # The launcher checks the first entry's local header to trust the
        # offsets, and reads the first manifest entry; Java then reads the
        # last one.
        local_data(data, base, first, "its first entry")
        check_launcher_syntax(manifest_text(data, base, manifests[0]))
        text = manifest_text(data, base, manifests[-1])
        main, sections, elsewhere, unread = read_manifest(text)
        main_class = main_class_of(main, elsewhere, unread)
        versioned = (java_feature is None or java_feature >= FIRST_VERSIONED_FEATURE) and multi_release(main, text)
        check_class_file(data, base, entries, "Main-Class", main_class, versioned, java_feature)
        # Java 8 knows no Launcher-Agent-Class; later ones load the class
        # before the Main-Class, and refuse an empty one.
        agent = main.get(b"launcher-agent-class")
        if agent is not None and (java_feature is None or java_feature >= FIRST_VERSIONED_FEATURE):
            agent = agent.decode("utf-8", "replace").strip(AGENT_TRIM)
            if not agent:
                raise Refused("%s has an empty Launcher-Agent-Class, so java -jar cannot start it" % ITS_MANIFEST)
            check_class_file(data, base, entries, "Launcher-Agent-Class", agent, versioned, java_feature)
        if check_signature(data, base, entries, text, sections) and jarsigner and path:
            said = jarsigner_refusal(jarsigner, path)
            if said:
                raise Refused("%s -verify refuses its signature, and Java refuses such a jar: %s" % (jarsigner, said))
    except Refused as error:
        return [str(error)]
    return []


def read_facts(text):
    """The java_feature a runtime facts file states, or None."""
    feature = None
    for number, line in enumerate(text.splitlines(), 1):
        key, equals, value = line.partition("=")
        if equals and key.strip() == "java_feature":
            value = value.strip()
            if not re.fullmatch(r"[0-9]{1,4}", value) or int(value) == 0:
                raise ValueError("line %d gives java_feature=%s, not a Java feature release such as 8 or 17"
                                 % (number, value))
            feature = int(value)
    return feature


def main(argv):
    parser = argparse.ArgumentParser(description="Checks the launcher's payload inputs.")
    parser.add_argument("--runtime", nargs=2, metavar=("VARIABLE", "FILE"))
    parser.add_argument("--runtime-facts", metavar="FACTS",
                        help="what the runtime archive maker learnt of the runtime (java_feature=N)")
    parser.add_argument("--installer", nargs=2, metavar=("VARIABLE", "FILE"))
    args = parser.parse_args(argv)

    failed = False
    sizes = {}
    java_feature = None
    jarsigner = find_jarsigner()
    if args.runtime_facts:
        variable = args.runtime[0] if args.runtime else "the runtime"
        try:
            with open(args.runtime_facts, encoding="utf-8", errors="replace") as f:
                java_feature = read_facts(f.read())
        except OSError as error:
            print("error: %s: cannot read %s: %s" % (variable, args.runtime_facts, error.strerror), file=sys.stderr)
            failed = True
        except ValueError as error:
            print("error: %s: %s: %s" % (variable, args.runtime_facts, error), file=sys.stderr)
            failed = True
    for kind, given in (("runtime", args.runtime), ("installer", args.installer)):
        if not given:
            continue
        variable, path = given
        try:
            with open(path, "rb") as f:
                # Mapped, not read: installer archives run to hundreds of MB.
                size = os.fstat(f.fileno()).st_size
                sizes[kind] = (variable, size)
                data = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) if size else b""
                try:
                    if kind == "runtime":
                        errors, warnings = check_runtime(data, variable == "BRACKENHUE_RUNTIME_ARCHIVE")
                    else:
                        errors, warnings = check_installer(data, java_feature, path, jarsigner), []
                finally:
                    if size:
                        data.close()
        except OSError as error:
            print("error: %s: cannot read %s: %s" % (variable, path, error.strerror), file=sys.stderr)
            failed = True
            continue
        for text in warnings:
            print("warning: %s: %s: %s" % (variable, path, text), file=sys.stderr)
        for text in errors:
            print("error: %s: %s: %s" % (variable, path, text), file=sys.stderr)
            failed = True

    if len(sizes) == 2:
        runtime_variable, runtime_size = sizes["runtime"]
        installer_variable, installer_size = sizes["installer"]
        total = runtime_size + installer_size
        if total > PAYLOAD_LIMIT:
            print("error: %s (%d bytes) plus %s (%d bytes) is %d bytes, above the %d that fit in a launcher "
                  "Windows can load (0x%X less %d MiB for the launcher's code and art)"
                  % (runtime_variable, runtime_size, installer_variable, installer_size, total,
                     PAYLOAD_LIMIT, WINDOWS_IMAGE_LIMIT, LAUNCHER_MARGIN >> 20), file=sys.stderr)
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
