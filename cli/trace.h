// The trace of a run as CSV, one row per measured cycle of the automatic mode and
// one per block of a run:
//   cycle,iterations,seconds,psnr,mean_change
// `cycle` is the cycle number, or "block N" for the N-th block of a run;
// `iterations` the transport iterations done so far; `seconds` the time since the
// run started, from the monotonic clock; `psnr` the result's PSNR in the PSNR
// mode, `mean_change` the mean absolute change over the cycle in the settle mode
// (the other left empty, both in a run). Each row is flushed as it is written.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "engine/engine.h"

class TraceFile {
 public:
  TraceFile() = default;
  ~TraceFile();
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  // Creates `path`, refusing an existing file, and writes the header. False (and
  // why) when it cannot.
  bool Create(const std::string& path, std::string* why);
  bool IsOpen() const { return m_file != nullptr; }
  // The run starts: seconds count from now.
  void Start();
  void Add(const RunProgress& progress);
  // Closes the file; false (and why) when a write failed.
  bool Close(std::string* why);

  // The row of a report, without its line end; "" for a report that makes none.
  // `block` counts the blocks of a run; `lastIterations` the iterations of the
  // last row (a run's closing report repeats its last block's when there is no tail).
  static std::string Row(const RunProgress& progress, double seconds, int* block,
                         int* lastIterations);

 private:
  std::FILE* m_file = nullptr;
  std::string m_path;
  std::string m_error;
  std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
  int m_block = 0;
  int m_lastIterations = 0;
};
