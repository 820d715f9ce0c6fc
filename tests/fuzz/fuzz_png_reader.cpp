// The PNG reader on arbitrary bytes. Besides the sanitizers, every input checks
// that a refusal has a reason and no picture; that an accepted picture has the
// IHDR's size, within the limits; that it survives the writer and the reader
// unchanged; and that the accepted file cut short (inside its IEND chunk, and
// half-way) is refused. The header alone agrees with the decoder: the same size
// whenever both accept, the decoder's refusal word for word whenever it refuses.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/png_codec.h"
#include "tests/fuzz/fuzz_common.h"

namespace {

// Small limits keep each input fast; the checks hold for any limits.
const ImageLimits kLimits = {2048, std::uint64_t(1) << 18};

std::uint32_t Be32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// The end of the first IEND chunk, walking the chunks by their lengths; 0 when
// the walk does not reach one.
std::size_t IendEnd(const std::uint8_t* d, std::size_t size) {
  std::size_t at = 8;
  while (at + 12 <= size) {
    const std::uint64_t end = std::uint64_t(at) + 12 + Be32(d + at);
    if (end > size) return 0;
    if (d[at + 4] == 'I' && d[at + 5] == 'E' && d[at + 6] == 'N' && d[at + 7] == 'D')
      return std::size_t(end);
    at = std::size_t(end);
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ImageReadResult r = DecodePng(data, size, kLimits);
  const ImageHeader header = DecodePngHeader(data, size, kLimits);
  if (r.ok())
    FUZZ_CHECK(header.ok() && header.width == r.image.width && header.height == r.image.height);
  if (!header.ok()) FUZZ_CHECK(!r.ok() && header.error == r.error && header.reason == r.reason);
  if (!r.ok()) {
    FUZZ_CHECK(!r.reason.empty());
    FUZZ_CHECK(r.image.rgb.empty() && r.image.width == 0 && r.image.height == 0);
    return 0;
  }
  FUZZ_CHECK(r.reason.empty());
  FUZZ_CHECK(size >= 33);
  const std::uint32_t w = Be32(data + 16), h = Be32(data + 20);
  FUZZ_CHECK(std::uint32_t(r.image.width) == w && std::uint32_t(r.image.height) == h);
  FUZZ_CHECK(CheckImageLimits(w, h, kLimits).empty());
  FUZZ_CHECK(r.image.rgb.size() == std::size_t(w) * h * 3);

  std::vector<std::uint8_t> file;
  std::string reason;
  FUZZ_CHECK(EncodePng(r.image, &file, &reason));
  const ImageReadResult back = DecodePng(file.data(), file.size(), kLimits);
  FUZZ_CHECK(back.ok());
  FUZZ_CHECK(back.image.width == r.image.width && back.image.height == r.image.height);
  FUZZ_CHECK(back.image.rgb == r.image.rgb);

  const std::size_t end = IendEnd(data, size);
  FUZZ_CHECK(end > 0);
  for (std::size_t cut : {end - 1, end / 2}) {
    const ImageReadResult shorter = DecodePng(data, cut, kLimits);
    FUZZ_CHECK(!shorter.ok() && shorter.image.rgb.empty());
  }
  return 0;
}
