// Reader of 24-bit uncompressed BMP files (info header of 40 bytes or more,
// bottom-up or top-down rows, pixels at bfOffBits). Everything else is refused
// with a typed error and a one-line reason; a file is never half-decoded, and the
// size limits are checked on the header before any picture memory is allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/image_error.h"

class InputFile;

// Decodes a whole file held in memory.
ImageReadResult DecodeBmp(const std::uint8_t* data, std::size_t size,
                          const ImageLimits& limits = ImageLimits());
// Opens and decodes a file; reads only the headers before deciding to go on.
ImageReadResult ReadBmpFile(const std::string& path, const ImageLimits& limits = ImageLimits());
// The same for a file already open (the dispatcher opens it to see its first bytes).
ImageReadResult ReadBmp(InputFile& file, const ImageLimits& limits = ImageLimits());

// The size from the headers alone (the first 54 bytes and the file's size), by the
// very checks the decoder makes: every refusal of the decoder but a failed read
// or a lack of memory is the header's.
ImageHeader DecodeBmpHeader(const std::uint8_t* data, std::size_t size,
                            const ImageLimits& limits = ImageLimits());
ImageHeader ReadBmpHeader(InputFile& file, const ImageLimits& limits = ImageLimits());
