// Reads a picture file of any format the program knows, chosen by the file's
// first bytes (not by its name): "BM" is BMP, 0x89 'P' 'N' 'G' 0x0D 0x0A 0x1A 0x0A
// is PNG, 0xFF 0xD8 0xFF is JPEG. Anything else is refused as kNotRecognised with
// a reason that names the formats read and the bytes the file starts with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/image_error.h"

ImageReadResult ReadImageFile(const std::string& path, const ImageLimits& limits = ImageLimits());
// The same for a whole file held in memory.
ImageReadResult DecodeImage(const std::uint8_t* data, std::size_t size,
                            const ImageLimits& limits = ImageLimits());

// The format and size of a picture file from its header alone, before any pixel
// is decoded or any picture memory allocated: the first 54 bytes of a BMP, the
// signature and IHDR of a PNG (41 bytes), the markers of a JPEG up to its first
// scan (the contents of APPn and COM segments skipped unread). Refused exactly
// when the whole reader refuses the header, with the same error and reason; a
// file whose header passes may still fail later in its pixels.
ImageHeader ReadImageHeader(const std::string& path, const ImageLimits& limits = ImageLimits());
// The same for a file held in memory, and for a file already open (reading it
// from the start; the bytes it read are in file.bytesRead()).
ImageHeader DecodeImageHeader(const std::uint8_t* data, std::size_t size,
                              const ImageLimits& limits = ImageLimits());
class InputFile;
ImageHeader ReadImageHeader(InputFile& file, const ImageLimits& limits = ImageLimits());
