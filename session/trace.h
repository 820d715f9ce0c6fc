// The trace of a run as CSV, one row per measured cycle of the automatic mode and
// one per block of a run:
//   cycle,iterations,seconds,psnr,mean_change
// `cycle` is the cycle number, or "block N" for the N-th block of a run;
// `iterations` the transport iterations done so far; `seconds` the time since the
// run started, from the monotonic clock; `psnr` the result's PSNR in the PSNR
// mode, `mean_change` the mean absolute change over the cycle in the settle mode
// (the other left empty, both in a run). Each row is written as it comes, to a
// temporary file beside the trace's name; the trace appears under its name, whole,
// only when it is closed after its run (imaging/atomic_file.h), so a kill or a full
// disk never leaves a trace cut mid-line there.
#pragma once

#include <chrono>
#include <string>

#include "engine/engine.h"
#include "imaging/atomic_file.h"

class TraceFile {
 public:
  TraceFile() = default;
  ~TraceFile();
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  // Begins the trace `path`, refusing an existing file, and writes the header.
  // False (and why) when it cannot.
  bool Create(const std::string& path, std::string* why);
  bool IsOpen() const { return m_file.IsOpen(); }
  // The run starts: seconds count from now.
  void Start();
  void Add(const RunProgress& progress);
  // Puts the trace under its name, or, when its run never started, discards it.
  // False (and why) when a write failed; then nothing is under the name.
  bool Close(std::string* why);

  // The row of a report, without its line end; "" for a report that makes none.
  // `block` counts the blocks of a run; `lastIterations` the iterations of the
  // last row (a run's closing report repeats its last block's when there is no tail).
  static std::string Row(const RunProgress& progress, double seconds, int* block,
                         int* lastIterations);

 private:
  // A sink of its own: the trace stays open while the result is saved.
  PosixFileSink m_sink;
  AtomicFile m_file{m_sink};
  std::string m_error;
  bool m_started = false;
  std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
  int m_block = 0;
  int m_lastIterations = 0;
};
