#include "engine/services.h"

#include <ctime>

std::uint32_t MonotonicTickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const std::uint64_t ms = std::uint64_t(ts.tv_sec) * 1000u + std::uint64_t(ts.tv_nsec) / 1000000u;
  return std::uint32_t(ms);
}

std::string CHeadlessServices::GetItemText(int id) const {
  const auto it = m_texts.find(id);
  return it == m_texts.end() ? std::string() : it->second;
}

void CHeadlessServices::SetItemText(int id, const std::string& text) { m_texts[id] = text; }

void CHeadlessServices::MessageBox(const std::string& text, const std::string& caption) {
  m_messages.push_back({text, caption.empty() ? std::string(kAppTitle) : caption});
}

bool CHeadlessServices::IsItemEnabled(int id) const {
  const auto it = m_enabled.find(id);
  return it == m_enabled.end() || it->second;
}
