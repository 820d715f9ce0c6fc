// Painting of the four panes: which surfaces are drawn, in which order, where, and
// that a picture larger than its pane is clipped and never scaled.
#include <QFontMetrics>
#include <QTemporaryDir>
#include <QTest>

#include "ui/resource.h"
#include "window_fixture.h"

namespace {
QRgb Gradient(int x, int y) { return qRgb(x & 255, y & 255, 77); }

QImage Grab(CMainDlg& dlg) { return dlg.grab().toImage().convertToFormat(QImage::Format_RGB32); }

QRect ClientOf(const CMainDlg& dlg, int pane) {
  const auto* p = qobject_cast<const CPane*>(dlg.GetDlgItem(pane));
  return p ? p->ClientRect().translated(p->pos()) : QRect();
}
}  // namespace

class WindowPaintTest : public QObject {
  Q_OBJECT

 private slots:
  void nothingLoadedDrawsFramesOnly() {
    CMainDlg dlg;
    dlg.Create();
    const QImage shot = Grab(dlg);
    QVERIFY(dlg.PaintedPanes().empty());
    for (int pane : {1015, 1002, 1010, 1003}) {
      const QRect outer = dlg.GetDlgItem(pane)->geometry();
      const QRect client = ClientOf(dlg, pane);
      QCOMPARE(client, outer.adjusted(1, 1, -1, -1));
      QCOMPARE(shot.pixel(outer.topLeft()) & 0xFFFFFF, 0u);
      QCOMPARE(shot.pixel(outer.bottomRight()) & 0xFFFFFF, 0u);
      // The middle of an empty pane shows the dialog's background.
      QCOMPARE(shot.pixel(client.center()), shot.pixel(dlg.width() / 2, dlg.height() - 3));
    }
  }

  void drawsLoadedSurfacesInPaneOrder() {
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    script.Answer(SampleFile("damaged.bmp"));
    Click(dlg, IDC_BTN_LOAD_DAMAGED);
    QImage shot = Grab(dlg);
    QCOMPARE(dlg.PaintedPanes(), (std::vector<int>{1002, 1010}));
    // The result surface is black until the first run.
    const QRect result = ClientOf(dlg, 1010);
    QCOMPARE(shot.pixel(result.topLeft() + QPoint(20, 20)) & 0xFFFFFF, 0u);
    const QImage damaged = CMainDlg::SurfaceImage(dlg.Files().m_surfDamaged);
    const QRect client = ClientOf(dlg, 1002);
    QCOMPARE(shot.pixel(client.topLeft() + QPoint(7, 5)), damaged.pixel(7, 5));

    script.Answer(SampleFile("mask.bmp"));
    Click(dlg, IDC_BTN_LOAD_MASK);
    Grab(dlg);
    QCOMPARE(dlg.PaintedPanes(), (std::vector<int>{1002, 1010, 1003}));
    script.Answer(SampleFile("original.bmp"));
    Click(dlg, IDC_BTN_LOAD_ORIGINAL);
    Grab(dlg);
    QCOMPARE(dlg.PaintedPanes(), (std::vector<int>{1015, 1002, 1010, 1003}));

    // After a run the result pane shows the result surface.
    Click(dlg, IDC_BTN_RUN);
    shot = Grab(dlg);
    const QImage image = CMainDlg::SurfaceImage(dlg.Files().m_surfResult);
    // The last pixel both the pane and the picture hold, whatever the font's size.
    const QPoint last(std::min(result.width(), image.width()) - 1,
                      std::min(result.height(), image.height()) - 1);
    for (QPoint p : {QPoint(0, 0), QPoint(100, 60), last})
      QCOMPARE(shot.pixel(result.topLeft() + p), image.pixel(p));
    QVERIFY(script.boxes.empty());
  }

  void largePictureIsClippedNotScaled() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("besar.bmp"));
    WriteBmp(path, 2000, 1600, Gradient);  // larger than a pane can be at any font size
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    script.Answer(path);
    Click(dlg, IDC_BTN_LOAD_ORIGINAL);
    QVERIFY(script.boxes.empty());
    const QImage shot = Grab(dlg);
    const QRect client = ClientOf(dlg, 1015);
    QVERIFY(client.width() < 2000 && client.height() < 1600);
    // Every pixel of the pane is the picture's pixel at the same offset.
    for (int y = 0; y < client.height(); ++y)
      for (int x = 0; x < client.width(); ++x)
        if ((shot.pixel(client.left() + x, client.top() + y) & 0xFFFFFF) !=
            (Gradient(x, y) & 0xFFFFFF))
          QFAIL(qPrintable(QStringLiteral("pane pixel %1,%2").arg(x).arg(y)));
    // Nothing of the picture outside the pane.
    for (int y = client.top(); y <= client.bottom() + 40; ++y)
      for (int x = client.right() + 1; x <= client.right() + 40; ++x)
        QVERIFY2((shot.pixel(x, y) & 0xFFFFFF) !=
                     (Gradient(x - client.left(), y - client.top()) & 0xFFFFFF),
                 qPrintable(QStringLiteral("outside %1,%2").arg(x).arg(y)));
    for (int x = client.left(); x <= client.right(); ++x)
      for (int y = client.bottom() + 1; y <= client.bottom() + 40; ++y)
        QVERIFY2((shot.pixel(x, y) & 0xFFFFFF) !=
                     (Gradient(x - client.left(), y - client.top()) & 0xFFFFFF),
                 qPrintable(QStringLiteral("below %1,%2").arg(x).arg(y)));
  }

  void smallPictureLeavesTheRestOfThePane() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kecil.bmp"));
    WriteBmp(path, 10, 6, [](int, int) { return qRgb(200, 30, 40); });
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    const QImage empty = Grab(dlg);
    script.Answer(path);
    Click(dlg, IDC_BTN_LOAD_DAMAGED);
    const QImage shot = Grab(dlg);
    const QRect client = ClientOf(dlg, 1002);
    QCOMPARE(shot.pixel(client.topLeft()), qRgb(200, 30, 40));
    QCOMPARE(shot.pixel(client.topLeft() + QPoint(9, 5)), qRgb(200, 30, 40));
    for (QPoint p : {QPoint(10, 0), QPoint(0, 6), QPoint(10, 6), QPoint(100, 100)})
      QCOMPARE(shot.pixel(client.topLeft() + p), empty.pixel(client.topLeft() + p));
  }

  // The automatic mode's chart: one curve across the pane, kept below the label
  // line, where the newest values (the highest, as the PSNR rises) would hide it.
  void chartCurveSpansThePaneBelowItsLabel() {
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    LoadSamples(dlg, script);
    Click(dlg, IDC_BTN_AUTO);
    QVERIFY(dlg.ChartValues().size() >= 2);
    QVERIFY(dlg.ChartValues().back() > dlg.ChartValues().front());
    const QImage shot = Grab(dlg);
    const QRect area = ClientOf(dlg, IDC_CHART).adjusted(2, 2, -2, -2);
    const int labelBottom = area.top() + QFontMetrics(dlg.font()).height();
    int inLabel = 0;
    std::vector<bool> columns(std::size_t(area.width()), false);
    for (int y = area.top(); y <= area.bottom(); ++y)
      for (int x = area.left(); x <= area.right(); ++x) {
        const QRgb c = shot.pixel(x, y);
        if (qBlue(c) <= qRed(c) + 60) continue;  // not the curve's blue
        if (y < labelBottom)
          ++inLabel;
        else
          columns[std::size_t(x - area.left())] = true;
      }
    QCOMPARE(inLabel, 0);
    QVERIFY(std::all_of(columns.begin(), columns.end(), [](bool c) { return c; }));
    QVERIFY(script.boxes.empty());
  }

  void paneChangeRepaintsThePane() {
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTest::qWait(50);
    script.Answer(SampleFile("damaged.bmp"));
    Click(dlg, IDC_BTN_LOAD_DAMAGED);
    QTRY_VERIFY(dlg.PaintedPanes() == (std::vector<int>{1002, 1010}));
  }
};

QTEST_MAIN(WindowPaintTest)
#include "window_paint_test.moc"
