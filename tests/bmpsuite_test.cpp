// The public-domain BMP test images in tests/data/bmpsuite, each with the outcome
// its line in EXPECTED.txt gives: "NAME decodes REF WxH" (the decoded pixels are
// the raw red-green-blue bytes of REF, top row first) or "NAME refused".
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/bmp_reader.h"
#include "tests/support/bmp_builder.h"

namespace {

const std::string kSuite = std::string(RUVANTA_SOURCE_DIR) + "/tests/data/bmpsuite";

struct Line {
  std::string text;  // the whole line, for messages
  std::string name;
  std::string outcome;
  std::string reference;
  int width = 0, height = 0;
};

void PrintTo(const Line& line, std::ostream* out) { *out << line.text; }

std::vector<Line> ReadExpected() {
  std::vector<Line> lines;
  std::ifstream in(kSuite + "/EXPECTED.txt");
  std::string text;
  while (std::getline(in, text)) {
    if (text.empty() || text[0] == '#') continue;
    Line line;
    line.text = text;
    std::istringstream words(text);
    words >> line.name >> line.outcome;
    if (line.outcome == "decodes") {
      std::string size;
      words >> line.reference >> size;
      const std::size_t x = size.find('x');
      if (x != std::string::npos) {
        line.width = std::atoi(size.substr(0, x).c_str());
        line.height = std::atoi(size.substr(x + 1).c_str());
      }
    }
    lines.push_back(line);
  }
  return lines;
}

class BmpSuite : public ::testing::TestWithParam<Line> {};

TEST_P(BmpSuite, GivesTheExpectedOutcome) {
  const Line& line = GetParam();
  const std::string path = kSuite + "/" + line.name;
  const std::vector<std::uint8_t> bytes = bmptest::ReadBytes(path);
  ASSERT_FALSE(bytes.empty()) << "cannot read " << path;
  const ImageReadResult fromMemory = DecodeBmp(bytes.data(), bytes.size());
  const ImageReadResult fromFile = ReadBmpFile(path);
  EXPECT_EQ(fromMemory.ok(), fromFile.ok());
  EXPECT_EQ(fromMemory.reason, fromFile.reason);

  if (line.outcome == "refused") {
    for (const ImageReadResult* r : {&fromMemory, &fromFile}) {
      EXPECT_FALSE(r->ok()) << "decoded as " << r->image.width << " x " << r->image.height;
      EXPECT_FALSE(r->reason.empty());
      EXPECT_TRUE(r->image.rgb.empty());
      EXPECT_EQ(r->image.width, 0);
      EXPECT_EQ(r->image.height, 0);
    }
    return;
  }
  ASSERT_EQ(line.outcome, "decodes") << "unknown outcome in: " << line.text;
  ASSERT_GT(line.width, 0) << line.text;
  ASSERT_GT(line.height, 0) << line.text;
  RgbImage want;
  want.width = line.width;
  want.height = line.height;
  want.rgb = bmptest::ReadBytes(kSuite + "/" + line.reference);
  ASSERT_EQ(want.rgb.size(), std::size_t(line.width) * std::size_t(line.height) * 3)
      << line.reference << " does not hold " << line.width << " x " << line.height << " pixels";
  for (const ImageReadResult* r : {&fromMemory, &fromFile}) {
    SCOPED_TRACE(r == &fromMemory ? "from memory" : "from the file");
    ASSERT_TRUE(r->ok()) << r->reason;
    EXPECT_TRUE(r->reason.empty());
    EXPECT_EQ(bmptest::CompareImages(want, r->image), "");
  }
}

std::string CaseName(const ::testing::TestParamInfo<Line>& info) {
  std::string name = info.param.name;
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bmp") == 0) name.resize(name.size() - 4);
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Images, BmpSuite, ::testing::ValuesIn(ReadExpected()), CaseName);

TEST(BmpSuiteList, EveryImageHasExactlyOneLine) {
  const std::vector<Line> lines = ReadExpected();
  ASSERT_FALSE(lines.empty()) << "no lines in " << kSuite << "/EXPECTED.txt";
  std::set<std::string> listed;
  for (const Line& line : lines) {
    EXPECT_TRUE(listed.insert(line.name).second) << "listed twice: " << line.name;
    EXPECT_TRUE(line.outcome == "decodes" || line.outcome == "refused") << line.text;
  }
  std::set<std::string> present;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(kSuite))
    if (entry.is_regular_file() && entry.path().extension() == ".bmp")
      present.insert(std::filesystem::relative(entry.path(), kSuite).generic_string());
  EXPECT_EQ(listed, present);
}

}  // namespace
