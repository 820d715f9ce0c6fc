// Shared pieces of the engine tests: a headless dialog with scripted ticks and a
// record of the automatic mode's cycles, and picture builders.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "imaging/rgb_image.h"
#include "session/headless_session.h"
#include "tests/support/colour.h"
#include "ui/dialog_fields.h"

RgbImage MakeImage(int w, int h, const std::function<COLORREF(int, int)>& pixel);
// Black except at the listed (x, y) positions, which are white.
RgbImage MakeMask(int w, int h, const std::vector<std::pair<int, int>>& marked);
// A smooth colour picture with some edges, varied by `seed`.
RgbImage MakePhoto(int w, int h, unsigned seed);
// Scratches (lines) and a few blocks, varied by `seed`.
RgbImage MakeScratchMask(int w, int h, unsigned seed, int lines);

// A dialog's edit over an engine's shown fields: a text set into one is what the
// next run reads (a text that does not convert leaves the field as it was, as a
// refused entry does); an edit's text is its shown field formatted.
void TypeIntoField(CRestoreEngine& engine, int id, const std::string& text);
std::string FieldText(const CRestoreEngine& engine, int id);

// Ticks handed out in order; a fixed clock once they run out.
class ScriptedClock : public CRunClock {
 public:
  std::deque<std::uint64_t> ticks;
  std::uint64_t GetTickCount64() override {
    if (ticks.empty()) return 1000;
    const std::uint64_t t = ticks.front();
    ticks.pop_front();
    return t;
  }
};

struct ScriptedClockHolder {
  ScriptedClock clock;
};

// A headless session with scripted ticks and the ten edits of a dialog over the
// engine's shown fields (TypeIntoField, FieldText).
class TestDialog : private ScriptedClockHolder, public CHeadlessSession, public CRunObserver {
 public:
  TestDialog() : CHeadlessSession(clock), ticks(clock.ticks) { engine.SetObserver(this); }
  std::deque<std::uint64_t>& ticks;
  void SetItemText(int id, const std::string& text) { TypeIntoField(engine, id, text); }
  std::string GetItemText(int id) const { return FieldText(engine, id); }
  // The automatic mode's measured cycles: (cycle, PSNR of the result).
  std::vector<std::pair<int, float>> cycles;
  void Progress(const RunProgress& p) override {
    if (p.automatic && p.measured) cycles.emplace_back(p.cycle, p.psnr);
  }
  CDialogFields& fields() { return engine.m_fields; }
};

// Loads damaged, mask (and original if given) pictures; fails the test on refusal.
void LoadPictures(TestDialog& dlg, const RgbImage& damaged, const RgbImage& mask,
                  const RgbImage* original = nullptr);
