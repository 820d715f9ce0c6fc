// Batches: a manifest (CSV with a header row) names one restoration a row, by the
// columns damaged, mask, original (optional) and any run option by its long name
// without dashes; the rows run on several threads, each in a session of its own,
// and each result goes to a new file in the output folder.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/run.h"

struct ManifestRow {
  int row = 0;         // 1-based, counting the data rows (blank lines are skipped)
  int line = 0;        // where it starts in the manifest
  RunRequest request;  // paths resolved against the manifest's folder
};

struct Manifest {
  bool ok = false;
  bool unreadable = false;  // the file could not be read (else: its content is wrong)
  std::string error;        // "row 3 (line 4), column mask: empty"
  std::vector<ManifestRow> rows;
};

// The rows of manifest text whose relative paths are taken from `folder` ("" for
// the working folder). Each row starts from `defaults` (the command line's run
// options) and its non-empty cells replace them; a settle level in the defaults
// applies only to the rows that stop by the settle rule (automatic, no original).
// Every value and combination is checked; the first fault is the error.
Manifest ParseManifest(const std::string& text, const std::string& folder,
                       const RunRequest& defaults);
Manifest ReadManifest(const std::string& path, const RunRequest& defaults);

// "<row>-<stem of the damaged file>.<format>".
std::string OutputName(int row, const std::string& damaged, const std::string& format);

// A size as --memory takes it: a decimal number with an optional unit K, M, G or
// T (powers of 1024, either case, an optional B after it); 0 when the text is not
// one or the size is 0 or beyond 64 bits.
std::uint64_t MemorySize(const std::string& text);

// The memory the rows running at once may hold between them. A row reserves its
// estimate before it loads anything (and again, larger, once its mask is counted)
// and waits while the others leave too little; one that could never fit is
// refused at once. Holding nothing while it waits, a row cannot block another.
class MemoryBudget {
 public:
  // No total: no limit.
  explicit MemoryBudget(std::optional<std::uint64_t> total) : m_total(total) {}
  // Makes `*held` (this row's reservation) `bytes`, waiting for room; "" once
  // done, else why not (the row then holds nothing). `stop` is asked while waiting.
  std::string Reserve(std::uint64_t* held, std::uint64_t bytes, const std::function<bool()>& stop);
  void Release(std::uint64_t* held);
  std::uint64_t InUse() const;
  std::uint64_t Peak() const;  // the most reserved at once so far

 private:
  std::optional<std::uint64_t> m_total;
  mutable std::mutex m_mutex;
  std::condition_variable m_room;
  std::uint64_t m_inUse = 0;
  std::uint64_t m_peak = 0;
};

struct BatchOptions {
  std::string manifest;
  std::string outDir;  // made (with its parents) when missing
  int jobs = 1;        // threads, at least 1
  std::string format = "bmp";
  RunRequest defaults;    // the run options of the command line (no paths)
  bool progress = false;  // draw a progress bar on standard error
  // The memory budget of the rows running at once; nothing for three quarters of
  // what the machine can give when the batch starts.
  std::optional<std::uint64_t> memory;
  // Told of every progress report of a row's run, on the row's thread, with the
  // row's number: a program running the batch in-process follows the rows by it.
  std::function<void(int row, const RunProgress& progress)> onProgress;
};

// The engine threads of the rows that job `job` of `jobs` runs, on a processor of
// `cores` threads: the cores shared out between the jobs, the first cores % jobs
// jobs one more, every job at least one.
int RowThreads(int cores, std::size_t jobs, std::size_t job);

// Runs every row and prints one JSON object a line, as each row completes. Exit
// status: 0 every row done, 1 a row failed (or the manifest or the output folder
// could not be had), 2 a usage error in the manifest (nothing run), 130 stopped by
// Ctrl-C (no row started after it; running rows stop after their current sweep).
int RunBatch(const BatchOptions& options, std::FILE* out, std::FILE* err);
