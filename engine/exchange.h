// The dialog's ten exchanged fields and their text form, and the services a
// dialog offers its handlers (control texts, message boxes, file choice, ticks).
// This base is headless: texts live in a table, messages are recorded and file
// choices are answered from a queue. The window overrides the services.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "imaging/gdi.h"

// Control ids of the main dialog.
enum : int {
  IDC_BTN_LOAD_DAMAGED = 1004,
  IDC_BTN_LOAD_MASK = 1005,
  IDC_BTN_RUN = 1006,
  IDC_BTN_LOAD_ORIGINAL = 1016,
  IDC_BTN_AUTO = 1021,
  IDC_BTN_SAVE = 1022,
  IDC_BTN_RESET = 3,
  IDC_PANE_DAMAGED = 1002,
  IDC_PANE_MASK = 1003,
  IDC_PANE_RESULT = 1010,
  IDC_PANE_ORIGINAL = 1015,
  IDC_EDIT_TRANSPORT_ITER = 1007,
  IDC_EDIT_DIFFUSION_ITER = 1008,
  IDC_EDIT_TRANSPORT_PER_DIFFUSION = 1011,
  IDC_EDIT_DELTA_T = 1012,
  IDC_EDIT_PSNR_DAMAGED = 1013,
  IDC_EDIT_PSNR_RESULT = 1017,
  IDC_EDIT_SECONDS = 1019,
  IDC_EDIT_THRESHOLD = 1020,
  IDC_EDIT_TOTAL_ITER = 1018,
  IDC_EDIT_MASK_PIXELS = 1023,
};

// The exchange order of the ten edits.
constexpr int kExchangeIds[10] = {1007, 1008, 1011, 1012, 1013, 1017, 1019, 1020, 1018, 1023};

// Text forms: decimal for ints; %.6g of the float widened to double for floats.
std::string FormatIntField(std::int32_t value);
std::string FormatUIntField(std::uint32_t value);
std::string FormatFloatField(float value);
// Whole-text parses (blanks around the number allowed). False when the text is not
// a number of the field's type or does not fit it; "inf" and "nan" are floats.
bool ParseIntField(const std::string& text, std::int32_t* value);
bool ParseUIntField(const std::string& text, std::uint32_t* value);
bool ParseFloatField(const std::string& text, float* value);

class CDialogHost {
 public:
  CDialogHost() = default;
  virtual ~CDialogHost() = default;
  CDialogHost(const CDialogHost&) = delete;
  CDialogHost& operator=(const CDialogHost&) = delete;

  // The ten exchanged fields, 0 until the dialog sets its defaults.
  std::int32_t m_nTransportIter = 0;
  std::int32_t m_nDiffusionIter = 0;
  std::int32_t m_nTransportPerDiffusion = 0;
  float m_fDeltaT = 0.0f;
  float m_fPsnrDamaged = 0.0f;
  float m_fPsnrResult = 0.0f;
  float m_fSeconds = 0.0f;
  float m_fThreshold = 0.0f;
  std::uint32_t m_nTotalIter = 0;
  std::uint32_t m_nMaskPixels = 0;

  // FALSE writes every field to its control; TRUE reads the controls in exchange
  // order and stops at the first text that does not convert (reporting it), so
  // that field and the later ones keep their values. Returns whether all converted.
  bool UpdateData(bool bSaveAndValidate = true);
  // The defaults a new dialog shows: 100, 2, 15, 0.01, the rest 0, written out.
  void SetDefaults();

  // --- dialog services -----------------------------------------------------
  virtual std::string GetItemText(int id) const;
  virtual void SetItemText(int id, const std::string& text);
  virtual void EnableItem(int id, bool enable);
  virtual bool IsItemEnabled(int id) const;
  // A modal box with an OK button; an empty caption shows the application title.
  virtual void MessageBox(const std::string& text, const std::string& caption);
  // An open (or save) file dialog; the chosen file's full path, nothing on Cancel.
  virtual std::optional<std::string> FileDialog(bool bOpen);
  // Milliseconds since the system started, wrapping at 2^32.
  virtual std::uint32_t GetTickCount();
  virtual void BeginWaitCursor() {}
  virtual void EndWaitCursor() {}
  // Called when a pane's picture changed (after a load or a run).
  virtual void PaneChanged(int /*paneId*/) {}
  // Called after each measured cycle of the automatic mode (cycle 5 is the first).
  virtual void CycleMeasured(int /*cycle*/, float /*psnrResult*/) {}

  // Headless state, public so callers and tests can answer and inspect it.
  struct Message {
    std::string text;
    std::string caption;
  };
  std::vector<Message> m_messages;
  std::deque<std::optional<std::string>> m_fileAnswers;

 protected:
  // Reports a text that does not convert: the framework's message for the type.
  virtual void ReportBadEntry(int id, const std::string& message);

 private:
  std::map<int, std::string> m_texts;
  std::map<int, bool> m_disabled;
};

constexpr const char* kAppTitle = "ruvanta";
