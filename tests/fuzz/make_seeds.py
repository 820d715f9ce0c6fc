#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into corpus/<target>/.

fuzz_bmp_reader: small well-formed files of several widths, top-down, with 108-
and 124-byte info headers, and a few malformed ones (from the regression corpus
builder). fuzz_load_path: pairs of a damaged image and a mask of the same size (and
a few mismatched pairs), each input being two bytes little-endian with the first
file's length, the first file, then the second. fuzz_exchange: ten field texts
separated by NUL bytes.
"""
import os
import struct
import sys

sys.dont_write_bytecode = True

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "data", "regress"))
import make_regress as mr  # noqa: E402


def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def mask_rows(w, h, top_down=False):
    """A mask: white on a diagonal band and a block, black elsewhere."""
    stride = (w * 3 + 3) // 4 * 4
    out = bytearray()
    for y in (range(h) if top_down else range(h - 1, -1, -1)):
        row = bytearray()
        for x in range(w):
            on = abs(x - y) <= 1 or (w // 2 <= x < w // 2 + 2 and h // 2 <= y < h // 2 + 2)
            row += b"\xff\xff\xff" if on else b"\0\0\0"
        out += row + b"\0" * (stride - len(row))
    return bytes(out)


def pair(a, b):
    return struct.pack("<H", len(a)) + a + b


def main():
    reader = os.path.join(HERE, "corpus", "fuzz_bmp_reader")
    for w in (1, 2, 3, 4, 5, 7, 8, 13):
        write(reader, "w%d_h4.bmp" % w, mr.bmp(w, 4))
    write(reader, "topdown_5x3.bmp", mr.bmp(5, 3, top_down=True))
    write(reader, "header108_6x3.bmp", mr.bmp(6, 3, header=108))
    write(reader, "header124_3x5.bmp", mr.bmp(3, 5, header=124))
    write(reader, "header124_topdown_7x2.bmp", mr.bmp(7, 2, header=124, top_down=True))
    write(reader, "gap8_2x2.bmp", mr.bmp(2, 2, gap=8))
    write(reader, "trailing_3x3.bmp", mr.bmp(3, 3, trailing=5))
    write(reader, "bad_bpp32.bmp", mr.bmp(4, 4, bpp=32))
    write(reader, "bad_truncated.bmp", mr.with_size(mr.bmp(4, 4)[:-1]))
    write(reader, "bad_offbits.bmp", mr.bmp(4, 4, off_bits=200))
    write(reader, "bad_huge.bmp", mr.bmp(1, 1, width_field=0x7FFFFFFF, height_field=0x7FFFFFFF))

    load = os.path.join(HERE, "corpus", "fuzz_load_path")
    for w, h in ((1, 1), (2, 2), (3, 2), (5, 4), (7, 5), (8, 8), (16, 9)):
        damaged = mr.bmp(w, h)
        mask = mr.bmp(w, h, pixels=mask_rows(w, h))
        write(load, "pair_%dx%d" % (w, h), pair(damaged, mask))
    write(load, "pair_topdown_6x4",
          pair(mr.bmp(6, 4, top_down=True), mr.bmp(6, 4, top_down=True, header=124,
                                                    pixels=mask_rows(6, 4, True))))
    write(load, "pair_header108_5x3",
          pair(mr.bmp(5, 3, header=108), mr.bmp(5, 3, pixels=mask_rows(5, 3))))
    write(load, "pair_mismatch", pair(mr.bmp(5, 4), mr.bmp(4, 5, pixels=mask_rows(4, 5))))
    write(load, "pair_too_wide", pair(mr.bmp(801, 1), mr.bmp(801, 1)))
    write(load, "pair_bad_mask", pair(mr.bmp(3, 3), mr.bmp(3, 3, bpp=32)))

    exchange = os.path.join(HERE, "corpus", "fuzz_exchange")
    sets = {
        "defaults": ["100", "2", "15", "0.01", "0", "0", "0", "0", "0", "0"],
        "shown": ["100", "2", "15", "0.01", "23.4567", "31.0001", "1.25", "0.001", "300", "42"],
        "blanks": [" 7 ", "\t+3", "15 ", " 1e-3", "inf", "-inf", "nan", "1.5e-45", "0", "4294967295"],
        "limits": ["-2147483648", "2147483647", "0", "3.40282e+38", "-3.40282e+38", "1e-38",
                   "0x1p3", "1E5", "4294967295", "0"],
        "over": ["2147483648", "2", "15", "0.01", "0", "0", "0", "0", "0", "0"],
        "bad_uint": ["1", "2", "3", "0.5", "0", "0", "0", "0", "-1", "0"],
        "bad_float": ["1", "2", "3", "1e40", "0", "0", "0", "0", "0", "0"],
        "empty": ["", "", "", "", "", "", "", "", "", ""],
        "junk": ["12abc", "2", "15", "0.01", "0", "0", "0", "0", "0", "0"],
    }
    for name, texts in sets.items():
        write(exchange, name, b"\0".join(t.encode() for t in texts))


if __name__ == "__main__":
    main()
