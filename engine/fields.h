// The ten exchanged fields of the dialog (the run's settings and results as the
// user sees them), the one table that describes them, their text form and the
// exchange between the fields and the texts of their edits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

class CEngineServices;

// Control ids the engine knows: the ten edits and the two run buttons.
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
};

struct CDialogFields {
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

// Text forms: decimal for ints; %.6g of the float widened to double for floats.
std::string FormatIntField(std::int32_t value);
std::string FormatUIntField(std::uint32_t value);
std::string FormatFloatField(float value);
std::string FormatField(const FieldDef& def, const CDialogFields& fields);
// Whole-text parses (blanks around the number allowed). False when the text is not
// a number of the field's type or does not fit it; "inf" and "nan" are floats.
bool ParseIntField(const std::string& text, std::int32_t* value);
bool ParseUIntField(const std::string& text, std::uint32_t* value);
bool ParseFloatField(const std::string& text, float* value);
// Parses `text` into the field of `def`; false leaves the field as it was.
bool ParseField(const FieldDef& def, const std::string& text, CDialogFields* fields);
// The framework's message for a text that does not convert to the field's type.
const char* BadEntryMessage(FieldKind kind);

// Sets every field to its table default (100, 2, 15, 0.01, the others 0).
void SetDefaultFields(CDialogFields* fields);

// FALSE writes every field to its control; TRUE reads the controls in exchange
// order and stops at the first text that does not convert (reporting it through
// the services), so that field and the later ones keep their values. Returns
// whether all converted.
bool ExchangeFields(CDialogFields* fields, CEngineServices& services, bool bSaveAndValidate);

// The first edit (in exchange order) whose text does not convert, with the
// message naming it by its label ("Ruvanta: please enter a whole number."), or
// nothing when every text converts. Reads the texts only.
struct FieldProblem {
  int id;
  std::string message;
};
std::optional<FieldProblem> FirstBadField(const CEngineServices& services);
