#include "ui/dialog_framework.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QStyleFactory>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

QFont DialogFont() {
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                    QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  font.setWeight(QFont::Normal);
  font.setItalic(false);
  return font;
}

QStyle* DialogStyle() {
  static QPointer<QStyle> style;
  if (!style) {
    style = QStyleFactory::create(QStringLiteral("Windows"));
    if (!style) style = QStyleFactory::create(QStringLiteral("Fusion"));
    if (style) style->setParent(QCoreApplication::instance());
  }
  return style;
}

QString AppTitle() {
  const QString name = QCoreApplication::applicationName();
  return name.isEmpty() ? QStringLiteral("ruvanta") : name;
}

// --- dialog units ------------------------------------------------------------

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  // The average of the 52 letters, rounded to whole pixels.
  m_baseX = (letters / 26 + 1) / 2;
  m_baseY = metrics.height();
}

namespace {
// du * base / divisor rounded to the nearest pixel, halves away from zero.
int Scale(int du, int base, int divisor) {
  return int(std::lround(double(du) * double(base) / double(divisor)));
}
}  // namespace

int DialogUnits::ToPixelsX(int du) const { return Scale(du, m_baseX, 4); }
int DialogUnits::ToPixelsY(int du) const { return Scale(du, m_baseY, 8); }

QRect DialogUnits::ToPixels(int x, int y, int cx, int cy) const {
  return QRect(ToPixelsX(x), ToPixelsY(y), ToPixelsX(cx), ToPixelsY(cy));
}

// --- controls ----------------------------------------------------------------

QString CDigitEdit::Takes() const {
  const QString name = m_name.isEmpty() ? QStringLiteral("This field") : m_name;
  if (m_bFraction)
    return name + QStringLiteral(
                      " takes a number 0 or more, with a decimal point or comma (0.01 or 0,01)");
  return name + QStringLiteral(" takes a whole number from 0 to %1")
                    .arg(m_most ? m_most : qulonglong(4294967295u));
}

void CDigitEdit::keyPressEvent(QKeyEvent* event) {
  const QString text = event->text();
  const bool command =
      event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
  if (!isReadOnly() && !command && !text.isEmpty() && text.at(0).isPrint()) {
    // The text as it stands once the selection is replaced: one point at most.
    QString kept = this->text();
    int at = cursorPosition();
    if (hasSelectedText()) {
      at = selectionStart();
      kept.remove(selectionStart(), selectedText().size());
    }
    const auto isPoint = [](QChar ch) { return ch == QLatin1Char('.') || ch == QLatin1Char(','); };
    bool point = std::any_of(kept.begin(), kept.end(), isPoint);
    QString hint;
    for (const QChar ch : text) {
      const bool digit = ch >= QLatin1Char('0') && ch <= QLatin1Char('9');
      if (digit) continue;
      if (m_bFraction && isPoint(ch) && !point) {
        point = true;
        continue;
      }
      if (isPoint(ch) && m_bFraction)
        hint = Takes() + QStringLiteral(": it has its decimal point already");
      else if (ch == QLatin1Char('-'))
        hint = Takes() + QStringLiteral(": a minus sign cannot be typed");
      else
        hint = Takes() + QStringLiteral(": \"%1\" cannot be typed").arg(ch);
      break;
    }
    if (hint.isEmpty() && !m_bFraction && m_most) {
      const QString after = kept.left(at) + text + kept.mid(at);
      bool ok = false;
      const qulonglong value = after.toULongLong(&ok);
      if (!ok || value > m_most)
        hint = (m_name.isEmpty() ? QStringLiteral("This field") : m_name) +
               QStringLiteral(": at most %1").arg(m_most);
    }
    if (!hint.isEmpty()) {
      m_lastHint = hint;
      QApplication::beep();
      QToolTip::showText(mapToGlobal(QPoint(0, height())), hint, this);
      emit Refused(hint);
      event->accept();
      return;
    }
  }
  QLineEdit::keyPressEvent(event);
}

void CPane::paintEvent(QPaintEvent*) {}

DialogHooks& ModalHooks() {
  static DialogHooks hooks;
  return hooks;
}

// --- dialog ------------------------------------------------------------------

// The page of a resizable dialog: the controls' parent inside the scroll area. It
// paints what the dialog paints and lays the controls out at its size.
class CClientPage : public QWidget {
 public:
  explicit CClientPage(CDialog* dialog) : QWidget(nullptr), m_dialog(dialog) {
    setAcceptDrops(true);
  }
  // The dialog is going: the events of the page's own destruction reach it no more.
  void Detach() { m_dialog = nullptr; }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (m_dialog) m_dialog->OnPaint();
  }
  void resizeEvent(QResizeEvent*) override {
    if (m_dialog) m_dialog->LayoutControls(size());
  }
  bool event(QEvent* e) override {
    if (m_dialog && e->type() == QEvent::MouseButtonPress) m_dialog->m_bEnterGuard = false;
    if (m_dialog && m_dialog->ClientEvent(e)) return true;
    return QWidget::event(e);
  }

 private:
  CDialog* m_dialog;
};

CDialog::CDialog(const DialogTemplate& tmpl, QWidget* parent)
    : QDialog(parent), m_template(tmpl), m_units(DialogFont()) {
  if (QStyle* style = DialogStyle()) setStyle(style);
  setFont(DialogFont());
  m_units = DialogUnits(font());
  if (m_template.resizable)
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  else
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  m_client = this;
}

CDialog::~CDialog() {
  if (m_client != this) static_cast<CClientPage*>(m_client)->Detach();
}

QWidget* CDialog::MakeControl(const ControlTemplate& c) {
  const QString text = QString::fromUtf8(c.text ? c.text : "");
  QWidget* w = nullptr;
  switch (c.kind) {
    case ControlKind::DefPushButton:
    case ControlKind::PushButton: {
      auto* button = new QPushButton(text, m_client);
      // Enter is handled by the dialog (see keyPressEvent).
      button->setAutoDefault(false);
      button->setDefault(false);
      const int id = c.id;
      connect(button, &QPushButton::clicked, this, [this, id] { Dispatch(id); });
      w = button;
      break;
    }
    case ControlKind::GroupBox: {
      auto* box = new QGroupBox(text, m_client);
      box->setAlignment(Qt::AlignLeft);
      box->setFocusPolicy(Qt::NoFocus);
      // A frame only: the controls inside it take every click, press and wheel.
      box->setAttribute(Qt::WA_TransparentForMouseEvents);
      w = box;
      break;
    }
    case ControlKind::Pane: {
      auto* pane = new CPane(m_client);
      pane->setFocusPolicy(Qt::NoFocus);
      w = pane;
      break;
    }
    case ControlKind::Label: {
      auto* label = new QLabel(text, m_client);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      label->setWordWrap(true);
      label->setTextFormat(Qt::PlainText);
      label->setAttribute(Qt::WA_TransparentForMouseEvents);
      w = label;
      break;
    }
    case ControlKind::Edit: {
      auto* edit = new CDigitEdit(m_client, c.fraction);
      edit->setAlignment(Qt::AlignCenter);
      edit->setFrame(true);
      edit->setText(text);
      edit->setTextMargins(0, 0, 0, 0);
      w = edit;
      break;
    }
    case ControlKind::Icon: {
      auto* label = new QLabel(m_client);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      w = label;
      break;
    }
    case ControlKind::Combo: {
      auto* combo = new QComboBox(m_client);
      combo->setFocusPolicy(Qt::StrongFocus);
      w = combo;
      break;
    }
    case ControlKind::Progress: {
      auto* bar = new QProgressBar(m_client);
      bar->setFocusPolicy(Qt::NoFocus);
      bar->setRange(0, 100);
      bar->setValue(0);
      bar->setTextVisible(true);
      w = bar;
      break;
    }
  }
  if (QStyle* style = DialogStyle()) w->setStyle(style);
  QRect r = m_units.ToPixels(c.x, c.y, c.cx, c.cy);
  if (c.kind == ControlKind::Icon)
    r.setSize(QSize(32, 32));  // an icon control takes the icon's size
  w->setGeometry(r);
  w->setEnabled(c.enabled);
  w->setVisible(c.visible);
  if (c.id != -1) {
    w->setObjectName(QStringLiteral("id%1").arg(c.id));
    m_byId.emplace(c.id, w);
  }
  return w;
}

QSize CDialog::DesignSize() const {
  return QSize(m_units.ToPixelsX(m_template.cx), m_units.ToPixelsY(m_template.cy));
}

QSize CDialog::MinimumClientSize() const {
  if (!m_template.resizable) return DesignSize();
  // The picture grid may shrink to half its width, but only as far as keeps what
  // moves left with the column (the right of the rows under the grid) clear of
  // what stays at the left on the same rows. The column and the rows keep their
  // size, so the height is the template's.
  int shrink = m_units.ToPixelsX(m_template.gridRight) / 2;
  const std::vector<ControlTemplate>& controls = m_template.controls;
  if (m_template.anchors.size() == controls.size())
    for (std::size_t i = 0; i < controls.size(); ++i) {
      if (m_template.anchors[i] != Anchor::kBottomRight) continue;
      const ControlTemplate& a = controls[i];
      const QRect moving = m_units.ToPixels(a.x, a.y, a.cx, a.cy);
      for (std::size_t k = 0; k < controls.size(); ++k) {
        if (m_template.anchors[k] != Anchor::kBottom) continue;
        const ControlTemplate& b = controls[k];
        const QRect staying = m_units.ToPixels(b.x, b.y, b.cx, b.cy);
        if (moving.top() > staying.bottom() || staying.top() > moving.bottom()) continue;
        shrink = std::min(shrink, moving.left() - staying.right() - 1 - m_units.ToPixelsX(4));
      }
    }
  return QSize(DesignSize().width() - std::max(shrink, 0), DesignSize().height());
}

void CDialog::LayoutControls(QSize client) {
  if (!m_template.resizable || m_template.anchors.size() != m_controls.size()) return;
  const QSize design = DesignSize();
  const int dx = client.width() - design.width(), dy = client.height() - design.height();
  const double gridW = m_units.ToPixelsX(m_template.gridRight);
  const double gridH = m_units.ToPixelsY(m_template.gridBottom);
  const double sx = (gridW + dx) / gridW, sy = (gridH + dy) / gridH;
  for (std::size_t i = 0; i < m_controls.size(); ++i) {
    const ControlTemplate& c = m_template.controls[i];
    QRect r = m_units.ToPixels(c.x, c.y, c.cx, c.cy);
    if (c.kind == ControlKind::Icon) r.setSize(QSize(32, 32));
    switch (m_template.anchors[i]) {
      case Anchor::kFixed:
        break;
      case Anchor::kGrid: {
        const int left = int(std::lround(r.left() * sx)), top = int(std::lround(r.top() * sy));
        const int right = int(std::lround((r.right() + 1) * sx));
        const int bottom = int(std::lround((r.bottom() + 1) * sy));
        r = QRect(left, top, right - left, bottom - top);
        break;
      }
      case Anchor::kRight:
        r.translate(dx, 0);
        break;
      case Anchor::kBottom:
        r.translate(0, dy);
        break;
      case Anchor::kBottomRight:
        r.translate(dx, dy);
        break;
      case Anchor::kBottomStretch:
        r.translate(0, dy);
        r.setWidth(r.width() + dx);
        break;
    }
    m_controls[i]->setGeometry(r);
  }
  m_client->update();
}

void CDialog::Create() {
  if (m_created) return;
  m_created = true;
  setWindowTitle(QString::fromUtf8(m_template.caption));
  if (m_template.resizable) {
    // The controls live on a page inside a scroll area: the page follows the
    // window's size down to its smallest layout, and scrolls below that.
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    // Not a stop of Tab: the focus would go nowhere a person can see.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setWidgetResizable(true);
    auto* page = new CClientPage(this);
    page->setFont(font());
    if (QStyle* style = DialogStyle()) page->setStyle(style);
    m_client = page;
    scroll->setWidget(page);
    page->setMinimumSize(MinimumClientSize());
    page->resize(DesignSize());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    resize(DesignSize());
    // Whatever takes the focus by the keyboard is scrolled into view.
    connect(qApp, &QApplication::focusChanged, scroll, [scroll, page](QWidget*, QWidget* now) {
      if (now && page->isAncestorOf(now)) scroll->ensureWidgetVisible(now, 8, 8);
    });
  } else {
    setFixedSize(DesignSize());
  }
  QWidget* previous = nullptr;
  QWidget* first = nullptr;
  for (const ControlTemplate& c : m_template.controls) {
    QWidget* w = MakeControl(c);
    m_controls.push_back(w);
    if (w->focusPolicy() & Qt::TabFocus) {
      if (previous) setTabOrder(previous, w);
      previous = w;
      if (!first && c.visible && c.enabled) first = w;
    }
  }
  // Frames lie under what they frame, whatever their place in the template.
  for (std::size_t i = 0; i < m_controls.size(); ++i)
    if (m_template.controls[i].kind == ControlKind::GroupBox) m_controls[i]->lower();
  if (m_template.resizable) LayoutControls(m_client->size().expandedTo(DesignSize()));
  if (!m_icon.isNull()) SetIcon(m_icon);
  if (OnInitDialog() && first) first->setFocus(Qt::OtherFocusReason);
}

int CDialog::DoModal() {
  Create();
  if (ModalHooks().modal) {
    const int code = ModalHooks().modal(*this);
    EndDialog(code);
    return code;
  }
  setModal(true);
  return exec();
}

void CDialog::EndDialog(int result) { done(result); }

void CDialog::AfterModal() {
  m_bEnterGuard = true;
  if (isVisible()) activateWindow();
}

QWidget* CDialog::GetDlgItem(int id) const {
  const auto it = m_byId.find(id);
  return it == m_byId.end() ? nullptr : it->second;
}

void CDialog::Dispatch(int id) {
  m_bEnterGuard = false;
  if (id == IDOK)
    OnOK();
  else if (id == IDCANCEL)
    OnCancel();
  else
    OnCommand(id);
}

void CDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    // Right after a modal box or file dialog closed, an Enter (a second press,
    // or a repeat) was meant for it: it presses nothing here.
    if (m_bEnterGuard || event->isAutoRepeat()) {
      m_bEnterGuard = false;
      event->accept();
      return;
    }
    // A focused push button is pressed; anywhere else Enter is the OK command.
    auto* button = qobject_cast<QPushButton*>(focusWidget());
    if (button && button->window() == this && button->isEnabled())
      button->click();
    else
      Dispatch(IDOK);
    event->accept();
    return;
  }
  m_bEnterGuard = false;
  QDialog::keyPressEvent(event);
}

void CDialog::paintEvent(QPaintEvent*) {
  if (m_client == this) OnPaint();
}

void CDialog::Default() {
  QPainter painter(m_client);
  painter.setPen(QPen(Qt::black, 1));
  painter.setBrush(Qt::NoBrush);
  for (std::size_t i = 0; i < m_controls.size(); ++i) {
    if (m_template.controls[i].kind != ControlKind::Pane || m_controls[i]->isHidden()) continue;
    const QRect outer = m_controls[i]->geometry();
    painter.drawRect(outer.adjusted(0, 0, -1, -1));  // the border
    painter.drawRect(outer.adjusted(1, 1, -2, -2));  // the black frame inside it
  }
}

QRect CDialog::PaneClientRect(int id) const {
  const auto* pane = qobject_cast<const CPane*>(GetDlgItem(id));
  if (!pane) return QRect();
  return pane->ClientRect().translated(pane->pos());
}

void CDialog::SetIcon(const QIcon& icon) {
  m_icon = icon;
  setWindowIcon(icon);
  for (std::size_t i = 0; i < m_controls.size(); ++i)
    if (m_template.controls[i].kind == ControlKind::Icon)
      static_cast<QLabel*>(m_controls[i])->setPixmap(icon.pixmap(32, 32));
}

void CDialog::ShowMessage(const QString& text, const QString& caption) {
  QMessageBox box(this);
  box.setIcon(QMessageBox::NoIcon);
  box.setWindowTitle(caption.isEmpty() ? AppTitle() : caption);
  box.setTextFormat(Qt::PlainText);
  box.setText(text);
  box.setStandardButtons(QMessageBox::Ok);
  box.setDefaultButton(QMessageBox::Ok);
  if (QStyle* style = DialogStyle()) {
    box.setStyle(style);
    for (QWidget* child : box.findChildren<QWidget*>()) child->setStyle(style);
  }
  for (QAbstractButton* button : box.buttons()) button->setIcon(QIcon());
  if (ModalHooks().messageBox)
    ModalHooks().messageBox(box);
  else
    box.exec();
  AfterModal();
}

bool CDialog::AskQuestion(const QString& text, const QString& caption, const QString& yes,
                          const QString& no) {
  QMessageBox box(this);
  box.setIcon(QMessageBox::NoIcon);
  box.setWindowTitle(caption.isEmpty() ? AppTitle() : caption);
  box.setTextFormat(Qt::PlainText);
  box.setText(text);
  box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  box.button(QMessageBox::Yes)->setText(yes);
  box.button(QMessageBox::No)->setText(no);
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  if (QStyle* style = DialogStyle()) {
    box.setStyle(style);
    for (QWidget* child : box.findChildren<QWidget*>()) child->setStyle(style);
  }
  const int answer = ModalHooks().messageBox ? ModalHooks().messageBox(box) : box.exec();
  AfterModal();
  return answer == QMessageBox::Yes;
}

std::optional<QString> CDialog::ChooseFile(bool bOpen, const QString& proposed) {
  QFileDialog dialog(this);
  QFileDialog::Options options =
      QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails;
  if (!bOpen) options |= QFileDialog::DontConfirmOverwrite;
  dialog.setOptions(options);
  dialog.setAcceptMode(bOpen ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  // Any name may be typed; the command checks the extension and the file itself.
  dialog.setFileMode(QFileDialog::AnyFile);
  // Linux names are case-sensitive and the commands accept either case.
  const QString bmp = QStringLiteral("*.bmp *.BMP *.Bmp"),
                png = QStringLiteral("*.png *.PNG *.Png");
  const QString jpeg = QStringLiteral("*.jpg *.JPG *.Jpg *.jpeg *.JPEG *.Jpeg");
  const QString pngFilter = QStringLiteral("PNG (%1)").arg(png);
  const QString bmpFilter = QStringLiteral("BMP (%1)").arg(bmp);
  if (bOpen)
    dialog.setNameFilters({QStringLiteral("Pictures (%1 %2 %3)").arg(bmp, png, jpeg), bmpFilter,
                           pngFilter, QStringLiteral("JPEG (%1)").arg(jpeg)});
  else
    dialog.setNameFilters({pngFilter, bmpFilter});
  if (!m_lastFolder.isEmpty()) dialog.setDirectory(m_lastFolder);
  if (!bOpen && !proposed.isEmpty()) {
    const bool isBmp = proposed.endsWith(QStringLiteral(".bmp"), Qt::CaseInsensitive);
    dialog.selectNameFilter(isBmp ? bmpFilter : pngFilter);
    dialog.selectFile(proposed);
  }

  std::optional<QString> chosen;
  if (ModalHooks().fileDialog) {
    chosen = ModalHooks().fileDialog(dialog);
  } else if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    chosen = dialog.selectedFiles().constFirst();
  }
  AfterModal();
  if (!chosen || chosen->isEmpty()) return std::nullopt;
  if (!bOpen && QFileInfo(*chosen).suffix().isEmpty()) {
    // A name typed without an extension gets the chosen type's.
    const bool isBmp = dialog.selectedNameFilter().startsWith(QStringLiteral("BMP"));
    *chosen += isBmp ? QStringLiteral(".bmp") : QStringLiteral(".png");
  }
  m_lastFolder = QFileInfo(*chosen).absolutePath();
  return chosen;
}
