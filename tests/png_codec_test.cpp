// The PNG reader and writer: every colour type and depth, interlaced or not, from
// memory and from a file, against pixels worked out from what libpng was given;
// the 16-bit rounding; files cut short, with a wrong CRC, of a size beyond the
// limits; and the writer's round trip and file handling.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "imaging/png_codec.h"
#include "tests/support/imaging/encoders.h"
#include "tests/support/imaging/test_files.h"

namespace {

using namespace imagetest;

PngSpec Spec(int w, int h, int colour, int depth, bool interlaced = false) {
  PngSpec s;
  s.width = w;
  s.height = h;
  s.colour = colour;
  s.depth = depth;
  s.interlaced = interlaced;
  s.samples = PatternSamples(w, h, PngChannels(colour), depth);
  if (colour == kPalette)
    for (int i = 0; i < (1 << depth); ++i)
      s.palette.push_back({std::uint8_t(i * 37 + 5), std::uint8_t(255 - i), std::uint8_t(i * 11)});
  return s;
}

// Decodes `file` from memory and from disk; both must give the same outcome.
ImageReadResult DecodeBoth(const std::vector<std::uint8_t>& file,
                           const ImageLimits& limits = ImageLimits()) {
  ImageReadResult memory = DecodePng(file.data(), file.size(), limits);
  TempDir dir;
  WriteBytes(dir.File("t.png"), file);
  const ImageReadResult disk = ReadPngFile(dir.File("t.png"), limits);
  EXPECT_EQ(memory.error, disk.error) << memory.reason << " | " << disk.reason;
  EXPECT_EQ(CompareImages(memory.image, disk.image), "");
  return memory;
}

void ExpectRefused(const ImageReadResult& r, ImageError error) {
  EXPECT_EQ(r.error, error) << ImageErrorName(r.error) << ": " << r.reason;
  EXPECT_FALSE(r.reason.empty());
  EXPECT_TRUE(r.image.rgb.empty());
  EXPECT_EQ(r.image.width, 0);
}

// ---------------------------------------------------------------- decoding

using Format = std::tuple<int, int, bool>;  // colour type, depth, interlaced
class PngFormats : public ::testing::TestWithParam<Format> {};

TEST_P(PngFormats, DecodesTheStoredSamples) {
  const auto [colour, depth, interlaced] = GetParam();
  // 13 x 11 leaves a part-filled byte at the end of low-depth rows and gives
  // every Adam7 pass some pixels; 3 x 2 leaves some passes empty.
  for (const auto& [w, h] : {std::pair{13, 11}, std::pair{3, 2}, std::pair{1, 1}}) {
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    const PngSpec spec = Spec(w, h, colour, depth, interlaced);
    const ImageReadResult r = DecodeBoth(EncodePngLib(spec));
    ASSERT_TRUE(r.ok()) << r.reason;
    EXPECT_TRUE(r.reason.empty());
    EXPECT_EQ(CompareImages(ExpectedPng(spec), r.image), "");
  }
}

std::vector<Format> AllFormats() {
  const std::vector<std::pair<int, std::vector<int>>> depths = {
      {kGrey, {1, 2, 4, 8, 16}}, {kRgb, {8, 16}},      {kPalette, {1, 2, 4, 8}},
      {kGreyAlpha, {8, 16}},     {kRgba, {8, 16}}};
  std::vector<Format> formats;
  for (const auto& [colour, list] : depths)
    for (int depth : list)
      for (bool interlaced : {false, true}) formats.emplace_back(colour, depth, interlaced);
  return formats;
}

std::string FormatName(const ::testing::TestParamInfo<Format>& info) {
  const char* names[] = {"grey", "", "rgb", "palette", "greyalpha", "", "rgba"};
  return names[std::get<0>(info.param)] + std::to_string(std::get<1>(info.param)) +
         (std::get<2>(info.param) ? "_interlaced" : "");
}

INSTANTIATE_TEST_SUITE_P(All, PngFormats, ::testing::ValuesIn(AllFormats()), FormatName);

TEST(PngDecode, SixteenBitSamplesRoundToNearest) {
  // Nearest of v * 255 / 65535, worked out in floating point, for every value.
  int wrong = 0;
  for (std::uint32_t v = 0; v <= 65535; ++v)
    wrong += ReduceSample16(v) != std::lround(double(v) * 255.0 / 65535.0);
  EXPECT_EQ(wrong, 0);
  // The decoder applies it: 257k + 128 is just below k + 1/2, 257k + 129 just
  // above (a shift by 8 would give k for both).
  PngSpec spec = Spec(255, 2, kRgb, 16);
  for (int k = 0; k < 255; ++k)
    for (int c = 0; c < 3; ++c) {
      spec.samples[std::size_t(k) * 3 + std::size_t(c)] = std::uint16_t(257 * k + 128);
      spec.samples[(255 + std::size_t(k)) * 3 + std::size_t(c)] = std::uint16_t(257 * k + 129);
    }
  const ImageReadResult r = DecodePng(EncodePngLib(spec).data(), EncodePngLib(spec).size());
  ASSERT_TRUE(r.ok()) << r.reason;
  for (int k = 0; k < 255; ++k) {
    EXPECT_EQ(r.image.At(k, 0)[0], k);
    EXPECT_EQ(r.image.At(k, 1)[2], k + 1);
  }
}

TEST(PngDecode, AlphaTransparencyAndGammaAreNotApplied) {
  PngSpec rgba = Spec(4, 1, kRgba, 8);
  rgba.samples = {10, 20, 30, 0, 200, 100, 50, 128, 1, 2, 3, 255, 255, 255, 255, 0};
  rgba.gamma = true;
  ImageReadResult r = DecodePng(EncodePngLib(rgba).data(), EncodePngLib(rgba).size());
  ASSERT_TRUE(r.ok()) << r.reason;
  EXPECT_EQ(r.image.rgb, (std::vector<std::uint8_t>{10, 20, 30, 200, 100, 50, 1, 2, 3, 255, 255,
                                                    255}));
  PngSpec palette = Spec(4, 1, kPalette, 2);
  palette.samples = {0, 1, 2, 3};
  palette.paletteAlpha = {0, 0, 0, 0};  // every entry fully transparent
  palette.srgb = true;
  r = DecodePng(EncodePngLib(palette).data(), EncodePngLib(palette).size());
  ASSERT_TRUE(r.ok()) << r.reason;
  EXPECT_EQ(CompareImages(ExpectedPng(palette), r.image), "");
}

// ---------------------------------------------------------------- refusals

TEST(PngRefuse, FileCutShortAnywhere) {
  const std::vector<std::uint8_t> file = EncodePngLib(Spec(40, 30, kRgb, 8, true));
  const std::vector<PngChunk> chunks = PngChunks(file);
  ASSERT_GE(chunks.size(), 3u);
  const PngChunk& idat = chunks[1];
  ASSERT_EQ(idat.type, "IDAT");
  const std::size_t cuts[] = {0,           5,           8,  20, chunks[0].end(),
                              idat.offset + 9, idat.offset + 8 + idat.length / 2,
                              idat.end() - 1,  chunks.back().offset, file.size() - 1};
  for (std::size_t cut : cuts) {
    SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(file.size()));
    ExpectRefused(DecodeBoth(std::vector<std::uint8_t>(file.begin(), file.begin() + long(cut))),
                  ImageError::kMalformed);
  }
}

TEST(PngRefuse, WrongCrcInAnyChunk) {
  PngSpec spec = Spec(9, 7, kRgb, 8);
  spec.gamma = true;
  const std::vector<std::uint8_t> file = EncodePngLib(spec);
  for (const PngChunk& chunk : PngChunks(file)) {
    SCOPED_TRACE(chunk.type);
    for (std::size_t at : {chunk.end() - 1, chunk.offset + 4}) {  // the CRC, the type
      std::vector<std::uint8_t> bad = file;
      bad[at] ^= 0x20;
      const ImageReadResult r = DecodeBoth(bad);
      EXPECT_FALSE(r.ok());
      EXPECT_TRUE(r.image.rgb.empty());
    }
    std::vector<std::uint8_t> bad = file;
    bad[chunk.end() - 1] ^= 0x01;
    const ImageReadResult r = DecodeBoth(bad);
    ExpectRefused(r, ImageError::kMalformed);
    EXPECT_NE(r.reason.find("checksum"), std::string::npos) << r.reason;
  }
}

TEST(PngRefuse, HeaderBeyondTheLimitsBeforeAnyAllocation) {
  const std::vector<std::uint8_t> file = PngHeaderOnly(100000, 100000);
  ResetLargestAllocation();
  const ImageReadResult r = DecodeBoth(file);
  ExpectRefused(r, ImageError::kTooLarge);
  EXPECT_NE(r.reason.find("100000 x 100000"), std::string::npos) << r.reason;
  EXPECT_NE(r.reason.find("16384"), std::string::npos) << r.reason;
  EXPECT_LT(LargestAllocation(), std::size_t(1) << 20);

  // Limits of each kind, and a picture exactly at them.
  const std::vector<std::uint8_t> small = EncodePngLib(Spec(20, 10, kRgb, 8));
  ExpectRefused(DecodePng(small.data(), small.size(), {19, 1000}), ImageError::kTooLarge);
  ExpectRefused(DecodePng(small.data(), small.size(), {20, 199}), ImageError::kTooLarge);
  EXPECT_TRUE(DecodePng(small.data(), small.size(), {20, 200}).ok());

  // Limits that let it through: the picture's memory runs out, and that is a
  // refusal too.
  SetAllocationCeiling(std::size_t(1) << 30);
  const ImageReadResult huge = DecodePng(file.data(), file.size(), {200000, std::uint64_t(1) << 40});
  SetAllocationCeiling(0);
  ExpectRefused(huge, ImageError::kOutOfMemory);
  EXPECT_NE(huge.reason.find("100000 x 100000"), std::string::npos) << huge.reason;
}

TEST(PngRefuse, FilesOfOtherKindsAndBrokenHeaders) {
  const std::vector<std::uint8_t> bmp = {'B', 'M', 0x3A, 0, 0, 0, 0, 0, 0, 0, 0x36, 0};
  ImageReadResult r = DecodeBoth(bmp);
  ExpectRefused(r, ImageError::kNotRecognised);
  EXPECT_NE(r.reason.find("'B' 'M'"), std::string::npos) << r.reason;

  const std::vector<std::uint8_t> good = EncodePngLib(Spec(6, 4, kRgb, 8));
  const std::vector<PngChunk> chunks = PngChunks(good);
  // A critical chunk of a kind not known is unsupported; an IHDR with a depth or
  // colour type PNG does not have is malformed.
  std::vector<std::uint8_t> unknown(good.begin(), good.begin() + long(chunks[1].offset));
  AppendPngChunk(&unknown, "ZZZZ", {1, 2, 3});
  unknown.insert(unknown.end(), good.begin() + long(chunks[1].offset), good.end());
  ExpectRefused(DecodeBoth(unknown), ImageError::kUnsupported);
  for (const auto& [depth, colour] : {std::pair{3, 2}, std::pair{8, 5}, std::pair{16, 3}}) {
    std::vector<std::uint8_t> ihdr(good.begin() + 16, good.begin() + 29);
    ihdr[8] = std::uint8_t(depth);
    ihdr[9] = std::uint8_t(colour);
    std::vector<std::uint8_t> bad(good.begin(), good.begin() + 8);
    AppendPngChunk(&bad, "IHDR", ihdr);
    bad.insert(bad.end(), good.begin() + long(chunks[0].end()), good.end());
    ExpectRefused(DecodeBoth(bad), ImageError::kMalformed);
  }
  // Palette indices beyond the palette.
  PngSpec spec = Spec(4, 1, kPalette, 8);
  spec.palette.resize(2);
  spec.samples = {0, 1, 2, 200};
  ExpectRefused(DecodeBoth(EncodePngLib(spec)), ImageError::kMalformed);
}

TEST(PngRefuse, AncillaryChunkBeyondTheMemoryCap) {
  std::vector<std::uint8_t> good = EncodePngLib(Spec(6, 4, kRgb, 8));
  const std::vector<PngChunk> chunks = PngChunks(good);
  std::vector<std::uint8_t> text = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0};
  text.resize(std::size_t(17) << 20, 'x');
  std::vector<std::uint8_t> file(good.begin(), good.begin() + long(chunks[1].offset));
  AppendPngChunk(&file, "tEXt", text);
  file.insert(file.end(), good.begin() + long(chunks[1].offset), good.end());
  ExpectRefused(DecodeBoth(file), ImageError::kTooLarge);
}

// ---------------------------------------------------------------- writing

TEST(PngEncode, RoundTripIsExactAndTheFileIs8BitRgb) {
  for (const RgbImage& image : {RandomImage(1, 1, 1), RandomImage(2, 3, 2), PatternImage(7, 5),
                                RandomImage(257, 3, 3), PatternImage(64, 64)}) {
    SCOPED_TRACE(std::to_string(image.width) + " x " + std::to_string(image.height));
    std::vector<std::uint8_t> file;
    std::string reason;
    ASSERT_TRUE(EncodePng(image, &file, &reason)) << reason;
    const std::vector<PngChunk> chunks = PngChunks(file);
    ASSERT_FALSE(chunks.empty());
    EXPECT_EQ(chunks.front().type, "IHDR");
    EXPECT_EQ(chunks.back().type, "IEND");
    EXPECT_EQ(chunks.back().end(), file.size());
    EXPECT_EQ(file[24], 8);  // depth
    EXPECT_EQ(file[25], 2);  // truecolour
    EXPECT_EQ(file[28], 0);  // not interlaced
    const ImageReadResult back = DecodePng(file.data(), file.size());
    ASSERT_TRUE(back.ok()) << back.reason;
    EXPECT_EQ(CompareImages(image, back.image), "");
  }
}

TEST(PngEncode, RefusesPicturesWithoutPixelsOrWithAWrongBuffer) {
  std::vector<std::uint8_t> file = {1, 2, 3};
  std::string reason;
  RgbImage empty;
  EXPECT_FALSE(EncodePng(empty, &file, &reason));
  EXPECT_NE(reason.find("0 x 0"), std::string::npos) << reason;
  EXPECT_TRUE(file.empty());
  RgbImage wrong = PatternImage(4, 3);
  wrong.rgb.pop_back();
  EXPECT_FALSE(EncodePng(wrong, &file, &reason));
  EXPECT_NE(reason.find("35 bytes"), std::string::npos) << reason;
  EXPECT_NE(reason.find("36"), std::string::npos) << reason;
}

TEST(SavePng, WritesANewFileAndNeverOverwrites) {
  TempDir dir;
  const RgbImage image = RandomImage(9, 4, 7);
  const std::string path = dir.File("out.png");
  const SaveResult saved = SavePng(path, image);
  ASSERT_TRUE(saved.ok) << saved.reason;
  std::vector<std::uint8_t> want;
  std::string reason;
  ASSERT_TRUE(EncodePng(image, &want, &reason));
  EXPECT_EQ(ReadBytes(path), want);
  const ImageReadResult back = ReadPngFile(path);
  ASSERT_TRUE(back.ok()) << back.reason;
  EXPECT_EQ(CompareImages(image, back.image), "");

  const SaveResult again = SavePng(path, PatternImage(2, 2));
  EXPECT_FALSE(again.ok);
  EXPECT_NE(again.reason.find("already exists"), std::string::npos) << again.reason;
  EXPECT_EQ(ReadBytes(path), want);

  const SaveResult none = SavePng(dir.File("empty.png"), RgbImage());
  EXPECT_FALSE(none.ok);
  EXPECT_NE(none.reason.find("empty.png"), std::string::npos) << none.reason;
  EXPECT_FALSE(FileExists(dir.File("empty.png")));
}

TEST(SavePng, FailedWriteOrCloseLeavesNoFile) {
  TempDir dir;
  for (bool failClose : {false, true}) {
    const std::string path = dir.File(failClose ? "close.png" : "write.png");
    FailingSink sink;
    sink.failWrite = failClose ? 0 : 1;
    sink.failClose = failClose;
    const SaveResult r = SavePng(path, RandomImage(50, 40, 9), sink);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.reason.find(failClose ? "close failed" : "disk full"), std::string::npos)
        << r.reason;
    EXPECT_EQ(sink.removed, sink.created);
    EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{});
  }
}

}  // namespace
