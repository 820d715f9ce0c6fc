#include "ui/viewer_canvas.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace {
const QColor kBackground(96, 96, 96);
// One wheel notch (120 units) zooms by 2^(1/4): four notches double.
constexpr double kNotchesPerDoubling = 4.0;

// The mask's bytes seen as an 8-bit indexed picture whose colours are the tint:
// drawing it needs no copy of the mask.
QImage TintView(const QImage& mask) {
  static const QList<QRgb> table = [] {
    QList<QRgb> colours(256, CViewerCanvas::OverlayColour());
    colours[0] = qRgba(0, 0, 0, 0);
    return colours;
  }();
  QImage view(mask.constBits(), mask.width(), mask.height(), mask.bytesPerLine(),
              QImage::Format_Indexed8);
  view.setColorTable(table);
  return view;
}
}  // namespace

CViewerCanvas::CViewerCanvas(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(160, 120);
  UpdateCursor();
}

// --- pictures ------------------------------------------------------------------

void CViewerCanvas::SetPicture(ViewerPicture which, const QImage& picture) {
  QImage& slot = m_pictures[Index(which)];
  slot = picture.isNull() || picture.format() == QImage::Format_RGB32
             ? picture
             : picture.convertToFormat(QImage::Format_RGB32);
  m_pyramids[Index(which)].Reset();
  if (which == ViewerPicture::kDamaged) {
    if (slot.isNull()) {
      // Nothing to paint on: only the loaded mask is left to show.
      SetPaintMode(false);
      m_mask.Reset(m_loadedMask.size(), m_loadedMask);
    } else if (slot.size() != m_mask.Size()) {
      EndDrag();
      m_mask.Reset(slot.size(), m_loadedMask);
    }
  }
  if (which == m_current) {
    if (!slot.isNull() && slot.size() != m_viewFor) FitToWindow();
    update();
    emit StatusChanged();
  }
  emit StateChanged();
}

void CViewerCanvas::ShowPicture(ViewerPicture which) {
  if (which == m_current) return;
  if (which != ViewerPicture::kDamaged) SetPaintMode(false);
  m_current = which;
  if (!Shown().isNull() && Shown().size() != m_viewFor) {
    // Pictures of one size share the view; another size starts fitted.
    if (m_viewFor.isValid())
      ClampView();
    else
      FitToWindow();
  }
  update();
  emit StateChanged();
  emit StatusChanged();
}

void CViewerCanvas::SetMask(const QImage& mask) {
  EndDrag();
  m_loadedMask = mask;
  const QImage& damaged = Picture(ViewerPicture::kDamaged);
  m_mask.Reset(damaged.isNull() ? mask.size() : damaged.size(), mask);
  update();
  emit StateChanged();
}

// --- the view ------------------------------------------------------------------

void CViewerCanvas::FitToWindow() {
  const QImage& picture = Shown();
  m_fitted = true;
  if (picture.isNull()) return;
  m_zoom =
      std::clamp(std::min(double(width()) / picture.width(), double(height()) / picture.height()),
                 kMinZoom, kMaxZoom);
  m_offset =
      (QPointF(width(), height()) - QPointF(picture.width(), picture.height()) * m_zoom) / 2.0;
  m_viewFor = picture.size();
  ViewMoved();
}

void CViewerCanvas::ActualSize() {
  const QPointF centre = CentrePoint();
  m_zoom = 1.0;
  m_offset = QPointF(width(), height()) / 2.0 - centre;
  m_fitted = false;
  ClampView();
  // Whole-pixel offsets keep every image pixel on exactly one screen pixel.
  m_offset = QPointF(std::round(m_offset.x()), std::round(m_offset.y()));
  ViewMoved();
}

void CViewerCanvas::CentreOn(QPointF imagePoint) {
  const QImage& picture = Shown();
  if (picture.isNull()) return;
  if (picture.width() <= width() && picture.height() <= height()) {
    FitToWindow();
    return;
  }
  m_zoom = 1.0;
  m_offset = QPointF(width(), height()) / 2.0 - imagePoint;
  m_fitted = false;
  ClampView();
  m_offset = QPointF(std::round(m_offset.x()), std::round(m_offset.y()));
  ViewMoved();
}

void CViewerCanvas::ZoomAround(QPointF widgetPoint, double factor) {
  const QPointF anchor = ImageAt(widgetPoint);
  m_zoom = std::clamp(m_zoom * factor, kMinZoom, kMaxZoom);
  m_offset = widgetPoint - anchor * m_zoom;
  m_fitted = false;
  ClampView();
  ViewMoved();
}

void CViewerCanvas::ClampView() {
  const QImage& picture = Shown();
  if (picture.isNull()) return;
  m_viewFor = picture.size();
  const QPointF middle = QPointF(width(), height()) / 2.0;
  const QPointF centre = ImageAt(middle);
  const QPointF kept(std::clamp(centre.x(), 0.0, double(picture.width())),
                     std::clamp(centre.y(), 0.0, double(picture.height())));
  m_offset = middle - kept * m_zoom;
}

void CViewerCanvas::ViewMoved() {
  update();
  emit StatusChanged();
}

void CViewerCanvas::resizeEvent(QResizeEvent* event) {
  if (m_fitted) {
    FitToWindow();
    return;
  }
  if (!event->oldSize().isValid()) return;
  // The image point at the middle stays there.
  m_offset += QPointF(event->size().width() - event->oldSize().width(),
                      event->size().height() - event->oldSize().height()) /
              2.0;
  ClampView();
  ViewMoved();
}

// --- drawing -------------------------------------------------------------------

void CViewerCanvas::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const QRect dirty = event->rect();
  painter.fillRect(dirty, kBackground);
  const QImage& picture = Shown();
  if (picture.isNull()) {
    painter.setPen(Qt::white);
    painter.drawText(rect(), Qt::AlignCenter, tr("This picture is not available"));
    return;
  }
  const QRectF shown(ImageAt(dirty.topLeft()),
                     ImageAt(QPointF(dirty.right() + 1, dirty.bottom() + 1)));
  DrawLayer(painter, shown & QRectF(picture.rect()), picture, &m_pyramids[Index(m_current)], false);
  if (m_overlay && !m_mask.IsNull())
    DrawLayer(painter, shown & QRectF(QPointF(0, 0), QSizeF(m_mask.Size())), m_mask.Pixels(),
              nullptr, true);

  if (m_paintMode && m_hover) {
    const QRect outline = BrushOutline(m_hoverPos).adjusted(2, 2, -2, -2);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::black, 1));
    painter.drawEllipse(outline.adjusted(-1, -1, 1, 1));
    painter.setPen(QPen(Qt::white, 1));
    painter.drawEllipse(outline);
  }
}

void CViewerCanvas::DrawLayer(QPainter& painter, const QRectF& visible, const QImage& base,
                              CImagePyramid* pyramid, bool overlay) {
  if (visible.isEmpty()) return;
  QRectF source = visible;
  int level = 0;
  if (m_zoom >= 1.0) {
    // Whole pixels, drawn as squares.
    source = QRectF(QPointF(std::floor(visible.left()), std::floor(visible.top())),
                    QPointF(std::ceil(visible.right()), std::ceil(visible.bottom())));
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  } else {
    level = CImagePyramid::LevelFor(m_zoom, base.size());
    // The mask from the next smaller level, enlarged: sampling a level bigger than
    // the screen would step over one-pixel marks and show them dotted.
    if (overlay) ++level;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
  }
  const QImage& image = level == 0 ? base
                        : overlay  ? m_mask.Level(level)
                                   : pyramid->Level(base, level);
  const double scale = 1.0 / double(1 << level);
  const QRectF target(WidgetAt(source.topLeft()), WidgetAt(source.bottomRight()));
  const QRectF fromLevel(source.topLeft() * scale, source.size() * scale);
  painter.drawImage(target, overlay ? TintView(image) : image, fromLevel);
}

QRect CViewerCanvas::BrushOutline(QPoint pos) const {
  const QPointF centre = WidgetAt(CMaskLayer::BrushCentre(PointerImage(pos), m_brush));
  // Never smaller than a few screen pixels, so a small brush far out stays visible.
  const double radius = std::max(m_brush * m_zoom / 2.0, 2.0);
  const QRectF circle(centre - QPointF(radius, radius), QSizeF(2 * radius, 2 * radius));
  return circle.toAlignedRect().adjusted(-2, -2, 2, 2);
}

// --- overlay and tools ---------------------------------------------------------

void CViewerCanvas::SetOverlay(bool on) {
  if (on == m_overlay) return;
  m_overlay = on;
  update();
  emit StateChanged();
}

void CViewerCanvas::SetPaintMode(bool on) {
  if (on && Picture(ViewerPicture::kDamaged).isNull()) on = false;
  if (on == m_paintMode) return;
  EndDrag();
  m_paintMode = on;
  if (on) {
    ShowPicture(ViewerPicture::kDamaged);
    m_overlay = true;
  }
  UpdateCursor();
  update();
  emit StateChanged();
}

void CViewerCanvas::SetEraser(bool on) {
  if (on == m_eraser) return;
  m_eraser = on;
  emit StateChanged();
}

void CViewerCanvas::SetBrushSize(int diameter) {
  diameter = std::clamp(diameter, kMinBrush, kMaxBrush);
  if (diameter == m_brush) return;
  if (m_hover) update(BrushOutline(m_hoverPos));
  m_brush = diameter;
  if (m_hover) update(BrushOutline(m_hoverPos));
  emit StateChanged();
}

void CViewerCanvas::Undo() {
  EndDrag();
  if (!m_mask.Undo().isEmpty()) update();
  emit StateChanged();
}

void CViewerCanvas::Redo() {
  EndDrag();
  if (!m_mask.Redo().isEmpty()) update();
  emit StateChanged();
}

void CViewerCanvas::ClearMask() {
  EndDrag();
  if (!m_mask.Clear().isEmpty()) update();
  emit StateChanged();
}

bool CViewerCanvas::HoverPixel(QPoint* pixel) const {
  if (!m_hover || Shown().isNull()) return false;
  const QPointF p = PointerImage(m_hoverPos);
  const QPoint whole(int(std::floor(p.x())), int(std::floor(p.y())));
  if (!Shown().rect().contains(whole)) return false;
  *pixel = whole;
  return true;
}

// --- pointer and keys ----------------------------------------------------------

void CViewerCanvas::PaintTo(QPointF pointerImage) {
  const QPointF centre = CMaskLayer::BrushCentre(pointerImage, m_brush);
  if (centre == m_lastBrush) return;
  UpdateImageRect(m_mask.StrokeTo(m_lastBrush, centre, m_brush / 2.0));
  m_lastBrush = centre;
}

void CViewerCanvas::UpdateImageRect(const QRect& changed) {
  if (changed.isEmpty()) return;
  update(QRectF(WidgetAt(changed.topLeft()), WidgetAt(changed.bottomRight() + QPoint(1, 1)))
             .toAlignedRect()
             .adjusted(-1, -1, 1, 1));
}

void CViewerCanvas::mousePressEvent(QMouseEvent* event) {
  if (m_drag != Drag::kNone) return;
  const Qt::MouseButton button = event->button();
  const bool pan =
      button == Qt::MiddleButton || (button == Qt::LeftButton && (m_space || !m_paintMode));
  if (pan && !Shown().isNull()) {
    m_drag = Drag::kPan;
    m_lastPos = event->position();
  } else if (m_paintMode && (button == Qt::LeftButton || button == Qt::RightButton)) {
    m_drag = Drag::kPaint;
    m_mask.BeginStroke(m_eraser || button == Qt::RightButton);
    m_lastBrush = CMaskLayer::BrushCentre(PointerImage(event->position()), m_brush);
    UpdateImageRect(m_mask.StrokeTo(m_lastBrush, m_lastBrush, m_brush / 2.0));
  } else {
    return;
  }
  m_dragButton = button;
  UpdateCursor();
  event->accept();
}

void CViewerCanvas::mouseMoveEvent(QMouseEvent* event) {
  SetHover(true, event->position().toPoint());
  if (m_drag == Drag::kPan) {
    m_offset += event->position() - m_lastPos;
    m_lastPos = event->position();
    m_fitted = false;
    ClampView();
    ViewMoved();
  } else if (m_drag == Drag::kPaint) {
    PaintTo(PointerImage(event->position()));
  }
}

void CViewerCanvas::mouseReleaseEvent(QMouseEvent* event) {
  if (m_drag == Drag::kNone || event->button() != m_dragButton) return;
  if (m_drag == Drag::kPaint) PaintTo(PointerImage(event->position()));
  EndDrag();
}

void CViewerCanvas::EndDrag() {
  if (m_drag == Drag::kNone) return;
  const bool painted = m_drag == Drag::kPaint;
  m_drag = Drag::kNone;
  m_dragButton = Qt::NoButton;
  if (painted) {
    m_mask.EndStroke();
    emit StateChanged();
  }
  UpdateCursor();
}

void CViewerCanvas::wheelEvent(QWheelEvent* event) {
  const QPoint delta = event->angleDelta();
  const int notches = delta.y() != 0 ? delta.y() : delta.x();
  if (notches == 0 || Shown().isNull()) return;
  ZoomAround(event->position() + QPointF(0.5, 0.5),
             std::pow(2.0, notches / (120.0 * kNotchesPerDoubling)));
  SetHover(true, event->position().toPoint());
  event->accept();
}

void CViewerCanvas::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space) {
    if (!event->isAutoRepeat()) {
      m_space = true;
      UpdateCursor();
    }
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

void CViewerCanvas::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space) {
    if (!event->isAutoRepeat()) {
      m_space = false;
      UpdateCursor();
    }
    event->accept();
    return;
  }
  QWidget::keyReleaseEvent(event);
}

void CViewerCanvas::SetHover(bool inside, QPoint pos) {
  if (m_paintMode && m_hover) update(BrushOutline(m_hoverPos));
  m_hover = inside;
  m_hoverPos = pos;
  if (m_paintMode && m_hover) update(BrushOutline(m_hoverPos));
  emit StatusChanged();
}

void CViewerCanvas::leaveEvent(QEvent*) { SetHover(false, m_hoverPos); }

void CViewerCanvas::focusOutEvent(QFocusEvent* event) {
  // A Space released while another widget has the focus is never seen here.
  m_space = false;
  UpdateCursor();
  QWidget::focusOutEvent(event);
}

void CViewerCanvas::hideEvent(QHideEvent* event) {
  EndDrag();
  m_space = false;
  m_hover = false;
  QWidget::hideEvent(event);
}

void CViewerCanvas::UpdateCursor() {
  if (m_drag == Drag::kPan)
    setCursor(Qt::ClosedHandCursor);
  else if (m_paintMode && !m_space)
    setCursor(Qt::CrossCursor);
  else
    setCursor(Qt::OpenHandCursor);
}
