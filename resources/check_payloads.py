#!/usr/bin/env python3
"""Checks the two payload inputs before they are built into the launcher.

  check_payloads.py --runtime VARIABLE FILE --installer VARIABLE FILE

VARIABLE is the build setting the file came from, so a message can say which
setting to fix. Errors stop the build (exit 1); warnings only print.

Runtime archive: must be a Windows program (PE image). It should be a 32-bit
(i386) console program followed directly by a 7z archive that ends with the
file; anything else gets a warning.

Installer archive: must be a ZIP whose last 22 bytes are its end-of-central-
directory record with no comment, and whose central directory offset plus
size plus 22 equals the file size.

Both together: the launcher carries both archives whole, and Windows will not
start an image above 0x77000000 bytes, so their sizes added must not exceed
that less a margin for the launcher's own code and art. Sizes come from the
file system; the files are not read for this.
"""

import argparse
import mmap
import os
import struct
import sys

SEVEN_ZIP = b"7z\xbc\xaf\x27\x1c"
IMAGE_FILE_MACHINE_I386 = 0x14C
IMAGE_SUBSYSTEM_WINDOWS_CUI = 3
# The kernel's largest image.
WINDOWS_IMAGE_LIMIT = 0x77000000
# Room for everything in the launcher besides the two archives: its code, the
# 17 splash bitmaps (about 450 KB) and section alignment stay well below it.
LAUNCHER_MARGIN = 16 << 20
PAYLOAD_LIMIT = WINDOWS_IMAGE_LIMIT - LAUNCHER_MARGIN


def check_runtime(data):
    """(errors, warnings) for a runtime archive."""
    if len(data) < 0x40 or data[:2] != b"MZ":
        return ["it is not a Windows program: it does not start with an MZ header"], []
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if pe + 24 > len(data) or data[pe:pe + 4] != b"PE\0\0":
        return ["it is not a Windows program: the MZ header does not lead to a PE signature"], []
    machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    optional = pe + 24
    if optional + optional_size > len(data) or optional_size < 70:
        return ["it is not a Windows program: its PE headers are cut short"], []
    warnings = []
    if machine != IMAGE_FILE_MACHINE_I386:
        warnings.append("it is not a 32-bit (i386) program (machine 0x%04x)" % machine)
    subsystem = struct.unpack_from("<H", data, optional + 68)[0]
    if subsystem != IMAGE_SUBSYSTEM_WINDOWS_CUI:
        warnings.append("it is not a console program (subsystem %d)" % subsystem)

    image_end = 0
    table = optional + optional_size
    for i in range(sections):
        at = table + 40 * i
        if at + 40 > len(data):
            return ["it is not a Windows program: its section table is cut short"], []
        raw_size, raw_pointer = struct.unpack_from("<II", data, at + 16)
        if raw_size:
            image_end = max(image_end, raw_pointer + raw_size)
    archive_size = len(data) - image_end
    if data[image_end:image_end + 6] != SEVEN_ZIP:
        warnings.append("no 7z archive follows the program (at byte %d)" % image_end)
    elif archive_size < 32:
        warnings.append("the 7z archive after the program is cut short")
    else:
        next_offset, next_size = struct.unpack_from("<QQ", data, image_end + 12)
        if 32 + next_offset + next_size != archive_size:
            warnings.append("the 7z archive after the program does not end with the file")
    return [], warnings


def check_installer(data):
    """Errors for an installer archive."""
    if len(data) < 22:
        return ["it is too short to be a ZIP archive (%d bytes)" % len(data)]
    record = data[-22:]
    if record[:4] != b"PK\x05\x06":
        return ["its last 22 bytes are not an end-of-central-directory record "
                "(a ZIP comment, ZIP64, or not a ZIP at all)"]
    size, offset, comment = struct.unpack_from("<IIH", record, 12)
    if comment != 0:
        return ["its end-of-central-directory record announces a %d-byte comment" % comment]
    if offset + size + 22 != len(data):
        return ["its central directory offset (%d) plus size (%d) plus 22 is %d, not the file size %d"
                % (offset, size, offset + size + 22, len(data))]
    if data[:4] != b"PK\x03\x04":
        return ["it does not start with a ZIP local file header"]
    return []


def main(argv):
    parser = argparse.ArgumentParser(description="Checks the launcher's payload inputs.")
    parser.add_argument("--runtime", nargs=2, metavar=("VARIABLE", "FILE"))
    parser.add_argument("--installer", nargs=2, metavar=("VARIABLE", "FILE"))
    args = parser.parse_args(argv)

    failed = False
    sizes = {}
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
                        errors, warnings = check_runtime(data)
                    else:
                        errors, warnings = check_installer(data), []
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
