// The buttons of the main window: each reaches its command, the file dialogs they
// ask, a whole session against the command-line program, the run buttons during a
// run, and Reset.
#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include "window_fixture.h"

namespace {
// Records, at every transport call, the state the window shows during a run.
class CProbeDlg : public CMainDlg {
 public:
  struct Seen {
    bool runEnabled, autoEnabled, busyCursor;
  };
  std::vector<Seen> seen;
  void TransportStep(int iterations, int count) override {
    const QCursor* cursor = QApplication::overrideCursor();
    seen.push_back({IsItemEnabled(IDC_BTN_RUN), IsItemEnabled(IDC_BTN_AUTO),
                    cursor && cursor->shape() == Qt::WaitCursor});
    CMainDlg::TransportStep(iterations, count);
  }
};

int MaskedPixelsOf(const QString& path) {
  const QImage mask(path);
  int count = 0;
  for (int y = 0; y < mask.height(); ++y)
    for (int x = 0; x < mask.width(); ++x)
      if ((mask.pixel(x, y) & 0xFFFFFF) != 0) ++count;
  return count;
}

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
}  // namespace

class WindowCommandsTest : public QObject {
  Q_OBJECT

 private slots:
  void eachButtonReachesItsCommand() {
    QTemporaryDir dir;
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    dlg.show();

    script.Answer(SampleFile("original.bmp"));
    Click(dlg, IDC_BTN_LOAD_ORIGINAL);
    QCOMPARE(int(dlg.m_surfOriginal.bLoaded), 1);
    QCOMPARE(dlg.m_surfOriginal.nWidth, QImage(SampleFile("original.bmp")).width());
    QCOMPARE(int(dlg.m_surfDamaged.bLoaded), 0);

    script.Answer(SampleFile("damaged.bmp"));
    Click(dlg, IDC_BTN_LOAD_DAMAGED);
    QCOMPARE(int(dlg.m_surfDamaged.bLoaded), 1);
    QCOMPARE(int(dlg.m_surfResult.bLoaded), 1);
    QCOMPARE(int(dlg.m_surfMask.bLoaded), 0);

    script.Answer(SampleFile("mask.bmp"));
    Click(dlg, IDC_BTN_LOAD_MASK);
    QCOMPARE(int(dlg.m_surfMask.bLoaded), 1);
    const int masked = MaskedPixelsOf(SampleFile("mask.bmp"));
    QVERIFY(masked > 0);
    QCOMPARE(EditText(dlg, 1023), QString::number(masked));

    Click(dlg, IDC_BTN_RUN);
    QCOMPARE(EditText(dlg, 1018), QStringLiteral("100"));
    QVERIFY(dlg.m_fPsnrResult > 0);
    QCOMPARE(EditText(dlg, 1017), QString::fromStdString(FormatFloatField(dlg.m_fPsnrResult)));

    Click(dlg, IDC_BTN_AUTO);
    QVERIFY(dlg.m_nTotalIter >= 115);
    QCOMPARE((dlg.m_nTotalIter - 100) % 15, 0u);

    const QString saved = dir.filePath(QStringLiteral("hasil.bmp"));
    script.Answer(saved);
    Click(dlg, IDC_BTN_SAVE);
    QVERIFY(QFileInfo::exists(saved));

    Click(dlg, IDC_BTN_RESET);
    QCOMPARE(EditText(dlg, 1017), QStringLiteral("0"));
    QCOMPARE(EditText(dlg, 1023), QStringLiteral("0"));

    QVERIFY(script.boxes.empty());
    QCOMPARE(script.unanswered, 0);
    QCOMPARE(int(script.fileAsks.size()), 4);
    for (int i = 0; i < 4; ++i) QCOMPARE(script.fileAsks[i].open, i < 3);

    Click(dlg, IDCANCEL);
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(IDCANCEL));
  }

  void fileDialogsListBmpFilesAndNeverAskToReplace() {
    QTemporaryDir dir;
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    Click(dlg, IDC_BTN_LOAD_DAMAGED);
    Click(dlg, IDC_BTN_SAVE);
    QCOMPARE(int(script.fileAsks.size()), 2);
    for (const auto& ask : script.fileAsks) {
      QCOMPARE(ask.nameFilters, QStringList{QStringLiteral("*.BMP (*.bmp *.BMP)")});
      QVERIFY(ask.options & QFileDialog::DontUseNativeDialog);
      QVERIFY(ask.options & QFileDialog::HideNameFilterDetails);
      QCOMPARE(ask.shownFilters, QStringList{QStringLiteral("*.BMP")});
      QCOMPARE(ask.fileMode, QFileDialog::AnyFile);
    }
    QVERIFY(script.fileAsks[0].open);
    QVERIFY(!script.fileAsks[1].open);
    QVERIFY(script.fileAsks[1].options & QFileDialog::DontConfirmOverwrite);
    // Cancel (or another extension) is refused by the command.
    QCOMPARE(int(script.boxes.size()), 2);
    for (const auto& box : script.boxes) {
      QCOMPARE(box.text, QStringLiteral("Citra BMP please!"));
      QCOMPARE(box.caption, QStringLiteral("not valid"));
    }
  }

  void extensionTestIsExact_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("bmp") << "a.bmp" << true;
    QTest::newRow("BMP") << "a.BMP" << true;
    QTest::newRow("Bmp") << "a.Bmp" << false;
    QTest::newRow("bMP") << "a.bMP" << false;
    QTest::newRow("none") << "a" << false;
    QTest::newRow("png") << "a.png" << false;
  }
  void extensionTestIsExact() {
    QFETCH(QString, name);
    QFETCH(bool, accepted);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QVERIFY(QFile::copy(SampleFile("damaged.bmp"), path));
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    script.Answer(path);
    Click(dlg, IDC_BTN_LOAD_DAMAGED);
    QCOMPARE(int(dlg.m_surfDamaged.bLoaded), accepted ? 1 : 0);
    QCOMPARE(int(script.boxes.size()), accepted ? 0 : 1);
    if (!accepted) {
      QCOMPARE(script.boxes[0].text, QStringLiteral("Citra BMP please!"));
      QCOMPARE(script.boxes[0].caption, QStringLiteral("not valid"));
    }
  }

  void sessionGivesTheCommandLineNumbers() {
    QTemporaryDir dir;
    const QString original = SampleFile("original.bmp"), damaged = SampleFile("damaged.bmp"),
                  mask = SampleFile("mask.bmp");
    const QString cliRun = dir.filePath(QStringLiteral("cli_run.bmp"));
    const QString cliAuto = dir.filePath(QStringLiteral("cli_auto.bmp"));
    const QStringList common = {QStringLiteral("--damaged"), damaged, QStringLiteral("--mask"), mask,
                                QStringLiteral("--original"), original};
    const CliResult run = RunCli(common + QStringList{QStringLiteral("--output"), cliRun});
    QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
    const CliResult automatic =
        RunCli(common + QStringList{QStringLiteral("--auto"), QStringLiteral("--output"), cliAuto});
    QVERIFY2(automatic.exitCode == 0, qPrintable(automatic.errors));

    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    dlg.show();
    LoadSamples(dlg, script);
    QCOMPARE(EditText(dlg, 1023), run.maskPixels);

    // One run with the start values.
    Click(dlg, IDC_BTN_RUN);
    QCOMPARE(Exact(dlg.m_fPsnrDamaged), run.psnrDamaged);
    QCOMPARE(Exact(dlg.m_fPsnrResult), run.psnrResult);
    QCOMPARE(QString::number(dlg.m_nTotalIter), run.iterations);
    const QString savedRun = dir.filePath(QStringLiteral("run.bmp"));
    script.Answer(savedRun);
    Click(dlg, IDC_BTN_SAVE);
    QVERIFY(!ReadAll(savedRun).isEmpty());
    QCOMPARE(ReadAll(savedRun), ReadAll(cliRun));

    // The automatic mode from a fresh start: load the damaged image again, Reset.
    script.Answer(damaged);
    Click(dlg, IDC_BTN_LOAD_DAMAGED);
    Click(dlg, IDC_BTN_RESET);
    Click(dlg, IDC_BTN_AUTO);
    QCOMPARE(Exact(dlg.m_fPsnrDamaged), automatic.psnrDamaged);
    QCOMPARE(Exact(dlg.m_fPsnrResult), automatic.psnrResult);
    QCOMPARE(QString::number(dlg.m_nTotalIter), automatic.iterations);
    const QString savedAuto = dir.filePath(QStringLiteral("auto.BMP"));
    script.Answer(savedAuto);
    Click(dlg, IDC_BTN_SAVE);
    QCOMPARE(ReadAll(savedAuto), ReadAll(cliAuto));
    QVERIFY(ReadAll(savedAuto) != ReadAll(savedRun));

    // The saved file loads back and shows the result's pixels.
    const QImage result = CMainDlg::SurfaceImage(dlg.m_surfResult);
    script.Answer(savedAuto);
    Click(dlg, IDC_BTN_LOAD_ORIGINAL);
    const QImage reloaded = CMainDlg::SurfaceImage(dlg.m_surfOriginal);
    QVERIFY(reloaded.width() >= result.width());
    QCOMPARE(reloaded.height(), result.height());
    QCOMPARE(reloaded.copy(0, 0, result.width(), result.height()), result);
    QVERIFY(script.boxes.empty());
  }

  void runsDisableBothRunButtonsMeanwhile() {
    ModalScript script;
    CProbeDlg dlg;
    dlg.Create();
    LoadSamples(dlg, script);
    for (int button : {IDC_BTN_RUN, IDC_BTN_AUTO}) {
      dlg.seen.clear();
      Click(dlg, button);
      QVERIFY(!dlg.seen.empty());
      for (const auto& s : dlg.seen) {
        QVERIFY(!s.runEnabled);
        QVERIFY(!s.autoEnabled);
        QVERIFY(s.busyCursor);
      }
      QVERIFY(dlg.IsItemEnabled(IDC_BTN_RUN));
      QVERIFY(dlg.IsItemEnabled(IDC_BTN_AUTO));
      QVERIFY(QApplication::overrideCursor() == nullptr);
    }
    QVERIFY(script.boxes.empty());
  }

  void resetClearsExactlyFiveFields() {
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    LoadSamples(dlg, script);
    const unsigned maskPixels = dlg.m_nMaskPixels;
    Edit1020(dlg)->setText(QStringLiteral("1"));
    Click(dlg, IDC_BTN_RUN);
    QVERIFY(dlg.m_fPsnrDamaged > 0 && dlg.m_fPsnrResult > 0 && dlg.m_nTotalIter == 100);
    const int maskCount = dlg.m_nMaskCount;
    const QImage result = CMainDlg::SurfaceImage(dlg.m_surfResult);
    const float threshold = dlg.m_fThreshold;
    QCOMPARE(threshold, 1.0f);

    // Typed but not yet exchanged: Reset writes the field back over it.
    qobject_cast<QLineEdit*>(dlg.GetDlgItem(1007))->setText(QStringLiteral("50"));
    Click(dlg, IDC_BTN_RESET);
    const WindowState once = Snapshot(dlg);
    QCOMPARE(EditText(dlg, 1007), QStringLiteral("100"));
    QCOMPARE(EditText(dlg, 1008), QStringLiteral("2"));
    QCOMPARE(EditText(dlg, 1011), QStringLiteral("15"));
    QCOMPARE(EditText(dlg, 1012), QStringLiteral("0.01"));
    QCOMPARE(EditText(dlg, 1020), QStringLiteral("1"));
    for (int id : {1013, 1017, 1019, 1018, 1023}) QCOMPARE(EditText(dlg, id), QStringLiteral("0"));
    QCOMPARE(dlg.m_fPsnrDamaged, 0.0f);
    QCOMPARE(dlg.m_fPsnrResult, 0.0f);
    QCOMPARE(dlg.m_fSeconds, 0.0f);
    QCOMPARE(dlg.m_nTotalIter, 0u);
    QCOMPARE(dlg.m_nMaskPixels, 0u);
    QCOMPARE(dlg.m_nTransportIter, 100);
    QCOMPARE(dlg.m_fDeltaT, 0.01f);
    QCOMPARE(dlg.m_fThreshold, threshold);
    // Images, mask and work stay.
    QCOMPARE(dlg.m_nMaskCount, maskCount);
    QCOMPARE(CMainDlg::SurfaceImage(dlg.m_surfResult), result);
    for (const ImageSurface* s : {&dlg.m_surfOriginal, &dlg.m_surfDamaged, &dlg.m_surfResult, &dlg.m_surfMask})
      QCOMPARE(int(s->bLoaded), 1);

    Click(dlg, IDC_BTN_RESET);
    QVERIFY(Snapshot(dlg) == once);

    // The next run counts from 0 and goes on from the work left by the first.
    Click(dlg, IDC_BTN_RUN);
    QCOMPARE(dlg.m_nTotalIter, 100u);
    QCOMPARE(EditText(dlg, 1023), QStringLiteral("0"));
    QVERIFY(CMainDlg::SurfaceImage(dlg.m_surfResult) != result);

    // Cancelling the mask dialog shows the current count again.
    Click(dlg, IDC_BTN_LOAD_MASK);
    QCOMPARE(EditText(dlg, 1023), QString::number(maskPixels));
    QCOMPARE(script.boxes.back().text, QStringLiteral("Citra BMP please!"));
  }

 private:
  static QLineEdit* Edit1020(CMainDlg& dlg) { return qobject_cast<QLineEdit*>(dlg.GetDlgItem(1020)); }
};

QTEST_MAIN(WindowCommandsTest)
#include "window_commands_test.moc"
