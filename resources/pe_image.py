"""The headers of a Windows program (a PE image), as the build's checks read
them: the launcher's size check, the runtime archive's warnings and the
checks of a runtime's programs and of the archive made from it."""

import struct
from collections import namedtuple

IMAGE_FILE_MACHINE_AMD64 = 0x8664
PE32 = 0x10B
PE32_PLUS = 0x20B
SUBSYSTEM_WINDOWS_GUI = 2
SUBSYSTEM_WINDOWS_CUI = 3
DIRECTORY_RESOURCE = 2
DIRECTORY_SECURITY = 4

# Up to Subsystem, where PE32 and PE32+ optional headers still agree; every
# real image has far more.
OPTIONAL_HEADER_LEAST = 70
# Where the data directories begin in the two kinds of optional header.
DIRECTORIES_AT = {PE32: 96, PE32_PLUS: 112}

Headers = namedtuple("Headers", "machine sections optional optional_size magic subsystem")


def read_headers(data):
    """(Headers, None) for the image whose file begins with data (bytes, or a
    map of the whole file), or (None, what is wrong) when it is no image. The
    optional header is checked to be there up to Subsystem; its magic is the
    caller's to judge."""
    if len(data) < 0x40 or data[:2] != b"MZ":
        return None, "it does not start with an MZ header"
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if pe + 24 > len(data) or data[pe:pe + 4] != b"PE\0\0":
        return None, "the MZ header does not lead to a PE signature"
    machine, sections = struct.unpack_from("<HH", data, pe + 4)
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    if optional_size < OPTIONAL_HEADER_LEAST or optional + optional_size > len(data):
        return None, "its PE headers are cut short"
    magic, = struct.unpack_from("<H", data, optional)
    subsystem, = struct.unpack_from("<H", data, optional + 68)
    return Headers(machine, sections, optional, optional_size, magic, subsystem), None


def directory(data, headers, index):
    """(address, size) of data directory `index`, or (0, 0) when the optional
    header ends before it or its magic is neither PE32 nor PE32+."""
    if headers.magic not in DIRECTORIES_AT:
        return 0, 0
    at = headers.optional + DIRECTORIES_AT[headers.magic] + 8 * index
    if at + 8 > headers.optional + headers.optional_size:
        return 0, 0
    return struct.unpack_from("<II", data, at)
