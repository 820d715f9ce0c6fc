// What the machine can give: /proc/meminfo, getrlimit and /proc/self/status.
#include "session/system_memory.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>

namespace {

std::string FileText(const char* path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::optional<std::uint64_t> ProcBytes(const std::string& text, const std::string& key) {
  const std::string start = key + ":";
  for (std::size_t line = 0; line < text.size();) {
    const std::size_t end = std::min(text.find('\n', line), text.size());
    if (text.compare(line, start.size(), start) == 0) {
      std::size_t at = line + start.size();
      while (at < end && Blank(text[at])) ++at;
      if (at == end || text[at] < '0' || text[at] > '9') return std::nullopt;
      std::uint64_t value = 0;
      for (; at < end && text[at] >= '0' && text[at] <= '9'; ++at) {
        const unsigned digit = unsigned(text[at] - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
      }
      while (at < end && Blank(text[at])) ++at;
      std::string unit = text.substr(at, end - at);
      while (!unit.empty() && (Blank(unit.back()) || unit.back() == '\r')) unit.pop_back();
      if (unit.empty()) return value;
      if (unit != "kB") return std::nullopt;
      if (value > std::numeric_limits<std::uint64_t>::max() / 1024) return std::nullopt;
      return value * 1024;
    }
    line = end + 1;
  }
  return std::nullopt;
}

std::optional<std::uint64_t> MemoryFigures::Room() const {
  std::optional<std::uint64_t> room = available;
  if (addressSpaceLimit) {
    const std::uint64_t used = addressSpaceUsed.value_or(0);
    const std::uint64_t left = *addressSpaceLimit > used ? *addressSpaceLimit - used : 0;
    room = room ? std::min(*room, left) : left;
  }
  return room;
}

MemoryFigures ReadMemoryFigures() {
  MemoryFigures f;
  f.available = ProcBytes(FileText("/proc/meminfo"), "MemAvailable");
  rlimit limit;
  if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    f.addressSpaceLimit = std::uint64_t(limit.rlim_cur);
  f.addressSpaceUsed = ProcBytes(FileText("/proc/self/status"), "VmSize");
  return f;
}

std::string MemoryText(std::uint64_t bytes) {
  static const char* const kUnits[] = {"bytes", "KB", "MB", "GB", "TB", "PB", "EB"};
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  double value = double(bytes);
  int unit = 0;
  while (value >= 1023.5 && unit < 6) {  // what would show as 1024 goes up a unit
    value /= 1024;
    ++unit;
  }
  char text[32];
  // 9.96 would show as "10.0": a figure that rounds to 10 drops its decimal.
  if (value < 9.95)
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  else
    std::snprintf(text, sizeof text, "%.0f %s", value, kUnits[unit]);
  return text;
}
