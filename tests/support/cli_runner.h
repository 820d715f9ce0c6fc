// Test helpers of the command-line tests: RunCli in the test's process with its
// output captured, the real program started as a child process (to send it
// signals), small restoration pictures written as files, and planes of pictures.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_app.h"
#include "engine/planes.h"
#include "imaging/image_reader.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/engine_fixture.h"

extern char** environ;

namespace clitest {

inline const std::string kData = std::string(RUVANTA_SOURCE_DIR) + "/data/";

struct CliRun {
  int status = -1;
  std::string out, err;
};

inline std::string ReadStream(std::FILE* f) {
  std::rewind(f);
  std::string s;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

// RunCli with `args` after the program name.
inline CliRun Cli(std::vector<std::string> args) {
  args.insert(args.begin(), "ruvanta-cli");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  CliRun r;
  r.status = RunCli(int(argv.size()), argv.data(), out, err);
  r.out = ReadStream(out);
  r.err = ReadStream(err);
  return r;
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The value of "key: value" in the result lines.
inline std::string Line(const std::string& out, const std::string& key) {
  for (const std::string& line : Lines(out))
    if (line.rfind(key + ": ", 0) == 0) return line.substr(key.size() + 2);
  return "<missing " + key + ">";
}

// The real ruvanta-cli as a child process, standard output and error to files.
class CliProcess {
 public:
  CliProcess(const std::vector<std::string>& args, const std::string& outFile,
             const std::string& errFile) {
    std::vector<std::string> all = {RUVANTA_CLI};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    m_started = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~CliProcess() {
    if (m_started && !m_reaped) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
    }
  }
  bool Started() const { return m_started; }
  void Signal(int sig) { ::kill(m_pid, sig); }
  // The wait status, or -1 when the process did not end within `limit` (it is then killed).
  int Wait(std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
      if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_reaped = true;
        return status;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

 private:
  pid_t m_pid = -1;
  bool m_started = false;
  bool m_reaped = false;
};

// Waits until `done()` holds, at most `limit`.
template <typename F>
bool WaitFor(F done, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// A photo, a scratch mask and the photo with the masked pixels painted over, as
// files in `dir` named <name>-original.bmp, <name>-mask.bmp and <name>-damaged.bmp.
struct PictureFiles {
  std::string damaged, mask, original;
};

inline PictureFiles WritePictures(const std::string& dir, const std::string& name, int w, int h,
                                  unsigned seed) {
  const RgbImage photo = MakePhoto(w, h, seed);
  const RgbImage mask = MakeScratchMask(w, h, seed + 11, 3 + int(seed % 4));
  RgbImage damaged = photo;
  for (std::size_t i = 0; i < damaged.rgb.size(); i += 3)
    if (mask.rgb[i] != 0) {
      damaged.rgb[i] = 250;
      damaged.rgb[i + 1] = 240;
      damaged.rgb[i + 2] = std::uint8_t(20 * seed);
    }
  PictureFiles files{dir + "/" + name + "-damaged.bmp", dir + "/" + name + "-mask.bmp",
                     dir + "/" + name + "-original.bmp"};
  bmptest::BmpFile f;
  f.picture = damaged;
  bmptest::WriteBytes(files.damaged, f.Bytes());
  f.picture = mask;
  bmptest::WriteBytes(files.mask, f.Bytes());
  f.picture = photo;
  bmptest::WriteBytes(files.original, f.Bytes());
  return files;
}

inline RgbImage ReadPicture(const std::string& path) {
  ImageReadResult r = ReadImageFile(path);
  EXPECT_TRUE(r.ok()) << path << ": " << r.reason;
  return r.image;
}

inline RgbPlane PlaneOf(const RgbImage& image) {
  RgbPlane p;
  EXPECT_TRUE(p.Resize(image.width, image.height));
  for (std::size_t i = 0; i < image.rgb.size(); ++i) p.Data()[i] = double(image.rgb[i]);
  return p;
}

inline MaskPlane MaskOf(const RgbImage& image) {
  MaskPlane m;
  EXPECT_TRUE(m.Resize(image.width, image.height));
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const std::uint8_t* p = image.At(x, y);
      m.At(x, y) = (p[0] | p[1] | p[2]) != 0 ? 1 : 0;
    }
  return m;
}

}  // namespace clitest
