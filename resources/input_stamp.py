#!/usr/bin/env python3
"""Writes a stamp of what a build input is, so that the build makes its
outputs again whenever the input changes, whatever its date says.

usage: input_stamp.py STAMP [--file SETTING PATH]... [--folder SETTING PATH]...
                            [--program SETTING PATH]

The stamp holds the content of each input: every file's size and SHA-256,
a folder's every entry (its name, kind, size and SHA-256), a program's file
and its version (PATH -VERSION). So a file replaced by one with an older
date (cp -p, unzip, rsync -t) shows, and so does a file added, removed or
replaced anywhere in a folder, while dates and links alone do not (the
runtime maker hard-links a folder's files, which changes their status
times). A file is hashed again only when its size, times, device or inode
differ from STAMP.cache, so a build with nothing changed reads no file.

The build runs this on every build; STAMP is rewritten only when its text
changes, so a build with nothing changed stays a no-op (the build rule
restats STAMP). An input that is missing, or a program that does not run,
stops the build with one line naming its setting and its path.
"""

import argparse
import hashlib
import json
import os
import stat
import subprocess
import sys


class InputError(Exception):
    pass


class Hashes:
    """SHA-256 of files, kept in a cache under their stat identity."""

    def __init__(self, cache_path):
        self.cache_path = cache_path
        self.old = {}
        self.new = {}
        try:
            with open(cache_path, encoding="utf-8") as f:
                cache = json.load(f)
        except (OSError, ValueError):
            return
        # Anything but what save() writes is no cache at all.
        if isinstance(cache, dict):
            self.old = {key: value for key, value in cache.items()
                        if isinstance(value, list) and len(value) == 2 and isinstance(value[0], list)
                        and isinstance(value[1], str)}

    def of(self, path, st):
        key = os.path.abspath(path)
        identity = [st.st_size, st.st_mtime_ns, st.st_ctime_ns, st.st_dev, st.st_ino]
        known = self.old.get(key)
        if known and known[0] == identity:
            digest = known[1]
        else:
            sha = hashlib.sha256()
            with open(path, "rb") as f:
                for block in iter(lambda: f.read(1 << 20), b""):
                    sha.update(block)
            digest = sha.hexdigest()
        self.new[key] = [identity, digest]
        return digest

    def save(self):
        if self.new == self.old:
            return
        with open(self.cache_path + ".new", "w", encoding="utf-8") as f:
            json.dump(self.new, f)
        os.replace(self.cache_path + ".new", self.cache_path)
        self.old = dict(self.new)


def file_lines(setting, path, hashes):
    try:
        st = os.stat(path)
        if not stat.S_ISREG(st.st_mode):
            raise InputError("%s names %s, which is not a file" % (setting, path))
        return ["file %s %d %s" % (setting, st.st_size, hashes.of(path, st))]
    except OSError as error:
        raise InputError("%s names %s, which cannot be read: %s" % (setting, path, error.strerror))


def folder_lines(setting, path, hashes):
    if not os.path.isdir(path):
        raise InputError("%s names %s, which is not a folder" % (setting, path))
    lines = ["folder %s" % setting]
    errors = []
    try:
        for root, folders, files in os.walk(path, onerror=errors.append):
            folders.sort()
            for name in sorted(folders + files):
                full = os.path.join(root, name)
                st = os.lstat(full)
                # The name as bytes in hexadecimal: any character, a line end too.
                relative = os.fsencode(os.path.relpath(full, path)).hex()
                if stat.S_ISDIR(st.st_mode):
                    lines.append("d %s" % relative)
                elif stat.S_ISLNK(st.st_mode):
                    lines.append("l %s %s" % (relative, os.fsencode(os.readlink(full)).hex()))
                elif stat.S_ISREG(st.st_mode):
                    lines.append("f %s %d %s" % (relative, st.st_size, hashes.of(full, st)))
                else:
                    # A pipe or device is never opened: it could block.
                    lines.append("o %s %o" % (relative, stat.S_IFMT(st.st_mode)))
    except OSError as error:
        errors.append(error)
    if errors:
        raise InputError("%s names %s, whose %s cannot be read: %s"
                         % (setting, path, errors[0].filename, errors[0].strerror))
    return lines


def program_lines(setting, path, hashes):
    lines = file_lines(setting, path, hashes)
    try:
        run = subprocess.run([path, "-VERSION"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
    except (OSError, subprocess.SubprocessError) as error:
        raise InputError("%s names %s, which does not run: %s" % (setting, path, error))
    if run.returncode != 0:
        raise InputError("%s names %s, which fails (exit code %d)" % (setting, path, run.returncode))
    version = run.stdout.decode("utf-8", "replace").strip().replace("\n", " ")
    return lines + ["version %s %s" % (setting, version)]


def stamp_text(files, folders, programs, hashes):
    lines = []
    for setting, path in files:
        lines += file_lines(setting, path, hashes)
    for setting, path in folders:
        lines += folder_lines(setting, path, hashes)
    for setting, path in programs:
        lines += program_lines(setting, path, hashes)
    return "\n".join(lines) + "\n"


def write_if_changed(stamp, text):
    """Writes STAMP when its text differs, so that its date moves only then."""
    try:
        with open(stamp, "rb") as f:
            if f.read() == text.encode("utf-8"):
                return
    except OSError:
        pass
    with open(stamp + ".new", "w", encoding="utf-8", newline="\n") as f:
        f.write(text)
    os.replace(stamp + ".new", stamp)


def main(argv):
    parser = argparse.ArgumentParser(description="Stamp a build input's identity.")
    parser.add_argument("stamp")
    parser.add_argument("--file", nargs=2, action="append", default=[], metavar=("SETTING", "PATH"))
    parser.add_argument("--folder", nargs=2, action="append", default=[], metavar=("SETTING", "PATH"))
    parser.add_argument("--program", nargs=2, action="append", default=[], metavar=("SETTING", "PATH"))
    args = parser.parse_args(argv)
    try:
        folder = os.path.dirname(args.stamp)
        if folder:
            os.makedirs(folder, exist_ok=True)
        hashes = Hashes(args.stamp + ".cache")
        text = stamp_text(args.file, args.folder, args.program, hashes)
        write_if_changed(args.stamp, text)
        hashes.save()
    except InputError as error:
        print("error: %s" % error, file=sys.stderr)
        return 1
    except OSError as error:
        print("error: cannot write the stamp %s: %s" % (error.filename or args.stamp, error.strerror),
              file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
