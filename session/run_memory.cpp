#include "session/run_memory.h"

#include <algorithm>

#include "engine/engine.h"
#include "imaging/decode_memory.h"

namespace {
constexpr std::uint64_t kSaturated = ~std::uint64_t(0);
std::uint64_t Plus(std::uint64_t a, std::uint64_t b) { return a > kSaturated - b ? kSaturated : a + b; }
}  // namespace

std::uint64_t LoadBytes(const ImageHeader& header) { return DecoderPeakBytes(header); }

std::uint64_t RunBytes(const ImageHeader& damaged, const ImageHeader* original,
                       std::uint64_t masked, bool measure, bool save) {
  const std::uint64_t pixels = std::uint64_t(damaged.width) * std::uint64_t(damaged.height);
  std::uint64_t perPixel = 3;  // the decoded mask, held until the mask is loaded
  perPixel += 3;               // the result's surface (the others keep no picture)
  if (measure) perPixel += 3;  // the result as bytes, to measure
  if (save) perPixel += 2 * 3;                      // a copy of the picture and its file
  std::uint64_t decoding = DecoderPeakBytes(damaged);
  if (original) decoding = std::max(decoding, DecoderPeakBytes(*original));
  const std::uint64_t session = pixels > kSaturated / perPixel ? kSaturated : pixels * perPixel;
  return Plus(Plus(CRestoreEngine::BytesNeeded(pixels, masked), session), decoding);
}
