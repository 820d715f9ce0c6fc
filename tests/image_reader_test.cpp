// The reader chosen by the first bytes: each format whatever the file is called,
// from disk and from memory; files of no known format; things that are not
// regular files; and the limits passed through to each reader.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "imaging/image_reader.h"
#include "imaging/jpeg_reader.h"
#include "tests/support/imaging/encoders.h"
#include "tests/support/imaging/test_files.h"

namespace {

using namespace imagetest;

// A 24-bit bottom-up BMP file of `image`.
std::vector<std::uint8_t> Bmp(const RgbImage& image) {
  const std::size_t stride = (std::size_t(image.width) * 3 + 3) / 4 * 4;
  const std::size_t size = 54 + stride * std::size_t(image.height);
  std::vector<std::uint8_t> f(size, 0);
  const auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
  };
  f[0] = 'B';
  f[1] = 'M';
  put32(2, std::uint32_t(size));
  put32(10, 54);
  put32(14, 40);
  put32(18, std::uint32_t(image.width));
  put32(22, std::uint32_t(image.height));
  f[26] = 1;
  f[28] = 24;
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      std::uint8_t* p = &f[54 + std::size_t(image.height - 1 - y) * stride + std::size_t(x) * 3];
      p[0] = image.At(x, y)[2];
      p[1] = image.At(x, y)[1];
      p[2] = image.At(x, y)[0];
    }
  return f;
}

std::vector<std::uint8_t> Png(const RgbImage& image) {
  PngSpec spec;
  spec.width = image.width;
  spec.height = image.height;
  spec.samples.assign(image.rgb.begin(), image.rgb.end());
  spec.interlaced = true;
  return EncodePngLib(spec);
}

void ExpectRefused(const ImageReadResult& r, ImageError error, const std::string& text) {
  EXPECT_EQ(r.error, error) << ImageErrorName(r.error) << ": " << r.reason;
  EXPECT_NE(r.reason.find(text), std::string::npos) << r.reason;
  EXPECT_TRUE(r.image.rgb.empty());
}

TEST(ReadImageFile, ChoosesTheReaderByContentNotByName) {
  TempDir dir;
  const RgbImage image = PatternImage(11, 7);
  const std::vector<std::uint8_t> jpeg = EncodeJpegLib(JpegOf(image, 90));
  const ImageReadResult jpegPixels = DecodeJpeg(jpeg.data(), jpeg.size());
  ASSERT_TRUE(jpegPixels.ok()) << jpegPixels.reason;
  // Each format under a name that claims another.
  const struct {
    const char* name;
    std::vector<std::uint8_t> bytes;
    const RgbImage& want;
  } files[] = {{"bmp.png", Bmp(image), image},
               {"png.jpg", Png(image), image},
               {"jpeg.bmp", jpeg, jpegPixels.image}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    WriteBytes(dir.File(f.name), f.bytes);
    const ImageReadResult fromFile = ReadImageFile(dir.File(f.name));
    ASSERT_TRUE(fromFile.ok()) << fromFile.reason;
    EXPECT_EQ(CompareImages(f.want, fromFile.image), "");
    const ImageReadResult fromMemory = DecodeImage(f.bytes.data(), f.bytes.size());
    ASSERT_TRUE(fromMemory.ok()) << fromMemory.reason;
    EXPECT_EQ(CompareImages(f.want, fromMemory.image), "");

    // The limits reach the chosen reader; a file cut short is refused by it.
    ExpectRefused(ReadImageFile(dir.File(f.name), {10, 1000}), ImageError::kTooLarge, "11 x 7");
    std::vector<std::uint8_t> cut = f.bytes;
    cut.resize(cut.size() - 3);
    WriteBytes(dir.File(f.name), cut);
    const ImageReadResult r = ReadImageFile(dir.File(f.name));
    EXPECT_EQ(r.error, ImageError::kMalformed) << r.reason;
    EXPECT_EQ(DecodeImage(cut.data(), cut.size()).error, ImageError::kMalformed);
  }
}

TEST(ReadImageFile, FilesOfNoKnownFormat) {
  TempDir dir;
  const struct {
    std::vector<std::uint8_t> bytes;
    const char* shown;
  } cases[] = {
      {{'G', 'I', 'F', '8', '9', 'a', 1, 0}, "it starts with 'G' 'I' 'F' '8'"},
      {{}, "it is empty"},
      {{'B'}, "it starts with 'B'"},
      {{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A}, "it starts with 0x89 'P' 'N' 'G'"},  // 7 of 8
      {{0xFF, 0xD8, 0xFE, 0x00}, "it starts with 0xFF 0xD8 0xFE 0x00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown);
    WriteBytes(dir.File("x"), c.bytes);
    for (const ImageReadResult& r :
         {ReadImageFile(dir.File("x")), DecodeImage(c.bytes.data(), c.bytes.size())}) {
      ExpectRefused(r, ImageError::kNotRecognised, "not a BMP, PNG or JPEG file: ");
      EXPECT_NE(r.reason.find(c.shown), std::string::npos) << r.reason;
    }
  }
}

TEST(ReadImageFile, OnlyRegularFilesAreRead) {
  TempDir dir;
  ExpectRefused(ReadImageFile(dir.Path()), ImageError::kNotRegularFile, "is a directory");
  // A pipe with no writer: opening it must not wait for one.
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ExpectRefused(ReadImageFile(fifo), ImageError::kNotRegularFile, "not a regular file");
  ExpectRefused(ReadImageFile("/dev/null"), ImageError::kNotRegularFile, "not a regular file");
  ExpectRefused(ReadImageFile(dir.File("missing.png")), ImageError::kCannotOpen,
                "No such file or directory");
}

}  // namespace
