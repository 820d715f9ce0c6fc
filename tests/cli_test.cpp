#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_app.h"
#include "tests/support/engine_fixture.h"

namespace {

const std::string kData = std::string(RUVANTA_SOURCE_DIR) + "/data/";

struct CliRun {
  int status;
  std::string out, err;
};

std::string ReadAll(std::FILE* f) {
  std::rewind(f);
  std::string s;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

CliRun Cli(std::vector<std::string> args) {
  args.insert(args.begin(), "ruvanta-cli");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  CliRun r;
  r.status = RunCli(int(argv.size()), argv.data(), out, err);
  r.out = ReadAll(out);
  r.err = ReadAll(err);
  return r;
}

std::vector<std::string> SampleArgs() {
  return {"--damaged", kData + "damaged.bmp", "--mask", kData + "mask.bmp", "--original",
          kData + "original.bmp"};
}

std::string TempDir() {
  char templ[] = "/tmp/ruvanta-cli-XXXXXX";
  return ::mkdtemp(templ);
}

std::string Line(const std::string& out, const std::string& key) {
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(key + ": ", 0) == 0) return line.substr(key.size() + 2);
  return "<missing " + key + ">";
}

class CliTest : public ::testing::Test {
 protected:
};

TEST_F(CliTest, RestoresTheSampleLikeTheHandlers) {
  auto args = SampleArgs();
  args.insert(args.end(), {"--iterations", "30"});
  const CliRun r = Cli(args);
  ASSERT_EQ(r.status, 0) << r.err;
  // The five lines, in order.
  std::istringstream in(r.out);
  std::vector<std::string> keys;
  for (std::string line; std::getline(in, line);) keys.push_back(line.substr(0, line.find(':')));
  EXPECT_EQ(keys, (std::vector<std::string>{"mask pixels", "psnr damaged", "psnr result",
                                            "iterations", "seconds"}));
  // The same run through the dialog's own handlers.
    TestDialog dlg;
  ASSERT_TRUE(dlg.files.LoadDamaged(kData + "damaged.bmp").ok);
  ASSERT_TRUE(dlg.files.LoadMask(kData + "mask.bmp").ok);
  ASSERT_TRUE(dlg.files.LoadOriginal(kData + "original.bmp").ok);
  dlg.SetItemText(IDC_EDIT_TRANSPORT_ITER, "30");
  dlg.engine.OnRun();
  char text[64];
  EXPECT_EQ(Line(r.out, "mask pixels"), std::to_string(dlg.engine.m_nMaskCount));
  std::snprintf(text, sizeof text, "%.9g", double(dlg.engine.m_fields.m_fPsnrDamaged));
  EXPECT_EQ(Line(r.out, "psnr damaged"), text);
  std::snprintf(text, sizeof text, "%.9g", double(dlg.engine.m_fields.m_fPsnrResult));
  EXPECT_EQ(Line(r.out, "psnr result"), text);
  EXPECT_EQ(Line(r.out, "iterations"), "30");
  EXPECT_GT(dlg.engine.m_fields.m_fPsnrResult, dlg.engine.m_fields.m_fPsnrDamaged);  // the restoration helps
}

TEST_F(CliTest, AutomaticModeAndJson) {
  auto args = SampleArgs();
  args.insert(args.end(), {"--auto", "--threshold", "0.5", "--json"});
  const CliRun r = Cli(args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.front(), '{');
  EXPECT_NE(r.out.find("\"mask_pixels\": "), std::string::npos);
  EXPECT_NE(r.out.find("\"psnr_result\": "), std::string::npos);
  const auto pos = r.out.find("\"iterations\": ");
  ASSERT_NE(pos, std::string::npos);
  const unsigned total = unsigned(std::stoul(r.out.substr(pos + 14)));
  EXPECT_EQ(total % 15, 0u);
  EXPECT_GE(total, 15u);
}

TEST_F(CliTest, WritesTheResultAndNeverOverwritesUnlessAsked) {
  const std::string dir = TempDir(), out = dir + "/result.bmp";
  auto args = SampleArgs();
  args.insert(args.end(), {"--iterations", "5", "--output", out});
  ASSERT_EQ(Cli(args).status, 0);
  TestDialog back;
  ASSERT_TRUE(back.files.LoadDamaged(out).ok);
  EXPECT_EQ(back.files.m_surfDamaged.nWidth, 320);

  {
    std::ofstream f(out, std::ios::trunc);
    f << "keep me";
  }
  const CliRun refused = Cli(args);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("already exists"), std::string::npos);
  EXPECT_TRUE(refused.out.empty());
  std::ifstream kept(out);
  std::string content((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "keep me");

  args.push_back("--overwrite");
  ASSERT_EQ(Cli(args).status, 0);
  ASSERT_TRUE(back.files.LoadDamaged(out).ok);
  std::remove(out.c_str());
  ::rmdir(dir.c_str());
}

TEST_F(CliTest, RefusedFilesExitWithOne) {
  CliRun r = Cli({"--damaged", kData + "missing.bmp", "--mask", kData + "mask.bmp"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("File Gagal diBuka"), std::string::npos);
  EXPECT_TRUE(r.out.empty());
  // A mask of another size.
  r = Cli({"--damaged", kData + "damaged.bmp", "--mask",
           std::string(RUVANTA_SOURCE_DIR) + "/bench/data/mask800_5.bmp"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("mask is 800 x 800 but the damaged image is 320 x 240"), std::string::npos);
  const std::string dir = TempDir();
  r = Cli({"--damaged", kData + "damaged.bmp", "--mask", kData + "mask.bmp", "--output",
           dir + "/no/such/folder/out.bmp"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot create file"), std::string::npos);
  ::rmdir(dir.c_str());
}

TEST_F(CliTest, BadOptionValuesAreUsageErrors) {
  const std::vector<std::vector<std::string>> bad = {
      {"--iterations", "-1"},       {"--iterations", "2.5"},   {"--iterations", "2147483648"},
      {"--diffusion", "x"},         {"--per-diffusion", ""},   {"--delta-t", "inf"},
      {"--delta-t", "nan"},         {"--delta-t", "1e39"},     {"--threshold", "-0.5"},
      {"--threshold", "abc"},       {"--no-such-option"},
  };
  for (const auto& extra : bad) {
    auto args = SampleArgs();
    args.insert(args.end(), extra.begin(), extra.end());
    const CliRun r = Cli(args);
    EXPECT_EQ(r.status, 2) << extra[0];
    EXPECT_NE(r.err.find("usage: ruvanta-cli"), std::string::npos);
    EXPECT_TRUE(r.out.empty());
  }
  EXPECT_EQ(Cli({"--mask", kData + "mask.bmp"}).status, 2);  // --damaged is required
  const CliRun help = Cli({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* option : {"--damaged", "--mask", "--original", "--iterations", "--diffusion",
                             "--per-diffusion", "--delta-t", "--auto", "--threshold", "--output",
                             "--overwrite", "--json"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

TEST_F(CliTest, DecimalsAndZeroCountsAreAccepted) {
  auto args = SampleArgs();
  args.insert(args.end(), {"--delta-t", "0.25", "--iterations", "0", "--diffusion", "0"});
  const CliRun r = Cli(args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Line(r.out, "iterations"), "0");
  EXPECT_EQ(Line(r.out, "psnr result"), Line(r.out, "psnr damaged"));
}

}  // namespace
