#include "tests/support/engine_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

void TypeIntoField(CRestoreEngine& engine, int id, const std::string& text) {
  const FieldDef* def = FindField(id);
  ASSERT_NE(def, nullptr) << id;
  CDialogFields typed = engine.ShownFields();
  if (ParseField(*def, text, &typed)) engine.SetShownFields(typed);
}

std::string FieldText(const CRestoreEngine& engine, int id) {
  const FieldDef* def = FindField(id);
  return def ? FormatField(*def, engine.ShownFields()) : std::string();
}

RgbImage MakeImage(int w, int h, const std::function<COLORREF(int, int)>& pixel) {
  RgbImage img;
  img.width = w;
  img.height = h;
  img.rgb.resize(std::size_t(w) * std::size_t(h) * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const COLORREF c = pixel(x, y);
      std::uint8_t* p = &img.rgb[(std::size_t(y) * std::size_t(w) + std::size_t(x)) * 3];
      p[0] = GetRValue(c);
      p[1] = GetGValue(c);
      p[2] = GetBValue(c);
    }
  return img;
}

RgbImage MakeMask(int w, int h, const std::vector<std::pair<int, int>>& marked) {
  RgbImage img = MakeImage(w, h, [](int, int) { return COLORREF(0); });
  for (const auto& m : marked) {
    std::uint8_t* p = &img.rgb[(std::size_t(m.second) * std::size_t(w) + std::size_t(m.first)) * 3];
    p[0] = p[1] = p[2] = 255;
  }
  return img;
}

RgbImage MakePhoto(int w, int h, unsigned seed) {
  const double a = 0.05 + 0.01 * (seed % 7), b = 0.03 + 0.013 * (seed % 5);
  return MakeImage(w, h, [&](int x, int y) {
    const double r = 127.5 + 100 * std::sin(a * x + 0.02 * y * (seed % 3));
    const double g = 127.5 + 90 * std::cos(b * y - 0.01 * x);
    double bl = ((x / 9 + y / 7 + int(seed)) % 3) * 80.0;  // blocks with hard edges
    if ((x - w / 2) * (x - w / 2) + (y - h / 3) * (y - h / 3) < (w * h) / 16) bl = 250;
    return RGB(BYTE(r), BYTE(g), BYTE(bl));
  });
}

RgbImage MakeScratchMask(int w, int h, unsigned seed, int lines) {
  std::vector<std::pair<int, int>> marked;
  unsigned s = seed * 2654435761u + 12345u;
  auto next = [&s]() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  };
  for (int l = 0; l < lines; ++l) {
    const int x0 = int(next() % unsigned(w)), y0 = int(next() % unsigned(h));
    const int x1 = int(next() % unsigned(w)), y1 = int(next() % unsigned(h));
    const int steps = std::max(std::abs(x1 - x0), std::abs(y1 - y0)) + 1;
    for (int i = 0; i < steps; ++i) {
      const int x = x0 + (x1 - x0) * i / steps, y = y0 + (y1 - y0) * i / steps;
      marked.emplace_back(x, y);
      if (l % 2 == 0 && x + 1 < w) marked.emplace_back(x + 1, y);
    }
  }
  // A small block touching a corner, so the border rules are exercised.
  for (int y = 0; y < std::min(3, h); ++y)
    for (int x = 0; x < std::min(4, w); ++x) marked.emplace_back(x, y);
  return MakeMask(w, h, marked);
}

void LoadPictures(TestDialog& dlg, const RgbImage& damaged, const RgbImage& mask,
                  const RgbImage* original) {
  FileResult r = dlg.files.LoadDamagedImage(damaged);
  ASSERT_TRUE(r.ok) << r.Text();
  r = dlg.files.LoadMaskImage(mask);
  ASSERT_TRUE(r.ok) << r.Text();
  if (original) {
    r = dlg.files.LoadOriginalImage(*original);
    ASSERT_TRUE(r.ok) << r.Text();
  }
}
