// The ten edits' table and the data exchange with their texts.
#include "ui/dialog_fields.h"

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

bool ExchangeFields(CDialogFields* fields, CDialogServices& services, bool bSaveAndValidate) {
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

std::optional<FieldProblem> FirstBadField(const CDialogServices& services) {
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
