// Texture-aware fill of the masked pixels: frequency-selective reconstruction, after
// J. Seiler, M. Jonscher, M. Schoeberl and A. Kaup, "Resampling images to a regular
// grid from a non-regular subset of pixel positions using frequency selective
// reconstruction", IEEE Transactions on Image Processing 24(11), 2015, in its fast
// form that works on the spectrum.
//
// The picture is cut into square blocks; every block holding a pixel to fill is
// modelled over its extrapolation area (the block and a border around it, inside the
// picture) as a sum of Fourier basis functions of a transform of side F, fitted to the
// area's known pixels under a spatial weight rho^d (d the distance to the block's
// centre) that is zero on unknown pixels. The basis functions are chosen one at a
// time: each step takes the frequency whose weighted projection, times a frequency
// weight that favours low frequencies, removes the most residual energy of the three
// channels together, adds a share gamma of its coefficient (the compensation for the
// basis functions not being orthogonal under the weight) and takes the product off
// the residual's spectrum. The model then gives the block's unknown pixels. Pixels a
// block has filled count, at a lower weight, in the areas of later blocks; blocks go
// from the best supported to the least. Nothing beyond the picture is assumed: an
// area at the edge is simply smaller. The values the masked pixels held are never
// read; the result is rounded to whole values 0..255 like the other fills.
#pragma once

#include "engine/fill_status.h"
#include "engine/planes.h"

struct TextureOptions {
  int block = 8;                     // side of the blocks, 1 .. 64
  int border = 8;                    // the area reaches this far beyond the block, 0 .. 64
  int transform = 32;                // F: a power of two, at least block + 2 border, at most 256
  int iterations = 100;              // basis functions chosen per block, 1 .. 10000
  double decay = 0.7;                // rho: the weight's fall per pixel of distance, in (0, 1]
  double compensation = 0.5;         // gamma, in (0, 1]
  double reconstructedWeight = 0.5;  // a filled pixel's share of a known one's weight, [0, 1]
  bool vectorKernel = true;          // AVX2 where the processor has it (the same bits either way)
};

struct TextureReport {
  FillOutcome outcome;      // anything but kOk: the picture untouched
  int blocks = 0;           // blocks modelled
  int unboundedPixels = 0;  // pixels no block could model (no known pixel at all)
};

// Fills the pixels `mask` marks in `work`. Pixels that `hidden` (when given, of the
// same size) marks and `mask` does not are unknown too: they are neither read nor
// filled. Pixels marked by neither never change.
TextureReport TextureFill(RgbPlane* work, const MaskPlane& mask, const TextureOptions& options = {},
                          const MaskPlane* hidden = nullptr);
