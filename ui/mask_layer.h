// The mask being painted in the viewer: one byte a pixel, 255 where masked and 0
// elsewhere, drawn with a round brush along straight segments (every pixel whose
// centre lies within the brush radius of the segment, no anti-aliasing). Undo and
// redo go by strokes; a stroke keeps only the 64 x 64 tiles it changed, before and
// after, so a dab on a big picture costs a few kilobytes, not a copy of the mask.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QPointF>
#include <QRect>
#include <cstddef>
#include <deque>
#include <vector>

#include "ui/image_pyramid.h"

class CMaskLayer {
 public:
  CMaskLayer();

  // Starts over at size from mask (any pixel that is not pure black is masked; the
  // part of mask outside size is dropped, a missing part is unmasked); a null mask
  // starts empty. The history is emptied.
  void Reset(QSize size, const QImage& mask);
  bool IsNull() const { return m_pixels.isNull(); }
  QSize Size() const { return m_pixels.size(); }
  // Format_Grayscale8, 255 masked, 0 not.
  const QImage& Pixels() const { return m_pixels; }
  bool IsMasked(int x, int y) const;
  // The mask as a picture: Format_RGB888, pure white where masked, pure black elsewhere.
  QImage ToImage() const;
  // Level k >= 1 of the mask reduced by maximum (see CImagePyramid).
  const QImage& Level(int k) { return m_pyramid.Level(m_pixels, k); }

  // Where a brush of this diameter (pixels) centres for a pointer at p (image
  // coordinates): on a pixel's centre for odd diameters, on a pixel corner for even
  // ones, so the brush covers exactly diameter pixels across.
  static QPointF BrushCentre(QPointF p, int diameter);

  // A stroke: BeginStroke, then segments, then EndStroke, which makes the stroke one
  // step of the history if it changed any pixel.
  void BeginStroke(bool erase);
  // Sets (or erases) every pixel whose centre lies within radius of the segment a-b.
  // Returns the rectangle written to (empty when it is all outside the mask).
  QRect StrokeTo(QPointF a, QPointF b, double radius);
  bool EndStroke();
  bool InStroke() const { return m_inStroke; }

  // Unmasks every pixel as one step of the history; returns the changed rectangle.
  QRect Clear();

  bool CanUndo() const { return !m_undo.empty(); }
  bool CanRedo() const { return !m_redo.empty(); }
  // Each returns the rectangle it changed (empty if there was nothing to do).
  QRect Undo();
  QRect Redo();
  // The bytes the history holds (old and new tile contents of every step).
  std::size_t HistoryBytes() const { return m_historyBytes; }

 private:
  struct Patch {
    int tile;
    QByteArray before;
    QByteArray after;
  };
  using Step = std::vector<Patch>;

  QRect TileRect(int tile) const;
  QByteArray ReadTile(int tile) const;
  void WriteTile(int tile, const QByteArray& bytes);
  // Before the first write to a tile in the current stroke, keeps its old contents.
  void Touch(int tile);
  void FillSpan(int y, int x0, int x1);
  QRect Apply(const Step& step, bool after);
  static std::size_t StepBytes(const Step& step);
  void Push(Step step);

  QImage m_pixels;
  CImagePyramid m_pyramid;
  int m_tilesX = 0;
  int m_tilesY = 0;

  bool m_inStroke = false;
  uchar m_value = 255;
  Step m_stroke;
  std::vector<int> m_slot;  // per tile: its index in m_stroke, or -1

  std::deque<Step> m_undo;  // oldest first
  std::vector<Step> m_redo;
  std::size_t m_historyBytes = 0;
};
