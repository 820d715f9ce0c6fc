// The unsaved result kept for recovery: a window that ends without saving (as a
// kill ends it) leaves it in the cache, and the next start brings it back exactly
// as it was, or refuses it when its damaged file has changed.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "ui/resource.h"
#include "window_fixture.h"

namespace {
// The sample pictures copied to a folder of their own (so they can be changed).
struct Pictures {
  QTemporaryDir dir;
  QString damaged, mask, original;
  Pictures() {
    damaged = dir.filePath(QStringLiteral("photo.bmp"));
    mask = dir.filePath(QStringLiteral("mask.bmp"));
    original = dir.filePath(QStringLiteral("original.bmp"));
    QFile::copy(SampleFile("damaged.bmp"), damaged);
    QFile::copy(SampleFile("mask.bmp"), mask);
    QFile::copy(SampleFile("original.bmp"), original);
  }
};

void Load(CMainDlg& dlg, ModalScript& script, const Pictures& p, bool original) {
  if (original) {
    script.Answer(p.original);
    Click(dlg, IDC_BTN_LOAD_ORIGINAL);
  }
  script.Answer(p.damaged);
  Click(dlg, IDC_BTN_LOAD_DAMAGED);
  script.Answer(p.mask);
  Click(dlg, IDC_BTN_LOAD_MASK);
}

QString RecordPath() { return CRecoveryStore::DefaultFolder() + QStringLiteral("/unsaved-result.json"); }

std::vector<double> Masked(const CMainDlg& dlg) {
  std::vector<double> v;
  const CRestoreEngine& e = dlg.Engine();
  for (int k = 0; k < e.m_nMaskCount; ++k)
    for (int c = 0; c < 3; ++c) v.push_back(e.g_work[e.m_pMaskList[k].x][e.m_pMaskList[k].y][c]);
  return v;
}
}  // namespace

class RecoveryTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { CRecoveryStore().Remove(); }

  // Killed after two runs, started again, Yes: the same picture, result, figures
  // and masked values to the last bit, unsaved; the next run goes on exactly as it
  // would have; Undo goes back to before the runs.
  void aResultLeftUnsavedComesBackExactly() {
    Pictures p;
    ModalScript script;
    auto first = std::make_unique<CMainDlg>();
    first->Create();
    Load(*first, script, p, true);
    Click(*first, IDC_BTN_RUN);
    Click(*first, IDC_BTN_RUN);
    QVERIFY(QFileInfo::exists(RecordPath()));
    const WindowState after = Snapshot(*first);
    const std::vector<double> values = Masked(*first);
    Click(*first, IDC_BTN_RUN);  // where the recovered window must arrive too
    // (The seconds differ from run to run: the pixels and counts are compared.)
    const std::vector<double> thirdValues = Masked(*first);
    const QImage thirdResult = CMainDlg::SurfaceImage(first->Files().m_surfResult);
    const float thirdPsnr = first->Fields().m_fPsnrResult;
    Click(*first, IDC_BTN_UNDO);  // the kept result follows the undo
    QVERIFY(Snapshot(*first) == after);
    first.reset();  // ends without a word, as a kill does
    QVERIFY(QFileInfo::exists(RecordPath()));

    CMainDlg second;
    second.Create();
    script.boxes.clear();
    script.questionAnswers = {true};
    QVERIFY(second.OfferRecovery());
    second.WaitForRun();
    QCOMPARE(int(script.boxes.size()), 1);
    const QString question = script.boxes[0].text;
    QVERIFY2(question.startsWith(QStringLiteral("Recover the unsaved result of photo.bmp from ")) &&
                 question.size() == QStringLiteral("Recover the unsaved result of photo.bmp from 10:42?").size(),
             qPrintable(question));
    QVERIFY(Snapshot(second) == after);
    QVERIFY(Masked(second) == values);
    QVERIFY(second.Files().ResultUnsaved());
    QVERIFY(second.Engine().HasOriginal());
    Click(second, IDC_BTN_RUN);
    QVERIFY(Masked(second) == thirdValues);
    QCOMPARE(CMainDlg::SurfaceImage(second.Files().m_surfResult), thirdResult);
    QCOMPARE(second.Fields().m_fPsnrResult, thirdPsnr);
    QCOMPARE(second.Fields().m_nTotalIter, 300u);
    Click(second, IDC_BTN_UNDO);
    Click(second, IDC_BTN_UNDO);
    QVERIFY(!second.Files().HasResult());
    QVERIFY(!QFileInfo::exists(RecordPath()));  // nothing unsaved is left
    QCOMPARE(int(script.boxes.size()), 1);
  }

  // Saved, discarded by loading another picture, discarded at Exit, or refused at
  // the start: nothing is offered afterwards.
  void savedOrDiscardedResultsAreNotOffered_data() {
    QTest::addColumn<QString>("how");
    for (const char* how : {"save", "load", "exit", "no"}) QTest::newRow(how) << QString::fromLatin1(how);
  }
  void savedOrDiscardedResultsAreNotOffered() {
    QFETCH(QString, how);
    Pictures p;
    ModalScript script;
    {
      CMainDlg dlg;
      dlg.Create();
      Load(dlg, script, p, false);
      Click(dlg, IDC_BTN_RUN);
      QVERIFY(QFileInfo::exists(RecordPath()));
      if (how == QLatin1String("save")) {
        script.Answer(p.dir.filePath(QStringLiteral("hasil.png")));
        Click(dlg, IDC_BTN_SAVE);
        QVERIFY(QFileInfo::exists(p.dir.filePath(QStringLiteral("hasil.png"))));
      } else if (how == QLatin1String("load")) {
        script.questionAnswers = {true};  // discard
        script.Answer(p.original);
        Click(dlg, IDC_BTN_LOAD_DAMAGED);
      } else if (how == QLatin1String("exit")) {
        script.questionAnswers = {true};  // discard
        Click(dlg, IDCANCEL);
      }
      if (how != QLatin1String("no")) QVERIFY(!QFileInfo::exists(RecordPath()));
    }
    CMainDlg next;
    next.Create();
    script.boxes.clear();
    script.questionAnswers = {false};
    QVERIFY(!next.OfferRecovery());
    QCOMPARE(int(script.boxes.size()), how == QLatin1String("no") ? 1 : 0);
    QVERIFY(!QFileInfo::exists(RecordPath()));
    QVERIFY(QDir(CRecoveryStore::DefaultFolder()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    QVERIFY(!next.Files().m_surfDamaged.bLoaded);
  }

  // A damaged file that is gone or has changed, or kept files that were cut
  // short, are refused with a message naming why, and removed.
  void aResultThatCannotComeBackIsRefusedAndRemoved_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("why");
    QTest::newRow("gone") << QStringLiteral("gone") << QStringLiteral("photo.bmp is gone. It has been removed.");
    QTest::newRow("changed") << QStringLiteral("changed")
                             << QStringLiteral("photo.bmp has changed: it was 230454 bytes and is now 230455");
    QTest::newRow("values cut") << QStringLiteral("values") << QStringLiteral("is missing or cut short");
  }
  void aResultThatCannotComeBackIsRefusedAndRemoved() {
    QFETCH(QString, fault);
    QFETCH(QString, why);
    Pictures p;
    ModalScript script;
    {
      CMainDlg dlg;
      dlg.Create();
      Load(dlg, script, p, false);
      Click(dlg, IDC_BTN_RUN);
    }
    if (fault == QLatin1String("gone")) QFile::remove(p.damaged);
    if (fault == QLatin1String("changed")) {
      QFile f(p.damaged);
      QVERIFY(f.open(QIODevice::Append));
      f.write("x", 1);
    }
    if (fault == QLatin1String("values")) {
      const QStringList values =
          QDir(CRecoveryStore::DefaultFolder()).entryList({QStringLiteral("values-*")});
      QCOMPARE(values.size(), 1);
      QFile f(CRecoveryStore::DefaultFolder() + QStringLiteral("/") + values[0]);
      QVERIFY(f.resize(f.size() - 8));
    }
    CMainDlg next;
    next.Create();
    const WindowState start = Snapshot(next);
    script.boxes.clear();
    script.questionAnswers = {true};
    next.OfferRecovery();
    next.WaitForRun();
    const QString last = script.boxes.empty() ? QString() : script.boxes.back().text;
    QVERIFY2(last.startsWith(QStringLiteral("The unsaved result of photo.bmp from ")) &&
                 last.contains(QStringLiteral(" cannot be recovered: ")) && last.contains(why),
             qPrintable(last));
    // Asked only when the damaged file is still there as it was.
    QCOMPARE(int(script.boxes.size()), fault == QLatin1String("values") ? 2 : 1);
    QVERIFY(Snapshot(next) == start);
    QVERIFY(QDir(CRecoveryStore::DefaultFolder()).entryList(QDir::Files | QDir::Hidden).isEmpty());
  }
};

QTEST_MAIN(RecoveryTest)
#include "recovery_test.moc"
