#!/usr/bin/env python3
"""Generate the sample and benchmark images used by ruvanta's tests and benchmarks.

Writes (relative to the repository root):
  data/original.bmp, data/mask.bmp, data/damaged.bmp           (320 x 240 sample)
  bench/data/photo800.bmp                                       (800 x 800 photo)
  bench/data/mask800_{1,5,20}.bmp, bench/data/damaged800_{1,5,20}.bmp

All files are 24-bit uncompressed BMPs (40-byte info header, bottom-up rows).
Masks are pure black (0,0,0) with the marked pixels pure white (255,255,255).
The marks are thin scratches (straight, diagonal and curved) and block-letter
text from a small built-in 5x7 bitmap font.

The output is deterministic: every random choice comes from fixed seeds, so
rerunning the script reproduces byte-identical files.

Requires numpy and scikit-image (Debian: python3-numpy, python3-skimage).
"""

import os
import struct
import sys

import numpy as np
import skimage.data
from skimage.draw import bezier_curve, line
from skimage.transform import resize

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))


# --------------------------------------------------------------------------
# BMP writer / reader (24-bit, BITMAPINFOHEADER, bottom-up, uncompressed)
# --------------------------------------------------------------------------

def write_bmp(path, rgb):
    """Write an (H, W, 3) uint8 RGB array as a 24-bit bottom-up BMP."""
    rgb = np.asarray(rgb, dtype=np.uint8)
    h, w, c = rgb.shape
    assert c == 3
    stride = (w * 3 + 3) & ~3
    image_size = stride * h
    rows = np.zeros((h, stride), dtype=np.uint8)
    rows[:, : w * 3] = rgb[::-1, :, ::-1].reshape(h, w * 3)  # bottom-up, BGR
    file_header = struct.pack("<2sIHHI", b"BM", 54 + image_size, 0, 0, 54)
    info_header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, image_size,
                              2835, 2835, 0, 0)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(file_header + info_header + rows.tobytes())


def read_bmp(path):
    """Read a BMP written by write_bmp back into an (H, W, 3) RGB array."""
    with open(path, "rb") as f:
        data = f.read()
    off = struct.unpack_from("<I", data, 10)[0]
    w, h = struct.unpack_from("<ii", data, 18)
    stride = (w * 3 + 3) & ~3
    rows = np.frombuffer(data, dtype=np.uint8, count=stride * h, offset=off)
    rows = rows.reshape(h, stride)[:, : w * 3].reshape(h, w, 3)
    return rows[::-1, :, ::-1].copy()


# --------------------------------------------------------------------------
# Tiny 5x7 bitmap font (only the characters the script uses)
# --------------------------------------------------------------------------

FONT_5X7 = {
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "G": ["01110", "10001", "10000", "10111", "10001", "10001", "01111"],
    "H": ["10001", "10001", "10001", "11111", "10001", "10001", "10001"],
    "I": ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "P": ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "V": ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    "0": ["01110", "10001", "10011", "10101", "11001", "10001", "01110"],
    "1": ["00100", "01100", "00100", "00100", "00100", "00100", "01110"],
    "2": ["01110", "10001", "00001", "00010", "00100", "01000", "11111"],
    "6": ["00110", "01000", "10000", "11110", "10001", "10001", "01110"],
    "7": ["11111", "00001", "00010", "00100", "01000", "01000", "01000"],
    "8": ["01110", "10001", "10001", "01110", "10001", "10001", "01110"],
    "9": ["01110", "10001", "10001", "01111", "00001", "00010", "01100"],
    " ": ["00000"] * 7,
}


def text_bitmap(text, scale):
    """Boolean bitmap of `text` in the 5x7 font, each font cell scale x scale pixels,
    one empty font column between characters."""
    cols = []
    for i, ch in enumerate(text):
        glyph = FONT_5X7[ch]
        g = np.array([[c == "1" for c in row] for row in glyph], dtype=bool)
        if i:
            cols.append(np.zeros((7, 1), dtype=bool))
        cols.append(g)
    bm = np.concatenate(cols, axis=1)
    return np.kron(bm, np.ones((scale, scale), dtype=bool))


def stamp(mask, bm, top, left):
    """OR bitmap `bm` into `mask` at (top, left), clipped to the mask."""
    h, w = mask.shape
    bh, bw = bm.shape
    r0, c0 = max(top, 0), max(left, 0)
    r1, c1 = min(top + bh, h), min(left + bw, w)
    if r0 < r1 and c0 < c1:
        mask[r0:r1, c0:c1] |= bm[r0 - top:r1 - top, c0 - left:c1 - left]


# --------------------------------------------------------------------------
# Scratches
# --------------------------------------------------------------------------

def thicken(mask, width):
    """Grow a 1-pixel path to a stroke `width` pixels wide (square footprint)."""
    if width <= 1:
        return mask
    out = np.zeros_like(mask)
    h, w = mask.shape
    lo = -((width - 1) // 2)
    for dy in range(lo, lo + width):
        for dx in range(lo, lo + width):
            src = mask[max(-dy, 0):h - max(dy, 0), max(-dx, 0):w - max(dx, 0)]
            out[max(dy, 0):h - max(-dy, 0), max(dx, 0):w - max(-dx, 0)] |= src
    return out


def scratch(shape, rng, kind, width):
    """One scratch as a boolean mask: 'straight', 'diagonal' or 'curved'."""
    h, w = shape
    path = np.zeros(shape, dtype=bool)
    if kind == "straight":
        # Long, nearly vertical or nearly horizontal line (film-scratch like).
        if rng.random() < 0.6:
            c = int(rng.integers(0, w))
            r0, r1 = int(rng.integers(0, h // 4)), int(rng.integers(3 * h // 4, h))
            rr, cc = line(r0, c, r1, int(np.clip(c + rng.integers(-w // 20, w // 20 + 1), 0, w - 1)))
        else:
            r = int(rng.integers(0, h))
            c0, c1 = int(rng.integers(0, w // 4)), int(rng.integers(3 * w // 4, w))
            rr, cc = line(r, c0, int(np.clip(r + rng.integers(-h // 20, h // 20 + 1), 0, h - 1)), c1)
    elif kind == "diagonal":
        r0, c0 = int(rng.integers(0, h)), int(rng.integers(0, w))
        length = rng.uniform(0.3, 0.8) * min(h, w)
        ang = rng.choice([1, -1]) * rng.uniform(np.pi / 8, 3 * np.pi / 8) + rng.choice([0, np.pi])
        r1 = int(np.clip(r0 + length * np.sin(ang), 0, h - 1))
        c1 = int(np.clip(c0 + length * np.cos(ang), 0, w - 1))
        rr, cc = line(r0, c0, r1, c1)
    else:  # curved: a chain of two quadratic Bezier segments
        pts = [(int(rng.integers(0, h)), int(rng.integers(0, w)))]
        span = 0.35 * min(h, w)
        for _ in range(4):
            r, c = pts[-1]
            pts.append((int(np.clip(r + rng.uniform(-span, span), 0, h - 1)),
                        int(np.clip(c + rng.uniform(-span, span), 0, w - 1))))
        rr_l, cc_l = [], []
        for k in (0, 2):
            (ra, ca), (rb, cb), (rc, cd) = pts[k], pts[k + 1], pts[k + 2]
            r_, c_ = bezier_curve(ra, ca, rb, cb, rc, cd, 1.0, shape=shape)
            rr_l.append(r_)
            cc_l.append(c_)
        rr, cc = np.concatenate(rr_l), np.concatenate(cc_l)
    path[rr, cc] = True
    return thicken(path, width)


# --------------------------------------------------------------------------
# Mask composition
# --------------------------------------------------------------------------

def pct(mask):
    return 100.0 * np.count_nonzero(mask) / mask.size


def build_mask(shape, seed, target_pct, words, scales, tol=0.1):
    """Scratches plus text, added one element at a time until the masked share
    reaches `target_pct` (within `tol` percentage points).

    Returns (scratch_mask, text_mask); their union is the mask.
    """
    rng = np.random.default_rng(seed)
    h, w = shape
    scratches = np.zeros(shape, dtype=bool)
    text = np.zeros(shape, dtype=bool)
    kinds = ["straight", "diagonal", "curved"]
    step = 0
    rejected = 0
    while True:
        cur = pct(scratches | text)
        if cur >= target_pct - tol:
            break
        # Alternate text and scratches so both are present at every size;
        # text gets a larger share as the target grows.
        want_text = (step % 3 == 0) if target_pct < 10 else (step % 2 == 0)
        step += 1
        if want_text:
            word = words[int(rng.integers(0, len(words)))]
            scale = int(rng.choice(scales))
            bm = text_bitmap(word, scale)
            if bm.shape[1] > w or bm.shape[0] > h:
                continue
            cand = np.zeros(shape, dtype=bool)
            stamp(cand, bm, int(rng.integers(0, h - bm.shape[0] + 1)),
                  int(rng.integers(0, w - bm.shape[1] + 1)))
            new_text, new_scr = text | cand, scratches
        else:
            cand = scratch(shape, rng, kinds[int(rng.integers(0, 3))],
                           int(rng.integers(1, 4)))
            new_text, new_scr = text, scratches | cand
        if pct(new_text | new_scr) > target_pct + tol:
            rejected += 1
            if rejected > 200:
                raise RuntimeError("cannot reach target coverage %.2f%%" % target_pct)
            continue
        text, scratches = new_text, new_scr
    return scratches & ~text, text


def damage(original, scratches, text, text_rgb):
    """Paint scratches near-white and text in a date-stamp colour."""
    out = original.copy()
    out[scratches] = (250, 250, 246)
    out[text] = text_rgb
    return out


def mask_image(m):
    img = np.zeros(m.shape + (3,), dtype=np.uint8)
    img[m] = 255
    return img


def to_uint8(img):
    return np.clip(np.rint(img * 255.0), 0, 255).astype(np.uint8)


# --------------------------------------------------------------------------
# Main
# --------------------------------------------------------------------------

def main():
    written = []

    # Sample: Chelsea the cat (CC0), centre-cropped to 4:3 and resized to 320 x 240.
    cat = skimage.data.chelsea()                        # (300, 451, 3)
    ch, cw = cat.shape[:2]
    crop_w = ch * 4 // 3                                # 400
    x0 = (cw - crop_w) // 2
    cat = cat[:, x0:x0 + crop_w]
    original = to_uint8(resize(cat, (240, 320), order=3, anti_aliasing=True,
                               preserve_range=False))

    rng = np.random.default_rng(2026)
    shape = original.shape[:2]
    scratches = np.zeros(shape, dtype=bool)
    for kind, width in [("straight", 2), ("straight", 1), ("straight", 3),
                        ("diagonal", 3), ("diagonal", 1), ("diagonal", 2),
                        ("curved", 2), ("curved", 3)]:
        scratches |= scratch(shape, rng, kind, width)
    text = np.zeros(shape, dtype=bool)
    stamp(text, text_bitmap("RUVANTA 2026", 3), 240 - 21 - 12, 320 - 213 - 12)
    scratches &= ~text
    sample_mask = scratches | text
    damaged = damage(original, scratches, text, (255, 150, 40))

    p = os.path.join(ROOT, "data")
    for name, img in [("original.bmp", original), ("mask.bmp", mask_image(sample_mask)),
                      ("damaged.bmp", damaged)]:
        write_bmp(os.path.join(p, name), img)
        written.append(os.path.join("data", name))
    print("data/mask.bmp          %dx%d  masked %.2f%% (%d px)"
          % (shape[1], shape[0], pct(sample_mask), np.count_nonzero(sample_mask)))

    # Benchmark photo: the astronaut (public domain), upscaled 512 -> 800.
    astro = skimage.data.astronaut()                    # (512, 512, 3)
    photo = to_uint8(resize(astro, (800, 800), order=3, anti_aliasing=False))
    bench = os.path.join(ROOT, "bench", "data")
    write_bmp(os.path.join(bench, "photo800.bmp"), photo)
    written.append("bench/data/photo800.bmp")

    words = ["RUVANTA 2026", "1987", "PHOTO", "MEMORIES", "SUMMER 1996",
             "DAMAGED", "2026", "HOME", "RUVANTA"]
    settings = {1: (101, [2, 3]), 5: (105, [2, 3, 4]), 20: (120, [3, 4, 5, 6])}
    for target, (seed, scales) in settings.items():
        scr, txt = build_mask((800, 800), seed, float(target), words, scales)
        m = scr | txt
        write_bmp(os.path.join(bench, "mask800_%d.bmp" % target), mask_image(m))
        write_bmp(os.path.join(bench, "damaged800_%d.bmp" % target),
                  damage(photo, scr, txt, (255, 170, 30)))
        written += ["bench/data/mask800_%d.bmp" % target,
                    "bench/data/damaged800_%d.bmp" % target]
        print("bench/data/mask800_%-2d  800x800  masked %.2f%% (%d px, target %d%%)"
              % (target, pct(m), np.count_nonzero(m), target))

    # Read everything back as a sanity check.
    for rel in written:
        img = read_bmp(os.path.join(ROOT, rel))
        assert img.ndim == 3 and img.shape[2] == 3, rel
    print("wrote %d files" % len(written))
    return 0


if __name__ == "__main__":
    sys.exit(main())
