// The buttons of the main window: each reaches its command, the file dialogs they
// ask, a whole session against the command-line program, a run on its worker
// thread (what is disabled meanwhile, Stop, no queued runs), and Reset.
#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>

#include "ui/resource.h"
#include "window_fixture.h"

namespace {
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
    QCOMPARE(int(dlg.Files().m_surfOriginal.bLoaded), 1);
    QCOMPARE(dlg.Files().m_surfOriginal.nWidth, QImage(SampleFile("original.bmp")).width());
    QCOMPARE(int(dlg.Files().m_surfDamaged.bLoaded), 0);

    script.Answer(SampleFile("damaged.bmp"));
    Click(dlg, IDC_BTN_LOAD_DAMAGED);
    QCOMPARE(int(dlg.Files().m_surfDamaged.bLoaded), 1);
    QCOMPARE(int(dlg.Files().m_surfResult.bLoaded), 1);
    QCOMPARE(int(dlg.Files().m_surfMask.bLoaded), 0);

    script.Answer(SampleFile("mask.bmp"));
    Click(dlg, IDC_BTN_LOAD_MASK);
    QCOMPARE(int(dlg.Files().m_surfMask.bLoaded), 1);
    const int masked = MaskedPixelsOf(SampleFile("mask.bmp"));
    QVERIFY(masked > 0);
    QCOMPARE(EditText(dlg, 1023), QString::number(masked));

    Click(dlg, IDC_BTN_RUN);
    QCOMPARE(EditText(dlg, 1018), QStringLiteral("100"));
    QVERIFY(dlg.Fields().m_fPsnrResult > 0);
    QCOMPARE(EditText(dlg, 1017),
             QString::fromStdString(FormatFloatField(dlg.Fields().m_fPsnrResult)));

    Click(dlg, IDC_BTN_AUTO);
    QVERIFY(dlg.Fields().m_nTotalIter >= 115);
    QCOMPARE((dlg.Fields().m_nTotalIter - 100) % 15, 0u);

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

  void fileDialogsListThePictureFormatsAndNeverAskToReplace() {
    QTemporaryDir dir;
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    LoadSamples(dlg, script);
    Click(dlg, IDC_BTN_RUN);
    script.Answer(std::nullopt);
    Click(dlg, IDC_BTN_SAVE);
    QCOMPARE(int(script.fileAsks.size()), 4);
    for (const auto& ask : script.fileAsks) {
      QVERIFY(ask.options & QFileDialog::DontUseNativeDialog);
      QCOMPARE(ask.fileMode, QFileDialog::AnyFile);
    }
    const QStringList open = script.fileAsks[0].shownFilters;
    QCOMPARE(open.size(), 4);
    for (const char* pattern : {"*.bmp", "*.BMP", "*.png", "*.jpg", "*.jpeg", "*.JPEG"})
      QVERIFY2(script.fileAsks[0].nameFilters[0].contains(QLatin1String(pattern)), pattern);
    QVERIFY(!script.fileAsks[3].open);
    QVERIFY(script.fileAsks[3].options & QFileDialog::DontConfirmOverwrite);
    QCOMPARE(script.fileAsks[3].nameFilters.size(), 2);  // PNG and BMP are written
    // Cancel does nothing: no message, nothing saved.
    QVERIFY(script.boxes.empty());
    QVERIFY(dlg.Files().ResultUnsaved());
  }

  // Save proposes the damaged picture's stem and format, gives a name typed without
  // an extension the chosen type's, and says what it wrote.
  void saveProposesTheDamagedNameAndConfirms() {
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("photo.png"));
    QVERIFY(QImage(SampleFile("damaged.bmp")).save(png));
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    script.Answer(png);
    script.Answer(SampleFile("mask.bmp"));
    Click(dlg, IDC_BTN_LOAD_DAMAGED);
    Click(dlg, IDC_BTN_LOAD_MASK);
    QCOMPARE(dlg.ProposedSaveName(), QStringLiteral("photo-restored.png"));
    Click(dlg, IDC_BTN_RUN);
    QString proposed, filter;
    ModalHooks().fileDialog = [&](QFileDialog& d) -> std::optional<QString> {
      proposed = d.selectedFiles().value(0);
      filter = d.selectedNameFilter();
      return dir.filePath(QStringLiteral("typed"));
    };
    Click(dlg, IDC_BTN_SAVE);
    QCOMPARE(QFileInfo(proposed).fileName(), QStringLiteral("photo-restored.png"));
    QVERIFY(filter.startsWith(QStringLiteral("PNG")));
    QVERIFY2(script.boxes.empty(),
             qPrintable(script.boxes.empty() ? QString() : script.boxes[0].text));
    QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("typed.png"))));
    QCOMPARE(dlg.StatusText(), QStringLiteral("Saved typed.png (320 x 240)"));
    QVERIFY(!dlg.Files().ResultUnsaved());
    // The same bytes as the command line writes.
    const QString reference = dir.filePath(QStringLiteral("reference.png"));
    QCOMPARE(RunCli({QStringLiteral("--damaged"), png, QStringLiteral("--mask"),
                     SampleFile("mask.bmp"), QStringLiteral("--output"), reference})
                 .exitCode,
             0);
    QFile a(dir.filePath(QStringLiteral("typed.png"))), b(reference);
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    QCOMPARE(a.readAll(), b.readAll());
  }

  void extensionTestTakesThePictureFormatsInAnyCase_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("bmp") << "a.bmp" << true;
    QTest::newRow("BMP") << "a.BMP" << true;
    QTest::newRow("Bmp") << "a.Bmp" << true;
    QTest::newRow("png") << "a.png" << true;
    QTest::newRow("JPG") << "a.JPG" << true;
    QTest::newRow("jpeg") << "a.jpeg" << true;
    QTest::newRow("none") << "a" << false;
    QTest::newRow("tif") << "a.tif" << false;
    QTest::newRow("bmpx") << "a.bmpx" << false;
  }
  void extensionTestTakesThePictureFormatsInAnyCase() {
    QFETCH(QString, name);
    QFETCH(bool, accepted);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    // The content decides how it is read; the name only whether it is tried.
    QVERIFY(QFile::copy(SampleFile("damaged.bmp"), path));
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    script.Answer(path);
    Click(dlg, IDC_BTN_LOAD_DAMAGED);
    QCOMPARE(int(dlg.Files().m_surfDamaged.bLoaded), accepted ? 1 : 0);
    QCOMPARE(int(script.boxes.size()), accepted ? 0 : 1);
    if (!accepted) {
      QVERIFY(script.boxes[0].text.startsWith(QStringLiteral("Citra BMP please!\n")));
      QVERIFY(script.boxes[0].text.contains(QStringLiteral(".bmp, .png, .jpg or .jpeg")));
      QCOMPARE(script.boxes[0].caption, QStringLiteral("not valid"));
    }
  }

  void sessionGivesTheCommandLineNumbers() {
    QTemporaryDir dir;
    const QString original = SampleFile("original.bmp"), damaged = SampleFile("damaged.bmp"),
                  mask = SampleFile("mask.bmp");
    const QString cliRun = dir.filePath(QStringLiteral("cli_run.bmp"));
    const QString cliAuto = dir.filePath(QStringLiteral("cli_auto.bmp"));
    const QStringList common = {QStringLiteral("--damaged"),  damaged,
                                QStringLiteral("--mask"),     mask,
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
    QCOMPARE(Exact(dlg.Fields().m_fPsnrDamaged), run.psnrDamaged);
    QCOMPARE(Exact(dlg.Fields().m_fPsnrResult), run.psnrResult);
    QCOMPARE(QString::number(dlg.Fields().m_nTotalIter), run.iterations);
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
    QCOMPARE(Exact(dlg.Fields().m_fPsnrDamaged), automatic.psnrDamaged);
    QCOMPARE(Exact(dlg.Fields().m_fPsnrResult), automatic.psnrResult);
    QCOMPARE(QString::number(dlg.Fields().m_nTotalIter), automatic.iterations);
    const QString savedAuto = dir.filePath(QStringLiteral("auto.BMP"));
    script.Answer(savedAuto);
    Click(dlg, IDC_BTN_SAVE);
    QCOMPARE(ReadAll(savedAuto), ReadAll(cliAuto));
    QVERIFY(ReadAll(savedAuto) != ReadAll(savedRun));

    // The saved file loads back and shows the result's pixels.
    const QImage result = CMainDlg::SurfaceImage(dlg.Files().m_surfResult);
    script.Answer(savedAuto);
    Click(dlg, IDC_BTN_LOAD_ORIGINAL);
    const QImage reloaded = CMainDlg::SurfaceImage(dlg.Files().m_surfOriginal);
    QVERIFY(reloaded.width() >= result.width());
    QCOMPARE(reloaded.height(), result.height());
    QCOMPARE(reloaded.copy(0, 0, result.width(), result.height()), result);
    QVERIFY(script.boxes.empty());
  }

  // A long run goes on its worker thread: the window answers, what would change
  // the run's inputs is disabled, further clicks on the run buttons do nothing,
  // and Stop keeps a result that counts what ran and saves.
  void runGoesOnAWorkerAndStops() {
    QTemporaryDir dir;
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    dlg.show();
    LoadSamples(dlg, script);
    SetEditText(dlg, 1007, QStringLiteral("200000"));
    ClickOnly(dlg, IDC_BTN_RUN);
    QVERIFY(dlg.IsRunning());
    // The bar measures the count just typed, not the one the last run read; the
    // window's event loop goes on meanwhile, showing the run's blocks as they end.
    auto* bar = qobject_cast<QProgressBar*>(dlg.GetDlgItem(IDC_PROGRESS));
    QVERIFY(bar);
    QCOMPARE(bar->maximum(), 200000);
    QTRY_VERIFY(bar->value() > 0);
    QVERIFY(dlg.IsRunning());
    for (int id : {1004, 1005, 1016, 1006, 1021, 3, 1022, 1007, 1012, 1020})
      QVERIFY2(!Enabled(dlg, id), qPrintable(QString::number(id)));
    QVERIFY(Enabled(dlg, IDC_BTN_STOP));
    QVERIFY(Enabled(dlg, IDC_BTN_VIEW));
    // A click that arrives meanwhile (the button is disabled) starts nothing.
    QTest::mouseClick(dlg.windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      CentreOf(dlg, IDC_BTN_AUTO));
    ClickOnly(dlg, IDC_BTN_STOP);
    dlg.WaitForRun();
    QVERIFY(!dlg.IsRunning());
    const unsigned ran = dlg.Fields().m_nTotalIter;
    QVERIFY(ran > 0 && ran < 200000);
    QCOMPARE(EditText(dlg, 1018), QString::number(ran));
    QVERIFY(dlg.Files().HasResult());
    QVERIFY(Enabled(dlg, IDC_BTN_RUN) && Enabled(dlg, IDC_BTN_AUTO) && !Enabled(dlg, IDC_BTN_STOP));
    // Whatever the click left queued is delivered now: no run was among it.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    QVERIFY(!dlg.IsRunning());
    QCOMPARE(dlg.Fields().m_nTotalIter, ran);
    QVERIFY(dlg.StatusText().startsWith(QStringLiteral("Stopped")));
    const QString saved = dir.filePath(QStringLiteral("berhenti.bmp"));
    script.Answer(saved);
    Click(dlg, IDC_BTN_SAVE);
    QVERIFY(QFileInfo(saved).size() > 54);
    QVERIFY(script.boxes.empty());
  }

  void resetClearsExactlyFiveFields() {
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    LoadSamples(dlg, script);
    const unsigned maskPixels = dlg.Fields().m_nMaskPixels;
    Edit1020(dlg)->setText(QStringLiteral("1"));
    Click(dlg, IDC_BTN_RUN);
    QVERIFY(dlg.Fields().m_fPsnrDamaged > 0 && dlg.Fields().m_fPsnrResult > 0 &&
            dlg.Fields().m_nTotalIter == 100);
    const int maskCount = dlg.Engine().m_nMaskCount;
    const QImage result = CMainDlg::SurfaceImage(dlg.Files().m_surfResult);
    const float threshold = dlg.Fields().m_fThreshold;
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
    QCOMPARE(dlg.Fields().m_fPsnrDamaged, 0.0f);
    QCOMPARE(dlg.Fields().m_fPsnrResult, 0.0f);
    QCOMPARE(dlg.Fields().m_fSeconds, 0.0f);
    QCOMPARE(dlg.Fields().m_nTotalIter, 0u);
    QCOMPARE(dlg.Fields().m_nMaskPixels, 0u);
    QCOMPARE(dlg.Fields().m_nTransportIter, 100);
    QCOMPARE(dlg.Fields().m_fDeltaT, 0.01f);
    QCOMPARE(dlg.Fields().m_fThreshold, threshold);
    // Images, mask and work stay.
    QCOMPARE(dlg.Engine().m_nMaskCount, maskCount);
    QCOMPARE(CMainDlg::SurfaceImage(dlg.Files().m_surfResult), result);
    for (const ImageSurface* s : {&dlg.Files().m_surfOriginal, &dlg.Files().m_surfDamaged,
                                  &dlg.Files().m_surfResult, &dlg.Files().m_surfMask})
      QCOMPARE(int(s->bLoaded), 1);

    Click(dlg, IDC_BTN_RESET);
    QVERIFY(Snapshot(dlg) == once);

    // The next run counts from 0 and goes on from the work left by the first.
    Click(dlg, IDC_BTN_RUN);
    QCOMPARE(dlg.Fields().m_nTotalIter, 100u);
    QCOMPARE(EditText(dlg, 1023), QStringLiteral("0"));
    QVERIFY(CMainDlg::SurfaceImage(dlg.Files().m_surfResult) != result);

    // Cancelling the mask dialog changes nothing and says nothing.
    const std::size_t boxes = script.boxes.size();
    Click(dlg, IDC_BTN_LOAD_MASK);
    QCOMPARE(EditText(dlg, 1023), QStringLiteral("0"));
    QCOMPARE(script.boxes.size(), boxes);
    QCOMPARE(dlg.Engine().m_nMaskCount, int(maskPixels));
  }

 private:
  static QLineEdit* Edit1020(CMainDlg& dlg) {
    return qobject_cast<QLineEdit*>(dlg.GetDlgItem(1020));
  }
};

QTEST_MAIN(WindowCommandsTest)
#include "window_commands_test.moc"
