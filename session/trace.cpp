// The trace file: written whole or not at all, never over an existing file.
#include "session/trace.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <new>

namespace {
std::string Real(double v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char text[64];
  std::snprintf(text, sizeof text, "%.9g", v);
  return text;
}
}  // namespace

TraceFile::~TraceFile() = default;

bool TraceFile::Create(const std::string& path, std::string* why) {
  struct stat info;
  if (::lstat(path.c_str(), &info) == 0) {
    *why = path + ": already exists (a trace is always a new file)";
    return false;
  }
  m_error.clear();
  m_started = false;
  if (!m_file.Begin(path, Existing::kKeep, why)) return false;
  static const char kHeader[] = "cycle,iterations,seconds,psnr,mean_change\n";
  m_file.Write(kHeader, sizeof kHeader - 1, &m_error);
  return true;
}

void TraceFile::Start() {
  m_started = true;
  m_start = std::chrono::steady_clock::now();
  m_block = 0;
  m_lastIterations = 0;
}

std::string TraceFile::Row(const RunProgress& p, double seconds, int* block, int* lastIterations) {
  char time[32];
  std::snprintf(time, sizeof time, "%.6f", seconds);
  std::string row;
  if (p.automatic) {
    if (!p.measured) return row;
    row = std::to_string(p.cycle) + "," + std::to_string(p.iterationsDone) + "," + time + ",";
    row += p.settling ? "," + Real(p.meanChange) : Real(double(p.psnr)) + ",";
  } else {
    if (p.iterationsDone <= *lastIterations) return row;
    row = "block " + std::to_string(++*block) + "," + std::to_string(p.iterationsDone) + "," +
          time + ",,";
  }
  *lastIterations = p.iterationsDone;
  return row;
}

void TraceFile::Add(const RunProgress& progress) {
  if (!m_file.IsOpen() || !m_error.empty()) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
  // Called from inside the run: a trace that cannot be had must not end the run.
  try {
    const std::string row = Row(progress, seconds, &m_block, &m_lastIterations);
    if (row.empty()) return;
    const std::string line = row + "\n";
    m_file.Write(line.data(), line.size(), &m_error);
  } catch (const std::bad_alloc&) {
    m_error = "not enough memory for the trace's rows";
  }
}

bool TraceFile::Close(std::string* why) {
  if (!m_error.empty()) {
    m_file.Abandon();
    *why = m_error;
    return false;
  }
  if (!m_file.IsOpen()) return true;
  if (!m_started) {
    m_file.Abandon();  // a run that never started leaves no trace behind
    return true;
  }
  return m_file.Commit(why);
}
