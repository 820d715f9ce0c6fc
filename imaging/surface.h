// Off-screen image surfaces: a 24-bit bitmap selected into a memory context, with
// its size and a loaded flag. Re-creating a surface releases what it replaces.
#pragma once

#include "imaging/gdi.h"
#include "imaging/rgb_image.h"

struct ImageSurface {
  UniqueDC hMemDC;
  UniqueBitmap hBitmap;
  int nWidth = 0;
  int nHeight = 0;
  BYTE bLoaded = 0;
};

// Creates a black width x height surface into `surface`, replacing all its fields.
// Returns false, leaving `surface` as it was, when the bitmap cannot be made.
bool CreateSurface(int width, int height, ImageSurface* surface);

// Copies a decoded picture into the surface's top-left corner (clipped to it).
void FillSurface(const RgbImage& image, ImageSurface* surface);
// The surface's pixels as a decoded picture (empty for an empty surface).
RgbImage SurfaceImage(const ImageSurface& surface);
