#include "ui/main_dlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QWindow>

#include "ui/about_dlg.h"
#include "ui/resource.h"

CMainDlg::CMainDlg(QWidget* parent) : CDialog(MainDialogTemplate(), parent) {
  m_hIcon = LoadAppIcon();
}

CMainDlg::~CMainDlg() {
  while (m_nWaitCursor > 0) EndWaitCursor();
}

bool CMainDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  UpdateData(false);

  // The system menu: the window manager offers none to add to, so the dialog's
  // context menu holds its entries.
  m_pSysMenu = new QMenu(this);
  m_pSysMenu->addAction(QStringLiteral("&Move"))->setData(SC_MOVE);
  m_pSysMenu->addAction(QStringLiteral("&Close\tAlt+F4"))->setData(SC_CLOSE);
  const QString about = LoadString(IDS_ABOUTBOX);
  if (!about.isEmpty()) {
    m_pSysMenu->addSeparator();
    m_pSysMenu->addAction(about)->setData(IDM_ABOUTBOX);
  }
  connect(m_pSysMenu, &QMenu::triggered, this,
          [this](QAction* action) { OnSysCommand(action->data().toUInt(), 0); });

  SetIcon(m_hIcon);
  SetDefaults();  // 100, 2, 15, 0.01, the others 0, written to the edits
  return true;
}

void CMainDlg::OnCommand(int id) {
  switch (id) {
    case IDC_BTN_LOAD_DAMAGED:
      OnLoadDamaged();
      break;
    case IDC_BTN_LOAD_MASK:
      OnLoadMask();
      break;
    case IDC_BTN_RUN:
      OnRun();
      break;
    case IDC_BTN_LOAD_ORIGINAL:
      OnLoadOriginal();
      break;
    case IDC_BTN_RESET:
      OnReset();
      break;
    case IDC_BTN_AUTO:
      OnAuto();
      break;
    case IDC_BTN_SAVE:
      OnSave();
      break;
    default:
      break;
  }
}

void CMainDlg::OnReset() {
  m_fPsnrDamaged = 0;
  m_fPsnrResult = 0;
  m_fSeconds = 0;
  m_nTotalIter = 0;
  m_nMaskPixels = 0;
  UpdateData(false);
}

void CMainDlg::OnSysCommand(unsigned nID, long) {
  if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
    CAboutDlg about(nullptr);
    about.DoModal();
    return;
  }
  switch (nID & 0xFFF0) {
    case SC_CLOSE:
      close();
      break;
    case SC_MOVE:
      if (QWindow* window = windowHandle()) window->startSystemMove();
      break;
    default:
      break;
  }
}

void CMainDlg::contextMenuEvent(QContextMenuEvent* event) {
  if (m_pSysMenu) m_pSysMenu->exec(event->globalPos());
  event->accept();
}

QImage CMainDlg::SurfaceImage(const ImageSurface& surface) {
  const Bitmap* bitmap = surface.hBitmap.get();
  if (!bitmap || surface.nWidth <= 0 || surface.nHeight <= 0) return QImage();
  const int w = std::min(surface.nWidth, bitmap->Width());
  const int h = std::min(surface.nHeight, bitmap->Height());
  QImage image(w, h, QImage::Format_RGB888);
  for (int y = 0; y < h; ++y) {
    const BYTE* src = bitmap->RowFromTop(y);
    uchar* dst = image.scanLine(y);
    for (int x = 0; x < w; ++x) {
      dst[3 * x + 0] = src[3 * x + 2];
      dst[3 * x + 1] = src[3 * x + 1];
      dst[3 * x + 2] = src[3 * x + 0];
    }
  }
  return image;
}

void CMainDlg::OnPaint() {
  Default();
  m_paintedPanes.clear();
  QPainter painter(this);
  const struct {
    int id;
    const ImageSurface* surface;
  } panes[] = {
      {IDC_PANE_ORIGINAL, &m_surfOriginal},
      {IDC_PANE_DAMAGED, &m_surfDamaged},
      {IDC_PANE_RESULT, &m_surfResult},
      {IDC_PANE_MASK, &m_surfMask},
  };
  for (const auto& pane : panes) {
    if (pane.surface->bLoaded != 1) continue;
    const QRect client = PaneClientRect(pane.id);
    if (client.isEmpty()) continue;
    // Unscaled at the pane's (0, 0), clipped to the pane.
    painter.setClipRect(client);
    painter.drawImage(client.topLeft(), SurfaceImage(*pane.surface));
    m_paintedPanes.push_back(pane.id);
  }
}

// --- dialog services -----------------------------------------------------------

std::string CMainDlg::GetItemText(int id) const {
  const QWidget* w = GetDlgItem(id);
  if (const auto* edit = qobject_cast<const QLineEdit*>(w)) return edit->text().toStdString();
  if (const auto* button = qobject_cast<const QAbstractButton*>(w))
    return button->text().toStdString();
  if (const auto* label = qobject_cast<const QLabel*>(w)) return label->text().toStdString();
  if (const auto* box = qobject_cast<const QGroupBox*>(w)) return box->title().toStdString();
  return CImageFiles::GetItemText(id);
}

void CMainDlg::SetItemText(int id, const std::string& text) {
  QWidget* w = GetDlgItem(id);
  const QString t = QString::fromStdString(text);
  if (auto* edit = qobject_cast<QLineEdit*>(w))
    edit->setText(t);
  else if (auto* button = qobject_cast<QAbstractButton*>(w))
    button->setText(t);
  else if (auto* label = qobject_cast<QLabel*>(w))
    label->setText(t);
  else if (auto* box = qobject_cast<QGroupBox*>(w))
    box->setTitle(t);
  else
    CImageFiles::SetItemText(id, text);
}

void CMainDlg::EnableItem(int id, bool enable) {
  if (QWidget* w = GetDlgItem(id))
    w->setEnabled(enable);
  else
    CImageFiles::EnableItem(id, enable);
}

bool CMainDlg::IsItemEnabled(int id) const {
  if (const QWidget* w = GetDlgItem(id)) return w->isEnabled();
  return CImageFiles::IsItemEnabled(id);
}

void CMainDlg::MessageBox(const std::string& text, const std::string& caption) {
  ShowMessage(QString::fromStdString(text),
              QString::fromStdString(caption.empty() ? std::string(kAppTitle) : caption));
}

std::optional<std::string> CMainDlg::FileDialog(bool bOpen) {
  const std::optional<QString> chosen = ChooseFile(bOpen);
  if (!chosen) return std::nullopt;
  return QFile::encodeName(*chosen).toStdString();
}

void CMainDlg::BeginWaitCursor() {
  ++m_nWaitCursor;
  QApplication::setOverrideCursor(Qt::WaitCursor);
}

void CMainDlg::EndWaitCursor() {
  if (m_nWaitCursor == 0) return;
  --m_nWaitCursor;
  QApplication::restoreOverrideCursor();
}

void CMainDlg::PaneChanged(int paneId) {
  const QRect client = PaneClientRect(paneId);
  if (!client.isEmpty()) update(client);
}

void CMainDlg::ReportBadEntry(int id, const std::string& message) {
  MessageBox(message, "");
  if (auto* edit = qobject_cast<QLineEdit*>(GetDlgItem(id))) {
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
  }
}
