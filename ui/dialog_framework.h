// A small dialog framework over Qt Widgets: dialogs built from a template (controls
// with ids, kinds, texts and rectangles in dialog units), modal runs, message boxes
// and file dialogs. Tests and scripted runs answer the modal parts through
// ModalHooks() instead of letting them block.
#pragma once

#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QLineEdit>
#include <QPointer>
#include <QString>
#include <functional>
#include <map>
#include <optional>
#include <vector>

class QFileDialog;
class QMessageBox;
class QAbstractButton;
class QStyle;

// Command ids the framework itself knows.
enum : int {
  IDOK = 1,
  IDCANCEL = 2,
};
// System commands (the context menu stands in for the window's system menu).
enum : unsigned {
  SC_MOVE = 0xF010,
  SC_CLOSE = 0xF060,
};

enum class ControlKind {
  DefPushButton,  // default-style push button, tab stop
  PushButton,     // push button, tab stop
  GroupBox,       // frame with a title, no tab stop
  Pane,           // black frame with a border, no text; pictures are drawn on it
  Label,          // left-aligned static text, wrapping at word boundaries
  Edit,           // bordered, centred, digits only when typed, tab stop
  Icon,           // static control showing the dialog's icon
  Progress,       // a progress bar, no tab stop
  Combo,          // a drop-down list, tab stop
};

struct ControlTemplate {
  int id;  // -1: no id
  ControlKind kind;
  const char* text;
  int x, y, cx, cy;  // dialog units
  bool visible = true;
  bool enabled = true;
  bool fraction = false;  // an edit that also takes one decimal point from the keyboard
};

// How a control of a resizable dialog follows the window's size.
enum class Anchor {
  kFixed,          // stays where the template puts it
  kGrid,           // inside the picture grid: position and size scale with it
  kRight,          // the column right of the grid: moves right as the grid widens
  kBottom,         // under the grid: moves down as the grid grows taller
  kBottomRight,    // moves right and down
  kBottomStretch,  // moves down and widens with the grid
};

struct DialogTemplate {
  int id;
  const char* caption;
  int cx, cy;                             // client size in dialog units
  std::vector<ControlTemplate> controls;  // template order
  // A resizable dialog: the part of the client up to (gridRight, gridBottom) in
  // dialog units is a grid of pictures that grows and shrinks with the window; the
  // controls follow by their anchors (one per control, or none: all fixed).
  bool resizable = false;
  int gridRight = 0, gridBottom = 0;
  std::vector<Anchor> anchors;
};

// The dialog font: a sans-serif 8-point face standing in for "MS Sans Serif".
QFont DialogFont();

// The look of dialogs and their controls: plain frames, group boxes that paint
// nothing inside (so pictures drawn by the dialog show through).
QStyle* DialogStyle();

// Dialog units of a font: horizontal base = average width of the 52 Latin letters,
// vertical base = the font's height; a unit is a quarter (an eighth) of it.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  DialogUnits(int baseX, int baseY) : m_baseX(baseX), m_baseY(baseY) {}
  int BaseX() const { return m_baseX; }
  int BaseY() const { return m_baseY; }
  int ToPixelsX(int du) const;
  int ToPixelsY(int du) const;
  QRect ToPixels(int x, int y, int cx, int cy) const;

 private:
  int m_baseX;
  int m_baseY;
};

// An edit that takes only the digits 0 to 9 from the keyboard, and, when it holds
// a fraction, one decimal point or comma. A key it cannot use is refused with a
// hint naming what the field takes (Refused), never dropped in silence; so is a
// digit that would make a whole number larger than the field holds. Text set by
// the program (or pasted) is not filtered: the command that reads it checks it.
class CDigitEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit CDigitEdit(QWidget* parent, bool fraction = false)
      : QLineEdit(parent), m_bFraction(fraction) {}
  bool TakesFraction() const { return m_bFraction; }
  void SetTakesFraction(bool fraction) { m_bFraction = fraction; }
  // The name used in hints ("Ruvanta") and the largest whole number typed (0: no
  // limit is checked while typing).
  void SetFieldName(const QString& name) { m_name = name; }
  void SetMaximum(qulonglong most) { m_most = most; }
  // The hint the last refused key gave.
  QString LastHint() const { return m_lastHint; }

 signals:
  // A key was refused; the hint says what the field takes.
  void Refused(const QString& hint);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QString Takes() const;
  bool m_bFraction;
  QString m_name;
  qulonglong m_most = 0;
  QString m_lastHint;
};

// A black-framed pane with a one-pixel border. It paints only its frames; the
// dialog draws the pictures into ClientRect().
class CPane : public QWidget {
  Q_OBJECT
 public:
  explicit CPane(QWidget* parent) : QWidget(parent) {}
  // The client area (inside the border), in the pane's own coordinates.
  QRect ClientRect() const { return rect().adjusted(1, 1, -1, -1); }

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class CDialog;

// Answers for the modal parts of the framework. While a hook is set, the dialog,
// box or file dialog is built completely and handed to the hook instead of being
// run; the hook's answer is taken as the user's.
struct DialogHooks {
  // Returns the chosen file's full path, or nothing for Cancel.
  std::function<std::optional<QString>(QFileDialog&)> fileDialog;
  // Sees the box (text, caption, buttons, owner) as it would be shown; for a
  // question, returns the button chosen (a QMessageBox::StandardButton).
  std::function<int(QMessageBox&)> messageBox;
  // Returns the end code of a modal dialog run with DoModal.
  std::function<int(CDialog&)> modal;
};
DialogHooks& ModalHooks();

// A modal dialog built from a template.
class CDialog : public QDialog {
  Q_OBJECT
 public:
  explicit CDialog(const DialogTemplate& tmpl, QWidget* parent = nullptr);
  ~CDialog() override;

  // Creates the window and its controls, then calls OnInitDialog (once).
  void Create();
  // Create, show modally until EndDialog; returns the end code.
  int DoModal();
  void EndDialog(int result);

  QWidget* GetDlgItem(int id) const;
  const DialogTemplate& Template() const { return m_template; }
  const DialogUnits& Units() const { return m_units; }
  // The window's controls in template order.
  const std::vector<QWidget*>& Controls() const { return m_controls; }
  // The control of a template row (ids repeat as -1).
  QWidget* ControlAt(std::size_t index) const { return m_controls.at(index); }

  // A modal box owned by this dialog: OK button, no icon; an empty caption shows
  // the application title.
  void ShowMessage(const QString& text, const QString& caption);
  // A modal question with two buttons; true when the first (`yes`) is chosen.
  // Escape and the close box choose the second.
  bool AskQuestion(const QString& text, const QString& caption, const QString& yes,
                   const QString& no);
  // An open dialog listing BMP, PNG and JPEG files, or a save dialog listing PNG
  // and BMP ones, proposing `proposed` (a name, its type chosen in the list). The
  // save dialog never offers to replace a file, and a name typed without an
  // extension gets the one of the chosen type. Full path or nothing on Cancel. Each
  // opens in the folder of the file chosen last.
  std::optional<QString> ChooseFile(bool bOpen, const QString& proposed = QString());

  void SetIcon(const QIcon& icon);
  // The folder the next file dialog opens in.
  void SetLastFolder(const QString& folder) { m_lastFolder = folder; }

  // The widget the controls live on and the pictures are painted on: the dialog
  // itself, or for a resizable dialog the page inside its scroll area.
  QWidget* Client() const { return m_client; }
  // The client size of the template at its design size, and the smallest the
  // layout goes before the page scrolls.
  QSize DesignSize() const;
  QSize MinimumClientSize() const;
  // Puts every control where its anchor puts it for a client of this size.
  void LayoutControls(QSize client);
  // Set when a modal box or file dialog has just closed: the next Enter does not
  // press a button, so an Enter meant for the closed dialog never reopens it.
  bool EnterGuarded() const { return m_bEnterGuard; }

 protected:
  virtual bool OnInitDialog() { return true; }
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }
  // A button other than IDOK and IDCANCEL was clicked.
  virtual void OnCommand(int /*id*/) {}

  // QDialog's own ways to end go through OnOK and OnCancel.
  void accept() override { OnOK(); }
  void reject() override { OnCancel(); }
  void keyPressEvent(QKeyEvent* event) override;

  // Painting: paintEvent calls OnPaint; Default paints the dialog's own parts
  // (the panes' border and black frame).
  void paintEvent(QPaintEvent* event) override;
  virtual void OnPaint() { Default(); }
  void Default();
  // The client area of a pane, in the coordinates of Client().
  QRect PaneClientRect(int id) const;
  // An event that reached the client page (a click, a drop, a context menu):
  // true when handled. Positions are in Client() coordinates.
  virtual bool ClientEvent(QEvent* /*event*/) { return false; }

 private:
  friend class CClientPage;
  void Dispatch(int id);
  QWidget* MakeControl(const ControlTemplate& c);
  // After a modal box or file dialog: the keys come back to this window (also
  // without a window manager, which would otherwise leave them nowhere), and the
  // next Enter is guarded.
  void AfterModal();

  DialogTemplate m_template;
  DialogUnits m_units;
  bool m_created = false;
  std::vector<QWidget*> m_controls;
  std::map<int, QWidget*> m_byId;
  QIcon m_icon;
  QString m_lastFolder;
  QWidget* m_client = nullptr;
  bool m_bEnterGuard = false;
};

// The application title used where a caption is empty.
QString AppTitle();
