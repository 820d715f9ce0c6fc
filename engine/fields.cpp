// The ten fields' text form, and the round trip through it.
#include "engine/fields.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>


std::string FormatIntField(std::int32_t value) { return std::to_string(value); }
std::string FormatUIntField(std::uint32_t value) { return std::to_string(value); }

std::string FormatFloatField(float value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6g", double(value));
  return text;
}

namespace {
// The number's text without the blanks around it; nothing for an empty text.
std::optional<std::string> Trimmed(const std::string& text) {
  if (text.find('\0') != std::string::npos) return std::nullopt;  // the whole text counts
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::nullopt;
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

bool ParseWhole(const std::string& text, long long* value, bool allowMinus) {
  const auto t = Trimmed(text);
  if (!t) return false;
  const char* s = t->c_str();
  const char first = s[0];
  if (!(first >= '0' && first <= '9') && first != '+' && !(allowMinus && first == '-'))
    return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(s, &end, 10);
  if (errno == ERANGE || end == s || *end != '\0') return false;
  *value = v;
  return true;
}
}  // namespace

bool ParseIntField(const std::string& text, std::int32_t* value) {
  long long v = 0;
  if (!ParseWhole(text, &v, true) || v < INT32_MIN || v > INT32_MAX) return false;
  *value = std::int32_t(v);
  return true;
}

bool ParseUIntField(const std::string& text, std::uint32_t* value) {
  long long v = 0;
  if (!ParseWhole(text, &v, false) || v < 0 || v > UINT32_MAX) return false;
  *value = std::uint32_t(v);
  return true;
}

bool ParseFloatField(const std::string& text, float* value) {
  const auto t = Trimmed(text);
  if (!t) return false;
  const char* s = t->c_str();
  char* end = nullptr;
  const double d = std::strtod(s, &end);
  if (end == s || *end != '\0') return false;
  // A finite number beyond the float range does not fit the field.
  if (std::isfinite(d) && std::fabs(d) > double(FLT_MAX)) return false;
  *value = float(d);
  return true;
}

void SetDefaultFields(CDialogFields* fields) {
  *fields = CDialogFields();
  fields->m_nTransportIter = 100;
  fields->m_nDiffusionIter = 2;
  fields->m_nTransportPerDiffusion = 15;
  fields->m_fDeltaT = 0.01f;
}

namespace {
float ShownAndReadBack(float value) {
  float back = value;
  ParseFloatField(FormatFloatField(value), &back);  // every %.6g text parses
  return back;
}
}  // namespace

CDialogFields QuantizeAsDialogText(const CDialogFields& fields) {
  CDialogFields shown = fields;
  for (float CDialogFields::*f :
       {&CDialogFields::m_fDeltaT, &CDialogFields::m_fPsnrDamaged, &CDialogFields::m_fPsnrResult,
        &CDialogFields::m_fSeconds, &CDialogFields::m_fThreshold})
    shown.*f = ShownAndReadBack(fields.*f);
  return shown;
}
