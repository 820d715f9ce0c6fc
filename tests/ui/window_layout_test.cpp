// The main window as built from its template, checked as a person meets it: where
// the controls lie at every size, what they are named, Tab and the Alt letters,
// clicks; dialog units, the start state of the edits, typing into them, the data
// exchange, Enter, Exit, Escape and the close box, and the context menu with the
// About box.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMenu>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <iterator>

#include "ui/about_dlg.h"
#include "ui/resource.h"
#include "window_fixture.h"

namespace {
// A control's name on the screen: its text without the marker of its Alt letter.
QString Shown(const QString& text) { return QString(text).remove(QLatin1Char('&')); }

// The letter after a single '&' (none: a null QChar).
QChar AltLetter(const QString& text) {
  for (int i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != QLatin1Char('&')) continue;
    if (text[i + 1] == QLatin1Char('&')) {
      ++i;
      continue;
    }
    return text[i + 1].toLower();
  }
  return QChar();
}

QString Where(const QWidget* w) {
  return QStringLiteral("%1 '%2' at %3,%4 %5x%6")
      .arg(w->objectName(), w->accessibleName())
      .arg(w->x())
      .arg(w->y())
      .arg(w->width())
      .arg(w->height());
}

// The controls a person sees.
std::vector<QWidget*> Visible(const CDialog& dlg) {
  std::vector<QWidget*> shown;
  for (QWidget* w : dlg.Controls())
    if (w->isVisibleTo(&dlg)) shown.push_back(w);
  return shown;
}

// Controls lie inside the client, and two that overlap are a group box and a
// control wholly inside it.
void CheckInsideAndApart(const CDialog& dlg, const QString& size) {
  const QRect client(QPoint(0, 0), dlg.Client()->size());
  const std::vector<QWidget*> shown = Visible(dlg);
  for (const QWidget* w : shown) {
    QVERIFY2(client.contains(w->geometry()), qPrintable(size + ": " + Where(w)));
    QVERIFY2(!w->geometry().isEmpty(), qPrintable(size + ": " + Where(w)));
  }
  for (std::size_t i = 0; i < shown.size(); ++i)
    for (std::size_t k = i + 1; k < shown.size(); ++k) {
      const QWidget* a = shown[i];
      const QWidget* b = shown[k];
      // Controls that meet in dialog units may share a pixel once each edge is rounded.
      const QRect both = a->geometry() & b->geometry();
      if (both.width() <= 1 || both.height() <= 1) continue;
      const bool nested = (qobject_cast<const QGroupBox*>(a) && a->geometry().contains(b->geometry())) ||
                          (qobject_cast<const QGroupBox*>(b) && b->geometry().contains(a->geometry()));
      QVERIFY2(nested, qPrintable(size + ": " + Where(a) + " overlaps " + Where(b)));
    }
}

// The main window's controls inside it and apart, and the four pictures, the
// column beside them and the rows under them where a person looks for them.
void CheckLayout(const CMainDlg& dlg, const QString& size) {
  CheckInsideAndApart(dlg, size);
  if (QTest::currentTestFailed()) return;

  const auto at = [&](int id) { return dlg.GetDlgItem(id)->geometry(); };
  // Each picture inside the frame that names it, in a grid of two by two.
  const struct {
    int pane, frame;
    const char* title;
  } pictures[] = {{IDC_PANE_ORIGINAL, 1014, "Citra Original"},
                  {IDC_PANE_DAMAGED, 1000, "Citra Rusak"},
                  {IDC_PANE_MASK, 1001, "Citra Mask"},
                  {IDC_PANE_RESULT, 1009, "Citra Hasil"}};
  for (const auto& p : pictures) {
    QVERIFY2(at(p.frame).contains(at(p.pane)), p.title);
    QCOMPARE(qobject_cast<QGroupBox*>(dlg.GetDlgItem(p.frame))->title(), QString::fromLatin1(p.title));
  }
  const QRect original = at(IDC_PANE_ORIGINAL), damaged = at(IDC_PANE_DAMAGED);
  const QRect mask = at(IDC_PANE_MASK), result = at(IDC_PANE_RESULT);
  QVERIFY(original.right() < damaged.left() && mask.right() < result.left());
  QVERIFY(original.bottom() < mask.top() && damaged.bottom() < result.top());
  QVERIFY(std::abs(original.top() - damaged.top()) <= 1 && std::abs(mask.left() - original.left()) <= 1);
  // The column beside them, top to bottom, each with the figure it shows.
  const int column[] = {IDC_BTN_LOAD_ORIGINAL, IDC_BTN_LOAD_DAMAGED, IDC_EDIT_PSNR_DAMAGED,
                        IDC_BTN_LOAD_MASK,     IDC_EDIT_MASK_PIXELS, IDC_EDIT_TRANSPORT_ITER,
                        IDC_EDIT_DIFFUSION_ITER, IDC_EDIT_TRANSPORT_PER_DIFFUSION,
                        IDC_EDIT_DELTA_T,      IDC_BTN_RUN,          IDC_EDIT_PSNR_RESULT,
                        IDC_EDIT_THRESHOLD,    IDC_BTN_AUTO,         IDC_BTN_SAVE};
  for (std::size_t i = 0; i < std::size(column); ++i) {
    QVERIFY2(at(column[i]).left() > result.right(), qPrintable(QString::number(column[i])));
    if (i > 0)
      QVERIFY2(at(column[i]).top() > at(column[i - 1]).top(),
               qPrintable(QStringLiteral("%1 below %2").arg(column[i]).arg(column[i - 1])));
  }
  // Under the pictures: Reset and Exit on the left, the seconds in the middle.
  for (int id : {int(IDC_BTN_RESET), int(IDCANCEL), int(IDC_EDIT_SECONDS)})
    QVERIFY2(at(id).top() > mask.bottom(), qPrintable(QString::number(id)));
  QVERIFY(at(IDC_BTN_RESET).top() < at(IDCANCEL).top());
  QVERIFY(at(IDCANCEL).right() < result.left());
  QVERIFY(at(IDC_EDIT_SECONDS).left() > mask.right() && at(IDC_EDIT_SECONDS).right() <= result.right());
}

// The controls Tab reaches, in order, from `first` until it comes round again;
// empty when it never does.
QList<QWidget*> TabCycle(QWidget* first, Qt::KeyboardModifiers modifiers) {
  first->setFocus(Qt::OtherFocusReason);
  QList<QWidget*> cycle;
  for (int i = 0; i < 200; ++i) {
    QWidget* now = QApplication::focusWidget();
    if (i > 0 && now == first) return cycle;
    cycle << now;
    QTest::keyClick(now, Qt::Key_Tab, modifiers);
  }
  return {};
}

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
// Shown and active, so that keys reach it as they reach the program's window.
bool ShowActive(CMainDlg& dlg) {
  dlg.show();
  dlg.activateWindow();
  const bool active = QTest::qWaitForWindowActive(&dlg);
  if (!active) QTest::qFail("the window never became active", __FILE__, __LINE__);
  return active;
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

  // At its default size, larger, and at the smallest the layout goes: every
  // control inside the window, none over another (but inside its frame), the
  // pictures, the column and the rows where they belong; the strip below the
  // original dialog's 403 units.
  void controlsKeepTheirPlacesAtEverySize() {
    CMainDlg dlg;
    dlg.Create();
    QCOMPARE(dlg.windowTitle(), QStringLiteral("ruvanta"));
    const DialogUnits& u = dlg.Units();
    QCOMPARE(dlg.Client()->size(), QSize(u.ToPixelsX(471), u.ToPixelsY(488)));
    QVERIFY(dlg.minimumSize() != dlg.maximumSize());
    QVERIFY(dlg.windowFlags() & Qt::WindowMaximizeButtonHint);
    const auto strip = [&] {
      std::vector<QWidget*> below;
      for (int id : {IDC_PROGRESS, IDC_COMBO_METHOD, IDC_STATUS, IDC_BTN_STOP, IDC_BTN_VIEW,
                     IDC_BTN_UNDO, IDC_BTN_REDO, IDC_BTN_HELP, IDC_EDIT_SETTLE, IDC_BTN_PAINT,
                     IDC_CHART})
        below.push_back(dlg.GetDlgItem(id));
      return below;
    };
    for (const QWidget* w : strip()) QVERIFY2(w->y() >= u.ToPixelsY(403), qPrintable(Where(w)));
    CheckLayout(dlg, QStringLiteral("default size"));
    if (QTest::currentTestFailed()) return;

    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.resize(dlg.size() + QSize(500, 260));
    QTRY_COMPARE(dlg.Client()->size(), dlg.DesignSize() + QSize(500, 260));
    CheckLayout(dlg, QStringLiteral("larger"));
    if (QTest::currentTestFailed()) return;
    dlg.resize(300, 200);
    QTRY_COMPARE(dlg.Client()->size(), dlg.MinimumClientSize());
    CheckLayout(dlg, QStringLiteral("smallest"));
  }

  // What a screen reader names a control is what a person reads: a button's own
  // text, an edit's caption beside it (the label above it or to its left, else the
  // frame it sits in). Push buttons and edits are framed alike; captions and
  // frames are left-aligned and never take the keyboard; the total's edit and its
  // caption stay hidden.
  void controlsAreNamedByWhatIsShownBesideThem() {
    CMainDlg dlg;
    dlg.Create();
    const std::vector<QWidget*> shown = Visible(dlg);
    int buttons = 0, edits = 0;
    for (QWidget* w : shown) {
      if (auto* b = qobject_cast<QPushButton*>(w)) {
        ++buttons;
        QVERIFY2(!Shown(b->text()).isEmpty() && b->accessibleName() == Shown(b->text()),
                 qPrintable(Where(w)));
        QVERIFY2(b->focusPolicy() & Qt::TabFocus, qPrintable(Where(w)));
      } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
        QVERIFY2(!(g->focusPolicy() & Qt::TabFocus) && (g->alignment() & Qt::AlignLeft),
                 qPrintable(Where(w)));
      } else if (auto* l = qobject_cast<QLabel*>(w)) {
        QVERIFY2(!(l->focusPolicy() & Qt::TabFocus) && (l->alignment() & Qt::AlignLeft),
                 qPrintable(Where(w)));
      } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        ++edits;
        QVERIFY2(e->hasFrame() && e->alignment() == Qt::AlignCenter, qPrintable(Where(w)));
        // The captions it could have: labels just above it or just left of it on
        // its row, and the frames around it; a caption said twice in the window
        // ("PSNR") may add its frame's title in brackets.
        QStringList captions, frames;
        const QRect r = e->geometry();
        for (QWidget* c : shown) {
          const QRect cr = c->geometry();
          if (auto* label = qobject_cast<QLabel*>(c)) {
            // (A caption that meets its edit in dialog units may share a pixel.)
            const bool above = cr.bottom() <= r.top() && cr.center().y() < r.top() &&
                               r.top() - cr.bottom() <= r.height() && cr.left() < r.right() &&
                               cr.right() > r.left();
            const bool left = cr.right() <= r.left() && cr.center().x() < r.left() &&
                              r.left() - cr.right() <= r.height() && cr.top() < r.bottom() &&
                              cr.bottom() > r.top();
            if (above || left) captions << Shown(label->text());
          } else if (auto* frame = qobject_cast<QGroupBox*>(c)) {
            if (cr.contains(r)) frames << frame->title();
          }
        }
        for (const QString& frame : QStringList(frames)) {
          for (const QString& caption : QStringList(captions))
            captions << caption + QStringLiteral(" (") + frame + QStringLiteral(")");
          captions << frame;
        }
        QVERIFY2(captions.contains(e->accessibleName()),
                 qPrintable(Where(w) + " beside " + captions.join(QStringLiteral(", "))));
      }
    }
    QVERIFY(buttons >= 14 && edits >= 10);  // the loop saw them all
    QVERIFY(!dlg.GetDlgItem(IDC_EDIT_TOTAL_ITER)->isVisibleTo(&dlg));
    QVERIFY(!dlg.GetDlgItem(IDC_EDIT_TOTAL_ITER)->isEnabled());
    for (QWidget* w : dlg.Controls())
      if (auto* l = qobject_cast<QLabel*>(w); l && l->text() == QStringLiteral("Total Iterasi"))
        QVERIFY(!l->isVisibleTo(&dlg) && !l->isEnabled());
  }

  // A person's click lands on whatever lies on top at the pointer: every push
  // button and edit must be that, not a frame or a caption.
  void everyButtonAndEditAnswersAClickAtItsCentre() {
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    std::vector<QWidget*> targets;
    for (QWidget* w : Visible(dlg))
      if (qobject_cast<QPushButton*>(w) || qobject_cast<QLineEdit*>(w)) targets.push_back(w);
    // Exit last: it ends the dialog.
    QWidget* exit = dlg.GetDlgItem(IDCANCEL);
    std::stable_partition(targets.begin(), targets.end(), [&](QWidget* w) { return w != exit; });
    QCOMPARE(targets.back(), exit);
    for (QWidget* control : targets) {
      const QString where = Where(control);
      const QPoint centre = control->mapTo(&dlg, control->rect().center());
      // What a press, a release or the wheel there is delivered to.
      QWidget* top = dlg.childAt(centre);
      QVERIFY2(top == control || control->isAncestorOf(top), qPrintable(where));
      if (qobject_cast<QLineEdit*>(control)) {
        QTest::mouseClick(dlg.windowHandle(), Qt::LeftButton, Qt::NoModifier, centre);
        QVERIFY2(dlg.focusWidget() == control, qPrintable(where));
      } else if (control->isEnabled()) {
        QSignalSpy clicked(qobject_cast<QPushButton*>(control), &QPushButton::clicked);
        QTest::mouseClick(dlg.windowHandle(), Qt::LeftButton, Qt::NoModifier, centre);
        dlg.WaitForRun();
        QVERIFY2(clicked.count() == 1, qPrintable(where));
      }
    }
    QVERIFY(!dlg.isVisible());  // Exit, with nothing to lose, asked nothing
  }

  // Every control one can act on is on the Tab cycle once, and Shift+Tab goes
  // round it backwards; the measured figures are shown, not typed, and take no
  // Tab. The cycle reads each part of the window top to bottom, left to right
  // along a row: the column beside the pictures, the strip below them (its right
  // part, beside the column, first), then the row under the pictures; the method
  // comes straight after the run button it sets.
  void tabReachesEveryControlInReadingOrder() {
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    if (!ShowActive(dlg)) return;
    // Enabled, as a run or a loaded picture would leave them.
    for (QWidget* w : Visible(dlg)) w->setEnabled(true);
    QWidget* first = dlg.GetDlgItem(IDC_BTN_LOAD_ORIGINAL);
    const QList<QWidget*> cycle = TabCycle(first, Qt::NoModifier);
    QVERIFY2(!cycle.isEmpty(), "Tab never comes round again");
    QSet<QWidget*> once;
    for (QWidget* w : cycle) {
      QVERIFY2(!once.contains(w), qPrintable(Where(w) + " twice"));
      once.insert(w);
    }
    for (QWidget* w : Visible(dlg)) {
      const auto* edit = qobject_cast<QLineEdit*>(w);
      const bool acts = qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) ||
                        (edit && !edit->isReadOnly());
      QVERIFY2(once.contains(w) == acts, qPrintable(Where(w)));
    }
    QCOMPARE(int(once.size()), int(cycle.size()));
    QList<QWidget*> backwards = TabCycle(first, Qt::ShiftModifier);
    QVERIFY(!backwards.isEmpty());
    std::reverse(backwards.begin() + 1, backwards.end());
    QCOMPARE(backwards, cycle);

    const QWidget* run = dlg.GetDlgItem(IDC_BTN_RUN);
    const QWidget* method = dlg.GetDlgItem(IDC_COMBO_METHOD);
    QVERIFY(cycle.indexOf(method) == cycle.indexOf(const_cast<QWidget*>(run)) + 1);
    // The parts of the window, by where a control lies: beside the pictures, the
    // strip's right and left parts, under the pictures.
    const DialogUnits& u = dlg.Units();
    const QRect pictures = dlg.GetDlgItem(1009)->geometry();  // the lower right frame
    const int stripTop = u.ToPixelsY(403);
    const int stripSplit = dlg.GetDlgItem(IDC_PROGRESS)->geometry().right();
    const auto part = [&](const QWidget* w) {
      const QRect r = w->geometry();
      if (r.top() >= stripTop) return r.left() > stripSplit ? 1 : 2;
      return r.left() > pictures.right() ? 0 : 3;
    };
    int reached = 0;
    std::vector<const QWidget*> last(4, nullptr);
    for (const QWidget* w : cycle) {
      if (w == method) continue;
      const int p = part(w);
      QVERIFY2(p >= reached, qPrintable(Where(w) + " comes back to an earlier part"));
      reached = p;
      if (const QWidget* before = last[std::size_t(p)]) {
        const QRect a = before->geometry(), b = w->geometry();
        const bool sameRow = std::abs(a.center().y() - b.center().y()) < b.height() / 2;
        QVERIFY2(sameRow ? a.left() < b.left() : a.top() < b.top(),
                 qPrintable(Where(before) + " then " + Where(w)));
      }
      last[std::size_t(p)] = w;
    }
    QCOMPARE(reached, 3);
  }

  // Each Alt letter is one control's; a caption's takes the keyboard to the
  // control it names.
  void altLettersAreUniqueAndCaptionsLeadToTheirControl() {
    ModalScript script;
    CMainDlg dlg;
    dlg.Create();
    if (!ShowActive(dlg)) return;
    QMap<QChar, QWidget*> letters;
    QList<QLabel*> captions;
    for (QWidget* w : Visible(dlg)) {
      QString text;
      if (auto* b = qobject_cast<QAbstractButton*>(w)) text = b->text();
      if (auto* l = qobject_cast<QLabel*>(w)) {
        text = l->text();
        if (!AltLetter(text).isNull()) captions << l;
      }
      const QChar letter = AltLetter(text);
      if (letter.isNull()) continue;
      if (letters.contains(letter))
        QFAIL(qPrintable(Where(w) + " and " + Where(letters.value(letter)) + ": Alt+" + letter));
      letters.insert(letter, w);
    }
    QVERIFY(letters.size() >= 14);
    QVERIFY(!captions.isEmpty());
    for (QLabel* caption : captions) {
      QWidget* buddy = caption->buddy();
      QVERIFY2(buddy && buddy->isVisibleTo(&dlg), qPrintable(Where(caption)));
      dlg.GetDlgItem(IDC_BTN_LOAD_ORIGINAL)->setFocus();
      const QChar letter = AltLetter(caption->text());
      QTest::keyClick(&dlg, Qt::Key(Qt::Key_A + (letter.unicode() - 'a')), Qt::AltModifier);
      QVERIFY2(dlg.focusWidget() == buddy, qPrintable(Where(caption)));
    }
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

  // The About box at its fixed size: the icon, the program and its version, and
  // OK, inside it and apart, read left to right; OK has the focus.
  void aboutBoxShowsTheProgramAndOk() {
    CAboutDlg about;
    about.Create();
    QCOMPARE(about.windowTitle(), QStringLiteral("About ruvanta"));
    const DialogUnits& u = about.Units();
    QCOMPARE(about.size(), QSize(u.ToPixelsX(235), u.ToPixelsY(55)));
    QCOMPARE(about.minimumSize(), about.maximumSize());
    CheckInsideAndApart(about, QStringLiteral("About"));
    const std::vector<QWidget*> shown = Visible(about);
    QCOMPARE(int(shown.size()), 3);
    auto* icon = qobject_cast<QLabel*>(shown[0]);
    QVERIFY(icon && !icon->pixmap().isNull());
    auto* text = qobject_cast<QLabel*>(shown[1]);
    QVERIFY(text);
    QCOMPARE(text->text(), QStringLiteral("ruvanta v 1.0"));
    QVERIFY(text->width() >= text->fontMetrics().horizontalAdvance(text->text()));
    auto* ok = qobject_cast<QPushButton*>(about.GetDlgItem(IDOK));
    QVERIFY(ok && ok == shown[2]);
    QCOMPARE(ok->text(), QStringLiteral("OK"));
    QVERIFY(icon->geometry().right() < text->geometry().left());
    QVERIFY(text->geometry().right() < ok->geometry().left());
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QCOMPARE(about.focusWidget(), static_cast<QWidget*>(ok));
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
