// The drawing surface of the picture viewer: holds the damaged picture, the result
// and the original, shows one of them at a zoom and position shared by all three,
// with the mask tinted over it, and paints the mask with a round brush. Only the
// visible part of a picture is drawn, from a half-size level when zoomed out, so
// big pictures pan and zoom at the same speed as small ones.
#pragma once

#include <QImage>
#include <QPointF>
#include <QWidget>
#include <array>

#include "ui/image_pyramid.h"
#include "ui/mask_layer.h"

enum class ViewerPicture { kDamaged, kResult, kOriginal };

class CViewerCanvas : public QWidget {
  Q_OBJECT
 public:
  static constexpr double kMinZoom = 1.0 / 32.0;
  static constexpr double kMaxZoom = 32.0;
  static constexpr int kMinBrush = 1;
  static constexpr int kMaxBrush = 200;
  // The tint of masked pixels.
  static QRgb OverlayColour() { return qRgba(255, 0, 0, 128); }

  explicit CViewerCanvas(QWidget* parent = nullptr);

  // A null picture is not available. The shown picture is redrawn in place; a new
  // size fits it to the window. A damaged picture of a new size restarts the
  // painted mask from the loaded one.
  void SetPicture(ViewerPicture which, const QImage& picture);
  const QImage& Picture(ViewerPicture which) const { return m_pictures[Index(which)]; }
  // Keeps zoom and position. Leaves paint mode unless the damaged picture is shown.
  void ShowPicture(ViewerPicture which);
  ViewerPicture Current() const { return m_current; }
  // The loaded mask (any non-black pixel is masked), or null: the painted mask
  // starts over from it, without history.
  void SetMask(const QImage& mask);
  const CMaskLayer& Mask() const { return m_mask; }

  // --- the view: a widget point w shows the image point (w - offset) / zoom ---
  double Zoom() const { return m_zoom; }
  QPointF ImageAt(QPointF widgetPoint) const { return (widgetPoint - m_offset) / m_zoom; }
  QPointF WidgetAt(QPointF imagePoint) const { return imagePoint * m_zoom + m_offset; }
  // The image point at the middle of the widget.
  QPointF CentrePoint() const { return ImageAt(QPointF(width(), height()) / 2.0); }
  void FitToWindow();
  // One screen pixel per image pixel, around the same centre.
  void ActualSize();
  // Shows the image point at the middle, one screen pixel per image pixel; a
  // picture that fits the window whole is fitted instead.
  void CentreOn(QPointF imagePoint);
  // Multiplies the zoom (within the range); the image point under widgetPoint stays.
  void ZoomAround(QPointF widgetPoint, double factor);

  // --- overlay and tools ---
  void SetOverlay(bool on);
  bool Overlay() const { return m_overlay; }
  // Needs the damaged picture; shows it and the overlay.
  void SetPaintMode(bool on);
  bool PaintMode() const { return m_paintMode; }
  void SetEraser(bool on);
  bool Eraser() const { return m_eraser; }
  void SetBrushSize(int diameter);
  int BrushSize() const { return m_brush; }
  void Undo();
  void Redo();
  void ClearMask();

  // The image pixel under the pointer, if the pointer is over the shown picture.
  bool HoverPixel(QPoint* pixel) const;

 signals:
  // Picture, mode, overlay, brush or history changed: the window's buttons follow.
  void StateChanged();
  // Zoom, position or the pixel under the pointer changed: the status line follows.
  void StatusChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  enum class Drag { kNone, kPan, kPaint };

  static int Index(ViewerPicture which) { return int(which); }
  const QImage& Shown() const { return m_pictures[Index(m_current)]; }
  // A pointer event at pos stands for the middle of that screen pixel.
  QPointF PointerImage(QPointF pos) const { return ImageAt(pos + QPointF(0.5, 0.5)); }
  // Keeps the image point at the widget's middle inside the picture.
  void ClampView();
  void ViewMoved();
  void DrawLayer(QPainter& painter, const QRectF& visible, const QImage& base,
                 CImagePyramid* pyramid, bool overlay);
  QRect BrushOutline(QPoint pos) const;
  void PaintTo(QPointF pointerImage);
  void UpdateImageRect(const QRect& changed);
  void EndDrag();
  void UpdateCursor();
  void SetHover(bool inside, QPoint pos);

  std::array<QImage, 3> m_pictures;
  std::array<CImagePyramid, 3> m_pyramids;
  ViewerPicture m_current = ViewerPicture::kDamaged;
  QImage m_loadedMask;
  CMaskLayer m_mask;

  double m_zoom = 1.0;
  QPointF m_offset;
  QSize m_viewFor;       // the picture size the view was set up for
  bool m_fitted = true;  // follows the window's size until the user zooms or pans

  bool m_overlay = false;
  bool m_paintMode = false;
  bool m_eraser = false;
  int m_brush = 15;

  Drag m_drag = Drag::kNone;
  Qt::MouseButton m_dragButton = Qt::NoButton;
  QPointF m_lastPos;     // pan: the last pointer position
  QPointF m_lastBrush;   // paint: the last brush centre
  bool m_space = false;  // Space held: left drag pans
  bool m_hover = false;
  QPoint m_hoverPos;
};
