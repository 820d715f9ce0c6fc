// What the window does with files it cannot use and commands it cannot carry out:
// a message box owned by the window, nothing changed, and the program goes on.
#include <sys/resource.h>

#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

#include "session/system_memory.h"
#include "ui/resource.h"
#include "tests/support/failing_new.h"
#include "window_fixture.h"

// Allocation failures on demand: while armed, every allocation of at least the
// given size made off the window's thread (by a run, a load or a save going on
// a worker) fails as it would when memory runs short.
namespace {
std::atomic<std::size_t> g_failFrom{0};
std::atomic<int> g_failed{0};
std::thread::id g_windowThread;

struct FailLargeAllocations {
  explicit FailLargeAllocations(std::size_t bytes) {
    g_failed = 0;
    g_failFrom = bytes;
  }
  ~FailLargeAllocations() { g_failFrom = 0; }
  int Failed() const { return g_failed; }
};
}  // namespace

bool FailsAllocation(std::size_t n) {
  const std::size_t from = g_failFrom.load(std::memory_order_relaxed);
  if (from == 0 || n < from || std::this_thread::get_id() == g_windowThread) return false;
  ++g_failed;
  return true;
}

namespace {
QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes);
}

// The headers of a 32-bit BMP of 4 x 4 pixels and its pixels.
QByteArray Bmp32() {
  QByteArray b = ReadAll(SampleFile("damaged.bmp")).left(54);
  const auto put = [&b](int at, quint32 v, int n) {
    for (int i = 0; i < n; ++i) b[at + i] = char((v >> (8 * i)) & 0xFF);
  };
  put(2, 54 + 64, 4);
  put(18, 4, 4);
  put(22, 4, 4);
  put(28, 32, 2);
  put(34, 64, 4);
  b.append(QByteArray(64, '\x40'));
  return b;
}

// A window with all three sample images loaded and one run done.
struct Loaded {
  ModalScript script;
  CMainDlg dlg;
  Loaded() {
    dlg.Create();
    LoadSamples(dlg, script);
    Click(dlg, IDC_BTN_RUN);
  }
};

// A load through its button; over the unsaved result of Loaded, the damaged
// image's load asks first ("Discard"), and the question is checked and dropped.
void ClickLoad(Loaded& w, int button) {
  if (button == IDC_BTN_LOAD_DAMAGED) w.script.questionAnswers.push_back(true);
  Click(w.dlg, button);
  if (button != IDC_BTN_LOAD_DAMAGED) return;
  QVERIFY(!w.script.boxes.empty());
  QCOMPARE(w.script.boxes[0].text,
           QStringLiteral("The result has not been saved. Load another picture and discard it?"));
  w.script.boxes.erase(w.script.boxes.begin());
}

void CheckStillWorks(Loaded& w) {
  const unsigned before = w.dlg.Fields().m_nTotalIter;
  const std::size_t boxes = w.script.boxes.size();
  Click(w.dlg, IDC_BTN_RUN);
  QCOMPARE(w.dlg.Fields().m_nTotalIter, before + 100);
  QCOMPARE(w.script.boxes.size(), boxes);
  QVERIFY(Enabled(w.dlg, IDC_BTN_RUN));
}
}  // namespace

class WindowFaultsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { g_windowThread = std::this_thread::get_id(); }

  // A run, load or save that runs out of memory says so with the picture's size
  // and an estimate, and leaves the window, its edits and its result as they were.
  void outOfMemoryKeepsTheWindowAndItsResult_data() {
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("message");
    QTest::newRow("run") << int(IDC_BTN_RUN)
                         << QStringLiteral("not enough memory to restore a 320 x 240 picture (needs about ");
    QTest::newRow("damaged")
        << int(IDC_BTN_LOAD_DAMAGED)
        << QStringLiteral("not enough memory to restore a 320 x 240 picture (needs about ");
    QTest::newRow("mask") << int(IDC_BTN_LOAD_MASK)
                          << QStringLiteral("not enough memory to load a 320 x 240 mask (needs about ");
    QTest::newRow("original")
        << int(IDC_BTN_LOAD_ORIGINAL)
        << QStringLiteral("not enough memory to load a 320 x 240 original (needs about ");
    QTest::newRow("save") << int(IDC_BTN_SAVE)
                          << QStringLiteral("not enough memory to encode a 320 x 240 image (231174 bytes)");
  }
  void outOfMemoryKeepsTheWindowAndItsResult() {
    QFETCH(int, button);
    QFETCH(QString, message);
    Loaded w;
    Click(w.dlg, IDC_BTN_RUN);  // two runs: the one that fails would be the third
    QTemporaryDir dir;
    const QString saved = dir.filePath(QStringLiteral("hasil.bmp"));
    if (button != IDC_BTN_RUN)
      w.script.Answer(button == IDC_BTN_SAVE              ? saved
                      : button == IDC_BTN_LOAD_MASK       ? SampleFile("mask.bmp")
                      : button == IDC_BTN_LOAD_ORIGINAL   ? SampleFile("original.bmp")
                                                          : SampleFile("damaged.bmp"));
    const WindowState before = Snapshot(w.dlg);
    const int steps = w.dlg.UndoSteps();
    {
      // The pictures are 230,400 bytes (as a BMP file 231,174); the planes, grids and lists larger.
      FailLargeAllocations fail(200000);
      ClickLoad(w, button);
      QVERIFY(fail.Failed() > 0);
    }
    QCOMPARE(int(w.script.boxes.size()), 1);
    QVERIFY2(w.script.boxes[0].text.contains(message), qPrintable(w.script.boxes[0].text));
    QVERIFY(Snapshot(w.dlg) == before);
    QCOMPARE(w.dlg.UndoSteps(), steps);
    QVERIFY(w.dlg.Files().ResultUnsaved());
    QVERIFY(!QFileInfo::exists(saved));
    // The result before is the one the undo steps hold.
    Click(w.dlg, IDC_BTN_UNDO);
    Click(w.dlg, IDC_BTN_REDO);
    QVERIFY(Snapshot(w.dlg) == before);
    w.script.boxes.clear();
    CheckStillWorks(w);
  }

  // Before a load, the memory the header's picture needs is weighed against what
  // the machine can give (here an address-space limit): refused with both figures
  // before anything is decoded.
  void loadBeyondTheMachinesRoomIsRefusedFromItsHeader() {
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer maps far more address space than any cap leaves room for");
#endif
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("scan.bmp"));
    WriteBmp(path, 2000, 1500, [](int x, int y) { return qRgb(x & 255, y & 255, 9); });
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    const WindowState before = Snapshot(dlg);
    rlimit old{};
    QVERIFY(getrlimit(RLIMIT_AS, &old) == 0);
    const std::optional<std::uint64_t> used = ReadMemoryFigures().addressSpaceUsed;
    QVERIFY(used.has_value());
    rlimit tight = old;
    tight.rlim_cur = rlim_t(*used + (std::uint64_t(300) << 20));  // 300 MB above what is mapped
    QVERIFY(setrlimit(RLIMIT_AS, &tight) == 0);
    script.Answer(path);
    ClickOnly(dlg, IDC_BTN_LOAD_DAMAGED);
    const bool busy = dlg.IsBusy();
    setrlimit(RLIMIT_AS, &old);
    QVERIFY(!busy);  // refused at once: nothing is being read
    QCOMPARE(int(script.boxes.size()), 1);
    const QString text = script.boxes[0].text;
    QVERIFY2(text.startsWith(QStringLiteral(
                 "not enough memory to restore a 2000 x 1500 picture (needs about ")) &&
                 text.contains(QStringLiteral(" MB, the machine can give ")),
             qPrintable(text));
    QVERIFY(Snapshot(dlg) == before);
  }

  // A time step at or below 0 or above 1 is run only when the user says so, once
  // for each value typed; No leaves everything as it was.
  void timeStepOutsideZeroToOneAsksOnce() {
    Loaded w;
    auto* dt = qobject_cast<QLineEdit*>(w.dlg.GetDlgItem(IDC_EDIT_DELTA_T));
    QVERIFY(dt);
    SetEditText(w.dlg, IDC_EDIT_DELTA_T, QStringLiteral("-1"));  // pasted: a minus cannot be typed
    const WindowState before = Snapshot(w.dlg);
    w.script.questionAnswers = {false};
    Click(w.dlg, IDC_BTN_RUN);
    QCOMPARE(int(w.script.boxes.size()), 1);
    QCOMPARE(w.script.boxes[0].text,
             QStringLiteral("A time step of -1 moves every value away from the fill. Run anyway?"));
    QVERIFY(Snapshot(w.dlg) == before);
    Click(w.dlg, IDC_BTN_AUTO);  // Go !!! asks the same
    QCOMPARE(int(w.script.boxes.size()), 2);
    QVERIFY(Snapshot(w.dlg) == before);

    w.script.questionAnswers = {true};
    Click(w.dlg, IDC_BTN_RUN);
    QCOMPARE(int(w.script.boxes.size()), 3);
    QCOMPARE(w.dlg.Fields().m_nTotalIter, 200u);
    QCOMPARE(w.dlg.Fields().m_fDeltaT, -1.0f);
    Click(w.dlg, IDC_BTN_RUN);  // the same value: not asked again
    QCOMPARE(int(w.script.boxes.size()), 3);
    QCOMPARE(w.dlg.Fields().m_nTotalIter, 300u);

    // Typed anew, even as the same number, it is asked about again; 0 and 3 too.
    for (const char* typed : {"3", "0", "1.5", "3"}) {
      dt->setFocus();
      dt->selectAll();
      QTest::keyClicks(dt, QString::fromLatin1(typed));
      QCOMPARE(dt->text(), QString::fromLatin1(typed));
      const std::size_t boxes = w.script.boxes.size();
      w.script.questionAnswers = {false};
      Click(w.dlg, IDC_BTN_RUN);
      QCOMPARE(w.script.boxes.size(), boxes + 1);
      QVERIFY2(w.script.boxes.back().text.startsWith(QStringLiteral("A time step of %1 ").arg(typed)),
               qPrintable(w.script.boxes.back().text));
      QCOMPARE(w.dlg.Fields().m_nTotalIter, 300u);
    }
    QCOMPARE(w.script.boxes.back().text,
             QStringLiteral("A time step of 3 moves every value away from the fill. Run anyway?"));
    // Within (0, 1] nothing is asked, the membrane fill takes no time step.
    for (const char* fine : {"1", "0.5"}) {
      SetEditText(w.dlg, IDC_EDIT_DELTA_T, QString::fromLatin1(fine));
      const std::size_t boxes = w.script.boxes.size();
      Click(w.dlg, IDC_BTN_RUN);
      QCOMPARE(w.script.boxes.size(), boxes);
    }
    QCOMPARE(w.dlg.Fields().m_nTotalIter, 500u);
    SetEditText(w.dlg, IDC_EDIT_DELTA_T, QStringLiteral("-2"));
    w.dlg.SetMethod(QStringLiteral("membrane"));
    const std::size_t boxes = w.script.boxes.size();
    Click(w.dlg, IDC_BTN_RUN);
    QCOMPARE(w.script.boxes.size(), boxes);
  }
  void refusedFileChangesNothing_data() {
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("fault");
    for (int button : {IDC_BTN_LOAD_DAMAGED, IDC_BTN_LOAD_MASK, IDC_BTN_LOAD_ORIGINAL})
      for (const char* fault : {"missing", "garbage", "truncated", "32-bit", "empty"})
        QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(button).arg(QLatin1String(fault))))
            << button << QString::fromLatin1(fault);
  }
  void refusedFileChangesNothing() {
    QFETCH(int, button);
    QFETCH(QString, fault);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rusak.bmp"));
    if (fault == QLatin1String("garbage")) WriteAll(path, QByteArray(4000, 'x'));
    if (fault == QLatin1String("truncated"))
      WriteAll(path, ReadAll(SampleFile("damaged.bmp")).left(5000));
    if (fault == QLatin1String("32-bit")) WriteAll(path, Bmp32());
    if (fault == QLatin1String("empty")) WriteAll(path, QByteArray());

    Loaded w;
    const WindowState before = Snapshot(w.dlg);
    w.script.Answer(path);
    ClickLoad(w, button);
    QCOMPARE(int(w.script.boxes.size()), 1);
    const auto& box = w.script.boxes[0];
    const QStringList lines = box.text.split('\n');
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], QStringLiteral("File Gagal diBuka"));
    QVERIFY2(lines[1].contains(QStringLiteral("rusak.bmp")) && lines[1].size() > path.size() + 3,
             qPrintable(lines[1]));
    QCOMPARE(box.caption, QStringLiteral("Error"));
    QVERIFY(box.noIcon && box.okOnly);
    QCOMPARE(box.owner, static_cast<QWidget*>(&w.dlg));
    QVERIFY(Snapshot(w.dlg) == before);
    CheckStillWorks(w);
  }

  void oversizeImageRefused_data() {
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    for (int button : {IDC_BTN_LOAD_DAMAGED, IDC_BTN_LOAD_MASK, IDC_BTN_LOAD_ORIGINAL}) {
      QTest::newRow(qPrintable(QStringLiteral("%1 wide").arg(button))) << button << 16385 << 4;
      QTest::newRow(qPrintable(QStringLiteral("%1 tall").arg(button))) << button << 4 << 16385;
    }
  }
  void oversizeImageRefused() {
    QFETCH(int, button);
    QFETCH(int, width);
    QFETCH(int, height);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.bmp"));
    WriteBmp(path, width, height, [](int x, int y) { return qRgb(x & 255, y & 255, 9); });
    Loaded w;
    const WindowState before = Snapshot(w.dlg);
    w.script.Answer(path);
    ClickLoad(w, button);
    QCOMPARE(int(w.script.boxes.size()), 1);
    QCOMPARE(w.script.boxes[0].caption, QStringLiteral("not valid"));
    QVERIFY2(
        w.script.boxes[0].text.contains(QStringLiteral("16385")) &&
            w.script.boxes[0].text.contains(QStringLiteral("the limit is 16384 pixels a side")),
        qPrintable(w.script.boxes[0].text));
    QVERIFY(Snapshot(w.dlg) == before);
    CheckStillWorks(w);
  }

  void pictureLargerThanTheOldPlanesIsAccepted() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("scan.bmp"));
    WriteBmp(path, 1600, 1200, [](int x, int y) { return qRgb(x & 255, y & 255, 9); });
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    script.Answer(path);
    Click(dlg, IDC_BTN_LOAD_DAMAGED);
    QVERIFY(script.boxes.empty());
    QCOMPARE(dlg.Files().m_surfDamaged.nWidth, 1600);
    QCOMPARE(dlg.Files().m_surfDamaged.nHeight, 1200);
    QCOMPARE(dlg.Engine().Width(), 1600);
  }

  void maskOfAnotherSizeRefused_data() {
    QTest::addColumn<int>("dw");
    QTest::addColumn<int>("dh");
    QTest::newRow("wider") << 1 << 0;
    QTest::newRow("narrower") << -1 << 0;
    QTest::newRow("taller") << 0 << 1;
    QTest::newRow("shorter") << 0 << -7;
  }
  void maskOfAnotherSizeRefused() {
    QFETCH(int, dw);
    QFETCH(int, dh);
    Loaded w;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("mask.bmp"));
    WriteBmp(path, w.dlg.Files().m_surfDamaged.nWidth + dw,
             w.dlg.Files().m_surfDamaged.nHeight + dh,
             [](int x, int) { return x % 3 ? qRgb(255, 255, 255) : qRgb(0, 0, 0); });
    const WindowState before = Snapshot(w.dlg);
    w.script.Answer(path);
    Click(w.dlg, IDC_BTN_LOAD_MASK);
    QCOMPARE(int(w.script.boxes.size()), 1);
    QCOMPARE(w.script.boxes[0].caption, QStringLiteral("not valid"));
    QVERIFY(Snapshot(w.dlg) == before);
    CheckStillWorks(w);
  }

  void saveNeverOverwrites() {
    Loaded w;
    QTemporaryDir dir;
    const QString existing = dir.filePath(QStringLiteral("ada.bmp"));
    WriteAll(existing, QByteArray("keep me"));
    const QImage result = CMainDlg::SurfaceImage(w.dlg.Files().m_surfResult);
    const WindowState before = Snapshot(w.dlg);

    w.script.Answer(existing);
    Click(w.dlg, IDC_BTN_SAVE);
    QCOMPARE(int(w.script.boxes.size()), 1);
    QCOMPARE(w.script.boxes[0].text.split('\n').first(), QStringLiteral("cannot create file"));
    QCOMPARE(w.script.boxes[0].caption, QStringLiteral("ruvanta"));
    QVERIFY(w.script.boxes[0].noIcon && w.script.boxes[0].okOnly);
    QCOMPARE(ReadAll(existing), QByteArray("keep me"));
    QVERIFY(Snapshot(w.dlg) == before);

    // A file that cannot be created: no file is left behind.
    const QString nowhere = dir.filePath(QStringLiteral("tidak/ada.bmp"));
    w.script.Answer(nowhere);
    Click(w.dlg, IDC_BTN_SAVE);
    QCOMPARE(int(w.script.boxes.size()), 2);
    QCOMPARE(w.script.boxes[1].text.split('\n').first(), QStringLiteral("cannot create file"));
    QCOMPARE(w.script.boxes[1].caption, QStringLiteral("ruvanta"));
    QVERIFY(!QFileInfo::exists(nowhere));

    // The result is intact and can still be saved under a new name.
    QCOMPARE(CMainDlg::SurfaceImage(w.dlg.Files().m_surfResult), result);
    const QString fresh = dir.filePath(QStringLiteral("baru.bmp"));
    w.script.Answer(fresh);
    Click(w.dlg, IDC_BTN_SAVE);
    QCOMPARE(int(w.script.boxes.size()), 2);
    QVERIFY(QFileInfo(fresh).size() > 54);
    CheckStillWorks(w);
  }

  void runBeforeLoadsRefused() {
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    const WindowState start = Snapshot(dlg);
    const auto refusedBoth = [&](const WindowState& before) {
      for (int button : {IDC_BTN_RUN, IDC_BTN_AUTO}) {
        const std::size_t n = script.boxes.size();
        Click(dlg, button);
        QCOMPARE(script.boxes.size(), n + 1);
        QCOMPARE(script.boxes.back().text,
                 QStringLiteral("Load a damaged image and a mask first."));
        QCOMPARE(script.boxes.back().caption, QStringLiteral("not valid"));
        QVERIFY(Enabled(dlg, IDC_BTN_RUN) && Enabled(dlg, IDC_BTN_AUTO));
        QVERIFY(Snapshot(dlg) == before);
      }
    };
    refusedBoth(start);
    // A damaged image alone is not enough.
    script.Answer(SampleFile("damaged.bmp"));
    Click(dlg, IDC_BTN_LOAD_DAMAGED);
    refusedBoth(Snapshot(dlg));
    // With its mask the run goes.
    script.Answer(SampleFile("mask.bmp"));
    Click(dlg, IDC_BTN_LOAD_MASK);
    const std::size_t n = script.boxes.size();
    Click(dlg, IDC_BTN_RUN);
    QCOMPARE(script.boxes.size(), n);
    QCOMPARE(dlg.Fields().m_nTotalIter, 100u);
  }

  // An edit a run reads that holds no number: one message naming it, the focus on
  // it, and nothing runs or changes; the seconds are those of the later run only.
  void runStartsOnlyOnValuesThatConvert_data() {
    QTest::addColumn<int>("edit");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty count") << 1007 << QString() << "Ruvanta: please enter a whole number.";
    QTest::newRow("pasted text") << 1008 << "2x"
                                 << "Diffussi: please enter a whole number.";
    QTest::newRow("two points") << 1012 << "0.0.1"
                                << "DeltaT: please enter a number.";
    QTest::newRow("empty seconds") << 1019 << QString() << "Waktu: please enter a number.";
  }
  void runStartsOnlyOnValuesThatConvert() {
    QFETCH(int, edit);
    QFETCH(QString, text);
    QFETCH(QString, message);
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    LoadSamples(dlg, script);
    SetEditText(dlg, edit, text);
    const WindowState before = Snapshot(dlg);
    for (int button : {IDC_BTN_RUN, IDC_BTN_AUTO}) {
      const std::size_t n = script.boxes.size();
      Click(dlg, button);
      QCOMPARE(script.boxes.size(), n + 1);
      QCOMPARE(script.boxes.back().text, message);
      QCOMPARE(dlg.focusWidget(), dlg.GetDlgItem(edit));
      QVERIFY(Snapshot(dlg) == before);
      QVERIFY(!dlg.Files().HasResult());
    }
    // Put right, the run goes exactly as the command line's.
    SetEditText(dlg, edit,
                edit == 1019   ? QStringLiteral("0")
                : edit == 1012 ? QStringLiteral("0.01")
                : edit == 1008 ? QStringLiteral("2")
                               : QStringLiteral("100"));
    Click(dlg, IDC_BTN_RUN);
    const CliResult cli =
        RunCli({QStringLiteral("--damaged"), SampleFile("damaged.bmp"), QStringLiteral("--mask"),
                SampleFile("mask.bmp"), QStringLiteral("--original"), SampleFile("original.bmp")});
    QCOMPARE(Exact(dlg.Fields().m_fPsnrResult), cli.psnrResult);
    QVERIFY(dlg.Fields().m_fSeconds < 60.0f);
  }

  void saveNeedsAResult() {
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kosong.bmp"));
    for (int step = 0; step < 2; ++step) {  // before any load, then after the loads
      if (step == 1) LoadSamples(dlg, script);
      const std::size_t asks = script.fileAsks.size(), n = script.boxes.size();
      Click(dlg, IDC_BTN_SAVE);
      QCOMPARE(script.fileAsks.size(), asks);  // nothing is asked
      QCOMPARE(script.boxes.size(), n + 1);
      QVERIFY(script.boxes.back().text.startsWith(QStringLiteral("Nothing to save yet.")));
      QVERIFY(!QFileInfo::exists(path));
    }
    // After a run Save writes a file the program reads back.
    Click(dlg, IDC_BTN_RUN);
    script.Answer(path);
    Click(dlg, IDC_BTN_SAVE);
    QVERIFY(QFileInfo::exists(path));
    script.Answer(path);
    Click(dlg, IDC_BTN_LOAD_ORIGINAL);
    QVERIFY(script.boxes.size() == 2);
  }

  void originalOfAnotherSizeIsRefusedWithBothSizes() {
    Loaded w;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("lain.bmp"));
    WriteBmp(path, 300, 200, [](int x, int y) { return qRgb(x & 255, y & 255, 9); });
    const WindowState before = Snapshot(w.dlg);
    w.script.Answer(path);
    Click(w.dlg, IDC_BTN_LOAD_ORIGINAL);
    QCOMPARE(int(w.script.boxes.size()), 1);
    const QString text = w.script.boxes[0].text;
    QVERIFY2(
        text.contains(QStringLiteral("300 x 200")) && text.contains(QStringLiteral("320 x 240")),
        qPrintable(text));
    QVERIFY(Snapshot(w.dlg) == before);
    CheckStillWorks(w);
  }

  void damagedImageOfAnotherSizeSetsTheOriginalAside() {
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    LoadSamples(dlg, script);
    QTemporaryDir dir;
    const QString damaged = dir.filePath(QStringLiteral("kecil.bmp"));
    const QString mask = dir.filePath(QStringLiteral("kecil_mask.bmp"));
    WriteBmp(damaged, 40, 30, [](int x, int y) { return qRgb(x * 6, y * 8, (x * y) & 255); });
    WriteBmp(mask, 40, 30,
             [](int x, int y) { return x == y ? qRgb(255, 255, 255) : qRgb(0, 0, 0); });
    script.Answer(damaged);
    Click(dlg, IDC_BTN_LOAD_DAMAGED);
    QCOMPARE(int(script.boxes.size()), 1);  // the notice
    QVERIFY2(script.boxes[0].text.contains(QStringLiteral("320 x 240")) &&
                 script.boxes[0].text.contains(QStringLiteral("40 x 30")),
             qPrintable(script.boxes[0].text));
    QVERIFY(dlg.Files().OriginalStale());
    script.Answer(mask);
    Click(dlg, IDC_BTN_LOAD_MASK);
    Click(dlg, IDC_BTN_RUN);
    QVERIFY2(dlg.StatusText().contains(QStringLiteral("no PSNR against it")),
             qPrintable(dlg.StatusText()));
    // The PSNR is that of a run without an original.
    const CliResult cli =
        RunCli({QStringLiteral("--damaged"), damaged, QStringLiteral("--mask"), mask});
    QCOMPARE(Exact(dlg.Fields().m_fPsnrResult), cli.psnrResult);
    QCOMPARE(int(script.boxes.size()), 1);
  }

  void exitAsksOnlyWhenAResultWouldBeLost() {
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    dlg.show();
    LoadSamples(dlg, script);
    Click(dlg, IDC_BTN_RUN);
    // Cancel keeps the window and the result.
    script.questionAnswers = {false};
    Click(dlg, IDCANCEL);
    QCOMPARE(int(script.boxes.size()), 1);
    QVERIFY(script.boxes[0].text.contains(QStringLiteral("not been saved")));
    QVERIFY(dlg.isVisible());
    dlg.close();  // the close box asks the same
    QCOMPARE(int(script.boxes.size()), 2);
    QVERIFY(dlg.isVisible());
    // Saved, nothing is lost: no question.
    QTemporaryDir dir;
    script.Answer(dir.filePath(QStringLiteral("hasil.png")));
    Click(dlg, IDC_BTN_SAVE);
    Click(dlg, IDCANCEL);
    QCOMPARE(int(script.boxes.size()), 2);
    QVERIFY(!dlg.isVisible());
  }

  // Exit during a run asks first; "Stop and close" returns at once (the window
  // keeps painting while the run ends), then asks about the result so far.
  void exitDuringARunStopsItWithoutFreezing() {
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    dlg.show();
    LoadSamples(dlg, script);
    SetEditText(dlg, IDC_EDIT_TRANSPORT_ITER, QStringLiteral("200000"));
    SetEditText(dlg, IDC_EDIT_TRANSPORT_PER_DIFFUSION, QStringLiteral("0"));
    ClickOnly(dlg, IDC_BTN_RUN);
    QVERIFY(dlg.IsRunning());
    script.questionAnswers = {false};  // keep running
    ClickOnly(dlg, IDCANCEL);
    QVERIFY(dlg.IsRunning() && dlg.isVisible());
    script.questionAnswers = {true, false};  // stop and close; then keep the result
    ClickOnly(dlg, IDCANCEL);
    QCOMPARE(int(script.boxes.size()), 2);
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.IsRunning(), 20000);
    QCOMPARE(int(script.boxes.size()), 3);
    QVERIFY(script.boxes[2].text.contains(QStringLiteral("not been saved")));
    QVERIFY(dlg.isVisible());
    // One block of 200000 sweeps stopped between two of them.
    const unsigned ran = dlg.Fields().m_nTotalIter;
    QVERIFY(ran < 200000);
    QVERIFY(dlg.Files().HasResult());
  }
};

QTEST_MAIN(WindowFaultsTest)
#include "window_faults_test.moc"
