#include "engine/services.h"


std::uint32_t MonotonicTickCount() { return std::uint32_t(MonotonicMilliseconds()); }

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
