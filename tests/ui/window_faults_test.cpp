// What the window does with files it cannot use and commands it cannot carry out:
// a message box owned by the window, nothing changed, and the program goes on.
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "window_fixture.h"

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

void CheckStillWorks(Loaded& w) {
  const unsigned before = w.dlg.m_nTotalIter;
  const std::size_t boxes = w.script.boxes.size();
  Click(w.dlg, IDC_BTN_RUN);
  QCOMPARE(w.dlg.m_nTotalIter, before + 100);
  QCOMPARE(w.script.boxes.size(), boxes);
  QVERIFY(w.dlg.IsItemEnabled(IDC_BTN_RUN));
}
}  // namespace

class WindowFaultsTest : public QObject {
  Q_OBJECT

 private slots:
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
    if (fault == QLatin1String("truncated")) WriteAll(path, ReadAll(SampleFile("damaged.bmp")).left(5000));
    if (fault == QLatin1String("32-bit")) WriteAll(path, Bmp32());
    if (fault == QLatin1String("empty")) WriteAll(path, QByteArray());

    Loaded w;
    const WindowState before = Snapshot(w.dlg);
    w.script.Answer(path);
    Click(w.dlg, button);
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
      QTest::newRow(qPrintable(QStringLiteral("%1 wide").arg(button))) << button << 801 << 4;
      QTest::newRow(qPrintable(QStringLiteral("%1 tall").arg(button))) << button << 4 << 801;
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
    Click(w.dlg, button);
    QCOMPARE(int(w.script.boxes.size()), 1);
    QCOMPARE(w.script.boxes[0].caption, QStringLiteral("not valid"));
    QVERIFY2(w.script.boxes[0].text.contains(QStringLiteral("801")), qPrintable(w.script.boxes[0].text));
    QVERIFY(Snapshot(w.dlg) == before);
    CheckStillWorks(w);
  }

  void largestImageAccepted() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("800.bmp"));
    WriteBmp(path, 800, 800, [](int x, int y) { return qRgb(x & 255, y & 255, 9); });
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    script.Answer(path);
    Click(dlg, IDC_BTN_LOAD_DAMAGED);
    QVERIFY(script.boxes.empty());
    QCOMPARE(dlg.m_surfDamaged.nWidth, 800);
    QCOMPARE(dlg.m_surfDamaged.nHeight, 800);
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
    WriteBmp(path, w.dlg.m_surfDamaged.nWidth + dw, w.dlg.m_surfDamaged.nHeight + dh,
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
    const QImage result = CMainDlg::SurfaceImage(w.dlg.m_surfResult);
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
    QCOMPARE(CMainDlg::SurfaceImage(w.dlg.m_surfResult), result);
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
        QCOMPARE(script.boxes.back().text, QStringLiteral("Load a damaged image and a mask first."));
        QCOMPARE(script.boxes.back().caption, QStringLiteral("not valid"));
        QVERIFY(dlg.IsItemEnabled(IDC_BTN_RUN) && dlg.IsItemEnabled(IDC_BTN_AUTO));
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
    QCOMPARE(dlg.m_nTotalIter, 100u);
  }
};

QTEST_MAIN(WindowFaultsTest)
#include "window_faults_test.moc"
