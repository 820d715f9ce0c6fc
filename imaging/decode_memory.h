// How much memory reading a picture file takes, known from its header alone, so
// that a load can be weighed against what the machine can give before anything is
// decoded (the engine's own bytes a pixel come on top).
#pragma once

#include <cstdint>

#include "imaging/image_error.h"

// The most heap memory the reader holds at once while reading a file with this
// header (ReadImageFile): the decoded picture, 3 bytes a pixel, which outlives
// the read, and the decoder's own buffers, which do not. An upper bound, and
// close to what was measured for every format and kind:
//   BMP   the picture and ReadBmp's row buffer (whole rows, about 1 MiB);
//   PNG   the picture, a few scanlines of up to 8 bytes a pixel, zlib's window,
//         and up to 16 MiB of ancillary chunks (text, ICC profile, EXIF) libspng
//         may keep;
//   JPEG  the picture, libjpeg's row buffers, and for a progressive file (or
//         one whose components come in separate scans) every coefficient:
//         2 bytes a coefficient, 64 a block, about 2 bytes a pixel a component
//         before chroma subsampling (header.coefficientBytes, exactly).
// A refused header needs nothing: 0.
std::uint64_t DecoderPeakBytes(const ImageHeader& header);
