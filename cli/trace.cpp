// The trace file: created new with O_EXCL, so an existing file is never replaced.
#include "cli/trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

namespace {
std::string Real(double v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char text[64];
  std::snprintf(text, sizeof text, "%.9g", v);
  return text;
}
}  // namespace

TraceFile::~TraceFile() {
  if (m_file) std::fclose(m_file);
}

bool TraceFile::Create(const std::string& path, std::string* why) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    *why = path + (errno == EEXIST ? ": already exists (a trace is always a new file)"
                                   : ": " + std::string(std::strerror(errno)));
    return false;
  }
  m_file = ::fdopen(fd, "w");
  if (!m_file) {
    *why = path + ": " + std::strerror(errno);
    ::close(fd);
    ::unlink(path.c_str());
    return false;
  }
  m_path = path;
  if (std::fputs("cycle,iterations,seconds,psnr,mean_change\n", m_file) < 0 ||
      std::fflush(m_file) != 0)
    m_error = std::strerror(errno);
  return true;
}

void TraceFile::Start() {
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
  if (!m_file || !m_error.empty()) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
  const std::string row = Row(progress, seconds, &m_block, &m_lastIterations);
  if (row.empty()) return;
  if (std::fprintf(m_file, "%s\n", row.c_str()) < 0 || std::fflush(m_file) != 0)
    m_error = std::strerror(errno);
}

bool TraceFile::Close(std::string* why) {
  if (!m_file) return true;
  const bool closed = std::fclose(m_file) == 0;
  m_file = nullptr;
  if (m_error.empty() && !closed) m_error = std::strerror(errno);
  if (m_error.empty()) return true;
  *why = m_path + ": " + m_error;
  return false;
}
