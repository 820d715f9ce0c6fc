// The ten fields' table, their text form, and the exchange with the edits.
#include "engine/fields.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "engine/services.h"

using F = CDialogFields;

// Order, edit, label, type, member, start value, and whether a decimal point may
// be typed: the only description of the fields.
const FieldDef kFields[kFieldCount] = {
    {IDC_EDIT_TRANSPORT_ITER, "Ruvanta", FieldKind::kInt, &F::m_nTransportIter, nullptr, nullptr,
     100, false},
    {IDC_EDIT_DIFFUSION_ITER, "Diffussi", FieldKind::kInt, &F::m_nDiffusionIter, nullptr, nullptr,
     2, false},
    {IDC_EDIT_TRANSPORT_PER_DIFFUSION, "Diffusi/Ruvanta", FieldKind::kInt,
     &F::m_nTransportPerDiffusion, nullptr, nullptr, 15, false},
    {IDC_EDIT_DELTA_T, "DeltaT", FieldKind::kFloat, nullptr, &F::m_fDeltaT, nullptr, 0.01, true},
    {IDC_EDIT_PSNR_DAMAGED, "PSNR (Load Citra)", FieldKind::kFloat, nullptr, &F::m_fPsnrDamaged,
     nullptr, 0, false},
    {IDC_EDIT_PSNR_RESULT, "PSNR (Hasil)", FieldKind::kFloat, nullptr, &F::m_fPsnrResult, nullptr,
     0, false},
    {IDC_EDIT_SECONDS, "Waktu", FieldKind::kFloat, nullptr, &F::m_fSeconds, nullptr, 0, false},
    {IDC_EDIT_THRESHOLD, "Threshold", FieldKind::kFloat, nullptr, &F::m_fThreshold, nullptr, 0,
     true},
    {IDC_EDIT_TOTAL_ITER, "Total Iterasi", FieldKind::kUInt, nullptr, nullptr, &F::m_nTotalIter, 0,
     false},
    {IDC_EDIT_MASK_PIXELS, "Jumlah Pixel", FieldKind::kUInt, nullptr, nullptr, &F::m_nMaskPixels, 0,
     false},
};

const FieldDef* FindField(int id) {
  for (const FieldDef& def : kFields)
    if (def.id == id) return &def;
  return nullptr;
}

std::string FormatIntField(std::int32_t value) { return std::to_string(value); }
std::string FormatUIntField(std::uint32_t value) { return std::to_string(value); }

std::string FormatFloatField(float value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6g", double(value));
  return text;
}

std::string FormatField(const FieldDef& def, const CDialogFields& fields) {
  switch (def.kind) {
    case FieldKind::kInt:
      return FormatIntField(fields.*def.intField);
    case FieldKind::kFloat:
      return FormatFloatField(fields.*def.floatField);
    case FieldKind::kUInt:
      return FormatUIntField(fields.*def.uintField);
  }
  return std::string();
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

bool ParseField(const FieldDef& def, const std::string& text, CDialogFields* fields) {
  switch (def.kind) {
    case FieldKind::kInt:
      return ParseIntField(text, &(fields->*def.intField));
    case FieldKind::kFloat:
      return ParseFloatField(text, &(fields->*def.floatField));
    case FieldKind::kUInt:
      return ParseUIntField(text, &(fields->*def.uintField));
  }
  return false;
}

const char* BadEntryMessage(FieldKind kind) {
  switch (kind) {
    case FieldKind::kInt:
      return "Please enter an integer.";
    case FieldKind::kUInt:
      return "Please enter a positive integer.";
    case FieldKind::kFloat:
      return "Please enter a number.";
  }
  return "";
}

void SetDefaultFields(CDialogFields* fields) {
  for (const FieldDef& def : kFields) {
    switch (def.kind) {
      case FieldKind::kInt:
        fields->*def.intField = std::int32_t(def.defaultValue);
        break;
      case FieldKind::kFloat:
        fields->*def.floatField = float(def.defaultValue);
        break;
      case FieldKind::kUInt:
        fields->*def.uintField = std::uint32_t(def.defaultValue);
        break;
    }
  }
}

bool ExchangeFields(CDialogFields* fields, CEngineServices& services, bool bSaveAndValidate) {
  if (!bSaveAndValidate) {
    for (const FieldDef& def : kFields) services.SetItemText(def.id, FormatField(def, *fields));
    return true;
  }
  for (const FieldDef& def : kFields) {
    if (!ParseField(def, services.GetItemText(def.id), fields)) {
      services.ReportBadEntry(def.id, BadEntryMessage(def.kind));
      return false;
    }
  }
  return true;
}

std::optional<FieldProblem> FirstBadField(const CEngineServices& services) {
  CDialogFields scratch;
  for (const FieldDef& def : kFields) {
    if (ParseField(def, services.GetItemText(def.id), &scratch)) continue;
    const char* what = def.kind == FieldKind::kInt    ? "a whole number"
                       : def.kind == FieldKind::kUInt ? "a whole number, 0 or more"
                                                      : "a number";
    return FieldProblem{def.id, std::string(def.label) + ": please enter " + what + "."};
  }
  return std::nullopt;
}
