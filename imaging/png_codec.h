// Reader and writer of PNG files (through libspng).
//
// Reading: every colour type (grey, grey + alpha, RGB, RGBA, palette) at every bit
// depth PNG allows (1, 2, 4, 8, 16), interlaced or not. The picture is the colour
// channels as stored: alpha and transparency are dropped, not composited over
// anything, and gamma, chromaticity and ICC chunks are not applied. Grey becomes
// R = G = B; depths below 8 are scaled to 0..255 as PNG defines; 16-bit samples
// are rounded to 8 bits (see ReduceSample16). The size limits are checked on the
// IHDR before the picture is allocated, and a file that is truncated, fails a
// checksum or is otherwise malformed is refused whole, never half-decoded.
//
// Writing: 8-bit RGB, not interlaced, to a file that is only ever created new.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/file_sink.h"
#include "imaging/image_error.h"

class InputFile;

// Decodes a whole file held in memory.
ImageReadResult DecodePng(const std::uint8_t* data, std::size_t size,
                          const ImageLimits& limits = ImageLimits());
// Opens and decodes a file, reading it in pieces as the decoder asks for them.
ImageReadResult ReadPngFile(const std::string& path, const ImageLimits& limits = ImageLimits());
// The same for a file already open (the dispatcher opens it to see its first bytes).
ImageReadResult ReadPng(InputFile& file, const ImageLimits& limits = ImageLimits());

// The size from the signature and the IHDR alone (41 bytes), read and checked by
// the decoder's own first step.
ImageHeader DecodePngHeader(const std::uint8_t* data, std::size_t size,
                            const ImageLimits& limits = ImageLimits());
ImageHeader ReadPngHeader(InputFile& file, const ImageLimits& limits = ImageLimits());

// A 16-bit sample to 8 bits, rounded to the nearest of v * 255 / 65535:
// v8 = (v16 * 255 + 32767) / 65535. Exact multiples of 257 map to v / 257.
constexpr std::uint8_t ReduceSample16(std::uint32_t v16) {
  return std::uint8_t((v16 * 255 + 32767) / 65535);
}

// The whole file for `image`: 8-bit RGB, not interlaced. False with the reason
// when the image is empty, its pixel buffer does not match its size, or the
// encoder fails.
bool EncodePng(const RgbImage& image, std::vector<std::uint8_t>* file, std::string* reason);

// Creates `fileName` (never overwriting) and writes `image` into it; on failure no
// file is left under that name.
SaveResult SavePng(const std::string& fileName, const RgbImage& image,
                   FileSink& sink = DefaultFileSink());
