#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <vector>

#include "engine/fields.h"
#include "tests/support/engine_fixture.h"
#include "ui/dialog_fields.h"

namespace {

TEST(FieldText, TextForms) {
  EXPECT_EQ(FormatFloatField(0.01f), "0.01");
  EXPECT_EQ(FormatFloatField(0.0f), "0");
  EXPECT_EQ(FormatFloatField(27.345678f), "27.3457");
  EXPECT_EQ(FormatFloatField(1234567.0f), "1.23457e+06");
  EXPECT_EQ(FormatFloatField(INFINITY), "inf");
  EXPECT_EQ(FormatIntField(-42), "-42");
  EXPECT_EQ(FormatUIntField(4294967295u), "4294967295");
}

TEST(FieldParse, WholeTextAndRanges) {
  std::int32_t i = 5;
  EXPECT_TRUE(ParseIntField("2147483647", &i));
  EXPECT_EQ(i, 2147483647);
  EXPECT_TRUE(ParseIntField(" 12 ", &i));
  EXPECT_EQ(i, 12);
  for (const char* bad : {"", "  ", "2147483648", "-2147483649", "12abc", "1.5", "abc", "1e3", "0x10"})
    EXPECT_FALSE(ParseIntField(bad, &i)) << bad;
  EXPECT_EQ(i, 12);  // a failed parse leaves the field

  std::uint32_t u = 0;
  EXPECT_TRUE(ParseUIntField("4294967295", &u));
  for (const char* bad : {"4294967296", "-1", "", "7 7"}) EXPECT_FALSE(ParseUIntField(bad, &u)) << bad;

  float f = 0;
  EXPECT_TRUE(ParseFloatField("0.01", &f));
  EXPECT_EQ(f, 0.01f);
  EXPECT_TRUE(ParseFloatField("inf", &f));
  EXPECT_TRUE(std::isinf(f));
  EXPECT_TRUE(ParseFloatField("-nan", &f));
  EXPECT_TRUE(std::isnan(f));
  EXPECT_TRUE(ParseFloatField("3.4e38", &f));
  for (const char* bad : {"1e39", "-1e39", "", "0.5.5", "1,5", "x"}) EXPECT_FALSE(ParseFloatField(bad, &f)) << bad;
  // A NUL inside the text does not end it early.
  EXPECT_FALSE(ParseIntField(std::string("5\0junk", 6), &i));
  EXPECT_FALSE(ParseUIntField(std::string("7\0", 2), &u));
  EXPECT_FALSE(ParseFloatField(std::string("1.5\0x", 5), &f));
}

TEST(FieldParse, FormattedValuesReadBackToTheirSixDigitValue) {
  for (float v : {0.01f, 27.345678f, 52.90205f, 1e-30f, 3.4e38f, -7.5f, 0.0f}) {
    float back = 0;
    ASSERT_TRUE(ParseFloatField(FormatFloatField(v), &back)) << v;
    EXPECT_EQ(FormatFloatField(back), FormatFloatField(v));
  }
  float nan = 0;
  ASSERT_TRUE(ParseFloatField(FormatFloatField(std::nanf("")), &nan));
  EXPECT_TRUE(std::isnan(nan));
}

// The dialog's edits as texts in a table, with the message boxes recorded.
class TextDialog : public CDialogServices {
 public:
  std::map<int, std::string> texts;
  std::vector<std::pair<std::string, std::string>> messages;
  std::string GetItemText(int id) const override {
    const auto it = texts.find(id);
    return it == texts.end() ? std::string() : it->second;
  }
  void SetItemText(int id, const std::string& text) override { texts[id] = text; }
  void MessageBox(const std::string& text, const std::string& caption) override {
    messages.emplace_back(text, caption);
  }
};

TEST(DataExchange, DefaultsInOrderAndABadEntryStopsTheExchangeAtItsField) {
  TestDialog session;  // a new engine: the defaults shown
  TextDialog dlg;
  CDialogFields fields = session.engine.ShownFields();
  ExchangeFields(&fields, dlg, false);
  const char* expected[10] = {"100", "2", "15", "0.01", "0", "0", "0", "0", "0", "0"};
  for (int k = 0; k < 10; ++k) EXPECT_EQ(dlg.GetItemText(kFields[k].id), expected[k]) << k;
  EXPECT_TRUE(ExchangeFields(&fields, dlg, true));
  EXPECT_TRUE(dlg.messages.empty());

  dlg.SetItemText(IDC_EDIT_TRANSPORT_ITER, "7");
  dlg.SetItemText(IDC_EDIT_DIFFUSION_ITER, "8");
  dlg.SetItemText(IDC_EDIT_TRANSPORT_PER_DIFFUSION, "9");
  dlg.SetItemText(IDC_EDIT_DELTA_T, "fast");
  dlg.SetItemText(IDC_EDIT_PSNR_DAMAGED, "3");
  dlg.SetItemText(IDC_EDIT_MASK_PIXELS, "11");
  EXPECT_FALSE(ExchangeFields(&fields, dlg, true));
  EXPECT_EQ(fields.m_nTransportIter, 7);
  EXPECT_EQ(fields.m_nDiffusionIter, 8);
  EXPECT_EQ(fields.m_nTransportPerDiffusion, 9);
  EXPECT_EQ(fields.m_fDeltaT, 0.01f);
  EXPECT_EQ(fields.m_fPsnrDamaged, 0.0f);
  EXPECT_EQ(fields.m_nMaskPixels, 0u);
  ASSERT_EQ(dlg.messages.size(), 1u);
  EXPECT_EQ(dlg.messages[0].first, "Please enter a number.");

  dlg.SetItemText(IDC_EDIT_DELTA_T, "0.01");
  dlg.SetItemText(IDC_EDIT_TOTAL_ITER, "4294967296");
  EXPECT_FALSE(ExchangeFields(&fields, dlg, true));
  EXPECT_EQ(fields.m_nMaskPixels, 0u);
  EXPECT_EQ(dlg.messages.back().first, "Please enter a positive integer.");
}

TEST(DataExchange, FirstBadFieldIsNamedByItsLabelWithoutChangingAnything) {
  TextDialog dlg;
  CDialogFields fields;
  SetDefaultFields(&fields);
  ExchangeFields(&fields, dlg, false);
  EXPECT_FALSE(FirstBadField(dlg).has_value());
  dlg.SetItemText(IDC_EDIT_SECONDS, "");
  dlg.SetItemText(IDC_EDIT_TRANSPORT_ITER, "");
  const auto problem = FirstBadField(dlg);
  ASSERT_TRUE(problem.has_value());
  EXPECT_EQ(problem->id, IDC_EDIT_TRANSPORT_ITER);  // the first in exchange order
  EXPECT_EQ(problem->message, "Ruvanta: please enter a whole number.");
  EXPECT_TRUE(dlg.messages.empty());
  dlg.SetItemText(IDC_EDIT_TRANSPORT_ITER, "100");
  EXPECT_EQ(FirstBadField(dlg)->message, "Waktu: please enter a number.");
  dlg.SetItemText(IDC_EDIT_SECONDS, "0");
  dlg.SetItemText(IDC_EDIT_MASK_PIXELS, "-3");
  EXPECT_EQ(FirstBadField(dlg)->message, "Jumlah Pixel: please enter a whole number, 0 or more.");
}

// The engine's round trip is the dialog's: the fields written out and read back
// through the edits' texts are QuantizeAsDialogText's, bit for bit, and it is
// idempotent.
TEST(QuantizeAsDialogText, IsTheExchangeRoundTrip) {
  TextDialog dlg;
  const float values[] = {0.01f, 27.345678f, 1e-30f, 3.4e38f, -7.5f, 0.1234567f, INFINITY};
  for (float v : values) {
    CDialogFields f;
    f.m_nTransportIter = -5;
    f.m_nTotalIter = 4000000000u;
    f.m_fDeltaT = v;
    f.m_fPsnrDamaged = v * 3.0f;
    f.m_fPsnrResult = std::nextafter(v, 0.0f);
    f.m_fSeconds = v / 7.0f;
    f.m_fThreshold = -v;
    CDialogFields exchanged = f;
    ExchangeFields(&exchanged, dlg, false);
    ASSERT_TRUE(ExchangeFields(&exchanged, dlg, true));
    const CDialogFields q = QuantizeAsDialogText(f);
    EXPECT_EQ(std::memcmp(&q, &exchanged, sizeof q), 0) << v;
    const CDialogFields twice = QuantizeAsDialogText(q);
    EXPECT_EQ(std::memcmp(&q, &twice, sizeof q), 0) << v;
  }
  EXPECT_NE(QuantizeAsDialogText(CDialogFields{0, 0, 0, 0.1234567f}).m_fDeltaT, 0.1234567f);
}

}  // namespace
