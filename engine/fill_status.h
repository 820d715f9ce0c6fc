// What a fill of the masked pixels answers when it cannot do its work. Every fill
// that reports one of these refusals leaves the picture exactly as it was.
#pragma once

#include <string>

enum class FillStatus {
  kOk,
  kSizeMismatch,  // the mask is not the size of the picture
  kBadArgument,   // a null picture, or an option outside its range
  kTooLarge,      // more masked pixels than the fill can number
  kOutOfMemory,
};

// "ok", "size mismatch", "bad argument", "too large", "out of memory".
const char* FillStatusName(FillStatus status);

// A refusal with the reason, its values named ("the mask is 640 x 480 but the picture
// is 800 x 600"); an empty reason with kOk.
struct FillOutcome {
  FillStatus status = FillStatus::kOk;
  std::string reason;
  bool ok() const { return status == FillStatus::kOk; }
};

// The refusal for a mask whose size is not the picture's, or kOk when they agree.
FillOutcome CheckSizes(int pictureWidth, int pictureHeight, int maskWidth, int maskHeight);
