// Whole sessions driven as a person drives them: the window on an X display (a
// virtual one, see on_virtual_display.sh), a real pointer and keyboard (xdotool's
// XTEST events go through the X server and xcb to Qt), the real file dialogs and
// message boxes, nothing answered by hooks.
//
// A file dialog or a question runs its own event loop inside the click that opened
// it, so the steps cannot run on the window's thread: a driver thread sends the
// input and reads the window's state through calls queued to the window's thread,
// which the test's event loop (or the dialog's) answers.
#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QToolBar>
#include <QWindow>
#include <cmath>
#include <functional>
#include <thread>
#include <type_traits>

#include "imaging/image_reader.h"
#include "ui/mask_layer.h"
#include "ui/resource.h"
#include "window_fixture.h"

namespace {
// Generous: the sanitizer build runs the engine and Qt many times slower.
constexpr int kShortWait = 30000;  // a window maps, a dialog opens, a key arrives
constexpr int kRunWait = 240000;   // a run on the sample ends
// Stop ends a run after its current sweep.
constexpr int kStopWait = 20000;

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int CountMasked(const QImage& mask) {
  int count = 0;
  for (int y = 0; y < mask.height(); ++y)
    for (int x = 0; x < mask.width(); ++x)
      if ((mask.pixel(x, y) & 0xFFFFFF) != 0) ++count;
  return count;
}

// Runs f on the window's thread and hands back its value. Only for the driver
// thread: on the window's thread the blocking call would wait for itself.
template <class F>
auto OnGui(F&& f) {
  using R = std::invoke_result_t<F&>;
  if constexpr (std::is_void_v<R>) {
    QMetaObject::invokeMethod(
        qApp, [&] { f(); }, Qt::BlockingQueuedConnection);
  } else {
    R value{};
    QMetaObject::invokeMethod(
        qApp, [&] { value = f(); }, Qt::BlockingQueuedConnection);
    return value;
  }
}

// The steps of a session, on the driver thread. Widgets are handed around as
// pointers but touched only inside OnGui. Each step returns false once something
// failed; the first failure is kept, with the window's state at that moment.
class Driver {
 public:
  // A failure writes what the display showed to `shot`.
  Driver(CMainDlg& dlg, QString shot) : m_dlg(dlg), m_shot(std::move(shot)) {}

  QString failure;

  bool Fail(const QString& why) {
    if (!failure.isEmpty()) return false;
    failure = why + QStringLiteral("\n  window state: ") + State();
    const bool saved = OnGui([&] {
      QScreen* screen = QGuiApplication::primaryScreen();
      return screen && screen->grabWindow(0).save(m_shot, "PNG");
    });
    if (saved) failure += QStringLiteral("\n  the display: ") + m_shot;
    return false;
  }

  // What a failure message needs to be understood: the status line, the run, and
  // the windows on the screen.
  QString State() {
    return OnGui([this] {
      QStringList parts;
      parts << QStringLiteral("status \"%1\"").arg(m_dlg.StatusText())
            << QStringLiteral("running %1").arg(m_dlg.IsRunning());
      if (QWidget* active = QApplication::activeWindow())
        parts << QStringLiteral("active \"%1\"").arg(active->windowTitle());
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!w->isVisible()) continue;
        QString text = QStringLiteral("shown %1 \"%2\" at %3,%4 %5x%6")
                           .arg(QString::fromLatin1(w->metaObject()->className()), w->windowTitle())
                           .arg(w->x())
                           .arg(w->y())
                           .arg(w->width())
                           .arg(w->height());
        if (auto* box = qobject_cast<QMessageBox*>(w)) text += QStringLiteral(": ") + box->text();
        parts << text;
      }
      return parts.join(QStringLiteral("; "));
    });
  }

  bool Xdo(const QStringList& args, QString* output = nullptr) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), args);
    if (!process.waitForStarted(kShortWait))
      return Fail(QStringLiteral("xdotool does not start: ") + process.errorString());
    if (!process.waitForFinished(kShortWait)) {
      process.kill();
      process.waitForFinished();
      return Fail(QStringLiteral("xdotool %1 did not finish").arg(args.join(' ')));
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
      return Fail(QStringLiteral("xdotool %1 failed: %2")
                      .arg(args.join(' '), QString::fromLocal8Bit(process.readAllStandardError())));
    if (output) *output = QString::fromLocal8Bit(process.readAllStandardOutput());
    return true;
  }

  bool Until(const std::function<bool()>& condition, const QString& what, int ms = kShortWait) {
    QElapsedTimer clock;
    clock.start();
    while (!OnGui(condition)) {
      if (clock.elapsed() > ms)
        return Fail(QStringLiteral("waited %1 s for %2").arg(ms / 1000.0).arg(what));
      QThread::msleep(20);
    }
    return true;
  }

  // --- the pointer -------------------------------------------------------------

  // Puts the pointer on a point of a widget and checks that the X server shows the
  // widget's window there (no other window lies on top of it).
  bool PointAt(QWidget* widget, QPoint local, const QString& what) {
    struct Target {
      bool ok = false;
      QPoint screen;
      WId window = 0;
    };
    const Target target = OnGui([&] {
      Target t;
      if (!widget->isVisible() || !widget->window()->windowHandle()) return t;
      t.ok = true;
      const double ratio = widget->window()->windowHandle()->devicePixelRatio();
      const QPoint global = widget->mapToGlobal(local);
      t.screen = QPoint(qRound(global.x() * ratio), qRound(global.y() * ratio));
      t.window = widget->window()->windowHandle()->winId();
      return t;
    });
    if (!target.ok) return Fail(what + QStringLiteral(" is not shown"));
    QString where;
    if (!Xdo({QStringLiteral("mousemove"), QStringLiteral("--sync"),
              QString::number(target.screen.x()), QString::number(target.screen.y())}) ||
        !Xdo({QStringLiteral("getmouselocation"), QStringLiteral("--shell")}, &where))
      return false;
    WId under = 0;
    for (const QString& line : where.split('\n'))
      if (line.startsWith(QStringLiteral("WINDOW="))) under = line.mid(7).toULongLong();
    if (under != target.window) {
      const QString other = OnGui([under] {
        for (QWidget* w : QApplication::topLevelWidgets())
          if (w->isVisible() && w->windowHandle() && w->windowHandle()->winId() == under)
            return QStringLiteral("\"%1\"").arg(w->windowTitle());
        return QStringLiteral("X window %1").arg(under);
      });
      return Fail(QStringLiteral("%1 at %2,%3 is covered by %4")
                      .arg(what)
                      .arg(target.screen.x())
                      .arg(target.screen.y())
                      .arg(other));
    }
    return true;
  }

  bool Click(QWidget* widget, const QString& what) {
    const bool enabled = OnGui([&] { return widget->isEnabled(); });
    if (!enabled) return Fail(what + QStringLiteral(" is disabled"));
    const QPoint centre = OnGui([&] { return widget->rect().center(); });
    return PointAt(widget, centre, what) && Xdo({QStringLiteral("click"), QStringLiteral("1")});
  }

  bool ClickItem(int id) {
    QWidget* item = OnGui([&] { return m_dlg.GetDlgItem(id); });
    if (!item) return Fail(QStringLiteral("no control %1").arg(id));
    const QString text = OnGui([&] {
      const auto* button = qobject_cast<const QAbstractButton*>(item);
      return button ? button->text() : QString();
    });
    return Click(item, QStringLiteral("control %1 \"%2\"").arg(id).arg(text));
  }

  // A window manager would raise and focus the window a person clicks; none runs
  // on the virtual display, so the test does both, and waits until Qt sees the
  // window active (keys go to the X focus window).
  bool Activate(QWidget* window, const QString& what) {
    const QString id = OnGui([&] { return QString::number(window->windowHandle()->winId()); });
    return Xdo({QStringLiteral("windowraise"), id}) &&
           Xdo({QStringLiteral("windowfocus"), QStringLiteral("--sync"), id}) &&
           Until([&] { return QApplication::activeWindow() == window; },
                 what + QStringLiteral(" to become active"));
  }

  // --- the keyboard ------------------------------------------------------------

  bool Type(const QString& text) {
    return Xdo({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("15"),
                QStringLiteral("--"), text});
  }
  bool Key(const QString& key) { return Xdo({QStringLiteral("key"), key}); }

  // Clicks into an edit, selects what it holds and types the text over it.
  bool TypeInto(QLineEdit* edit, const QString& text, const QString& what) {
    QWidget* window = OnGui([&] { return edit->window(); });
    return Activate(window, what + QStringLiteral("'s window")) && Click(edit, what) &&
           Until([&] { return edit->hasFocus(); }, what + QStringLiteral(" to take the focus")) &&
           Key(QStringLiteral("ctrl+a")) && Type(text) &&
           Until([&] { return edit->text() == text; },
                 what + QStringLiteral(" to hold \"") + text + QStringLiteral("\""));
  }

  bool TypeIntoItem(int id, const QString& text) {
    auto* edit = OnGui([&] { return qobject_cast<QLineEdit*>(m_dlg.GetDlgItem(id)); });
    if (!edit) return Fail(QStringLiteral("no edit %1").arg(id));
    return TypeInto(edit, text, QStringLiteral("edit %1").arg(id));
  }

  // --- dialogs -----------------------------------------------------------------

  template <class T>
  T* WaitForModal(const QString& what) {
    T* found = nullptr;
    const bool shown = Until(
        [&] {
          found = qobject_cast<T*>(QApplication::activeModalWidget());
          return found && found->isVisible() && found->windowHandle() &&
                 found->windowHandle()->isExposed();
        },
        what);
    return shown ? found : nullptr;
  }

  // The file dialog that the last click opened: types the path into its name edit
  // and presses Return.
  bool ChooseFile(const QString& path) {
    auto* dialog = WaitForModal<QFileDialog>(QStringLiteral("a file dialog"));
    if (!dialog) return false;
    QPointer<QFileDialog> alive = OnGui([&] { return QPointer<QFileDialog>(dialog); });
    auto* edit =
        OnGui([&] { return dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")); });
    if (!edit) return Fail(QStringLiteral("the file dialog has no file name edit"));
    return TypeInto(edit, path, QStringLiteral("the file dialog's name edit")) &&
           Key(QStringLiteral("Return")) &&
           Until([&] { return alive.isNull() || !alive->isVisible(); },
                 QStringLiteral("the file dialog to close on Return"));
  }

  // The question the last click asked: clicks the button with this text.
  bool Answer(const QString& expectedText, const QString& button) {
    auto* box = WaitForModal<QMessageBox>(QStringLiteral("a question"));
    if (!box) return false;
    const QString text = OnGui([&] { return box->text(); });
    if (!text.contains(expectedText))
      return Fail(QStringLiteral("asked \"%1\" instead of \"%2\"").arg(text, expectedText));
    QPointer<QMessageBox> alive = OnGui([&] { return QPointer<QMessageBox>(box); });
    QAbstractButton* chosen = OnGui([&]() -> QAbstractButton* {
      for (QAbstractButton* b : box->buttons())
        if (b->text() == button) return b;
      return nullptr;
    });
    if (!chosen) return Fail(QStringLiteral("the question has no button \"%1\"").arg(button));
    return Click(chosen, QStringLiteral("the question's \"%1\"").arg(button)) &&
           Until([&] { return alive.isNull() || !alive->isVisible(); },
                 QStringLiteral("the question to close"));
  }

  // No message box is open: a box where none belongs fails the session.
  bool NoBox(const QString& after) {
    const QString text = OnGui([] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      return box && box->isVisible() ? box->text() : QString();
    });
    if (!text.isEmpty())
      return Fail(after + QStringLiteral(" showed the message \"") + text + QStringLiteral("\""));
    return true;
  }

  // A command that opens a file dialog, the file chosen in it, and no message after.
  bool ClickAndChoose(int id, const QString& path) {
    return Activate(&m_dlg, QStringLiteral("the window")) && ClickItem(id) && ChooseFile(path) &&
           Until([&] { return QApplication::activeModalWidget() == nullptr; },
                 QStringLiteral("the dialogs to end")) &&
           NoBox(QStringLiteral("choosing %1").arg(path));
  }

  // A run may end before its start can be seen; every run adds to the total.
  bool RunToEnd(int id) {
    const QString total = Edit(IDC_EDIT_TOTAL_ITER);
    return Activate(&m_dlg, QStringLiteral("the window")) && ClickItem(id) &&
           Until(
               [&] { return !m_dlg.IsRunning() && EditText(m_dlg, IDC_EDIT_TOTAL_ITER) != total; },
               QStringLiteral("the run to end"), kRunWait) &&
           NoBox(QStringLiteral("the run"));
  }

  QString Edit(int id) {
    return OnGui([&] {
      const auto* edit = qobject_cast<const QLineEdit*>(m_dlg.GetDlgItem(id));
      return edit ? edit->text() : QString();
    });
  }

  // After a failure: lets go of the button and ends the modal loops left open, so
  // the test's loop returns and the next test finds the display as it should.
  void CleanUp() {
    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("mouseup"), QStringLiteral("1")});
    for (int i = 0; i < 10; ++i) {
      const bool closed = OnGui([] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
          dialog->reject();
          return true;
        }
        return false;
      });
      if (!closed) return;
      QThread::msleep(100);
    }
  }

 private:
  CMainDlg& m_dlg;
  QString m_shot;
};

// Runs the steps on a driver thread while this thread runs the event loop.
QString Drive(CMainDlg& dlg, const std::function<bool(Driver&)>& steps) {
  Driver driver(dlg, QDir::current().absoluteFilePath(
                         QStringLiteral("%1-failure.png").arg(QTest::currentTestFunction())));
  QEventLoop loop;
  std::thread thread([&] {
    if (!steps(driver) && driver.failure.isEmpty()) driver.failure = QStringLiteral("failed");
    if (!driver.failure.isEmpty()) driver.CleanUp();
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  thread.join();
  return driver.failure;
}

// The window, shown and exposed on the display.
bool ShowWindow(CMainDlg& dlg) {
  dlg.Create();
  dlg.show();
  return QTest::qWaitForWindowExposed(&dlg, kShortWait);
}

QStringList CliArgs(const QString& damaged, const QString& mask, const QString& original,
                    const QString& output) {
  return {QStringLiteral("--damaged"),  damaged,  QStringLiteral("--mask"),   mask,
          QStringLiteral("--original"), original, QStringLiteral("--output"), output};
}

// The edits show the command line's numbers: the same floats, as the window writes them.
QString SameNumbers(const CliResult& cli, const QStringList& edits) {
  const QStringList expected = {QString::fromStdString(FormatFloatField(cli.psnrDamaged.toFloat())),
                                QString::fromStdString(FormatFloatField(cli.psnrResult.toFloat())),
                                cli.maskPixels, cli.iterations};
  return edits == expected ? QString()
                           : QStringLiteral("edits %1, the command line %2")
                                 .arg(edits.join(' '), expected.join(' '));
}
}  // namespace

class RealInputTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
             "runs on an X display (QT_QPA_PLATFORM=xcb, under on_virtual_display.sh)");
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty(),
             "xdotool is missing (scripts/deps.sh installs it)");
    QProcess probe;
    probe.start(QStringLiteral("xdotool"), {QStringLiteral("getdisplaygeometry")});
    QVERIFY(probe.waitForFinished(kShortWait));
    QVERIFY2(probe.exitCode() == 0, probe.readAllStandardError().constData());
  }

  // Loads the samples through the buttons and the file dialogs, runs, saves: the
  // file is the command line's, byte for byte, and the edits show its numbers.
  void sessionThroughTheFileDialogs() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString original = SampleFile("original.bmp"), damaged = SampleFile("damaged.bmp"),
                  mask = SampleFile("mask.bmp");
    const QString cliOut = dir.filePath(QStringLiteral("cli.bmp"));
    const CliResult cli = RunCli(CliArgs(damaged, mask, original, cliOut));
    QVERIFY2(cli.exitCode == 0, qPrintable(cli.errors));

    CMainDlg dlg;
    QVERIFY(ShowWindow(dlg));
    const QString saved = dir.filePath(QStringLiteral("hasil jendela.bmp"));
    QStringList edits;
    const QString failure = Drive(dlg, [&](Driver& d) {
      if (!d.ClickAndChoose(IDC_BTN_LOAD_ORIGINAL, original) ||
          !d.ClickAndChoose(IDC_BTN_LOAD_DAMAGED, damaged) ||
          !d.ClickAndChoose(IDC_BTN_LOAD_MASK, mask))
        return false;
      const bool loaded = OnGui([&] {
        return dlg.Files().m_surfOriginal.bLoaded == 1 && dlg.Files().m_surfDamaged.bLoaded == 1 &&
               dlg.Files().m_surfMask.bLoaded == 1;
      });
      if (!loaded) return d.Fail(QStringLiteral("the three files are not all loaded"));
      if (!d.RunToEnd(IDC_BTN_RUN) || !d.ClickAndChoose(IDC_BTN_SAVE, saved)) return false;
      for (int id : {int(IDC_EDIT_PSNR_DAMAGED), int(IDC_EDIT_PSNR_RESULT),
                     int(IDC_EDIT_MASK_PIXELS), int(IDC_EDIT_TOTAL_ITER)})
        edits << d.Edit(id);
      return true;
    });
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QVERIFY(dlg.StatusText().startsWith(QStringLiteral("Done")));
    QVERIFY(!ReadAll(cliOut).isEmpty());
    QVERIFY2(ReadAll(saved) == ReadAll(cliOut), "the saved result is not the command line's");
    const QString numbers = SameNumbers(cli, edits);
    QVERIFY2(numbers.isEmpty(), qPrintable(numbers));
  }

  // Paints a mask in the viewer with the pointer, uses it, runs, answers the
  // question Exit asks about the unsaved result, saves result and mask: the command
  // line on the saved mask writes the same file.
  void paintedMaskSession() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString original = SampleFile("original.bmp"), damaged = SampleFile("damaged.bmp");
    const QString savedResult = dir.filePath(QStringLiteral("hasil.bmp"));
    const QString savedMask = dir.filePath(QStringLiteral("mask dicat.bmp"));
    CMainDlg dlg;
    QVERIFY(ShowWindow(dlg));
    QImage painted, expected;
    int countShown = -1;
    const QString failure = Drive(dlg, [&](Driver& d) {
      if (!d.ClickAndChoose(IDC_BTN_LOAD_ORIGINAL, original) ||
          !d.ClickAndChoose(IDC_BTN_LOAD_DAMAGED, damaged) || !d.ClickItem(IDC_BTN_PAINT))
        return false;
      CPictureViewer* viewer = nullptr;
      if (!d.Until(
              [&] {
                viewer = dlg.Viewer();
                return viewer && viewer->isVisible() && viewer->windowHandle()->isExposed() &&
                       viewer->Canvas()->PaintMode();
              },
              QStringLiteral("the viewer in paint mode")))
        return false;
      CViewerCanvas* canvas = OnGui([&] { return viewer->Canvas(); });
      if (!d.Activate(viewer, QStringLiteral("the viewer"))) return false;

      // A stroke with corners through the picture; each point is seen by the canvas
      // before the next is sent, so the expected mask follows from the points.
      const QList<QPointF> through = {{60, 50}, {150, 90}, {250, 70}, {210, 190}, {90, 170}};
      CMaskLayer model;
      const QSize size = OnGui([&] { return canvas->Picture(ViewerPicture::kDamaged).size(); });
      model.Reset(size, QImage());
      const int brush = OnGui([&] { return canvas->BrushSize(); });
      model.BeginStroke(false);
      QPointF last;
      for (int i = 0; i < through.size(); ++i) {
        const QPoint local = OnGui([&] { return canvas->WidgetAt(through[i]).toPoint(); });
        if (!d.PointAt(
                canvas, local,
                QStringLiteral("the picture at %1,%2").arg(through[i].x()).arg(through[i].y())))
          return false;
        // The pixel the canvas sees under the pointer, as a press or move reads it.
        QPoint seen;
        QPointF pointer;
        if (!d.Until(
                [&] {
                  const QPoint pos = canvas->mapFromGlobal(QCursor::pos());
                  pointer = canvas->ImageAt(QPointF(pos) + QPointF(0.5, 0.5));
                  return canvas->HoverPixel(&seen) &&
                         seen == QPoint(int(std::floor(pointer.x())), int(std::floor(pointer.y())));
                },
                QStringLiteral("the canvas to see the pointer")))
          return false;
        const QPointF centre = CMaskLayer::BrushCentre(pointer, brush);
        if (i == 0) {
          if (!d.Xdo({QStringLiteral("mousedown"), QStringLiteral("1")})) return false;
          model.StrokeTo(centre, centre, brush / 2.0);
        } else if (centre != last) {
          model.StrokeTo(last, centre, brush / 2.0);
        }
        last = centre;
        if (i == 0 && !d.Until(
                          [&] {
                            return !viewer->PaintedMask().isNull() &&
                                   CountMasked(viewer->PaintedMask()) > 0;
                          },
                          QStringLiteral("the press to paint a dab")))
          return false;
      }
      if (!d.Xdo({QStringLiteral("mouseup"), QStringLiteral("1")}) ||
          !d.Until([&] { return canvas->Mask().CanUndo(); },
                   QStringLiteral("the stroke to end on release")))
        return false;
      model.EndStroke();
      expected = model.ToImage();
      painted = OnGui([&] { return viewer->PaintedMask(); });

      // "Use this mask" on the viewer's tool bar.
      QWidget* use = OnGui([&]() -> QWidget* {
        for (QToolBar* bar : viewer->findChildren<QToolBar*>())
          for (QAction* action : bar->actions())
            if (action->text() == QStringLiteral("Use this mask"))
              return bar->widgetForAction(action);
        return nullptr;
      });
      if (!use) return d.Fail(QStringLiteral("the viewer has no \"Use this mask\" button"));
      if (!d.Click(use, QStringLiteral("\"Use this mask\"")) ||
          !d.Until([&] { return dlg.Files().m_surfMask.bLoaded == 1; },
                   QStringLiteral("the painted mask to be loaded")) ||
          !d.NoBox(QStringLiteral("Use this mask")))
        return false;
      countShown = d.Edit(IDC_EDIT_MASK_PIXELS).toInt();

      if (!d.RunToEnd(IDC_BTN_RUN)) return false;
      // Exit asks before the unsaved result is lost; Cancel keeps the window.
      if (!d.ClickItem(IDCANCEL) ||
          !d.Answer(QStringLiteral("has not been saved"), QStringLiteral("Cancel")))
        return false;
      if (!OnGui([&] { return dlg.isVisible() && dlg.Files().ResultUnsaved(); }))
        return d.Fail(QStringLiteral("Cancel in the question did not keep the window and result"));
      if (!d.ClickAndChoose(IDC_BTN_SAVE, savedResult)) return false;

      QWidget* save = OnGui([&]() -> QWidget* {
        for (QToolBar* bar : viewer->findChildren<QToolBar*>())
          for (QAction* action : bar->actions())
            if (action->text() == QStringLiteral("Save mask..."))
              return bar->widgetForAction(action);
        return nullptr;
      });
      if (!save) return d.Fail(QStringLiteral("the viewer has no \"Save mask...\" button"));
      if (!d.Activate(viewer, QStringLiteral("the viewer")) ||
          !d.Click(save, QStringLiteral("\"Save mask...\"")) || !d.ChooseFile(savedMask) ||
          !d.NoBox(QStringLiteral("Save mask...")))
        return false;

      // Saved: Exit closes the window and the viewer without a question.
      return d.Activate(&dlg, QStringLiteral("the window")) && d.ClickItem(IDCANCEL) &&
             d.Until([&] { return !dlg.isVisible() && !viewer->isVisible(); },
                     QStringLiteral("Exit to close the window and the viewer")) &&
             d.NoBox(QStringLiteral("Exit"));
    });
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(dlg.result(), int(IDCANCEL));

    // The mask went where the pointer went.
    QVERIFY(CountMasked(painted) > 0);
    QVERIFY2(painted == expected, "the painted mask is not the stroke the pointer drew");
    QCOMPARE(countShown, CountMasked(painted));
    QCOMPARE(QImage(savedMask).convertToFormat(QImage::Format_RGB888), painted);

    const QString cliOut = dir.filePath(QStringLiteral("cli.bmp"));
    const CliResult cli = RunCli(CliArgs(damaged, savedMask, original, cliOut));
    QVERIFY2(cli.exitCode == 0, qPrintable(cli.errors));
    QCOMPARE(cli.maskPixels, QString::number(countShown));
    QVERIFY(!ReadAll(cliOut).isEmpty());
    QVERIFY2(ReadAll(savedResult) == ReadAll(cliOut),
             "the saved result is not the command line's on the saved mask");
  }

  // A long run on an 800 x 800 photo with iteration counts typed in: the window
  // answers while it goes, Stop by the pointer ends it promptly, the result so far
  // is shown and saves as a file the program reads back.
  void stopALongRun() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString damaged = QStringLiteral(RUVANTA_SOURCE_DIR "/bench/data/damaged800_20.bmp");
    const QString mask = QStringLiteral(RUVANTA_SOURCE_DIR "/bench/data/mask800_20.bmp");
    const QString saved = dir.filePath(QStringLiteral("berhenti.bmp"));
    CMainDlg dlg;
    QVERIFY(ShowWindow(dlg));
    qint64 stopMs = -1;
    const QString failure = Drive(dlg, [&](Driver& d) {
      if (!d.ClickAndChoose(IDC_BTN_LOAD_DAMAGED, damaged) ||
          !d.ClickAndChoose(IDC_BTN_LOAD_MASK, mask) ||
          !d.TypeIntoItem(IDC_EDIT_TRANSPORT_ITER, QStringLiteral("100000")) ||
          !d.TypeIntoItem(IDC_EDIT_TRANSPORT_PER_DIFFUSION, QStringLiteral("1")) ||
          !d.Activate(&dlg, QStringLiteral("the window")) || !d.ClickItem(IDC_BTN_RUN))
        return false;
      auto* bar = OnGui([&] { return qobject_cast<QProgressBar*>(dlg.GetDlgItem(IDC_PROGRESS)); });
      if (!bar) return d.Fail(QStringLiteral("no progress bar"));
      // Blocks go by and the window shows them: its thread is not held by the run.
      if (!d.Until([&] { return dlg.IsRunning() && bar->value() >= 3; },
                   QStringLiteral("three blocks to show in the progress bar"), kRunWait))
        return false;
      const bool controls = OnGui([&] {
        for (int id : {int(IDC_BTN_LOAD_DAMAGED), int(IDC_BTN_RUN), int(IDC_BTN_AUTO),
                       int(IDC_BTN_SAVE), int(IDC_BTN_PAINT), int(IDC_EDIT_TRANSPORT_ITER)})
          if (dlg.GetDlgItem(id)->isEnabled()) return false;
        return dlg.GetDlgItem(IDC_BTN_STOP)->isEnabled() && bar->maximum() == 100000;
      });
      if (!controls) return d.Fail(QStringLiteral("wrong controls enabled while running"));
      QElapsedTimer clock;
      clock.start();
      if (!d.ClickItem(IDC_BTN_STOP) || !d.Until([&] { return !dlg.IsRunning(); },
                                                 QStringLiteral("Stop to end the run"), kStopWait))
        return false;
      stopMs = clock.elapsed();
      return d.NoBox(QStringLiteral("Stop")) && d.ClickAndChoose(IDC_BTN_SAVE, saved);
    });
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    qInfo("the run ended %lld ms after the click on Stop", stopMs);
    QVERIFY(dlg.StatusText().startsWith(QStringLiteral("Stopped")));
    const unsigned ran = dlg.Fields().m_nTotalIter;
    QVERIFY(ran >= 3 && ran < 100000);
    QCOMPARE(EditText(dlg, IDC_EDIT_TOTAL_ITER), QString::number(ran));
    QVERIFY(dlg.Files().HasResult() && !dlg.Files().ResultUnsaved());
    QVERIFY(Enabled(dlg, IDC_BTN_RUN) && !Enabled(dlg, IDC_BTN_STOP));

    const ImageReadResult read = ReadImageFile(QFile::encodeName(saved).toStdString());
    QVERIFY2(read.ok(), read.reason.c_str());
    QCOMPARE(read.image.width, 800);
    QCOMPARE(read.image.height, 800);
    const QImage shown = CMainDlg::SurfaceImage(dlg.Files().m_surfResult);
    QImage file(read.image.width, read.image.height, QImage::Format_RGB888);
    for (int y = 0; y < file.height(); ++y)
      std::copy(read.image.At(0, y), read.image.At(0, y) + std::size_t(file.width()) * 3,
                file.scanLine(y));
    QCOMPARE(file, shown.copy(0, 0, file.width(), file.height()));
    // What ran before Stop is kept: the masked pixels are no longer the damaged ones.
    QVERIFY(file != QImage(damaged).convertToFormat(QImage::Format_RGB888));
  }
};

QTEST_MAIN(RealInputTest)
#include "real_input_test.moc"
