// The JPEG reader: each colour space and coding process against the picture the
// file was made from (within what lossy coding changes, and exactly between
// codings of the same coefficients), from memory and from a file; files cut short
// or corrupt, CMYK, other processes and precisions, sizes beyond the limits, and
// the scan limit of progressive files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/jpeg_reader.h"
#include "tests/support/imaging/encoders.h"
#include "tests/support/imaging/test_files.h"

namespace {

using namespace imagetest;

// Decodes `file` from memory and from disk; both must give the same outcome.
ImageReadResult DecodeBoth(const std::vector<std::uint8_t>& file,
                           const ImageLimits& limits = ImageLimits()) {
  ImageReadResult memory = DecodeJpeg(file.data(), file.size(), limits);
  TempDir dir;
  WriteBytes(dir.File("t.jpg"), file);
  const ImageReadResult disk = ReadJpegFile(dir.File("t.jpg"), limits);
  EXPECT_EQ(memory.error, disk.error) << memory.reason << " | " << disk.reason;
  EXPECT_EQ(memory.reason, disk.reason);
  EXPECT_EQ(CompareImages(memory.image, disk.image), "");
  return memory;
}

void ExpectRefused(const ImageReadResult& r, ImageError error) {
  EXPECT_EQ(r.error, error) << ImageErrorName(r.error) << ": " << r.reason;
  EXPECT_FALSE(r.reason.empty());
  EXPECT_TRUE(r.image.rgb.empty());
  EXPECT_EQ(r.image.width, 0);
}

std::vector<std::uint8_t> GreySamples(int w, int h) {
  std::vector<std::uint8_t> grey;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) grey.push_back(std::uint8_t(30 + 4 * x + 2 * y));
  return grey;
}

// ---------------------------------------------------------------- decoding

TEST(JpegDecode, ColourFilesComeBackCloseToTheirSource) {
  struct Case {
    const char* name;
    int w, h, quality;
    bool subsample;
    JpegSpace space;
    int maxDiff;
  };
  // Sizes that are not whole MCUs, 4:2:0 and 4:4:4, YCbCr and RGB coding.
  for (const Case& c : {Case{"420 q95", 64, 48, 95, true, JpegSpace::kYCbCr, 12},
                        Case{"444 q100", 37, 23, 100, false, JpegSpace::kYCbCr, 4},
                        Case{"rgb q100", 17, 9, 100, false, JpegSpace::kRgb, 4}}) {
    SCOPED_TRACE(c.name);
    const RgbImage source = SmoothImage(c.w, c.h);
    JpegSpec spec = JpegOf(source, c.quality);
    spec.subsample = c.subsample;
    spec.space = c.space;
    const ImageReadResult r = DecodeBoth(EncodeJpegLib(spec));
    ASSERT_TRUE(r.ok()) << r.reason;
    EXPECT_TRUE(r.reason.empty());
    ASSERT_EQ(r.image.width, c.w);
    ASSERT_EQ(r.image.height, c.h);
    EXPECT_LE(MaxDifference(source, r.image), c.maxDiff);
    EXPECT_LT(MeanDifference(source, r.image), 1.5);
  }
  // One flat colour stays that colour everywhere.
  RgbImage flat = SmoothImage(24, 16);
  for (std::size_t i = 0; i < flat.rgb.size(); i += 3) {
    flat.rgb[i] = 200;
    flat.rgb[i + 1] = 30;
    flat.rgb[i + 2] = 90;
  }
  const ImageReadResult r = DecodeBoth(EncodeJpegLib(JpegOf(flat, 90)));
  ASSERT_TRUE(r.ok()) << r.reason;
  EXPECT_LE(MaxDifference(flat, r.image), 3);
}

TEST(JpegDecode, GreyscaleBecomesEqualChannels) {
  JpegSpec spec;
  spec.width = 21;
  spec.height = 13;
  spec.space = JpegSpace::kGrey;
  spec.samples = GreySamples(21, 13);
  spec.quality = 100;
  const ImageReadResult r = DecodeBoth(EncodeJpegLib(spec));
  ASSERT_TRUE(r.ok()) << r.reason;
  ASSERT_EQ(r.image.rgb.size(), spec.samples.size() * 3);
  int unequal = 0, far = 0;
  for (std::size_t i = 0; i < spec.samples.size(); ++i) {
    const std::uint8_t* p = &r.image.rgb[i * 3];
    unequal += p[0] != p[1] || p[1] != p[2];
    far += std::abs(int(p[0]) - int(spec.samples[i])) > 2;
  }
  EXPECT_EQ(unequal, 0);
  EXPECT_EQ(far, 0);
}

TEST(JpegDecode, ProgressiveArithmeticAndRestartCodingGiveTheBaselinePixels) {
  const JpegSpec base = JpegOf(PatternImage(45, 31), 85);
  const ImageReadResult want = DecodeBoth(EncodeJpegLib(base));
  ASSERT_TRUE(want.ok()) << want.reason;
  for (int variant = 0; variant < 4; ++variant) {
    SCOPED_TRACE(variant);
    JpegSpec spec = base;
    spec.progressive = variant == 0 || variant == 3;
    spec.arithmetic = variant == 1 || variant == 3;
    spec.restartRows = variant == 2 ? 1 : 0;
    const std::vector<std::uint8_t> file = EncodeJpegLib(spec);
    ASSERT_NE(file, EncodeJpegLib(base));
    const ImageReadResult r = DecodeBoth(file);
    ASSERT_TRUE(r.ok()) << r.reason;
    EXPECT_EQ(CompareImages(want.image, r.image), "");
  }
}

TEST(JpegDecode, FileReadInPiecesAcrossLargeMarkers) {
  // Two 60000-byte APP markers ahead of the frame: the file source fills its
  // 64 KiB buffer several times and skips across buffer ends.
  const std::vector<std::uint8_t> plain = EncodeJpegLib(JpegOf(RandomImage(200, 120, 5), 100));
  std::vector<std::uint8_t> file(plain.begin(), plain.begin() + 2);
  for (std::uint8_t app : {0xE3, 0xE4}) {
    file.insert(file.end(), {0xFF, app, 0xEA, 0x62});  // length 60002
    file.resize(file.size() + 60000, app);
  }
  file.insert(file.end(), plain.begin() + 2, plain.end());
  ASSERT_GT(file.size(), std::size_t(2) << 16);
  const ImageReadResult want = DecodeJpeg(plain.data(), plain.size());
  ASSERT_TRUE(want.ok()) << want.reason;
  const ImageReadResult r = DecodeBoth(file);
  ASSERT_TRUE(r.ok()) << r.reason;
  EXPECT_EQ(CompareImages(want.image, r.image), "");
}

// ---------------------------------------------------------------- refusals

TEST(JpegRefuse, CmykAndYcck) {
  for (JpegSpace space : {JpegSpace::kCmyk, JpegSpace::kYcck}) {
    JpegSpec spec;
    spec.width = 8;
    spec.height = 8;
    spec.space = space;
    spec.samples.assign(8 * 8 * 4, 77);
    const ImageReadResult r = DecodeBoth(EncodeJpegLib(spec));
    ExpectRefused(r, ImageError::kUnsupported);
    EXPECT_EQ(r.reason, "CMYK JPEG is not read; convert it to RGB");
  }
}

TEST(JpegRefuse, FileCutShortAnywhere) {
  for (bool progressive : {false, true}) {
    SCOPED_TRACE(progressive ? "progressive" : "baseline");
    JpegSpec spec = JpegOf(RandomImage(48, 40, 3), 90);
    spec.progressive = progressive;
    const std::vector<std::uint8_t> file = EncodeJpegLib(spec);
    const std::size_t sof = JpegMarker(file, progressive ? 0xC2 : 0xC0);
    const std::size_t sos = JpegMarker(file, 0xDA);
    const std::size_t eoi = JpegEoi(file);
    ASSERT_TRUE(sof > 0 && sos > sof && eoi > sos);
    for (std::size_t cut : {std::size_t(2), std::size_t(30), sof + 4, sos, sos + 20,
                            (sos + eoi) / 2, eoi - 1, eoi, eoi + 1}) {
      SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(file.size()));
      ExpectRefused(DecodeBoth(std::vector<std::uint8_t>(file.begin(), file.begin() + long(cut))),
                    ImageError::kMalformed);
    }
  }
  ExpectRefused(DecodeBoth({0xFF}), ImageError::kMalformed);
}

TEST(JpegRefuse, CorruptDataWarningsAndOtherKinds) {
  const std::vector<std::uint8_t> good = EncodeJpegLib(JpegOf(PatternImage(16, 16), 90));
  // Bytes between the last scan and EOI, more than the decoder reads ahead:
  // libjpeg warns and would decode.
  std::vector<std::uint8_t> extra = good;
  const std::size_t eoi = JpegEoi(good);
  extra.insert(extra.begin() + long(eoi), 16, 0x5A);
  ImageReadResult r = DecodeBoth(extra);
  ExpectRefused(r, ImageError::kMalformed);
  EXPECT_NE(r.reason.find("extraneous bytes"), std::string::npos) << r.reason;

  // Entropy-coded data replaced by a run of ones: a bad Huffman code.
  std::vector<std::uint8_t> junk = good;
  for (std::size_t i = JpegMarker(good, 0xDA) + 12; i < eoi; ++i) junk[i] = 0xFF, junk[++i] = 0x00;
  ExpectRefused(DecodeBoth(junk), ImageError::kMalformed);

  r = DecodeBoth({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A});
  ExpectRefused(r, ImageError::kNotRecognised);
  EXPECT_NE(r.reason.find("0x89 'P'"), std::string::npos) << r.reason;
  ExpectRefused(DecodeBoth({}), ImageError::kNotRecognised);

  // A 12-bit sample precision, and the lossless process, both patched into SOF0.
  const std::size_t sof = JpegMarker(good, 0xC0);
  std::vector<std::uint8_t> twelve = good;
  twelve[sof + 2] = 12;
  r = DecodeBoth(twelve);
  ExpectRefused(r, ImageError::kUnsupported);
  EXPECT_NE(r.reason.find("precision 12"), std::string::npos) << r.reason;
  std::vector<std::uint8_t> lossless = good;
  lossless[sof - 1] = 0xC3;
  ExpectRefused(DecodeBoth(lossless), ImageError::kUnsupported);
}

TEST(JpegRefuse, FrameBeyondTheLimitsBeforeAnyAllocation) {
  std::vector<std::uint8_t> file = EncodeJpegLib(JpegOf(PatternImage(16, 16), 90));
  const std::size_t sof = JpegMarker(file, 0xC0);
  for (std::size_t at : {sof + 3, sof + 5}) {  // height, width: 65000
    file[at] = 0xFD;
    file[at + 1] = 0xE8;
  }
  ResetLargestAllocation();
  const ImageReadResult r = DecodeBoth(file);
  ExpectRefused(r, ImageError::kTooLarge);
  EXPECT_NE(r.reason.find("65000 x 65000"), std::string::npos) << r.reason;
  EXPECT_LT(LargestAllocation(), std::size_t(1) << 20);

  const std::vector<std::uint8_t> small = EncodeJpegLib(JpegOf(PatternImage(20, 10)));
  ExpectRefused(DecodeJpeg(small.data(), small.size(), {19, 1000}), ImageError::kTooLarge);
  ExpectRefused(DecodeJpeg(small.data(), small.size(), {20, 199}), ImageError::kTooLarge);
  EXPECT_TRUE(DecodeJpeg(small.data(), small.size(), {20, 200}).ok());

  // Limits that let it through: the picture's memory runs out, a refusal too.
  SetAllocationCeiling(std::size_t(1) << 30);
  const ImageReadResult huge = DecodeJpeg(file.data(), file.size(), {65000, std::uint64_t(1) << 33});
  SetAllocationCeiling(0);
  ExpectRefused(huge, ImageError::kOutOfMemory);
  EXPECT_NE(huge.reason.find("65000 x 65000"), std::string::npos) << huge.reason;
}

TEST(JpegRefuse, ProgressiveFileOfTooManyScans) {
  JpegSpec spec;
  spec.width = 16;
  spec.height = 16;
  spec.space = JpegSpace::kGrey;
  spec.samples = GreySamples(16, 16);
  spec.manyScans = true;
  const std::vector<std::uint8_t> file = EncodeJpegLib(spec);
  int scans = 0;
  for (std::size_t i = 0; i + 1 < file.size(); ++i) scans += file[i] == 0xFF && file[i + 1] == 0xDA;
  ASSERT_EQ(scans, 631);
  const ImageReadResult r = DecodeBoth(file);
  ExpectRefused(r, ImageError::kUnsupported);
  EXPECT_NE(r.reason.find(std::to_string(kMaxJpegScans)), std::string::npos) << r.reason;
}

}  // namespace
