#!/usr/bin/env python3
"""Generates the splash bitmaps and the program icon. The outputs are
committed beside this script; run it again only to change the artwork.

Needs ImageMagick's convert and the DejaVu fonts (Debian: imagemagick,
fonts-dejavu-core).

Rules the window relies on:
  - SPLASH: 420 x 270, 32 bits per pixel.
  - PROGRESS_<n> for n = 0, 10, ..., 100: 420 x 30, 32 bits per pixel. The
    bar is the top 6 rows: the leftmost n * 420 / 100 columns dark green, the
    rest bright green. Rows 6 to 29 are the same in every strip.
  - STEP_<name>: 420 x 24, 24 bits per pixel, near-white text on pure black,
    91 to 95 percent of the pixels black, text starting 2 pixels from the
    left edge and lying within rows 5 to 21.
  - Every bitmap: BITMAPINFOHEADER, BI_RGB, bottom-up rows, no colour table;
    32-bit pixels have alpha 255.
  - MAINICON: 128, 48, 32, 24 and 16 pixels square, 32 bits with alpha,
    each with its (empty) AND mask.

usage: make_art.py [OUTPUT_DIR]
"""

import os
import struct
import subprocess
import sys

WIDTH = 420
DARK_GREEN = (0, 100, 0)
BRIGHT_GREEN = (40, 210, 60)
LABEL_INK = (240, 240, 240)
FONT = "DejaVu-Sans"

LABELS = {
    "TMP": "Creating temp folder",
    "XJAVA": "Preparing Brackenhue installer",
    "SEARCHING": "Searching for Java",
    "XJAR": "Extracting JAR installer",
    "LAUNCHING": "Launching installer",
}


def render(width, height, *draw, channels="rgb"):
    """Pixel rows, top row first, of what convert draws."""
    raw = subprocess.run(["convert", "-size", "%dx%d" % (width, height)] + list(draw) +
                         ["-depth", "8", channels + ":-"], check=True, stdout=subprocess.PIPE).stdout
    n = len(channels)
    assert len(raw) == width * height * n, "convert gave %d bytes" % len(raw)
    return [[tuple(raw[(y * width + x) * n:(y * width + x) * n + n]) for x in range(width)]
            for y in range(height)]


def dib(rows, bits):
    """A BITMAPINFOHEADER DIB, bottom-up, BI_RGB; 32-bit pixels get alpha 255."""
    height, width = len(rows), len(rows[0])
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, 0, 2835, 2835, 0, 0)
    stride = (width * bits // 8 + 3) & ~3
    body = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r, 255)) if bits == 32 else bytes((b, g, r))
        body += line + bytes(stride - len(line))
    return header + bytes(body)


def write_bmp(path, rows, bits):
    info = dib(rows, bits)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + len(info), 0, 0, 14 + 40) + info)


def splash():
    return render(WIDTH, 270,
                  "gradient:#1d3b2a-#4f8a5b",
                  "-fill", "#e8f0e0", "-font", FONT + "-Bold", "-pointsize", "44",
                  "-gravity", "center", "-annotate", "+0-20", "Brackenhue",
                  "-fill", "#c8dcc0", "-font", FONT, "-pointsize", "16",
                  "-annotate", "+0+30", "Installer")


def progress(percent, ground):
    filled = percent * WIDTH // 100
    bar = [[DARK_GREEN if x < filled else BRIGHT_GREEN for x in range(WIDTH)] for _ in range(6)]
    return bar + ground


def black_share(rows):
    pixels = [p for row in rows for p in row]
    return sum(1 for p in pixels if p == (0, 0, 0)) / len(pixels)


def label(text):
    """The label at the largest type size that keeps 91 to 95 percent black,
    moved so the ink starts at column 2 and sits within rows 5 to 21."""
    for size in range(16, 8, -1):
        rows = render(WIDTH, 24, "xc:black", "-fill", "#%02x%02x%02x" % LABEL_INK,
                      "-font", FONT, "-pointsize", str(size), "-annotate", "+8+18", text)
        ink = [(y, x) for y, row in enumerate(rows) for x, p in enumerate(row) if p != (0, 0, 0)]
        top, bottom = min(y for y, _ in ink), max(y for y, _ in ink)
        left = min(x for _, x in ink)
        if bottom - top > 16:
            continue
        down = 5 - top if top < 5 else (21 - bottom if bottom > 21 else 0)
        moved = [[(0, 0, 0)] * WIDTH for _ in range(24)]
        for y, x in ink:
            moved[y + down][x - left + 2] = rows[y][x]
        if 0.91 <= black_share(moved) <= 0.95:
            return moved
    sys.exit("no type size fits the label rules for %r" % text)


def icon_image(size):
    rows = render(size, size, "xc:none", "-fill", "#2e6b3f", "-draw",
                  "roundrectangle 0,0 %d,%d %d,%d" % (size - 1, size - 1, size // 5, size // 5),
                  "-fill", "#e8f0e0", "-font", FONT + "-Bold", "-pointsize", str(size * 3 // 4),
                  "-gravity", "center", "-annotate", "+0+0", "B", channels="rgba")
    return rows


def write_icon(path, sizes):
    images = []
    for size in sizes:
        rows = icon_image(size)
        header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
        xor = bytearray()
        for row in reversed(rows):
            for r, g, b, a in row:
                xor += bytes((b, g, r, a))
        mask_stride = ((size + 31) // 32) * 4
        images.append(header + bytes(xor) + bytes(mask_stride * size))
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, image in zip(sizes, images):
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(path, "wb") as f:
        f.write(directory + entries + b"".join(images))


def main(out):
    os.makedirs(out, exist_ok=True)
    write_bmp(os.path.join(out, "SPLASH.bmp"), splash(), 32)
    ground = render(WIDTH, 24, "gradient:#26352c-#101a14")
    for percent in range(0, 101, 10):
        write_bmp(os.path.join(out, "PROGRESS_%d.bmp" % percent), progress(percent, ground), 32)
    for step, text in LABELS.items():
        write_bmp(os.path.join(out, "STEP_%s.bmp" % step), label(text), 24)
    write_icon(os.path.join(out, "MAINICON.ico"), [128, 48, 32, 24, 16])


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__)))
