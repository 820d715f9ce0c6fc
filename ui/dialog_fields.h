// The dialog's side of the ten fields: the control ids of the main dialog that the
// commands know, the one table that describes the ten edits (id, caption, type,
// member, start value), and the data exchange between the edits' texts and the
// fields. Qt-free, so the exchange is tested and fuzzed without a window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/fields.h"

// Control ids of the ten edits, the run, load and save buttons, and the panes.
enum : int {
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
  IDC_BTN_RUN = 1006,
  IDC_BTN_AUTO = 1021,
  IDC_BTN_LOAD_DAMAGED = 1004,
  IDC_BTN_LOAD_MASK = 1005,
  IDC_BTN_LOAD_ORIGINAL = 1016,
  IDC_BTN_SAVE = 1022,
  IDC_BTN_RESET = 3,
  IDC_PANE_DAMAGED = 1002,
  IDC_PANE_MASK = 1003,
  IDC_PANE_RESULT = 1010,
  IDC_PANE_ORIGINAL = 1015,
};

// What the exchange needs of a dialog: the edits' texts and its message box.
class CDialogServices {
 public:
  virtual ~CDialogServices() = default;
  virtual std::string GetItemText(int id) const = 0;
  virtual void SetItemText(int id, const std::string& text) = 0;
  // A modal box with an OK button; an empty caption shows the application title.
  virtual void MessageBox(const std::string& text, const std::string& caption) = 0;
  // A text that does not convert into its field: the framework's message; the
  // window also puts the focus on the edit.
  virtual void ReportBadEntry(int /*id*/, const std::string& message) { MessageBox(message, ""); }
};

enum class FieldKind { kInt, kFloat, kUInt };

// One exchanged field: its edit, how it is shown and read, its start value.
struct FieldDef {
  int id;
  const char* label;  // the caption beside the edit, to name it in messages
  FieldKind kind;
  std::int32_t CDialogFields::*intField;
  float CDialogFields::*floatField;
  std::uint32_t CDialogFields::*uintField;
  double defaultValue;  // the value a new dialog shows (the constructor's is 0)
  bool typedFraction;   // the keyboard may type one decimal point into the edit
};

// The ten fields in exchange order.
constexpr int kFieldCount = 10;
extern const FieldDef kFields[kFieldCount];
// The table row of an edit, or null.
const FieldDef* FindField(int id);

std::string FormatField(const FieldDef& def, const CDialogFields& fields);
// Parses `text` into the field of `def`; false leaves the field as it was.
bool ParseField(const FieldDef& def, const std::string& text, CDialogFields* fields);
// The framework's message for a text that does not convert to the field's type.
const char* BadEntryMessage(FieldKind kind);

// FALSE writes every field to its control; TRUE reads the controls in exchange
// order and stops at the first text that does not convert (reporting it through
// the services), so that field and the later ones keep their values. Returns
// whether all converted.
bool ExchangeFields(CDialogFields* fields, CDialogServices& services, bool bSaveAndValidate);

// The first edit (in exchange order) whose text does not convert, with the
// message naming it by its label ("Ruvanta: please enter a whole number."), or
// nothing when every text converts. Reads the texts only.
struct FieldProblem {
  int id;
  std::string message;
};
std::optional<FieldProblem> FirstBadField(const CDialogServices& services);
