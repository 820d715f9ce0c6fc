// Reader of JPEG files through libjpeg.
//
// libjpeg reports errors by calling a handler that must not return; ours records
// the message and longjmps back. A longjmp must not cross a frame that holds an
// object with a destructor, so the library is called only from the two "phase"
// functions below (ReadHeader, ReadPixels), which hold nothing but plain values
// and set their own jump point; everything with a destructor (the picture, the
// strings, the decoder's own cleanup) lives in the caller, DecodeWith, which
// never calls the library directly. The file source's callback that libjpeg
// calls for more bytes likewise leaves no such object alive when it raises an
// error.
//
// The memory and file paths share DecodeWith; only the source manager differs
// (libjpeg's memory source, or one that reads the open file 64 KiB at a time).
#include "imaging/jpeg_reader.h"

#include <csetjmp>
#include <cstdio>  // jpeglib.h uses FILE and size_t without including them

#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "imaging/input_file.h"

namespace {

// How much the file source reads at a time: the decoder's, and the header
// probe's (which needs the tables up to the first scan, usually under 1 KiB).
constexpr std::size_t kReadChunk = std::size_t(64) << 10;
constexpr std::size_t kHeaderReadChunk = 1024;
constexpr const char* kCmykRefused = "CMYK JPEG is not read; convert it to RGB";

std::string N(std::uint64_t v) { return std::to_string(v); }
std::string Size(std::uint64_t w, std::uint64_t h) { return N(w) + " x " + N(h); }

// What the error handler and the progress monitor leave for the caller. The
// library's pointer to `pub` is turned back into the whole struct, so `pub` comes
// first.
struct ErrorState {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  int code = 0;             // libjpeg's message code of the error or warning
  bool warning = false;     // the stop was a warning
  bool tooManyScans = false;
  char message[JMSG_LENGTH_MAX] = {};
};

void OnError(j_common_ptr cinfo) {
  ErrorState* state = reinterpret_cast<ErrorState*>(cinfo->err);
  state->code = cinfo->err->msg_code;
  (*cinfo->err->format_message)(cinfo, state->message);
  std::longjmp(state->jump, 1);
}

// Level -1 is a warning (corrupt or missing data); levels 0 and up are traces.
void OnMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  ErrorState* state = reinterpret_cast<ErrorState*>(cinfo->err);
  state->warning = true;
  OnError(cinfo);
}

void OnOutput(j_common_ptr) {}  // nothing is ever printed

void OnProgress(j_common_ptr cinfo) {
  const j_decompress_ptr d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > kMaxJpegScans) {
    ErrorState* state = reinterpret_cast<ErrorState*>(cinfo->err);
    state->tooManyScans = true;
    std::longjmp(state->jump, 1);
  }
}

// The source manager over an open file. The buffer and the error text belong to
// the caller.
struct FileSource {
  jpeg_source_mgr pub;
  InputFile* file = nullptr;
  JOCTET* buffer = nullptr;
  std::size_t chunk = kReadChunk;
  bool readFailed = false;
  std::string* readError = nullptr;
};

// Fills the buffer with the next bytes; false when the read fails. Returns with no
// object alive, whatever happened, so that the caller may raise an error.
bool FillFromFile(FileSource* source, std::size_t* got) {
  try {
    return source->file->Read(source->buffer, source->chunk, got, source->readError);
  } catch (...) {
    return false;
  }
}

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
  FileSource* source = reinterpret_cast<FileSource*>(cinfo->src);
  std::size_t got = 0;
  if (!FillFromFile(source, &got)) {
    source->readFailed = true;
    ERREXIT(cinfo, JERR_FILE_READ);
  }
  if (got == 0) {
    // The warning stops the decoder. Were it ever to return, the data would end
    // in an EOI marker as libjpeg's own sources do.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    static const JOCTET kEoi[2] = {0xFF, JPEG_EOI};
    source->pub.next_input_byte = kEoi;
    source->pub.bytes_in_buffer = 2;
    return TRUE;
  }
  source->pub.next_input_byte = source->buffer;
  source->pub.bytes_in_buffer = got;
  return TRUE;
}

// Skipped bytes beyond the buffer are never read: an APPn or COM segment (EXIF, an
// ICC profile, a comment) costs nothing. A skip past the end is found by the next
// fill, which warns of the premature end as a read through would.
void SkipInputData(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  FileSource* source = reinterpret_cast<FileSource*>(cinfo->src);
  jpeg_source_mgr* src = cinfo->src;
  const std::size_t skip = std::size_t(count);
  if (skip <= src->bytes_in_buffer) {
    src->next_input_byte += skip;
    src->bytes_in_buffer -= skip;
    return;
  }
  source->file->Skip(skip - src->bytes_in_buffer);
  src->bytes_in_buffer = 0;
}

// The libjpeg decoder and what its handlers report.
struct Decoder {
  jpeg_decompress_struct cinfo;
  ErrorState error;
  jpeg_progress_mgr progress;
  bool created = false;

  Decoder() {
    std::memset(&cinfo, 0, sizeof cinfo);
    std::memset(&progress, 0, sizeof progress);
  }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  ~Decoder() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
};

// Phase one: the decoder, its source, and the headers up to the first scan.
// `data` is the file in memory, or `fileSource` the source over the open file.
bool ReadHeader(Decoder* d, const std::uint8_t* data, std::size_t size,
                FileSource* fileSource) {
  d->cinfo.err = jpeg_std_error(&d->error.pub);
  d->error.pub.error_exit = OnError;
  d->error.pub.emit_message = OnMessage;
  d->error.pub.output_message = OnOutput;
  if (setjmp(d->error.jump)) return false;
  jpeg_create_decompress(&d->cinfo);
  d->created = true;
  d->progress.progress_monitor = OnProgress;
  d->cinfo.progress = &d->progress;
  if (fileSource != nullptr) {
    d->cinfo.src = &fileSource->pub;
  } else {
    jpeg_mem_src(&d->cinfo, data, static_cast<unsigned long>(size));
  }
  jpeg_read_header(&d->cinfo, TRUE);
  return true;
}

// Phase two: the rows into `pixels` (height rows of width x 3 bytes), then the
// rest of the file up to EOI. `sizeChanged` is set, and nothing decoded, when the
// output would not be the checked size.
bool ReadPixels(Decoder* d, std::uint8_t* pixels, JDIMENSION width, JDIMENSION height,
                bool* sizeChanged) {
  if (setjmp(d->error.jump)) return false;
  jpeg_start_decompress(&d->cinfo);
  if (d->cinfo.output_width != width || d->cinfo.output_height != height ||
      d->cinfo.output_components != 3) {
    *sizeChanged = true;
    return false;
  }
  const std::size_t rowBytes = std::size_t(width) * 3;
  while (d->cinfo.output_scanline < height) {
    JSAMPROW row = pixels + std::size_t(d->cinfo.output_scanline) * rowBytes;
    jpeg_read_scanlines(&d->cinfo, &row, 1);
  }
  jpeg_finish_decompress(&d->cinfo);
  return true;
}

// The refusal for what stopped the decoder.
ImageReadResult Failure(const Decoder& d, const FileSource* fileSource) {
  const ErrorState& e = d.error;
  const std::string message = e.message;
  if (e.tooManyScans)
    return ImageFailure(ImageError::kUnsupported,
                        "progressive JPEG file of more than " + std::to_string(kMaxJpegScans) +
                            " scans; files of so many scans are not read");
  if (fileSource != nullptr && fileSource->readFailed)
    return ImageFailure(ImageError::kReadFailed, *fileSource->readError);
  if (e.warning)
    return ImageFailure(ImageError::kMalformed, "corrupt or truncated JPEG file: " + message);
  switch (e.code) {
    case JERR_NO_SOI:
      return ImageFailure(ImageError::kNotRecognised, message);
    case JERR_OUT_OF_MEMORY:
      return ImageFailure(ImageError::kOutOfMemory,
                          "not enough memory to decode the JPEG file (" + message + ")");
    case JERR_NO_BACKING_STORE:
      return ImageFailure(ImageError::kTooLarge,
                          "decoding the JPEG file needs more memory than its limit of " +
                              N(std::uint64_t(d.cinfo.mem ? d.cinfo.mem->max_memory_to_use : 0)) +
                              " bytes");
    case JERR_IMAGE_TOO_BIG:
      return ImageFailure(ImageError::kTooLarge, "JPEG file is too large: " + message);
    case JERR_BAD_PRECISION:
    case JERR_SOF_UNSUPPORTED:
    case JERR_NOT_COMPILED:
    case JERR_ARITH_NOTIMPL:
    case JERR_CONVERSION_NOTIMPL:
      return ImageFailure(ImageError::kUnsupported, "unsupported JPEG file: " + message);
    default:
      return ImageFailure(ImageError::kMalformed, "malformed JPEG file: " + message);
  }
}

// Not recognised unless the bytes start with the SOI marker FF D8; a single FF
// is the start of one, cut short.
bool CheckStart(const std::uint8_t* head, std::size_t length, ImageReadResult* failure) {
  if (length >= 2 && head[0] == 0xFF && head[1] == 0xD8) return true;
  if (length == 1 && head[0] == 0xFF) {
    *failure = ImageFailure(ImageError::kMalformed,
                            "truncated JPEG file: 1 byte, shorter than the SOI marker");
    return false;
  }
  *failure = ImageFailure(ImageError::kNotRecognised,
                          length == 0 ? std::string("not a JPEG file: it is empty")
                                      : "not a JPEG file: it starts with " +
                                            BytesText(head, length, 2) +
                                            " instead of the SOI marker 0xFF 0xD8");
  return false;
}

// The most memory libjpeg may take for whole-picture buffers (the coefficients of
// a progressive file): 12 bytes a pixel of the largest picture the limits allow
// (three components of 2-byte coefficients, twice over for block padding and
// subsampled layouts), plus 64 MiB.
long MemoryLimit(const ImageLimits& limits) {
  const std::uint64_t cap = std::uint64_t(std::numeric_limits<long>::max());
  const std::uint64_t pixels = std::min<std::uint64_t>(limits.maxPixels, cap / 16);
  return long(std::min<std::uint64_t>(pixels * 12 + (std::uint64_t(64) << 20), cap));
}

// The headers up to the first scan, the colour space and the size checked: the
// step before any pixel. False with the refusal otherwise.
bool StartDecoder(Decoder* d, const std::uint8_t* data, std::size_t size, FileSource* fileSource,
                  const ImageLimits& limits, ImageReadResult* failure) {
  if (!ReadHeader(d, data, size, fileSource)) {
    *failure = Failure(*d, fileSource);
    return false;
  }
  const jpeg_decompress_struct& c = d->cinfo;
  switch (c.jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
    case JCS_RGB:
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      *failure = ImageFailure(ImageError::kUnsupported, kCmykRefused);
      return false;
    default:
      *failure = ImageFailure(ImageError::kUnsupported,
                              "JPEG file of " + std::to_string(c.num_components) +
                                  " colour components in an unknown colour space; only greyscale "
                                  "and colour (YCbCr or RGB) files are read");
      return false;
  }
  const std::string limit = CheckImageLimits(c.image_width, c.image_height, limits);
  if (!limit.empty()) {
    *failure = ImageFailure(ImageError::kTooLarge, limit);
    return false;
  }
  return true;
}

ImageHeader HeaderWith(const std::uint8_t* data, std::size_t size, FileSource* fileSource,
                       const ImageLimits& limits) {
  Decoder d;
  ImageReadResult failure;
  if (!StartDecoder(&d, data, size, fileSource, limits, &failure))
    return HeaderFailure(failure.error, failure.reason);
  const jpeg_decompress_struct& c = d.cinfo;
  ImageHeader header;
  header.format = ImageFormat::kJpeg;
  header.width = int(c.image_width);  // within the limits, so within an int
  header.height = int(c.image_height);
  header.components = c.num_components;
  if (c.progressive_mode || c.comps_in_scan < c.num_components) {
    // libjpeg's buffer: per component its blocks, rounded up to whole sampling
    // units, 64 two-byte coefficients each.
    for (int i = 0; i < c.num_components; ++i) {
      const jpeg_component_info& k = c.comp_info[i];
      const std::uint64_t across = (std::uint64_t(k.width_in_blocks) + k.h_samp_factor - 1) /
                                   std::uint64_t(k.h_samp_factor) * std::uint64_t(k.h_samp_factor);
      const std::uint64_t down = (std::uint64_t(k.height_in_blocks) + k.v_samp_factor - 1) /
                                 std::uint64_t(k.v_samp_factor) * std::uint64_t(k.v_samp_factor);
      header.coefficientBytes += across * down * sizeof(JBLOCK);
    }
  }
  return header;
}

ImageReadResult DecodeWith(const std::uint8_t* data, std::size_t size, FileSource* fileSource,
                           const ImageLimits& limits) {
  Decoder d;
  ImageReadResult failure;
  if (!StartDecoder(&d, data, size, fileSource, limits, &failure)) return failure;
  jpeg_decompress_struct& c = d.cinfo;

  ImageReadResult result;
  // Within the limits both sides fit an int and the product 64 bits.
  const std::uint64_t bytes = std::uint64_t(c.image_width) * std::uint64_t(c.image_height) * 3;
  try {
    if (bytes > std::numeric_limits<std::size_t>::max()) throw std::length_error("size");
    result.image.rgb.assign(std::size_t(bytes), 0);
  } catch (const std::exception&) {
    return ImageFailure(ImageError::kOutOfMemory, "not enough memory for a " +
                                                      Size(c.image_width, c.image_height) +
                                                      " picture (" + N(bytes) + " bytes)");
  }
  result.image.width = int(c.image_width);
  result.image.height = int(c.image_height);

  c.out_color_space = JCS_RGB;  // greyscale is expanded to R = G = B by the library
  c.mem->max_memory_to_use = MemoryLimit(limits);
  bool sizeChanged = false;
  if (!ReadPixels(&d, result.image.rgb.data(), c.image_width, c.image_height, &sizeChanged)) {
    if (sizeChanged)
      return ImageFailure(ImageError::kMalformed,
                          "JPEG decoder gave " + Size(c.output_width, c.output_height) + " with " +
                              std::to_string(c.output_components) + " components for a " +
                              Size(c.image_width, c.image_height) + " picture");
    return Failure(d, fileSource);
  }
  return result;
}

}  // namespace

ImageReadResult DecodeJpeg(const std::uint8_t* data, std::size_t size, const ImageLimits& limits) {
  if (data == nullptr) size = 0;
  ImageReadResult failure;
  if (!CheckStart(data, size, &failure)) return failure;
  return DecodeWith(data, size, nullptr, limits);
}

ImageReadResult ReadJpegFile(const std::string& path, const ImageLimits& limits) {
  return ReadOpenedFile(path, [&](InputFile& file) { return ReadJpeg(file, limits); });
}

namespace {

// A refusal as the caller's result.
ImageReadResult Refusal(const ImageReadResult& failure, const ImageReadResult*) { return failure; }
ImageHeader Refusal(const ImageReadResult& failure, const ImageHeader*) {
  return HeaderFailure(failure.error, failure.reason);
}

// Checks the SOI marker of the open file and gives `use` a source over it that
// reads `chunk` bytes at a time from the start.
template <typename Use>
auto WithFileSource(InputFile& file, std::size_t chunk, Use use) {
  using Result = decltype(use(static_cast<FileSource*>(nullptr)));
  const Result* kind = nullptr;
  std::uint8_t head[2];
  const std::size_t headLength = std::size_t(std::min<std::uint64_t>(file.size(), sizeof head));
  std::string reason;
  if (!file.ReadAt(head, headLength, 0, &reason))
    return Refusal(ImageFailure(ImageError::kReadFailed, reason), kind);
  ImageReadResult failure;
  if (!CheckStart(head, headLength, &failure)) return Refusal(failure, kind);

  std::vector<JOCTET> buffer;
  try {
    buffer.resize(chunk);
  } catch (const std::exception&) {
    return Refusal(ImageFailure(ImageError::kOutOfMemory, "not enough memory for the read buffer"),
                   kind);
  }
  std::string readError;
  FileSource source;
  std::memset(&source.pub, 0, sizeof source.pub);
  source.pub.init_source = InitSource;
  source.pub.fill_input_buffer = FillInputBuffer;
  source.pub.skip_input_data = SkipInputData;
  source.pub.resync_to_restart = jpeg_resync_to_restart;
  source.pub.term_source = TermSource;
  source.file = &file;
  source.buffer = buffer.data();
  source.chunk = chunk;
  source.readError = &readError;
  file.Rewind();
  return use(&source);
}

}  // namespace

ImageReadResult ReadJpeg(InputFile& file, const ImageLimits& limits) {
  return WithFileSource(file, kReadChunk,
                        [&](FileSource* source) { return DecodeWith(nullptr, 0, source, limits); });
}

ImageHeader DecodeJpegHeader(const std::uint8_t* data, std::size_t size,
                             const ImageLimits& limits) {
  if (data == nullptr) size = 0;
  ImageReadResult failure;
  if (!CheckStart(data, size, &failure)) return HeaderFailure(failure.error, failure.reason);
  return HeaderWith(data, size, nullptr, limits);
}

ImageHeader ReadJpegHeader(InputFile& file, const ImageLimits& limits) {
  return WithFileSource(file, kHeaderReadChunk,
                        [&](FileSource* source) { return HeaderWith(nullptr, 0, source, limits); });
}
