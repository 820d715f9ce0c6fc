// The reader on arbitrary bytes. Besides the sanitizers, every input checks that
// the reader accepts exactly the well-formed 24-bit files, decodes them to the
// right size and pixels, gives a reason for every refusal, and that a decoded
// image written by the writer reads back unchanged. The header alone gives the
// decoder's answer exactly: its size, or its refusal word for word.
#include <cstddef>
#include <cstdint>

#include "imaging/bmp_reader.h"
#include "imaging/bmp_writer.h"
#include "tests/fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Without limits the file alone decides; with the usual ones a file that decodes
  // is refused exactly when its size is beyond them, as too large.
  ImageLimits unlimited;
  unlimited.maxSide = 0x7FFFFFFF;
  unlimited.maxPixels = ~std::uint64_t(0);
  const ImageReadResult r = DecodeBmp(data, size, unlimited);
  const fuzz::Expected e = fuzz::ExpectedDecode(data, size);
  FUZZ_CHECK(r.ok() == e.ok);
  const ImageReadResult limited = DecodeBmp(data, size);
  const bool within = e.ok && CheckImageLimits(e.width, e.height, ImageLimits()).empty();
  FUZZ_CHECK(limited.ok() == within);
  if (e.ok && !within) FUZZ_CHECK(limited.error == ImageError::kTooLarge);
  for (const bool withLimits : {false, true}) {
    const ImageReadResult& full = withLimits ? limited : r;
    const ImageHeader header = DecodeBmpHeader(data, size, withLimits ? ImageLimits() : unlimited);
    FUZZ_CHECK(header.ok() == full.ok());
    if (full.ok()) FUZZ_CHECK(header.width == full.image.width && header.height == full.image.height);
    if (!full.ok()) FUZZ_CHECK(header.error == full.error && header.reason == full.reason);
  }
  if (!r.ok()) {
    FUZZ_CHECK(!r.reason.empty());
    FUZZ_CHECK(r.image.rgb.empty());
    return 0;
  }
  FUZZ_CHECK(r.reason.empty());
  FUZZ_CHECK(r.image.width >= 1 && r.image.height >= 1);
  FUZZ_CHECK(r.image.rgb.size() == std::size_t(r.image.width) * std::size_t(r.image.height) * 3);
  FUZZ_CHECK(r.image.width == e.width && r.image.height == e.height);
  FUZZ_CHECK(r.image.rgb == e.rgb);

  // Write the picture out and read it back.
  const std::vector<std::uint8_t> file = EncodeBmp(r.image);
  FUZZ_CHECK(file.size() == 54 + std::size_t(r.image.height) * (std::size_t(r.image.width) + 1) * 3);
  const ImageReadResult back = DecodeBmp(file.data(), file.size());
  FUZZ_CHECK(back.ok());
  FUZZ_CHECK(back.image.width == r.image.width && back.image.height == r.image.height);
  FUZZ_CHECK(back.image.rgb == r.image.rgb);
  return 0;
}
