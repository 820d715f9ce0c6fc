// The ten fields of a run (its settings and results as the dialog shows them) and
// their text form. The dialog shows each field as text and a run reads the fields
// back from those texts, so a float that has been shown goes on as its six-digit
// text reads back: QuantizeAsDialogText is that round trip, applied where the run
// has always read its fields (the dialog's own table and exchange live in ui/).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

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

// Text forms: decimal for ints; %.6g of the float widened to double for floats.
std::string FormatIntField(std::int32_t value);
std::string FormatUIntField(std::uint32_t value);
std::string FormatFloatField(float value);
// Whole-text parses (blanks around the number allowed). False when the text is not
// a number of the field's type or does not fit it; "inf" and "nan" are floats.
bool ParseIntField(const std::string& text, std::int32_t* value);
bool ParseUIntField(const std::string& text, std::uint32_t* value);
bool ParseFloatField(const std::string& text, float* value);

// Sets every field to the value a new dialog shows (100, 2, 15, 0.01, the others 0).
void SetDefaultFields(CDialogFields* fields);

// The fields as their texts read back: each float becomes the float its %.6g text
// parses to (the ints read back as they are). Idempotent.
CDialogFields QuantizeAsDialogText(const CDialogFields& fields);

