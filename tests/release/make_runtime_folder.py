#!/usr/bin/env python3
"""Writes a made-up Java runtime folder of about 1,500 files (or as many as
asked for) for building runtime archives in tests and benchmarks: nested
folders, names with blanks, letters beyond ASCII and a dollar sign, empty
folders, a release file, and the two programs given as bin\\java.exe and
bin\\javaw.exe (with an answer file beside java.exe when one is given).
With --zip it also writes the folder as a zip with one top folder. The
content is fixed, so the same call gives the same files.

usage: make_runtime_folder.py FOLDER --java EXE --javaw EXE [--answer FILE]
                              [--zip ZIP] [--megabytes N] [--files N]
"""

import argparse
import os
import random
import shutil
import zipfile


def write_tree(folder, java, javaw, answer, megabytes, files):
    if os.path.exists(folder):
        shutil.rmtree(folder)
    os.makedirs(os.path.join(folder, "bin"))
    shutil.copyfile(java, os.path.join(folder, "bin", "java.exe"))
    shutil.copyfile(javaw, os.path.join(folder, "bin", "javaw.exe"))
    if answer:
        shutil.copyfile(answer, os.path.join(folder, "bin", "java.answer"))
    with open(os.path.join(folder, "release"), "w") as f:
        f.write('JAVA_VERSION="1.8.0_281"\nIMPLEMENTOR="Brackenhue test"\n')
    generator = random.Random(1500)
    # Nested folders; compressible text, as class files and properties
    # are, up to the size asked for.
    size = max(64, megabytes * 1024 * 1024 // files)
    words = [b"java", b"lang", b"Object", b"String", b"runtime", b"module", b"class", b"(", b")", b";", b"\n"]
    for number in range(files):
        depth = number % 4
        parts = ["lib", "module %02d" % (number % 12)] + ["pkg%d" % ((number // 12 + level) % 5) for level in
                                                            range(depth)]
        name = "Entry %04d.class" % number
        if number % 97 == 0:
            name = "ünïcödé %04d.properties" % number
        if number % 211 == 0:
            name = "cost$%04d.txt" % number
        path = os.path.join(folder, *parts)
        os.makedirs(path, exist_ok=True)
        body = b" ".join(generator.choice(words) for _ in range(size // 5))[:size]
        with open(os.path.join(path, name), "wb") as f:
            f.write(body)
    for empty in ("lib/empty", "conf/security/policy/unlimited", "legal/empty too"):
        os.makedirs(os.path.join(folder, *empty.split("/")), exist_ok=True)


def write_zip(folder, zip_path, top):
    with zipfile.ZipFile(zip_path, "w", zipfile.ZIP_DEFLATED) as archive:
        for here, folders, files in os.walk(folder):
            folders.sort()
            relative = os.path.relpath(here, folder)
            base = top if relative == "." else top + "/" + relative.replace(os.sep, "/")
            archive.writestr(zipfile.ZipInfo(base + "/", (2020, 1, 1, 0, 0, 0)), b"")
            for name in sorted(files):
                info = zipfile.ZipInfo(base + "/" + name, (2020, 1, 1, 0, 0, 0))
                info.compress_type = zipfile.ZIP_DEFLATED
                with open(os.path.join(here, name), "rb") as f:
                    archive.writestr(info, f.read())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--java", required=True)
    parser.add_argument("--javaw", required=True)
    parser.add_argument("--answer")
    parser.add_argument("--zip")
    parser.add_argument("--megabytes", type=int, default=2)
    parser.add_argument("--files", type=int, default=1490, help="generated files besides bin and release")
    args = parser.parse_args()
    write_tree(args.folder, args.java, args.javaw, args.answer, args.megabytes, args.files)
    if args.zip:
        write_zip(args.folder, args.zip, "jdk8u281-b09-jre")


if __name__ == "__main__":
    main()
