// The text of the ten exchanged fields: arbitrary texts (separated by NUL bytes in
// the input, one per field in exchange order) are read by the dialog exchange.
//
// Checks: integer texts are accepted exactly when they are a whole decimal number
// of the field's range (an independent reading below); the exchange stops at the
// first text that does not convert, reports it once, and leaves that field and the
// later ones as they were; every value read formats to a text that reads back (ints
// exactly; floats to the same text, within the six shown digits, NaN as NaN).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <map>

#include "engine/fields.h"
#include "ui/dialog_fields.h"
#include "tests/fuzz/fuzz_common.h"

namespace {

enum class Kind { kInt, kUInt, kFloat };
constexpr Kind kKinds[10] = {Kind::kInt,   Kind::kInt,   Kind::kInt,   Kind::kFloat, Kind::kFloat,
                             Kind::kFloat, Kind::kFloat, Kind::kFloat, Kind::kUInt,  Kind::kUInt};

// Blanks and tabs around a decimal number with an optional sign ('-' only for a
// signed field) and at least one digit, whose value fits the range.
bool ReadWhole(const std::string& text, bool allowMinus, long long lo, long long hi,
               long long* out) {
  std::size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  if (b == e) return false;
  bool negative = false;
  if (text[b] == '+' || (allowMinus && text[b] == '-')) {
    negative = text[b] == '-';
    ++b;
  }
  if (b == e) return false;
  // Magnitude, saturated well above any field's range.
  unsigned long long magnitude = 0;
  for (std::size_t i = b; i < e; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    if (magnitude < (1ull << 40)) magnitude = magnitude * 10 + unsigned(text[i] - '0');
  }
  const long long v = negative ? -(long long)magnitude : (long long)magnitude;
  if (magnitude >= (1ull << 40) || v < lo || v > hi) return false;
  *out = v;
  return true;
}

bool SameFloat(float a, float b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

void CheckFloatRoundTrip(float v) {
  const std::string text = FormatFloatField(v);
  float back = 0;
  FUZZ_CHECK(ParseFloatField(text, &back));
  FUZZ_CHECK(FormatFloatField(back) == text);
  if (std::isnan(v)) {
    FUZZ_CHECK(std::isnan(back));
  } else if (std::isinf(v)) {
    FUZZ_CHECK(back == v);
  } else {
    FUZZ_CHECK(std::fabs(double(back) - double(v)) <= 5e-6 * std::fabs(double(v)));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> texts(10);
  std::size_t field = 0;
  for (std::size_t i = 0; i < size && field < 10; ++i) {
    if (data[i] == 0) {
      ++field;
    } else {
      texts[field].push_back(char(data[i]));
    }
  }

  struct Dialog : CDialogServices {
    std::map<int, std::string> texts;
    std::vector<std::string> messages;
    struct {
      CDialogFields m_fields;
    } engine;
    std::string GetItemText(int id) const override {
      const auto it = texts.find(id);
      return it == texts.end() ? std::string() : it->second;
    }
    void SetItemText(int id, const std::string& text) override { texts[id] = text; }
    void MessageBox(const std::string& text, const std::string&) override {
      messages.push_back(text);
    }
  } dlg;
  // Distinct values, so a field that must keep its value is recognisable.
  dlg.engine.m_fields.m_nTransportIter = 11;
  dlg.engine.m_fields.m_nDiffusionIter = 12;
  dlg.engine.m_fields.m_nTransportPerDiffusion = 13;
  dlg.engine.m_fields.m_fDeltaT = 0.25f;
  dlg.engine.m_fields.m_fPsnrDamaged = 15.5f;
  dlg.engine.m_fields.m_fPsnrResult = 16.5f;
  dlg.engine.m_fields.m_fSeconds = 17.5f;
  dlg.engine.m_fields.m_fThreshold = 18.5f;
  dlg.engine.m_fields.m_nTotalIter = 19;
  dlg.engine.m_fields.m_nMaskPixels = 20;
  std::int32_t* const ints[10] = {&dlg.engine.m_fields.m_nTransportIter, &dlg.engine.m_fields.m_nDiffusionIter,
                                  &dlg.engine.m_fields.m_nTransportPerDiffusion};
  float* const floats[10] = {nullptr,           nullptr,        nullptr,
                             &dlg.engine.m_fields.m_fDeltaT,    &dlg.engine.m_fields.m_fPsnrDamaged, &dlg.engine.m_fields.m_fPsnrResult,
                             &dlg.engine.m_fields.m_fSeconds,   &dlg.engine.m_fields.m_fThreshold};
  std::uint32_t* const uints[10] = {nullptr, nullptr, nullptr, nullptr, nullptr,
                                    nullptr, nullptr, nullptr, &dlg.engine.m_fields.m_nTotalIter,
                                    &dlg.engine.m_fields.m_nMaskPixels};
  const std::int32_t intsBefore[3] = {11, 12, 13};
  const float floatsBefore[10] = {0, 0, 0, 0.25f, 15.5f, 16.5f, 17.5f, 18.5f};
  const std::uint32_t uintsBefore[10] = {0, 0, 0, 0, 0, 0, 0, 0, 19, 20};

  for (int i = 0; i < 10; ++i) dlg.SetItemText(kFields[i].id, texts[std::size_t(i)]);
  const bool all = ExchangeFields(&dlg.engine.m_fields, dlg, true);

  // Where the exchange must stop, and each text's own verdict.
  int firstBad = 10;
  for (int i = 0; i < 10 && firstBad == 10; ++i) {
    const std::string& t = texts[std::size_t(i)];
    long long expected = 0;
    switch (kKinds[i]) {
      case Kind::kInt: {
        std::int32_t v = 0;
        const bool ok = ParseIntField(t, &v);
        FUZZ_CHECK(ok == ReadWhole(t, true, INT32_MIN, INT32_MAX, &expected));
        if (ok) FUZZ_CHECK(v == expected);
        if (!ok) firstBad = i;
        break;
      }
      case Kind::kUInt: {
        std::uint32_t v = 0;
        const bool ok = ParseUIntField(t, &v);
        FUZZ_CHECK(ok == ReadWhole(t, false, 0, UINT32_MAX, &expected));
        if (ok) FUZZ_CHECK(v == expected);
        if (!ok) firstBad = i;
        break;
      }
      case Kind::kFloat: {
        float v = 0;
        if (!ParseFloatField(t, &v)) firstBad = i;
        break;
      }
    }
  }
  FUZZ_CHECK(all == (firstBad == 10));
  FUZZ_CHECK(dlg.messages.size() == (all ? 0u : 1u));
  if (!all) FUZZ_CHECK(!dlg.messages[0].empty());

  for (int i = 0; i < 10; ++i) {
    const std::string& t = texts[std::size_t(i)];
    if (ints[i]) {
      std::int32_t parsed = 0;
      if (i < firstBad) {
        FUZZ_CHECK(ParseIntField(t, &parsed) && *ints[i] == parsed);
        std::int32_t back = 0;
        FUZZ_CHECK(ParseIntField(FormatIntField(parsed), &back) && back == parsed);
      } else {
        FUZZ_CHECK(*ints[i] == intsBefore[i]);
      }
    } else if (uints[i]) {
      std::uint32_t parsed = 0;
      if (i < firstBad) {
        FUZZ_CHECK(ParseUIntField(t, &parsed) && *uints[i] == parsed);
        std::uint32_t back = 0;
        FUZZ_CHECK(ParseUIntField(FormatUIntField(parsed), &back) && back == parsed);
      } else {
        FUZZ_CHECK(*uints[i] == uintsBefore[i]);
      }
    } else {
      float parsed = 0;
      if (i < firstBad) {
        FUZZ_CHECK(ParseFloatField(t, &parsed) && SameFloat(*floats[i], parsed));
        CheckFloatRoundTrip(parsed);
      } else {
        FUZZ_CHECK(SameFloat(*floats[i], floatsBefore[i]));
      }
    }
  }

  // Writing the fields out and reading them back changes nothing but the floats'
  // six-digit rounding, which is the engine's own round trip.
  const CDialogFields written = dlg.engine.m_fields;
  ExchangeFields(&dlg.engine.m_fields, dlg, false);
  for (int i = 0; i < 10; ++i) {
    const std::string shown = dlg.GetItemText(kFields[i].id);
    if (ints[i]) FUZZ_CHECK(shown == FormatIntField(*ints[i]));
    if (uints[i]) FUZZ_CHECK(shown == FormatUIntField(*uints[i]));
    if (floats[i]) FUZZ_CHECK(shown == FormatFloatField(*floats[i]));
  }
  FUZZ_CHECK(ExchangeFields(&dlg.engine.m_fields, dlg, true));
  const CDialogFields quantized = QuantizeAsDialogText(written);
  for (int i = 0; i < 10; ++i)
    if (floats[i])
      FUZZ_CHECK(SameFloat(*floats[i], quantized.*kFields[i].floatField));
  return 0;
}
