#!/usr/bin/env python3
"""Draws the program's XPM icon as a PNG of a theme size, or as an ICO.

Usage: xpm_to_png.py --size N -o OUT.png ICON.xpm [ICON.xpm ...]
       xpm_to_png.py -o OUT.ico ICON.xpm [ICON.xpm ...]

Of the given pictures it takes the largest whose width divides N and
enlarges it by a whole factor, pixel by pixel, so the drawing stays sharp.
An ICO holds every picture at its own size (Windows' 32-bit form). Only the
standard library is used, and the output depends only on the input: no
time stamps or other metadata go into the file.
"""

import argparse
import os
import re
import struct
import sys
import zlib


class XpmError(Exception):
    pass


def parse_color(value):
    """Returns (r, g, b, a) for an XPM colour: "None" or #RGB hex."""
    if value.lower() == "none":
        return (0, 0, 0, 0)
    match = re.fullmatch(r"#([0-9A-Fa-f]+)", value)
    if not match or len(match.group(1)) % 3 != 0:
        raise XpmError("unsupported colour %r (use #RRGGBB or None)" % value)
    digits = match.group(1)
    step = len(digits) // 3
    channels = []
    for i in range(3):
        level = int(digits[i * step:(i + 1) * step], 16)
        channels.append(level * 255 // (16 ** step - 1))
    return tuple(channels) + (255,)


def parse_xpm(text):
    """Returns (width, height, rows), each row a list of (r, g, b, a)."""
    strings = re.findall(r'"((?:[^"\\]|\\.)*)"', text)
    if not strings:
        raise XpmError("no XPM data")
    header = strings[0].split()
    if len(header) < 4:
        raise XpmError("bad XPM header %r" % strings[0])
    width, height, ncolors, cpp = (int(v) for v in header[:4])
    if len(strings) < 1 + ncolors + height:
        raise XpmError("XPM data ends early")
    palette = {}
    for line in strings[1:1 + ncolors]:
        key = line[:cpp]
        words = line[cpp:].split()
        if "c" not in words[:-1]:
            raise XpmError("colour line without a 'c' colour: %r" % line)
        palette[key] = parse_color(words[words.index("c") + 1])
    rows = []
    for line in strings[1 + ncolors:1 + ncolors + height]:
        if len(line) != width * cpp:
            raise XpmError("row of the wrong width: %r" % line)
        try:
            rows.append([palette[line[i:i + cpp]]
                         for i in range(0, len(line), cpp)])
        except KeyError as e:
            raise XpmError("pixel %s has no colour" % e) from None
    return width, height, rows


def scale(rows, factor):
    """Enlarges the picture |factor| times in each direction."""
    out = []
    for row in rows:
        wide = [pixel for pixel in row for _ in range(factor)]
        out.extend(list(wide) for _ in range(factor))
    return out


def png_bytes(rows):
    """Returns an 8-bit RGBA PNG of |rows|."""
    height = len(rows)
    width = len(rows[0])

    def chunk(kind, data):
        body = kind + data
        return (struct.pack(">I", len(data)) + body +
                struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF))

    raw = b"".join(b"\0" + bytes(c for pixel in row for c in pixel)
                   for row in rows)
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6,
                                       0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


def ico_bytes(pictures):
    """Returns an ICO of |pictures|, each rows of (r, g, b, a), as 32-bit
    bitmaps with their transparency mask."""
    images = []
    for rows in pictures:
        size = len(rows)
        pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows)
                          for r, g, b, a in row)
        stride = (size + 31) // 32 * 4
        mask = b"".join(
            sum((a == 0) << (7 - i % 8) << (8 * (i // 8)) for i, (*_, a)
                in enumerate(row)).to_bytes(stride, "little")
            for row in reversed(rows))
        images.append(struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32,
                                  0, len(pixels) + len(mask), 0, 0, 0, 0) +
                      pixels + mask)
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = len(data) + 16 * len(images)
    for rows, image in zip(pictures, images):
        data += struct.pack("<BBBBHHII", len(rows) % 256, len(rows) % 256, 0,
                            0, 1, 32, len(image), offset)
        offset += len(image)
    return data + b"".join(images)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size", type=int)
    parser.add_argument("-o", "--output", required=True)
    parser.add_argument("icons", nargs="+")
    args = parser.parse_args(argv)
    try:
        best, pictures = None, []
        for path in args.icons:
            with open(path, encoding="ascii") as f:
                width, height, rows = parse_xpm(f.read())
            if width != height:
                raise XpmError("%s is not square" % path)
            pictures.append(rows)
            if args.size is None:
                continue
            if args.size % width == 0 and (best is None or width > best[0]):
                best = (width, rows)
        if args.size is None:
            data = ico_bytes(pictures)
        elif best is None:
            raise XpmError("no picture fits %d x %d" % (args.size, args.size))
        else:
            data = png_bytes(scale(best[1], args.size // best[0]))
    except (OSError, ValueError, XpmError) as e:
        print("xpm_to_png: %s" % e, file=sys.stderr)
        return 1
    temporary = args.output + ".tmp"
    with open(temporary, "wb") as f:
        f.write(data)
    os.replace(temporary, args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
