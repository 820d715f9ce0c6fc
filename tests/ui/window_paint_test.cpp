// Painting of the four panes: which surfaces are drawn, in which order, where; a
// picture larger than its pane is scaled down to show it whole (its aspect kept),
// a smaller one is never enlarged; the panes grow with the window.
#include <QEvent>
#include <QFontMetrics>
#include <QTemporaryDir>
#include <QTest>

#include "ui/resource.h"
#include "window_fixture.h"

namespace {
// Counts the paint events a widget receives.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  int count = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++count;
    return QObject::eventFilter(watched, event);
  }
};

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
    // The 320 x 240 sample is wider than the pane: shown across its width, 4 : 3.
    const QRect client = ClientOf(dlg, 1002);
    const QRect shown = dlg.PictureRect(1002);
    QCOMPARE(shown.topLeft(), client.topLeft());
    QCOMPARE(shown.width(), std::min(client.width(), 320));
    QVERIFY(std::abs(shown.height() - shown.width() * 3 / 4) <= 1);

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
    const QImage image =
        CMainDlg::SurfaceImage(dlg.Files().m_surfResult)
            .scaled(dlg.PictureRect(1010).size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QPoint last(image.width() - 1, image.height() - 1);
    for (QPoint p : {QPoint(0, 0), QPoint(100, 60), last})
      QCOMPARE(shot.pixel(result.topLeft() + p), image.pixel(p));
    QVERIFY(script.boxes.empty());
  }

  // A picture larger than any pane is shown whole, scaled down with its aspect;
  // each drawn pixel is the picture near the matching place.
  void largePictureIsShownWhole() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("besar.bmp"));
    const auto smooth = [](int x, int y) { return qRgb(x * 255 / 1999, y * 255 / 999, 77); };
    WriteBmp(path, 2000, 1000, smooth);
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    script.Answer(path);
    Click(dlg, IDC_BTN_LOAD_ORIGINAL);
    QVERIFY(script.boxes.empty());
    const QImage shot = Grab(dlg);
    const QRect client = ClientOf(dlg, 1015);
    const QRect shown = dlg.PictureRect(1015);
    QCOMPARE(shown.topLeft(), client.topLeft());
    QCOMPARE(shown.width(), client.width());
    QVERIFY(std::abs(shown.height() * 2 - shown.width()) <= 2);
    const double scale = 2000.0 / shown.width();
    for (int y = 2; y < shown.height() - 2; y += 7)
      for (int x = 2; x < shown.width() - 2; x += 7) {
        const QRgb got = shot.pixel(shown.left() + x, shown.top() + y);
        const QRgb want = smooth(int((x + 0.5) * scale), int((y + 0.5) * scale));
        if (std::abs(qRed(got) - qRed(want)) > 4 || std::abs(qGreen(got) - qGreen(want)) > 4)
          QFAIL(qPrintable(QStringLiteral("pane pixel %1,%2").arg(x).arg(y)));
      }
    // Below the picture the pane is empty.
    const QImage empty = [] {
      CMainDlg other;
      other.Create();
      return Grab(other);
    }();
    const QPoint below(client.left() + 5, shown.bottom() + 3);
    QCOMPARE(shot.pixel(below), empty.pixel(below));
  }

  // The window grows: the picture grid with it, the column beside it moves right,
  // the rows under it move down, and the pictures are shown larger (up to 1 : 1).
  void panesGrowWithTheWindow() {
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    script.Answer(SampleFile("damaged.bmp"));
    Click(dlg, IDC_BTN_LOAD_DAMAGED);
    const QRect pane = dlg.GetDlgItem(1002)->geometry();
    const QRect save = dlg.GetDlgItem(IDC_BTN_SAVE)->geometry();
    const QRect exit = dlg.GetDlgItem(IDCANCEL)->geometry();
    const QRect shown = dlg.PictureRect(1002);
    QVERIFY(shown.width() < 320);
    dlg.resize(dlg.size() + QSize(400, 300));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTRY_COMPARE(dlg.Client()->size(), dlg.DesignSize() + QSize(400, 300));
    QVERIFY(dlg.GetDlgItem(1002)->width() > pane.width() + 150);
    QVERIFY(dlg.GetDlgItem(1002)->height() > pane.height() + 100);
    QCOMPARE(dlg.GetDlgItem(IDC_BTN_SAVE)->geometry(), save.translated(400, 0));
    QCOMPARE(dlg.GetDlgItem(IDCANCEL)->geometry(), exit.translated(0, 300));
    QCOMPARE(dlg.PictureRect(1002).size(), QSize(320, 240));  // never enlarged past 1 : 1
    // Smaller than the layout can go: the page keeps its smallest size and scrolls.
    dlg.resize(400, 300);
    QTRY_COMPARE(dlg.Client()->size(), dlg.MinimumClientSize());
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
    PaintCounter paints(dlg.Client());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    // The first paint is over before the load, so any later one is the load's.
    QTRY_VERIFY(paints.count > 0);
    script.Answer(SampleFile("damaged.bmp"));
    Click(dlg, IDC_BTN_LOAD_DAMAGED);
    QTRY_VERIFY(dlg.PaintedPanes() == (std::vector<int>{1002, 1010}));
  }
};

QTEST_MAIN(WindowPaintTest)
#include "window_paint_test.moc"
