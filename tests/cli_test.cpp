// The command line's single runs: the result lines and their JSON form, the
// quality measures, the membrane method, the settle level, the trace, Ctrl-C, and
// the checks of the options and their combinations.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_app.h"
#include "cli/interrupt.h"
#include "cli/json_out.h"
#include "cli/report.h"
#include "session/trace.h"
#include "engine/membrane.h"
#include "engine/metrics.h"
#include "imaging/atomic_file.h"
#include "tests/support/cli_runner.h"
#include "tests/support/engine_fixture.h"

namespace {

using namespace clitest;

std::vector<std::string> SampleArgs() {
  return {"--damaged",        kData + "damaged.bmp", "--mask",
          kData + "mask.bmp", "--original",          kData + "original.bmp"};
}

std::vector<std::string> Args(const PictureFiles& p, bool original,
                              std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"--damaged", p.damaged, "--mask", p.mask};
  if (original) args.insert(args.end(), {"--original", p.original});
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

std::string Printf(const char* format, double v) {
  char text[64];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

// ---------------------------------------------------------------------------
// The five lines, the result file, refused files: as the tool has always done.

TEST(CliRun, RestoresTheSampleLikeTheHandlers) {
  auto args = SampleArgs();
  args.insert(args.end(), {"--iterations", "30"});
  const CliRun r = Cli(args);
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> keys;
  for (const std::string& line : Lines(r.out)) keys.push_back(line.substr(0, line.find(':')));
  EXPECT_EQ(keys, (std::vector<std::string>{"mask pixels", "psnr damaged", "psnr result",
                                            "iterations", "seconds"}));
  TestDialog dlg;
  ASSERT_TRUE(dlg.files.LoadDamaged(kData + "damaged.bmp").ok);
  ASSERT_TRUE(dlg.files.LoadMask(kData + "mask.bmp").ok);
  ASSERT_TRUE(dlg.files.LoadOriginal(kData + "original.bmp").ok);
  dlg.SetItemText(IDC_EDIT_TRANSPORT_ITER, "30");
  dlg.engine.OnRun();
  EXPECT_EQ(Line(r.out, "mask pixels"), std::to_string(dlg.engine.m_nMaskCount));
  EXPECT_EQ(Line(r.out, "psnr damaged"), Printf("%.9g", double(dlg.fields().m_fPsnrDamaged)));
  EXPECT_EQ(Line(r.out, "psnr result"), Printf("%.9g", double(dlg.fields().m_fPsnrResult)));
  EXPECT_EQ(Line(r.out, "iterations"), "30");
  EXPECT_GT(dlg.fields().m_fPsnrResult, dlg.fields().m_fPsnrDamaged);
}

TEST(CliRun, WritesTheResultAndNeverOverwritesUnlessAsked) {
  bmptest::TempDir dir;
  const std::string out = dir.File("result.bmp");
  auto args = SampleArgs();
  args.insert(args.end(), {"--iterations", "5", "--output", out});
  ASSERT_EQ(Cli(args).status, 0);
  EXPECT_EQ(ReadPicture(out).width, 320);

  bmptest::WriteBytes(out, {'k', 'e', 'e', 'p'});
  const CliRun refused = Cli(args);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("already exists"), std::string::npos);
  EXPECT_TRUE(refused.out.empty());
  EXPECT_EQ(ReadText(out), "keep");

  args.push_back("--overwrite");
  ASSERT_EQ(Cli(args).status, 0);
  EXPECT_EQ(ReadPicture(out).width, 320);
}

// A mask large enough to be shared between two threads gives the same bytes on one.
TEST(CliRun, OneThreadAndTwoWriteTheSameResult) {
  bmptest::TempDir dir;
  const std::string bench = std::string(RUVANTA_SOURCE_DIR) + "/bench/data/";
  std::vector<std::string> results;
  for (const char* threads : {"1", "2"}) {
    const std::string out = dir.File(std::string("result") + threads + ".bmp");
    const CliRun r =
        Cli({"--damaged", bench + "damaged800_20.bmp", "--mask", bench + "mask800_20.bmp",
             "--iterations", "20", "--threads", threads, "--output", out});
    ASSERT_EQ(r.status, 0) << r.err;
    results.push_back(ReadText(out));
  }
  ASSERT_GT(results[0].size(), 800u * 800u * 3u);
  EXPECT_TRUE(results[0] == results[1]);
}

TEST(CliRun, RefusedFilesExitWithOne) {
  CliRun r = Cli({"--damaged", kData + "missing.bmp", "--mask", kData + "mask.bmp"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("File Gagal diBuka"), std::string::npos);
  EXPECT_TRUE(r.out.empty());
  r = Cli({"--damaged", kData + "damaged.bmp", "--mask",
           std::string(RUVANTA_SOURCE_DIR) + "/bench/data/mask800_5.bmp"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("mask is 800 x 800 but the damaged image is 320 x 240"), std::string::npos);
  bmptest::TempDir dir;
  r = Cli({"--damaged", kData + "damaged.bmp", "--mask", kData + "mask.bmp", "--output",
           dir.File("no/such/folder/out.bmp")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot create file"), std::string::npos);
}

TEST(CliRun, DecimalsAndZeroCountsAreAccepted) {
  auto args = SampleArgs();
  args.insert(args.end(), {"--delta-t", "0.25", "--iterations", "0", "--diffusion", "0"});
  const CliRun r = Cli(args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Line(r.out, "iterations"), "0");
  EXPECT_EQ(Line(r.out, "psnr result"), Line(r.out, "psnr damaged"));
}

// ---------------------------------------------------------------------------
// Option values and combinations: usage errors (2), nothing run or written.

void ExpectUsage(const std::vector<std::string>& args, const std::string& message) {
  const CliRun r = Cli(args);
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find(message), std::string::npos) << "wanted: " << message << "\ngot: " << r.err;
  EXPECT_NE(r.err.find("usage: ruvanta-cli"), std::string::npos);
  EXPECT_TRUE(r.out.empty());
}

TEST(CliUsage, BadValuesNameTheOptionAndTheText) {
  const std::vector<std::vector<std::string>> bad = {
      {"--iterations", "-1"}, {"--iterations", "2.5"}, {"--iterations", "2147483648"},
      {"--diffusion", "x"},   {"--per-diffusion", ""}, {"--delta-t", "inf"},
      {"--delta-t", "nan"},   {"--delta-t", "1e39"},   {"--threshold", "-0.5"},
      {"--threshold", "abc"}, {"--settle", "-0.1"},    {"--settle", "nan"},
      {"--settle", "inf"},    {"--settle", "1e999"},   {"--settle", "0.5x"},
      {"--settle", ""},       {"--method", "heat"},    {"--method", "Membrane"},
      {"--jobs", "0"},        {"--jobs", "257"},       {"--jobs", "two"},
      {"--format", "gif"},    {"--threads", "0"},      {"--threads", "100000"},
      {"--tension", "-1"},    {"--tension", "nan"},    {"--tension", "abc"},
      {"--init", "zero"},     {"--method", "Auto"},
  };
  for (const auto& extra : bad) {
    auto args = SampleArgs();
    args.insert(args.end(), extra.begin(), extra.end());
    ExpectUsage(args, extra[0]);
    ExpectUsage(args, "'" + extra[1] + "'");
  }
  ExpectUsage({"--no-such-option"}, "--no-such-option");
}

TEST(CliUsage, CombinationsThatMeanNothingAreRefused) {
  auto with = [](std::vector<std::string> extra) {
    auto args = SampleArgs();
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  const std::vector<std::string> noOriginal = {"--damaged", kData + "damaged.bmp", "--mask",
                                               kData + "mask.bmp"};
  auto without = [&](std::vector<std::string> extra) {
    auto args = noOriginal;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  ExpectUsage({"--mask", kData + "mask.bmp"}, "--damaged is required");
  ExpectUsage({"--damaged", kData + "damaged.bmp"}, "--mask is required");
  ExpectUsage(without({"--metrics"}), "--metrics needs --original");
  ExpectUsage(with({"--auto", "--method", "membrane"}),
              "--auto applies only to --method transport");
  ExpectUsage(with({"--auto", "--method", "auto"}),
              "--auto applies only to --method transport: the auto fill is solved in one go");
  ExpectUsage(with({"--tension", "2"}), "--tension applies only to --method tension");
  ExpectUsage(with({"--init", "fill", "--method", "texture"}),
              "--init applies only to --method transport");
  ExpectUsage(with({"--method", "biharmonic", "--tension", "2"}),
              "--tension applies only to --method tension");
  ExpectUsage(without({"--settle", "0.1"}), "--settle applies only to the automatic mode");
  ExpectUsage(with({"--auto", "--settle", "0.1"}), "the PSNR rule");
  ExpectUsage(with({"--out-dir", "/tmp"}), "--out-dir applies only to --batch");
  ExpectUsage(with({"--jobs", "2"}), "--jobs applies only to --batch");
  ExpectUsage(with({"--format", "bmp"}), "--format applies only to --batch");
  ExpectUsage(with({"--trace", "/tmp/same.bmp", "--output", "/tmp/same.bmp"}),
              "--trace and --output name the same file");
  for (const char* option : {"--damaged", "--mask", "--original", "--output"})
    ExpectUsage({"--batch", kData + "none.csv", "--out-dir", "/tmp/x", option, "f.bmp"},
                std::string(option) + " does not go with it");
  ExpectUsage({"--batch", kData + "none.csv", "--out-dir", "/tmp/x", "--overwrite"},
              "--overwrite does not go with it");
  ExpectUsage({"--batch", kData + "none.csv"}, "--batch needs --out-dir");
}

TEST(CliUsage, HelpNamesEveryOption) {
  const CliRun help = Cli({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* option :
       {"--damaged",   "--mask",          "--original",  "--method", "--iterations",
        "--diffusion", "--per-diffusion", "--delta-t",   "--auto",   "--threshold",
        "--settle",    "--output",        "--overwrite", "--trace",  "--metrics",
        "--json",      "--batch",         "--out-dir",   "--jobs",   "--format"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

// ---------------------------------------------------------------------------
// JSON: the library parses every line, and every number reads back to the value.

TEST(CliJson, FloatsReadBackToTheSameFloat) {
  std::mt19937 gen(7);
  std::vector<float> values = {
      0.0f,      -0.0f, 1.0f, 18.7062244f, 1e-45f, 1.17549435e-38f, 3.40282347e+38f,
      -123.456f, 0.1f,  1e10f};
  for (int i = 0; i < 20000; ++i) {
    std::uint32_t bits = gen();
    float v;
    std::memcpy(&v, &bits, sizeof v);
    if (std::isfinite(v)) values.push_back(v);
  }
  for (float v : values) {
    const std::string text = DumpJson(JsonFloat(v));
    const Json back = Json::parse(text);
    ASSERT_TRUE(back.is_number()) << text;
    const float f = float(back.get<double>());
    ASSERT_EQ(std::memcmp(&f, &v, sizeof f), 0) << text << " for " << Printf("%.9g", double(v));
    // Significant digits: from the first non-zero digit to the last one.
    const std::string mantissa = text.substr(0, text.find('e'));
    const std::size_t first = mantissa.find_first_of("123456789");
    const std::size_t last = mantissa.find_last_of("123456789");
    std::size_t digits = 0;
    for (std::size_t i = first; first != std::string::npos && i <= last; ++i)
      digits += mantissa[i] != '.';
    ASSERT_LE(digits, 9u) << text;
  }
  EXPECT_EQ(DumpJson(JsonFloat(22.160717f)), "22.160717");
  EXPECT_EQ(DumpJson(JsonReal(20.0, "%.9g")), "20.0");
  // The forms of the lines: nine significant digits as the text shows them.
  EXPECT_EQ(DumpJson(JsonFloat(18.7062244f)), "18.7062244");
  EXPECT_EQ(DumpJson(JsonReal(0.099f, "%.3f")), "0.099");
  EXPECT_EQ(DumpJson(JsonFloat(INFINITY)), "\"inf\"");
  EXPECT_EQ(DumpJson(JsonFloat(-INFINITY)), "\"-inf\"");
  EXPECT_EQ(DumpJson(JsonFloat(NAN)), "\"nan\"");
}

TEST(CliJson, OneLineWithTheToolsSeparatorsAndAnyFileName) {
  Json j;
  j["a"] = 1;
  j["box"] = Json::array({0, 2, 5, 7});
  j["path"] = "dir/\"quoted\"\tname\n.bmp";
  j["none"] = nullptr;
  const std::string text = DumpJson(j);
  EXPECT_EQ(text,
            "{\"a\": 1, \"box\": [0, 2, 5, 7], \"path\": \"dir/\\\"quoted\\\"\\tname\\n.bmp\", "
            "\"none\": null}");
  EXPECT_EQ(Json::parse(text), j);
  // A name that is not UTF-8 still gives a line the library parses.
  Json bad;
  bad["damaged"] = std::string("caf\xe9.bmp");
  const Json back = Json::parse(DumpJson(bad));
  EXPECT_EQ(back["damaged"], "caf\xEF\xBF\xBD.bmp");
}

TEST(CliJson, CarriesTheFiguresOfTheLinesAndTheMeasures) {
  auto args = SampleArgs();
  args.insert(args.end(), {"--iterations", "45"});
  const CliRun text = Cli(args);
  args.push_back("--json");
  const CliRun json = Cli(args);
  ASSERT_EQ(text.status, 0) << text.err;
  ASSERT_EQ(json.status, 0) << json.err;
  ASSERT_EQ(Lines(json.out).size(), 1u);
  const Json j = Json::parse(json.out);
  std::vector<std::string> keys;
  for (auto it = j.begin(); it != j.end(); ++it) keys.push_back(it.key());
  EXPECT_EQ(keys, (std::vector<std::string>{
                      "mask_pixels", "psnr_damaged", "psnr_result", "iterations", "seconds",
                      "method", "stopped", "psnr_hole_damaged", "psnr_hole_result", "ssim_damaged",
                      "ssim_result", "ssim_box_damaged", "ssim_box_result", "mask_box",
                      "mae_hole_damaged", "psnr_hole_damaged_rgb", "mae_hole_result",
                      "psnr_hole_result_rgb", "estimated_psnr_hole"}));
  EXPECT_EQ(std::to_string(j["mask_pixels"].get<unsigned>()), Line(text.out, "mask pixels"));
  EXPECT_EQ(float(j["psnr_damaged"].get<double>()), std::stof(Line(text.out, "psnr damaged")));
  EXPECT_EQ(float(j["psnr_result"].get<double>()), std::stof(Line(text.out, "psnr result")));
  // The nine-digit text is kept as it is.
  EXPECT_NE(json.out.find("\"psnr_result\": " + Line(text.out, "psnr result") + ","),
            std::string::npos);
  EXPECT_EQ(j["iterations"], 45);
  EXPECT_TRUE(j["seconds"].is_number());
  EXPECT_EQ(j["method"], "transport");
  EXPECT_EQ(j["stopped"], false);
  for (const char* key : {"psnr_hole_damaged", "psnr_hole_result", "ssim_damaged", "ssim_result",
                          "ssim_box_damaged", "ssim_box_result"})
    EXPECT_TRUE(j[key].is_number()) << key;
  PixelBox box;
  ASSERT_TRUE(MaskBoundingBox(MaskOf(ReadPicture(kData + "mask.bmp")), &box));
  EXPECT_EQ(j["mask_box"], Json::array({box.x0, box.y0, box.x1, box.y1}));
}

TEST(CliJson, MeasuresAreNullWithoutAnOriginalAndTheRuleIsNamed) {
  bmptest::TempDir dir;
  const PictureFiles p = WritePictures(dir.Path(), "p", 40, 30, 2);
  CliRun r = Cli(Args(p, false, {"--auto", "--settle", "1000", "--json"}));
  ASSERT_EQ(r.status, 0) << r.err;
  Json j = Json::parse(r.out);
  EXPECT_EQ(j["rule"], "settle");
  for (const char* key : {"psnr_hole_damaged", "psnr_hole_result", "ssim_damaged", "ssim_result",
                          "ssim_box_damaged", "ssim_box_result", "mask_box"})
    EXPECT_TRUE(j[key].is_null()) << key;
  r = Cli(Args(p, true, {"--auto", "--json"}));
  ASSERT_EQ(r.status, 0) << r.err;
  j = Json::parse(r.out);
  EXPECT_EQ(j["rule"], "psnr");
  EXPECT_TRUE(j["ssim_result"].is_number());
  r = Cli(Args(p, true, {"--json"}));
  EXPECT_FALSE(Json::parse(r.out).contains("rule"));  // a run has no stopping rule
}

TEST(CliJson, ValuesThatAreNotFiniteAreWords) {
  bmptest::TempDir dir;
  const PictureFiles p = WritePictures(dir.Path(), "p", 40, 30, 3);
  // The damaged image as its own original: nothing differs, the PSNR is infinite;
  // a black mask: nothing to measure in the hole.
  const std::string black = dir.File("black.bmp");
  bmptest::BmpFile f;
  f.picture = MakeMask(40, 30, {});
  bmptest::WriteBytes(black, f.Bytes());
  const std::vector<std::string> args = {"--damaged",  p.damaged, "--mask",   black,
                                         "--original", p.damaged, "--metrics"};
  CliRun r = Cli(args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Line(r.out, "psnr damaged"), "inf");
  EXPECT_EQ(Line(r.out, "psnr result"), "inf");
  EXPECT_EQ(Line(r.out, "psnr hole result"), "nan");
  EXPECT_EQ(Line(r.out, "ssim result"), "1.000000");
  EXPECT_EQ(Line(r.out, "ssim box result"), "nan");
  auto jsonArgs = args;
  jsonArgs.push_back("--json");
  r = Cli(jsonArgs);
  ASSERT_EQ(r.status, 0) << r.err;
  const Json j = Json::parse(r.out);
  EXPECT_EQ(j["mask_pixels"], 0);
  EXPECT_EQ(j["psnr_damaged"], "inf");
  EXPECT_EQ(j["psnr_hole_damaged"], "nan");
  EXPECT_EQ(j["ssim_box_damaged"], "nan");
  EXPECT_TRUE(j["mask_box"].is_null());
}

// ---------------------------------------------------------------------------
// --metrics: six lines after the five, measured on the result as saved.

TEST(CliMetrics, MeasureTheSavedResultAgainstTheOriginal) {
  bmptest::TempDir dir;
  const std::string out = dir.File("out.bmp");
  auto args = SampleArgs();
  args.insert(args.end(), {"--iterations", "30", "--metrics", "--output", out});
  const CliRun r = Cli(args);
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> keys;
  for (const std::string& line : Lines(r.out)) keys.push_back(line.substr(0, line.find(':')));
  EXPECT_EQ(keys, (std::vector<std::string>{"mask pixels", "psnr damaged", "psnr result",
                                            "iterations", "seconds", "psnr hole damaged",
                                            "psnr hole result", "ssim damaged", "ssim result",
                                            "ssim box damaged", "ssim box result",
                                            "mae hole damaged", "mae hole result",
                                            "psnr hole result rgb", "estimated psnr hole"}));
  const QualityMetrics q = MeasureQuality(
      PlaneOf(ReadPicture(kData + "original.bmp")), PlaneOf(ReadPicture(kData + "damaged.bmp")),
      PlaneOf(ReadPicture(out)), MaskOf(ReadPicture(kData + "mask.bmp")));
  EXPECT_EQ(Line(r.out, "psnr hole damaged"), Printf("%.9g", q.psnrHoleDamaged));
  EXPECT_EQ(Line(r.out, "psnr hole result"), Printf("%.9g", q.psnrHoleResult));
  EXPECT_EQ(Line(r.out, "ssim damaged"), Printf("%.6f", q.ssimDamaged));
  EXPECT_EQ(Line(r.out, "ssim result"), Printf("%.6f", q.ssimResult));
  EXPECT_EQ(Line(r.out, "ssim box damaged"), Printf("%.6f", q.ssimBoxDamaged));
  EXPECT_EQ(Line(r.out, "ssim box result"), Printf("%.6f", q.ssimBoxResult));
  EXPECT_EQ(Line(r.out, "mae hole result"), Printf("%.9g", q.holeResult.meanAbsolute));
  EXPECT_EQ(Line(r.out, "psnr hole result rgb"),
            Printf("%.9g", q.holeResult.channelPsnr[0]) + " " +
                Printf("%.9g", q.holeResult.channelPsnr[1]) + " " +
                Printf("%.9g", q.holeResult.channelPsnr[2]));
  EXPECT_GT(q.psnrHoleResult, q.psnrHoleDamaged);
  EXPECT_LT(q.holeResult.meanAbsolute, q.holeDamaged.meanAbsolute);
}

// ---------------------------------------------------------------------------
// --method membrane

TEST(CliMembrane, FillsAsTheSolverDoesAndCountsItsIterations) {
  bmptest::TempDir dir;
  const PictureFiles p = WritePictures(dir.Path(), "p", 48, 36, 4);
  const std::string out = dir.File("out.bmp");
  const CliRun r = Cli(Args(p, true, {"--method", "membrane", "--output", out}));
  ASSERT_EQ(r.status, 0) << r.err;

  RgbPlane expected = PlaneOf(ReadPicture(p.damaged));
  const MembraneReport report = MembraneFill(&expected, MaskOf(ReadPicture(p.mask)));
  ASSERT_TRUE(report.converged);
  const RgbPlane got = PlaneOf(ReadPicture(out));
  EXPECT_EQ(0, std::memcmp(expected.Data(), got.Data(), sizeof(double) * 48 * 36 * 3));
  EXPECT_EQ(Line(r.out, "iterations"), std::to_string(report.iterations));

  TestDialog dlg;
  ASSERT_TRUE(dlg.files.LoadDamaged(p.damaged).ok);
  ASSERT_TRUE(dlg.files.LoadMask(p.mask).ok);
  ASSERT_TRUE(dlg.files.LoadOriginal(p.original).ok);
  ASSERT_TRUE(RunMembrane(dlg.engine).has_value());
  EXPECT_EQ(Line(r.out, "psnr result"), Printf("%.9g", double(dlg.fields().m_fPsnrResult)));
  EXPECT_EQ(Line(r.out, "psnr damaged"), Printf("%.9g", double(dlg.fields().m_fPsnrDamaged)));
}

// The fills beside the transport scheme, and the transport scheme started from the
// membrane fill: whatever lies under the mask, the result is the same, and only
// masked pixels change; each fill estimates its hole PSNR without the original, and
// auto says what it chose for every region.
TEST(CliFills, IgnoreTheValuesUnderTheMaskAndEstimateTheirQuality) {
  bmptest::TempDir dir;
  const PictureFiles p = WritePictures(dir.Path(), "p", 40, 33, 5);
  // The same picture with other values under the mask.
  RgbImage noisy = ReadPicture(p.damaged);
  const RgbImage mask = ReadPicture(p.mask);
  for (std::size_t i = 0; i < noisy.rgb.size(); ++i)
    if (mask.rgb[i - i % 3] != 0) noisy.rgb[i] = std::uint8_t(i * 37 % 256);
  const std::string other = dir.File("noisy.bmp");
  bmptest::BmpFile noisyFile;
  noisyFile.picture = noisy;
  bmptest::WriteBytes(other, noisyFile.Bytes());
  const RgbImage damaged = ReadPicture(p.damaged);
  for (const char* method : {"membrane", "biharmonic", "tension", "texture", "auto", "transport"}) {
    SCOPED_TRACE(method);
    const std::string a = dir.File(std::string(method) + "-a.bmp"),
                      b = dir.File(std::string(method) + "-b.bmp");
    const bool transport = std::string(method) == "transport";
    std::vector<std::string> args = {"--method", method};
    if (transport) args.insert(args.end(), {"--init", "fill", "--auto"});
    std::vector<std::string> json = args;
    json.insert(json.end(), {"--json", "--output", a});
    const CliRun r = Cli(Args(p, false, json));
    ASSERT_EQ(r.status, 0) << r.err;
    PictureFiles q = p;
    q.damaged = other;
    args.insert(args.end(), {"--output", b});
    ASSERT_EQ(Cli(Args(q, false, args)).status, 0);
    const RgbImage ra = ReadPicture(a), rb = ReadPicture(b);
    EXPECT_TRUE(ra.rgb == rb.rgb);
    std::size_t changedOutside = 0;
    for (std::size_t i = 0; i < ra.rgb.size(); ++i)
      changedOutside += mask.rgb[i - i % 3] == 0 && ra.rgb[i] != damaged.rgb[i];
    EXPECT_EQ(changedOutside, 0u);

    const Json j = Json::parse(r.out);
    EXPECT_EQ(j["method"], method);
    ASSERT_TRUE(j["estimated_psnr_hole"].is_number());
    EXPECT_GT(j["estimated_psnr_hole"].get<double>(), 10.0);
    if (transport) {
      EXPECT_EQ(j["rule"], "held-out");
    } else if (std::string(method) == "auto") {
      long pixels = 0;
      for (const Json& region : j["auto_choice"]["regions"]) pixels += region["pixels"].get<long>();
      EXPECT_EQ(pixels, j["mask_pixels"].get<long>());
    } else {
      EXPECT_FALSE(j.contains("auto_choice"));
    }
  }
  const CliRun plain = Cli(Args(p, false, {"--json"}));
  ASSERT_EQ(plain.status, 0) << plain.err;
  // A run's estimate: the same run on the held-out copies.
  EXPECT_TRUE(Json::parse(plain.out)["estimated_psnr_hole"].is_number());
}

// Without an original the automatic mode checks itself on held-out pixels: on the
// sample it ends nearer the original than the settle rule does, and says so.
TEST(CliHeldOut, EndsTheSampleNearerTheOriginalThanTheSettleRule) {
  bmptest::TempDir dir;
  const std::string held = dir.File("held.bmp"), settled = dir.File("settled.bmp");
  const std::vector<std::string> pictures = {"--damaged", kData + "damaged.bmp", "--mask",
                                             kData + "mask.bmp", "--auto"};
  auto args = pictures;
  args.insert(args.end(), {"--json", "--output", held});
  const CliRun r = Cli(args);
  ASSERT_EQ(r.status, 0) << r.err;
  const Json j = Json::parse(r.out);
  EXPECT_EQ(j["rule"], "held-out");
  EXPECT_EQ(j["stopped_at_cap"], false);
  ASSERT_TRUE(j["estimated_psnr_hole"].is_number());
  args = pictures;
  args.insert(args.end(), {"--settle", "0.5", "--json", "--output", settled});
  const CliRun s = Cli(args);
  ASSERT_EQ(s.status, 0) << s.err;
  EXPECT_EQ(Json::parse(s.out)["rule"], "settle");
  const RgbPlane original = PlaneOf(ReadPicture(kData + "original.bmp"));
  const MaskPlane mask = MaskOf(ReadPicture(kData + "mask.bmp"));
  const double heldPsnr = MaskedPsnr(original, PlaneOf(ReadPicture(held)), mask);
  const double settledPsnr = MaskedPsnr(original, PlaneOf(ReadPicture(settled)), mask);
  EXPECT_GT(heldPsnr, settledPsnr + 0.5);
}

// ---------------------------------------------------------------------------
// --settle: the level the automatic mode without an original stops at.

TEST(CliSettle, TheLevelDecidesWhenTheAutomaticModeStops) {
  bmptest::TempDir dir;
  const PictureFiles p = WritePictures(dir.Path(), "p", 40, 30, 5);
  // So high that the first measured cycle ends it: five cycles, counted as one.
  CliRun r = Cli(Args(p, false, {"--auto", "--settle", "1000"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Line(r.out, "iterations"), "15");

  for (const char* level : {"2", "0.5"}) {
    r = Cli(Args(p, false, {"--auto", "--settle", level}));
    ASSERT_EQ(r.status, 0) << r.err;
    TestDialog dlg;
    ASSERT_TRUE(dlg.files.LoadDamaged(p.damaged).ok);
    ASSERT_TRUE(dlg.files.LoadMask(p.mask).ok);
    dlg.engine.SetAutoRule(dlg.engine.AutoRuleWithoutOriginal(), std::stod(level));
    dlg.engine.OnAuto();
    EXPECT_GT(dlg.fields().m_nTotalIter, 15u) << level;
    EXPECT_EQ(Line(r.out, "iterations"), std::to_string(dlg.fields().m_nTotalIter)) << level;
    EXPECT_EQ(Line(r.out, "psnr result"), Printf("%.9g", double(dlg.fields().m_fPsnrResult)));
  }
}

// ---------------------------------------------------------------------------
// --trace

struct TraceRow {
  std::string cycle, iterations, seconds, psnr, meanChange;
};

std::vector<TraceRow> ReadTrace(const std::string& path) {
  const std::vector<std::string> lines = Lines(ReadText(path));
  EXPECT_FALSE(lines.empty());
  if (lines.empty()) return {};
  EXPECT_EQ(lines[0], "cycle,iterations,seconds,psnr,mean_change");
  std::vector<TraceRow> rows;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> f;
    std::stringstream in(lines[i]);
    for (std::string cell; std::getline(in, cell, ',');) f.push_back(cell);
    if (!lines[i].empty() && lines[i].back() == ',') f.push_back("");
    EXPECT_EQ(f.size(), 5u) << lines[i];
    f.resize(5);
    rows.push_back({f[0], f[1], f[2], f[3], f[4]});
  }
  return rows;
}

void ExpectRisingSeconds(const std::vector<TraceRow>& rows) {
  double last = 0;
  for (const TraceRow& row : rows) {
    const double s = std::stod(row.seconds);
    EXPECT_GE(s, last);
    last = s;
  }
}

TEST(CliTrace, ThePsnrModeGivesEveryMeasuredCycle) {
  bmptest::TempDir dir;
  const PictureFiles p = WritePictures(dir.Path(), "p", 40, 30, 6);
  const std::string trace = dir.File("trace.csv");
  const CliRun r = Cli(Args(p, true, {"--auto", "--trace", trace}));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<TraceRow> rows = ReadTrace(trace);

  TestDialog dlg;
  ASSERT_TRUE(dlg.files.LoadDamaged(p.damaged).ok);
  ASSERT_TRUE(dlg.files.LoadMask(p.mask).ok);
  ASSERT_TRUE(dlg.files.LoadOriginal(p.original).ok);
  dlg.engine.OnAuto();
  ASSERT_EQ(rows.size(), dlg.cycles.size());
  ASSERT_GE(rows.size(), 2u);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].cycle, std::to_string(dlg.cycles[i].first));
    EXPECT_EQ(rows[i].iterations, std::to_string(dlg.cycles[i].first * 15));
    EXPECT_EQ(rows[i].psnr, Printf("%.9g", double(dlg.cycles[i].second)));
    EXPECT_EQ(rows[i].meanChange, "");
  }
  EXPECT_EQ(rows.front().cycle, "5");
  EXPECT_EQ(rows.back().psnr, Printf("%.9g", std::stod(Line(r.out, "psnr result"))));
  ExpectRisingSeconds(rows);
}

TEST(CliTrace, TheSettleModeGivesTheMeanChange) {
  bmptest::TempDir dir;
  const PictureFiles p = WritePictures(dir.Path(), "p", 40, 30, 7);
  const std::string trace = dir.File("trace.csv");
  const CliRun r = Cli(Args(p, false, {"--auto", "--settle", "1", "--trace", trace}));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<TraceRow> rows = ReadTrace(trace);
  ASSERT_GE(rows.size(), 2u);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].cycle, std::to_string(5 + i));
    EXPECT_EQ(rows[i].psnr, "");
    const double change = std::stod(rows[i].meanChange);
    // Every cycle but the last changed the result by more than the level.
    if (i + 1 < rows.size())
      EXPECT_GT(change, 1.0);
    else
      EXPECT_LE(change, 1.0);
  }
  ExpectRisingSeconds(rows);
}

TEST(CliTrace, ARunGivesItsBlocksMarked) {
  bmptest::TempDir dir;
  const PictureFiles p = WritePictures(dir.Path(), "p", 40, 30, 8);
  const std::string trace = dir.File("trace.csv");
  CliRun r = Cli(Args(p, true, {"--iterations", "100", "--trace", trace}));
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<TraceRow> rows = ReadTrace(trace);
  std::vector<std::string> cycles, iterations;
  for (const TraceRow& row : rows) {
    cycles.push_back(row.cycle);
    iterations.push_back(row.iterations);
    EXPECT_EQ(row.psnr + row.meanChange, "");
  }
  EXPECT_EQ(cycles, (std::vector<std::string>{"block 1", "block 2", "block 3", "block 4", "block 5",
                                              "block 6", "block 7"}));
  EXPECT_EQ(iterations, (std::vector<std::string>{"15", "30", "45", "60", "75", "90", "100"}));
  // Without a tail the run's closing report adds no row.
  const std::string trace2 = dir.File("trace2.csv");
  r = Cli(Args(p, true, {"--iterations", "30", "--trace", trace2}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadTrace(trace2).size(), 2u);
}

TEST(CliTrace, IsAlwaysANewFileAndARefusedRunLeavesNone) {
  bmptest::TempDir dir;
  const PictureFiles p = WritePictures(dir.Path(), "p", 40, 30, 9);
  const std::string trace = dir.File("trace.csv");
  bmptest::WriteBytes(trace, {'o', 'l', 'd'});
  const std::string out = dir.File("out.bmp");
  CliRun r = Cli(Args(p, true, {"--trace", trace, "--output", out, "--overwrite"}));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(trace + ": already exists"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());
  EXPECT_EQ(ReadText(trace), "old");
  EXPECT_FALSE(bmptest::FileExists(out));  // nothing ran

  const std::string fresh = dir.File("fresh.csv");
  r = Cli({"--damaged", p.damaged, "--mask", dir.File("missing.bmp"), "--trace", fresh});
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(bmptest::FileExists(fresh));
  r = Cli(Args(p, true, {"--trace", dir.File("no/such/folder/t.csv")}));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot create the trace"), std::string::npos);
  EXPECT_TRUE(r.out.empty());
}

TEST(CliTrace, AWriteThatFailsLeavesNoTraceCutShort) {
  // In a child whose file size limit stops the trace part-way, as a full disk does.
  bmptest::TempDir dir;
  const std::string trace = dir.File("trace.csv");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit = {100, 100};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(2);
    TraceFile file;
    std::string why;
    if (!file.Create(trace, &why)) ::_exit(3);
    file.Start();
    RunProgress block;
    for (int i = 1; i <= 5; ++i) {
      block.iterationsDone = 15 * i;
      file.Add(block);
    }
    const bool refused = !file.Close(&why) && why.find(trace) != std::string::npos &&
                         why.find("File too large") != std::string::npos;
    ::_exit(refused ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the trace's failure was not reported";
  EXPECT_TRUE(imagetest::Listing(dir.Path()).empty()) << "a trace or its temporary file was left";

  // Room enough: the same rows appear whole under the name when it is closed.
  TraceFile file;
  std::string why;
  ASSERT_TRUE(file.Create(trace, &why)) << why;
  file.Start();
  RunProgress block;
  block.iterationsDone = 15;
  file.Add(block);
  EXPECT_FALSE(bmptest::FileExists(trace));
  ASSERT_TRUE(file.Close(&why)) << why;
  const std::vector<std::string> lines = Lines(ReadText(trace));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].substr(0, 11), "block 1,15,");
}

TEST(CliTrace, RowsOfEveryKindOfReport) {
  int block = 0, last = 0;
  RunProgress run;
  run.iterationsDone = 15;
  EXPECT_EQ(TraceFile::Row(run, 0.25, &block, &last), "block 1,15,0.250000,,");
  EXPECT_EQ(TraceFile::Row(run, 0.30, &block, &last), "");  // the closing repeat
  RunProgress cycle;
  cycle.automatic = true;
  cycle.cycle = 3;
  EXPECT_EQ(TraceFile::Row(cycle, 0.1, &block, &last), "");  // not measured
  cycle.measured = true;
  cycle.cycle = 5;
  cycle.iterationsDone = 75;
  cycle.psnr = INFINITY;
  EXPECT_EQ(TraceFile::Row(cycle, 1.5, &block, &last), "5,75,1.500000,inf,");
  cycle.settling = true;
  cycle.meanChange = 0.0625;
  EXPECT_EQ(TraceFile::Row(cycle, 2, &block, &last), "5,75,2.000000,,0.0625");
}

// ---------------------------------------------------------------------------
// The automatic mode on a terminal shows what decides each cycle.

TEST(CliProgress, TheSettleModeShowsTheMeanChangeNotAPsnr) {
  RunProgress p;
  p.automatic = true;
  p.cycle = 6;
  EXPECT_EQ(ProgressLine(p), "");
  p.measured = true;
  p.psnr = 23.5f;
  EXPECT_EQ(ProgressLine(p), "cycle 6: psnr 23.5");
  p.settling = true;
  p.psnr = 0;
  p.meanChange = 0.125;
  EXPECT_EQ(ProgressLine(p), "cycle 6: mean change 0.125");
  RunProgress block;
  block.iterationsDone = 15;
  EXPECT_EQ(ProgressLine(block), "");
}

// ---------------------------------------------------------------------------
// Ctrl-C

TEST(CliInterrupt, TheFirstSignalAsksAndGivesBackTheDefaultAction) {
  struct sigaction ignore {
  }, previous{}, now{};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ASSERT_EQ(sigaction(SIGINT, &ignore, &previous), 0);
  {
    InterruptScope outer;
    EXPECT_FALSE(InterruptRequested());
    {
      InterruptScope inner;  // a second run at the same time
      ASSERT_EQ(::raise(SIGINT), 0);
      EXPECT_TRUE(InterruptRequested());
      sigaction(SIGINT, nullptr, &now);
      EXPECT_EQ(now.sa_handler, SIG_DFL);  // a second Ctrl-C ends the process
    }
    EXPECT_TRUE(InterruptRequested());  // the outer run still sees it
  }
  sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_IGN);  // the action from before is back
  {
    InterruptScope again;
    EXPECT_FALSE(InterruptRequested());  // a new run starts afresh
  }
  sigaction(SIGINT, &previous, nullptr);
}

// Starts the real program, waits for the trace's first row, sends SIGINT.
struct Interrupted {
  int status = -1;
  std::string out, err;
  std::vector<TraceRow> trace;
};

Interrupted InterruptRun(const std::string& dir, std::vector<std::string> args) {
  const std::string trace = dir + "/trace.csv";
  args.insert(args.end(), {"--trace", trace});
  Interrupted result;
  CliProcess cli(args, dir + "/stdout", dir + "/stderr");
  EXPECT_TRUE(cli.Started());
  // While the run goes its trace grows in a temporary file; the name is still free.
  const auto partialTrace = [&] {
    for (const std::string& name : imagetest::PartialFiles(dir))
      if (IsPartialFileOf(name, "trace.csv")) return ReadText(dir + "/" + name);
    return std::string();
  };
  const bool running =
      WaitFor([&] { return Lines(partialTrace()).size() >= 2; }, std::chrono::seconds(60));
  EXPECT_TRUE(running) << "the run showed no progress";
  EXPECT_FALSE(bmptest::FileExists(trace));
  cli.Signal(SIGINT);
  result.status = cli.Wait(std::chrono::seconds(60));
  result.out = ReadText(dir + "/stdout");
  result.err = ReadText(dir + "/stderr");
  result.trace = ReadTrace(trace);
  return result;
}

TEST(CliInterrupt, CtrlCStopsTheAutomaticModeAtACycleAndKeepsTheResult) {
  bmptest::TempDir dir;
  const std::string out = dir.File("out.bmp");
  // Without an original and a settle level of 0 the automatic mode runs until stopped.
  const Interrupted r =
      InterruptRun(dir.Path(), {"--damaged", kData + "damaged.bmp", "--mask", kData + "mask.bmp",
                                "--auto", "--settle", "0", "--output", out});
  ASSERT_TRUE(WIFEXITED(r.status)) << "status " << r.status << "\n" << r.err;
  EXPECT_EQ(WEXITSTATUS(r.status), 130) << r.err;
  const std::string iterations = Line(r.out, "iterations");
  ASSERT_EQ(Lines(r.out).size(), 5u) << r.out;
  const unsigned n = unsigned(std::stoul(iterations));
  EXPECT_EQ(n % 15, 0u);
  EXPECT_GE(n, 15u);
  EXPECT_NE(r.err.find("stopped after " + iterations + " iterations"), std::string::npos) << r.err;
  const RgbImage result = ReadPicture(out);
  EXPECT_EQ(result.width, 320);
  EXPECT_EQ(result.height, 240);
  // The trace ends where the run did.
  ASSERT_FALSE(r.trace.empty());
  EXPECT_EQ(std::stoul(r.trace.back().iterations), 75u + (n - 15u));
}

TEST(CliInterrupt, CtrlCStopsARunBetweenSweeps) {
  bmptest::TempDir dir;
  const std::string out = dir.File("out.bmp");
  const Interrupted r =
      InterruptRun(dir.Path(), {"--damaged", kData + "damaged.bmp", "--mask", kData + "mask.bmp",
                                "--original", kData + "original.bmp", "--iterations", "2000000000",
                                "--output", out, "--json"});
  ASSERT_TRUE(WIFEXITED(r.status)) << "status " << r.status << "\n" << r.err;
  EXPECT_EQ(WEXITSTATUS(r.status), 130) << r.err;
  const Json j = Json::parse(r.out);
  EXPECT_EQ(j["stopped"], true);
  const unsigned n = j["iterations"].get<unsigned>();
  EXPECT_GT(n, 0u);
  EXPECT_LT(n, 2000000000u);
  EXPECT_TRUE(j["psnr_hole_result"].is_number());
  EXPECT_EQ(ReadPicture(out).width, 320);
  EXPECT_NE(r.err.find("stopped after " + std::to_string(n) + " iterations"), std::string::npos);
}

}  // namespace

namespace {

// A time step at or below 0 moves values away from the fill, one above 1
// overshoots: refused by value before anything is read, unless forced.
TEST(CliRun, TimeStepsOutsideTheStableRangeNeedForce) {
  for (const char* dt : {"-1", "0", "3e38", "1.0001"}) {
    auto args = SampleArgs();
    args.insert(args.end(), {"--delta-t", dt, "--iterations", "5"});
    const CliRun r = Cli(args);
    EXPECT_EQ(r.status, 2) << dt;
    EXPECT_EQ(r.err.rfind(std::string("ruvanta-cli: --delta-t ") + dt + " ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("--force"), std::string::npos);
    args.push_back("--force");
    EXPECT_EQ(Cli(args).status, 0) << dt;
  }
  auto args = SampleArgs();
  args.insert(args.end(), {"--delta-t", "1", "--iterations", "5"});
  EXPECT_EQ(Cli(args).status, 0);
}

// The mask's size is compared from the headers: a 16000 x 2500 picture is not
// decoded (nor its memory weighed) before a mask of another size is refused.
TEST(CliRun, ASizeMismatchIsRefusedFromTheHeaders) {
  bmptest::TempDir dir;
  // A PNG signature and header declaring 16000 x 2500, and no pixels after them.
  std::vector<std::uint8_t> bytes = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A,
                                     0,    0,   0,   13,  'I',  'H',  'D',  'R',
                                     0,    0,   0x3E, 0x80, 0,   0,   0x09, 0xC4,
                                     8,    2,   0,   0,   0};
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 12; i < bytes.size(); ++i) {
    crc ^= bytes[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  crc ^= 0xFFFFFFFFu;
  for (int i = 3; i >= 0; --i) bytes.push_back(std::uint8_t(crc >> (8 * i)));
  bmptest::WriteBytes(dir.File("huge.png"), bytes);
  const CliRun r = Cli({"--damaged", dir.File("huge.png"), "--mask", kData + "mask.bmp"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "not valid: The mask does not match the damaged image.\nmask is 320 x 240 but the "
            "damaged image is 16000 x 2500\n");
}

}  // namespace
