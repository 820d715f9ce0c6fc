// The runs of the window as undo steps, and the method choice: undo restores the
// work plane, the result and the figures as they were after a run (so the next run
// goes exactly as it went then), redo brings the later one back, a new run drops the
// steps undone, the oldest steps go past the limit with a note; a membrane run gives
// the command line's bytes, and Go !!! is the transport method's only. Also how a
// run's outcome reads, drops onto the panes and clicks that open the viewer.
#include <QApplication>
#include <QDragEnterEvent>
#include <QFile>
#include <QMimeData>
#include <QLineEdit>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include "ui/resource.h"
#include "window_fixture.h"

namespace {
std::vector<double> WorkPlane(const CMainDlg& dlg) {
  std::vector<double> v;
  const CRestoreEngine& e = dlg.Engine();
  for (int y = 0; y < e.Height(); ++y)
    for (int x = 0; x < e.Width(); ++x)
      for (int c = 0; c < 3; ++c) v.push_back(e.g_work[x][y][c]);
  return v;
}

struct Figures {
  QStringList edits;
  std::vector<double> work;
  QImage result;
  bool operator==(const Figures& o) const {
    return edits == o.edits && work == o.work && result == o.result;
  }
};

Figures Take(const CMainDlg& dlg) {
  Figures f;
  for (int id : {1013, 1017, 1019, 1018}) f.edits << EditText(dlg, id);
  f.work = WorkPlane(dlg);
  f.result = CMainDlg::SurfaceImage(dlg.Files().m_surfResult);
  return f;
}

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
}  // namespace

class WindowRunsTest : public QObject {
  Q_OBJECT

 private slots:
  void undoAndRedoStepThroughTheRuns() {
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    LoadSamples(dlg, script);
    QVERIFY(!Enabled(dlg, IDC_BTN_UNDO) && !Enabled(dlg, IDC_BTN_REDO));
    const Figures start = Take(dlg);
    Click(dlg, IDC_BTN_RUN);
    const Figures first = Take(dlg);
    SetEditText(dlg, 1012, QStringLiteral("0.5"));  // a mistyped time step
    Click(dlg, IDC_BTN_RUN);
    const Figures second = Take(dlg);
    QVERIFY(!(second == first));
    QCOMPARE(dlg.UndoSteps(), 2);

    Click(dlg, IDC_BTN_UNDO);
    QVERIFY(Take(dlg) == first);
    QCOMPARE(EditText(dlg, 1012), QStringLiteral("0.5"));  // what is typed stays
    QVERIFY(Enabled(dlg, IDC_BTN_REDO));
    Click(dlg, IDC_BTN_UNDO);
    QVERIFY(Take(dlg) == start);
    QVERIFY(!dlg.Files().HasResult() && !Enabled(dlg, IDC_BTN_UNDO));
    QCOMPARE(dlg.StatusText(), QStringLiteral("Undone: back to before the first run."));
    Click(dlg, IDC_BTN_REDO);
    Click(dlg, IDC_BTN_REDO);
    QVERIFY(Take(dlg) == second);
    QVERIFY(!Enabled(dlg, IDC_BTN_REDO));

    // From the first result again, a run with the start values goes as the second
    // run would have gone had it been typed right: the same bits as two runs in a row.
    Click(dlg, IDC_BTN_UNDO);
    SetEditText(dlg, 1012, QStringLiteral("0.01"));
    Click(dlg, IDC_BTN_RUN);
    QVERIFY(!Enabled(dlg, IDC_BTN_REDO));  // the undone step is gone
    ModalScript other;
    CMainDlg fresh;
    fresh.Create();
    LoadSamples(fresh, other);
    Click(fresh, IDC_BTN_RUN);
    Click(fresh, IDC_BTN_RUN);
    QVERIFY(Take(dlg).work == Take(fresh).work);
    QCOMPARE(Take(dlg).edits.mid(0, 2), Take(fresh).edits.mid(0, 2));
    QVERIFY(script.boxes.empty());
  }

  void theOldestStepsGoPastTheLimit() {
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    LoadSamples(dlg, script);
    SetEditText(dlg, 1007, QStringLiteral("1"));
    for (int i = 0; i < CMainDlg::kMaxUndoSteps; ++i) Click(dlg, IDC_BTN_RUN);
    QCOMPARE(dlg.UndoSteps(), CMainDlg::kMaxUndoSteps);
    QVERIFY(!dlg.StatusText().contains(QStringLiteral("dropped")));
    Click(dlg, IDC_BTN_RUN);
    QCOMPARE(dlg.UndoSteps(), CMainDlg::kMaxUndoSteps);
    QVERIFY(dlg.StatusText().contains(QStringLiteral("The oldest undo step was dropped")));
    for (int i = 0; i < CMainDlg::kMaxUndoSteps; ++i) Click(dlg, IDC_BTN_UNDO);
    QVERIFY(!Enabled(dlg, IDC_BTN_UNDO));
    QCOMPARE(dlg.Fields().m_nTotalIter, 1u);  // back to after the first run, not before it
    // A new mask starts a new history.
    Click(dlg, IDC_BTN_REDO);
    script.Answer(SampleFile("mask.bmp"));
    Click(dlg, IDC_BTN_LOAD_MASK);
    QVERIFY(!Enabled(dlg, IDC_BTN_UNDO) && !Enabled(dlg, IDC_BTN_REDO));
  }

  void membraneRunGivesTheCommandLineBytes() {
    QTemporaryDir dir;
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    LoadSamples(dlg, script);
    QCOMPARE(dlg.MethodName(), QStringLiteral("transport"));  // the default
    dlg.SetMethod(QStringLiteral("membrane"));
    QVERIFY(!Enabled(dlg, IDC_BTN_AUTO));
    QVERIFY(dlg.GetDlgItem(IDC_BTN_AUTO)->toolTip().contains(QStringLiteral("transport")));
    Click(dlg, IDC_BTN_RUN);
    QVERIFY(dlg.StatusText().startsWith(QStringLiteral("Done (membrane)")));
    const QString saved = dir.filePath(QStringLiteral("window.png"));
    script.Answer(saved);
    Click(dlg, IDC_BTN_SAVE);
    const QString reference = dir.filePath(QStringLiteral("cli.png"));
    const CliResult cli =
        RunCli({QStringLiteral("--damaged"), SampleFile("damaged.bmp"), QStringLiteral("--mask"),
                SampleFile("mask.bmp"), QStringLiteral("--original"), SampleFile("original.bmp"),
                QStringLiteral("--method"), QStringLiteral("membrane"), QStringLiteral("--output"),
                reference});
    QVERIFY2(cli.exitCode == 0, qPrintable(cli.errors));
    QVERIFY(!ReadAll(saved).isEmpty());
    QCOMPARE(ReadAll(saved), ReadAll(reference));
    QCOMPARE(Exact(dlg.Fields().m_fPsnrResult), cli.psnrResult);
    QCOMPARE(QString::number(dlg.Fields().m_nTotalIter), cli.iterations);
    // Undo goes back across methods; the transport method brings Go !!! back.
    Click(dlg, IDC_BTN_UNDO);
    QVERIFY(!dlg.Files().HasResult());
    dlg.SetMethod(QStringLiteral("transport"));
    QVERIFY(Enabled(dlg, IDC_BTN_AUTO));
    QVERIFY(script.boxes.empty());
  }

  void loadingOverAnUnsavedResultAsksFirst() {
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    LoadSamples(dlg, script);
    Click(dlg, IDC_BTN_RUN);
    const WindowState before = Snapshot(dlg);
    script.Answer(SampleFile("original.bmp"));
    script.questionAnswers.push_back(false);  // Cancel
    Click(dlg, IDC_BTN_LOAD_DAMAGED);
    QCOMPARE(int(script.boxes.size()), 1);
    QCOMPARE(script.boxes[0].text,
             QStringLiteral("The result has not been saved. Load another picture and discard it?"));
    QVERIFY(Snapshot(dlg) == before);
    QVERIFY(dlg.Files().ResultUnsaved());
    // Once saved, nothing is asked.
    QTemporaryDir dir;
    script.Answer(dir.filePath(QStringLiteral("kept.bmp")));
    Click(dlg, IDC_BTN_SAVE);
    script.Answer(SampleFile("original.bmp"));
    Click(dlg, IDC_BTN_LOAD_DAMAGED);
    QCOMPARE(int(script.boxes.size()), 1);
    QVERIFY(!dlg.Files().HasResult());
  }

  // The automatic mode's outcome names the cycle the command line's trace ends on (the
  // held-out rule, with the settle level the edit shows, the command line's default),
  // the result's field shows the held-out estimate, and a later run leaves no cycle
  // text behind on the progress bar.
  void automaticOutcomeCountsTheCommandLinesCycles() {
    QTemporaryDir dir;
    const QString trace = dir.filePath(QStringLiteral("trace.csv"));
    const CliResult cli = RunCli({QStringLiteral("--damaged"), SampleFile("damaged.bmp"),
                                  QStringLiteral("--mask"), SampleFile("mask.bmp"),
                                  QStringLiteral("--auto"), QStringLiteral("--trace"), trace});
    QVERIFY2(cli.exitCode == 0, qPrintable(cli.errors));
    const QList<QByteArray> rows = ReadAll(trace).trimmed().split('\n');
    const QByteArray lastCycle = rows.back().split(',').front();
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    script.Answer(SampleFile("damaged.bmp"));
    script.Answer(SampleFile("mask.bmp"));
    Click(dlg, IDC_BTN_LOAD_DAMAGED);
    Click(dlg, IDC_BTN_LOAD_MASK);
    Click(dlg, IDC_BTN_AUTO);
    const QString status = dlg.StatusText();
    QVERIFY2(status.startsWith(QStringLiteral("Automatic mode: stopped after cycle %1, when the "
                                              "held-out PSNR no longer rose")
                                   .arg(QString::fromLatin1(lastCycle))),
             qPrintable(status + QStringLiteral(" / trace ends on cycle ") +
                        QString::fromLatin1(lastCycle)));
    const double heldOut = rows.back().split(',').at(3).toDouble();
    auto* psnr = qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_EDIT_PSNR_RESULT));
    QVERIFY(psnr);
    QCOMPARE(psnr->text(), QStringLiteral("est. %1 dB").arg(QString::number(heldOut, 'f', 1)));
    QCOMPARE(QString::number(dlg.Fields().m_nTotalIter), cli.iterations);
    Click(dlg, IDC_BTN_RUN);
    auto* bar = qobject_cast<QProgressBar*>(dlg.GetDlgItem(IDC_PROGRESS));
    QVERIFY(bar && bar->format().isEmpty());
  }

  // A drop loads a file as the picture of the pane it falls on; a click on a pane
  // opens the viewer at the picture point under it.
  void dropsLoadAndClicksOpenTheViewerThere() {
    QTemporaryDir dir;
    const QString big = dir.filePath(QStringLiteral("big.png"));
    QImage picture(1600, 1200, QImage::Format_RGB888);
    picture.fill(Qt::darkGreen);
    QVERIFY(picture.save(big));
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const auto drop = [&](int pane, const QString& path) {
      QMimeData data;
      data.setUrls({QUrl::fromLocalFile(path)});
      const QPointF at = dlg.GetDlgItem(pane)->geometry().center();
      QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(dlg.Client(), &enter);
      QVERIFY(enter.isAccepted());
      QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(dlg.Client(), &dropped);
      QCoreApplication::sendPostedEvents(&dlg);
      dlg.WaitForRun();
    };
    drop(1010, big);  // the result pane: taken as the damaged image
    QCOMPARE(dlg.Files().m_surfDamaged.nWidth, 1600);
    drop(1015, big);
    QCOMPARE(int(dlg.Files().m_surfOriginal.bLoaded), 1);
    QVERIFY(script.boxes.empty());

    const QRect shown = dlg.PictureRect(1002);
    const QPoint click = shown.topLeft() + QPoint(shown.width() * 3 / 4, shown.height() / 4);
    QTest::mouseClick(dlg.windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      dlg.Client()->mapTo(&dlg, click));
    QVERIFY(dlg.Viewer() && dlg.Viewer()->isVisible());
    CViewerCanvas* canvas = dlg.Viewer()->Canvas();
    QCOMPARE(canvas->Zoom(), 1.0);
    const QPointF centre = canvas->CentrePoint();
    QVERIFY2(std::abs(centre.x() - 1200) < 8 && std::abs(centre.y() - 300) < 8,
             qPrintable(QStringLiteral("%1, %2").arg(centre.x()).arg(centre.y())));
  }
};

QTEST_MAIN(WindowRunsTest)
#include "window_runs_test.moc"
