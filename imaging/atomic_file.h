// Files written whole or not at all. The bytes go to a temporary file in the
// folder of the final name, ".NAME.ruvanta-partial-XXXXXX", every write checked;
// the file is synced to the disk and closed, and only then moved to its final
// name in one step, and the folder synced. Whatever happens before that step (a
// failed write, a full disk, a kill) nothing appears under the final name and a
// file already there is untouched. A failure removes the temporary file; a kill
// may leave it behind, named for what it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "imaging/file_sink.h"

// What a save does with a file already under its name.
enum class Existing {
  // The save fails and the file is left as it was, also when it appears while the
  // new file is written.
  kKeep,
  // The new file replaces it and takes its permission bits (a 0600 file stays
  // 0600). A symbolic link is followed: its target is replaced, the link stays.
  // Other hard links of the old file keep the old content (the file is replaced
  // under this name, never rewritten in place). A folder or a device is refused.
  kReplace,
};

// One file on its way to its final name. Any failure removes the temporary file
// at once; so does destruction before Commit.
class AtomicFile {
 public:
  explicit AtomicFile(FileSink& sink = DefaultFileSink()) : m_sink(sink) {}
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  ~AtomicFile() { Abandon(); }

  // Creates the temporary file for `path`. False (and why) when `path` names no
  // file, exists under kKeep, is a folder or device under kReplace, or the
  // temporary file cannot be created.
  bool Begin(const std::string& path, Existing existing, std::string* error);
  bool Write(const void* data, std::size_t size, std::string* error);
  // Syncs, closes and moves the file to its final name.
  bool Commit(std::string* error);
  // Closes and removes the temporary file; the final name is not touched.
  void Abandon();

  bool IsOpen() const { return m_open; }
  // The name asked for, the file that will be written (links followed) and the
  // temporary file (empty when none is open).
  const std::string& Path() const { return m_path; }
  const std::string& Target() const { return m_target; }
  const std::string& PartialPath() const { return m_partial; }

 private:
  void Fail(std::string* error);

  FileSink& m_sink;
  std::string m_path, m_target, m_folder, m_partial;
  bool m_replace = false;
  bool m_open = false;
};

// Writes a whole file through an AtomicFile.
SaveResult WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes,
                          Existing existing, FileSink& sink = DefaultFileSink());
SaveResult WriteWholeFile(const std::string& path,
                          const std::vector<std::pair<const void*, std::size_t>>& parts,
                          Existing existing, FileSink& sink = DefaultFileSink());

// The fixed part of a temporary file's name, between the final name and the six
// random characters.
constexpr const char* kPartialMark = ".ruvanta-partial-";
// Whether a file name (no folder) is a temporary file of a save: one in progress,
// or one a kill interrupted. Never an output of its own.
bool IsPartialFileName(const std::string& name);
// Whether it is one for the final file name `name` (no folder).
bool IsPartialFileOf(const std::string& partial, const std::string& name);
