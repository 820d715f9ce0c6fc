// Test files built by libpng and libjpeg. Both libraries stop on an error by a
// longjmp to the builder, which then fails the test; every object with a
// destructor is made before the jump point, so the jump skips none.
#include "tests/support/imaging/encoders.h"

#include <gtest/gtest.h>
#include <jerror.h>
#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace imagetest {

int PngChannels(int colour) {
  switch (colour) {
    case kGrey:
    case kPalette:
      return 1;
    case kGreyAlpha:
      return 2;
    case kRgb:
      return 3;
    case kRgba:
      return 4;
  }
  return 0;
}

std::vector<std::uint16_t> PatternSamples(int w, int h, int channels, int depth) {
  const std::uint32_t modulus = std::uint32_t(1) << depth;
  std::vector<std::uint16_t> samples;
  samples.reserve(std::size_t(w) * std::size_t(h) * std::size_t(channels));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < channels; ++c) {
        // Steps that are odd multiples of small primes run through every value.
        const std::uint32_t v =
            std::uint32_t(x) * 40503u + std::uint32_t(y) * 2897u + std::uint32_t(c) * 11u;
        samples.push_back(std::uint16_t(depth == 16 ? (v * 7919u) % modulus : v % modulus));
      }
  return samples;
}

namespace {

void PngAppend(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
void PngFlush(png_structp) {}

// One stored row of `spec`: samples packed most significant bit first below 8
// bits, big-endian at 16.
std::vector<std::uint8_t> PackRow(const PngSpec& spec, int y) {
  const int channels = PngChannels(spec.colour);
  const std::size_t count = std::size_t(spec.width) * std::size_t(channels);
  const std::uint16_t* in = spec.samples.data() + std::size_t(y) * count;
  std::vector<std::uint8_t> row((count * std::size_t(spec.depth) + 7) / 8, 0);
  for (std::size_t i = 0; i < count; ++i) {
    if (spec.depth == 16) {
      row[2 * i] = std::uint8_t(in[i] >> 8);
      row[2 * i + 1] = std::uint8_t(in[i]);
    } else if (spec.depth == 8) {
      row[i] = std::uint8_t(in[i]);
    } else {
      const std::size_t bit = i * std::size_t(spec.depth);
      row[bit / 8] |= std::uint8_t(in[i] << (8 - spec.depth - int(bit % 8)));
    }
  }
  return row;
}

}  // namespace

std::vector<std::uint8_t> EncodePngLib(const PngSpec& spec) {
  std::vector<std::uint8_t> out;
  std::vector<std::vector<std::uint8_t>> rows;
  for (int y = 0; y < spec.height; ++y) rows.push_back(PackRow(spec, y));
  std::vector<png_bytep> pointers;
  for (auto& row : rows) pointers.push_back(row.data());
  std::vector<png_color> palette;
  for (const auto& p : spec.palette) palette.push_back(png_color{p[0], p[1], p[2]});
  std::vector<png_byte> alpha(spec.paletteAlpha.begin(), spec.paletteAlpha.end());

  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (png == nullptr || info == nullptr) {
    ADD_FAILURE() << "libpng cannot start";
    png_destroy_write_struct(&png, &info);
    return {};
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    ADD_FAILURE() << "libpng failed to encode the test file";
    return {};
  }
  png_set_write_fn(png, &out, PngAppend, PngFlush);
  png_set_IHDR(png, info, png_uint_32(spec.width), png_uint_32(spec.height), spec.depth,
               spec.colour, spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), int(palette.size()));
  if (!alpha.empty()) png_set_tRNS(png, info, alpha.data(), int(alpha.size()), nullptr);
  if (spec.gamma) png_set_gAMA(png, info, 1 / 1.8);
  if (spec.srgb) png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
  png_write_info(png, info);
  png_write_image(png, pointers.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

RgbImage ExpectedPng(const PngSpec& spec) {
  RgbImage image;
  image.width = spec.width;
  image.height = spec.height;
  image.rgb.resize(std::size_t(spec.width) * std::size_t(spec.height) * 3);
  const int channels = PngChannels(spec.colour);
  const std::uint32_t top = (std::uint32_t(1) << spec.depth) - 1;
  const auto scale = [&](std::uint32_t v) {
    // Round to nearest; exact below 16 bits, where 255 is a multiple of top.
    return std::uint8_t((v * 255 + top / 2) / top);
  };
  for (int y = 0; y < spec.height; ++y)
    for (int x = 0; x < spec.width; ++x) {
      const std::uint16_t* s =
          &spec.samples[(std::size_t(y) * std::size_t(spec.width) + std::size_t(x)) *
                        std::size_t(channels)];
      std::uint8_t* p = image.At(x, y);
      if (spec.colour == kPalette) {
        for (int c = 0; c < 3; ++c) p[c] = spec.palette[s[0]][std::size_t(c)];
      } else if (spec.colour == kGrey || spec.colour == kGreyAlpha) {
        p[0] = p[1] = p[2] = scale(s[0]);
      } else {
        for (int c = 0; c < 3; ++c) p[c] = scale(s[c]);
      }
    }
  return image;
}

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
  return std::uint32_t(crc32(crc32(0, nullptr, 0), data, uInt(size)));
}

namespace {
std::uint32_t Be32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}
void PutBe32(std::vector<std::uint8_t>* out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(std::uint8_t(v >> shift));
}
}  // namespace

std::vector<PngChunk> PngChunks(const std::vector<std::uint8_t>& file) {
  std::vector<PngChunk> chunks;
  std::size_t at = 8;
  while (at + 12 <= file.size()) {
    PngChunk chunk;
    chunk.offset = at;
    chunk.length = Be32(&file[at]);
    chunk.type.assign(reinterpret_cast<const char*>(&file[at + 4]), 4);
    if (chunk.end() > file.size()) break;
    chunks.push_back(chunk);
    at = chunk.end();
    if (chunk.type == "IEND") break;
  }
  return chunks;
}

void AppendPngChunk(std::vector<std::uint8_t>* file, const std::string& type,
                    const std::vector<std::uint8_t>& data) {
  PutBe32(file, std::uint32_t(data.size()));
  const std::size_t start = file->size();
  file->insert(file->end(), type.begin(), type.end());
  file->insert(file->end(), data.begin(), data.end());
  PutBe32(file, Crc32(file->data() + start, file->size() - start));
}

std::vector<std::uint8_t> PngHeaderOnly(std::uint32_t w, std::uint32_t h) {
  std::vector<std::uint8_t> file = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  std::vector<std::uint8_t> ihdr;
  PutBe32(&ihdr, w);
  PutBe32(&ihdr, h);
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
  AppendPngChunk(&file, "IHDR", ihdr);
  AppendPngChunk(&file, "IEND", {});
  return file;
}

namespace {

struct JpegErrors {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};
void JpegStop(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1);
}

}  // namespace

std::vector<std::uint8_t> EncodeJpegLib(const JpegSpec& spec) {
  const int components = spec.space == JpegSpace::kGrey                                     ? 1
                         : spec.space == JpegSpace::kCmyk || spec.space == JpegSpace::kYcck ? 4
                                                                                            : 3;
  if (spec.samples.size() !=
      std::size_t(spec.width) * std::size_t(spec.height) * std::size_t(components)) {
    ADD_FAILURE() << "the JPEG spec holds " << spec.samples.size() << " samples";
    return {};
  }
  std::vector<std::uint8_t> out;
  std::vector<jpeg_scan_info> script;
  if (spec.manyScans) {
    script.push_back(jpeg_scan_info{1, {0}, 0, 0, 0, 0});
    for (int k = 1; k < 64; ++k) {
      script.push_back(jpeg_scan_info{1, {0}, k, k, 0, 9});
      for (int al = 8; al >= 0; --al) script.push_back(jpeg_scan_info{1, {0}, k, k, al + 1, al});
    }
  }
  jpeg_compress_struct c;
  JpegErrors errors;
  c.err = jpeg_std_error(&errors.pub);
  errors.pub.error_exit = JpegStop;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  if (setjmp(errors.jump)) {
    jpeg_destroy_compress(&c);
    std::free(buffer);
    ADD_FAILURE() << "libjpeg failed to encode the test file";
    return {};
  }
  jpeg_create_compress(&c);
  jpeg_mem_dest(&c, &buffer, &size);
  c.image_width = JDIMENSION(spec.width);
  c.image_height = JDIMENSION(spec.height);
  c.input_components = components;
  c.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 4 ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&c);
  if (spec.space == JpegSpace::kRgb) jpeg_set_colorspace(&c, JCS_RGB);
  if (spec.space == JpegSpace::kYcck) jpeg_set_colorspace(&c, JCS_YCCK);
  jpeg_set_quality(&c, spec.quality, TRUE);
  if (!spec.subsample)
    for (int i = 0; i < c.num_components; ++i)
      c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
  c.arith_code = spec.arithmetic ? TRUE : FALSE;
  c.restart_in_rows = spec.restartRows;
  if (spec.progressive) jpeg_simple_progression(&c);
  if (!script.empty()) {
    c.scan_info = script.data();
    c.num_scans = int(script.size());
  }
  jpeg_start_compress(&c, TRUE);
  const std::size_t stride = std::size_t(spec.width) * std::size_t(components);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(spec.samples.data() + c.next_scanline * stride);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  out.assign(buffer, buffer + size);
  std::free(buffer);
  return out;
}

JpegSpec JpegOf(const RgbImage& image, int quality) {
  JpegSpec spec;
  spec.width = image.width;
  spec.height = image.height;
  spec.samples = image.rgb;
  spec.quality = quality;
  return spec;
}

std::size_t JpegMarker(const std::vector<std::uint8_t>& file, std::uint8_t code) {
  std::size_t at = 2;
  while (at + 1 < file.size()) {
    if (file[at] != 0xFF) return 0;
    while (at + 1 < file.size() && file[at + 1] == 0xFF) ++at;  // fill bytes
    if (at + 1 >= file.size()) return 0;
    const std::uint8_t found = file[at + 1];
    if (found == code) return at + 2;
    if (found == 0xDA || at + 3 >= file.size()) return 0;
    at += 2 + (std::size_t(file[at + 2]) << 8 | file[at + 3]);
  }
  return 0;
}

std::size_t JpegEoi(const std::vector<std::uint8_t>& file) {
  for (std::size_t at = file.size(); at >= 2; --at)
    if (file[at - 2] == 0xFF && file[at - 1] == 0xD9) return at - 2;
  return 0;
}

}  // namespace imagetest
