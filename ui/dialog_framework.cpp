#include "ui/dialog_framework.h"

#include <QAbstractButton>
#include <QApplication>
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
#include <QStyle>
#include <QStyleFactory>

#include <cmath>

QFont DialogFont() {
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"),
                    QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                    QStringLiteral("DejaVu Sans")});
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
  const int letters =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
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

void CDigitEdit::keyPressEvent(QKeyEvent* event) {
  const QString text = event->text();
  const bool command = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
  if (!command && !text.isEmpty() && text.at(0).isPrint()) {
    // The text as it stands once the selection is replaced: one point at most.
    QString kept = this->text();
    if (hasSelectedText()) kept.remove(selectionStart(), selectedText().size());
    bool point = kept.contains(QLatin1Char('.'));
    for (const QChar ch : text) {
      const bool digit = ch >= QLatin1Char('0') && ch <= QLatin1Char('9');
      const bool allowedPoint = m_bFraction && ch == QLatin1Char('.') && !point;
      if (!digit && !allowedPoint) {
        QApplication::beep();
        event->accept();
        return;
      }
      point = point || ch == QLatin1Char('.');
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

CDialog::CDialog(const DialogTemplate& tmpl, QWidget* parent)
    : QDialog(parent), m_template(tmpl), m_units(DialogFont()) {
  if (QStyle* style = DialogStyle()) setStyle(style);
  setFont(DialogFont());
  m_units = DialogUnits(font());
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
}

CDialog::~CDialog() = default;

QWidget* CDialog::MakeControl(const ControlTemplate& c) {
  const QString text = QString::fromUtf8(c.text ? c.text : "");
  QWidget* w = nullptr;
  switch (c.kind) {
    case ControlKind::DefPushButton:
    case ControlKind::PushButton: {
      auto* button = new QPushButton(text, this);
      // Enter is handled by the dialog (see keyPressEvent).
      button->setAutoDefault(false);
      button->setDefault(false);
      const int id = c.id;
      connect(button, &QPushButton::clicked, this, [this, id] { Dispatch(id); });
      w = button;
      break;
    }
    case ControlKind::GroupBox: {
      auto* box = new QGroupBox(text, this);
      box->setAlignment(Qt::AlignLeft);
      box->setFocusPolicy(Qt::NoFocus);
      // A frame only: the controls inside it take every click, press and wheel.
      box->setAttribute(Qt::WA_TransparentForMouseEvents);
      w = box;
      break;
    }
    case ControlKind::Pane: {
      auto* pane = new CPane(this);
      pane->setFocusPolicy(Qt::NoFocus);
      w = pane;
      break;
    }
    case ControlKind::Label: {
      auto* label = new QLabel(text, this);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      label->setWordWrap(true);
      label->setTextFormat(Qt::PlainText);
      label->setAttribute(Qt::WA_TransparentForMouseEvents);
      w = label;
      break;
    }
    case ControlKind::Edit: {
      auto* edit = new CDigitEdit(this, c.fraction);
      edit->setAlignment(Qt::AlignCenter);
      edit->setFrame(true);
      edit->setText(text);
      edit->setTextMargins(0, 0, 0, 0);
      w = edit;
      break;
    }
    case ControlKind::Icon: {
      auto* label = new QLabel(this);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      w = label;
      break;
    }
    case ControlKind::Progress: {
      auto* bar = new QProgressBar(this);
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
  if (c.kind == ControlKind::Icon) r.setSize(QSize(32, 32));  // an icon control takes the icon's size
  w->setGeometry(r);
  w->setEnabled(c.enabled);
  w->setVisible(c.visible);
  if (c.id != -1) {
    w->setObjectName(QStringLiteral("id%1").arg(c.id));
    m_byId.emplace(c.id, w);
  }
  return w;
}

void CDialog::Create() {
  if (m_created) return;
  m_created = true;
  setWindowTitle(QString::fromUtf8(m_template.caption));
  setFixedSize(m_units.ToPixelsX(m_template.cx), m_units.ToPixelsY(m_template.cy));
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

QWidget* CDialog::GetDlgItem(int id) const {
  const auto it = m_byId.find(id);
  return it == m_byId.end() ? nullptr : it->second;
}

void CDialog::Dispatch(int id) {
  if (id == IDOK)
    OnOK();
  else if (id == IDCANCEL)
    OnCancel();
  else
    OnCommand(id);
}

void CDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    // A focused push button is pressed; anywhere else Enter is the OK command.
    auto* button = qobject_cast<QPushButton*>(focusWidget());
    if (button && button->window() == this && button->isEnabled())
      button->click();
    else
      Dispatch(IDOK);
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CDialog::paintEvent(QPaintEvent*) { OnPaint(); }

void CDialog::Default() {
  QPainter painter(this);
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
  return answer == QMessageBox::Yes;
}

std::optional<QString> CDialog::ChooseFile(bool bOpen) {
  QFileDialog dialog(this);
  QFileDialog::Options options = QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails;
  if (!bOpen) options |= QFileDialog::DontConfirmOverwrite;
  dialog.setOptions(options);
  dialog.setAcceptMode(bOpen ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  // Any name may be typed; the command checks the extension and the file itself.
  dialog.setFileMode(QFileDialog::AnyFile);
  // Linux names are case-sensitive and the commands accept either case.
  const QString bmp = QStringLiteral("*.bmp *.BMP *.Bmp"), png = QStringLiteral("*.png *.PNG *.Png");
  const QString jpeg = QStringLiteral("*.jpg *.JPG *.Jpg *.jpeg *.JPEG *.Jpeg");
  if (bOpen)
    dialog.setNameFilters({QStringLiteral("Pictures (%1 %2 %3)").arg(bmp, png, jpeg),
                           QStringLiteral("BMP (%1)").arg(bmp), QStringLiteral("PNG (%1)").arg(png),
                           QStringLiteral("JPEG (%1)").arg(jpeg)});
  else
    dialog.setNameFilters({QStringLiteral("BMP (%1)").arg(bmp), QStringLiteral("PNG (%1)").arg(png)});
  if (!m_lastFolder.isEmpty()) dialog.setDirectory(m_lastFolder);

  std::optional<QString> chosen;
  if (ModalHooks().fileDialog) {
    chosen = ModalHooks().fileDialog(dialog);
  } else if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    chosen = dialog.selectedFiles().constFirst();
  }
  if (chosen && !chosen->isEmpty()) m_lastFolder = QFileInfo(*chosen).absolutePath();
  return chosen;
}
