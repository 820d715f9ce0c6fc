// Test files built in memory by the libraries themselves: PNG by libpng (not the
// library the reader uses, so that a mistake both would share shows), JPEG by
// libjpeg's compressor. Also the bytes-level helpers the tests use to cut, patch
// and corrupt those files.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/rgb_image.h"

namespace imagetest {

// The PNG colour types, numbered as in the IHDR.
enum PngColour { kGrey = 0, kRgb = 2, kPalette = 3, kGreyAlpha = 4, kRgba = 6 };

struct PngSpec {
  int width = 0;
  int height = 0;
  int colour = kRgb;
  int depth = 8;
  bool interlaced = false;
  // Every sample of every pixel, rows from the top, as many per pixel as the
  // colour type has (a palette index for kPalette), each below 2^depth.
  std::vector<std::uint16_t> samples;
  std::vector<std::array<std::uint8_t, 3>> palette;  // kPalette only
  std::vector<std::uint8_t> paletteAlpha;            // a tRNS chunk for the palette
  bool gamma = false;  // a gAMA chunk of 1/1.8 (the reader must not apply it)
  bool srgb = false;   // an sRGB chunk
};
std::vector<std::uint8_t> EncodePngLib(const PngSpec& spec);
// The 8-bit RGB picture a reader must give for `spec`: grey to R = G = B, depths
// below 8 scaled by 255 / (2^depth - 1), 16 bits rounded to the nearest of
// v * 255 / 65535, alpha dropped, palette looked up.
RgbImage ExpectedPng(const PngSpec& spec);
// Samples of a pattern (every value of the depth occurs) for a w x h picture of
// `channels` samples a pixel.
std::vector<std::uint16_t> PatternSamples(int w, int h, int channels, int depth);
int PngChannels(int colour);

// Where each chunk of a PNG file is: the offset of its length field, its type and
// data length. The file must be well formed up to where the walk stops.
struct PngChunk {
  std::size_t offset = 0;
  std::string type;
  std::size_t length = 0;
  std::size_t end() const { return offset + 12 + length; }
};
std::vector<PngChunk> PngChunks(const std::vector<std::uint8_t>& file);
// A file of the signature, an IHDR claiming w x h 8-bit RGB (with a correct CRC)
// and IEND: no image data at all.
std::vector<std::uint8_t> PngHeaderOnly(std::uint32_t w, std::uint32_t h);
// Appends a chunk of `type` and `data` with its CRC.
void AppendPngChunk(std::vector<std::uint8_t>* file, const std::string& type,
                    const std::vector<std::uint8_t>& data);
std::uint32_t Crc32(const std::uint8_t* data, std::size_t size);

// The colour spaces of JPEG files a test can make.
enum class JpegSpace { kGrey, kYCbCr, kRgb, kCmyk, kYcck };

struct JpegSpec {
  int width = 0;
  int height = 0;
  JpegSpace space = JpegSpace::kYCbCr;
  // Samples given to the compressor: 1 a pixel for kGrey, 4 for kCmyk and kYcck
  // (given as CMYK), 3 (RGB) otherwise.
  std::vector<std::uint8_t> samples;
  int quality = 95;
  bool progressive = false;
  bool arithmetic = false;
  bool subsample = true;  // 2 x 2 chroma for YCbCr; 1 x 1 otherwise
  int restartRows = 0;    // a restart marker every so many MCU rows (0: none)
  // A progressive script of 631 scans (greyscale only): the DC, then each AC
  // coefficient alone, sent in ten successive-approximation steps.
  bool manyScans = false;
};
std::vector<std::uint8_t> EncodeJpegLib(const JpegSpec& spec);
// A YCbCr spec holding `image`.
JpegSpec JpegOf(const RgbImage& image, int quality = 95);

// The offset just after the first marker 0xFF `code` found walking the marker
// segments from SOI (SOF0 0xC0, SOS 0xDA, ...), or 0 when none is found before the
// first SOS. The offset of EOI is found by a scan from the end instead.
std::size_t JpegMarker(const std::vector<std::uint8_t>& file, std::uint8_t code);
std::size_t JpegEoi(const std::vector<std::uint8_t>& file);

}  // namespace imagetest
