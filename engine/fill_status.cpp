#include "engine/fill_status.h"

const char* FillStatusName(FillStatus status) {
  switch (status) {
    case FillStatus::kOk:
      return "ok";
    case FillStatus::kSizeMismatch:
      return "size mismatch";
    case FillStatus::kBadArgument:
      return "bad argument";
    case FillStatus::kTooLarge:
      return "too large";
    case FillStatus::kOutOfMemory:
      return "out of memory";
  }
  return "unknown";
}

FillOutcome CheckSizes(int pictureWidth, int pictureHeight, int maskWidth, int maskHeight) {
  if (pictureWidth == maskWidth && pictureHeight == maskHeight) return {};
  return {FillStatus::kSizeMismatch, "the mask is " + std::to_string(maskWidth) + " x " +
                                         std::to_string(maskHeight) + " but the picture is " +
                                         std::to_string(pictureWidth) + " x " +
                                         std::to_string(pictureHeight)};
}
