#!/usr/bin/env python3
"""Writes the regression corpus of small crafted BMP files (and a few PNG and JPEG
files, made here with the standard library alone) into this folder,
together with EXPECTED.txt: one line per file, "NAME refused" or
"NAME decodes WxH", followed by "pattern" when the pixels are the test pattern
(see pattern() below) that the replaying test checks pixel by pixel.

Files whose names start with "finding-" are inputs the fuzz targets once failed
on; they are kept as they are and listed in FINDINGS.txt with their outcome.

Usage: make_regress.py [FOLDER]   (default: the folder of this script)
"""
import os
import struct
import sys
import zlib


def pattern(x, y):
    """The colour (red, green, blue) of pixel (x, y), y counted from the top."""
    return ((x * 29 + y * 7) & 255, (x * 3 + y * 53 + 17) & 255, ((x ^ y) * 5 + 101) & 255)


def rows(w, h, top_down=False, bpp=24):
    """The pixel block: h rows of the 4-byte aligned stride, stored bottom-up
    unless top_down."""
    stride = (w * bpp + 31) // 32 * 4
    out = bytearray()
    order = range(h) if top_down else range(h - 1, -1, -1)
    for y in order:
        row = bytearray()
        for x in range(w):
            r, g, b = pattern(x, y)
            px = bytes([b, g, r]) + (b"\0" if bpp == 32 else b"")
            row += px if bpp in (24, 32) else bytes([r])
        row = row[:stride]
        row += b"\0" * (stride - len(row))
        out += row
    return bytes(out)


def bmp(w, h, top_down=False, header=40, gap=0, trailing=0, bpp=24, compression=0,
        planes=1, signature=b"BM", bf_size=None, off_bits=None, bi_size=None,
        width_field=None, height_field=None, reserved=0, size_image=0, clr_used=0,
        pixels=None):
    if pixels is None:
        pixels = rows(w, h, top_down, bpp)
    info = struct.pack("<IiiHHIIiiII",
                       header if bi_size is None else bi_size,
                       w if width_field is None else width_field,
                       (-h if top_down else h) if height_field is None else height_field,
                       planes, bpp, compression, size_image, 2835, 2835, clr_used, 0)
    info += b"\0" * (header - 40)
    offset = 14 + header + gap
    body = info + b"\xA5" * gap + pixels + b"\x5A" * trailing
    size = 14 + len(body)
    head = signature + struct.pack("<IHHI", size if bf_size is None else bf_size, reserved,
                                   reserved, offset if off_bits is None else off_bits)
    return head + body


def png(w, h):
    """An 8-bit RGB PNG of the pattern, not interlaced, every row unfiltered."""
    raw = b"".join(b"\0" + bytes(c for x in range(w) for c in pattern(x, y)) for y in range(h))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def huffman_codes(bits, values):
    """The canonical codes (code, length) of a JPEG Huffman table."""
    codes, code, k = {}, 0, 0
    for length in range(1, 17):
        for _ in range(bits[length - 1]):
            codes[values[k]] = (code, length)
            k += 1
            code += 1
        code <<= 1
    return codes


def jpeg_blocks(bw, bh):
    """A baseline YCbCr JPEG of bw x bh blocks of 8 x 8 pixels, block (bx, by) of
    the flat colour pattern(bx, by). Every block holds its DC coefficient alone:
    with a quantiser of 8, a flat block of value v stores v - 128."""
    dc_bits = [0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0]  # the usual DC lengths
    dc_values = list(range(12))
    ac_bits = [1] + [0] * 15  # a single code, "0", for end-of-block
    dc = huffman_codes(dc_bits, dc_values)
    out_bits = []

    def emit(value, length):
        out_bits.extend((value >> (length - 1 - i)) & 1 for i in range(length))

    previous = [0, 0, 0]
    for by in range(bh):
        for bx in range(bw):
            r, g, b = pattern(bx, by)
            ycc = (0.299 * r + 0.587 * g + 0.114 * b,
                   -0.168736 * r - 0.331264 * g + 0.5 * b + 128,
                   0.5 * r - 0.418688 * g - 0.081312 * b + 128)
            for i, v in enumerate(ycc):
                level = min(255, max(0, int(round(v)))) - 128
                diff, previous[i] = level - previous[i], level
                size = abs(diff).bit_length()
                emit(*dc[size])
                if size:
                    emit(diff if diff > 0 else diff + (1 << size) - 1, size)
                emit(0, 1)  # end of block
    out_bits.extend([1] * (-len(out_bits) % 8))
    data = bytearray()
    for i in range(0, len(out_bits), 8):
        byte = int("".join(map(str, out_bits[i:i + 8])), 2)
        data += bytes([byte]) + (b"\0" if byte == 0xFF else b"")

    def segment(marker, body):
        return bytes([0xFF, marker]) + struct.pack(">H", len(body) + 2) + body

    w, h = bw * 8, bh * 8
    return (b"\xff\xd8" + segment(0xE0, b"JFIF\0\x01\x01\0\0\x01\0\x01\0\0") +
            segment(0xDB, b"\0" + bytes([8] * 64)) +
            segment(0xC0, struct.pack(">BHHB", 8, h, w, 3) + b"\x01\x11\0\x02\x11\0\x03\x11\0") +
            segment(0xC4, b"\x00" + bytes(dc_bits) + bytes(dc_values) + b"\x10" + bytes(ac_bits) + b"\0") +
            segment(0xDA, b"\x03\x01\0\x02\0\x03\0\x00\x3f\x00") + bytes(data) + b"\xff\xd9")


def with_size(data):
    """The file with bfSize set to its real length (where the field is present)."""
    data = bytearray(data)
    if len(data) >= 6:
        data[2:6] = struct.pack("<I", len(data))
    return bytes(data)


def cases():
    """(name, bytes, expected outcome) for every crafted file."""
    c = []

    def ok(name, data, w, h, pat=True):
        c.append((name, data, "decodes %dx%d%s" % (w, h, " pattern" if pat else "")))

    def bad(name, data):
        c.append((name, data, "refused"))

    # Well-formed files.
    for w in range(1, 9):  # every width modulo 4, twice
        ok("valid_w%d_h3.bmp" % w, bmp(w, 3), w, 3)
    ok("valid_7x5.bmp", bmp(7, 5), 7, 5)
    ok("valid_1x1.bmp", bmp(1, 1), 1, 1)
    ok("topdown_5x4.bmp", bmp(5, 4, top_down=True), 5, 4)
    ok("topdown_1x1.bmp", bmp(1, 1, top_down=True), 1, 1)
    ok("header108_6x3.bmp", bmp(6, 3, header=108), 6, 3)
    ok("header124_6x3.bmp", bmp(6, 3, header=124), 6, 3)
    ok("header124_topdown_3x2.bmp", bmp(3, 2, header=124, top_down=True), 3, 2)
    ok("gap4_4x2.bmp", bmp(4, 2, gap=4), 4, 2)
    ok("gap100_3x3.bmp", bmp(3, 3, gap=100), 3, 3)
    ok("trailing2_5x1.bmp", bmp(5, 1, trailing=2), 5, 1)
    ok("trailing_row_4x10.bmp", bmp(4, 10, trailing=12), 4, 10)
    ok("planes0_4x2.bmp", bmp(4, 2, planes=0), 4, 2)
    ok("reserved_set_3x2.bmp", bmp(3, 2, reserved=0xBEEF), 3, 2)
    ok("sizeimage_garbage_3x2.bmp", bmp(3, 2, size_image=0xFFFFFFFF), 3, 2)
    ok("clrused_set_2x2.bmp", bmp(2, 2, clr_used=256), 2, 2)
    ok("max_800x1.bmp", bmp(800, 1), 800, 1)
    ok("max_1x800.bmp", bmp(1, 800), 1, 800)
    # Decoded, but larger than the planes: every load refuses them.
    ok("too_wide_801x1.bmp", bmp(801, 1), 801, 1)
    ok("too_high_1x801.bmp", bmp(1, 801), 1, 801)
    ok("too_high_topdown_1x801.bmp", bmp(1, 801, top_down=True), 1, 801)

    v = bmp(4, 4)  # 102 bytes, the base of most malformed files
    # Signature.
    bad("sig_XX.bmp", b"XX" + v[2:])
    bad("sig_swapped_MB.bmp", b"MB" + v[2:])
    bad("sig_lowercase_bm.bmp", b"bm" + v[2:])
    # Declared file size.
    bad("bfsize_plus1.bmp", bmp(4, 4, bf_size=len(v) + 1))
    bad("bfsize_minus1.bmp", bmp(4, 4, bf_size=len(v) - 1))
    bad("bfsize_zero.bmp", bmp(4, 4, bf_size=0))
    bad("bfsize_huge.bmp", bmp(4, 4, bf_size=0xFFFFFFFF))
    # Truncated headers and rows (bfSize always says the real length).
    bad("empty.bmp", b"")
    bad("only_B.bmp", b"B")
    bad("header_2_bytes.bmp", b"BM")
    bad("header_13_bytes.bmp", with_size(v[:13]))
    bad("header_14_bytes.bmp", with_size(v[:14]))
    bad("header_18_bytes.bmp", with_size(v[:18]))
    bad("header_53_bytes.bmp", with_size(v[:53]))
    bad("header_54_no_rows.bmp", with_size(v[:54]))
    bad("rows_truncated_one_row.bmp", with_size(v[:-12]))
    bad("rows_truncated_one_byte.bmp", with_size(v[:-1]))
    bad("header108_truncated.bmp", with_size(bmp(6, 3, header=108)[:100]))
    # Other pixel formats and compression.
    bad("bpp1.bmp", bmp(4, 4, bpp=1))
    bad("bpp8.bmp", bmp(4, 4, bpp=8))
    bad("bpp16.bmp", bmp(4, 4, bpp=16))
    bad("bpp32.bmp", bmp(4, 4, bpp=32))
    bad("bpp0.bmp", bmp(4, 4, bpp=0, pixels=rows(4, 4)))
    bad("bpp48.bmp", bmp(4, 4, bpp=48, pixels=rows(4, 4) * 2))
    bad("compressed_rle8.bmp", bmp(4, 4, compression=1))
    bad("compressed_rle4.bmp", bmp(4, 4, compression=2))
    bad("compressed_bitfields.bmp", bmp(4, 4, compression=3))
    bad("compressed_huge.bmp", bmp(4, 4, compression=0xFFFFFFFF))
    # Width and height.
    bad("width_zero.bmp", bmp(4, 4, width_field=0))
    bad("width_negative.bmp", bmp(4, 4, width_field=-4))
    bad("width_int_min.bmp", bmp(4, 4, width_field=-0x80000000))
    bad("height_zero.bmp", bmp(4, 4, height_field=0))
    bad("height_int_min.bmp", bmp(4, 4, height_field=-0x80000000))
    bad("width_huge_7fffffff.bmp", bmp(4, 4, width_field=0x7FFFFFFF))
    bad("height_huge_7fffffff.bmp", bmp(4, 4, height_field=0x7FFFFFFF))
    bad("height_huge_topdown.bmp", bmp(4, 4, height_field=-0x7FFFFFFF))
    bad("both_huge_60_bytes.bmp", bmp(1, 1, width_field=0x7FFFFFFF, height_field=0x7FFFFFFF,
                                             trailing=2))
    # Sizes whose 32-bit products wrap to something small.
    bad("stride_wraps_32bit.bmp", bmp(1, 1, width_field=0x55555556, height_field=1))
    bad("rows_wrap_32bit.bmp", bmp(1, 1, height_field=0x40000000))
    bad("rows_wrap_topdown.bmp", bmp(1, 1, height_field=-0x40000000))
    bad("rows_wrap_64k.bmp", bmp(1, 1, width_field=0x10000, height_field=0x10000))
    # Offset of the pixel block.
    bad("offbits_beyond_file.bmp", bmp(4, 4, off_bits=len(v) + 100))
    bad("offbits_at_end.bmp", bmp(4, 4, off_bits=len(v)))
    bad("offbits_rows_overrun.bmp", bmp(4, 4, off_bits=58))
    bad("offbits_huge.bmp", bmp(4, 4, off_bits=0xFFFFFFFF))
    bad("offbits_53.bmp", bmp(4, 4, off_bits=53))
    bad("offbits_zero.bmp", bmp(4, 4, off_bits=0))
    bad("offbits_inside_header108.bmp", bmp(6, 3, header=108, off_bits=121))
    # Info header size.
    bad("bisize_12_os2.bmp", with_size(b"BM" + struct.pack("<IHHI", 0, 0, 0, 26) +
                                       struct.pack("<IHHHH", 12, 4, 4, 1, 24) + rows(4, 4)))
    bad("bisize_12_in_40.bmp", bmp(4, 4, bi_size=12))
    bad("bisize_39.bmp", bmp(4, 4, bi_size=39))
    bad("bisize_zero.bmp", bmp(4, 4, bi_size=0))
    bad("bisize_huge.bmp", bmp(4, 4, bi_size=0xFFFFFFFF))
    bad("bisize_beyond_offbits.bmp", bmp(4, 4, bi_size=44))

    # PNG and JPEG: one file that decodes and one that is refused, each.
    ok("valid_7x5.png", png(7, 5), 7, 5)
    p = bytearray(png(7, 5))
    p[-13] ^= 0x01  # the last byte of the IDAT chunk's CRC (IEND takes the last 12)
    bad("idat_crc_7x5.png", bytes(p))
    ok("valid_24x16.jpg", jpeg_blocks(3, 2), 24, 16, pat=False)
    j = jpeg_blocks(3, 2)
    bad("scan_cut_24x16.jpg", j[:len(j) - 6])
    return c


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    lines = []
    for name, data, outcome in cases():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
        lines.append("%s %s" % (name, outcome))
    findings = os.path.join(folder, "FINDINGS.txt")
    if os.path.exists(findings):
        with open(findings) as f:
            lines += [l.strip() for l in f if l.strip() and not l.startswith("#")]
    with open(os.path.join(folder, "EXPECTED.txt"), "w") as f:
        f.write("# Outcome of every file here: NAME refused | NAME decodes WxH [pattern].\n")
        f.write("# Written by make_regress.py; fuzz findings come from FINDINGS.txt.\n")
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
