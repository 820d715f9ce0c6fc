// The reader chosen by the first bytes: each format whatever the file is called,
// from disk and from memory; files of no known format; things that are not
// regular files; and the limits passed through to each reader. The header alone:
// the decoder's size on every file the tests hold, its refusals word for word, and
// a few bytes read whatever the picture's size.
#include "imaging/image_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/input_file.h"
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

// ---------------------------------------------------------------- the header alone

std::string Describe(const ImageHeader& h) {
  if (!h.ok()) return std::string(ImageErrorName(h.error)) + ": " + h.reason;
  return std::string(ImageFormatName(h.format)) + " " + std::to_string(h.width) + " x " +
         std::to_string(h.height);
}

TEST(ReadImageHeader, AgreesWithTheDecoderOnEveryFileTheTestsHold) {
  const std::string root = RUVANTA_SOURCE_DIR;
  std::vector<std::string> files;
  for (const char* folder : {"tests/data", "tests/fuzz/corpus", "data", "bench/data"})
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root + "/" + folder))
      if (entry.is_regular_file()) files.push_back(entry.path().string());
  ASSERT_GT(files.size(), 250u);
  int decoded = 0, refusedAlike = 0, refusedInPixels = 0;
  // The usual limits, and limits so small that most pictures are beyond them.
  for (const ImageLimits& limits : {ImageLimits(), ImageLimits{12, 150}})
    for (const std::string& path : files) {
      SCOPED_TRACE(path.substr(root.size() + 1) + " within " + std::to_string(limits.maxSide) +
                   " a side");
      const ImageReadResult full = ReadImageFile(path, limits);
      const ImageHeader header = ReadImageHeader(path, limits);
      const std::vector<std::uint8_t> bytes = ReadBytes(path);
      EXPECT_EQ(Describe(DecodeImageHeader(bytes.data(), bytes.size(), limits)), Describe(header));
      if (full.ok()) {
        ++decoded;
        ASSERT_TRUE(header.ok()) << header.reason;
        EXPECT_EQ(header.width, full.image.width);
        EXPECT_EQ(header.height, full.image.height);
      } else if (!header.ok()) {
        ++refusedAlike;
        EXPECT_EQ(header.error, full.error) << full.reason;
        EXPECT_EQ(header.reason, full.reason);
      } else {
        // Only the pixels can fail a file whose header passed, and a BMP's pixels
        // never do.
        ++refusedInPixels;
        EXPECT_NE(header.format, ImageFormat::kBmp) << full.reason;
        EXPECT_NE(full.error, ImageError::kTooLarge) << full.reason;
        EXPECT_NE(full.error, ImageError::kNotRecognised) << full.reason;
      }
    }
  std::printf("%d decoded, %d refused by the header alike, %d refused in the pixels\n", decoded,
              refusedAlike, refusedInPixels);
  EXPECT_GT(decoded, 150);
  EXPECT_GT(refusedAlike, 200);
  EXPECT_GT(refusedInPixels, 10);
}

// A JPEG file with `bytes` of APP1 data (as an EXIF block would be) and a comment
// before its frame header.
std::vector<std::uint8_t> WithSegments(const std::vector<std::uint8_t>& jpeg, std::size_t bytes) {
  std::vector<std::uint8_t> out;
  out.reserve(jpeg.size() + 2 * (bytes + 4));
  out.push_back(jpeg[0]);  // SOI
  out.push_back(jpeg[1]);
  for (std::uint8_t marker : {0xE1, 0xFE}) {
    for (std::uint8_t b :
         {std::uint8_t(0xFF), marker, std::uint8_t((bytes + 2) >> 8), std::uint8_t(bytes + 2)})
      out.push_back(b);
    out.resize(out.size() + bytes, 0xA5);
  }
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

TEST(ReadImageHeader, ReadsAFewBytesWhateverThePicturesSize) {
  TempDir dir;
  const RgbImage big = SmoothImage(1800, 1200);
  JpegSpec progressive = JpegOf(big, 90);
  progressive.progressive = true;
  JpegSpec grey;
  grey.width = 640;
  grey.height = 480;
  grey.space = JpegSpace::kGrey;
  grey.samples.assign(std::size_t(640) * 480, 128);
  const struct {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::uint64_t mostRead;
    ImageFormat format;
    int width, height, components;
    std::uint64_t coefficientBytes;
  } cases[] = {
      {"big.bmp", Bmp(big), 8 + 54, ImageFormat::kBmp, 1800, 1200, 3, 0},
      {"big.png", Png(big), 8 + 8 + 41, ImageFormat::kPng, 1800, 1200, 3, 0},
      // A 16000 x 2500 PNG that holds no image data at all: its size is known anyway.
      {"declared.png", PngHeaderOnly(16000, 2500), 8 + 8 + 41, ImageFormat::kPng, 16000, 2500, 3,
       0},
      {"big.jpg", WithSegments(EncodeJpegLib(JpegOf(big, 90)), 60000), 8 + 2 + 3 * 1024,
       ImageFormat::kJpeg, 1800, 1200, 3, 0},
      // 4:2:0: luma 225 x 150 blocks, rounded to 226 across (two blocks a unit),
      // and 113 x 75 for each chroma component; 128 bytes a block.
      {"progressive.jpg", EncodeJpegLib(progressive), 8 + 2 + 2 * 1024, ImageFormat::kJpeg, 1800,
       1200, 3, (226u * 150u + 2u * 113u * 75u) * 128u},
      {"grey.jpg", EncodeJpegLib(grey), 8 + 2 + 1024, ImageFormat::kJpeg, 640, 480, 1, 0},
  };
  // The choice of reader reads 8 bytes, the JPEG reader's SOI check 2 more, then
  // the header's reader its own: 54 bytes, 41, or the JPEG source's 1 KiB reads.
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(dir.File(c.name), c.bytes);
    InputFile file;
    ImageError error = ImageError::kNone;
    std::string reason;
    ASSERT_TRUE(file.Open(dir.File(c.name), &error, &reason)) << reason;
    const ImageHeader h = ReadImageHeader(file);
    ASSERT_TRUE(h.ok()) << h.reason;
    EXPECT_EQ(h.format, c.format);
    EXPECT_EQ(h.width, c.width);
    EXPECT_EQ(h.height, c.height);
    EXPECT_EQ(h.components, c.components);
    EXPECT_EQ(h.coefficientBytes, c.coefficientBytes);
    EXPECT_LE(file.bytesRead(), c.mostRead) << "of a " << c.bytes.size() << "-byte file";
    const ImageReadResult full = ReadImageFile(dir.File(c.name));
    if (std::string(c.name) != "declared.png") {
      ASSERT_TRUE(full.ok()) << full.reason;
      EXPECT_EQ(full.image.width, c.width);
    }
  }
  // Cut inside the skipped segment: both refuse the premature end alike.
  std::vector<std::uint8_t> cut = cases[3].bytes;
  cut.resize(30000);
  WriteBytes(dir.File("cut.jpg"), cut);
  const ImageReadResult full = ReadImageFile(dir.File("cut.jpg"));
  const ImageHeader header = ReadImageHeader(dir.File("cut.jpg"));
  EXPECT_EQ(full.error, ImageError::kMalformed) << full.reason;
  EXPECT_EQ(header.error, full.error);
  EXPECT_EQ(header.reason, full.reason);
  EXPECT_NE(header.reason.find("Premature end"), std::string::npos) << header.reason;
  // The limits are the header's: the declared 16000 x 2500 is refused by the
  // engine's 40 M pixels as the decoder would refuse it.
  const ImageLimits engine = {16384, 40000000};
  const ImageHeader wide = ReadImageHeader(dir.File("declared.png"), {16384, 39999999});
  EXPECT_EQ(wide.error, ImageError::kTooLarge);
  EXPECT_EQ(wide.reason, "image is 16000 x 2500 (40000000 pixels); the limit is 39999999 pixels");
  EXPECT_TRUE(ReadImageHeader(dir.File("declared.png"), engine).ok());
  EXPECT_EQ(ReadImageFile(dir.File("declared.png"), engine).error, ImageError::kMalformed);
}

}  // namespace
