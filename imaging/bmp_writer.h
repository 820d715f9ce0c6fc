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
#include "imaging/rgb_image.h"

// The whole file for a picture of at least 1 x 1 pixels.
// Empty when the picture cannot be encoded (see the overload below for why).
std::vector<std::uint8_t> EncodeBmp(const RgbImage& picture);
// The same, reporting why a picture cannot be encoded: an empty size, a file
// beyond the 32-bit size fields, too little memory, or pixel bytes that do not
// match the picture's size.
bool EncodeBmp(const RgbImage& picture, std::vector<std::uint8_t>* file, std::string* reason);

// Creates `fileName` (never overwriting) and writes the picture into it.
SaveResult SaveBmp(const std::string& fileName, const RgbImage& picture,
                   FileSink& sink = DefaultFileSink());
