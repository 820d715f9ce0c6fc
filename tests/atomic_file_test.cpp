// Files written whole or not at all: a kill at any moment of a large save leaves
// no file or the whole file under the final name (and an existing file whole or
// replaced whole); an existing file is never replaced without being asked, even one
// that appears while the new file is written; a replaced file keeps its permission
// bits and a link keeps pointing where it did; a failure at any step leaves the
// folder as it was.
#include "imaging/atomic_file.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "imaging/bmp_writer.h"
#include "imaging/png_codec.h"
#include "tests/support/imaging/test_files.h"

namespace {

using namespace imagetest;

std::vector<std::uint8_t> Bytes(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

int Permissions(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

bool IsLink(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

std::vector<std::uint8_t> BmpOf(int w, int h) { return EncodeBmp(RandomImage(w, h, 5)); }

// What is under `path` after a kill: nothing, `before` (the file it replaces) or
// the whole `after`; "" when one of those, else what is wrong.
std::string WholeOrAbsent(const std::string& path, const std::vector<std::uint8_t>* before,
                          const std::vector<std::uint8_t>& after) {
  if (!FileExists(path)) return before ? "the file it was to replace is gone" : "";
  const std::vector<std::uint8_t> got = ReadBytes(path);
  if (got == after || (before && got == *before)) return "";
  return "a file of " + std::to_string(got.size()) + " bytes (the whole file has " +
         std::to_string(after.size()) + ")";
}

// ------------------------------------------------------------ kill at every step

// Asks before each step of the save (and before each MiB written) whether to go on:
// it tells the test which step comes next on one pipe and waits for a byte on the
// other, so the test can kill it between any two system calls of the save.
class SteppedSink : public FileSink {
 public:
  SteppedSink(int tell, int wait) : tell_(tell), wait_(wait) {}
  bool CreateNew(const std::string& path, int permissions, std::string* error) override {
    Step('c');
    return disk_.CreateNew(path, permissions, error);
  }
  bool Write(const void* data, std::size_t size, std::string* error) override {
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (std::size_t done = 0; done < size; done += kChunk) {
      Step('w');
      if (!disk_.Write(p + done, std::min(kChunk, size - done), error)) return false;
    }
    return true;
  }
  bool Sync(std::string* error) override {
    Step('s');
    return disk_.Sync(error);
  }
  bool Close(std::string* error) override {
    Step('x');
    return disk_.Close(error);
  }
  void Remove(const std::string& path) override { disk_.Remove(path); }
  bool Move(const std::string& from, const std::string& to, bool replace,
            std::string* error) override {
    Step('m');
    return disk_.Move(from, to, replace, error);
  }
  void SyncFolder(const std::string& folder) override {
    Step('f');
    disk_.SyncFolder(folder);
  }
  void Step(char name) {
    char go = 0;
    if (::write(tell_, &name, 1) != 1 || ::read(wait_, &go, 1) != 1) ::_exit(3);
  }

 private:
  static constexpr std::size_t kChunk = std::size_t(1) << 20;
  int tell_, wait_;
  PosixFileSink disk_;
};

// Saves `file` as `path` in a child that is killed just before step `killAt`
// (counted from 0). Returns the steps it announced; `*finished` when it ended by
// itself before that step.
std::string SaveKilledAt(const std::string& path, const std::vector<std::uint8_t>& file,
                         Existing existing, int killAt, bool* finished) {
  int tell[2], wait[2];
  EXPECT_EQ(::pipe(tell), 0);
  EXPECT_EQ(::pipe(wait), 0);
  const pid_t child = ::fork();
  EXPECT_GE(child, 0);
  if (child == 0) {
    ::close(tell[0]);
    ::close(wait[1]);
    SteppedSink sink(tell[1], wait[0]);
    const SaveResult r = WriteWholeFile(path, file, existing, sink);
    sink.Step('e');
    ::_exit(r.ok ? 0 : 1);
  }
  ::close(tell[1]);
  ::close(wait[0]);
  std::string steps;
  char step = 0;
  *finished = true;
  while (::read(tell[0], &step, 1) == 1 && step != 'e') {
    steps += step;
    if (int(steps.size()) - 1 == killAt) {
      ::kill(child, SIGKILL);
      *finished = false;
      break;
    }
    const char go = 1;
    EXPECT_EQ(::write(wait[1], &go, 1), 1);
  }
  if (*finished) {
    const char go = 1;
    EXPECT_EQ(::write(wait[1], &go, 1), 1);
  }
  int status = 0;
  EXPECT_EQ(::waitpid(child, &status, 0), child);
  if (*finished) {
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  }
  ::close(tell[0]);
  ::close(wait[1]);
  return steps;
}

TEST(AtomicFile, AKillBeforeAnyStepOfASaveLeavesNoFileOrTheWholeFile) {
  const std::vector<std::uint8_t> file = BmpOf(1200, 1000);
  ASSERT_EQ(file.size(), 54u + 3u * 1000u * 1201u);
  for (Existing existing : {Existing::kKeep, Existing::kReplace}) {
    const bool replace = existing == Existing::kReplace;
    TempDir dir;
    const std::string path = dir.File("photo-restored.bmp");
    const std::vector<std::uint8_t> old = Bytes("the photo restored last week");
    bool finished = false;
    std::string allSteps;
    for (int killAt = 0; !finished; ++killAt) {
      if (replace) WriteBytes(path, old);
      const std::string steps = SaveKilledAt(path, file, existing, killAt, &finished);
      if (finished) {
        allSteps = steps;
        break;
      }
      SCOPED_TRACE(std::string(replace ? "replacing, " : "") + "killed before step " +
                   std::to_string(killAt) + " of " + steps);
      const bool moved = steps.find('m') != std::string::npos && steps.back() != 'm';
      EXPECT_EQ(WholeOrAbsent(path, replace ? &old : nullptr, file), "");
      // Before the move the final name holds nothing new; after it, the whole file.
      if (moved)
        EXPECT_EQ(ReadBytes(path), file);
      else if (replace)
        EXPECT_EQ(ReadBytes(path), old);
      else
        EXPECT_FALSE(FileExists(path));
      // A stray temporary file says what it is; the next save is not disturbed by it.
      for (const std::string& name : PartialFiles(dir.Path())) {
        EXPECT_TRUE(IsPartialFileOf(name, "photo-restored.bmp")) << name;
        ::unlink(dir.File(name).c_str());
      }
      if (!replace) ::unlink(path.c_str());
    }
    // Every step was a moment of a kill: create, four MiB-sized writes, sync,
    // close, move, sync of the folder.
    EXPECT_EQ(allSteps, "c" + std::string(4, 'w') + "sxmf");
    EXPECT_EQ(ReadBytes(path), file);
    EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{"photo-restored.bmp"});
  }
}

// ------------------------------------------------- kill while the kernel writes

// Waits until the save of `name` in `folder` by `child` has put at least `bytes`
// into its temporary file, has moved it into place, or has ended. Polls the file's
// growth, the event the kill waits for.
void WaitForSaveProgress(pid_t child, const std::string& folder, const std::string& name,
                         std::uint64_t bytes, bool* exited) {
  for (;;) {
    int status = 0;
    if (::waitpid(child, &status, WNOHANG) == child) {
      *exited = true;
      return;
    }
    if (FileExists(folder + "/" + name)) return;
    for (const std::string& partial : PartialFiles(folder)) {
      struct stat info;
      if (IsPartialFileOf(partial, name) && ::stat((folder + "/" + partial).c_str(), &info) == 0 &&
          std::uint64_t(info.st_size) >= bytes)
        return;
    }
    sched_yield();
  }
}

TEST(AtomicFile, AKillWhileALargeFileIsWrittenNeverLeavesItTruncated) {
  // The BMP and PNG writers as they are called, killed as their temporary file
  // reaches each fraction of its size (as soon as it exists, and once it is
  // complete, during the sync and the move).
  // A 3000 x 2500 BMP (22.5 MB) and a 2400 x 1800 PNG.
  const std::vector<std::uint8_t> bmp = BmpOf(3000, 2500);
  const RgbImage smooth = SmoothImage(2400, 1800);
  std::vector<std::uint8_t> png;
  std::string reason;
  ASSERT_TRUE(EncodePng(smooth, &png, &reason)) << reason;
  const RgbImage picture = RandomImage(3000, 2500, 5);

  int caughtPartWay = 0;
  for (const bool isPng : {false, true}) {
    const std::vector<std::uint8_t>& whole = isPng ? png : bmp;
    for (int eighths : {0, 1, 2, 4, 6, 8}) {
      const std::uint64_t bytes = std::max<std::uint64_t>(1, whole.size() * unsigned(eighths) / 8);
      SCOPED_TRACE(std::string(isPng ? "PNG" : "BMP") + ", killed at " + std::to_string(bytes) +
                   " of " + std::to_string(whole.size()) + " bytes");
      TempDir dir;
      const std::string name = isPng ? "photo-restored.png" : "photo-restored.bmp";
      const std::string path = dir.File(name);
      const pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        const SaveResult r = isPng ? SavePng(path, smooth) : SaveBmp(path, picture);
        ::_exit(r.ok ? 0 : 1);
      }
      bool exited = false;
      WaitForSaveProgress(child, dir.Path(), name, bytes, &exited);
      if (!exited) {
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
      }
      EXPECT_EQ(WholeOrAbsent(path, nullptr, whole), "");
      for (const std::string& partial : PartialFiles(dir.Path())) {
        const std::uint64_t size = ReadBytes(dir.File(partial)).size();
        if (size > 0 && size < whole.size()) ++caughtPartWay;
      }
    }
  }
  // How many kills landed inside a write depends on the machine; each one that did
  // left its bytes in the temporary file alone.
  std::printf("kills that found the file part-written: %d of 12\n", caughtPartWay);
}

// ------------------------------------------------------------ never replacing

TEST(AtomicFile, AFileThatAppearsWhileTheNewOneIsWrittenIsNeverReplaced) {
  TempDir dir;
  const std::string path = dir.File("result.png");
  FailingSink sink;
  sink.beforeMove = [&] { WriteBytes(path, Bytes("someone else's")); };
  const SaveResult r = WriteWholeFile(path, Bytes("ours"), Existing::kKeep, sink);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.reason.find(path), std::string::npos) << r.reason;
  EXPECT_NE(r.reason.find("already exists"), std::string::npos) << r.reason;
  EXPECT_EQ(ReadBytes(path), Bytes("someone else's"));
  EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{"result.png"});
}

// A file system without renameat2's RENAME_NOREPLACE, and one without hard links
// either; `appear` makes a file appear under the final name first.
class OldFileSystemSink : public PosixFileSink {
 public:
  bool hardLinks = true;
  std::function<void()> appear;

 protected:
  int RenameNoReplace(const std::string&, const std::string&) override {
    if (appear) appear();
    return EINVAL;
  }
  int HardLink(const std::string& from, const std::string& to) override {
    return hardLinks ? PosixFileSink::HardLink(from, to) : EPERM;
  }
};

TEST(AtomicFile, WithoutRenameNoReplaceAHardLinkPutsTheFileInPlace) {
  TempDir dir;
  const std::string path = dir.File("result.bmp");
  {
    OldFileSystemSink sink;
    const SaveResult r = WriteWholeFile(path, Bytes("new"), Existing::kKeep, sink);
    ASSERT_TRUE(r.ok) << r.reason;
    EXPECT_EQ(ReadBytes(path), Bytes("new"));
    EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{"result.bmp"});
  }
  {
    // The link is refused where a file is, as the rename would be.
    const std::string other = dir.File("other.bmp");
    OldFileSystemSink sink;
    sink.appear = [&] { WriteBytes(other, Bytes("theirs")); };
    const SaveResult r = WriteWholeFile(other, Bytes("ours"), Existing::kKeep, sink);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.reason.find("already exists"), std::string::npos) << r.reason;
    EXPECT_EQ(ReadBytes(other), Bytes("theirs"));
  }
  {
    // Neither way: refused with the reason, nothing left.
    const std::string none = dir.File("none.bmp");
    OldFileSystemSink sink;
    sink.hardLinks = false;
    const SaveResult r = WriteWholeFile(none, Bytes("ours"), Existing::kKeep, sink);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.reason.find("neither rename without replacing"), std::string::npos) << r.reason;
    EXPECT_NE(r.reason.find("Invalid argument"), std::string::npos) << r.reason;
    EXPECT_NE(r.reason.find("Operation not permitted"), std::string::npos) << r.reason;
    EXPECT_EQ(Listing(dir.Path()), (std::vector<std::string>{"other.bmp", "result.bmp"}));
  }
  {
    // Replacing needs neither.
    OldFileSystemSink sink;
    sink.hardLinks = false;
    const SaveResult r = WriteWholeFile(path, Bytes("newer"), Existing::kReplace, sink);
    ASSERT_TRUE(r.ok) << r.reason;
    EXPECT_EQ(ReadBytes(path), Bytes("newer"));
  }
}

// ------------------------------------------------------------ failing steps

TEST(AtomicFile, AFailureAtAnyStepLeavesTheFolderAsItWas) {
  enum Step { kWrite, kSync, kClose, kMove };
  for (Existing existing : {Existing::kKeep, Existing::kReplace})
    for (Step step : {kWrite, kSync, kClose, kMove}) {
      const bool replace = existing == Existing::kReplace;
      SCOPED_TRACE(std::string(replace ? "replacing, " : "") + "step " + std::to_string(step));
      TempDir dir;
      const std::string path = dir.File("result.png");
      if (replace) WriteBytes(path, Bytes("old"));
      const std::vector<std::string> before = Listing(dir.Path());
      FailingSink sink;
      sink.failWrite = step == kWrite ? 2 : 0;
      sink.failSync = step == kSync;
      sink.failClose = step == kClose;
      sink.failMove = step == kMove;
      const std::vector<std::uint8_t> a = Bytes("first part "), b = Bytes("second part");
      const SaveResult r =
          WriteWholeFile(path, {{a.data(), a.size()}, {b.data(), b.size()}}, existing, sink);
      EXPECT_FALSE(r.ok);
      EXPECT_NE(r.reason.find(path), std::string::npos) << r.reason;
      EXPECT_NE(r.reason.find("nothing under that name was changed"), std::string::npos)
          << r.reason;
      ASSERT_EQ(sink.created.size(), 1u);
      EXPECT_EQ(sink.removed, sink.created);
      EXPECT_EQ(Listing(dir.Path()), before);
      if (replace) {
        EXPECT_EQ(ReadBytes(path), Bytes("old"));
      }
    }
}

TEST(AtomicFile, NothingAppearsUnderTheNameBeforeTheCommit) {
  TempDir dir;
  const std::string path = dir.File("trace.csv");
  {
    AtomicFile file;
    std::string error;
    ASSERT_TRUE(file.Begin(path, Existing::kKeep, &error)) << error;
    ASSERT_TRUE(file.Write("a,b\n", 4, &error)) << error;
    ASSERT_TRUE(file.Write("1,2\n", 4, &error)) << error;
    EXPECT_FALSE(FileExists(path));
    const std::vector<std::string> partial = PartialFiles(dir.Path());
    ASSERT_EQ(partial.size(), 1u);
    EXPECT_EQ(dir.File(partial[0]), file.PartialPath());
    EXPECT_TRUE(IsPartialFileOf(partial[0], "trace.csv"));
    EXPECT_EQ(ReadBytes(file.PartialPath()), Bytes("a,b\n1,2\n"));
    ASSERT_TRUE(file.Commit(&error)) << error;
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.Commit(&error));
  }
  EXPECT_EQ(ReadBytes(path), Bytes("a,b\n1,2\n"));
  {
    // Given up (or destroyed) before the commit: gone, the name untouched.
    AtomicFile file;
    std::string error;
    ASSERT_TRUE(file.Begin(dir.File("dropped.csv"), Existing::kKeep, &error)) << error;
    ASSERT_TRUE(file.Write("x", 1, &error));
  }
  EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{"trace.csv"});
}

// ------------------------------------------------------------ replacing

TEST(AtomicFile, AReplacedFileKeepsItsPermissionBits) {
  TempDir dir;
  const mode_t previous = ::umask(022);
  for (int mode : {0600, 0640, 0666, 0755, 0400}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    const std::string path = dir.File("result-" + std::to_string(mode) + ".bmp");
    WriteBytes(path, Bytes("old"));
    ASSERT_EQ(::chmod(path.c_str(), mode_t(mode)), 0);
    const SaveResult r = WriteWholeFile(path, Bytes("new"), Existing::kReplace);
    ASSERT_TRUE(r.ok) << r.reason;
    EXPECT_EQ(ReadBytes(path), Bytes("new"));
    EXPECT_EQ(Permissions(path), mode);  // the umask takes nothing away
  }
  // A new file gets what every new file gets.
  const std::string fresh = dir.File("fresh.bmp");
  ASSERT_TRUE(WriteWholeFile(fresh, Bytes("new"), Existing::kReplace).ok);
  EXPECT_EQ(Permissions(fresh), 0644);
  ::umask(previous);
}

TEST(AtomicFile, ReplacingThroughALinkReplacesItsTarget) {
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.File("photos").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(dir.File("work").c_str(), 0755), 0);
  const std::string target = dir.File("photos/best.png");
  WriteBytes(target, Bytes("old"));
  ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
  // work/latest.png -> ../photos/best.png through a second link, relative.
  ASSERT_EQ(::symlink("../photos/best.png", dir.File("work/direct.png").c_str()), 0);
  ASSERT_EQ(::symlink("direct.png", dir.File("work/latest.png").c_str()), 0);
  const SaveResult r =
      WriteWholeFile(dir.File("work/latest.png"), Bytes("new"), Existing::kReplace);
  ASSERT_TRUE(r.ok) << r.reason;
  EXPECT_TRUE(IsLink(dir.File("work/latest.png")));
  EXPECT_TRUE(IsLink(dir.File("work/direct.png")));
  EXPECT_EQ(ReadBytes(target), Bytes("new"));
  EXPECT_EQ(Permissions(target), 0600);
  EXPECT_EQ(Listing(dir.File("photos")), std::vector<std::string>{"best.png"});
  EXPECT_EQ(Listing(dir.File("work")), (std::vector<std::string>{"direct.png", "latest.png"}));

  // A link to nothing yet: its target is made. A loop of links: refused.
  ASSERT_EQ(::symlink(dir.File("photos/next.png").c_str(), dir.File("work/next.png").c_str()), 0);
  ASSERT_TRUE(WriteWholeFile(dir.File("work/next.png"), Bytes("n"), Existing::kReplace).ok);
  EXPECT_EQ(ReadBytes(dir.File("photos/next.png")), Bytes("n"));
  EXPECT_TRUE(IsLink(dir.File("work/next.png")));
  ASSERT_EQ(::symlink("loop-b", dir.File("work/loop-a").c_str()), 0);
  ASSERT_EQ(::symlink("loop-a", dir.File("work/loop-b").c_str()), 0);
  const SaveResult loop = WriteWholeFile(dir.File("work/loop-a"), Bytes("x"), Existing::kReplace);
  EXPECT_FALSE(loop.ok);
  EXPECT_NE(loop.reason.find("Too many levels of symbolic links"), std::string::npos)
      << loop.reason;

  // Without replacing, a link is a file that exists, followed or not.
  EXPECT_FALSE(WriteWholeFile(dir.File("work/latest.png"), Bytes("z"), Existing::kKeep).ok);
  EXPECT_EQ(ReadBytes(target), Bytes("new"));
}

TEST(AtomicFile, ReplacingDetachesOtherHardLinksAndRefusesWhatIsNoFile) {
  TempDir dir;
  const std::string path = dir.File("a.bmp"), other = dir.File("b.bmp");
  WriteBytes(path, Bytes("old"));
  ASSERT_EQ(::link(path.c_str(), other.c_str()), 0);
  ASSERT_TRUE(WriteWholeFile(path, Bytes("new"), Existing::kReplace).ok);
  EXPECT_EQ(ReadBytes(path), Bytes("new"));
  EXPECT_EQ(ReadBytes(other), Bytes("old"));

  ASSERT_EQ(::mkdir(dir.File("folder.bmp").c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo(dir.File("pipe.bmp").c_str(), 0644), 0);
  const std::vector<std::string> before = Listing(dir.Path());
  const SaveResult folder = WriteWholeFile(dir.File("folder.bmp"), Bytes("x"), Existing::kReplace);
  EXPECT_FALSE(folder.ok);
  EXPECT_NE(folder.reason.find("is a folder, not a file"), std::string::npos) << folder.reason;
  const SaveResult pipe = WriteWholeFile(dir.File("pipe.bmp"), Bytes("x"), Existing::kReplace);
  EXPECT_FALSE(pipe.ok);
  EXPECT_NE(pipe.reason.find("is not a regular file"), std::string::npos) << pipe.reason;
  EXPECT_EQ(Listing(dir.Path()), before);
}

// ------------------------------------------------------------ names

TEST(AtomicFile, NamesThatHoldNoFileAndNamesAtTheLengthLimit) {
  TempDir dir;
  for (const std::string& bad : {std::string(), dir.Path() + "/", dir.File("."), dir.File("..")})
    for (Existing existing : {Existing::kKeep, Existing::kReplace}) {
      SCOPED_TRACE("\"" + bad + "\"");
      const SaveResult r = WriteWholeFile(bad, Bytes("x"), existing);
      EXPECT_FALSE(r.ok);
      EXPECT_FALSE(r.reason.empty());
    }
  EXPECT_TRUE(Listing(dir.Path()).empty());

  // A name as long as a folder takes still gets a temporary file beside it, its
  // name shortened at a character boundary ("é" is two bytes).
  std::string longest = "é";
  while (longest.size() + 2 + 4 <= NAME_MAX) longest += "é";
  longest += ".png";
  ASSERT_LE(longest.size(), std::size_t(NAME_MAX));
  AtomicFile file;
  std::string error;
  ASSERT_TRUE(file.Begin(dir.File(longest), Existing::kKeep, &error)) << error;
  const std::string partial = PartialFiles(dir.Path()).at(0);
  EXPECT_LE(partial.size(), std::size_t(NAME_MAX));
  EXPECT_TRUE(IsPartialFileOf(partial, longest)) << partial;
  EXPECT_FALSE(IsPartialFileOf(partial, "other.png"));
  ASSERT_TRUE(file.Commit(&error)) << error;
  EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{longest});

  EXPECT_TRUE(IsPartialFileName(".a.png.ruvanta-partial-Ab12Cd"));
  EXPECT_FALSE(IsPartialFileName("a.png.ruvanta-partial-Ab12Cd"));  // no leading dot
  EXPECT_FALSE(IsPartialFileName(".a.png.ruvanta-partial-Ab12"));   // too short
  EXPECT_FALSE(IsPartialFileName("1-photo.png"));
}

}  // namespace
