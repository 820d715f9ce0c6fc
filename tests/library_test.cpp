// The public C++ interface (libruvanta) against the command line: the same pictures
// and settings give the same result bytes and the same printed figures, for every
// method the command line offers; the fills beyond it against the engine's own;
// the progress callback; and the refusals, each naming its values.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "cli/report.h"
#include "engine/auto_fill.h"
#include "engine/biharmonic.h"
#include "engine/texture.h"
#include "ruvanta/ruvanta.h"
#include "tests/support/cli_runner.h"

namespace {

using namespace clitest;

struct Pictures {
  RgbImage damaged, mask, original;
};

Pictures Read(const PictureFiles& f) {
  return {ReadPicture(f.damaged), ReadPicture(f.mask), ReadPicture(f.original)};
}

ruvanta::Image ImageOf(const RgbImage& p) { return {p.width, p.height, p.rgb.data(), 0}; }

// The mask as the library takes it: a byte a pixel (here the sum of the channels,
// so that any channel counts).
std::vector<std::uint8_t> MaskCells(const RgbImage& m) {
  std::vector<std::uint8_t> cells(std::size_t(m.width) * std::size_t(m.height));
  for (std::size_t i = 0; i < cells.size(); ++i)
    cells[i] = std::uint8_t((m.rgb[3 * i] | m.rgb[3 * i + 1] | m.rgb[3 * i + 2]) != 0 ? 7 : 0);
  return cells;
}

ruvanta::Result Restore(const Pictures& p, const ruvanta::Options& o, bool original) {
  const std::vector<std::uint8_t> cells = MaskCells(p.mask);
  const ruvanta::Image reference = ImageOf(p.original);
  return ruvanta::Restore(ImageOf(p.damaged), {p.mask.width, p.mask.height, cells.data(), 0}, o,
                          original ? &reference : nullptr);
}

// Runs ruvanta-cli with `args` (and --output, --metrics with an original) and
// expects the library's result to be its file's bytes and its lines.
void ExpectSameAsCli(const PictureFiles& files, const ruvanta::Options& o, bool original,
                     std::vector<std::string> args, const std::string& what) {
  SCOPED_TRACE(what);
  bmptest::TempDir dir;
  const std::string out = dir.File("result.bmp");
  std::vector<std::string> all = {"--damaged", files.damaged, "--mask", files.mask, "--output", out};
  if (original) all.insert(all.end(), {"--original", files.original, "--metrics"});
  all.insert(all.end(), args.begin(), args.end());
  const CliRun cli = Cli(all);
  ASSERT_EQ(cli.status, 0) << cli.err;

  const ruvanta::Result r = Restore(Read(files), o, original);
  ASSERT_TRUE(r.ok()) << r.error.message;
  const RgbImage saved = ReadPicture(out);
  ASSERT_EQ(r.width, saved.width);
  ASSERT_EQ(r.height, saved.height);
  EXPECT_TRUE(r.pixels == saved.rgb) << "the result bytes differ from the command line's file";

  EXPECT_EQ(Line(cli.out, "mask pixels"), std::to_string(r.mask_pixels));
  EXPECT_EQ(Line(cli.out, "psnr damaged"), NumberText(double(r.psnr_damaged)));
  EXPECT_EQ(Line(cli.out, "psnr result"), NumberText(double(r.psnr_result)));
  EXPECT_EQ(Line(cli.out, "iterations"), std::to_string(r.iterations));
  ASSERT_EQ(r.has_quality, original);
  if (original) {
    EXPECT_EQ(Line(cli.out, "psnr hole damaged"), NumberText(r.quality.psnr_hole_damaged));
    EXPECT_EQ(Line(cli.out, "psnr hole result"), NumberText(r.quality.psnr_hole_result));
    char ssim[32];
    std::snprintf(ssim, sizeof ssim, "%.6f", r.quality.ssim_box_result);
    EXPECT_EQ(Line(cli.out, "ssim box result"), ssim);
    if (o.method == ruvanta::Method::kAuto) {
      EXPECT_EQ(Line(cli.out, "estimated psnr hole"), NumberText(r.estimated_psnr));
    }
  }
}

TEST(Library, GivesTheCommandLinesBytesAndFigures) {
  const PictureFiles sample{kData + "damaged.bmp", kData + "mask.bmp", kData + "original.bmp"};
  ruvanta::Options o;
  ExpectSameAsCli(sample, o, true, {}, "the sample, the defaults");
  o.method = ruvanta::Method::kMembrane;
  ExpectSameAsCli(sample, o, true, {"--method", "membrane"}, "the sample, membrane");

  bmptest::TempDir dir;
  const PictureFiles small = WritePictures(dir.Path(), "small", 61, 47, 3);
  o = {};
  o.iterations = 37;
  o.diffusion = 3;
  o.per_diffusion = 7;
  o.delta_t = 0.0123456789;  // more digits than single precision holds
  ExpectSameAsCli(small, o, false,
                  {"--iterations", "37", "--diffusion", "3", "--per-diffusion", "7", "--delta-t",
                   "0.0123456789"},
                  "counts and a time step of their own, no original");
  o = {};
  o.automatic = true;
  o.threshold = 0.001;
  o.iterations = 10;
  ExpectSameAsCli(small, o, true, {"--auto", "--threshold", "0.001", "--iterations", "10"},
                  "automatic by the PSNR rule");
  o = {};
  o.automatic = true;
  o.settle = 2.5;
  o.iterations = 10;
  o.threads = 1;
  ExpectSameAsCli(small, o, false,
                  {"--auto", "--settle", "2.5", "--iterations", "10", "--threads", "1"},
                  "automatic by the settle rule, one thread");
  o = {};
  o.method = ruvanta::Method::kMembrane;
  ExpectSameAsCli(small, o, false, {"--method", "membrane"}, "membrane without an original");
  o.method = ruvanta::Method::kBiharmonic;
  ExpectSameAsCli(small, o, true, {"--method", "biharmonic"}, "biharmonic");
  o.method = ruvanta::Method::kTension;
  o.tension = 0.25;
  ExpectSameAsCli(small, o, true, {"--method", "tension", "--tension", "0.25"}, "tension 0.25");
  o = {};
  o.method = ruvanta::Method::kTexture;
  ExpectSameAsCli(small, o, false, {"--method", "texture"}, "texture");
  o.method = ruvanta::Method::kAuto;
  ExpectSameAsCli(small, o, true, {"--method", "auto"}, "auto");
}

// A mask along the whole border and a picture with padded rows: the stencils' clamps
// at the edges, and the strides.
TEST(Library, BorderMaskAndPaddedRowsAsTheCommandLine) {
  bmptest::TempDir dir;
  PictureFiles f = WritePictures(dir.Path(), "edge", 40, 30, 5);
  Pictures p = Read(f);
  for (int y = 0; y < p.mask.height; ++y)
    for (int x = 0; x < p.mask.width; ++x)
      if (x == 0 || y == 0 || x == p.mask.width - 1 || y == p.mask.height - 1)
        for (int c = 0; c < 3; ++c) p.mask.rgb[(std::size_t(y) * 40 + std::size_t(x)) * 3 + c] = 255;
  bmptest::BmpFile file;
  file.picture = p.mask;
  bmptest::WriteBytes(f.mask, file.Bytes());
  ruvanta::Options o;
  o.iterations = 30;
  ExpectSameAsCli(f, o, true, {"--iterations", "30"}, "a mask on the border");

  // The same pictures with rows of 131 bytes (120 used) and a mask stride of 41.
  const ruvanta::Result plain = Restore(p, o, false);
  std::vector<std::uint8_t> rows(131 * 30, 0xAB), cells(41 * 30, 0);
  const std::vector<std::uint8_t> mask = MaskCells(p.mask);
  for (int y = 0; y < 30; ++y) {
    std::copy_n(p.damaged.rgb.data() + y * 120, 120, rows.data() + y * 131);
    std::copy_n(mask.data() + y * 40, 40, cells.data() + y * 41);
  }
  const ruvanta::Result padded = ruvanta::Restore({40, 30, rows.data(), 131}, {40, 30, cells.data(), 41}, o);
  ASSERT_TRUE(padded.ok()) << padded.error.message;
  EXPECT_TRUE(padded.pixels == plain.pixels);
  EXPECT_EQ(padded.psnr_result, plain.psnr_result);
}

// The fills give the engine's own fill of the same planes, and leave the unmasked
// pixels as they were.
TEST(Library, FillsAreTheEnginesFills) {
  bmptest::TempDir dir;
  const Pictures p = Read(WritePictures(dir.Path(), "fill", 48, 40, 7));
  const MaskPlane mask = MaskOf(p.mask);
  const auto expect = [&](ruvanta::Method method, RgbPlane plane, const char* what) {
    SCOPED_TRACE(what);
    ruvanta::Options o;
    o.method = method;
    o.tension = 0.25;
    o.threads = 1;
    const ruvanta::Result r = Restore(p, o, true);
    ASSERT_TRUE(r.ok()) << r.error.message;
    for (std::size_t i = 0; i < r.pixels.size(); ++i) {
      ASSERT_EQ(double(r.pixels[i]), plane.Data()[i]) << "byte " << i;
      if (p.mask.rgb[i - i % 3] == 0) {
        ASSERT_EQ(r.pixels[i], p.damaged.rgb[i]) << "byte " << i;
      }
    }
    EXPECT_EQ(r.mask_pixels, std::uint32_t(std::count(mask.Data(), mask.Data() + 48 * 40, 1)));
    EXPECT_TRUE(std::isfinite(r.quality.psnr_hole_result));
    if (method == ruvanta::Method::kAuto) {
      EXPECT_FALSE(r.chosen.empty());
      EXPECT_TRUE(std::isfinite(r.estimated_psnr));
    } else {
      EXPECT_TRUE(r.chosen.empty());
      EXPECT_TRUE(std::isnan(r.estimated_psnr));
    }
  };
  RgbPlane plane = PlaneOf(p.damaged);
  ASSERT_TRUE(BiharmonicFill(&plane, mask).outcome.ok());
  expect(ruvanta::Method::kBiharmonic, plane, "biharmonic");
  plane = PlaneOf(p.damaged);
  ASSERT_TRUE(TensionFill(&plane, mask, 0.25).outcome.ok());
  expect(ruvanta::Method::kTension, plane, "tension");
  plane = PlaneOf(p.damaged);
  ASSERT_TRUE(TextureFill(&plane, mask).outcome.ok());
  expect(ruvanta::Method::kTexture, plane, "texture");
  plane = PlaneOf(p.damaged);
  ASSERT_TRUE(AutoFill(&plane, mask).outcome.ok());
  expect(ruvanta::Method::kAuto, plane, "auto");
}

TEST(Library, ProgressReportsAndStops) {
  bmptest::TempDir dir;
  const Pictures p = Read(WritePictures(dir.Path(), "stop", 50, 40, 2));
  const std::vector<std::uint8_t> cells = MaskCells(p.mask);
  ruvanta::Options o;
  o.iterations = 150;
  int reports = 0, lastDone = 0;
  const ruvanta::Result all = ruvanta::Restore(
      ImageOf(p.damaged), {50, 40, cells.data(), 0}, o, nullptr, [&](const ruvanta::Progress& g) {
        ++reports;
        EXPECT_GE(g.iterations_done, lastDone);
        EXPECT_EQ(g.iterations_planned, 150);
        lastDone = g.iterations_done;
        return true;
      });
  ASSERT_TRUE(all.ok());
  EXPECT_GE(reports, 10);  // blocks of 15
  EXPECT_EQ(lastDone, 150);
  EXPECT_EQ(all.iterations, 150u);
  EXPECT_FALSE(all.stopped);

  const ruvanta::Result stopped = ruvanta::Restore(
      ImageOf(p.damaged), {50, 40, cells.data(), 0}, o, nullptr,
      [](const ruvanta::Progress& g) { return g.iterations_done < 30; });
  ASSERT_TRUE(stopped.ok());
  EXPECT_TRUE(stopped.stopped);
  EXPECT_LT(stopped.iterations, 150u);
  EXPECT_GE(stopped.iterations, 30u);

  const ruvanta::Result threw = ruvanta::Restore(
      ImageOf(p.damaged), {50, 40, cells.data(), 0}, o, nullptr,
      [](const ruvanta::Progress&) -> bool { throw std::runtime_error("no more"); });
  EXPECT_EQ(threw.error.code, ruvanta::ErrorCode::kRunFailed);
  EXPECT_EQ(threw.error.message, "the progress callback failed: no more");
}

TEST(Library, RefusesWithTheValuesNamed) {
  std::vector<std::uint8_t> rgb(10 * 8 * 3, 100), cells(10 * 8, 0), other(9 * 8 * 3, 0);
  cells[20] = 1;
  const ruvanta::Image image{10, 8, rgb.data(), 0};
  const ruvanta::Mask mask{10, 8, cells.data(), 0};
  const auto refused = [&](ruvanta::ErrorCode code, const std::string& message,
                           const ruvanta::Image& i, const ruvanta::Mask& m,
                           const ruvanta::Options& o = {}, const ruvanta::Image* orig = nullptr) {
    const ruvanta::Result r = ruvanta::Restore(i, m, o, orig);
    EXPECT_EQ(r.error.code, code) << message;
    EXPECT_EQ(r.error.message, message);
    EXPECT_TRUE(r.pixels.empty());
  };
  using E = ruvanta::ErrorCode;
  refused(E::kSizeMismatch, "the mask is 10 x 7 but the damaged picture is 10 x 8", image,
          {10, 7, cells.data(), 0});
  const ruvanta::Image narrow{9, 8, other.data(), 0};
  refused(E::kSizeMismatch, "the original is 9 x 8 but the damaged picture is 10 x 8", image, mask,
          {}, &narrow);
  refused(E::kBadArgument, "the damaged picture is 0 x 8; both sides must be at least 1",
          {0, 8, rgb.data(), 0}, {0, 8, cells.data(), 0});
  refused(E::kTooLarge, "the damaged picture is 20000 x 1; the limit is 16384 pixels a side",
          {20000, 1, rgb.data(), 0}, {20000, 1, cells.data(), 0});
  refused(E::kTooLarge,
          "the damaged picture is 16000 x 16000 (256000000 pixels); the limit is 40000000 pixels",
          {16000, 16000, rgb.data(), 0}, {16000, 16000, cells.data(), 0});
  refused(E::kBadArgument, "the damaged picture has no pixels (a null buffer)", {10, 8, nullptr, 0},
          mask);
  refused(E::kBadArgument, "the damaged picture's stride is 29 bytes, less than a row of 30",
          {10, 8, rgb.data(), 29}, mask);
  refused(E::kBadArgument, "the mask has no pixels (a null buffer)", image, {10, 8, nullptr, 0});

  const auto option = [&](const std::string& message, auto set, bool original = false) {
    ruvanta::Options o;
    set(&o);
    refused(E::kBadArgument, message, image, mask, o, original ? &image : nullptr);
  };
  option("iterations must be a whole number from 0 to 2147483647, not -1",
         [](ruvanta::Options* o) { o->iterations = -1; });
  option("per_diffusion must be a whole number from 0 to 2147483647, not -5",
         [](ruvanta::Options* o) { o->per_diffusion = -5; });
  option("delta_t must be a finite number within single precision, not 1e+39",
         [](ruvanta::Options* o) { o->delta_t = 1e39; });
  option("delta_t must be a finite number within single precision, not nan",
         [](ruvanta::Options* o) { o->delta_t = std::nan(""); });
  option("threshold must be a finite number from 0, not -0.5",
         [](ruvanta::Options* o) { o->threshold = -0.5; });
  option("tension must be a finite number from 0, not inf",
         [](ruvanta::Options* o) { o->tension = INFINITY; });
  option("threads must be 1 or more (0 for the default), not -1",
         [](ruvanta::Options* o) { o->threads = -1; });
  option("automatic applies only to the transport method, not to membrane, which is solved in one go",
         [](ruvanta::Options* o) {
           o->automatic = true;
           o->method = ruvanta::Method::kMembrane;
         });
  option("settle applies only to the automatic mode (automatic is off)",
         [](ruvanta::Options* o) { o->settle = 1; });
  option("settle applies only without an original: with one the automatic mode stops by the PSNR "
         "rule (see threshold)",
         [](ruvanta::Options* o) {
           o->settle = 1;
           o->automatic = true;
         },
         true);

  ruvanta::Method m = ruvanta::Method::kAuto;
  EXPECT_FALSE(ruvanta::ParseMethod("Transport", &m));
  EXPECT_EQ(m, ruvanta::Method::kAuto);
  for (const char* name : {"transport", "membrane", "biharmonic", "tension", "texture", "auto"}) {
    ASSERT_TRUE(ruvanta::ParseMethod(name, &m));
    EXPECT_STREQ(ruvanta::MethodName(m), name);
  }
}

}  // namespace
