// The command line when memory runs short: under address-space caps and with each
// large allocation failing in turn, it ends with exit 0, or a message and exit 1,
// never a signal; a result it reports written is whole; a failure in the quality
// measures after the save leaves the result in place.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/support/cli_runner.h"

namespace {

using namespace clitest;

struct Ending {
  bool exited = false;
  int status = -1;  // the exit status, or the signal when not exited
  std::string err;
};

// `program` with `args`, its address space capped at `cap` bytes (0: no cap) and
// RUVANTA_FAIL_ALLOCATION set to `failAt` (0: unset).
Ending RunProgram(const std::string& program, const std::vector<std::string>& args, rlim_t cap,
           long failAt, const std::string& dir) {
  const std::string errFile = dir + "/err.txt";
  const pid_t child = ::fork();
  if (child == 0) {
    if (cap != 0) {
      const rlimit limit{cap, cap};
      ::setrlimit(RLIMIT_AS, &limit);
    }
    if (failAt > 0) ::setenv("RUVANTA_FAIL_ALLOCATION", std::to_string(failAt).c_str(), 1);
    std::freopen("/dev/null", "w", stdout);
    std::freopen(errFile.c_str(), "w", stderr);
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  Ending e;
  e.exited = WIFEXITED(status);
  e.status = e.exited ? WEXITSTATUS(status) : WTERMSIG(status);
  e.err = ReadText(errFile);
  return e;
}

// Exit 0, or exit 1 with a message; a result file, when there, whole.
void ExpectClean(const Ending& e, const std::string& output, int w, int h,
                 const std::string& what) {
  ASSERT_TRUE(e.exited) << what << ": ended by signal " << e.status << "\n" << e.err;
  ASSERT_TRUE(e.status == 0 || e.status == 1) << what << ": exit " << e.status << "\n" << e.err;
  if (e.status == 1) {
    EXPECT_FALSE(e.err.empty()) << what;
  }
  if (std::filesystem::exists(output)) {
    const ImageReadResult r = ReadImageFile(output);
    ASSERT_TRUE(r.ok()) << what << ": " << r.reason;
    EXPECT_EQ(r.image.width, w);
    EXPECT_EQ(r.image.height, h);
  } else {
    EXPECT_NE(e.status, 0) << what << ": exit 0 without the result";
  }
}

TEST(OutOfMemory, EachLargeAllocationFailingInTurn) {
  bmptest::TempDir dir;
  const int w = 600, h = 400;
  const PictureFiles p = WritePictures(dir.Path(), "p", w, h, 3);
  const std::string output = dir.Path() + "/out.png";
  const std::vector<std::string> args = {"--damaged", p.damaged,  "--mask",       p.mask,
                                         "--original", p.original, "--metrics",    "--iterations",
                                         "20",         "--output", output};
  std::set<std::string> messages;
  bool lostNothing = false;  // a failure after the save that kept the result
  int cleanInARow = 0;
  long at = 1;
  for (; at <= 400 && cleanInARow < 5; ++at) {
    std::filesystem::remove(output);
    const Ending e = RunProgram(RUVANTA_FAILING_CLI, args, 0, at, dir.Path());
    ExpectClean(e, output, w, h, "allocation " + std::to_string(at));
    if (::testing::Test::HasFatalFailure()) return;
    cleanInARow = e.status == 0 ? cleanInARow + 1 : 0;
    if (e.status == 1) {
      messages.insert(e.err.substr(0, e.err.find(" (")));
      if (std::filesystem::exists(output) &&
          e.err.find("not enough memory to measure the quality of a 600 x 400 picture") !=
              std::string::npos)
        lostNothing = true;
    }
  }
  EXPECT_EQ(cleanInARow, 5) << "still failing at allocation " << at;
  EXPECT_TRUE(lostNothing);
  // A load that runs short names the file and the picture's size.
  EXPECT_TRUE(messages.count("Error: File Gagal diBuka\n" + p.damaged +
                             ": not enough memory for a 600 x 400 picture"))
      << ::testing::PrintToString(messages);
}

TEST(OutOfMemory, AddressSpaceCapsEndInAResultOrAMessage) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer needs far more address space than any cap; the failing "
                  "allocations of EachLargeAllocationFailingInTurn stand in for them";
#endif
  bmptest::TempDir dir;
  const int w = 1500, h = 1000;
  const PictureFiles p = WritePictures(dir.Path(), "p", w, h, 5);
  const std::string output = dir.Path() + "/out.bmp";
  const std::vector<std::string> args = {"--damaged", p.damaged,  "--mask",       p.mask,
                                         "--original", p.original, "--metrics",    "--iterations",
                                         "15",         "--threads", "1",           "--output",
                                         output};
  bool refused = false, restored = false;
  for (rlim_t mb = 40; mb <= 1000; mb += 40) {
    std::filesystem::remove(output);
    const Ending e = RunProgram(RUVANTA_CLI, args, mb << 20, 0, dir.Path());
    ExpectClean(e, output, w, h, std::to_string(mb) + " MB");
    if (::testing::Test::HasFatalFailure()) return;
    refused = refused || e.err.find("not enough memory to restore a 1500 x 1000 picture (needs "
                                    "about") != std::string::npos;
    restored = restored || e.status == 0;
  }
  EXPECT_TRUE(refused);
  EXPECT_TRUE(restored);
}

}  // namespace
