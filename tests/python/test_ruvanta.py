"""The Python module against the command line, byte for byte, and its refusals.

Run by ctest (pytest when it is installed, else unittest) with PYTHONPATH naming
the built module, RUVANTA_CLI the built ruvanta-cli and RUVANTA_DATA the sample.
"""
import os
import struct
import subprocess
import tempfile
import threading
import time
import unittest

import numpy

import ruvanta

CLI = os.environ["RUVANTA_CLI"]
DATA = os.environ["RUVANTA_DATA"]


def read_bmp(path):
    """A 24-bit uncompressed BMP as an H x W x 3 uint8 array, rows from the top."""
    with open(path, "rb") as f:
        data = f.read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    assert bits == 24, path
    stride = (width * 3 + 3) // 4 * 4
    rows = numpy.frombuffer(data, numpy.uint8, stride * abs(height), offset)
    picture = rows.reshape(abs(height), stride)[:, : width * 3].reshape(abs(height), width, 3)
    picture = picture[:, :, ::-1]  # stored blue, green, red
    return numpy.ascontiguousarray(picture[::-1] if height > 0 else picture)


def sample(name):
    return read_bmp(os.path.join(DATA, name + ".bmp"))


def run_cli(*args):
    """ruvanta-cli's result picture and its printed lines (without the seconds)."""
    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "result.bmp")
        printed = subprocess.run([CLI, *args, "--output", out], check=True,
                                 capture_output=True, text=True).stdout
        lines = dict(line.split(": ", 1) for line in printed.splitlines())
        return read_bmp(out), lines


def figure(value):
    """A figure as ruvanta-cli prints it."""
    return "%.9g" % value if numpy.isfinite(value) else str(value)


class AgainstTheCommandLine(unittest.TestCase):
    def check(self, result, cli_args):
        picture, lines = run_cli(*cli_args)
        self.assertEqual(result.image.dtype, numpy.uint8)
        self.assertEqual(result.image.shape, picture.shape)
        self.assertTrue(numpy.array_equal(result.image, picture), "the bytes differ")
        self.assertEqual(lines["mask pixels"], str(result.mask_pixels))
        self.assertEqual(lines["psnr damaged"], figure(result.psnr_damaged))
        self.assertEqual(lines["psnr result"], figure(result.psnr_result))
        self.assertEqual(lines["iterations"], str(result.iterations))
        if "psnr hole result" in lines:
            self.assertEqual(lines["psnr hole result"], figure(result.psnr_hole_result))
            self.assertEqual(lines["ssim result"], "%.6f" % result.ssim_result)

    def test_sample(self):
        damaged, mask, original = sample("damaged"), sample("mask"), sample("original")
        files = ["--damaged", os.path.join(DATA, "damaged.bmp"),
                 "--mask", os.path.join(DATA, "mask.bmp")]
        with_original = files + ["--original", os.path.join(DATA, "original.bmp"), "--metrics"]
        r = ruvanta.restore(damaged, mask, original=original)
        self.check(r, with_original)
        unmasked = ~mask.any(axis=2)
        self.assertTrue(numpy.array_equal(r.image[unmasked], damaged[unmasked]))
        self.assertIsNotNone(r.mask_box)
        # The mask in its other forms: bools, one integer channel.
        as_bool = ruvanta.restore(damaged, mask.any(axis=2), original=original)
        self.assertTrue(numpy.array_equal(as_bool.image, r.image))
        as_int = ruvanta.restore(damaged, mask[:, :, 1].astype(numpy.int64) * 3, original=original)
        self.assertTrue(numpy.array_equal(as_int.image, r.image))
        self.check(ruvanta.restore(damaged, mask, "membrane", original),
                   with_original + ["--method", "membrane"])
        self.check(ruvanta.restore(damaged, mask, iterations=20, per_diffusion=4, diffusion=1,
                                   delta_t=0.0173, threads=1),
                   files + ["--iterations", "20", "--per-diffusion", "4", "--diffusion", "1",
                            "--delta-t", "0.0173", "--threads", "1"])
        self.check(ruvanta.restore(damaged, mask, original=original, automatic=True,
                                   threshold=0.05, iterations=15),
                   with_original + ["--auto", "--threshold", "0.05", "--iterations", "15"])

    def test_a_view_with_strides(self):
        damaged, mask = sample("damaged"), sample("mask")
        part = numpy.asfortranarray(damaged[10:90:, 5:125])
        r = ruvanta.restore(part, mask[10:90, 5:125, 0], iterations=15)
        same = ruvanta.restore(numpy.ascontiguousarray(part), mask[10:90, 5:125, 0].copy(),
                               iterations=15)
        self.assertTrue(numpy.array_equal(r.image, same.image))

    def test_other_fills(self):
        damaged, mask, original = sample("damaged"), sample("mask"), sample("original")
        hole = mask.any(axis=2)
        for method in ("biharmonic", "tension", "texture", "auto"):
            r = ruvanta.restore(damaged[:80, :100], hole[:80, :100], method, original[:80, :100])
            self.assertTrue(numpy.array_equal(r.image[~hole[:80, :100]],
                                              damaged[:80, :100][~hole[:80, :100]]), method)
            self.assertGreater(r.psnr_hole_result, r.psnr_hole_damaged, method)
            self.assertEqual(r.estimated_psnr is None, method != "auto", method)


class Running(unittest.TestCase):
    def test_progress_stops_and_the_lock_is_free(self):
        damaged, mask = sample("damaged"), sample("mask")
        seen = []
        r = ruvanta.restore(damaged, mask, iterations=300,
                            progress=lambda p: seen.append(p["iterations_done"]) or len(seen) < 2)
        self.assertTrue(r.stopped)
        self.assertLess(r.iterations, 300)
        self.assertEqual(seen[:2], [15, 30])
        # Another thread runs Python while a restoration works.
        ticks = []
        stop = threading.Event()

        def tick():
            while not stop.is_set():
                ticks.append(1)
                time.sleep(0.001)

        t = threading.Thread(target=tick)
        t.start()
        ruvanta.restore(damaged, mask, iterations=600, threads=1)
        stop.set()
        t.join()
        self.assertGreater(len(ticks), 5)

    def test_callback_exception_is_raised(self):
        def fail(_):
            raise KeyError("from the callback")

        with self.assertRaises(KeyError):
            ruvanta.restore(sample("damaged"), sample("mask"), progress=fail)


class Refusals(unittest.TestCase):
    def refused(self, words, *args, **options):
        with self.assertRaises(ValueError) as caught:
            ruvanta.restore(*args, **options)
        for w in words:
            self.assertIn(w, str(caught.exception))

    def test_bad_arrays_and_options(self):
        image = numpy.zeros((8, 10, 3), numpy.uint8)
        mask = numpy.zeros((8, 10), bool)
        self.refused(["image", "H x W x 3", "(8, 10)"], mask.astype(numpy.uint8), mask)
        self.refused(["image", "uint8", "float64"], image.astype(float), mask)
        self.refused(["image", "numpy array", "list"], image.tolist(), mask)
        self.refused(["mask", "(8, 9)", "(8, 10, 3)"], image, mask[:, :9])
        self.refused(["mask", "bool or integer", "float32"], image, mask.astype(numpy.float32))
        self.refused(["mask", "(8, 10, 4)"], image, numpy.zeros((8, 10, 4), numpy.uint8))
        self.refused(["original", "(8, 9, 3)", "(8, 10, 3)"], image, mask,
                     original=image[:, :9])
        self.refused(["0 x 8", "at least 1"], image[:, :0], mask[:, :0])
        self.refused(["method", "'paint'"], image, mask, "paint")
        self.refused(["unknown option 'iteration'", "iterations"], image, mask, iteration=5)
        self.refused(["iterations", "-1"], image, mask, iterations=-1)
        self.refused(["iterations", "2.5"], image, mask, iterations=2.5)
        self.refused(["iterations", "4294967296"], image, mask, iterations=2 ** 32)
        self.refused(["delta_t", "'big'"], image, mask, delta_t="big")
        self.refused(["delta_t", "inf"], image, mask, delta_t=float("inf"))
        self.refused(["threads", "-1"], image, mask, threads=-1)
        self.refused(["automatic", "1"], image, mask, automatic=1)
        self.refused(["automatic applies only to the transport method"], image, mask, "membrane",
                     automatic=True)
        self.refused(["settle", "automatic"], image, mask, settle=1.0)
        self.refused(["progress", "callable"], image, mask, progress=3)


if __name__ == "__main__":
    unittest.main()
