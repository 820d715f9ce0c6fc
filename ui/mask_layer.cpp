#include "ui/mask_layer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {
constexpr int kTile = 64;
// The oldest steps are dropped beyond this (the newest step is always kept).
constexpr std::size_t kHistoryLimit = std::size_t(256) << 20;

struct Interval {
  double lo = std::numeric_limits<double>::infinity();
  double hi = -std::numeric_limits<double>::infinity();
  bool Empty() const { return lo > hi; }
  void Join(double a, double b) {
    if (a > b) return;
    lo = std::min(lo, a);
    hi = std::max(hi, b);
  }
};

// Narrows [lo, hi] to the x with low <= k * x + m <= high.
void Constrain(double k, double m, double low, double high, double& lo, double& hi) {
  if (k == 0.0) {
    if (m < low || m > high) hi = lo - 1.0;
    return;
  }
  double a = (low - m) / k, b = (high - m) / k;
  if (a > b) std::swap(a, b);
  lo = std::max(lo, a);
  hi = std::min(hi, b);
}

// The x on the line y = yc within radius of the segment a-b. The set is convex
// (a capsule cut by a line), so the union of its three parts is one interval.
Interval CapsuleRow(QPointF a, QPointF b, double r, double yc) {
  Interval out;
  for (const QPointF& c : {a, b}) {
    const double dy = yc - c.y();
    if (std::abs(dy) <= r) {
      const double h = std::sqrt(r * r - dy * dy);
      out.Join(c.x() - h, c.x() + h);
    }
  }
  const double dx = b.x() - a.x(), dy = b.y() - a.y();
  const double length = std::hypot(dx, dy);
  if (length > 0.0) {
    const double ux = dx / length, uy = dy / length;
    const double wy = yc - a.y();
    double lo = -std::numeric_limits<double>::infinity();
    double hi = std::numeric_limits<double>::infinity();
    // Along the segment: 0 <= (x - ax) ux + wy uy <= length.
    Constrain(ux, -a.x() * ux + wy * uy, 0.0, length, lo, hi);
    // Across it: |(x - ax) uy - wy ux| <= r.
    Constrain(uy, -a.x() * uy - wy * ux, -r, r, lo, hi);
    out.Join(lo, hi);
  }
  return out;
}
}  // namespace

CMaskLayer::CMaskLayer() : m_pyramid(CImagePyramid::Reduce::kMaximum) {}

void CMaskLayer::Reset(QSize size, const QImage& mask) {
  m_inStroke = false;
  m_stroke.clear();
  m_undo.clear();
  m_redo.clear();
  m_historyBytes = 0;
  m_pyramid.Reset();
  if (size.isEmpty()) {
    m_pixels = QImage();
    m_slot.clear();
    m_tilesX = m_tilesY = 0;
    return;
  }
  m_pixels = QImage(size, QImage::Format_Grayscale8);
  m_pixels.fill(0);
  if (!mask.isNull()) {
    const QImage rgb = mask.convertToFormat(QImage::Format_RGB32);
    const int w = std::min(size.width(), rgb.width());
    const int h = std::min(size.height(), rgb.height());
    for (int y = 0; y < h; ++y) {
      const auto* in = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
      uchar* out = m_pixels.scanLine(y);
      for (int x = 0; x < w; ++x) out[x] = (in[x] & 0xFFFFFFu) != 0 ? 255 : 0;
    }
  }
  m_tilesX = (size.width() + kTile - 1) / kTile;
  m_tilesY = (size.height() + kTile - 1) / kTile;
  m_slot.assign(std::size_t(m_tilesX) * std::size_t(m_tilesY), -1);
}

bool CMaskLayer::IsMasked(int x, int y) const {
  return m_pixels.valid(x, y) && m_pixels.constScanLine(y)[x] != 0;
}

QImage CMaskLayer::ToImage() const { return m_pixels.convertToFormat(QImage::Format_RGB888); }

QPointF CMaskLayer::BrushCentre(QPointF p, int diameter) {
  if (diameter % 2 == 1) return QPointF(std::floor(p.x()) + 0.5, std::floor(p.y()) + 0.5);
  return QPointF(std::round(p.x()), std::round(p.y()));
}

QRect CMaskLayer::TileRect(int tile) const {
  return QRect((tile % m_tilesX) * kTile, (tile / m_tilesX) * kTile, kTile, kTile) &
         m_pixels.rect();
}

QByteArray CMaskLayer::ReadTile(int tile) const {
  const QRect r = TileRect(tile);
  QByteArray bytes(qsizetype(r.width()) * r.height(), Qt::Uninitialized);
  for (int y = 0; y < r.height(); ++y)
    std::memcpy(bytes.data() + qsizetype(y) * r.width(),
                m_pixels.constScanLine(r.top() + y) + r.left(), std::size_t(r.width()));
  return bytes;
}

void CMaskLayer::WriteTile(int tile, const QByteArray& bytes) {
  const QRect r = TileRect(tile);
  for (int y = 0; y < r.height(); ++y)
    std::memcpy(m_pixels.scanLine(r.top() + y) + r.left(),
                bytes.constData() + qsizetype(y) * r.width(), std::size_t(r.width()));
}

void CMaskLayer::Touch(int tile) {
  int& slot = m_slot[std::size_t(tile)];
  if (slot >= 0) return;
  slot = int(m_stroke.size());
  m_stroke.push_back(Patch{tile, ReadTile(tile), QByteArray()});
}

void CMaskLayer::FillSpan(int y, int x0, int x1) {
  const int row = (y / kTile) * m_tilesX;
  for (int tx = x0 / kTile; tx <= x1 / kTile; ++tx) Touch(row + tx);
  std::memset(m_pixels.scanLine(y) + x0, m_value, std::size_t(x1 - x0 + 1));
}

void CMaskLayer::BeginStroke(bool erase) {
  if (m_inStroke) EndStroke();
  m_inStroke = !IsNull();
  m_value = erase ? 0 : 255;
}

QRect CMaskLayer::StrokeTo(QPointF a, QPointF b, double radius) {
  if (!m_inStroke) return QRect();
  const int w = m_pixels.width(), h = m_pixels.height();
  const int yTop = std::max(0, int(std::floor(std::min(a.y(), b.y()) - radius - 0.5)));
  const int yBottom = std::min(h - 1, int(std::ceil(std::max(a.y(), b.y()) + radius)));
  QRect written;
  for (int y = yTop; y <= yBottom; ++y) {
    const Interval span = CapsuleRow(a, b, radius, y + 0.5);
    if (span.Empty()) continue;
    // Pixels whose centre x + 0.5 lies in the span.
    const int x0 = int(std::max(0.0, std::ceil(span.lo - 0.5)));
    const int x1 = int(std::min(double(w - 1), std::floor(span.hi - 0.5)));
    if (x0 > x1) continue;
    FillSpan(y, x0, x1);
    written |= QRect(x0, y, x1 - x0 + 1, 1);
  }
  m_pyramid.Update(m_pixels, written);
  return written;
}

bool CMaskLayer::EndStroke() {
  if (!m_inStroke) return false;
  m_inStroke = false;
  Step step;
  for (Patch& patch : m_stroke) {
    m_slot[std::size_t(patch.tile)] = -1;
    patch.after = ReadTile(patch.tile);
    if (patch.after != patch.before) step.push_back(std::move(patch));
  }
  m_stroke.clear();
  if (step.empty()) return false;
  Push(std::move(step));
  return true;
}

QRect CMaskLayer::Clear() {
  if (m_inStroke) EndStroke();
  Step step;
  QRect changed;
  const int tiles = m_tilesX * m_tilesY;
  for (int tile = 0; tile < tiles; ++tile) {
    QByteArray before = ReadTile(tile);
    if (std::all_of(before.cbegin(), before.cend(), [](char c) { return c == 0; })) continue;
    QByteArray after(before.size(), '\0');
    WriteTile(tile, after);
    changed |= TileRect(tile);
    step.push_back(Patch{tile, std::move(before), std::move(after)});
  }
  if (step.empty()) return QRect();
  m_pyramid.Update(m_pixels, changed);
  Push(std::move(step));
  return changed;
}

std::size_t CMaskLayer::StepBytes(const Step& step) {
  std::size_t bytes = 0;
  for (const Patch& patch : step) bytes += std::size_t(patch.before.size() + patch.after.size());
  return bytes;
}

void CMaskLayer::Push(Step step) {
  for (const Step& dropped : m_redo) m_historyBytes -= StepBytes(dropped);
  m_redo.clear();
  m_historyBytes += StepBytes(step);
  m_undo.push_back(std::move(step));
  while (m_undo.size() > 1 && m_historyBytes > kHistoryLimit) {
    m_historyBytes -= StepBytes(m_undo.front());
    m_undo.pop_front();
  }
}

QRect CMaskLayer::Apply(const Step& step, bool after) {
  QRect changed;
  for (const Patch& patch : step) {
    WriteTile(patch.tile, after ? patch.after : patch.before);
    changed |= TileRect(patch.tile);
  }
  m_pyramid.Update(m_pixels, changed);
  return changed;
}

QRect CMaskLayer::Undo() {
  if (m_inStroke) EndStroke();
  if (m_undo.empty()) return QRect();
  Step step = std::move(m_undo.back());
  m_undo.pop_back();
  const QRect changed = Apply(step, false);
  m_redo.push_back(std::move(step));
  return changed;
}

QRect CMaskLayer::Redo() {
  if (m_inStroke || m_redo.empty()) return QRect();
  Step step = std::move(m_redo.back());
  m_redo.pop_back();
  const QRect changed = Apply(step, true);
  m_undo.push_back(std::move(step));
  return changed;
}
