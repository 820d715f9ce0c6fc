// Reader of JPEG files (through libjpeg-turbo's libjpeg API).
//
// Baseline, extended sequential and progressive files of 8-bit samples, Huffman
// or arithmetic coded. Greyscale becomes R = G = B; YCbCr (and RGB) become RGB.
// CMYK and YCCK files, other colour spaces and other sample precisions are refused
// as kUnsupported. The size limits are checked on the frame header before the
// decoder allocates anything for the picture.
//
// A file is decoded whole or refused: every error of the library is a typed
// failure with the library's message, and so is every warning. libjpeg warns when
// data is corrupt or missing (a truncated file, extraneous bytes, a bad Huffman
// code) and then goes on with grey or repeated blocks in place of the lost data,
// which is not the picture in the file; so a warning is refused as kMalformed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/image_error.h"

class InputFile;

// Decodes a whole file held in memory.
ImageReadResult DecodeJpeg(const std::uint8_t* data, std::size_t size,
                           const ImageLimits& limits = ImageLimits());
// Opens and decodes a file, reading it in pieces as the decoder asks for them.
ImageReadResult ReadJpegFile(const std::string& path, const ImageLimits& limits = ImageLimits());
// The same for a file already open (the dispatcher opens it to see its first bytes).
ImageReadResult ReadJpeg(InputFile& file, const ImageLimits& limits = ImageLimits());

// The size, the components and the coefficients the decoder will keep, from the
// decoder's own first step: it reads the markers up to the first scan
// (the frame header and the tables, skipping the contents of APPn and COM
// segments without reading them) and checks the colour space and the limits, so
// it refuses every file that step refuses, with the same words. No pixel is read.
ImageHeader DecodeJpegHeader(const std::uint8_t* data, std::size_t size,
                             const ImageLimits& limits = ImageLimits());
ImageHeader ReadJpegHeader(InputFile& file, const ImageLimits& limits = ImageLimits());

// Progressive files of more scans than this are refused: each scan costs a pass
// over the whole picture's coefficients, so a small file of thousands of tiny
// scans would otherwise take minutes. Real encoders write about ten.
constexpr int kMaxJpegScans = 500;
