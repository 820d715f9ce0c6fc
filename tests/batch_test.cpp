// Batches: the manifest's rows and the faults it is refused for, the output names,
// and the runner: each row's figures and result as a single run's whatever the
// number of threads, failed rows beside done ones, and Ctrl-C.
#include "cli/batch.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "imaging/image_reader.h"

#include "cli/json_out.h"
#include "tests/support/cli_runner.h"

namespace {

using namespace clitest;

Manifest Parse(const std::string& text, const RunRequest& defaults = RunRequest()) {
  return ParseManifest(text, "/data/set/", defaults);
}

// ---------------------------------------------------------------------------
// The manifest

TEST(BatchManifest, RowsTakeTheirCellsOverTheDefaults) {
  RunRequest defaults;
  defaults.iterations = "40";
  defaults.deltaT = "0.02";
  const Manifest m = Parse(
      "damaged,mask,original,iterations,auto,method,diffusion,per-diffusion,delta-t,threshold\r\n"
      "a.bmp,a-mask.bmp,a-orig.bmp,,,,,,,\r\n"
      "\r\n"
      "/abs/b.bmp,\"sub dir/b,mask.bmp\",,7,Yes,transport,0,5,0.5,0.25\r\n"
      "c.bmp,c-mask.bmp,,,0,membrane,,,,\r\n",
      defaults);
  ASSERT_TRUE(m.ok) << m.error;
  ASSERT_EQ(m.rows.size(), 3u);
  const RunRequest& a = m.rows[0].request;
  EXPECT_EQ(m.rows[0].row, 1);
  EXPECT_EQ(a.damaged, "/data/set/a.bmp");
  EXPECT_EQ(a.mask, "/data/set/a-mask.bmp");
  EXPECT_EQ(a.original, "/data/set/a-orig.bmp");
  EXPECT_EQ(a.iterations, "40");
  EXPECT_EQ(a.deltaT, "0.02");
  EXPECT_FALSE(a.automatic);
  EXPECT_EQ(a.method, RunMethod::kTransport);

  const RunRequest& b = m.rows[1].request;
  EXPECT_EQ(m.rows[1].row, 2);  // the blank line is not a row
  EXPECT_EQ(m.rows[1].line, 4);
  EXPECT_EQ(b.damaged, "/abs/b.bmp");
  EXPECT_EQ(b.mask, "/data/set/sub dir/b,mask.bmp");
  EXPECT_EQ(b.original, "");
  EXPECT_EQ(b.iterations, "7");
  EXPECT_TRUE(b.automatic);
  EXPECT_EQ(b.diffusion, "0");
  EXPECT_EQ(b.perDiffusion, "5");
  EXPECT_EQ(b.deltaT, "0.5");
  EXPECT_EQ(b.threshold, "0.25");

  EXPECT_EQ(m.rows[2].request.method, RunMethod::kMembrane);
  EXPECT_FALSE(m.rows[2].request.automatic);
}

TEST(BatchManifest, AutoTakesTheUsualWordsForYesAndNo) {
  for (const char* yes : {"1", "true", "TRUE", "yes", "Yes"}) {
    const Manifest m = Parse(std::string("damaged,mask,auto\na,b,") + yes + "\n");
    ASSERT_TRUE(m.ok) << m.error;
    EXPECT_TRUE(m.rows[0].request.automatic) << yes;
  }
  RunRequest automatic;
  automatic.automatic = true;
  for (const char* no : {"0", "false", "False", "no", "NO"}) {
    const Manifest m = Parse(std::string("damaged,mask,auto\na,b,") + no + "\n", automatic);
    ASSERT_TRUE(m.ok) << m.error;
    EXPECT_FALSE(m.rows[0].request.automatic) << no;
  }
  const Manifest m = Parse("damaged,mask,auto\na,b,\n", automatic);
  ASSERT_TRUE(m.ok) << m.error;
  EXPECT_TRUE(m.rows[0].request.automatic);  // an empty cell keeps the default
}

TEST(BatchManifest, TheCommandLinesSettleLevelGoesToTheRowsThatSettle) {
  RunRequest defaults;
  defaults.automatic = true;
  defaults.settle = 0.25;
  const Manifest m = Parse(
      "damaged,mask,original,auto,settle\n"
      "a,am,,,\n"      // settles: takes the level
      "b,bm,bo,,\n"    // the PSNR rule: no level
      "c,cm,,0,\n"     // a run: no level
      "d,dm,,,0.5\n",  // its own level
      defaults);
  ASSERT_TRUE(m.ok) << m.error;
  ASSERT_EQ(m.rows.size(), 4u);
  EXPECT_EQ(m.rows[0].request.settle, 0.25);
  EXPECT_FALSE(m.rows[1].request.settle.has_value());
  EXPECT_FALSE(m.rows[2].request.settle.has_value());
  EXPECT_EQ(m.rows[3].request.settle, 0.5);
}

TEST(BatchManifest, FaultsNameTheRowAndTheColumn) {
  RunRequest metrics;
  metrics.metrics = true;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "the manifest is empty"},
      {"\n\n", "the manifest is empty"},
      {"damaged,mask,iterashuns\na,b,3\n",
       "header (line 1), column 3 'iterashuns': not a column of a manifest (they are damaged, "
       "mask, original, iterations, diffusion, per-diffusion, delta-t, auto, threshold, settle, "
       "method, tension, init)"},
      {"damaged,mask,output\na,b,c\n", "column 3 'output': not a column"},
      {"damaged,mask,mask\n", "header (line 1): column 'mask' appears twice"},
      {"damaged,original\na,b\n", "header (line 1): no 'mask' column"},
      {"mask\na\n", "no 'damaged' column"},
      {"damaged,mask\na,b\n,c\n", "row 2 (line 3), column damaged: empty"},
      {"damaged,mask\na,\n", "row 1 (line 2), column mask: empty"},
      {"damaged,mask\na,b,c\n", "row 1 (line 2): 3 fields, but the header has 2"},
      {"damaged,mask\na\n", "row 1 (line 2): 1 fields, but the header has 2"},
      {"damaged,mask,iterations\na,b,-4\n",
       "row 1 (line 2), column iterations: must be a whole number from 0 to 2147483647, not '-4'"},
      {"damaged,mask,delta-t\na,b,nan\n", "column delta-t: must be a finite number, not 'nan'"},
      {"damaged,mask,threshold\na,b,-1\n", "column threshold: must not be negative"},
      {"damaged,mask,auto\na,b,maybe\n",
       "column auto: must be 1, 0, true, false, yes or no, not 'maybe'"},
      {"damaged,mask,method\na,b,heat\n", "column method: must be transport, membrane, biharmonic, tension, texture or auto"},
      {"damaged,mask,settle\na,b,x\n", "column settle: must be a finite number, not 'x'"},
      {"damaged,mask,settle\na,b,0.1\n",
       "row 1 (line 2): settle applies only to the automatic mode"},
      {"damaged,mask,original,auto,settle\na,b,c,1,0.1\n",
       "settle applies only without an original: with one the automatic mode stops by the PSNR "
       "rule"},
      {"damaged,mask,auto,method\na,b,1,membrane\n", "auto applies only to the transport method"},
      {"damaged,mask\n\"a,b\n", "line 2, field 1: the quoted field is not closed"},
  };
  for (const auto& [text, error] : cases) {
    const Manifest m = Parse(text);
    EXPECT_FALSE(m.ok) << text;
    EXPECT_NE(m.error.find(error), std::string::npos)
        << "wanted: " << error << "\ngot: " << m.error;
  }
  const Manifest m = Parse("damaged,mask,original\na,b,c\nd,e,\n", metrics);
  EXPECT_FALSE(m.ok);
  EXPECT_NE(m.error.find("row 2 (line 3): --metrics needs an original"), std::string::npos)
      << m.error;
}

TEST(BatchManifest, OutputNamesAreTheRowAndTheDamagedFilesStem) {
  EXPECT_EQ(OutputName(3, "/data/set/cat.bmp", "bmp"), "3-cat.bmp");
  EXPECT_EQ(OutputName(12, "photo.v2.BMP", "bmp"), "12-photo.v2.bmp");
  EXPECT_EQ(OutputName(1, "dir.d/noext", "png"), "1-noext.png");
  EXPECT_EQ(OutputName(2, ".hidden", "bmp"), "2-.hidden.bmp");
}

// ---------------------------------------------------------------------------
// The runner

// Lines of standard output, by row.
std::map<int, Json> RowsByNumber(const std::string& out) {
  std::map<int, Json> rows;
  for (const std::string& line : Lines(out)) {
    const Json j = Json::parse(line);
    EXPECT_TRUE(rows.emplace(j["row"].get<int>(), j).second) << "row twice: " << line;
  }
  return rows;
}

class BatchRun : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 3; ++i)
      pictures.push_back(
          WritePictures(dir.Path(), "p" + std::to_string(i), 36 + 4 * i, 28, unsigned(i + 1)));
  }
  std::string Manifest(const std::string& text) {
    const std::string path = dir.File("manifest.csv");
    std::remove(path.c_str());
    bmptest::WriteBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
    return path;
  }
  // The file name of picture i's file in the manifest (relative to its folder).
  std::string Name(const std::string& path) { return path.substr(dir.Path().size() + 1); }

  bmptest::TempDir dir;
  std::vector<PictureFiles> pictures;
};

TEST_F(BatchRun, EveryRowEqualsASingleRunWhateverTheJobs) {
  // Rows of every kind: runs with and without an original, both automatic rules,
  // the membrane, other settings.
  std::string text = "damaged,mask,original,iterations,auto,method,settle,per-diffusion\n";
  std::vector<std::vector<std::string>> single;
  const auto row = [&](int pic, bool original, const std::string& iterations, bool automatic,
                       const std::string& method, const std::string& settle,
                       const std::string& per) {
    const PictureFiles& p = pictures[std::size_t(pic)];
    text += Name(p.damaged) + "," + Name(p.mask) + "," + (original ? Name(p.original) : "") + "," +
            iterations + "," + (automatic ? "yes" : "") + "," + method + "," + settle + "," + per +
            "\n";
    std::vector<std::string> args = {"--damaged", p.damaged, "--mask", p.mask};
    if (original) args.insert(args.end(), {"--original", p.original});
    if (!iterations.empty()) args.insert(args.end(), {"--iterations", iterations});
    if (automatic) args.push_back("--auto");
    if (!method.empty()) args.insert(args.end(), {"--method", method});
    if (!settle.empty()) args.insert(args.end(), {"--settle", settle});
    if (!per.empty()) args.insert(args.end(), {"--per-diffusion", per});
    single.push_back(args);
  };
  row(0, true, "", false, "", "", "");
  row(1, false, "30", false, "", "", "7");
  row(2, true, "", true, "", "", "");
  row(0, false, "", true, "", "1.5", "");
  row(1, true, "", false, "membrane", "", "");
  row(2, false, "60", false, "transport", "", "0");
  row(0, true, "10", false, "", "", "");
  const std::string manifest = Manifest(text);

  // The single runs, each with its result file.
  std::vector<Json> want;
  std::vector<std::vector<std::uint8_t>> wantBytes;
  for (std::size_t i = 0; i < single.size(); ++i) {
    const std::string out = dir.File("single-" + std::to_string(i) + ".bmp");
    auto args = single[i];
    args.insert(args.end(), {"--json", "--output", out});
    const CliRun r = Cli(args);
    ASSERT_EQ(r.status, 0) << r.err;
    want.push_back(Json::parse(r.out));
    wantBytes.push_back(bmptest::ReadBytes(out));
  }

  for (const char* jobs : {"1", "3"}) {
    const std::string outDir = dir.File(std::string("out-") + jobs);
    const CliRun r = Cli({"--batch", manifest, "--jobs", jobs, "--out-dir", outDir});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::map<int, Json> rows = RowsByNumber(r.out);
    ASSERT_EQ(rows.size(), single.size()) << r.out;
    for (std::size_t i = 0; i < single.size(); ++i) {
      const int number = int(i) + 1;
      const Json& got = rows.at(number);
      const std::string damaged = single[i][1];
      EXPECT_EQ(got["damaged"], damaged);
      const std::string stem = damaged.substr(damaged.rfind('/') + 1);
      const std::string output =
          outDir + "/" + std::to_string(number) + "-" + stem.substr(0, stem.size() - 4) + ".bmp";
      EXPECT_EQ(got["output"], output);
      EXPECT_FALSE(got.contains("error"));
      for (auto it = want[i].begin(); it != want[i].end(); ++it) {
        if (it.key() == "seconds") continue;
        EXPECT_EQ(got[it.key()], it.value())
            << "jobs " << jobs << ", row " << number << ", " << it.key();
      }
      EXPECT_EQ(got.size(), want[i].size() + 3);  // row, damaged, output
      EXPECT_EQ(bmptest::ReadBytes(output), wantBytes[i]) << "jobs " << jobs << ", row " << number;
    }
  }
}

// PNG results hold the pixels the BMP results hold.
TEST_F(BatchRun, PngResultsHoldTheSamePixels) {
  std::string text = "damaged,mask,original\n";
  for (const PictureFiles& p : pictures)
    text += Name(p.damaged) + "," + Name(p.mask) + "," + Name(p.original) + "\n";
  const std::string manifest = Manifest(text);
  const CliRun bmp = Cli({"--batch", manifest, "--jobs", "2", "--out-dir", dir.File("bmp")});
  const CliRun png =
      Cli({"--batch", manifest, "--jobs", "2", "--out-dir", dir.File("png"), "--format", "png"});
  ASSERT_EQ(bmp.status, 0) << bmp.err;
  ASSERT_EQ(png.status, 0) << png.err;
  const std::map<int, Json> bmpRows = RowsByNumber(bmp.out), pngRows = RowsByNumber(png.out);
  ASSERT_EQ(pngRows.size(), pictures.size());
  for (const auto& row : pngRows) {
    const std::string output = row.second["output"];
    ASSERT_EQ(output.substr(output.size() - 4), ".png");
    const ImageReadResult a = ReadImageFile(bmpRows.at(row.first)["output"]);
    const ImageReadResult b = ReadImageFile(output);
    ASSERT_TRUE(a.ok() && b.ok()) << a.reason << " / " << b.reason;
    EXPECT_EQ(bmptest::CompareImages(a.image, b.image), "") << output;
    EXPECT_EQ(row.second["psnr_result"], bmpRows.at(row.first)["psnr_result"]);
  }
}

TEST_F(BatchRun, AFailedRowDoesNotStopTheOthers) {
  const PictureFiles& p = pictures[0];
  const std::string outDir = dir.File("out");
  const std::string text = "damaged,mask\n" + Name(p.damaged) + "," + Name(p.mask) + "\n" +
                           "missing.bmp," + Name(p.mask) + "\n" + Name(p.damaged) + "," +
                           Name(p.mask) + "\n" + Name(p.damaged) + "," + Name(pictures[1].mask) +
                           "\n";
  const std::string manifest = Manifest(text);
  // Row 3's result is already there.
  ASSERT_EQ(::mkdir(outDir.c_str(), 0755), 0);
  const std::string taken = outDir + "/3-p0-damaged.bmp";
  bmptest::WriteBytes(taken, {'m', 'i', 'n', 'e'});

  const CliRun r = Cli({"--batch", manifest, "--jobs", "2", "--out-dir", outDir});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("3 of 4 rows failed"), std::string::npos) << r.err;
  const std::map<int, Json> rows = RowsByNumber(r.out);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_FALSE(rows.at(1).contains("error"));
  EXPECT_EQ(rows.at(1)["output"], outDir + "/1-p0-damaged.bmp");
  EXPECT_TRUE(rows.at(1)["psnr_result"].is_number());
  const auto error = [&](int row) { return rows.at(row)["error"].get<std::string>(); };
  EXPECT_NE(error(2).find("File Gagal diBuka: " + dir.File("missing.bmp")), std::string::npos)
      << error(2);
  EXPECT_EQ(error(3), taken + ": already exists; a batch never replaces a file");
  EXPECT_NE(error(4).find("mask is 40 x 28 but the damaged image is 36 x 28"), std::string::npos)
      << error(4);
  for (int row : {2, 3, 4}) {
    EXPECT_TRUE(rows.at(row)["output"].is_null());
    EXPECT_FALSE(rows.at(row).contains("psnr_result"));
  }
  EXPECT_EQ(ReadText(taken), "mine");
  EXPECT_FALSE(bmptest::FileExists(outDir + "/2-missing.bmp"));
  EXPECT_FALSE(bmptest::FileExists(outDir + "/4-p0-damaged.bmp"));
}

TEST_F(BatchRun, ARunAgainAfterAKillRedoesTheRowsWhoseOutputIsMissing) {
  // What a kill during row 2's save leaves: row 1's result, and row 2's temporary
  // file cut short, which is not its output.
  const PictureFiles& p = pictures[0];
  const std::string outDir = dir.File("out");
  const std::string row = Name(p.damaged) + "," + Name(p.mask) + "\n";
  const std::string manifest = Manifest("damaged,mask\n" + row + row);
  ASSERT_EQ(::mkdir(outDir.c_str(), 0755), 0);
  const std::string first = outDir + "/1-p0-damaged.bmp";
  const std::string stray = outDir + "/.2-p0-damaged.bmp.ruvanta-partial-Q7m2Xa";
  bmptest::WriteBytes(first, {'d', 'o', 'n', 'e'});
  bmptest::WriteBytes(stray, {'B', 'M', 0x36});

  const CliRun r = Cli({"--batch", manifest, "--out-dir", outDir});
  const std::map<int, Json> rows = RowsByNumber(r.out);
  ASSERT_EQ(rows.size(), 2u) << r.err;
  EXPECT_EQ(rows.at(1)["error"], first + ": already exists; a batch never replaces a file");
  EXPECT_FALSE(rows.at(2).contains("error")) << rows.at(2).dump();
  EXPECT_EQ(rows.at(2)["output"], outDir + "/2-p0-damaged.bmp");
  const ImageReadResult redone = ReadImageFile(outDir + "/2-p0-damaged.bmp");
  ASSERT_TRUE(redone.ok()) << redone.reason;
  EXPECT_EQ(redone.image.height, 28);
  EXPECT_EQ(ReadText(first), "done");
  EXPECT_EQ(imagetest::Listing(outDir),
            (std::vector<std::string>{".2-p0-damaged.bmp.ruvanta-partial-Q7m2Xa",
                                      "1-p0-damaged.bmp", "2-p0-damaged.bmp"}));
}

TEST_F(BatchRun, AFaultInTheManifestRunsNothing) {
  const PictureFiles& p = pictures[0];
  const std::string outDir = dir.File("out");
  std::string manifest =
      Manifest("damaged,mask,iterations\n" + Name(p.damaged) + "," + Name(p.mask) + ",10\n" +
               Name(p.damaged) + "," + Name(p.mask) + ",ten\n");
  CliRun r = Cli({"--batch", manifest, "--out-dir", outDir});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "ruvanta-cli: " + manifest +
                       ": row 2 (line 3), column iterations: must be a whole number from 0 to "
                       "2147483647, not 'ten'\n");
  EXPECT_TRUE(r.out.empty());
  EXPECT_FALSE(bmptest::FileExists(outDir));

  // --metrics asks every row for an original.
  manifest = Manifest("damaged,mask,original\n" + Name(p.damaged) + "," + Name(p.mask) + ",\n");
  r = Cli({"--batch", manifest, "--out-dir", outDir, "--metrics"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("row 1 (line 2): --metrics needs an original"), std::string::npos);
  EXPECT_FALSE(bmptest::FileExists(outDir));
}

TEST_F(BatchRun, AManifestOrFolderThatCannotBeHadIsAFileError) {
  CliRun r = Cli({"--batch", dir.File("none.csv"), "--out-dir", dir.File("out")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(dir.File("none.csv") + ": No such file or directory"), std::string::npos)
      << r.err;
  const PictureFiles& p = pictures[0];
  const std::string manifest =
      Manifest("damaged,mask\n" + Name(p.damaged) + "," + Name(p.mask) + "\n");
  r = Cli({"--batch", manifest, "--out-dir", p.damaged});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot make the output folder " + p.damaged), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());
  // A missing folder is made, with its parents.
  r = Cli({"--batch", manifest, "--out-dir", dir.File("a/b/c")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(bmptest::FileExists(dir.File("a/b/c/1-p0-damaged.bmp")));
}

TEST_F(BatchRun, CommandLineOptionsApplyToEveryRow) {
  const PictureFiles& p = pictures[1];
  const std::string manifest =
      Manifest("damaged,mask,original,iterations\n" + Name(p.damaged) + "," + Name(p.mask) + "," +
               Name(p.original) + ",\n" + Name(p.damaged) + "," + Name(p.mask) + "," +
               Name(p.original) + ",20\n");
  const CliRun r = Cli({"--batch", manifest, "--out-dir", dir.File("out"), "--iterations", "45",
                        "--metrics", "--jobs", "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::map<int, Json> rows = RowsByNumber(r.out);
  EXPECT_EQ(rows.at(1)["iterations"], 45);
  EXPECT_EQ(rows.at(2)["iterations"], 20);
  EXPECT_TRUE(rows.at(1)["ssim_result"].is_number());
}

// The batch in this process: Ctrl-C arrives (a real SIGINT, through the handler)
// the moment row 2 reports its first cycle, so row 2 is under way for certain.
TEST_F(BatchRun, CtrlCStartsNoNewRowAndStopsTheRunningOne) {
  // A quick row, then rows that run until stopped (no original, settle level 0).
  const PictureFiles& p = pictures[0];
  const std::string sample = std::string(RUVANTA_SOURCE_DIR) + "/data/";
  BatchOptions options;
  options.manifest =
      Manifest("damaged,mask,auto,settle\n" + Name(p.damaged) + "," + Name(p.mask) + ",,\n" +
               sample + "damaged.bmp," + sample + "mask.bmp,1,0\n" + sample + "damaged.bmp," +
               sample + "mask.bmp,1,0\n");
  options.outDir = dir.File("out");
  options.jobs = 1;
  std::vector<int> reported;  // the rows that reported, once each
  int signalledAt = 0;        // row 2's iterations when the signal went
  options.onProgress = [&](int row, const RunProgress& progress) {
    if (reported.empty() || reported.back() != row) reported.push_back(row);
    if (row == 2 && signalledAt == 0) {
      signalledAt = progress.iterationsDone;
      ASSERT_EQ(::raise(SIGINT), 0);
    }
  };
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const int status = RunBatch(options, out, err);
  const std::string printed = ReadStream(out), errors = ReadStream(err);
  EXPECT_EQ(status, 130) << errors;
  EXPECT_EQ(reported, (std::vector<int>{1, 2}));
  EXPECT_GT(signalledAt, 0);
  const std::map<int, Json> rows = RowsByNumber(printed);
  ASSERT_EQ(rows.size(), 2u) << printed;
  EXPECT_EQ(rows.at(1)["stopped"], false);
  EXPECT_EQ(rows.at(2)["stopped"], true);
  // It stops at the end of a cycle, the one running when the signal came or the next.
  const unsigned ran = rows.at(2)["iterations"].get<unsigned>();
  EXPECT_EQ(ran % 15, 0u);
  EXPECT_GE(ran, unsigned(signalledAt));
  EXPECT_EQ(ReadPicture(options.outDir + "/2-damaged.bmp").width, 320);
  EXPECT_FALSE(bmptest::FileExists(options.outDir + "/3-damaged.bmp"));
  EXPECT_NE(errors.find("interrupted: 2 of 3 rows run (1 stopped early), 1 not started"),
            std::string::npos)
      << errors;
}

}  // namespace

namespace {

TEST(BatchMemory, SizesTakeAUnitInEitherCase) {
  EXPECT_EQ(MemorySize("6G"), std::uint64_t(6) << 30);
  EXPECT_EQ(MemorySize("500m"), std::uint64_t(500) << 20);
  EXPECT_EQ(MemorySize("1.5GB"), std::uint64_t(3) << 29);
  EXPECT_EQ(MemorySize("4096"), 4096u);
  for (const char* bad : {"", "G", "0", "-1G", "6X", "1.5", "6 G", "99999999999T"})
    EXPECT_EQ(MemorySize(bad), 0u) << bad;
}

// A row that does not fit waits, holding nothing, until another releases enough,
// and then runs beside the rest; one that could never fit, or is stopped while it
// waits, is refused. Each wait is seen through the stop question, which the budget
// asks only while a row waits.
TEST(BatchMemory, RowsWaitForRoomAndNeverPassTheBudget) {
  MemoryBudget budget(std::uint64_t(100));
  const auto never = [] { return false; };
  std::uint64_t held = 0;
  EXPECT_NE(budget.Reserve(&held, 101, never).find("budget (--memory) is 100 bytes"),
            std::string::npos);
  EXPECT_EQ(held, 0u);

  std::uint64_t large = 0, small = 0;
  ASSERT_EQ(budget.Reserve(&large, 5, never), "");  // the mask first, then the whole row
  ASSERT_EQ(budget.Reserve(&large, 75, never), "");
  ASSERT_EQ(budget.Reserve(&small, 25, never), "");
  EXPECT_EQ(budget.InUse(), 100u);
  std::mutex mutex;
  std::condition_variable changed;
  bool waiting = false, reserved = false, released = false;
  std::uint64_t next = 0;
  std::thread third([&] {
    const std::string why = budget.Reserve(&next, 75, [&] {
      std::lock_guard<std::mutex> lock(mutex);
      waiting = true;
      changed.notify_all();
      return false;
    });
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(why, "");
    EXPECT_TRUE(released) << "a row was let in beyond the budget";
    reserved = true;
    changed.notify_all();
  });
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return waiting || reserved; });
    EXPECT_TRUE(waiting && !reserved);
    released = true;
  }
  budget.Release(&large);
  third.join();
  EXPECT_EQ(large, 0u);
  EXPECT_EQ(next, 75u);
  EXPECT_EQ(budget.InUse(), 100u);
  EXPECT_EQ(budget.Peak(), 100u);

  // A row growing its share is stopped while it waits: refused, and holding
  // nothing, not even what it had; the other's share is untouched.
  EXPECT_EQ(budget.Reserve(&small, 80, [] { return true; }), "stopped while waiting for memory");
  EXPECT_EQ(small, 0u);
  EXPECT_EQ(budget.InUse(), 75u);
  budget.Release(&next);
  EXPECT_EQ(budget.InUse(), 0u);

  // Rows of mixed sizes on four threads at once never hold more than the budget.
  std::atomic<int> done{0};
  std::vector<std::thread> rows;
  for (int t = 0; t < 4; ++t)
    rows.emplace_back([&, t] {
      for (int i = 0; i < 20; ++i) {
        std::uint64_t mine = 0;
        ASSERT_EQ(budget.Reserve(&mine, 5, never), "");
        ASSERT_EQ(budget.Reserve(&mine, (t % 2 == 0) ? 70 : 20, never), "");
        EXPECT_LE(budget.InUse(), 100u);
        std::this_thread::yield();
        budget.Release(&mine);
        ++done;
      }
    });
  for (auto& r : rows) r.join();
  EXPECT_EQ(done, 80);
  EXPECT_EQ(budget.InUse(), 0u);
  EXPECT_LE(budget.Peak(), 100u);
}

TEST(BatchMemory, ARowBeyondTheBudgetFailsAloneWithTheFigures) {
  bmptest::TempDir dir;
  const PictureFiles small = WritePictures(dir.Path(), "small", 40, 30, 1);
  const PictureFiles large = WritePictures(dir.Path(), "large", 400, 300, 2);
  const std::string manifest = dir.File("m.csv");
  std::ofstream(manifest) << "damaged,mask\n"
                          << small.damaged << "," << small.mask << "\n"
                          << large.damaged << "," << large.mask << "\n"
                          << small.damaged << "," << small.mask << "\n";
  const CliRun r = Cli({"--batch", manifest, "--jobs", "2", "--memory", "4M", "--out-dir",
                        dir.File("out")});
  EXPECT_EQ(r.status, 1);
  const std::map<int, Json> rows = RowsByNumber(r.out);
  ASSERT_EQ(rows.size(), 3u) << r.out;
  EXPECT_FALSE(rows.at(1).contains("error"));
  EXPECT_FALSE(rows.at(3).contains("error"));
  const std::string error = rows.at(2)["error"];
  EXPECT_EQ(error.rfind("not enough memory to restore a 400 x 300 picture (needs about ", 0), 0u)
      << error;
  EXPECT_NE(error.find("the batch's memory budget (--memory) is 4.0 MB"), std::string::npos)
      << error;
  EXPECT_TRUE(rows.at(2)["output"].is_null());
}

TEST(BatchMemory, ATimeStepOutsideTheStableRangeIsRefusedUnlessForced) {
  bmptest::TempDir dir;
  const PictureFiles p = WritePictures(dir.Path(), "p", 40, 30, 1);
  const std::string manifest = dir.File("m.csv");
  std::ofstream(manifest) << "damaged,mask,delta-t\n" << p.damaged << "," << p.mask << ",-1\n";
  const CliRun refused = Cli({"--batch", manifest, "--out-dir", dir.File("a")});
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("row 1 (line 2): delta-t -1 moves every value away from the fill"),
            std::string::npos)
      << refused.err;
  EXPECT_FALSE(std::filesystem::exists(dir.File("a/1-p-damaged.bmp")));
  const CliRun forced = Cli({"--batch", manifest, "--force", "--out-dir", dir.File("b")});
  EXPECT_EQ(forced.status, 0) << forced.err;
}

}  // namespace
