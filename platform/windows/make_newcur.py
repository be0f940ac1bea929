#!/usr/bin/env python3
"""Writes newcur.cur: the fully transparent pointer of the NEWCUR resource.

One 32 x 32 monochrome image, hot spot 0,0, a two-entry colour table (black,
white), an XOR mask of 128 zero bytes and an AND mask of 128 bytes 0xFF: every
screen pixel under the pointer stays as it is.
"""
import struct
import sys
from pathlib import Path

WIDTH = HEIGHT = 32
MASK_BYTES = WIDTH * HEIGHT // 8  # 1 bit per pixel; 32-pixel rows are 4-byte aligned

header = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT * 2, 1, 1, 0, 2 * MASK_BYTES, 0, 0, 2, 0)
colours = bytes([0, 0, 0, 0, 255, 255, 255, 0])
image = header + colours + bytes(MASK_BYTES) + b"\xff" * MASK_BYTES

# ICONDIR (type 2: cursor) and one ICONDIRENTRY whose planes/bit-count fields
# hold the hot spot.
directory = struct.pack("<HHH", 0, 2, 1)
entry = struct.pack("<BBBBHHII", WIDTH, HEIGHT, 2, 0, 0, 0, len(image), 6 + 16)

out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("newcur.cur")
out.write_bytes(directory + entry + image)
