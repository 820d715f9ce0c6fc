#include "imaging/image_reader.h"

#include "imaging/bmp_reader.h"

ImageReadResult ReadImageFile(const std::string& path, const ImageLimits& limits) {
  return ReadBmpFile(path, limits);
}
