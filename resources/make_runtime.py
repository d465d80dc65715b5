#!/usr/bin/env python3
"""Makes the runtime archive the launcher carries as jre_x64.exe, from a Java
runtime folder or from a vendor's zip of one.

  make_runtime.py --setting NAME (--folder DIR | --zip FILE) --work DIR
                  --output FILE [--compression lzma|zlib|none]
                  [--facts FACTS] [--makensis PROGRAM] [--check-only]

NAME is the build setting the input came from, so that every refusal names
the setting, the path and the rule. DIR holds `bin\\java.exe` and
`bin\\javaw.exe`; a zip holds them at its root or under its one top folder.
The compression is BRACKENHUE_RUNTIME_COMPRESSION's value; any other is
refused.

Before anything is made, the input is checked:
  - every name is one Windows can hold and that lands inside the runtime: no
    ".." parts, absolute paths or drive letters, no ":" (an alternate data
    stream), none of <>"|?* or control characters, no trailing dot or blank,
    no reserved device name (CON, NUL, COM1, CONIN$, ...), no two names
    that differ only in letter case, no symbolic links; in zip names a
    backslash counts as a separator, in a folder's names it is refused;
  - bin\\java.exe is a 64-bit console program and bin\\javaw.exe a 64-bit
    windowed program (PE32+, x86-64);
  - a "release" file, when there is one, gives a JAVA_VERSION of at least
    1.8 ("1.8.0_281", "17.0.8", "21", "22-ea", with their quotes).

The archive is a 64-bit windowed NSIS program (makensis, amd64-unicode stub,
no plugins): silent, asking for no rights beyond the user's, it unpacks the
runtime as the folder "jre" beside itself and ends; it exits with 2 when a
file or folder could not be written. LZMA (the smallest), zlib or no
compression (the fastest to unpack), never solid: a solid archive first
unpacks its whole block into %TEMP%. No file dates are stored, so the same
input and the same makensis give the same bytes. The made archive is checked
to be PE32+ for x86-64 with a manifest that asks for asInvoker. The files
are staged for makensis under numbered names in numbered folders of at most
256 files each, so the script never quotes a runtime's name and makensis
never reads a large folder.

When it makes an archive, FACTS gets the runtime's facts for the launcher,
ASCII lines:
  unpacked_bytes=<the sizes of all its files added up>
  longest_path=<the length in UTF-16 units of the longest path as unpacked
               below the workspace: "jre\\" and an entry's parts joined by
               "\\"; folders count too>
  java_feature=<the feature release its release file's JAVA_VERSION names;
               no line without one>

Only WORK, OUTPUT and FACTS are written; a zip is unpacked into WORK.
"""

import argparse
import os
import re
import shutil
import stat
import struct
import subprocess
import sys
import zipfile
import zlib

import pe_image

RT_MANIFEST = 24
FORBIDDEN = set('<>"|?*')
# CONIN$ and CONOUT$ open the console's input and output, like CON.
RESERVED = ({"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"} | {"COM%d" % i for i in range(1, 10)}
            | {"LPT%d" % i for i in range(1, 10)})
COMPRESSIONS = ("lzma", "zlib", "none")


class Refused(Exception):
    """Input the build must not use; the text gives the rule."""


# Names.

def name_problem(parts):
    """Why a relative name (its parts) cannot be a file of the runtime on
    Windows, or None."""
    if not parts or parts[0] == "":
        return "it is an absolute path"
    if re.match(r"^[A-Za-z]:", parts[0]):
        return "it starts with a drive letter"
    for part in parts:
        if part == "":
            return "it has an empty part (two separators in a row)"
        if part in (".", ".."):
            return "it has a '%s' part, which would land elsewhere" % part
        if ":" in part:
            return "it holds ':', which Windows takes for an alternate data stream"
        if "\\" in part:
            # Only a folder's names get here: Windows would split them.
            return "it holds '\\', which Windows takes for a separator"
        bad = sorted(FORBIDDEN.intersection(part)) + ["\\x%02x" % ord(c) for c in part if ord(c) < 32]
        if bad:
            return "it holds %s, which Windows names cannot" % " ".join(bad)
        if part[-1] in ". ":
            return "'%s' ends in a %s, which Windows drops" % (part, "dot" if part[-1] == "." else "blank")
        if part.split(".")[0].rstrip(" ").upper() in RESERVED:
            return "'%s' is a reserved device name on Windows" % part
    return None


def check_names(setting, path, names):
    """names: (shown name, parts) of every entry. Refuses the first bad one
    and two names that differ only in letter case."""
    seen = {}
    for shown, parts in names:
        problem = name_problem(parts)
        if problem:
            raise Refused("%s: %s: the name %r is refused: %s" % (setting, path, shown, problem))
        key = "/".join(parts).casefold()
        if key in seen and seen[key] != shown:
            raise Refused("%s: %s: the names %r and %r differ only in letter case, and Windows keeps one of them"
                          % (setting, path, seen[key], shown))
        seen.setdefault(key, shown)


# Programs and versions.

def check_program(setting, path, name, data, subsystem):
    kind = "console" if subsystem == pe_image.SUBSYSTEM_WINDOWS_CUI else "windowed"
    headers, _ = pe_image.read_headers(data)
    if headers is None:
        raise Refused("%s: %s: %s is not a Windows program; it must be a 64-bit %s program" % (setting, path, name, kind))
    machine, got = headers.machine, headers.subsystem
    if machine != pe_image.IMAGE_FILE_MACHINE_AMD64 or headers.magic != pe_image.PE32_PLUS:
        raise Refused("%s: %s: %s is not a 64-bit program (machine 0x%04x); it must be a 64-bit %s program "
                      "(PE32+, x86-64)" % (setting, path, name, machine, kind))
    if got != subsystem:
        raise Refused("%s: %s: %s is not a %s program (subsystem %d); it must be a 64-bit %s program"
                      % (setting, path, name, kind, got, kind))


def release_version(text):
    """The feature release a release file's JAVA_VERSION names, the old 1.x
    form read as its second number: "1.8.0_281" gives 8, "17.0.8" 17, "21"
    21, "22-ea" 22. None when there is none or it does not read."""
    for line in text.splitlines():
        key, _, value = line.partition("=")
        if key.strip() != "JAVA_VERSION":
            continue
        value = value.strip().strip('"')
        numbers = re.match(r"^(\d+)(?:[._](\d+))?", value)
        if not numbers:
            return None
        first = int(numbers.group(1))
        if first == 1:
            return int(numbers.group(2)) if numbers.group(2) else None
        return first
    return None


def check_release(setting, path, text):
    if not re.search(r"^\s*JAVA_VERSION\s*=", text, re.M):
        return
    feature = release_version(text)
    if feature is None:
        raise Refused("%s: %s: its release file has a JAVA_VERSION that does not read as a version; the runtime must "
                      "be Java 1.8 or later" % (setting, path))
    if feature < 8:
        raise Refused("%s: %s: its release file gives JAVA_VERSION 1.%d; the runtime must be Java 1.8 or later"
                      % (setting, path, feature))


# The two inputs.

def folder_entries(setting, root):
    """(relative parts, is folder) of everything under root, sorted; refuses
    links."""
    entries = []
    for here, folders, files in os.walk(root, followlinks=False):
        for name in sorted(folders + files):
            full = os.path.join(here, name)
            parts = os.path.relpath(full, root).split(os.sep)
            if os.path.islink(full):
                raise Refused("%s: %s: %s is a symbolic link; the runtime must hold plain files and folders"
                              % (setting, root, "/".join(parts)))
            entries.append((parts, os.path.isdir(full)))
        folders.sort()
    entries.sort()
    check_names(setting, root, [("/".join(parts), parts) for parts, _ in entries])
    return entries


def zip_root(entries):
    """The parts prefix under which the runtime lies: none when bin/java.exe
    is at the root, else the one top folder all entries share."""
    if any(parts == ["bin", "java.exe"] for parts, _ in entries):
        return []
    tops = {parts[0] for parts, _ in entries}
    if len(tops) == 1 and all(len(parts) > 1 or folder for parts, folder in entries):
        return [tops.pop()]
    return None


def unpack_zip(setting, path, target):
    """Checks the zip's names and unpacks its runtime into target. Returns
    the runtime's folder."""
    try:
        archive = zipfile.ZipFile(path)
    except (OSError, zipfile.BadZipFile) as error:
        raise Refused("%s: %s: it is not a zip archive that can be read (%s)" % (setting, path, error))
    with archive:
        infos = archive.infolist()
        names = []
        entries = []
        for info in infos:
            # Backslashes count as separators: Windows tools write them.
            shown = info.filename
            name = shown.replace("\\", "/")
            folder = name.endswith("/")
            parts = name.rstrip("/").split("/") if name.rstrip("/") else [""]
            if name.startswith("/"):
                parts = [""] + parts[1:]
            mode = info.external_attr >> 16
            if stat.S_ISLNK(mode):
                raise Refused("%s: %s: %s is a symbolic link; the runtime must hold plain files and folders"
                              % (setting, path, shown))
            names.append((shown, parts))
            entries.append((parts, folder, info))
        check_names(setting, path, names)
        prefix = zip_root([(parts, folder) for parts, folder, _ in entries])
        if prefix is None:
            raise Refused("%s: %s: it holds no bin\\java.exe at its root or under its one top folder" % (setting, path))
        if os.path.exists(target):
            shutil.rmtree(target)
        os.makedirs(target)
        try:
            for parts, folder, info in entries:
                if parts[:len(prefix)] != prefix:
                    continue
                relative = parts[len(prefix):]
                if not relative:
                    continue
                destination = os.path.join(target, *relative)
                if folder:
                    os.makedirs(destination, exist_ok=True)
                    continue
                os.makedirs(os.path.dirname(destination), exist_ok=True)
                with archive.open(info) as source, open(destination, "wb") as out:
                    shutil.copyfileobj(source, out, 1 << 20)
        except (OSError, zipfile.BadZipFile, zlib.error, EOFError) as error:
            # A file and a folder of one name, or a damaged entry.
            raise Refused("%s: %s: its entries cannot be unpacked as a runtime folder (%s)" % (setting, path, error))
    return target


def check_runtime(setting, path, root):
    """Checks the runtime folder (after unpacking, for a zip); returns its
    entries."""
    entries = folder_entries(setting, root)
    programs = (("java.exe", pe_image.SUBSYSTEM_WINDOWS_CUI), ("javaw.exe", pe_image.SUBSYSTEM_WINDOWS_GUI))
    for name, subsystem in programs:
        program = os.path.join(root, "bin", name)
        if not os.path.isfile(program):
            raise Refused("%s: %s: it holds no bin\\%s; the runtime must have bin\\java.exe and bin\\javaw.exe"
                          % (setting, path, name))
        with open(program, "rb") as f:
            check_program(setting, path, "bin\\" + name, f.read(4096), subsystem)
    release = os.path.join(root, "release")
    if os.path.isfile(release):
        with open(release, encoding="utf-8", errors="replace") as f:
            check_release(setting, path, f.read())
    return entries


# The archive.

def nsis_string(text):
    """text inside an NSIS double-quoted string."""
    return text.replace("$", "$$").replace('"', '$\\"')


# Files per staging folder. makensis reads the whole folder for every File
# command, so one flat folder made the build time grow with the square of
# the file count.
STAGE_FOLDER_FILES = 256


def stage(root, entries, folder):
    """Each file of the runtime under a plain numbered name in numbered
    subfolders of folder (files/0000/000000, at most STAGE_FOLDER_FILES to a
    subfolder; a hard link where the file system allows, else a copy), so
    the script never has to quote a file name for the compiler. Returns the
    staged paths in the order of entries (None for folders)."""
    if os.path.exists(folder):
        shutil.rmtree(folder)
    os.makedirs(folder)
    staged = []
    count = 0
    for parts, is_folder in entries:
        if is_folder:
            staged.append(None)
            continue
        here = os.path.join(folder, "%04d" % (count // STAGE_FOLDER_FILES))
        if count % STAGE_FOLDER_FILES == 0:
            os.mkdir(here)
        target = os.path.join(here, "%06d" % count)
        count += 1
        source = os.path.join(root, *parts)
        try:
            os.link(source, target)
        except OSError:
            shutil.copyfile(source, target)
        staged.append(target)
    return staged


def compressor(compression, solid):
    """The script's lines that choose the compression."""
    if compression == "none":
        # The last SetCompress also leaves the script's own header as it is.
        return ["SetCompressor /FINAL zlib", "SetCompress off"]
    return ["SetCompressor %s/FINAL %s" % ("/SOLID " if solid else "", compression)]


# Every archive checks its own bytes before it writes anything (crc_check).
# The check reads the whole archive once more, which costs an uncompressed
# one's unpack the most, but a damaged copy that writes damaged files fails
# the installer's Java with no word of why; turning it off is for measuring.
def nsis_script(entries, staged, output, compression="lzma", solid=False, crc_check=True):
    def installed(parts):
        return "$EXEDIR\\jre" + "".join("\\" + nsis_string(part) for part in parts)

    lines = [
        "Unicode true",
        "Target amd64-unicode",
        "RequestExecutionLevel user",
    ] + compressor(compression, solid) + [
        "SetDateSave off",
        "SilentInstall silent",
        "CRCCheck %s" % ("on" if crc_check else "off"),
        'Name "Java runtime"',
        'OutFile "%s"' % output,
        "Section",
        "  ClearErrors",
        '  SetOutPath "%s"' % installed([]),
    ]
    current = []
    for (parts, folder), source in zip(entries, staged):
        if folder:
            # Also keeps empty folders.
            lines.append('  CreateDirectory "%s"' % installed(parts))
            continue
        if parts[:-1] != current:
            current = parts[:-1]
            lines.append('  SetOutPath "%s"' % installed(current))
        lines.append('  File "/oname=%s" "%s"' % (nsis_string(parts[-1]), source))
    lines += [
        "  IfErrors 0 +2",
        "    SetErrorLevel 2",
        "SectionEnd",
        "",
    ]
    return "\n".join(lines)


def resource_manifest(data):
    """The text of the image's RT_MANIFEST resource, or None."""
    headers, _ = pe_image.read_headers(data)
    if headers is None:
        return None
    rva, _ = pe_image.directory(data, headers, pe_image.DIRECTORY_RESOURCE)
    if not rva:
        return None
    table = headers.optional + headers.optional_size

    def offset_of(address):
        for i in range(headers.sections):
            at = table + 40 * i
            virtual_size, virtual_address, raw_size, raw_pointer = struct.unpack_from("<IIII", data, at + 8)
            if virtual_address <= address < virtual_address + max(virtual_size, raw_size):
                return address - virtual_address + raw_pointer
        raise Refused("its resource table lies outside its sections")

    base = offset_of(rva)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + ids):
            ident, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
            yield ident, target

    for ident, target in entries(0):
        if ident != RT_MANIFEST or not target & 0x80000000:
            continue
        for _, name_target in entries(target & 0x7FFFFFFF):
            for _, language_target in entries(name_target & 0x7FFFFFFF):
                data_rva, data_size = struct.unpack_from("<II", data, base + language_target)
                start = offset_of(data_rva)
                return data[start:start + data_size].decode("utf-8", "replace")
    return None


def check_archive(path):
    """The made archive must be a 64-bit program that asks for no more than
    the user's rights: a manifest asking for administrator rights makes
    CreateProcess fail for every normal user."""
    with open(path, "rb") as f:
        data = f.read()
    headers, _ = pe_image.read_headers(data)
    if (headers is None or headers.machine != pe_image.IMAGE_FILE_MACHINE_AMD64
            or headers.magic != pe_image.PE32_PLUS):
        raise Refused("the made archive %s is not a 64-bit program" % path)
    manifest = resource_manifest(data)
    level = re.search(r'requestedExecutionLevel\s+level="([^"]*)"', manifest or "")
    if not level or level.group(1) != "asInvoker":
        raise Refused("the made archive %s asks for execution level %s in its manifest; it must be asInvoker"
                      % (path, level.group(1) if level else "(none)"))


def runtime_facts(root, entries):
    """The facts file's text for the runtime in root."""
    unpacked = sum(os.path.getsize(os.path.join(root, *parts)) for parts, folder in entries if not folder)
    # Paths as unpacked below the workspace, in UTF-16 units: a letter
    # beyond the BMP counts two.
    longest = max(len(("jre\\" + "\\".join(parts)).encode("utf-16-le")) // 2 for parts, _ in entries)
    text = "unpacked_bytes=%d\nlongest_path=%d\n" % (unpacked, longest)
    release = os.path.join(root, "release")
    if os.path.isfile(release):
        with open(release, encoding="utf-8", errors="replace") as f:
            feature = release_version(f.read())
        if feature is not None:
            text += "java_feature=%d\n" % feature
    return text


def make(setting, folder, zip_path, work, output, makensis, compression="lzma", facts=None, solid=False,
         crc_check=True):
    if compression not in COMPRESSIONS:
        raise Refused("BRACKENHUE_RUNTIME_COMPRESSION is set to '%s'; it must be lzma (the default), zlib or none"
                      % compression)
    source = folder or zip_path
    if folder:
        if not os.path.isdir(folder):
            raise Refused("%s: %s: no such folder" % (setting, folder))
        root = os.path.abspath(folder)
    else:
        if not os.path.isfile(zip_path):
            raise Refused("%s: %s: no such file" % (setting, zip_path))
        root = unpack_zip(setting, zip_path, os.path.join(work, "runtime"))
    entries = check_runtime(setting, source, root)
    if makensis is None:
        return
    os.makedirs(work, exist_ok=True)
    script = os.path.join(work, "runtime.nsi")
    staged = stage(root, entries, os.path.abspath(os.path.join(work, "files")))
    output = os.path.abspath(output)
    for given in (output, os.path.abspath(work)):
        if '"' in given or "$" in given:
            raise Refused("%s: the build folder %s holds a quote or a dollar sign, which makensis cannot be given"
                          % (setting, given))
    os.makedirs(os.path.dirname(output), exist_ok=True)
    if facts and os.path.exists(facts):
        # Never left beside an archive of another runtime.
        os.remove(facts)
    with open(script, "w", encoding="utf-8") as f:
        f.write(nsis_script(entries, staged, output, compression, solid, crc_check))
    made = subprocess.run([makensis, "-V2", "-INPUTCHARSET", "UTF8", script],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if made.returncode != 0:
        raise Refused("%s: %s: makensis failed:\n%s" % (setting, source, made.stdout))
    check_archive(output)
    if facts:
        with open(facts, "w", encoding="ascii", newline="\n") as f:
            f.write(runtime_facts(root, entries))


def main(argv):
    parser = argparse.ArgumentParser(description="Makes the launcher's runtime archive.")
    parser.add_argument("--setting", required=True)
    given = parser.add_mutually_exclusive_group(required=True)
    given.add_argument("--folder")
    given.add_argument("--zip")
    parser.add_argument("--work", required=True)
    parser.add_argument("--output", required=True)
    parser.add_argument("--compression", default="lzma")
    parser.add_argument("--facts")
    parser.add_argument("--makensis", default="makensis")
    parser.add_argument("--check-only", action="store_true")
    # For measuring only (bench/whole_run.sh, bench/runtime_compression.sh):
    # a solid archive unpacks its whole block into %TEMP% first, and the
    # check of the archive's own bytes guards against a damaged download.
    parser.add_argument("--solid", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--crc-check", choices=("on", "off"), default="on", help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    try:
        make(args.setting, args.folder, args.zip, args.work, args.output,
             None if args.check_only else args.makensis, args.compression, args.facts, args.solid,
             args.crc_check == "on")
    except Refused as error:
        print("error: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
