// Reads a picture file of any format the program knows, chosen by the file's
// first bytes (not by its name).
#pragma once

#include <string>

#include "imaging/image_error.h"

ImageReadResult ReadImageFile(const std::string& path, const ImageLimits& limits = ImageLimits());
