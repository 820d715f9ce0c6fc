// Half-size copies of a picture for drawing it zoomed out: level k is 2^k times
// smaller than the base. A picture's levels average 2 x 2 blocks (smooth); a mask's
// take their maximum, so a one-pixel scratch stays visible however far one zooms
// out. Levels are made on first use, and a changed rectangle of the base updates
// only the levels already made.
#pragma once

#include <QImage>
#include <QRect>
#include <vector>

class CImagePyramid {
 public:
  // kAverage: Format_RGB32 bases. kMaximum: Format_Grayscale8 bases.
  enum class Reduce { kAverage, kMaximum };

  explicit CImagePyramid(Reduce reduce = Reduce::kAverage) : m_reduce(reduce) {}

  // Forgets every level (the base is new or resized).
  void Reset() { m_levels.clear(); }
  // The base changed inside rect; the levels made so far follow it.
  void Update(const QImage& base, const QRect& rect);
  // Level k >= 1 of base (made now if missing). The base must be the one the levels
  // were made from since the last Reset.
  const QImage& Level(const QImage& base, int k);

  // The level to draw a base of this size at zoom (< 1): the smallest level that is
  // still at least as big as the drawn picture, so sampling it never skips pixels.
  static int LevelFor(double zoom, QSize base);

 private:
  void ReduceRect(const QImage& from, QImage& to, const QRect& toRect) const;

  Reduce m_reduce;
  std::vector<QImage> m_levels;  // m_levels[k - 1] is level k
};
