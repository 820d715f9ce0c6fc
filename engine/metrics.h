// Quality measures of a restoration against the undamaged original: PSNR over the
// masked pixels, and SSIM over the whole picture or the windows centred in the
// bounding box of the mask. Every function checks that the planes it is given have
// one size and answers NaN when they do not; nothing is read out of bounds.
//
// Each takes its pictures as RgbPlanes (doubles) or all as BytePlanes (whole
// values as bytes, e.g. a picture as loaded): the same figures, bit for bit, for
// the same values.
#pragma once

#include "engine/planes.h"

// PSNR in decibels (peak 255) over the masked pixels and all three channels:
// mse = sum of (reference - image)^2 over masked pixels and channels / (3 x masked
// count). +inf when the two agree on every masked value, NaN for an empty mask or
// planes of different sizes. A mask cell counts as masked when it is not zero.
template <typename Picture>
double MaskedPsnr(const Picture& reference, const Picture& image, const MaskPlane& mask);

// The errors over the masked pixels, for comparing methods: the mean absolute
// difference over the masked values (three channels), and the PSNR of each channel
// alone (red, green, blue) with the mean of its squares over the masked pixels.
// NaN for an empty mask or planes of different sizes; a channel's PSNR is +inf
// where it agrees on every masked pixel.
struct MaskedErrors {
  double meanAbsolute;
  double channelPsnr[3];
};
template <typename Picture>
MaskedErrors MeasureMaskedErrors(const Picture& reference, const Picture& image,
                                 const MaskPlane& mask);

// Pixels x0 <= x < x1, y0 <= y < y1.
struct PixelBox {
  int x0 = 0;
  int y0 = 0;
  int x1 = 0;
  int y1 = 0;
};

// The smallest box holding every masked cell; false (and an all-zero box) when no
// cell is masked. `box` may be null to ask only whether the mask is empty.
bool MaskBoundingBox(const MaskPlane& mask, PixelBox* box);

// Mean SSIM (11 x 11 Gaussian window, sigma 1.5; K1 0.01, K2 0.03, L 255) of each
// channel over every window position inside the picture, averaged over the three
// channels. NaN when the sizes differ or a side is shorter than 11 pixels.
template <typename Picture>
double Ssim(const Picture& a, const Picture& b);
// The same map, averaged over the window positions whose centre pixel lies in
// `box` (the windows themselves may reach outside the box, never outside the
// picture). NaN when no such position exists.
template <typename Picture>
double SsimInBox(const Picture& a, const Picture& b, const PixelBox& box);

// The measures of one restoration. Every value is NaN where it cannot be taken
// (sizes that differ, an empty mask, a picture under 11 pixels a side); the box
// values are NaN when hasBox is false.
struct QualityMetrics {
  double psnrHoleDamaged;  // MaskedPsnr(original, damaged, mask)
  double psnrHoleResult;   // MaskedPsnr(original, result, mask)
  double ssimDamaged;      // Ssim(original, damaged)
  double ssimResult;       // Ssim(original, result)
  double ssimBoxDamaged;   // SsimInBox(original, damaged, box)
  double ssimBoxResult;    // SsimInBox(original, result, box)
  PixelBox box;            // the bounding box of the mask
  bool hasBox;             // false for an empty mask or sizes that differ
  MaskedErrors holeDamaged;  // MeasureMaskedErrors(original, damaged, mask)
  MaskedErrors holeResult;   // MeasureMaskedErrors(original, result, mask)
};

template <typename Picture>
QualityMetrics MeasureQuality(const Picture& original, const Picture& damaged,
                              const Picture& result, const MaskPlane& mask);
