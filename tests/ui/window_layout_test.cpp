// The main window as built from its template: controls, dialog units, tab order,
// the start state of the edits, typing into them, the data exchange, Enter, Exit,
// Escape and the close box, and the context menu with the About box.
#include <QAbstractButton>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "ui/about_dlg.h"
#include "ui/resource.h"
#include "window_fixture.h"

namespace {
// Template 102 written out independently of the program's table.
struct Row {
  int id;
  const char* kind;  // D default push button, P push button, G group box, F pane, L label, E edit
  const char* text;
  int x, y, w, h;
};
const Row kRows[42] = {
    {1004, "D", "Citra Rusak", 401, 34, 57, 14},
    {2, "P", "Exit", 7, 382, 69, 14},
    {1000, "G", "Citra Rusak", 199, 7, 186, 175},
    {1001, "G", "Citra Mask", 7, 184, 186, 175},
    {1002, "F", "", 205, 18, 170, 156},
    {1003, "F", "", 13, 195, 170, 156},
    {1005, "D", "Load Mask", 401, 85, 57, 14},
    {1006, "D", "RUVANTA", 401, 283, 57, 14},
    {1009, "G", "Citra Hasil", 199, 184, 186, 175},
    {1010, "F", "", 205, 195, 170, 156},
    {-1, "G", "Jumlah Iterasi", 396, 126, 68, 98},
    {1007, "E", "", 402, 146, 53, 12},
    {-1, "L", "Ruvanta", 402, 136, 51, 9},
    {-1, "L", "Diffussi", 403, 161, 36, 9},
    {1008, "E", "", 402, 171, 53, 12},
    {-1, "L", "Diffusi/Ruvanta", 402, 186, 53, 10},
    {1011, "E", "", 402, 196, 53, 12},
    {-1, "G", "DeltaT", 395, 235, 69, 28},
    {1012, "E", "", 402, 246, 53, 12},
    {1014, "G", "Citra Original", 7, 7, 186, 175},
    {1015, "F", "", 13, 18, 170, 156},
    {1016, "D", "Citra Original", 401, 18, 57, 14},
    {-1, "G", "Load Citra", 395, 7, 69, 64},
    {-1, "L", "PSNR", 401, 52, 21, 13},
    {1013, "E", "", 426, 52, 32, 13},
    {-1, "G", "Hasil", 395, 273, 69, 48},
    {-1, "L", "PSNR", 401, 303, 21, 13},
    {1017, "E", "", 426, 303, 32, 13},
    {-1, "G", "Waktu", 316, 367, 69, 29},
    {1019, "E", "", 321, 377, 39, 12},
    {-1, "L", "detik", 362, 379, 18, 9},
    {3, "P", "Reset", 7, 365, 69, 14},
    {-1, "G", "Automatic", 395, 325, 69, 53},
    {1020, "E", "", 402, 343, 53, 12},
    {1021, "P", "Go !!!", 402, 361, 54, 12},
    {-1, "L", "Threshold", 401, 333, 56, 8},
    {1022, "P", "Save", 395, 382, 69, 14},
    {-1, "L", "Total Iterasi", 401, 213, 53, 10},
    {1018, "E", "", 401, 223, 53, 12},
    {-1, "L", "Jumlah Pixel", 401, 101, 29, 17},
    {1023, "E", "", 430, 101, 28, 13},
    {-1, "G", "Masking", 395, 73, 69, 50},
};

QLineEdit* Edit(CMainDlg& dlg, int id) { return qobject_cast<QLineEdit*>(dlg.GetDlgItem(id)); }

// Runs `dlg` modally for real (a script's answer for modal dialogs is set aside
// meanwhile); `act` runs once the modal loop is going. A dialog still open after
// five seconds is ended with 999.
int RunModal(CDialog& dlg, const std::function<void()>& act) {
  const auto scripted = ModalHooks().modal;
  ModalHooks().modal = nullptr;
  QTimer::singleShot(0, &dlg, act);
  QTimer::singleShot(5000, &dlg, [&dlg] { dlg.EndDialog(999); });
  const int code = dlg.DoModal();
  ModalHooks().modal = scripted;
  return code;
}
}  // namespace

class WindowLayoutTest : public QObject {
  Q_OBJECT

 private slots:
  void dialogUnitsFollowTheFont() {
    const DialogUnits units(6, 13);
    QCOMPARE(units.ToPixelsX(4), 6);
    QCOMPARE(units.ToPixelsY(8), 13);
    QCOMPARE(units.ToPixelsX(471), 707);  // 706.5 rounds up
    QCOMPARE(units.ToPixelsY(403), 655);  // 654.875
    QCOMPARE(units.ToPixels(205, 18, 170, 156), QRect(308, 29, 255, 254));

    const QFont font = DialogFont();
    QCOMPARE(font.pointSize(), 8);
    const DialogUnits fromFont(font);
    const QFontMetrics metrics(font);
    const double average = metrics.horizontalAdvance(QStringLiteral(
                               "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                           52.0;
    QVERIFY2(std::abs(fromFont.BaseX() - average) <= 0.5 + 1e-9,
             qPrintable(QStringLiteral("%1 vs %2").arg(fromFont.BaseX()).arg(average)));
    QCOMPARE(fromFont.BaseY(), metrics.height());
  }

  void templateHasEveryControlInOrder() {
    CMainDlg dlg;
    dlg.Create();
    QCOMPARE(dlg.windowTitle(), QStringLiteral("ruvanta"));
    const DialogUnits& u = dlg.Units();
    // The original dialog's 471 x 403 units and the strip of 85 units below it, at
    // its default size; it can be resized and maximised.
    QCOMPARE(dlg.Client()->size(), QSize(u.ToPixelsX(471), u.ToPixelsY(488)));
    QVERIFY(dlg.minimumSize() != dlg.maximumSize());
    QVERIFY(dlg.windowFlags() & Qt::WindowMaximizeButtonHint);
    QCOMPARE(int(dlg.Controls().size()), kOriginalControlCount + 13);
    for (int i = 0; i < 42; ++i) {
      const Row& row = kRows[i];
      QWidget* w = dlg.ControlAt(std::size_t(i));
      const QString where = QStringLiteral("row %1 (id %2)").arg(i + 1).arg(row.id);
      if (row.id != -1) QVERIFY2(dlg.GetDlgItem(row.id) == w, qPrintable(where));
      QVERIFY2(w->geometry() == u.ToPixels(row.x, row.y, row.w, row.h), qPrintable(where));
      const QString text = QString::fromLatin1(row.text);
      switch (row.kind[0]) {
        case 'D':
        case 'P': {
          auto* b = qobject_cast<QPushButton*>(w);
          // The label as the template has it (an underlined Alt letter aside), and so
          // the name a screen reader gives.
          QVERIFY2(b && QString(b->text()).remove(QLatin1Char('&')) == text &&
                       b->accessibleName() == text && (b->focusPolicy() & Qt::TabFocus),
                   qPrintable(where));
          break;
        }
        case 'G': {
          auto* g = qobject_cast<QGroupBox*>(w);
          QVERIFY2(g && g->title() == text && !(g->focusPolicy() & Qt::TabFocus),
                   qPrintable(where));
          break;
        }
        case 'F':
          QVERIFY2(qobject_cast<CPane*>(w), qPrintable(where));
          break;
        case 'L': {
          auto* l = qobject_cast<QLabel*>(w);
          QVERIFY2(l && l->text() == text && (l->alignment() & Qt::AlignLeft), qPrintable(where));
          break;
        }
        case 'E': {
          auto* e = qobject_cast<QLineEdit*>(w);
          QVERIFY2(e && e->hasFrame() && e->alignment() == Qt::AlignCenter, qPrintable(where));
          break;
        }
      }
      const bool hiddenRow = row.id == 1018 || QByteArray(row.text) == "Total Iterasi";
      QVERIFY2(w->isVisibleTo(&dlg) == !hiddenRow, qPrintable(where));
      QVERIFY2(w->isEnabled() == !hiddenRow, qPrintable(where));
    }
    // The strip lies below the original dialog and overlaps none of its controls.
    for (std::size_t i = kOriginalControlCount; i < dlg.Controls().size(); ++i) {
      const QRect strip = dlg.ControlAt(i)->geometry();
      QVERIFY(strip.top() >= u.ToPixelsY(403));
      for (int k = 0; k < kOriginalControlCount; ++k)
        QVERIFY(!strip.intersects(dlg.ControlAt(std::size_t(k))->geometry()));
    }
  }

  // A person's click lands on whatever lies on top at the pointer: every push
  // button and edit of the template must be that, not a group box or a label.
  void everyButtonAndEditAnswersAClickAtItsCentre() {
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    std::vector<const Row*> rows;
    for (const Row& row : kRows)
      if (row.id != 1018 && (row.kind[0] == 'D' || row.kind[0] == 'P' || row.kind[0] == 'E'))
        rows.push_back(&row);
    // Exit last: it ends the dialog.
    std::stable_partition(rows.begin(), rows.end(), [](const Row* r) { return r->id != IDCANCEL; });
    for (const Row* row : rows) {
      const QString where = QStringLiteral("id %1").arg(row->id);
      QWidget* control = dlg.GetDlgItem(row->id);
      const QPoint centre = CentreOf(dlg, row->id);
      // What a press, a release or the wheel there is delivered to.
      QWidget* top = dlg.childAt(centre);
      QVERIFY2(top == control || control->isAncestorOf(top), qPrintable(where));
      if (row->kind[0] == 'E') {
        QTest::mouseClick(dlg.windowHandle(), Qt::LeftButton, Qt::NoModifier, centre);
        QVERIFY2(dlg.focusWidget() == control, qPrintable(where));
      } else {
        QSignalSpy clicked(qobject_cast<QPushButton*>(control), &QPushButton::clicked);
        Click(dlg, row->id);
        QVERIFY2(clicked.count() == 1, qPrintable(where));
      }
    }
    QVERIFY(!dlg.isVisible());  // Exit, with nothing to lose, asked nothing
  }

  // Tab goes down the layout: the loads, the mask, the iterations, DeltaT, the run
  // and its method, the automatic mode, Save, the strip, Reset and Exit. The
  // measured figures are shown, not typed, and take no Tab.
  void tabOrderFollowsTheLayout() {
    CMainDlg dlg;
    dlg.Create();
    const QList<int> expected = {1016,
                                 1004,
                                 1005,
                                 1007,
                                 1008,
                                 1011,
                                 1012,
                                 1006,
                                 IDC_COMBO_METHOD,
                                 1020,
                                 1021,
                                 1022,
                                 IDC_BTN_STOP,
                                 IDC_BTN_VIEW,
                                 IDC_EDIT_SETTLE,
                                 IDC_BTN_PAINT,
                                 IDC_BTN_UNDO,
                                 IDC_BTN_REDO,
                                 IDC_BTN_HELP,
                                 3,
                                 2};
    QList<int> chain;
    QWidget* w = dlg.GetDlgItem(1016);
    do {
      if ((w->focusPolicy() & Qt::TabFocus) && w->parentWidget() == dlg.Client() &&
          w != dlg.GetDlgItem(1018))
        chain << w->objectName().mid(2).toInt();
      w = w->nextInFocusChain();
    } while (w != dlg.GetDlgItem(1016));
    QCOMPARE(chain, expected);
    QVERIFY(!(dlg.GetDlgItem(1013)->focusPolicy() & Qt::TabFocus));
  }

  void startState() {
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    const struct {
      int id;
      const char* text;
    } expected[] = {{1007, "100"}, {1008, "2"}, {1011, "15"}, {1012, "0.01"}, {1013, "-"},
                    {1017, "-"},   {1019, "0"}, {1020, "0"},  {1018, "0"},    {1023, "0"}};
    for (const auto& e : expected) QCOMPARE(EditText(dlg, e.id), QString::fromLatin1(e.text));
    // Without an original there is no PSNR to show, and the tooltip says why.
    for (int id : {1013, 1017})
      QVERIFY(
          dlg.GetDlgItem(id)->toolTip().contains(QStringLiteral("load the original to measure")));
    QCOMPARE(dlg.Fields().m_nTransportIter, 100);
    QCOMPARE(dlg.Fields().m_nDiffusionIter, 2);
    QCOMPARE(dlg.Fields().m_nTransportPerDiffusion, 15);
    QCOMPARE(dlg.Fields().m_fDeltaT, 0.01f);
    QCOMPARE(dlg.Fields().m_fPsnrDamaged, 0.0f);
    QCOMPARE(dlg.Fields().m_fThreshold, 0.0f);
    QCOMPARE(dlg.Fields().m_nTotalIter, 0u);
    QCOMPARE(dlg.Fields().m_nMaskPixels, 0u);
    QVERIFY(!dlg.GetDlgItem(1018)->isVisibleTo(&dlg));
    QVERIFY(!dlg.GetDlgItem(1018)->isEnabled());
    QCOMPARE(dlg.focusWidget(), dlg.GetDlgItem(1004));
    for (const ImageSurface* s : {&dlg.Files().m_surfOriginal, &dlg.Files().m_surfDamaged,
                                  &dlg.Files().m_surfResult, &dlg.Files().m_surfMask})
      QCOMPARE(int(s->bLoaded), 0);
    QVERIFY(!dlg.windowIcon().isNull());
    QVERIFY(script.boxes.empty());
  }

  void editsTakeTypedDigitsAndFractionsOnePoint() {
    CMainDlg dlg;
    dlg.Create();
    dlg.show();
    for (const FieldDef& def : kFields) {
      if (def.id == 1018) continue;  // hidden and disabled
      auto* edit = qobject_cast<CDigitEdit*>(Edit(dlg, def.id));
      edit->setFocus();
      edit->selectAll();
      const QString before = edit->text();
      QTest::keyClicks(edit, QStringLiteral("1.5-2e+3 x,9."));
      // The measured figures take no typing; DeltaT and the threshold take one
      // decimal point or comma; the counts digits only. Each refused key says why.
      const bool shown = def.id == 1013 || def.id == 1017 || def.id == 1019 || def.id == 1023;
      const bool fraction = def.id == 1012 || def.id == 1020;
      QCOMPARE(edit->text(), shown      ? before
                             : fraction ? QStringLiteral("1.5239")
                                        : QStringLiteral("15239"));
      if (!shown)
        QVERIFY2(edit->LastHint().startsWith(QString::fromUtf8(def.label)),
                 qPrintable(edit->LastHint()));
    }
    // A count says how large it may be, and keeps what fitted.
    auto* count = qobject_cast<CDigitEdit*>(Edit(dlg, 1007));
    count->selectAll();
    QTest::keyClicks(count, QStringLiteral("99999999999"));
    QCOMPARE(count->text(), QStringLiteral("999999999"));
    QCOMPARE(count->LastHint(), QStringLiteral("Ruvanta: at most 2147483647"));
    QVERIFY(dlg.StatusText().contains(QStringLiteral("at most 2147483647")));
    // A decimal comma is read as a point.
    QLineEdit* comma = Edit(dlg, 1020);
    comma->selectAll();
    QTest::keyClicks(comma, QStringLiteral("0,25"));
    QCOMPARE(comma->text(), QStringLiteral("0,25"));
    QVERIFY(dlg.UpdateData(true));
    QCOMPARE(dlg.Fields().m_fThreshold, 0.25f);
    // 0.005 typed into DeltaT means 0.005.
    QLineEdit* deltaT = Edit(dlg, 1012);
    deltaT->setFocus();
    deltaT->selectAll();
    QTest::keyClicks(deltaT, QStringLiteral("0.005"));
    QCOMPARE(deltaT->text(), QStringLiteral("0.005"));
    QVERIFY(dlg.UpdateData(true));
    QCOMPARE(dlg.Fields().m_fDeltaT, 0.005f);
    // A point typed over a selection that holds the point is the one point.
    deltaT->setSelection(1, 1);
    QTest::keyClicks(deltaT, QStringLiteral("."));
    QCOMPARE(deltaT->text(), QStringLiteral("0.005"));
    // The program's own texts are not filtered, and digits can be typed after them.
    dlg.UpdateData(false);
    QCOMPARE(deltaT->text(), QStringLiteral("0.005"));
    deltaT->setFocus();
    deltaT->end(false);
    QTest::keyClicks(deltaT, QStringLiteral("5."));
    QCOMPARE(deltaT->text(), QStringLiteral("0.0055"));
    // Pasted text is taken as it is.
    deltaT->selectAll();
    deltaT->insert(QStringLiteral("-2.5"));
    QCOMPARE(deltaT->text(), QStringLiteral("-2.5"));
    QVERIFY(dlg.UpdateData(true));
    QCOMPARE(dlg.Fields().m_fDeltaT, -2.5f);
  }

  void badEntryStopsTheExchangeAtItsField() {
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    Edit(dlg, 1007)->setText(QStringLiteral("7"));
    Edit(dlg, 1008)->setText(QStringLiteral("8"));
    Edit(dlg, 1011)->setText(QStringLiteral("x1"));
    Edit(dlg, 1012)->setText(QStringLiteral("5"));
    Edit(dlg, 1020)->setText(QStringLiteral("3"));
    QVERIFY(!dlg.UpdateData(true));
    QCOMPARE(dlg.Fields().m_nTransportIter, 7);
    QCOMPARE(dlg.Fields().m_nDiffusionIter, 8);
    QCOMPARE(dlg.Fields().m_nTransportPerDiffusion, 15);
    QCOMPARE(dlg.Fields().m_fDeltaT, 0.01f);
    QCOMPARE(dlg.Fields().m_fThreshold, 0.0f);
    QCOMPARE(int(script.boxes.size()), 1);
    QCOMPARE(script.boxes[0].caption, QStringLiteral("ruvanta"));
    QVERIFY(script.boxes[0].noIcon && script.boxes[0].okOnly);
    QCOMPARE(script.boxes[0].owner, static_cast<QWidget*>(&dlg));
    QCOMPARE(dlg.focusWidget(), dlg.GetDlgItem(1011));
    QCOMPARE(Edit(dlg, 1011)->selectedText(), QStringLiteral("x1"));

    // Later in the order: an empty seconds edit stops after DeltaT and the PSNRs,
    // which are read as the engine wrote them, whatever the edit shows ("-").
    Edit(dlg, 1011)->setText(QStringLiteral("9"));
    Edit(dlg, 1019)->setText(QString());
    QVERIFY(!dlg.UpdateData(true));
    QCOMPARE(dlg.Fields().m_nTransportPerDiffusion, 9);
    QCOMPARE(dlg.Fields().m_fDeltaT, 5.0f);
    QCOMPARE(EditText(dlg, 1013), QStringLiteral("-"));
    QCOMPARE(dlg.Fields().m_fPsnrDamaged, 0.0f);
    QCOMPARE(dlg.Fields().m_fSeconds, 0.0f);
    QCOMPARE(dlg.Fields().m_fThreshold, 0.0f);
    QCOMPARE(int(script.boxes.size()), 2);
    QCOMPARE(dlg.focusWidget(), dlg.GetDlgItem(1019));

    Edit(dlg, 1019)->setText(QStringLiteral("12"));
    QVERIFY(dlg.UpdateData(true));
    QCOMPARE(dlg.Fields().m_fSeconds, 12.0f);
    QCOMPARE(dlg.Fields().m_fThreshold, 3.0f);
  }

  void enterNeverCloses() {
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    for (int id : {1007, 1013, 1020}) {
      QLineEdit* edit = Edit(dlg, id);
      edit->setFocus();
      edit->selectAll();
      QTest::keyClicks(edit, QStringLiteral("50"));
      QTest::keyClick(edit, Qt::Key_Return);
      QTest::keyClick(edit, Qt::Key_Enter);
      QVERIFY(dlg.isVisible());
    }
    // The OK command reads nothing.
    QCOMPARE(dlg.Fields().m_nTransportIter, 100);
    QCOMPARE(dlg.Fields().m_fPsnrDamaged, 0.0f);
    QCOMPARE(dlg.Fields().m_fThreshold, 0.0f);
    QVERIFY(script.fileAsks.empty());
    QVERIFY(script.boxes.empty());
    // A focused button is pressed by Enter, as by a click; Cancel in its dialog
    // does nothing, and the next Enter (meant for the closed dialog) opens nothing.
    dlg.GetDlgItem(1004)->setFocus();
    QTest::keyClick(dlg.GetDlgItem(1004), Qt::Key_Return);
    QCOMPARE(int(script.fileAsks.size()), 1);
    QVERIFY(script.fileAsks[0].open);
    QVERIFY(script.boxes.empty());
    QTest::keyClick(dlg.GetDlgItem(1004), Qt::Key_Return);
    QCOMPARE(int(script.fileAsks.size()), 1);
    // Another key first, and Enter presses the button again.
    QTest::keyClick(dlg.GetDlgItem(1004), Qt::Key_Shift);
    QTest::keyClick(dlg.GetDlgItem(1004), Qt::Key_Return);
    QCOMPARE(int(script.fileAsks.size()), 2);
    QVERIFY(dlg.isVisible());
  }

  void exitAndCloseEndWithoutQuestionWhenNothingIsLost_data() {
    QTest::addColumn<int>("how");
    QTest::newRow("Exit button") << 0;
    QTest::newRow("close box") << 2;
    QTest::newRow("system menu Close") << 3;
  }
  void exitAndCloseEndWithoutQuestionWhenNothingIsLost() {
    QFETCH(int, how);
    ModalScript script;
    CMainDlg dlg;
    const int code = RunModal(dlg, [&] {
      Edit(dlg, 1007)->setText(QStringLiteral("42"));
      switch (how) {
        case 0:
          Click(dlg, IDCANCEL);
          break;
        case 2:
          dlg.close();
          break;
        case 3:
          for (QAction* a : dlg.SystemMenu()->actions())
            if (a->data().toUInt() == SC_CLOSE) a->trigger();
          break;
      }
    });
    QCOMPARE(code, int(IDCANCEL));
    QVERIFY(!dlg.isVisible());
    QVERIFY(script.boxes.empty());
    QCOMPARE(dlg.Fields().m_nTransportIter, 100);  // not read on the way out
  }

  void escapeNeverEndsTheProgram() {
    ModalScript script;
    CMainDlg dlg;
    const int code = RunModal(dlg, [&] {
      QTest::keyClick(&dlg, Qt::Key_Escape);
      QTest::keyClick(dlg.GetDlgItem(1007), Qt::Key_Escape);
      QVERIFY(dlg.isVisible());
      dlg.EndDialog(7);
    });
    QCOMPARE(code, 7);
    QVERIFY(script.boxes.empty());
  }

  void contextMenuEndsWithAbout() {
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const QList<QAction*> actions = dlg.SystemMenu()->actions();
    QVERIFY(actions.size() >= 2);
    QVERIFY(actions[actions.size() - 2]->isSeparator());
    QCOMPARE(actions.last()->text(), QStringLiteral("&About ruvanta..."));
    QCOMPARE(actions.last()->data().toUInt(), 16u);
    QCOMPARE(LoadString(IDS_ABOUTBOX), QStringLiteral("&About ruvanta..."));

    // A right click on the dialog opens the menu; its last entry opens the About box.
    QString caption, version;
    script.onModal = [&](CDialog& about) {
      caption = about.windowTitle();
      if (auto* label = qobject_cast<QLabel*>(about.ControlAt(1))) version = label->text();
      return int(IDOK);
    };
    bool shown = false;
    QTimer::singleShot(0, &dlg, [&] {
      shown = QApplication::activePopupWidget() == dlg.SystemMenu();
      dlg.SystemMenu()->actions().last()->trigger();
      dlg.SystemMenu()->close();
    });
    const QPoint inside(dlg.width() / 2, dlg.height() - 5);
    QContextMenuEvent event(QContextMenuEvent::Mouse, inside, dlg.mapToGlobal(inside));
    QApplication::sendEvent(&dlg, &event);
    QVERIFY(shown);
    QCOMPARE(script.modalRuns, 1);
    QCOMPARE(caption, QStringLiteral("About ruvanta"));
    QCOMPARE(version, QStringLiteral("ruvanta v 1.0"));
  }

  void systemCommands16To31OpenAbout() {
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    for (unsigned id = 0; id < 48; ++id) {
      const int before = script.modalRuns;
      if (id == SC_CLOSE || id == SC_MOVE) continue;
      dlg.OnSysCommand(id, 0);
      QCOMPARE(script.modalRuns - before, (id >= 16 && id <= 31) ? 1 : 0);
    }
    QCOMPARE(script.modalRuns, 16);
  }

  void aboutBoxTemplate() {
    CAboutDlg about;
    about.Create();
    const DialogUnits& u = about.Units();
    QCOMPARE(about.windowTitle(), QStringLiteral("About ruvanta"));
    QCOMPARE(about.size(), QSize(u.ToPixelsX(235), u.ToPixelsY(55)));
    QCOMPARE(int(about.Controls().size()), 3);
    auto* icon = qobject_cast<QLabel*>(about.ControlAt(0));
    QVERIFY(icon && !icon->pixmap().isNull());
    QCOMPARE(icon->pos(), QPoint(u.ToPixelsX(11), u.ToPixelsY(17)));
    auto* text = qobject_cast<QLabel*>(about.ControlAt(1));
    QVERIFY(text);
    QCOMPARE(text->text(), QStringLiteral("ruvanta v 1.0"));
    QCOMPARE(text->geometry(), u.ToPixels(40, 10, 119, 8));
    auto* ok = qobject_cast<QPushButton*>(about.GetDlgItem(IDOK));
    QVERIFY(ok);
    QCOMPARE(ok->text(), QStringLiteral("OK"));
    QCOMPARE(ok->geometry(), u.ToPixels(178, 7, 50, 14));
  }

  void aboutBoxClosesWithOkAndEscape() {
    {
      CAboutDlg about;
      const int code =
          RunModal(about, [&] { static_cast<QAbstractButton*>(about.GetDlgItem(IDOK))->click(); });
      QCOMPARE(code, int(IDOK));
    }
    {
      CAboutDlg about;
      const int code = RunModal(about, [&] { QTest::keyClick(&about, Qt::Key_Escape); });
      QCOMPARE(code, int(IDCANCEL));
    }
    {
      CAboutDlg about;  // Enter on the focused OK button
      const int code =
          RunModal(about, [&] { QTest::keyClick(about.GetDlgItem(IDOK), Qt::Key_Return); });
      QCOMPARE(code, int(IDOK));
    }
  }
};

QTEST_MAIN(WindowLayoutTest)
#include "window_layout_test.moc"
