// What the engine needs of the dialog that runs it, and nothing more: the texts
// of the ten edits, message boxes, the tick count, enabling the run buttons, and
// showing the result. The window and the command line each implement it; a run
// on a worker thread is given a copy of the edits' texts instead.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/run_clock.h"

constexpr const char* kAppTitle = "ruvanta";

class CEngineServices {
 public:
  virtual ~CEngineServices() = default;
  virtual std::string GetItemText(int id) const = 0;
  virtual void SetItemText(int id, const std::string& text) = 0;
  // A modal box with an OK button; an empty caption shows the application title.
  virtual void MessageBox(const std::string& text, const std::string& caption) = 0;
  // A text that does not convert into its field: the framework's message; the
  // window also puts the focus on the edit.
  virtual void ReportBadEntry(int /*id*/, const std::string& message) { MessageBox(message, ""); }
  // Milliseconds since the system started, wrapping at 2^32.
  virtual std::uint32_t GetTickCount() = 0;
  // The same without the wrap, from the monotonic clock: what a run is timed by.
  virtual std::uint64_t GetTickCount64() { return MonotonicMilliseconds(); }
  virtual void EnableItem(int id, bool enable) = 0;
  // The work plane is to be shown in the result pane (the end of a run).
  virtual void ShowResult() {}
};

// Milliseconds of the monotonic clock, wrapping at 2^32.
std::uint32_t MonotonicTickCount();

// Services without a screen: texts in a table, messages recorded, the real clock.
// The command line, the tests and runs on a worker thread use it.
class CHeadlessServices : public CEngineServices {
 public:
  std::string GetItemText(int id) const override;
  void SetItemText(int id, const std::string& text) override;
  void MessageBox(const std::string& text, const std::string& caption) override;
  std::uint32_t GetTickCount() override { return MonotonicTickCount(); }
  void EnableItem(int id, bool enable) override { m_enabled[id] = enable; }
  bool IsItemEnabled(int id) const;

  struct Message {
    std::string text;
    std::string caption;
  };
  std::vector<Message> m_messages;

 private:
  std::map<int, std::string> m_texts;
  std::map<int, bool> m_enabled;
};
