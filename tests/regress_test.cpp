// Replays the regression corpus tests/data/regress: every crafted file (and every
// input a fuzz target once failed on) with the outcome EXPECTED.txt gives it.
// The reader must give exactly that outcome, from memory and from the file; the
// three loads must refuse every file the reader refuses, and every image larger
// than 800 x 800, without changing anything; and they must load the rest.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/image_reader.h"
#include "session/headless_session.h"
#include "tests/support/colour.h"
#include "tests/support/load_state.h"

namespace {

using namespace loadstate;

const std::string kCorpus = std::string(RUVANTA_SOURCE_DIR) + "/tests/data/regress";

struct Case {
  std::string name;
  bool decodes = false;
  int width = 0, height = 0;
  bool pattern = false;  // pixels are the corpus test pattern
};

std::vector<Case> ReadManifest() {
  std::vector<Case> cases;
  std::ifstream in(kCorpus + "/EXPECTED.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    Case c;
    std::string outcome, size, extra;
    words >> c.name >> outcome >> size >> extra;
    c.decodes = outcome == "decodes";
    if (c.decodes) {
      const auto x = size.find('x');
      c.width = std::stoi(size.substr(0, x));
      c.height = std::stoi(size.substr(x + 1));
      c.pattern = extra == "pattern";
    } else if (outcome != "refused") {
      c.name = "bad manifest line: " + line;
    }
    cases.push_back(c);
  }
  return cases;
}

// The colour of pixel (x, y) of a pattern file (make_regress.py writes the same).
std::array<int, 3> Pattern(int x, int y) {
  return {(x * 29 + y * 7) & 255, (x * 3 + y * 53 + 17) & 255, ((x ^ y) * 5 + 101) & 255};
}


void ExpectPattern(const RgbImage& image) {
  int wrong = 0;
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const std::array<int, 3> want = Pattern(x, y);
      const COLORREF got = image.Pixel(x, y);
      if (GetRValue(got) != want[0] || GetGValue(got) != want[1] || GetBValue(got) != want[2])
        if (++wrong <= 3) ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << std::hex << got;
    }
  EXPECT_EQ(wrong, 0);
}

class RegressTest : public ::testing::TestWithParam<Case> {
 protected:
  std::string Path() const { return kCorpus + "/" + GetParam().name; }
};

TEST_P(RegressTest, ReaderGivesTheListedOutcome) {
  const Case& c = GetParam();
  ASSERT_EQ(c.name.find("bad manifest"), std::string::npos) << c.name;
  const std::vector<std::uint8_t> bytes = ReadBytes(Path());
  const ImageReadResult fromMemory = DecodeImage(bytes.data(), bytes.size());
  const ImageReadResult fromFile = ReadImageFile(Path());
  for (const ImageReadResult* r : {&fromMemory, &fromFile}) {
    SCOPED_TRACE(r == &fromMemory ? "DecodeBmp" : "ReadBmpFile");
    ASSERT_EQ(r->ok(), c.decodes) << r->reason;
    if (!c.decodes) {
      EXPECT_FALSE(r->reason.empty());
      EXPECT_TRUE(r->image.rgb.empty());
      continue;
    }
    EXPECT_TRUE(r->reason.empty());
    EXPECT_EQ(r->image.width, c.width);
    EXPECT_EQ(r->image.height, c.height);
    ASSERT_EQ(r->image.rgb.size(), std::size_t(c.width) * std::size_t(c.height) * 3);
    if (c.pattern) ExpectPattern(r->image);
  }
  if (c.decodes) {
    EXPECT_TRUE(fromMemory.image.rgb == fromFile.image.rgb);
  }
}

TEST_P(RegressTest, LoadsRefuseWithoutChangeOrLoadWhole) {
  const Case& c = GetParam();
  TempDir dir;
  CHeadlessSession dlg;
  Prepare(dlg, dir);
  if (HasFatalFailure()) return;
  const State before = Capture(dlg);
  const bool fits =
      c.decodes && CheckImageLimits(c.width, c.height, EngineImageLimits()).empty();
  if (!fits) {
    const FileResult damaged = dlg.files.LoadDamaged(Path());
    const FileResult mask = dlg.files.LoadMask(Path());
    const FileResult original = dlg.files.LoadOriginal(Path());
    for (const FileResult* r : {&damaged, &mask, &original}) {
      EXPECT_FALSE(r->ok);
      EXPECT_FALSE(r->reason.empty());
      if (c.decodes) {  // too large: the reason names the size and the limit
        EXPECT_NE(r->reason.find(std::to_string(std::max(c.width, c.height))), std::string::npos)
            << r->reason;
        EXPECT_NE(r->reason.find("the limit is"), std::string::npos) << r->reason;
      } else {
        EXPECT_EQ(r->message, "File Gagal diBuka");
        EXPECT_EQ(r->caption, "Error");
      }
    }
    ExpectSameState(before, Capture(dlg), "after the three refused loads");
    return;
  }
  // A file that fits: the damaged load takes it whole and leaves the mask plane
  // and the mask list alone; the original stays only when its size still fits.
  const ImageReadResult decoded = ReadImageFile(Path());
  ASSERT_TRUE(decoded.ok());
  ASSERT_TRUE(dlg.files.LoadDamaged(Path()).ok);
  EXPECT_EQ(dlg.engine.Width(), c.width);
  EXPECT_EQ(dlg.engine.Height(), c.height);
  EXPECT_EQ(dlg.files.m_surfResult.nWidth, c.width);
  EXPECT_EQ(dlg.files.m_surfResult.nHeight, c.height);
  EXPECT_EQ(dlg.engine.GridWeight().Width(), c.width);
  EXPECT_EQ(dlg.engine.GridWeight().Height(), c.height);
  State after = Capture(dlg);
  if (c.width == 6 && c.height == 4) {
    EXPECT_TRUE(after.original == before.original);
  } else {
    EXPECT_TRUE(dlg.files.OriginalStale());
    EXPECT_FALSE(dlg.engine.HasMask());
  }
  EXPECT_TRUE(after.mask == before.mask);
  EXPECT_EQ(after.list, before.list);
  EXPECT_EQ(after.count, before.count);
  int wrong = 0;
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x) {
      const COLORREF px = decoded.image.Pixel(x, y);
      const double want[3] = {double(GetRValue(px)), double(GetGValue(px)), double(GetBValue(px))};
      for (int ch = 0; ch < 3; ++ch)
        if (dlg.engine.g_damaged[x][y][ch] != want[ch] || dlg.engine.g_work[x][y][ch] != want[ch])
          ++wrong;
    }
  EXPECT_EQ(wrong, 0) << "plane cells that differ from the decoded pixels";
  // The same file as its own mask and as the original.
  ASSERT_TRUE(dlg.files.LoadMask(Path()).ok);
  int masked = 0;
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x) masked += decoded.image.Pixel(x, y) != 0;
  EXPECT_EQ(dlg.engine.m_nMaskCount, masked);
  ASSERT_TRUE(dlg.files.LoadOriginal(Path()).ok);
  EXPECT_EQ(dlg.files.m_surfOriginal.nWidth, c.width);
  EXPECT_EQ(dlg.files.m_surfOriginal.nHeight, c.height);
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  std::string name = info.param.name;
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, RegressTest, ::testing::ValuesIn(ReadManifest()), CaseName);

TEST(RegressCorpus, ManifestListsEveryFileExactlyOnce) {
  const std::vector<Case> cases = ReadManifest();
  std::set<std::string> listed;
  int refused = 0, decodes = 0;
  for (const Case& c : cases) {
    EXPECT_TRUE(listed.insert(c.name).second) << "listed twice: " << c.name;
    (c.decodes ? decodes : refused)++;
  }
  std::set<std::string> present;
  for (const auto& entry : std::filesystem::directory_iterator(kCorpus)) {
    const std::string name = entry.path().filename().string();
    if (name == "EXPECTED.txt" || name == "FINDINGS.txt" || name == "make_regress.py") continue;
    present.insert(name);
  }
  EXPECT_EQ(listed, present);
  EXPECT_GE(refused, 40);
  EXPECT_GE(decodes, 20);
}

}  // namespace
