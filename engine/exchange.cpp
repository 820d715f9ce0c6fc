// Text form of the exchanged fields and the headless dialog services.
#include "engine/exchange.h"

#include <cerrno>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

std::string FormatIntField(std::int32_t value) { return std::to_string(value); }
std::string FormatUIntField(std::uint32_t value) { return std::to_string(value); }

std::string FormatFloatField(float value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6g", double(value));
  return text;
}

namespace {
// The number's text without the blanks around it; nullopt for an empty text.
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

void CDialogHost::SetDefaults() {
  m_nTransportIter = 100;
  m_nDiffusionIter = 2;
  m_nTransportPerDiffusion = 15;
  m_fDeltaT = 0.01f;
  UpdateData(false);
}

bool CDialogHost::UpdateData(bool bSaveAndValidate) {
  if (!bSaveAndValidate) {
    SetItemText(IDC_EDIT_TRANSPORT_ITER, FormatIntField(m_nTransportIter));
    SetItemText(IDC_EDIT_DIFFUSION_ITER, FormatIntField(m_nDiffusionIter));
    SetItemText(IDC_EDIT_TRANSPORT_PER_DIFFUSION, FormatIntField(m_nTransportPerDiffusion));
    SetItemText(IDC_EDIT_DELTA_T, FormatFloatField(m_fDeltaT));
    SetItemText(IDC_EDIT_PSNR_DAMAGED, FormatFloatField(m_fPsnrDamaged));
    SetItemText(IDC_EDIT_PSNR_RESULT, FormatFloatField(m_fPsnrResult));
    SetItemText(IDC_EDIT_SECONDS, FormatFloatField(m_fSeconds));
    SetItemText(IDC_EDIT_THRESHOLD, FormatFloatField(m_fThreshold));
    SetItemText(IDC_EDIT_TOTAL_ITER, FormatUIntField(m_nTotalIter));
    SetItemText(IDC_EDIT_MASK_PIXELS, FormatUIntField(m_nMaskPixels));
    return true;
  }
  static const char* const kInt = "Please enter an integer.";
  static const char* const kUInt = "Please enter a positive integer.";
  static const char* const kReal = "Please enter a number.";
  struct Slot {
    int id;
    std::int32_t* i;
    std::uint32_t* u;
    float* f;
  };
  const Slot slots[10] = {
      {IDC_EDIT_TRANSPORT_ITER, &m_nTransportIter, nullptr, nullptr},
      {IDC_EDIT_DIFFUSION_ITER, &m_nDiffusionIter, nullptr, nullptr},
      {IDC_EDIT_TRANSPORT_PER_DIFFUSION, &m_nTransportPerDiffusion, nullptr, nullptr},
      {IDC_EDIT_DELTA_T, nullptr, nullptr, &m_fDeltaT},
      {IDC_EDIT_PSNR_DAMAGED, nullptr, nullptr, &m_fPsnrDamaged},
      {IDC_EDIT_PSNR_RESULT, nullptr, nullptr, &m_fPsnrResult},
      {IDC_EDIT_SECONDS, nullptr, nullptr, &m_fSeconds},
      {IDC_EDIT_THRESHOLD, nullptr, nullptr, &m_fThreshold},
      {IDC_EDIT_TOTAL_ITER, nullptr, &m_nTotalIter, nullptr},
      {IDC_EDIT_MASK_PIXELS, nullptr, &m_nMaskPixels, nullptr},
  };
  for (const Slot& slot : slots) {
    const std::string text = GetItemText(slot.id);
    bool ok;
    const char* message;
    if (slot.i) {
      ok = ParseIntField(text, slot.i);
      message = kInt;
    } else if (slot.u) {
      ok = ParseUIntField(text, slot.u);
      message = kUInt;
    } else {
      ok = ParseFloatField(text, slot.f);
      message = kReal;
    }
    if (!ok) {
      ReportBadEntry(slot.id, message);
      return false;
    }
  }
  return true;
}

std::string CDialogHost::GetItemText(int id) const {
  const auto it = m_texts.find(id);
  return it == m_texts.end() ? std::string() : it->second;
}

void CDialogHost::SetItemText(int id, const std::string& text) { m_texts[id] = text; }

void CDialogHost::EnableItem(int id, bool enable) { m_disabled[id] = !enable; }

bool CDialogHost::IsItemEnabled(int id) const {
  const auto it = m_disabled.find(id);
  return it == m_disabled.end() || !it->second;
}

void CDialogHost::MessageBox(const std::string& text, const std::string& caption) {
  m_messages.push_back({text, caption.empty() ? std::string(kAppTitle) : caption});
}

std::optional<std::string> CDialogHost::FileDialog(bool) {
  if (m_fileAnswers.empty()) return std::nullopt;
  auto answer = m_fileAnswers.front();
  m_fileAnswers.pop_front();
  return answer;
}

std::uint32_t CDialogHost::GetTickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const std::uint64_t ms = std::uint64_t(ts.tv_sec) * 1000u + std::uint64_t(ts.tv_nsec) / 1000000u;
  return std::uint32_t(ms);
}

void CDialogHost::ReportBadEntry(int, const std::string& message) { MessageBox(message, ""); }
