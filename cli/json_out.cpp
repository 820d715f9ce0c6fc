// JSON output. Each number is made from the text the tool prints for it, parsed
// back to a double: the library writes the shortest text that reads back to that
// double, which is the printed text again (no shorter decimal lies within a
// double's rounding of a nine-digit one).
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

std::string DumpJson(const Json& value) {
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
