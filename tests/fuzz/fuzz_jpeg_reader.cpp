// The JPEG reader on arbitrary bytes. Besides the sanitizers, every input checks
// that a refusal has a reason and no picture; that an accepted picture has the
// frame header's size, within the limits, with equal channels when the frame has
// one component; and that the accepted file cut inside its EOI marker is refused
// (a truncated file never decodes). The header alone agrees with the decoder: the
// same size whenever both accept, the decoder's refusal word for word whenever it
// refuses.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "imaging/jpeg_reader.h"
#include "tests/fuzz/fuzz_common.h"

namespace {

// Small limits keep each input fast; the checks hold for any limits.
const ImageLimits kLimits = {2048, std::uint64_t(1) << 18};

struct Frame {
  std::size_t sof = 0;  // offset of the frame header's marker, 0 when none was found
  std::size_t eoi = 0;  // offset of the first EOI marker, 0 when none was found
  unsigned width = 0, height = 0, components = 0;
};

bool IsSof(std::uint8_t m) { return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC; }

// Walks the marker segments from SOI, and the entropy-coded data after each SOS,
// up to the first EOI.
Frame Walk(const std::uint8_t* d, std::size_t size) {
  Frame f;
  std::size_t at = 2;
  while (at + 1 < size) {
    if (d[at] != 0xFF) return f;
    const std::uint8_t m = d[at + 1];
    if (m == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (m == 0xD9) {
      f.eoi = at;
      return f;
    }
    if (m == 0x01 || (m >= 0xD0 && m <= 0xD7)) {  // no length
      at += 2;
      continue;
    }
    if (at + 3 >= size) return f;
    // libjpeg skips an APPn or COM segment that declares a length below 2 (the
    // length field's own two bytes) as if it declared 2.
    const std::size_t length = std::max<std::size_t>(std::size_t(d[at + 2]) << 8 | d[at + 3], 2);
    if (IsSof(m) && f.sof == 0 && at + 9 < size) {
      f.sof = at;
      f.height = unsigned(d[at + 5]) << 8 | d[at + 6];
      f.width = unsigned(d[at + 7]) << 8 | d[at + 8];
      f.components = d[at + 9];
    }
    at += 2 + length;
    if (m != 0xDA) continue;
    // Entropy-coded data runs to the next marker that is not a stuffed zero or a
    // restart marker.
    while (at + 1 < size) {
      if (d[at] == 0xFF && d[at + 1] != 0x00 && d[at + 1] != 0xFF &&
          !(d[at + 1] >= 0xD0 && d[at + 1] <= 0xD7))
        break;
      ++at;
    }
  }
  return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ImageReadResult r = DecodeJpeg(data, size, kLimits);
  const ImageHeader header = DecodeJpegHeader(data, size, kLimits);
  if (r.ok())
    FUZZ_CHECK(header.ok() && header.width == r.image.width && header.height == r.image.height);
  if (!header.ok()) FUZZ_CHECK(!r.ok() && header.error == r.error && header.reason == r.reason);
  if (!r.ok()) {
    FUZZ_CHECK(!r.reason.empty());
    FUZZ_CHECK(r.image.rgb.empty() && r.image.width == 0 && r.image.height == 0);
    return 0;
  }
  FUZZ_CHECK(r.reason.empty());
  const Frame f = Walk(data, size);
  FUZZ_CHECK(f.sof > 0);
  FUZZ_CHECK(unsigned(r.image.width) == f.width && unsigned(r.image.height) == f.height);
  FUZZ_CHECK(CheckImageLimits(f.width, f.height, kLimits).empty());
  FUZZ_CHECK(r.image.rgb.size() == std::size_t(f.width) * f.height * 3);
  if (f.components == 1)
    for (std::size_t i = 0; i < r.image.rgb.size(); i += 3)
      FUZZ_CHECK(r.image.rgb[i] == r.image.rgb[i + 1] && r.image.rgb[i + 1] == r.image.rgb[i + 2]);

  FUZZ_CHECK(f.eoi > f.sof);
  const ImageReadResult cut = DecodeJpeg(data, f.eoi + 1, kLimits);
  FUZZ_CHECK(!cut.ok() && cut.image.rgb.empty());
  return 0;
}
