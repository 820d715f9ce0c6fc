// Writer of 24-bit BMP files. Layout: 14-byte file header, 40-byte info header,
// then biSizeImage = h x (w + 1) x 3 bytes: the h rows bottom-up, blue-green-red,
// each padded to 4 bytes, followed by zero filler up to biSizeImage.
// A file is only ever created new; a failed or partial write leaves no file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/file_sink.h"
#include "imaging/surface.h"

// The whole file for a surface of at least 1 x 1 pixels.
// Empty when the surface cannot be encoded (see the overload below for why).
std::vector<std::uint8_t> EncodeBmp(const ImageSurface& surface);
// The same, reporting why a surface cannot be encoded: an empty size, a file
// beyond the 32-bit size fields, too little memory, or a bitmap that does not
// hold the surface's rows.
bool EncodeBmp(const ImageSurface& surface, std::vector<std::uint8_t>* file, std::string* reason);

// Creates `fileName` (never overwriting) and writes the surface into it.
SaveResult SaveBmp(const std::string& fileName, const ImageSurface& surface,
                   FileSink& sink = DefaultFileSink());
