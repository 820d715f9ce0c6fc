// JSON output. Each number is made from the text the tool prints for it, parsed
// back to a double, and written as the shortest text that reads back to that
// double, which is the printed text again (no shorter decimal lies within a
// double's rounding of a nine-digit one). The library's own writer is not used for
// these: its shortest form is not always the shortest (22.160717 came out as
// 22.160717000000002).
#include "cli/json_out.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

Json JsonReal(double value, const char* format) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return std::strtod(text, nullptr);
}

namespace {
std::string ShortestText(double value) {
  char text[32];
  int digits = 1;
  for (; digits <= 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    if (std::strtod(text, nullptr) == value) break;
  }
  // Whole-number digits are written out (20, not 2e+01) below 1e17.
  const double magnitude = std::fabs(value);
  if (magnitude >= 1.0 && magnitude < 1e17) {
    const int whole = int(std::floor(std::log10(magnitude))) + 1;
    if (whole > digits) std::snprintf(text, sizeof text, "%.*g", whole, value);
  }
  std::string s = text;
  // A whole value keeps the point that marks it as a real number.
  if (s.find_first_of(".e") == std::string::npos) s += ".0";
  return s;
}
}  // namespace

std::string DumpJson(const Json& value) {
  if (value.is_number_float() && std::isfinite(value.get<double>()))
    return ShortestText(value.get<double>());
  if (value.is_object()) {
    std::string s = "{";
    for (auto it = value.begin(); it != value.end(); ++it) {
      if (it != value.begin()) s += ", ";
      s += DumpJson(Json(it.key())) + ": " + DumpJson(it.value());
    }
    return s + "}";
  }
  if (value.is_array()) {
    std::string s = "[";
    for (std::size_t i = 0; i < value.size(); ++i) s += (i ? ", " : "") + DumpJson(value[i]);
    return s + "]";
  }
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}
