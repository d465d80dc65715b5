#!/usr/bin/env python3
"""Writes a small stand-in installer archive: an executable-jar-shaped ZIP
whose first entry is "META-INF/", with a manifest and a read-me.

usage: make_demo_jar.py OUTPUT
"""

import sys
import zipfile

MANIFEST = "Manifest-Version: 1.0\r\nCreated-By: brackenhue demo\r\n\r\n"
README = "Demo payload of the Brackenhue installer launcher.\n"


def main(output):
    with zipfile.ZipFile(output, "w", zipfile.ZIP_DEFLATED) as jar:
        # Fixed timestamps keep the archive the same from build to build.
        stamp = (2020, 1, 1, 0, 0, 0)
        jar.writestr(zipfile.ZipInfo("META-INF/", stamp), b"")
        jar.writestr(zipfile.ZipInfo("META-INF/MANIFEST.MF", stamp), MANIFEST)
        jar.writestr(zipfile.ZipInfo("README.txt", stamp), README)


if __name__ == "__main__":
    main(sys.argv[1])
