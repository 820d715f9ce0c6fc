#include "ui/image_pyramid.h"

#include <algorithm>

namespace {
QSize HalfSize(QSize s) { return QSize((s.width() + 1) / 2, (s.height() + 1) / 2); }

// The rectangle of the next level that covers rect.
QRect HalfRect(const QRect& r) {
  return QRect(QPoint(r.left() / 2, r.top() / 2), QPoint(r.right() / 2, r.bottom() / 2));
}
}  // namespace

int CImagePyramid::LevelFor(double zoom, QSize base) {
  int k = 0;
  QSize size = base;
  while (zoom * double(1 << (k + 1)) <= 1.0 && (size.width() > 1 || size.height() > 1) && k < 30) {
    size = HalfSize(size);
    ++k;
  }
  return k;
}

const QImage& CImagePyramid::Level(const QImage& base, int k) {
  while (int(m_levels.size()) < k) {
    const QImage& from = m_levels.empty() ? base : m_levels.back();
    QImage to(HalfSize(from.size()), from.format());
    ReduceRect(from, to, to.rect());
    m_levels.push_back(std::move(to));
  }
  return m_levels[std::size_t(k - 1)];
}

void CImagePyramid::Update(const QImage& base, const QRect& rect) {
  QRect r = rect & base.rect();
  for (std::size_t i = 0; i < m_levels.size() && !r.isEmpty(); ++i) {
    const QImage& from = i == 0 ? base : m_levels[i - 1];
    r = HalfRect(r) & m_levels[i].rect();
    ReduceRect(from, m_levels[i], r);
  }
}

void CImagePyramid::ReduceRect(const QImage& from, QImage& to, const QRect& toRect) const {
  const int fw = from.width(), fh = from.height();
  for (int y = toRect.top(); y <= toRect.bottom(); ++y) {
    const int y0 = 2 * y, y1 = std::min(2 * y + 1, fh - 1);
    if (m_reduce == Reduce::kMaximum) {
      const uchar* a = from.constScanLine(y0);
      const uchar* b = from.constScanLine(y1);
      uchar* out = to.scanLine(y);
      for (int x = toRect.left(); x <= toRect.right(); ++x) {
        const int x0 = 2 * x, x1 = std::min(2 * x + 1, fw - 1);
        out[x] = std::max({a[x0], a[x1], b[x0], b[x1]});
      }
    } else {
      const auto* a = reinterpret_cast<const QRgb*>(from.constScanLine(y0));
      const auto* b = reinterpret_cast<const QRgb*>(from.constScanLine(y1));
      auto* out = reinterpret_cast<QRgb*>(to.scanLine(y));
      for (int x = toRect.left(); x <= toRect.right(); ++x) {
        const int x0 = 2 * x, x1 = std::min(2 * x + 1, fw - 1);
        // An edge row or column repeats: its pixels count twice, like a mirror.
        const QRgb p[4] = {a[x0], a[x1], b[x0], b[x1]};
        int r = 2, g = 2, bl = 2;
        for (const QRgb c : p) {
          r += qRed(c);
          g += qGreen(c);
          bl += qBlue(c);
        }
        out[x] = qRgb(r / 4, g / 4, bl / 4);
      }
    }
  }
}
