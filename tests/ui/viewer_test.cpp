// The picture viewer driven through real events: wheel, mouse and keys on the
// canvas and the window, checked against what the canvas draws. The test pictures
// encode each pixel's coordinates (and which picture it is) in its colour, so a
// grab of the canvas tells which image pixel is drawn where.
#include <QAction>
#include <QApplication>
#include <QMouseEvent>
#include <QSpinBox>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "ui/picture_viewer.h"

namespace {
// Neighbouring pixels get far-apart colours, so any blending shows: R and G are x
// and y mod 256 scrambled by an odd factor, B = id * 64 + (x / 256) * 8 + y / 256.
constexpr int kScramble = 167;
int Unscramble(int v) {
  for (int i = 0; i < 256; ++i)
    if (((i * kScramble) & 255) == v) return i;
  return -1;
}

QImage Coded(int w, int h, int id) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < w; ++x)
      line[x] = qRgb((x * kScramble) & 255, (y * kScramble) & 255,
                     (id << 6) | ((x >> 8) << 3) | (y >> 8));
  }
  return image;
}

struct Decoded {
  int x, y, id;
};
Decoded Decode(QRgb c) {
  const int b = qBlue(c);
  return {(((b >> 3) & 7) << 8) | Unscramble(qRed(c)), ((b & 7) << 8) | Unscramble(qGreen(c)),
          b >> 6};
}

// A smooth picture: R grows from 0 to 255 left to right, G top to bottom, B = 0.
QImage Ramp(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgb(x * 255 / (w - 1), y * 255 / (h - 1), 0));
  return image;
}

struct RecordingHost : CViewerHost {
  std::vector<QImage> used, saved;
  void UseMask(const QImage& mask) override { used.push_back(mask); }
  void SaveMask(const QImage& mask) override { saved.push_back(mask); }
};

// A viewer with a damaged picture (id 0), shown and active.
struct Viewer {
  RecordingHost host;
  std::unique_ptr<CPictureViewer> window;
  CViewerCanvas* canvas = nullptr;

  explicit Viewer(const QImage& damaged, QSize size = QSize(800, 600)) {
    window = std::make_unique<CPictureViewer>(&host);
    window->SetPicture(ViewerPicture::kDamaged, damaged);
    canvas = window->Canvas();
    window->resize(size);
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
  }
  void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(window.get(), Qt::Key(key), modifiers);
  }
  QAction* Action(const QString& text) const {
    for (QAction* action : window->actions())
      if (action->text() == text) return action;
    return nullptr;
  }
  QImage Shot() const { return canvas->grab().toImage(); }
  // The image pixel drawn at a widget pixel.
  Decoded At(QPoint widget) const { return Decode(Shot().pixel(widget)); }
  void Wheel(QPoint pos, int delta) {
    QWheelEvent event(QPointF(pos), QPointF(canvas->mapToGlobal(pos)), QPoint(), QPoint(0, delta),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(canvas, &event);
  }
  // A move with no button held (QTest would move the cursor instead).
  void Hover(QPoint pos) {
    QMouseEvent event(QEvent::MouseMove, QPointF(pos), QPointF(canvas->mapToGlobal(pos)),
                      Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(canvas, &event);
  }
  void Drag(Qt::MouseButton button, const std::vector<QPoint>& points) {
    QTest::mousePress(canvas, button, Qt::NoModifier, points.front());
    for (std::size_t i = 1; i < points.size(); ++i) QTest::mouseMove(canvas, points[i]);
    QTest::mouseRelease(canvas, button, Qt::NoModifier, points.back());
  }
  // The widget pixel that shows the centre of an image pixel.
  QPoint Over(double x, double y) const {
    const QPointF w = canvas->WidgetAt(QPointF(x + 0.5, y + 0.5));
    return QPoint(int(std::floor(w.x())), int(std::floor(w.y())));
  }
  bool Masked(int x, int y) const {
    return window->PaintedMask().pixel(x, y) == qRgb(255, 255, 255);
  }
};

// The share of sampled canvas pixels that show exactly the picture pixel the view
// maps them to.
double Agreement(const Viewer& v, const QImage& picture) {
  const QImage shot = v.Shot();
  int total = 0, same = 0;
  for (int wy = 1; wy < shot.height(); wy += 3) {
    for (int wx = 1; wx < shot.width(); wx += 3) {
      const QPointF p = v.canvas->ImageAt(QPointF(wx + 0.5, wy + 0.5));
      const QPoint pixel(int(std::floor(p.x())), int(std::floor(p.y())));
      if (!picture.rect().contains(pixel)) continue;
      ++total;
      same += shot.pixel(wx, wy) == picture.pixel(pixel);
    }
  }
  return total > 0 ? double(same) / total : 0.0;
}

double SegmentDistance(QPointF p, QPointF a, QPointF b) {
  const QPointF d = b - a;
  const double length2 = QPointF::dotProduct(d, d);
  const double t =
      length2 > 0 ? std::clamp(QPointF::dotProduct(p - a, d) / length2, 0.0, 1.0) : 0.0;
  const QPointF q = a + t * d - p;
  return std::hypot(q.x(), q.y());
}
}  // namespace

class ViewerTest : public QObject {
  Q_OBJECT
 private slots:
  void wheelZoomsAroundThePointer();
  void fitAndActualSize();
  void toggleKeepsZoomAndCentre();
  void panning();
  void strokesMarkThickLines();
  void brushSizeAndOutline();
  void eraserUndoRedoClear();
  void maskHandedToTheHost();
  void overlayTintsMaskedPixels();
  void keysAndEscape();
  void bigPictureDrawsOnlyWhatIsVisible();
};

void ViewerTest::wheelZoomsAroundThePointer() {
  const QImage picture = Coded(600, 400, 0);
  Viewer v(picture);
  v.Key(Qt::Key_1, Qt::ControlModifier);
  QCOMPARE(v.canvas->Zoom(), 1.0);
  const QPoint pointer(v.canvas->width() / 3, v.canvas->height() / 3);
  const Decoded under = v.At(pointer);

  for (int notch = 0; notch < 8; ++notch) v.Wheel(pointer, 120);
  QVERIFY(std::abs(v.canvas->Zoom() - 4.0) < 1e-9);
  const Decoded after = v.At(pointer);
  QCOMPARE(after.x, under.x);
  QCOMPARE(after.y, under.y);
  // Zoomed in, each image pixel is a square of screen pixels of one colour.
  QVERIFY(Agreement(v, picture) > 0.97);
  const QImage shot = v.Shot();
  int run = 0;
  for (int x = pointer.x(); shot.pixel(x, pointer.y()) == shot.pixel(pointer); ++x) ++run;
  for (int x = pointer.x() - 1; shot.pixel(x, pointer.y()) == shot.pixel(pointer); --x) ++run;
  QCOMPARE(run, 4);

  // Out past 100 %: the image point under the pointer still stays.
  const QPointF point = v.canvas->ImageAt(QPointF(pointer) + QPointF(0.5, 0.5));
  for (int notch = 0; notch < 10; ++notch) v.Wheel(pointer, -120);
  QVERIFY(v.canvas->Zoom() < 1.0);
  const QPointF stayed = v.canvas->ImageAt(QPointF(pointer) + QPointF(0.5, 0.5));
  QVERIFY(std::hypot(stayed.x() - point.x(), stayed.y() - point.y()) < 1e-6);

  // The range ends at 1/32 and 32.
  for (int notch = 0; notch < 60; ++notch) v.Wheel(pointer, 120);
  QCOMPARE(v.canvas->Zoom(), CViewerCanvas::kMaxZoom);
  for (int notch = 0; notch < 120; ++notch) v.Wheel(pointer, -120);
  QCOMPARE(v.canvas->Zoom(), CViewerCanvas::kMinZoom);
}

void ViewerTest::fitAndActualSize() {
  // Wider than the window: fitted, it spans the width and sits in the middle.
  Viewer v(Ramp(1600, 300));
  const int w = v.canvas->width(), h = v.canvas->height();
  QVERIFY(std::abs(v.canvas->Zoom() - double(w) / 1600.0) < 1e-9);
  const QImage shot = v.Shot();
  const QRgb background = shot.pixel(w / 2, 2);
  QCOMPARE(shot.pixel(w / 2, h - 3), background);
  int top = 0;
  while (shot.pixel(w / 2, top) == background) ++top;
  int bottom = h - 1;
  while (shot.pixel(w / 2, bottom) == background) --bottom;
  QVERIFY(std::abs((bottom - top + 1) - 300.0 * v.canvas->Zoom()) <= 2.0);
  QVERIFY(std::abs(top - (h - 1 - bottom)) <= 1);
  QVERIFY(qRed(shot.pixel(0, h / 2)) <= 2 && qBlue(shot.pixel(0, h / 2)) == 0);
  QVERIFY(qRed(shot.pixel(w - 1, h / 2)) >= 253 && qBlue(shot.pixel(w - 1, h / 2)) == 0);

  // 100 %: one screen pixel per image pixel, around the same centre.
  const QImage wide = Coded(1600, 300, 0);
  v.window->SetPicture(ViewerPicture::kDamaged, wide);
  const QPointF centre = v.canvas->CentrePoint();
  v.Key(Qt::Key_1, Qt::ControlModifier);
  QCOMPARE(v.canvas->Zoom(), 1.0);
  QVERIFY(std::abs(v.canvas->CentrePoint().x() - centre.x()) <= 1.0);
  QCOMPARE(Agreement(v, wide), 1.0);
  const Decoded a = v.At(QPoint(w / 2, h / 2)), b = v.At(QPoint(w / 2 + 1, h / 2 + 1));
  QCOMPARE(b.x - a.x, 1);
  QCOMPARE(b.y - a.y, 1);

  // F fits again; while fitted the picture follows the window's size.
  v.Key(Qt::Key_F);
  QVERIFY(std::abs(v.canvas->Zoom() - double(w) / 1600.0) < 1e-9);
  v.window->resize(v.window->width() - 200, v.window->height());
  QTRY_VERIFY(v.canvas->width() == w - 200);
  QVERIFY(std::abs(v.canvas->Zoom() - double(w - 200) / 1600.0) < 1e-9);

  // A small picture is fitted up: both corners show, blown up without blending.
  const QImage small = Coded(100, 80, 0);
  Viewer s(small);
  QVERIFY(s.canvas->Zoom() > 5.0);
  QVERIFY(Agreement(s, small) > 0.97);
  const QPointF corner = s.canvas->WidgetAt(QPointF(0.5, 0.5));
  const QPointF last = s.canvas->WidgetAt(QPointF(99.5, 79.5));
  const Decoded first = s.At(corner.toPoint()), end = s.At(last.toPoint());
  QCOMPARE(first.x + first.y, 0);
  QCOMPARE(end.x, 99);
  QCOMPARE(end.y, 79);
}

void ViewerTest::toggleKeepsZoomAndCentre() {
  Viewer v(Coded(600, 400, 0));
  v.window->SetPicture(ViewerPicture::kResult, Coded(600, 400, 1));
  QAction* original = v.Action(QStringLiteral("Original"));
  QVERIFY(original && !original->isEnabled());
  v.Key(Qt::Key_3);  // not available: nothing changes
  QCOMPARE(v.window->Current(), ViewerPicture::kDamaged);
  v.window->SetPicture(ViewerPicture::kOriginal, Coded(600, 400, 2));
  QVERIFY(original->isEnabled());

  const QPoint middle(v.canvas->width() / 2, v.canvas->height() / 2);
  for (int notch = 0; notch < 6; ++notch) v.Wheel(middle + QPoint(40, -30), 120);
  const double zoom = v.canvas->Zoom();
  const QPointF centre = v.canvas->CentrePoint();
  const Decoded seen = v.At(middle);
  QCOMPARE(seen.id, 0);

  for (const int id : {1, 2, 0, 2}) {
    v.Key(Qt::Key_1 + id);
    QCOMPARE(v.window->Current(), ViewerPicture(id));
    QCOMPARE(v.canvas->Zoom(), zoom);
    QCOMPARE(v.canvas->CentrePoint(), centre);
    const Decoded now = v.At(middle);
    QCOMPARE(now.id, id);
    QCOMPARE(now.x, seen.x);
    QCOMPARE(now.y, seen.y);
  }

  // A new result while it is shown replaces it in place.
  v.Key(Qt::Key_2);
  v.window->SetPicture(ViewerPicture::kResult, Coded(600, 400, 3));
  QCOMPARE(v.canvas->Zoom(), zoom);
  QCOMPARE(v.canvas->CentrePoint(), centre);
  QCOMPARE(v.At(middle).id, 3);
  QCOMPARE(v.At(middle).x, seen.x);
}

void ViewerTest::panning() {
  const QImage picture = Coded(600, 400, 0);
  Viewer v(picture);
  v.Key(Qt::Key_1, Qt::ControlModifier);
  const QPoint from(300, 250), to(220, 190);
  const Decoded grabbed = v.At(from);
  v.Drag(Qt::LeftButton, {from, QPoint(260, 220), to});
  const Decoded dropped = v.At(to);
  QCOMPARE(dropped.x, grabbed.x);
  QCOMPARE(dropped.y, grabbed.y);

  // The status line names the pixel under the pointer and its colour.
  v.Hover(to);
  const QRgb colour = picture.pixel(dropped.x, dropped.y);
  QVERIFY(
      v.window->StatusText().contains(QStringLiteral("x %1  y %2").arg(dropped.x).arg(dropped.y)));
  QVERIFY(v.window->StatusText().contains(
      QStringLiteral("R %1  G %2  B %3").arg(qRed(colour)).arg(qGreen(colour)).arg(qBlue(colour))));
  QVERIFY(v.window->StatusText().contains(QStringLiteral("100 %")));

  // In paint mode the middle button and Space + left drag pan and paint nothing.
  v.Key(Qt::Key_P);
  QVERIFY(v.canvas->PaintMode());
  const QImage before = v.window->PaintedMask();
  v.Drag(Qt::MiddleButton, {to, from});
  QCOMPARE(v.At(from).x, grabbed.x);
  QCOMPARE(v.At(from).y, grabbed.y);
  QTest::keyPress(v.canvas, Qt::Key_Space);
  v.Drag(Qt::LeftButton, {from, to});
  QTest::keyRelease(v.canvas, Qt::Key_Space);
  QCOMPARE(v.At(to).x, grabbed.x);
  QCOMPARE(v.At(to).y, grabbed.y);
  QCOMPARE(v.window->PaintedMask(), before);
  // Without Space the left button paints again.
  v.Drag(Qt::LeftButton, {from, to});
  QVERIFY(v.window->PaintedMask() != before);
}

void ViewerTest::strokesMarkThickLines() {
  Viewer v(Coded(600, 400, 0));
  v.Key(Qt::Key_1, Qt::ControlModifier);
  v.Key(Qt::Key_P);
  v.canvas->SetBrushSize(9);
  // Three points far apart, each reached in one move: the strokes must not break.
  const std::vector<QPoint> points = {QPoint(150, 120), QPoint(520, 300), QPoint(200, 420)};
  std::vector<QPointF> centres;
  for (const QPoint& p : points) {
    const Decoded d = v.At(p);
    centres.push_back(QPointF(d.x + 0.5, d.y + 0.5));
  }
  v.Drag(Qt::LeftButton, points);

  const QImage mask = v.window->PaintedMask();
  int painted = 0;
  for (int y = 0; y < mask.height(); ++y) {
    for (int x = 0; x < mask.width(); ++x) {
      const QPointF p(x + 0.5, y + 0.5);
      const double d = std::min(SegmentDistance(p, centres[0], centres[1]),
                                SegmentDistance(p, centres[1], centres[2]));
      if (std::abs(d - 4.5) < 1e-6) continue;  // on the brush's edge either way is right
      const bool expected = d < 4.5;
      painted += expected;
      if ((mask.pixel(x, y) == qRgb(255, 255, 255)) != expected)
        QFAIL(qPrintable(QStringLiteral("pixel %1,%2 at distance %3").arg(x).arg(y).arg(d)));
    }
  }
  QVERIFY(painted > 9 * 600);

  // Across a stroke the mark is as wide as the brush, even or odd, at any zoom.
  for (const int size : {1, 2, 10, 31}) {
    v.Key(Qt::Key_Delete);
    v.canvas->SetBrushSize(size);
    v.Wheel(QPoint(400, 300), 120);
    v.Drag(Qt::LeftButton, {QPoint(100, 300), QPoint(300, 300)});
    const int column = int(std::floor(v.canvas->ImageAt(QPointF(200.5, 300.5)).x()));
    int across = 0;
    for (int y = 0; y < 400; ++y) across += v.Masked(column, y);
    QCOMPARE(across, size);
  }
}

void ViewerTest::brushSizeAndOutline() {
  Viewer v(Coded(600, 400, 0));
  QSpinBox* spin = v.window->findChild<QSpinBox*>();
  QVERIFY(spin);
  v.Key(Qt::Key_P);
  v.canvas->SetBrushSize(20);
  v.Key(Qt::Key_BracketRight);
  QVERIFY(v.canvas->BrushSize() > 20);
  QCOMPARE(spin->value(), v.canvas->BrushSize());
  for (int i = 0; i < 40; ++i) v.Key(Qt::Key_BracketRight);
  QCOMPARE(v.canvas->BrushSize(), CViewerCanvas::kMaxBrush);
  for (int i = 0; i < 60; ++i) v.Key(Qt::Key_BracketLeft);
  QCOMPARE(v.canvas->BrushSize(), CViewerCanvas::kMinBrush);
  spin->setValue(41);
  QCOMPARE(v.canvas->BrushSize(), 41);

  // The outline is a circle of the brush's diameter at the current zoom (2).
  v.Key(Qt::Key_1, Qt::ControlModifier);
  const QPoint middle(v.canvas->width() / 2, v.canvas->height() / 2);
  for (int notch = 0; notch < 4; ++notch) v.Wheel(middle, 120);
  QVERIFY(std::abs(v.canvas->Zoom() - 2.0) < 1e-9);
  v.Hover(QPoint(5, 5));
  const QImage plain = v.Shot();
  v.Hover(middle);
  const QImage hovered = v.Shot();
  for (const QPoint& dir : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
    int changedNear = 0;
    for (int r = 38; r <= 44; ++r)
      changedNear += hovered.pixel(middle + dir * r) != plain.pixel(middle + dir * r);
    QVERIFY(changedNear > 0);
    for (int r : {10, 30, 50})
      QCOMPARE(hovered.pixel(middle + dir * r), plain.pixel(middle + dir * r));
  }
}

void ViewerTest::eraserUndoRedoClear() {
  Viewer v(Coded(300, 200, 0));
  // Near-black values count as masked too.
  QImage loaded(300, 200, QImage::Format_RGB888);
  loaded.fill(Qt::black);
  for (int y = 50; y < 150; ++y)
    for (int x = 50; x < 250; ++x) loaded.setPixel(x, y, (x % 2) ? qRgb(1, 0, 0) : qRgb(0, 0, 7));
  v.window->SetMask(loaded);
  QVERIFY(v.Masked(50, 50) && v.Masked(249, 149) && !v.Masked(49, 50) && !v.Masked(250, 149));
  QVERIFY(!v.Action(QStringLiteral("Undo"))->isEnabled());

  v.Key(Qt::Key_1, Qt::ControlModifier);
  v.Key(Qt::Key_P);
  v.canvas->SetBrushSize(5);
  // Right drag erases a horizontal line through the block.
  v.Drag(Qt::RightButton, {v.Over(20, 100), v.Over(280, 100)});
  QVERIFY(!v.Masked(150, 100) && !v.Masked(150, 102) && v.Masked(150, 103) && v.Masked(150, 97));
  // E: the left button erases too, a vertical line.
  v.Key(Qt::Key_E);
  QVERIFY(v.canvas->Eraser());
  v.Drag(Qt::LeftButton, {v.Over(100, 20), v.Over(100, 180)});
  QVERIFY(!v.Masked(100, 60) && v.Masked(103, 60));
  const QImage both = v.window->PaintedMask();

  v.Key(Qt::Key_Z, Qt::ControlModifier);
  QVERIFY(v.Masked(100, 60) && !v.Masked(150, 100));
  v.Key(Qt::Key_Z, Qt::ControlModifier);
  QImage block(300, 200, QImage::Format_RGB888);
  block.fill(Qt::black);
  for (int y = 50; y < 150; ++y)
    for (int x = 50; x < 250; ++x) block.setPixel(x, y, qRgb(255, 255, 255));
  QCOMPARE(v.window->PaintedMask(), block);
  QVERIFY(!v.Action(QStringLiteral("Undo"))->isEnabled());
  v.Key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  QVERIFY(!v.Masked(150, 100) && v.Masked(100, 60));
  v.Key(Qt::Key_Y, Qt::ControlModifier);
  QCOMPARE(v.window->PaintedMask(), both);

  // Clear is a step like any other.
  v.Key(Qt::Key_Delete);
  QImage black(300, 200, QImage::Format_RGB888);
  black.fill(Qt::black);
  QCOMPARE(v.window->PaintedMask(), black);
  v.Key(Qt::Key_Z, Qt::ControlModifier);
  QCOMPARE(v.window->PaintedMask(), both);

  // A new stroke after an undo drops what could be redone.
  v.Key(Qt::Key_Z, Qt::ControlModifier);
  QVERIFY(v.Action(QStringLiteral("Redo"))->isEnabled());
  v.Key(Qt::Key_E);  // paint again
  v.Drag(Qt::LeftButton, {v.Over(10, 10), v.Over(20, 10)});
  QVERIFY(v.Masked(15, 10));
  QVERIFY(!v.Action(QStringLiteral("Redo"))->isEnabled());
  // A stroke that changes nothing is no step: one undo takes the last real one.
  v.Drag(Qt::LeftButton, {v.Over(10, 10), v.Over(20, 10)});
  v.Key(Qt::Key_Z, Qt::ControlModifier);
  QVERIFY(!v.Masked(15, 10));
}

void ViewerTest::maskHandedToTheHost() {
  Viewer v(Coded(320, 240, 0));
  v.Key(Qt::Key_1, Qt::ControlModifier);
  v.Key(Qt::Key_P);
  v.canvas->SetBrushSize(7);
  v.Drag(Qt::LeftButton, {v.Over(30, 40), v.Over(200, 90)});

  QToolBar* bar = v.window->findChild<QToolBar*>();
  QTest::mouseClick(bar->widgetForAction(v.Action(QStringLiteral("Use this mask"))),
                    Qt::LeftButton);
  v.Key(Qt::Key_S, Qt::ControlModifier);
  QCOMPARE(v.host.used.size(), std::size_t(1));
  QCOMPARE(v.host.saved.size(), std::size_t(1));
  const QImage mask = v.host.used.front();
  QCOMPARE(mask.size(), QSize(320, 240));
  QVERIFY(mask.format() == QImage::Format_RGB888 || mask.format() == QImage::Format_RGB32);
  QCOMPARE(v.host.saved.front(), mask);
  int white = 0;
  for (int y = 0; y < mask.height(); ++y) {
    for (int x = 0; x < mask.width(); ++x) {
      const QRgb c = mask.pixel(x, y);
      QVERIFY(c == qRgb(0, 0, 0) || c == qRgb(255, 255, 255));
      white += c == qRgb(255, 255, 255);
    }
  }
  QVERIFY(mask.pixel(30, 40) == qRgb(255, 255, 255) && mask.pixel(115, 65) == qRgb(255, 255, 255));
  QVERIFY(mask.pixel(115, 72) == qRgb(0, 0, 0) && mask.pixel(30, 50) == qRgb(0, 0, 0));
  QVERIFY(white > 7 * 170 && white < 8 * 190);

  // Without a damaged picture there is no mask to hand over.
  v.window->SetPicture(ViewerPicture::kDamaged, QImage());
  QVERIFY(!v.Action(QStringLiteral("Use this mask"))->isEnabled());
  QVERIFY(!v.canvas->PaintMode());
  v.Key(Qt::Key_Return, Qt::ControlModifier);
  v.Key(Qt::Key_S, Qt::ControlModifier);
  QCOMPARE(v.host.used.size(), std::size_t(1));
  QCOMPARE(v.host.saved.size(), std::size_t(1));
}

void ViewerTest::overlayTintsMaskedPixels() {
  const QImage picture = Coded(400, 300, 0);
  Viewer v(picture);
  QImage loaded(400, 300, QImage::Format_RGB32);
  loaded.fill(Qt::black);
  for (int y = 100; y < 200; ++y)
    for (int x = 100; x < 300; ++x) loaded.setPixel(x, y, qRgb(255, 255, 255));
  v.window->SetMask(loaded);
  v.Key(Qt::Key_1, Qt::ControlModifier);
  const QPoint masked = v.Over(150, 150);
  const QPoint clear = v.Over(50, 50);
  const QImage off = v.Shot();
  QCOMPARE(off.pixel(masked), picture.pixel(150, 150));

  v.Key(Qt::Key_M);
  QVERIFY(v.canvas->Overlay());
  const QImage on = v.Shot();
  QCOMPARE(on.pixel(clear), off.pixel(clear));
  const QRgb base = picture.pixel(150, 150), tinted = on.pixel(masked);
  QVERIFY(std::abs(qRed(tinted) - (qRed(base) + 255) / 2) <= 2);
  QVERIFY(std::abs(qGreen(tinted) - qGreen(base) / 2) <= 2);
  QVERIFY(std::abs(qBlue(tinted) - qBlue(base) / 2) <= 2);

  // Zoomed far out, a one-pixel line of the mask shows all along, over a grey
  // picture where any red is the tint.
  loaded.fill(Qt::black);
  for (int x = 0; x < 400; ++x) loaded.setPixel(x, 50 + x / 2, qRgb(255, 255, 255));
  v.window->SetMask(loaded);
  QImage grey(400, 300, QImage::Format_RGB32);
  grey.fill(qRgb(128, 128, 128));
  v.window->SetPicture(ViewerPicture::kDamaged, grey);
  const QPoint middle(v.canvas->width() / 2, v.canvas->height() / 2);
  // 2^-2.75: between two half-size levels, where sampling the larger one skips rows.
  for (int notch = 0; notch < 11; ++notch) v.Wheel(middle, -120);
  QVERIFY(v.canvas->Zoom() < 0.15);
  const QImage far = v.Shot();
  for (int x = 10; x < 390; x += 3) {
    const QPoint at = v.canvas->WidgetAt(QPointF(x + 0.5, 50.5 + x / 2)).toPoint();
    int reddest = 0;
    for (int dy = -2; dy <= 2; ++dy) {
      const QRgb c = far.pixel(at + QPoint(0, dy));
      reddest = std::max(reddest, qRed(c) - qGreen(c));
    }
    QVERIFY2(reddest > 60, qPrintable(QStringLiteral("x %1: %2").arg(x).arg(reddest)));
  }
  v.window->SetPicture(ViewerPicture::kDamaged, picture);

  v.Key(Qt::Key_M);
  QVERIFY(!v.canvas->Overlay());
  v.Key(Qt::Key_1, Qt::ControlModifier);
  QCOMPARE(v.Shot().pixel(v.Over(150, 151)), picture.pixel(150, 151));
}

void ViewerTest::keysAndEscape() {
  Viewer v(Coded(200, 100, 0));
  v.Key(Qt::Key_P);
  v.Drag(Qt::LeftButton, {QPoint(100, 100), QPoint(200, 150)});
  v.Key(Qt::Key_Escape);
  QVERIFY(!v.window->isVisible());
  QVERIFY(v.host.used.empty() && v.host.saved.empty());
  // Opened again, the painting is still there.
  v.window->show();
  QVERIFY(v.canvas->Mask().CanUndo());

  // Every action has a key, and its tool tip names it.
  QVERIFY(v.window->actions().size() >= 18);
  for (const QAction* action : v.window->actions()) {
    QVERIFY2(!action->shortcut().isEmpty(), qPrintable(action->text()));
    QVERIFY2(action->toolTip().contains(action->shortcut().toString(QKeySequence::NativeText)),
             qPrintable(action->toolTip()));
  }
}

// Drawn from half-size levels and only where visible, a big picture still shows
// the right pixels wherever it is zoomed and panned to (how long a frame takes is
// bench/viewer_bench.cpp's).
void ViewerTest::bigPictureDrawsOnlyWhatIsVisible() {
  QImage big(6000, 6000, QImage::Format_RGB32);
  for (int y = 0; y < big.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(big.scanLine(y));
    for (int x = 0; x < big.width(); ++x)
      line[x] = qRgb(x * 255 / 6000, y * 255 / 6000, (x ^ y) & 255);
  }
  Viewer v(big);
  const QPoint middle(v.canvas->width() / 2, v.canvas->height() / 2);
  // Zoomed out, each screen pixel shows the smooth ramps of the picture around the
  // point it maps to (the level's average), wherever the wheel left the view.
  for (int delta : {-40, 120, 120, -40}) {
    v.Wheel(middle + QPoint(delta, 0), delta);
    QVERIFY(v.canvas->Zoom() < 0.5);
    const QImage shot = v.Shot();
    int worst = 0, seen = 0;
    for (int wy = 5; wy < shot.height(); wy += 37)
      for (int wx = 5; wx < shot.width(); wx += 41) {
        const QPointF p = v.canvas->ImageAt(QPointF(wx + 0.5, wy + 0.5));
        if (p.x() < 64 || p.y() < 64 || p.x() > 6000 - 64 || p.y() > 6000 - 64) continue;
        const QRgb drawn = shot.pixel(wx, wy);
        worst = std::max({worst, std::abs(qRed(drawn) - int(p.x() * 255 / 6000)),
                          std::abs(qGreen(drawn) - int(p.y() * 255 / 6000))});
        ++seen;
      }
    QVERIFY(seen > 100);
    QVERIFY2(worst <= 3, qPrintable(QString::number(worst)));
  }
  // At one screen pixel per image pixel, every pan shows exactly the pixels mapped.
  v.Key(Qt::Key_1, Qt::ControlModifier);
  QCOMPARE(v.canvas->Zoom(), 1.0);
  for (int i = 0; i < 4; ++i) {
    const QPointF before = v.canvas->CentrePoint();
    v.Drag(Qt::LeftButton, {middle, middle + QPoint(i % 2 ? 30 : -30, 20)});
    QVERIFY(v.canvas->CentrePoint() != before);
    QCOMPARE(Agreement(v, big), 1.0);
  }

  // A stroke's undo step holds the tiles it changed, not the mask.
  v.Key(Qt::Key_P);
  v.Drag(Qt::LeftButton, {middle, middle + QPoint(100, 0)});
  QVERIFY(v.canvas->Mask().CanUndo());
  QVERIFY(v.canvas->Mask().HistoryBytes() < 64 * 1024);
}

QTEST_MAIN(ViewerTest)
#include "viewer_test.moc"
