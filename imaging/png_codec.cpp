// Reader and writer of PNG files through libspng.
//
// The memory and file paths share one decoder (DecodeWith) and one read callback;
// only where the callback takes the bytes from differs. The decoder reads the
// signature and the IHDR, checks the size against the limits, allocates the
// picture, then takes the image one scanline (one row of one Adam7 pass) at a
// time and puts its pixels in place itself: 8-bit RGB as libspng converts every
// depth below 16, 16-bit RGBA rounded here, and palette indices looked up here so
// that an index beyond the palette is refused. After the last scanline the rest
// of the file is read up to IEND; a file cut anywhere before the end of IEND is
// refused.
//
// Every chunk's CRC is checked, critical and ancillary alike. The chunks libspng
// keeps in memory (text, ICC profile, EXIF) are capped in size
// and in total, and the image data cannot inflate past the IHDR's size, so a small
// file cannot make the decoder allocate more than the picture the limits allow.
#include "imaging/png_codec.h"

#include <spng.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include "imaging/input_file.h"

namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
// The ancillary chunks libspng keeps in memory (text, ICC profile, EXIF): one
// chunk, and all of them together. libspng 0.7 applies only the second to text.
constexpr std::size_t kChunkSizeLimit = std::size_t(8) << 20;
constexpr std::size_t kChunkCacheLimit = std::size_t(16) << 20;
// Where each Adam7 pass starts in a row and how far apart its pixels are.
constexpr int kPassStartX[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr int kPassStepX[7] = {8, 8, 4, 4, 2, 2, 1};

std::string N(std::uint64_t v) { return std::to_string(v); }
std::string Size(std::uint64_t w, std::uint64_t h) { return N(w) + " x " + N(h); }

class Context {
 public:
  explicit Context(int flags) : ctx_(spng_ctx_new(flags)) {}
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  ~Context() { spng_ctx_free(ctx_); }
  spng_ctx* get() const { return ctx_; }

 private:
  spng_ctx* ctx_;
};

// Where libspng's read callback takes the bytes from: a whole file in memory, or
// an open file. libspng asks for exactly the bytes of each chunk it reads, so a
// request past the end means the file is cut short; libspng itself lets a
// missing IEND CRC pass, so the callback notes every such request.
struct Source {
  const std::uint8_t* data = nullptr;  // the memory, when `file` is null
  std::size_t size = 0;
  std::size_t position = 0;
  InputFile* file = nullptr;
  bool pastEnd = false;
  bool readFailed = false;
  std::string readError;
};

// Called by libspng for exactly `length` bytes; nothing may be thrown through it.
int ReadSource(spng_ctx*, void* user, void* dest, std::size_t length) {
  Source* source = static_cast<Source*>(user);
  std::uint8_t* out = static_cast<std::uint8_t*>(dest);
  if (source->file == nullptr) {
    if (length > source->size - source->position) {
      source->pastEnd = true;
      return SPNG_IO_EOF;
    }
    std::memcpy(out, source->data + source->position, length);
    source->position += length;
    return 0;
  }
  try {
    while (length > 0) {
      std::size_t got = 0;
      if (!source->file->Read(out, length, &got, &source->readError)) {
        source->readFailed = true;
        return SPNG_IO_ERROR;
      }
      if (got == 0) {
        source->pastEnd = true;
        return SPNG_IO_EOF;
      }
      out += got;
      length -= got;
    }
  } catch (...) {
    source->readFailed = true;
    source->readError = "out of memory while reading";
    return SPNG_IO_ERROR;
  }
  return 0;
}

ImageReadResult Truncated() {
  return ImageFailure(ImageError::kMalformed,
                      "truncated PNG file: it ends before the end of its IEND chunk");
}

// The refusal for libspng's error `code`.
ImageReadResult Failure(int code, const Source* source) {
  const std::string text = spng_strerror(code);
  switch (code) {
    case SPNG_IO_ERROR:
      if (source->readFailed) return ImageFailure(ImageError::kReadFailed, source->readError);
      return ImageFailure(ImageError::kReadFailed, "PNG read failed: " + text);
    case SPNG_IO_EOF:
    case SPNG_EOF:
      return Truncated();
    case SPNG_ESIGNATURE:
      return ImageFailure(ImageError::kNotRecognised, "not a PNG file: " + text);
    case SPNG_EMEM:
      return ImageFailure(ImageError::kOutOfMemory, "not enough memory to decode the PNG file");
    case SPNG_ECHUNK_LIMITS:
      return ImageFailure(ImageError::kTooLarge,
                          "PNG file holds ancillary chunks beyond the limits (" +
                              N(kChunkSizeLimit) + " bytes a chunk, " + N(kChunkCacheLimit) +
                              " bytes in all): " + text);
    case SPNG_ECHUNK_UNKNOWN_CRITICAL:
      return ImageFailure(ImageError::kUnsupported, "unsupported PNG file: " + text);
    default:
      return ImageFailure(ImageError::kMalformed, "malformed PNG file: " + text);
  }
}

// Not recognised unless the bytes start with the signature; a file that is a
// proper beginning of it is truncated instead.
bool CheckSignature(const std::uint8_t* head, std::size_t length, ImageReadResult* failure) {
  const std::size_t n = std::min<std::size_t>(length, sizeof kSignature);
  if (n > 0 && std::memcmp(head, kSignature, n) != 0) {
    *failure = ImageFailure(ImageError::kNotRecognised,
                            "not a PNG file: it starts with " + BytesText(head, length, 8) +
                                " instead of the PNG signature 0x89 'P' 'N' 'G' 0x0D 0x0A 0x1A 0x0A");
    return false;
  }
  if (length < sizeof kSignature) {
    *failure = ImageFailure(ImageError::kMalformed,
                            "truncated PNG file: " + N(length) + " bytes, shorter than the " +
                                N(sizeof kSignature) + "-byte signature");
    return false;
  }
  return true;
}

bool AllocatePicture(std::uint32_t width, std::uint32_t height, RgbImage* image,
                     ImageReadResult* failure) {
  // The limits were checked: both sides fit an int and the product 64 bits.
  const std::uint64_t bytes = std::uint64_t(width) * std::uint64_t(height) * 3;
  try {
    if (bytes > std::numeric_limits<std::size_t>::max()) throw std::length_error("size");
    image->rgb.assign(std::size_t(bytes), 0);
  } catch (const std::exception&) {
    *failure = ImageFailure(ImageError::kOutOfMemory, "not enough memory for a " +
                                                          Size(width, height) + " picture (" +
                                                          N(bytes) + " bytes)");
    return false;
  }
  image->width = int(width);
  image->height = int(height);
  return true;
}

// How the scanlines come from libspng and go into the picture.
enum class Samples {
  kRgb8,     // 8-bit RGB, converted by libspng from every depth below 16
  kRgba16,   // 16-bit RGBA, rounded here
  kIndices,  // palette indices as stored, looked up here
};

// Puts the pixels of one decoded scanline into row `y`: the scanline holds
// `count` pixels, the first at `x0`, `step` apart (1 unless interlaced).
void PlaceScanline(Samples kind, const std::uint8_t* in, int depth, const spng_plte& plte,
                   std::size_t x0, std::size_t step, std::size_t count, std::uint8_t* row) {
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t* out = row + (x0 + i * step) * 3;
    switch (kind) {
      case Samples::kRgb8:
        std::memcpy(out, in + i * 3, 3);
        break;
      case Samples::kRgba16: {
        std::uint16_t v[4];
        std::memcpy(v, in + i * 8, sizeof v);  // host order
        for (int c = 0; c < 3; ++c) out[c] = ReduceSample16(v[c]);
        break;
      }
      case Samples::kIndices: {
        // Packed from the most significant bit; the index was checked.
        const std::size_t bit = i * std::size_t(depth);
        const unsigned index = (in[bit / 8] >> (8 - depth - int(bit % 8))) & ((1u << depth) - 1);
        out[0] = plte.entries[index].red;
        out[1] = plte.entries[index].green;
        out[2] = plte.entries[index].blue;
        break;
      }
    }
  }
}

// The first index of a scanline of `count` packed indices that is beyond the
// palette, or -1.
long BadIndex(const std::uint8_t* in, int depth, std::size_t count, std::uint32_t entries) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t bit = i * std::size_t(depth);
    const unsigned index = (in[bit / 8] >> (8 - depth - int(bit % 8))) & ((1u << depth) - 1);
    if (index >= entries) return long(i);
  }
  return -1;
}

// Sets `ctx` to read from `source` and reads the signature and the IHDR (libspng
// reads no further), checked against the limits. False with the refusal otherwise.
bool ReadHeader(spng_ctx* ctx, const ImageLimits& limits, Source* source, spng_ihdr* ihdr,
                ImageReadResult* failure) {
  if (ctx == nullptr) {
    *failure = ImageFailure(ImageError::kOutOfMemory, "not enough memory to start the PNG decoder");
    return false;
  }
  int rc = spng_set_png_stream(ctx, ReadSource, source);
  if (rc == 0) rc = spng_set_chunk_limits(ctx, kChunkSizeLimit, kChunkCacheLimit);
  if (rc == 0) rc = spng_set_crc_action(ctx, SPNG_CRC_ERROR, SPNG_CRC_ERROR);
  if (rc == 0) rc = spng_get_ihdr(ctx, ihdr);
  if (rc != 0) {
    *failure = Failure(rc, source);
    return false;
  }
  const std::string limit = CheckImageLimits(ihdr->width, ihdr->height, limits);
  if (!limit.empty()) {
    *failure = ImageFailure(ImageError::kTooLarge, limit);
    return false;
  }
  return true;
}

ImageHeader HeaderWith(spng_ctx* ctx, const ImageLimits& limits, Source* source) {
  spng_ihdr ihdr;
  ImageReadResult failure;
  if (!ReadHeader(ctx, limits, source, &ihdr, &failure))
    return HeaderFailure(failure.error, failure.reason);
  ImageHeader header;
  header.format = ImageFormat::kPng;
  header.width = int(ihdr.width);  // within the limits, so within an int
  header.height = int(ihdr.height);
  return header;
}

// Decodes the PNG that `ctx` reads from `source`.
ImageReadResult DecodeWith(spng_ctx* ctx, const ImageLimits& limits, Source* source) {
  spng_ihdr ihdr;
  ImageReadResult failure;
  if (!ReadHeader(ctx, limits, source, &ihdr, &failure)) return failure;

  ImageReadResult result;
  if (!AllocatePicture(ihdr.width, ihdr.height, &result.image, &result)) return result;
  const Samples kind = ihdr.color_type == SPNG_COLOR_TYPE_INDEXED ? Samples::kIndices
                       : ihdr.bit_depth == 16                     ? Samples::kRgba16
                                                                  : Samples::kRgb8;
  const int format = kind == Samples::kIndices  ? SPNG_FMT_PNG
                     : kind == Samples::kRgba16 ? SPNG_FMT_RGBA16
                                                : SPNG_FMT_RGB8;
  const std::size_t width = ihdr.width;
  const std::size_t scanlineBytes = kind == Samples::kIndices  ? (width * ihdr.bit_depth + 7) / 8
                                    : kind == Samples::kRgba16 ? width * 8
                                                               : width * 3;
  std::vector<std::uint8_t> scanline;
  try {
    scanline.assign(scanlineBytes, 0);
  } catch (const std::exception&) {
    return ImageFailure(ImageError::kOutOfMemory,
                        "not enough memory for a scanline of " + N(scanlineBytes) + " bytes");
  }
  // No transparency, no gamma: the samples as stored.
  int rc = spng_decode_image(ctx, nullptr, 0, format, SPNG_DECODE_PROGRESSIVE);
  if (rc != 0) return Failure(rc, source);
  spng_plte plte = {};
  if (kind == Samples::kIndices) {
    rc = spng_get_plte(ctx, &plte);
    if (rc != 0) return Failure(rc, source);
  }

  const bool interlaced = ihdr.interlace_method != SPNG_INTERLACE_NONE;
  for (;;) {
    spng_row_info info;
    rc = spng_get_row_info(ctx, &info);
    if (rc != 0) return Failure(rc, source);
    if (info.row_num >= ihdr.height || info.pass < 0 || info.pass > 6)
      return ImageFailure(ImageError::kMalformed,
                          "PNG decoder reported row " + N(info.row_num) + " of pass " +
                              std::to_string(info.pass) + " in a " +
                              Size(ihdr.width, ihdr.height) + " picture");
    const std::size_t x0 = interlaced ? std::size_t(kPassStartX[info.pass]) : 0;
    const std::size_t step = interlaced ? std::size_t(kPassStepX[info.pass]) : 1;
    // libspng skips the passes that have no pixels.
    const std::size_t count = width > x0 ? (width - x0 + step - 1) / step : 0;
    rc = spng_decode_scanline(ctx, scanline.data(), scanline.size());
    if (rc != 0 && rc != SPNG_EOI) return Failure(rc, source);
    if (kind == Samples::kIndices) {
      const long bad = BadIndex(scanline.data(), ihdr.bit_depth, count, plte.n_entries);
      if (bad >= 0)
        return ImageFailure(ImageError::kMalformed,
                            "malformed PNG file: pixel (" + N(x0 + std::size_t(bad) * step) +
                                ", " + N(info.row_num) + ") has a palette index beyond the " +
                                N(plte.n_entries) + "-entry palette");
    }
    PlaceScanline(kind, scanline.data(), ihdr.bit_depth, plte, x0, step, count,
                  result.image.rgb.data() + std::size_t(info.row_num) * width * 3);
    if (rc == SPNG_EOI) break;
  }
  // The chunks after the image data, up to IEND, with their CRCs.
  rc = spng_decode_chunks(ctx);
  if (rc != 0) return Failure(rc, source);
  if (source->pastEnd) return Truncated();
  return result;
}

}  // namespace

ImageReadResult DecodePng(const std::uint8_t* data, std::size_t size, const ImageLimits& limits) {
  if (data == nullptr) size = 0;
  ImageReadResult failure;
  if (!CheckSignature(data, size, &failure)) return failure;
  Source source;
  source.data = data;
  source.size = size;
  Context ctx(0);
  return DecodeWith(ctx.get(), limits, &source);
}

ImageReadResult ReadPngFile(const std::string& path, const ImageLimits& limits) {
  return ReadOpenedFile(path, [&](InputFile& file) { return ReadPng(file, limits); });
}

ImageReadResult ReadPng(InputFile& file, const ImageLimits& limits) {
  std::uint8_t head[sizeof kSignature];
  const std::size_t headLength = std::size_t(std::min<std::uint64_t>(file.size(), sizeof head));
  std::string reason;
  if (!file.ReadAt(head, headLength, 0, &reason))
    return ImageFailure(ImageError::kReadFailed, reason);
  ImageReadResult failure;
  if (!CheckSignature(head, headLength, &failure)) return failure;
  Source source;
  source.file = &file;
  // The callback reads from where the file stands: the start, whoever read before.
  file.Rewind();
  Context ctx(0);
  return DecodeWith(ctx.get(), limits, &source);
}

ImageHeader DecodePngHeader(const std::uint8_t* data, std::size_t size, const ImageLimits& limits) {
  if (data == nullptr) size = 0;
  ImageReadResult failure;
  if (!CheckSignature(data, size, &failure)) return HeaderFailure(failure.error, failure.reason);
  Source source;
  source.data = data;
  source.size = size;
  Context ctx(0);
  return HeaderWith(ctx.get(), limits, &source);
}

ImageHeader ReadPngHeader(InputFile& file, const ImageLimits& limits) {
  std::uint8_t head[sizeof kSignature];
  const std::size_t headLength = std::size_t(std::min<std::uint64_t>(file.size(), sizeof head));
  std::string reason;
  if (!file.ReadAt(head, headLength, 0, &reason))
    return HeaderFailure(ImageError::kReadFailed, reason);
  ImageReadResult failure;
  if (!CheckSignature(head, headLength, &failure))
    return HeaderFailure(failure.error, failure.reason);
  Source source;
  source.file = &file;
  file.Rewind();
  Context ctx(0);
  return HeaderWith(ctx.get(), limits, &source);
}

bool EncodePng(const RgbImage& image, std::vector<std::uint8_t>* file, std::string* reason) {
  file->clear();
  const std::int64_t w = image.width, h = image.height;
  if (w < 1 || h < 1) {
    *reason = "there is no picture to write (the image is " + std::to_string(w) + " x " +
              std::to_string(h) + ")";
    return false;
  }
  // Both sides are positive ints, so the product fits 64 bits.
  const std::uint64_t bytes = std::uint64_t(w) * std::uint64_t(h) * 3;
  if (bytes != image.rgb.size()) {
    *reason = "the " + Size(std::uint64_t(w), std::uint64_t(h)) + " image holds " +
              N(image.rgb.size()) + " bytes of pixels instead of " + N(bytes);
    return false;
  }
  Context ctx(SPNG_CTX_ENCODER);
  if (ctx.get() == nullptr) {
    *reason = "not enough memory to start the PNG encoder";
    return false;
  }
  spng_ihdr ihdr = {};
  ihdr.width = std::uint32_t(w);
  ihdr.height = std::uint32_t(h);
  ihdr.bit_depth = 8;
  ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
  ihdr.interlace_method = SPNG_INTERLACE_NONE;
  int rc = spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
  if (rc == 0) rc = spng_set_ihdr(ctx.get(), &ihdr);
  if (rc == 0)
    rc = spng_encode_image(ctx.get(), image.rgb.data(), image.rgb.size(), SPNG_FMT_PNG,
                           SPNG_ENCODE_FINALIZE);
  if (rc != 0) {
    *reason = "PNG encoder failed: " + std::string(spng_strerror(rc));
    return false;
  }
  std::size_t length = 0;
  void* encoded = spng_get_png_buffer(ctx.get(), &length, &rc);
  if (encoded == nullptr || rc != 0) {
    std::free(encoded);
    *reason = "PNG encoder gave no file: " + std::string(spng_strerror(rc));
    return false;
  }
  try {
    const std::uint8_t* p = static_cast<const std::uint8_t*>(encoded);
    file->assign(p, p + length);
  } catch (const std::exception&) {
    std::free(encoded);
    file->clear();
    *reason = "not enough memory for the " + N(length) + "-byte PNG file";
    return false;
  }
  std::free(encoded);
  return true;
}

SaveResult SavePng(const std::string& fileName, const RgbImage& image, FileSink& sink) {
  std::vector<std::uint8_t> file;
  std::string reason;
  if (!EncodePng(image, &file, &reason)) {
    SaveResult result;
    result.reason = "cannot save " + fileName + ": " + reason;
    return result;
  }
  return WriteNewFile(fileName, file, sink);
}
