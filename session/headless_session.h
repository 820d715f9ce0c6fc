// A restoration without a window: the engine, the load and save commands, and the
// dialog services they need, answered from memory. The command line, the batch
// runner and the tests use it; several may run at once on separate threads.
#pragma once

#include <deque>
#include <optional>
#include <string>

#include "engine/engine.h"
#include "engine/services.h"
#include "session/image_files.h"

class CHeadlessSession : public CHeadlessServices, public CFileServices {
 public:
  // Starts as a new dialog does: the fields at their defaults, written out.
  CHeadlessSession() : engine(*this), files(engine, *this) { engine.SetDefaults(); }

  std::optional<std::string> FileDialog(bool /*bOpen*/) override {
    if (m_fileAnswers.empty()) return std::nullopt;
    auto answer = m_fileAnswers.front();
    m_fileAnswers.pop_front();
    return answer;
  }
  void ShowResult() override { files.ShowResult(); }

  CRestoreEngine engine;
  CImageFiles files;
  // The answers of the next file dialogs (nothing: Cancel).
  std::deque<std::optional<std::string>> m_fileAnswers;
};
