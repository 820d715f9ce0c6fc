// Renders a scene of the window program into a PNG file. File dialogs are
// answered with the given files; any message box is printed and makes the program
// fail, and so does a scene that did not come about.
//
//   ruvanta-screenshot window   OUTPUT.png ORIGINAL DAMAGED MASK   after one run
//   ruvanta-screenshot progress OUTPUT.png ORIGINAL DAMAGED MASK   during Go !!!
//   ruvanta-screenshot chart    OUTPUT.png ORIGINAL DAMAGED MASK   after Go !!!
//   ruvanta-screenshot viewer   OUTPUT.png DAMAGED                 a mask being painted
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPixmap>
#include <QThread>
#include <QWindow>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>

#include "ui/main_dlg.h"
#include "ui/resource.h"

namespace {
constexpr int kWaitMs = 600000;

void Click(CMainDlg& dlg, int id) { static_cast<QAbstractButton*>(dlg.GetDlgItem(id))->click(); }

// Spins the event loop until `done`, at most kWaitMs.
bool WaitUntil(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > kWaitMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(10);
  }
  return true;
}

// Lets the window draw what it has been told to, then waits for the display.
void Settle(QWidget& window) {
  for (int i = 0; i < 20; ++i) {
    QApplication::processEvents();
    QThread::msleep(10);
  }
  if (QWindow* handle = window.windowHandle()) {
    WaitUntil([handle] { return handle->isExposed(); });
  }
  QApplication::processEvents();
}

// A mouse event as the canvas receives it from the pointer, at a picture point.
void Pointer(CViewerCanvas* canvas, QEvent::Type type, QPointF imagePoint, Qt::MouseButtons held) {
  const QPointF local = canvas->WidgetAt(imagePoint);
  const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent event(type, local, canvas->mapToGlobal(local), button, held, Qt::NoModifier);
  QApplication::sendEvent(canvas, &event);
}

void Stroke(CViewerCanvas* canvas, const std::vector<QPointF>& points) {
  Pointer(canvas, QEvent::MouseMove, points.front(), Qt::NoButton);
  Pointer(canvas, QEvent::MouseButtonPress, points.front(), Qt::LeftButton);
  for (std::size_t i = 1; i < points.size(); ++i)
    Pointer(canvas, QEvent::MouseMove, points[i], Qt::LeftButton);
  Pointer(canvas, QEvent::MouseButtonRelease, points.back(), Qt::NoButton);
}

int Fail(const char* what) {
  std::fprintf(stderr, "ruvanta-screenshot: %s\n", what);
  return 1;
}
}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QString scene = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
  const bool viewer = scene == QLatin1String("viewer");
  const bool known = viewer || scene == QLatin1String("window") ||
                     scene == QLatin1String("progress") || scene == QLatin1String("chart");
  if (!known || argc != (viewer ? 4 : 6)) {
    std::fprintf(
        stderr,
        "usage: ruvanta-screenshot window|progress|chart OUTPUT.png ORIGINAL DAMAGED MASK\n"
        "       ruvanta-screenshot viewer OUTPUT.png DAMAGED\n");
    return 2;
  }
  const QString output = QString::fromLocal8Bit(argv[2]);
  std::deque<QString> answers;
  for (int i = 3; i < argc; ++i) answers.push_back(QString::fromLocal8Bit(argv[i]));
  bool failed = false;
  ModalHooks().fileDialog = [&](QFileDialog&) -> std::optional<QString> {
    if (answers.empty()) return std::nullopt;
    QString next = answers.front();
    answers.pop_front();
    return next;
  };
  ModalHooks().messageBox = [&](QMessageBox& box) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(box.windowTitle()), qPrintable(box.text()));
    failed = true;
    return int(QMessageBox::Ok);
  };

  CMainDlg dlg;
  dlg.Create();
  dlg.show();
  if (viewer) {
    Click(dlg, IDC_BTN_LOAD_DAMAGED);
    if (failed) return 1;
    dlg.OpenViewer(ViewerPicture::kDamaged, true);
    CPictureViewer* view = dlg.Viewer();
    Settle(*view);
    CViewerCanvas* canvas = view->Canvas();
    // Over the sample's text, then along part of its long scratch with a finer brush,
    // the pointer left on the picture so the brush and the pixel under it show.
    Stroke(canvas, {{92, 211}, {309, 211}});
    Stroke(canvas, {{309, 223}, {92, 223}});
    canvas->SetBrushSize(7);
    Stroke(canvas, {{8, 175}, {120, 175}});
    Pointer(canvas, QEvent::MouseMove, {150, 150}, Qt::NoButton);
    Settle(*view);
    if (!canvas->Mask().CanUndo()) return Fail("the strokes painted nothing");
    if (!view->grab().save(output, "PNG")) return Fail("cannot write the picture");
    return failed ? 1 : 0;
  }

  for (int id : {int(IDC_BTN_LOAD_ORIGINAL), int(IDC_BTN_LOAD_DAMAGED), int(IDC_BTN_LOAD_MASK)})
    Click(dlg, id);
  if (failed) return 1;
  if (scene == QLatin1String("window")) {
    Click(dlg, IDC_BTN_RUN);
    dlg.WaitForRun();
  } else if (scene == QLatin1String("chart")) {
    Click(dlg, IDC_BTN_AUTO);
    dlg.WaitForRun();
    if (dlg.ChartValues().size() < 2) return Fail("the automatic run measured too few cycles");
  } else {
    Click(dlg, IDC_BTN_AUTO);
    // Enough measured cycles for the chart to draw a line while the run goes on.
    if (!WaitUntil([&] { return !dlg.IsRunning() || dlg.ChartValues().size() >= 12; }))
      return Fail("the automatic run measured no cycles");
    if (!dlg.IsRunning()) return Fail("the automatic run ended before the picture was taken");
  }
  Settle(dlg);
  const bool saved = dlg.grab().save(output, "PNG");
  if (dlg.IsRunning()) {
    dlg.RequestStop();
    dlg.WaitForRun();
  }
  if (!saved) return Fail("cannot write the picture");
  return failed ? 1 : 0;
}
