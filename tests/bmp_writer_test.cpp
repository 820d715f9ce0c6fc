// The BMP writer: the bytes of the file for pictures of each size class, the
// round trip through the reader, and the file handling of SaveBmp (never
// overwriting, every write checked, a partial file removed).
#include "imaging/bmp_writer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/bmp_reader.h"
#include "tests/support/bmp_builder.h"

namespace {

using bmptest::Read16;
using bmptest::Read32;
using bmptest::TempDir;
using imagetest::FailingSink;

struct Layout {
  int w, h;
  std::size_t stride, sizeImage, filler, fileSize;
};

class BmpWriterLayout : public ::testing::TestWithParam<Layout> {};

TEST_P(BmpWriterLayout, HeadersRowsAndFiller) {
  const Layout& l = GetParam();
  const RgbImage s = bmptest::RandomImage(l.w, l.h, unsigned(l.w * 31 + l.h));
  const std::vector<std::uint8_t> f = EncodeBmp(s);
  ASSERT_EQ(f.size(), l.fileSize);
  // The size relations every file keeps.
  EXPECT_EQ(l.fileSize, 54 + 3 * std::size_t(l.h) * (std::size_t(l.w) + 1));
  EXPECT_EQ(l.sizeImage, std::size_t(l.h) * l.stride + l.filler);

  EXPECT_EQ(f[0], 'B');
  EXPECT_EQ(f[1], 'M');
  EXPECT_EQ(Read32(f, 2), l.fileSize);
  EXPECT_EQ(Read16(f, 6), 0u);
  EXPECT_EQ(Read16(f, 8), 0u);
  EXPECT_EQ(Read32(f, 10), 54u);
  EXPECT_EQ(Read32(f, 14), 40u);
  EXPECT_EQ(std::int32_t(Read32(f, 18)), l.w);
  EXPECT_EQ(std::int32_t(Read32(f, 22)), l.h);
  EXPECT_EQ(Read16(f, 26), 1u);
  EXPECT_EQ(Read16(f, 28), 24u);
  EXPECT_EQ(Read32(f, 30), 0u);
  EXPECT_EQ(Read32(f, 34), l.sizeImage);
  for (std::size_t at : {38u, 42u, 46u, 50u}) EXPECT_EQ(Read32(f, at), 0u) << "offset " << at;

  // Rows bottom-up, blue-green-red, zero padding; then zero filler.
  int wrong = 0;
  for (int stored = 0; stored < l.h; ++stored) {
    const int y = l.h - 1 - stored;
    const std::size_t row = 54 + std::size_t(stored) * l.stride;
    for (int x = 0; x < l.w; ++x) {
      const COLORREF c = s.Pixel(x, y);
      const std::uint8_t* p = &f[row + std::size_t(x) * 3];
      if (p[0] != GetBValue(c) || p[1] != GetGValue(c) || p[2] != GetRValue(c)) ++wrong;
    }
    for (std::size_t b = std::size_t(l.w) * 3; b < l.stride; ++b) wrong += f[row + b] != 0;
  }
  for (std::size_t at = 54 + std::size_t(l.h) * l.stride; at < f.size(); ++at) wrong += f[at] != 0;
  EXPECT_EQ(wrong, 0) << "bytes that differ from the picture's rows or from zero";
}

INSTANTIATE_TEST_SUITE_P(Sizes, BmpWriterLayout,
                         ::testing::Values(Layout{1, 1, 4, 6, 2, 60}, Layout{2, 1, 8, 9, 1, 63},
                                           Layout{3, 2, 12, 24, 0, 78}, Layout{4, 2, 12, 30, 6, 84},
                                           Layout{5, 3, 16, 54, 6, 108},
                                           Layout{7, 1, 24, 24, 0, 78},
                                           Layout{800, 800, 2400, 1922400, 2400, 1922454}),
                         [](const ::testing::TestParamInfo<Layout>& info) {
                           return std::to_string(info.param.w) + "x" + std::to_string(info.param.h);
                         });

TEST(BmpWriter, FourByTwoStoresTheBottomRowFirst) {
  // Top row red, green, blue, white; bottom row black, grey, yellow, cyan.
  RgbImage s;
  s.width = 4;
  s.height = 2;
  s.rgb = {255, 0, 0, 0,   255, 0,   0,   0,   255, 255, 255, 255,
           0,   0, 0, 128, 128, 128, 255, 255, 0,   0,   255, 255};
  const std::vector<std::uint8_t> f = EncodeBmp(s);
  const std::vector<std::uint8_t> pixels(f.begin() + 54, f.end());
  EXPECT_EQ(pixels, (std::vector<std::uint8_t>{
                        0, 0, 0,   128, 128, 128, 0,   255, 255, 255, 255, 0,    // bottom row
                        0, 0, 255, 0,   255, 0,   255, 0,   0,   255, 255, 255,  // top row
                        0, 0, 0,   0,   0,   0}));                               // filler
}

TEST(BmpWriter, PicturesThatCannotBeEncoded) {
  std::vector<std::uint8_t> file;
  std::string reason;
  const auto refused = [&](const RgbImage& picture, const std::string& named) {
    file.assign(3, 7);
    EXPECT_FALSE(EncodeBmp(picture, &file, &reason));
    EXPECT_NE(reason.find(named), std::string::npos) << reason;
    EXPECT_TRUE(EncodeBmp(picture).empty());
  };
  // Never written unreadable: an empty picture is refused.
  refused(RgbImage(), "0 x 0");
  {
    RgbImage p;  // claims a size but holds no pixels
    p.width = 3;
    p.height = 2;
    refused(p, "3 x 2");
    p.rgb.assign(18, 1);  // fewer rows than it claims
    p.height = 5;
    refused(p, "18 of its 45 pixel bytes");
  }
  {
    RgbImage p;  // too large for the 32-bit size fields: refused before allocating
    p.width = 40000;
    p.height = 40000;
    refused(p, "4800120054");
  }
  {
    RgbImage p;
    p.width = -1;
    p.height = 4;
    refused(p, "-1 x 4");
  }
}

TEST(BmpWriter, RoundTripKeepsSizeAndPixels) {
  for (int w = 1; w <= 9; ++w)
    for (int h = 1; h <= 4; ++h) {
      SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
      const RgbImage image = bmptest::RandomImage(w, h, unsigned(w * 100 + h));
      const std::vector<std::uint8_t> f = EncodeBmp(image);
      const ImageReadResult r = DecodeBmp(f.data(), f.size());
      ASSERT_TRUE(r.ok()) << r.reason;
      EXPECT_EQ(bmptest::CompareImages(image, r.image), "");
    }
}

// ---------------------------------------------------------------- SaveBmp on disk

TEST(SaveBmp, WritesTheEncodedBytesToANewFile) {
  TempDir dir;
  const std::string path = dir.File("result.bmp");
  const RgbImage image = bmptest::RandomImage(7, 5, 3);
  const SaveResult saved = SaveBmp(path, image);
  ASSERT_TRUE(saved.ok) << saved.reason;
  EXPECT_TRUE(saved.reason.empty());
  EXPECT_EQ(bmptest::ReadBytes(path), EncodeBmp(image));
  const ImageReadResult back = ReadBmpFile(path);
  ASSERT_TRUE(back.ok()) << back.reason;
  EXPECT_EQ(bmptest::CompareImages(image, back.image), "");
}

TEST(SaveBmp, EmptyPictureCreatesNoFile) {
  TempDir dir;
  const std::string path = dir.File("empty.bmp");
  EXPECT_FALSE(SaveBmp(path, RgbImage()).ok);
  struct stat st;
  EXPECT_NE(::stat(path.c_str(), &st), 0);
}

TEST(SaveBmp, RefusesAnExistingFileAndLeavesItUnchanged) {
  TempDir dir;
  const std::string path = dir.File("keep.bmp");
  const std::vector<std::uint8_t> before = {'k', 'e', 'e', 'p', ' ', 'm', 'e'};
  bmptest::WriteBytes(path, before);
  const SaveResult r = SaveBmp(path, bmptest::PatternImage(4, 2));
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.reason.find(path), std::string::npos) << r.reason;
  EXPECT_NE(r.reason.find("already exists"), std::string::npos) << r.reason;
  EXPECT_EQ(bmptest::ReadBytes(path), before);
  // Saving twice under one name: the second save is refused, the first file stays.
  const std::string twice = dir.File("twice.bmp");
  const RgbImage first = bmptest::PatternImage(3, 3);
  ASSERT_TRUE(SaveBmp(twice, first).ok);
  EXPECT_FALSE(SaveBmp(twice, bmptest::PatternImage(2, 2)).ok);
  EXPECT_EQ(bmptest::ReadBytes(twice), EncodeBmp(first));
}

TEST(SaveBmp, RefusesAnExistingLinkWithoutFollowingIt) {
  TempDir dir;
  const std::string target = dir.File("target.bmp"), link = dir.File("link.bmp");
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);  // dangling
  const SaveResult r = SaveBmp(link, bmptest::PatternImage(2, 2));
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.reason.find("already exists"), std::string::npos) << r.reason;
  EXPECT_FALSE(bmptest::FileExists(target));
}

TEST(SaveBmp, FolderThatDoesNotExist) {
  TempDir dir;
  const std::string path = dir.File("missing/result.bmp");
  const SaveResult r = SaveBmp(path, bmptest::PatternImage(2, 2));
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.reason.find(path), std::string::npos) << r.reason;
  EXPECT_NE(r.reason.find("No such file or directory"), std::string::npos) << r.reason;
}

TEST(SaveBmp, PictureThatCannotBeEncodedCreatesNoFile) {
  TempDir dir;
  const std::string path = dir.File("never.bmp");
  RgbImage s;
  s.width = 40000;
  s.height = 40000;
  const SaveResult r = SaveBmp(path, s);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.reason.find(path), std::string::npos) << r.reason;
  EXPECT_FALSE(bmptest::FileExists(path));
}

// ---------------------------------------------------------------- failing sinks

TEST(SaveBmp, WriteFailingPartWayRemovesThePartialFile) {
  const RgbImage s = bmptest::PatternImage(5, 4);
  const std::vector<std::uint8_t> whole = EncodeBmp(s);
  // The file goes out in pieces (at least headers and pixels); fail each in turn.
  FailingSink counting;
  TempDir dir;
  ASSERT_TRUE(SaveBmp(dir.File("whole.bmp"), s, counting).ok);
  EXPECT_EQ(counting.written, whole);
  ASSERT_GE(counting.writes, 2);
  EXPECT_TRUE(counting.removed.empty());
  EXPECT_EQ(imagetest::Listing(dir.Path()), std::vector<std::string>{"whole.bmp"});
  for (int fail = 1; fail <= counting.writes; ++fail) {
    SCOPED_TRACE("write " + std::to_string(fail) + " fails");
    const std::string path = dir.File("partial" + std::to_string(fail) + ".bmp");
    FailingSink sink;
    sink.failWrite = fail;
    const SaveResult r = SaveBmp(path, s, sink);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.reason.find("disk full"), std::string::npos) << r.reason;
    EXPECT_NE(r.reason.find(path), std::string::npos) << r.reason;
    EXPECT_EQ(sink.removed, sink.created) << "the temporary file was not removed";
    EXPECT_FALSE(bmptest::FileExists(path));
    EXPECT_EQ(sink.writes, fail) << "writing went on after a failure";
  }
}

TEST(SaveBmp, CloseFailingRemovesTheFile) {
  TempDir dir;
  const std::string path = dir.File("unclosed.bmp");
  FailingSink sink;
  sink.failClose = true;
  const SaveResult r = SaveBmp(path, bmptest::PatternImage(2, 2), sink);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.reason.find("close failed"), std::string::npos) << r.reason;
  EXPECT_EQ(sink.removed, sink.created);
  EXPECT_FALSE(bmptest::FileExists(path));
}

TEST(SaveBmp, FailedCreationRemovesNothing) {
  // The name belongs to someone else's file: it must not be removed.
  TempDir dir;
  const std::string path = dir.File("theirs.bmp");
  bmptest::WriteBytes(path, {1, 2, 3});
  FailingSink sink;
  EXPECT_FALSE(SaveBmp(path, bmptest::PatternImage(2, 2), sink).ok);
  EXPECT_TRUE(sink.removed.empty());
  EXPECT_EQ(sink.writes, 0);
  EXPECT_EQ(bmptest::ReadBytes(path), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(PosixFileSink, RefusesCallsOutOfOrder) {
  TempDir dir;
  PosixFileSink sink;
  std::string error;
  EXPECT_FALSE(sink.Write("x", 1, &error));
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_FALSE(sink.Sync(&error));
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_FALSE(sink.Close(&error));
  EXPECT_FALSE(error.empty());
  ASSERT_TRUE(sink.CreateNew(dir.File("a"), kNewFilePermissions, &error)) << error;
  error.clear();
  EXPECT_FALSE(sink.CreateNew(dir.File("b"), kNewFilePermissions, &error));  // "a" is still open
  EXPECT_NE(error.find("still open"), std::string::npos) << error;
  EXPECT_TRUE(sink.Write("abc", 3, &error));
  EXPECT_TRUE(sink.Sync(&error));
  EXPECT_TRUE(sink.Close(&error));
  EXPECT_FALSE(sink.Close(&error));
  EXPECT_EQ(bmptest::ReadBytes(dir.File("a")), (std::vector<std::uint8_t>{'a', 'b', 'c'}));
  EXPECT_FALSE(bmptest::FileExists(dir.File("b")));
  // Reusable after Close.
  ASSERT_TRUE(sink.CreateNew(dir.File("c"), kNewFilePermissions, &error)) << error;
  EXPECT_TRUE(sink.Close(&error));
}

TEST(PosixFileSink, DeviceNamesCountAsExisting) {
  PosixFileSink sink;
  std::string error;
  EXPECT_FALSE(sink.CreateNew("/dev/null", kNewFilePermissions, &error));
  EXPECT_NE(error.find("already exists"), std::string::npos) << error;
}

TEST(SaveBmp, RealWriteErrorRemovesThePartialFile) {
  // In a child process whose file size limit stops the pixel block part-way:
  // the first write of the block comes back short, the next fails with EFBIG.
  TempDir dir;
  const std::string path = dir.File("limited.bmp");
  const RgbImage s = bmptest::PatternImage(10, 10);  // 384 bytes
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit = {100, 100};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(2);
    const SaveResult r = SaveBmp(path, s);
    const bool reported = !r.ok && r.reason.find("File too large") != std::string::npos &&
                          r.reason.find("after 46 of 330 bytes") != std::string::npos;
    ::_exit(reported && !bmptest::FileExists(path) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child saw a wrong result or a leftover file";
  EXPECT_FALSE(bmptest::FileExists(path));
}

}  // namespace
