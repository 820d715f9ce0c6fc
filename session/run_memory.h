// What a restoration holds, weighed from the pictures' headers before any pixel is
// decoded: a run's budget (the command line, a batch) and a picture's load.
#pragma once

#include <cstdint>

#include "imaging/image_error.h"

// About the most memory a run of a width x height picture with `masked` pixels
// to restore holds: the engine's, the decoded mask held through the loads, the
// larger of the damaged image's and the original's decoding, the surfaces and,
// as asked, the quality measures and the encoded result. Saturates at 2^64 - 1.
std::uint64_t RunBytes(const ImageHeader& damaged, const ImageHeader* original,
                       std::uint64_t masked, bool measure, bool save);

// The most memory decoding the picture of `header` takes.
std::uint64_t LoadBytes(const ImageHeader& header);
