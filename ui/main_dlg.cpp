#include "ui/main_dlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QWindow>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "engine/limits.h"
#include "imaging/decode_memory.h"
#include "imaging/image_reader.h"
#include "session/system_memory.h"
#include "ui/about_dlg.h"
#include "ui/resource.h"
#include "ui/run_methods.h"

namespace {
// Previews of the result for its pane and the viewer, at most this often while a
// run goes.
constexpr std::uint32_t kPreviewMilliseconds = 150;

RgbImage ToRgbImage(const QImage& image) {
  const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
  RgbImage out;
  out.width = rgb.width();
  out.height = rgb.height();
  out.rgb.resize(std::size_t(out.width) * std::size_t(out.height) * 3);
  for (int y = 0; y < out.height; ++y)
    std::copy(rgb.constScanLine(y), rgb.constScanLine(y) + std::size_t(out.width) * 3,
              out.At(0, y));
  return out;
}

QImage ToQImage(const RgbImage& image) {
  if (image.width <= 0 || image.height <= 0) return QImage();
  QImage out(image.width, image.height, QImage::Format_RGB888);
  for (int y = 0; y < image.height; ++y)
    std::copy(image.At(0, y), image.At(0, y) + std::size_t(image.width) * 3, out.scanLine(y));
  return out;
}

QString Number(double v, int digits = 6) { return QString::number(v, 'g', digits); }

QString SizeText(int w, int h) { return QStringLiteral("%1 x %2").arg(w).arg(h); }

// Beyond the engine's planes and grids, what a mask or an original takes a pixel
// while it loads (its plane or list, surface and picture), and what encoding a
// result takes (the picture and the encoded file).
constexpr std::uint64_t kLoadBytesPerPixel = 40;
constexpr std::uint64_t kSaveBytesPerPixel = 8;

// "not enough memory to restore a 16384 x 2441 picture (needs about 6.3 GB)", with
// what the machine can give when that is known.
QString NotEnoughMemory(const QString& verb, const QString& what, int w, int h, std::uint64_t need,
                        std::optional<std::uint64_t> room = std::nullopt) {
  QString text = QStringLiteral("not enough memory to %1 a %2 x %3 %4 (needs about %5")
                     .arg(verb)
                     .arg(w)
                     .arg(h)
                     .arg(what, QString::fromStdString(MemoryText(need)));
  if (room)
    text += QStringLiteral(", the machine can give %1").arg(QString::fromStdString(MemoryText(*room)));
  return text + QStringLiteral(")");
}

std::uint64_t Pixels(int w, int h) { return std::uint64_t(std::max(w, 0)) * std::uint64_t(std::max(h, 0)); }

FileResult MemoryFailure(const QString& text) {
  FileResult r;
  r.ok = false;
  r.message = text.toStdString();
  r.reason = "Nothing was changed: the window and its result are as they were.";
  return r;
}

bool IsFigure(int id) { return id == IDC_EDIT_PSNR_DAMAGED || id == IDC_EDIT_PSNR_RESULT; }

bool TakesFraction(int id) {
  const FieldDef* def = FindField(id);
  return id == IDC_EDIT_SETTLE || (def && def->typedFraction);
}

QString StripMnemonic(QString text) {
  for (int i = 0; i < text.size(); ++i)
    if (text[i] == QLatin1Char('&')) text.remove(i, 1);  // "&&" keeps one
  return text;
}

// Labels with their Alt mnemonics (the text shown is the template's).
struct Mnemonic {
  int id;
  const char* text;
};
const Mnemonic kMnemonics[] = {
    {IDC_BTN_LOAD_ORIGINAL, "Citra &Original"},
    {IDC_BTN_LOAD_DAMAGED, "Citra &Rusak"},
    {IDC_BTN_LOAD_MASK, "Load &Mask"},
    {IDC_BTN_RUN, "RUV&ANTA"},
    {IDC_BTN_AUTO, "&Go !!!"},
    {IDC_BTN_SAVE, "&Save"},
    {IDC_BTN_RESET, "R&eset"},
    {IDCANCEL, "E&xit"},
    {IDC_BTN_STOP, "Sto&p"},
    {IDC_BTN_VIEW, "&View..."},
    {IDC_BTN_PAINT, "Pa&int mask..."},
    {IDC_BTN_UNDO, "&Undo"},
    {IDC_BTN_REDO, "Re&do"},
    {IDC_BTN_HELP, "&Help"},
};

struct Tip {
  int id;
  const char* text;
};
const Tip kTips[] = {
    {IDC_BTN_LOAD_DAMAGED, "Citra Rusak: load the damaged photo (BMP, PNG or JPEG)  (Ctrl+O)"},
    {IDC_BTN_LOAD_MASK,
     "Load Mask: load the mask, a picture of the damaged photo's size whose non-black pixels "
     "are restored  (Ctrl+M)"},
    {IDC_BTN_LOAD_ORIGINAL,
     "Citra Original: load the undamaged photo, if you have it; it only measures the PSNR  "
     "(Ctrl+Shift+O)"},
    {IDC_BTN_RUN, "RUVANTA: restore the masked pixels with the chosen method  (Ctrl+R)"},
    {IDC_BTN_AUTO,
     "Go !!!: transport cycles, five and then more while the result still improves  (Ctrl+G)"},
    {IDC_BTN_SAVE, "Save: write the result to a new PNG or BMP file  (Ctrl+S)"},
    {IDC_BTN_RESET, "Reset: set the PSNR fields, the seconds and the pixel count to 0"},
    {IDCANCEL, "Exit: close ruvanta (asks first when a result was not saved)"},
    {IDC_EDIT_TRANSPORT_ITER, "Ruvanta: transport iterations of one RUVANTA run"},
    {IDC_EDIT_DIFFUSION_ITER, "Diffussi: diffusion iterations after each block (0: none)"},
    {IDC_EDIT_TRANSPORT_PER_DIFFUSION,
     "Diffusi/Ruvanta: transport iterations per block (0: the whole run in one block)"},
    {IDC_EDIT_DELTA_T, "DeltaT: the time step of the transport (0.01 or 0,01)"},
    {IDC_EDIT_SECONDS, "Waktu: the seconds of all runs so far (detik: seconds)"},
    {IDC_EDIT_THRESHOLD,
     "Threshold: the PSNR gain in dB that a further automatic cycle must exceed"},
    {IDC_EDIT_MASK_PIXELS, "Jumlah Pixel: the number of masked pixels"},
    {IDC_PANE_ORIGINAL,
     "Citra Original: the undamaged photo. Click to see it in the viewer; drop a picture file "
     "here to load it"},
    {IDC_PANE_DAMAGED,
     "Citra Rusak: the damaged photo. Click to see it in the viewer; drop a picture file here "
     "to load it"},
    {IDC_PANE_MASK,
     "Citra Mask: the mask. Click to see it over the damaged photo; drop a picture file here "
     "to load it"},
    {IDC_PANE_RESULT, "Citra Hasil: the result. Click to see it in the viewer"},
    {IDC_BTN_STOP, "Stop: end the run after its current sweep, keeping the result so far  (Esc)"},
    {IDC_BTN_VIEW, "View...: see the pictures whole, zoom, pan and compare them"},
    {IDC_BTN_PAINT, "Paint mask...: paint the mask over the damaged photo in the viewer"},
    {IDC_BTN_UNDO, "Undo: back to the result before the last run  (Ctrl+Z)"},
    {IDC_BTN_REDO, "Redo: the run undone last again  (Ctrl+Shift+Z)"},
    {IDC_BTN_HELP, "Help: how to restore a photo with ruvanta  (F1)"},
    {IDC_COMBO_METHOD, "Method: what RUVANTA runs"},
    {IDC_PROGRESS, "The progress of the run"},
    {IDC_CHART, "Go !!!: the PSNR (or without an original the mean change) of every cycle"},
};

// Loads and where their picture goes.
const char* PaneWhat(int paneId) {
  switch (paneId) {
    case IDC_PANE_MASK:
      return "mask";
    case IDC_PANE_ORIGINAL:
      return "original";
    default:
      return "damaged image";
  }
}
}  // namespace

CMainDlg::CMainDlg(QWidget* parent)
    : CDialog(MainDialogTemplate(), parent), m_engine(), m_files(m_engine, *this) {
  m_hIcon = LoadAppIcon();
  m_engine.SetObserver(this);
}

CMainDlg::~CMainDlg() {
  if (m_pRun) {
    m_bStopRequested = true;
    if (m_pRun->worker.joinable()) m_pRun->worker.join();
  }
  if (m_pJob && m_pJob->worker.joinable()) m_pJob->worker.join();
  if (m_pHelp) m_pHelp->removeEventFilter(this);
  if (m_pViewer) m_pViewer->removeEventFilter(this);
  delete m_pViewer;
}

bool CMainDlg::OnInitDialog() {
  CDialog::OnInitDialog();

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

  SetUpControls();
  m_pProgress = qobject_cast<QProgressBar*>(GetDlgItem(IDC_PROGRESS));
  if (m_pProgress) m_pProgress->setFormat(QString());

  SetIcon(m_hIcon);
  m_engine.SetDefaults();  // 100, 2, 15, 0.01, the others 0
  SyncFieldEdits();
  ShowFigures();
  UpdateControls();

  // The template's size, or the screen's when that is smaller (the page scrolls).
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QSize room = screen->availableGeometry().size() - QSize(16, 40);
    resize(DesignSize().boundedTo(room));
  }
  setMinimumSize(320, 240);
  if (QWidget* first = GetDlgItem(IDC_BTN_LOAD_DAMAGED)) first->setFocus(Qt::OtherFocusReason);
  return false;  // the focus is set
}

void CMainDlg::SetUpControls() {
  for (const FieldDef& def : kFields) {
    auto* edit = qobject_cast<CDigitEdit*>(GetDlgItem(def.id));
    if (!edit) continue;
    edit->SetTakesFraction(def.typedFraction);
    edit->SetFieldName(QString::fromUtf8(def.label));
    edit->SetMaximum(def.kind == FieldKind::kInt ? qulonglong(INT_MAX) : qulonglong(UINT_MAX));
    edit->setAccessibleName(QString::fromUtf8(def.label));  // its caption, for a screen reader
  }
  // The measured figures are shown, not typed.
  for (int id : {int(IDC_EDIT_PSNR_DAMAGED), int(IDC_EDIT_PSNR_RESULT), int(IDC_EDIT_SECONDS),
                 int(IDC_EDIT_MASK_PIXELS)})
    if (auto* edit = qobject_cast<QLineEdit*>(GetDlgItem(id))) {
      edit->setReadOnly(true);
      edit->setFocusPolicy(Qt::ClickFocus);
    }
  if (auto* settle = qobject_cast<CDigitEdit*>(GetDlgItem(IDC_EDIT_SETTLE))) {
    settle->SetFieldName(QStringLiteral("Settle"));
    settle->setAccessibleName(QStringLiteral("Settle"));
    settle->setText(QString::fromStdString(FormatFloatField(float(kDefaultSettleLevel))));
    settle->setToolTip(QStringLiteral(
        "Settle: without an original, Go !!! checks itself on known pixels hidden under copies "
        "of the mask, and also runs further cycles while the mean change of the masked values "
        "over a cycle is above this level"));
  }
  for (QWidget* w : Controls())
    if (auto* edit = qobject_cast<CDigitEdit*>(w))
      connect(edit, &CDigitEdit::Refused, this, [this](const QString& hint) { SetStatus(hint); });
  // A time step agreed to is asked about again once it is typed anew.
  if (auto* dt = qobject_cast<QLineEdit*>(GetDlgItem(IDC_EDIT_DELTA_T)))
    connect(dt, &QLineEdit::textEdited, this, [this] { m_confirmedTimeStep.reset(); });

  m_pMethod = qobject_cast<QComboBox*>(GetDlgItem(IDC_COMBO_METHOD));
  if (m_pMethod) {
    for (const RunMethodEntry& m : RunMethods()) {
      m_pMethod->addItem(QString::fromUtf8(m.label), QString::fromUtf8(m.name));
      m_pMethod->setItemData(m_pMethod->count() - 1, QString::fromUtf8(m.tip), Qt::ToolTipRole);
    }
    m_pMethod->setAccessibleName(QStringLiteral("Method"));
    connect(m_pMethod, &QComboBox::currentIndexChanged, this, [this] { UpdateControls(); });
  }
  if (auto* label = qobject_cast<QLabel*>(GetDlgItem(IDC_LABEL_METHOD))) {
    label->setText(QStringLiteral("Me&thod"));
    label->setTextFormat(Qt::AutoText);
    label->setBuddy(m_pMethod);
  }

  for (const Mnemonic& m : kMnemonics)
    if (auto* button = qobject_cast<QAbstractButton*>(GetDlgItem(m.id))) {
      button->setText(QString::fromUtf8(m.text));
      button->setAccessibleName(StripMnemonic(button->text()));
    }
  for (const Tip& t : kTips)
    if (QWidget* w = GetDlgItem(t.id)) w->setToolTip(QString::fromUtf8(t.text));
  // The panes by name, for a screen reader (and for driving the window from outside).
  for (int id :
       {int(IDC_PANE_ORIGINAL), int(IDC_PANE_DAMAGED), int(IDC_PANE_MASK), int(IDC_PANE_RESULT)})
    if (QWidget* pane = GetDlgItem(id))
      pane->setAccessibleName(id == IDC_PANE_RESULT
                                  ? QStringLiteral("result pane")
                                  : QString::fromUtf8(PaneWhat(id)) + QStringLiteral(" pane"));

  // The keyboard goes through the controls in the order of the layout: the loads,
  // the mask, the iterations, DeltaT, the run and its method, the automatic mode,
  // Save, then the strip below, Reset and Exit.
  const int order[] = {IDC_BTN_LOAD_ORIGINAL,
                       IDC_BTN_LOAD_DAMAGED,
                       IDC_BTN_LOAD_MASK,
                       IDC_EDIT_TRANSPORT_ITER,
                       IDC_EDIT_DIFFUSION_ITER,
                       IDC_EDIT_TRANSPORT_PER_DIFFUSION,
                       IDC_EDIT_DELTA_T,
                       IDC_BTN_RUN,
                       IDC_COMBO_METHOD,
                       IDC_EDIT_THRESHOLD,
                       IDC_BTN_AUTO,
                       IDC_BTN_SAVE,
                       IDC_BTN_STOP,
                       IDC_BTN_VIEW,
                       IDC_EDIT_SETTLE,
                       IDC_BTN_PAINT,
                       IDC_BTN_UNDO,
                       IDC_BTN_REDO,
                       IDC_BTN_HELP,
                       IDC_BTN_RESET,
                       IDCANCEL};
  QWidget* previous = nullptr;
  for (int id : order) {
    QWidget* w = GetDlgItem(id);
    if (!w) continue;
    if (previous) setTabOrder(previous, w);
    previous = w;
  }

  const struct {
    QKeySequence key;
    int id;
  } keys[] = {{QKeySequence(Qt::CTRL | Qt::Key_O), IDC_BTN_LOAD_DAMAGED},
              {QKeySequence(Qt::CTRL | Qt::Key_M), IDC_BTN_LOAD_MASK},
              {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O), IDC_BTN_LOAD_ORIGINAL},
              {QKeySequence(Qt::CTRL | Qt::Key_R), IDC_BTN_RUN},
              {QKeySequence(Qt::CTRL | Qt::Key_G), IDC_BTN_AUTO},
              {QKeySequence(Qt::CTRL | Qt::Key_S), IDC_BTN_SAVE},
              {QKeySequence(Qt::CTRL | Qt::Key_Z), IDC_BTN_UNDO},
              {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), IDC_BTN_REDO},
              {QKeySequence(Qt::CTRL | Qt::Key_Y), IDC_BTN_REDO},
              {QKeySequence(Qt::Key_F1), IDC_BTN_HELP}};
  for (const auto& k : keys) {
    auto* shortcut = new QShortcut(k.key, this);
    const int id = k.id;
    connect(shortcut, &QShortcut::activated, this, [this, id] {
      auto* button = qobject_cast<QAbstractButton*>(GetDlgItem(id));
      if (button && button->isEnabled()) button->click();
    });
  }
}

void CMainDlg::OnCommand(int id) {
  // A click that reaches a button while a run goes (queued before the buttons
  // were disabled) changes nothing; Stop, the viewer and help are what a run allows.
  if (IsBusy() && id != IDC_BTN_STOP && id != IDC_BTN_VIEW && id != IDC_BTN_HELP) return;
  switch (id) {
    case IDC_BTN_LOAD_DAMAGED:
      LoadCommand(IDC_PANE_DAMAGED);
      break;
    case IDC_BTN_LOAD_MASK:
      LoadCommand(IDC_PANE_MASK);
      break;
    case IDC_BTN_RUN:
      StartRun(false);
      break;
    case IDC_BTN_LOAD_ORIGINAL:
      LoadCommand(IDC_PANE_ORIGINAL);
      break;
    case IDC_BTN_RESET:
      OnReset();
      break;
    case IDC_BTN_AUTO:
      StartRun(true);
      break;
    case IDC_BTN_SAVE:
      SaveCommand();
      break;
    case IDC_BTN_STOP:
      RequestStop();
      break;
    case IDC_BTN_VIEW:
      OpenViewer(m_files.HasResult() ? ViewerPicture::kResult : ViewerPicture::kDamaged, false);
      break;
    case IDC_BTN_PAINT:
      OpenViewer(ViewerPicture::kDamaged, true);
      break;
    case IDC_BTN_UNDO:
      UndoRun();
      break;
    case IDC_BTN_REDO:
      RedoRun();
      break;
    case IDC_BTN_HELP:
      ShowHelp();
      break;
    default:
      break;
  }
  UpdateControls();
}

void CMainDlg::OnReset() {
  CDialogFields& f = m_engine.m_fields;
  f.m_fPsnrDamaged = 0;
  f.m_fPsnrResult = 0;
  f.m_fSeconds = 0;
  f.m_nTotalIter = 0;
  f.m_nMaskPixels = 0;
  m_estimatedPsnr = std::numeric_limits<double>::quiet_NaN();
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

void CMainDlg::OnCancel() {
  if (m_pJob) {
    // A picture being written is finished first; the window closes after it.
    m_bCloseAfterRun = true;
    SetStatus(QStringLiteral("Closing once the picture is read or written..."));
    return;
  }
  if (IsRunning()) {
    if (!AskQuestion(QStringLiteral("A restoration is running. Stop it and close ruvanta?"),
                     QString(), QStringLiteral("Stop and close"), QStringLiteral("Keep running")))
      return;
    // The run ends at its next sweep or cycle; waiting for it here would freeze
    // the window, so FinishRun comes back here instead.
    m_bCloseAfterRun = true;
    RequestStop();
    return;
  }
  if (m_files.ResultUnsaved() &&
      !AskQuestion(QStringLiteral("The result has not been saved. Close ruvanta and discard it?"),
                   QString(), QStringLiteral("Discard"), QStringLiteral("Cancel")))
    return;
  // Discarded, or saved already: nothing is left to recover.
  DropRecovery();
  if (m_pViewer) m_pViewer->close();
  if (m_pHelp) m_pHelp->close();
  EndDialog(IDCANCEL);
}

void CMainDlg::keyPressEvent(QKeyEvent* event) {
  // Escape stops a run; otherwise it does nothing, since ending the program at
  // once on a key could lose a result.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    if (IsRunning()) RequestStop();
    event->accept();
    return;
  }
  CDialog::keyPressEvent(event);
}

bool CMainDlg::eventFilter(QObject* watched, QEvent* event) {
  // Without a window manager nothing else gives the keys back when a window closes.
  // Watched are the viewer and the help page alone (compared as objects: a window
  // being destroyed is no longer of its own class).
  if (event->type() == QEvent::Hide && watched->isWidgetType() && isVisible()) activateWindow();
  return CDialog::eventFilter(watched, event);
}

void CMainDlg::contextMenuEvent(QContextMenuEvent* event) {
  if (m_pSysMenu) m_pSysMenu->exec(event->globalPos());
  event->accept();
}

// --- panes ----------------------------------------------------------------------

QImage CMainDlg::SurfaceImage(const ImageSurface& surface) { return ToQImage(surface.picture); }

const ImageSurface* CMainDlg::PaneSurface(int paneId) const {
  return paneId == IDC_PANE_ORIGINAL  ? &m_files.m_surfOriginal
         : paneId == IDC_PANE_DAMAGED ? &m_files.m_surfDamaged
         : paneId == IDC_PANE_RESULT  ? &m_files.m_surfResult
         : paneId == IDC_PANE_MASK    ? &m_files.m_surfMask
                                      : nullptr;
}

QRect CMainDlg::PictureRect(int paneId) const {
  const ImageSurface* surface = PaneSurface(paneId);
  const QRect client = PaneClientRect(paneId);
  if (!surface || surface->bLoaded != 1 || client.isEmpty() || surface->nWidth <= 0 ||
      surface->nHeight <= 0)
    return QRect();
  // Whole, aspect kept, never enlarged: from the pane's top-left corner.
  const double scale = std::min(
      {1.0, double(client.width()) / surface->nWidth, double(client.height()) / surface->nHeight});
  const int w = std::max(1, int(std::floor(surface->nWidth * scale + 1e-9)));
  const int h = std::max(1, int(std::floor(surface->nHeight * scale + 1e-9)));
  return QRect(client.topLeft(), QSize(w, h));
}

void CMainDlg::OnPaint() {
  Default();
  m_paintedPanes.clear();
  QPainter painter(Client());
  const struct {
    int id;
    const ImageSurface* surface;
  } panes[] = {
      {IDC_PANE_ORIGINAL, &m_files.m_surfOriginal},
      {IDC_PANE_DAMAGED, &m_files.m_surfDamaged},
      {IDC_PANE_RESULT, &m_files.m_surfResult},
      {IDC_PANE_MASK, &m_files.m_surfMask},
  };
  for (const auto& pane : panes) {
    if (pane.surface->bLoaded != 1) continue;
    const QRect target = PictureRect(pane.id);
    if (target.isEmpty()) continue;
    PaneCache& cache = m_panes[pane.id];
    const bool preview = pane.id == IDC_PANE_RESULT && m_pRun && !m_resultPreview.isNull();
    const QImage& source = preview ? m_resultPreview : cache.full;
    if (source.size() == target.size()) {
      painter.drawImage(target.topLeft(), source);
    } else {
      // Scaled once per size (and per preview), not at every repaint.
      if (preview || cache.scaled.size() != target.size())
        cache.scaled =
            source.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
      painter.drawImage(target.topLeft(), cache.scaled);
      if (preview) cache.scaled = QImage();
    }
    m_paintedPanes.push_back(pane.id);
  }
  PaintChart(painter);
}

bool CMainDlg::ClientEvent(QEvent* event) {
  const int panes[] = {IDC_PANE_ORIGINAL, IDC_PANE_DAMAGED, IDC_PANE_MASK, IDC_PANE_RESULT};
  const auto paneAt = [this, &panes](QPoint pos) {
    for (int id : panes)
      if (QWidget* pane = GetDlgItem(id); pane && pane->geometry().contains(pos)) return id;
    return 0;
  };
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
      auto* e = static_cast<QMouseEvent*>(event);
      if (e->button() != Qt::LeftButton) return false;
      const QPoint pos = e->position().toPoint();
      for (int id : panes) {
        const QRect shown = PictureRect(id);
        if (!shown.contains(pos)) continue;
        const ImageSurface& s = id == IDC_PANE_ORIGINAL ? m_files.m_surfOriginal
                                : id == IDC_PANE_RESULT ? m_files.m_surfResult
                                : id == IDC_PANE_MASK   ? m_files.m_surfMask
                                                        : m_files.m_surfDamaged;
        const QPointF at((pos.x() - shown.left() + 0.5) * s.nWidth / shown.width(),
                         (pos.y() - shown.top() + 0.5) * s.nHeight / shown.height());
        ViewerPicture picture = id == IDC_PANE_ORIGINAL ? ViewerPicture::kOriginal
                                : id == IDC_PANE_RESULT ? ViewerPicture::kResult
                                                        : ViewerPicture::kDamaged;
        if (id == IDC_PANE_RESULT && !m_files.HasResult()) picture = ViewerPicture::kDamaged;
        if (id == IDC_PANE_MASK && m_files.m_surfDamaged.bLoaded != 1) return true;
        OpenViewer(picture, false, &at);
        if (id == IDC_PANE_MASK && m_pViewer) m_pViewer->Canvas()->SetOverlay(true);
        return true;
      }
      return false;
    }
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* e = static_cast<QDropEvent*>(event);
      const QList<QUrl> urls = e->mimeData()->urls();
      if (!IsBusy() && urls.size() == 1 && urls.front().isLocalFile()) {
        e->acceptProposedAction();
        return true;
      }
      e->ignore();
      return true;
    }
    case QEvent::Drop: {
      auto* e = static_cast<QDropEvent*>(event);
      const QList<QUrl> urls = e->mimeData()->urls();
      if (IsBusy() || urls.size() != 1 || !urls.front().isLocalFile()) return false;
      e->acceptProposedAction();
      const int pane = paneAt(e->position().toPoint());
      const QString path = urls.front().toLocalFile();
      // Out of the drop's own handling, so the source is not kept waiting.
      QMetaObject::invokeMethod(
          this, [this, pane, path] { OpenFile(pane ? pane : IDC_PANE_DAMAGED, path); },
          Qt::QueuedConnection);
      return true;
    }
    default:
      return false;
  }
}

// The automatic mode's figure per measured cycle: the PSNR of the result, or
// without an original the mean change, scaled to the chart's height.
void CMainDlg::PaintChart(QPainter& painter) {
  const QRect area = PaneClientRect(IDC_CHART).adjusted(2, 2, -2, -2);
  if (area.isEmpty()) return;
  painter.fillRect(area, Qt::white);
  const QString title = m_bChartSettle ? QStringLiteral("mean change per cycle")
                        : m_bChartHeldOut ? QStringLiteral("held-out PSNR per cycle (dB)")
                                          : QStringLiteral("PSNR per cycle (dB)");
  painter.setPen(Qt::darkGray);
  painter.setFont(font());
  if (m_chart.empty()) {
    painter.drawText(area, Qt::AlignCenter, QStringLiteral("Go !!! draws the ") + title + " here");
    return;
  }
  double lo = m_chart.front(), hi = m_chart.front();
  for (double v : m_chart) {
    if (!std::isfinite(v)) continue;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  if (!std::isfinite(lo) || !std::isfinite(hi)) return;
  if (hi - lo < 1e-9) {
    hi += 0.5;
    lo -= 0.5;
  }
  const QString labels = title + QStringLiteral(": ") + Number(m_chart.back(), 5) +
                         QStringLiteral("  (") + Number(lo, 4) + QStringLiteral(" .. ") +
                         Number(hi, 4) + QStringLiteral(")");
  painter.drawText(area.adjusted(4, 0, -4, 0), Qt::AlignTop | Qt::AlignRight, labels);
  // Below the label's line: the newest values, the highest while the PSNR rises, would
  // run through it and hide it. The pen is wider than a pixel: one row more each way.
  const QRect plot = area.adjusted(0, painter.fontMetrics().height() + 1, 0, -1);
  if (plot.height() < 2) return;
  const double n = double(std::max<std::size_t>(m_chart.size() - 1, 1));
  QPainterPath path;
  for (std::size_t i = 0; i < m_chart.size(); ++i) {
    const double v = std::isfinite(m_chart[i]) ? m_chart[i] : hi;
    const QPointF p(plot.left() + (plot.width() - 1) * double(i) / n,
                    plot.bottom() - (plot.height() - 1) * (v - lo) / (hi - lo));
    if (i == 0)
      path.moveTo(p);
    else
      path.lineTo(p);
  }
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setPen(QPen(QColor(0, 90, 200), 1.5));
  painter.drawPath(path);
  painter.setRenderHint(QPainter::Antialiasing, false);
}

// --- runs ----------------------------------------------------------------------

const RunMethodEntry& CMainDlg::Method() const {
  const QString name = m_pMethod ? m_pMethod->currentData().toString() : QString();
  return FindRunMethod(name.toUtf8().constData());
}

QString CMainDlg::MethodName() const { return QString::fromUtf8(Method().name); }

void CMainDlg::SetMethod(const QString& name) {
  if (!m_pMethod) return;
  const int index = m_pMethod->findData(name);
  if (index >= 0) m_pMethod->setCurrentIndex(index);
}

void CMainDlg::StartRun(bool automatic) {
  const RunMethodEntry& method = Method();
  if (IsBusy() || (automatic && !method.hasAutomatic)) return;
  if (!m_engine.CanRun()) {
    MessageBox(CRestoreEngine::kNotLoadedText, "not valid");
    return;
  }
  // Every edit the run will read must hold a number: one message, naming it.
  if (const auto problem = FirstBadField(*this)) {
    MessageBox(problem->message, "");
    FocusEdit(problem->id);
    return;
  }
  if (std::strcmp(method.name, "transport") == 0 && !TimeStepAccepted()) return;
  const bool settling = automatic && !m_engine.HasOriginal();
  AutoRule autoRule = m_engine.AutoRuleWithoutOriginal();
  double settleLevel = m_engine.SettleLevel();
  if (settling) {
    float level = 0;
    if (!ParseFloatField(GetItemText(IDC_EDIT_SETTLE), &level) || !std::isfinite(level) ||
        level < 0) {
      MessageBox("Settle: please enter a number, 0 or more.", "");
      FocusEdit(IDC_EDIT_SETTLE);
      return;
    }
    settleLevel = double(level);
    // Known pixels hidden under copies of the mask stand in for an original; the
    // settle level keeps a large hole going while its middle still fills.
    autoRule = AutoRule::kHeldOut;
  }
  // The held-out copies hold an engine each: without room for them the settle rule
  // ends Go !!! and a run goes without its estimate.
  const std::optional<std::uint64_t> room = ReadMemoryFigures().Room();
  const bool heldOutRoom = !room || m_engine.HeldOutBytes() <= *room;
  if (settling && !heldOutRoom) autoRule = AutoRule::kSettle;
  m_engine.SetAutoRule(autoRule, settleLevel);
  // The state before the first run of this mask is the first undo step.
  if (m_history.empty()) {
    m_history.push_back(CaptureStep());
    m_historyAt = 0;
  }
  auto run = std::make_unique<RunState>();
  run->automatic = automatic;
  run->settling = settling;
  run->method = &method;
  run->focus = focusWidget();
  // The run starts from the fields as the edits read (every one converts).
  UpdateData(true);
  TakeFieldSettings(m_engine.ShownFields(), &run->settings);
  run->settings.method = method.method;
  run->settings.automatic = automatic;
  run->settings.settleLevel = m_engine.SettleLevel();
  run->settings.ruleWithoutOriginal = m_engine.AutoRuleWithoutOriginal();
  run->settings.threads = m_engine.Threads();
  run->startTick = MonotonicTickCount();
  m_bStopRequested = false;
  if (automatic) {
    m_chart.clear();
    m_bChartSettle = false;  // the held-out rule charts its PSNR (a fallback to settling, its change)
    m_bChartHeldOut = settling;
  }
  if (m_pProgress) {
    // The run's count is the one typed in the edit: the field is read by the run.
    std::int32_t planned = 0;
    ParseIntField(GetItemText(IDC_EDIT_TRANSPORT_ITER), &planned);
    m_pProgress->setFormat(QString());
    m_pProgress->setRange(0, automatic || !method.stoppable ? 0 : std::max(1, planned));
    m_pProgress->setValue(0);
  }
  QString rule;
  if (automatic)
    rule = settling
               ? QStringLiteral(
                     "Automatic mode without an original: while known pixels hidden under "
                     "copies of the mask gain more than ") +
                     QString::fromStdString(GetItemText(IDC_EDIT_THRESHOLD)) +
                     QStringLiteral(" dB, or the mean change is above ") +
                     Number(m_engine.SettleLevel())
               : QStringLiteral("Automatic mode: while the PSNR gain is above ") +
                     QString::fromStdString(GetItemText(IDC_EDIT_THRESHOLD)) + QStringLiteral(" dB");
  else
    rule = method.stoppable
               ? QStringLiteral("Running")
               : QStringLiteral("Running the %1 fill").arg(QString::fromUtf8(method.label));
  if (m_files.OriginalStale())
    rule = QString::fromStdString(m_files.OriginalMismatch()) +
           QStringLiteral(": no PSNR against it. ") + rule;
  SetStatus(rule + QStringLiteral("..."));
  m_pRun = std::move(run);
  UpdateControls();
  QApplication::setOverrideCursor(Qt::BusyCursor);
  m_pRun->estimate = !m_engine.HasOriginal() && heldOutRoom;
  m_pRun->settings.estimate = m_pRun->estimate;
  m_pRun->worker = std::thread([this] {
    RunState& r = *m_pRun;
    try {
      r.outcome = Restore(m_engine, r.settings);
      if (r.outcome.end == RunEnd::kRefused && r.outcome.outOfMemory) throw std::bad_alloc();
      r.estimatedPsnr = r.outcome.estimatedPsnr;
      // A plain transport run estimates itself on held-out copies of its mask.
      if (r.estimate && r.settings.method == RunMethod::kTransport && !r.settings.automatic &&
          r.outcome.end == RunEnd::kDone)
        r.estimatedPsnr = m_engine.EstimateRunPsnr();
    } catch (const std::bad_alloc&) {
      // Whatever the run had done is undone when it is joined.
      r.outOfMemory = true;
    }
    QMetaObject::invokeMethod(
        this, [this] { FinishRun(); }, Qt::QueuedConnection);
  });
}

void CMainDlg::FinishRun() {
  if (!m_pRun) return;
  if (m_pRun->worker.joinable()) m_pRun->worker.join();
  std::unique_ptr<RunState> run = std::move(m_pRun);
  m_resultPreview = QImage();
  QApplication::restoreOverrideCursor();
  if (run->outOfMemory) {
    // The edits keep what they showed (the run's copy is dropped) and the masked
    // pixels, figures and result pane go back to the last undo step: the state
    // before this run.
    if (m_historyAt < m_history.size()) RestoreStep(m_history[m_historyAt]);
    const QString text =
        NotEnoughMemory(QStringLiteral("restore"), QStringLiteral("picture"), m_engine.Width(),
                        m_engine.Height(), kBytesPerPixelBudget * Pixels(m_engine.Width(), m_engine.Height()));
    SetStatus(QStringLiteral("The run stopped: ") + text + QStringLiteral(". The result before it is kept."));
    if (m_pProgress) {
      m_pProgress->setFormat(QString());
      m_pProgress->setRange(0, 1);
      m_pProgress->setValue(0);
    }
    UpdateControls();
    RefreshViewer();
    Client()->update();
    if (run->focus && run->focus->isEnabled() && run->focus->isVisible())
      run->focus->setFocus(Qt::OtherFocusReason);
    MessageBox(text.toStdString() + "\nThe run was not done; the result before it is kept.", "");
    if (m_bCloseAfterRun) {
      m_bCloseAfterRun = false;
      OnCancel();
    }
    return;
  }
  const bool ran = run->outcome.Ran();
  SyncFieldEdits();
  if (ran) m_files.ShowResult();
  const CDialogFields& f = m_engine.m_fields;
  const bool stopped = run->outcome.end == RunEnd::kStopped;
  const QString cycles = QString::number(run->lastCycle);
  QString outcome;
  if (!run->automatic) {
    outcome = stopped ? QStringLiteral("Stopped: the result so far is shown; ")
              : run->method->stoppable
                  ? QStringLiteral("Done: ")
                  : QStringLiteral("Done (%1): ").arg(QString::fromUtf8(run->method->label));
    outcome += QStringLiteral("%1 iterations in all, %2 s.")
                   .arg(f.m_nTotalIter)
                   .arg(Number(double(f.m_fSeconds)));
  } else if (stopped) {
    outcome = QStringLiteral("Automatic mode stopped by you after cycle ") + cycles +
              QStringLiteral("; the result so far is shown.");
  } else if (run->settling && run->outcome.rule == AutoRule::kHeldOut) {
    outcome = run->outcome.end == RunEnd::kAtCap
                  ? QStringLiteral("Automatic mode: stopped at the %1-cycle cap, after cycle %2.")
                        .arg(kMaxSettleCycles)
                        .arg(cycles)
                  : QStringLiteral("Automatic mode: stopped after cycle %1, when the held-out "
                                   "PSNR no longer rose and the result had settled.")
                        .arg(cycles);
  } else if (run->settling) {
    const QString change = Number(m_chart.empty() ? 0.0 : m_chart.back(), 3);
    const QString level = Number(m_engine.SettleLevel());
    outcome =
        run->outcome.end == RunEnd::kAtCap
            ? QStringLiteral("Not settled after cycle %1: the mean change was still %2 (above %3).")
                  .arg(cycles, change, level)
            : QStringLiteral("Settled after cycle %1: the mean change was %2 (at most %3).")
                  .arg(cycles, change, level);
  } else {
    outcome = QStringLiteral("Automatic mode: stopped after cycle ") + cycles +
              QStringLiteral(", when the PSNR gain was no longer above ") +
              Number(double(f.m_fThreshold)) + QStringLiteral(" dB.");
  }
  if (ran) {
    m_estimatedPsnr = run->estimatedPsnr;
    if (std::isfinite(m_estimatedPsnr))
      outcome += QStringLiteral(" Estimate: %1 dB.")
                     .arg(QString::number(m_estimatedPsnr, 'f', 1));
    ShowFigures();
  }
  if (m_files.OriginalStale())
    outcome = QString::fromStdString(m_files.OriginalMismatch()) +
              QStringLiteral(": no PSNR against it. ") + outcome;
  SetStatus(outcome);
  if (m_pProgress) {
    m_pProgress->setFormat(QString());
    if (m_pProgress->maximum() == 0) m_pProgress->setRange(0, 1);
    if (!stopped) m_pProgress->setValue(m_pProgress->maximum());
  }
  if (ran) {
    PushStep();
    KeepForRecovery();
  }
  UpdateControls();
  RefreshViewer();
  Client()->update();
  // After a run the focus is where it was when the run started.
  if (run->focus && run->focus->isEnabled() && run->focus->isVisible())
    run->focus->setFocus(Qt::OtherFocusReason);
  if (!ran) MessageBox(run->outcome.message, run->outcome.caption);
  if (m_bCloseAfterRun) {
    m_bCloseAfterRun = false;
    OnCancel();
  }
}

void CMainDlg::RequestStop() {
  if (IsRunning() && m_pRun->method->stoppable) {
    m_bStopRequested = true;
    SetStatus(QStringLiteral("Stopping: the result so far will be kept..."));
  }
}

void CMainDlg::WaitForRun() {
  while (m_pRun || m_pJob) {
    if (m_pRun && m_pRun->worker.joinable()) m_pRun->worker.join();
    if (m_pJob && m_pJob->worker.joinable()) m_pJob->worker.join();
    // The worker's last act is to queue FinishRun (FinishJob); run it now.
    QCoreApplication::sendPostedEvents(this);
    if (m_pRun) FinishRun();
    if (m_pJob) FinishJob();
  }
}

void CMainDlg::Progress(const RunProgress& progress) {
  // On the worker thread, between blocks or cycles: g_work is not changing now.
  QImage preview;
  const std::uint32_t now = MonotonicTickCount();
  if (now - m_pRun->lastPreviewTick >= m_pRun->previewGap) {
    RgbImage picture;
    picture.width = m_engine.Width();
    picture.height = m_engine.Height();
    picture.rgb.resize(std::size_t(picture.width) * std::size_t(picture.height) * 3);
    m_engine.ResultPixels(picture.rgb.data(), std::size_t(picture.width) * 3);
    preview = ToQImage(picture);
    // A preview of a large picture takes long enough to slow the run: at most a
    // tenth of the time goes to them.
    m_pRun->lastPreviewTick = MonotonicTickCount();
    m_pRun->previewGap = std::max(kPreviewMilliseconds, 10 * (m_pRun->lastPreviewTick - now));
  }
  QMetaObject::invokeMethod(
      this, [this, progress, preview] { ShowProgress(progress, preview); }, Qt::QueuedConnection);
}

void CMainDlg::ShowProgress(const RunProgress& p, const QImage& preview) {
  if (!m_pRun) return;
  QString text;
  if (!p.automatic) {
    if (m_pProgress) m_pProgress->setValue(std::min(p.iterationsDone, m_pProgress->maximum()));
    text = QStringLiteral("Running: %1 of %2 iterations")
               .arg(p.iterationsDone)
               .arg(p.iterationsPlanned);
  } else {
    m_pRun->lastCycle = p.cycle;
    if (p.measured) {
      if (p.settling && !m_bChartSettle) {
        m_bChartSettle = true;
        m_bChartHeldOut = false;
      }
      m_chart.push_back(p.settling ? p.meanChange : double(p.psnr));
      Client()->update(PaneClientRect(IDC_CHART));
    }
    text = QStringLiteral("Automatic: cycle %1").arg(p.cycle);
    if (p.measured)
      text += p.settling  ? QStringLiteral(", mean change ") + Number(p.meanChange, 4)
              : p.heldOut ? QStringLiteral(", held-out PSNR ") + Number(double(p.psnr)) +
                                QStringLiteral(" dB")
                          : QStringLiteral(", PSNR ") + Number(double(p.psnr)) + QStringLiteral(" dB");
    if (m_pProgress) m_pProgress->setFormat(text);
  }
  if (!m_bStopRequested) SetStatus(text);
  if (preview.isNull()) return;
  m_resultPreview = preview;
  Client()->update(PaneClientRect(IDC_PANE_RESULT));
  if (m_pViewer) m_pViewer->SetPicture(ViewerPicture::kResult, preview);
}

QString CMainDlg::StatusText() const { return m_status; }

void CMainDlg::SetStatus(const QString& text) {
  m_status = text;
  if (auto* label = qobject_cast<QLabel*>(GetDlgItem(IDC_STATUS))) {
    label->setText(text);
    label->setToolTip(text);  // whole, where the line is too short for it
  }
}

void CMainDlg::UpdateControls() {
  const bool busy = IsBusy();
  const bool damaged = m_files.m_surfDamaged.bLoaded == 1;
  const auto enable = [this](int id, bool on) {
    if (QWidget* w = GetDlgItem(id)) w->setEnabled(on);
  };
  for (int id : {int(IDC_BTN_LOAD_DAMAGED), int(IDC_BTN_LOAD_MASK), int(IDC_BTN_LOAD_ORIGINAL),
                 int(IDC_BTN_RUN), int(IDC_BTN_RESET), int(IDC_BTN_SAVE), int(IDC_EDIT_SETTLE),
                 int(IDC_COMBO_METHOD)})
    enable(id, !busy);
  enable(IDC_BTN_AUTO, !busy && Method().hasAutomatic);
  for (const FieldDef& def : kFields)
    if (def.id != IDC_EDIT_TOTAL_ITER) enable(def.id, !busy);  // 1018 stays disabled
  enable(IDC_BTN_STOP, IsRunning() && m_pRun->method->stoppable);
  enable(IDC_BTN_VIEW, damaged || m_files.m_surfOriginal.bLoaded == 1);
  enable(IDC_BTN_PAINT, damaged && !busy);
  enable(IDC_BTN_UNDO, !busy && CanUndoRun());
  enable(IDC_BTN_REDO, !busy && CanRedoRun());
  if (auto* go = GetDlgItem(IDC_BTN_AUTO))
    go->setToolTip(Method().hasAutomatic
                       ? QStringLiteral("Go !!!: transport cycles, five and then more while the "
                                        "result still improves  (Ctrl+G)")
                       : QStringLiteral("Go !!!: the automatic mode runs the transport method "
                                        "only; choose transport under Method"));
  if (m_pMethod)
    m_pMethod->setToolTip(QStringLiteral("Method: ") + QString::fromUtf8(Method().tip));
}

void CMainDlg::FocusEdit(int id) {
  if (auto* edit = qobject_cast<QLineEdit*>(GetDlgItem(id))) {
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
  }
}

void CMainDlg::ShowFigures() {
  const bool measured = m_engine.HasOriginal();
  for (int id : {int(IDC_EDIT_PSNR_DAMAGED), int(IDC_EDIT_PSNR_RESULT)}) {
    auto* edit = qobject_cast<QLineEdit*>(GetDlgItem(id));
    if (!edit) continue;
    const auto it = m_figureTexts.find(id);
    const QString value =
        it == m_figureTexts.end() ? QStringLiteral("0") : QString::fromStdString(it->second);
    const QString what = id == IDC_EDIT_PSNR_DAMAGED ? QStringLiteral("of the damaged photo")
                                                     : QStringLiteral("of the result");
    if (!measured && id == IDC_EDIT_PSNR_RESULT && std::isfinite(m_estimatedPsnr)) {
      edit->setText(QStringLiteral("est. %1 dB").arg(QString::number(m_estimatedPsnr, 'f', 1)));
      edit->setCursorPosition(0);  // the narrow field shows that this is an estimate
      edit->setToolTip(QStringLiteral(
          "Estimated PSNR of the restored pixels, from known pixels the fill hid under shifted "
          "copies of the mask and restored; load the original to measure"));
      continue;
    }
    edit->setText(measured ? value : QStringLiteral("-"));
    edit->setToolTip(measured ? QStringLiteral("PSNR %1 against the original, in dB").arg(what)
                              : QStringLiteral("PSNR %1: load the original to measure").arg(what));
  }
}

// --- undo of runs ------------------------------------------------------------------

CMainDlg::RunStep CMainDlg::CaptureStep() const {
  RunStep step;
  const int n = m_engine.m_nMaskCount;
  step.masked.resize(std::size_t(n) * 3);
  for (int k = 0; k < n; ++k) {
    const double* v = m_engine.g_work.At(m_engine.m_pMaskList[k].x, m_engine.m_pMaskList[k].y);
    std::copy(v, v + 3, step.masked.begin() + std::ptrdiff_t(k) * 3);
  }
  const CDialogFields& f = m_engine.m_fields;
  step.psnrDamaged = f.m_fPsnrDamaged;
  step.psnrResult = f.m_fPsnrResult;
  step.seconds = f.m_fSeconds;
  step.totalIter = f.m_nTotalIter;
  step.hasResult = m_files.HasResult();
  step.status = m_status;
  step.chart = m_chart;
  step.chartSettle = m_bChartSettle;
  step.chartHeldOut = m_bChartHeldOut;
  step.estimatedPsnr = m_estimatedPsnr;
  return step;
}

void CMainDlg::RestoreStep(const RunStep& step) {
  // A run changes the masked pixels alone, so they are the whole work plane's change.
  const int n = std::min<int>(m_engine.m_nMaskCount, int(step.masked.size() / 3));
  for (int k = 0; k < n; ++k) {
    double* v = m_engine.g_work.At(m_engine.m_pMaskList[k].x, m_engine.m_pMaskList[k].y);
    std::copy(step.masked.begin() + std::ptrdiff_t(k) * 3,
              step.masked.begin() + std::ptrdiff_t(k) * 3 + 3, v);
  }
  CDialogFields& f = m_engine.m_fields;
  f.m_fPsnrDamaged = step.psnrDamaged;
  f.m_fPsnrResult = step.psnrResult;
  f.m_fSeconds = step.seconds;
  f.m_nTotalIter = step.totalIter;
  // Only the figures' edits: what is typed in the others stays.
  for (int id : {int(IDC_EDIT_PSNR_DAMAGED), int(IDC_EDIT_PSNR_RESULT), int(IDC_EDIT_SECONDS),
                 int(IDC_EDIT_TOTAL_ITER)})
    SetItemText(id, FormatField(*FindField(id), f));
  if (step.hasResult)
    m_files.ShowResult();
  else
    m_files.ClearResult();
  m_chart = step.chart;
  m_estimatedPsnr = step.estimatedPsnr;
  ShowFigures();
  m_bChartSettle = step.chartSettle;
  m_bChartHeldOut = step.chartHeldOut;
  RefreshViewer();
  Client()->update();
}

void CMainDlg::PushStep() {
  m_history.resize(m_historyAt + 1);
  m_history.push_back(CaptureStep());
  m_historyAt = m_history.size() - 1;
  std::size_t bytes = 0;
  for (const RunStep& s : m_history) bytes += s.Bytes();
  bool dropped = false;
  while (m_history.size() > std::size_t(kMaxUndoSteps) + 1 ||
         (bytes > kMaxUndoBytes && m_history.size() > 2)) {
    bytes -= m_history.front().Bytes();
    m_history.erase(m_history.begin());
    --m_historyAt;
    dropped = true;
  }
  if (dropped)
    SetStatus(m_status +
              QStringLiteral(" The oldest undo step was dropped (%1 steps or 1 GB are kept).")
                  .arg(kMaxUndoSteps));
}

void CMainDlg::ClearHistory() {
  m_history.clear();
  m_historyAt = 0;
  m_estimatedPsnr = std::numeric_limits<double>::quiet_NaN();
}

bool CMainDlg::CanUndoRun() const { return m_historyAt > 0 && m_historyAt < m_history.size(); }
bool CMainDlg::CanRedoRun() const { return m_historyAt + 1 < m_history.size(); }

void CMainDlg::UndoRun() {
  if (IsBusy() || !CanUndoRun()) return;
  --m_historyAt;
  RestoreStep(m_history[m_historyAt]);
  KeepForRecovery();
  SetStatus(QStringLiteral("Undone: back to ") +
            (m_historyAt == 0 ? QStringLiteral("before the first run.")
                              : QStringLiteral("the result of run %1 (%2 iterations in all).")
                                    .arg(m_historyAt)
                                    .arg(m_engine.m_fields.m_nTotalIter)));
  UpdateControls();
}

void CMainDlg::RedoRun() {
  if (IsBusy() || !CanRedoRun()) return;
  ++m_historyAt;
  RestoreStep(m_history[m_historyAt]);
  KeepForRecovery();
  SetStatus(QStringLiteral("Redone: run %1. ").arg(m_historyAt) + m_history[m_historyAt].status);
  UpdateControls();
}

// --- files -------------------------------------------------------------------------

QString CMainDlg::ProposedSaveName() const {
  const QFileInfo damaged(m_damagedPath);
  const QString stem =
      m_damagedPath.isEmpty() ? QStringLiteral("result") : damaged.completeBaseName();
  const bool bmp = damaged.suffix().compare(QStringLiteral("bmp"), Qt::CaseInsensitive) == 0;
  return stem + QStringLiteral("-restored.") +
         (bmp ? QStringLiteral("bmp") : QStringLiteral("png"));
}

void CMainDlg::Report(const FileResult& result) {
  if (!result.ok)
    MessageBox(result.Text(), result.caption);
  else if (!result.notice.empty())
    MessageBox(result.notice, "");
}

bool CMainDlg::RoomForLoad(int paneId, const ImageHeader& header) {
  const bool damaged = paneId == IDC_PANE_DAMAGED;
  const std::uint64_t need =
      DecoderPeakBytes(header) +
      (damaged ? kBytesPerPixelBudget : kLoadBytesPerPixel) * Pixels(header.width, header.height);
  const std::optional<std::uint64_t> room = ReadMemoryFigures().Room();
  if (!room || need <= *room) return true;
  const QString text = NotEnoughMemory(
      damaged ? QStringLiteral("restore") : QStringLiteral("load"),
      damaged ? QStringLiteral("picture") : QString::fromUtf8(PaneWhat(paneId)), header.width,
      header.height, need, room);
  SetStatus(text + QStringLiteral("."));
  MessageBox(text.toStdString() + "\nNothing was loaded; the window is as it was.", "");
  return false;
}

bool CMainDlg::TimeStepAccepted() {
  float dt = 0;
  if (!ParseFloatField(GetItemText(IDC_EDIT_DELTA_T), &dt)) return true;  // refused before
  if (dt > 0 && dt <= 1) return true;
  std::uint32_t bits = 0;
  std::memcpy(&bits, &dt, sizeof(bits));
  if (m_confirmedTimeStep == bits) return true;
  const auto* edit = qobject_cast<const QLineEdit*>(GetDlgItem(IDC_EDIT_DELTA_T));
  const QString typed = edit ? edit->text().trimmed() : QString::fromStdString(FormatFloatField(dt));
  // A step of 0 moves nothing, so the sentence for it says so.
  const QString question =
      dt == 0 ? QStringLiteral("A time step of %1 moves no value: only the diffusion runs. Run anyway?")
              : QStringLiteral("A time step of %1 moves every value away from the fill. Run anyway?");
  if (!AskQuestion(question.arg(typed), QString(), QStringLiteral("Yes"), QStringLiteral("No")))
    return false;
  m_confirmedTimeStep = bits;
  return true;
}

// --- recovery ------------------------------------------------------------------------

void CMainDlg::KeepForRecovery() {
  if (!m_files.ResultUnsaved()) {
    DropRecovery();
    return;
  }
  if (m_damagedPath.isEmpty() || m_historyAt >= m_history.size()) return;
  const RunStep& step = m_history[m_historyAt];
  RecoveryRecord r;
  r.damagedPath = QFileInfo(m_damagedPath).absoluteFilePath();
  r.damagedBytes = m_damagedBytes;
  r.width = m_engine.Width();
  r.height = m_engine.Height();
  if (m_engine.HasOriginal()) r.originalPath = m_originalPath;
  r.time = QDateTime::currentDateTime();
  r.maskPixels = m_engine.m_nMaskCount;
  r.psnrDamaged = step.psnrDamaged;
  r.psnrResult = step.psnrResult;
  r.seconds = step.seconds;
  r.totalIter = step.totalIter;
  // The mask is written again only when it has changed since it was kept.
  const RgbImage* mask = nullptr;
  if (!m_recovery.HasMask() || m_nKeptMaskGeneration != m_nMaskGeneration)
    mask = &m_files.m_surfMask.picture;
  QString error;
  bool kept = false;
  try {
    kept = m_recovery.Keep(r, mask, step.masked, &error);
  } catch (const std::bad_alloc&) {
    error = QStringLiteral("not enough memory");
  }
  if (kept)
    m_nKeptMaskGeneration = m_nMaskGeneration;
  else
    SetStatus(m_status + QStringLiteral(" (The result could not be kept for recovery after a "
                                        "crash: %1.)")
                             .arg(error));
}

void CMainDlg::DropRecovery() { m_recovery.Remove(); }

bool CMainDlg::OfferRecovery() {
  QString problem;
  const std::optional<RecoveryRecord> record = m_recovery.Pending(&problem);
  if (!problem.isEmpty()) MessageBox(problem.toStdString(), "");
  if (!record) return false;
  const QString name = QFileInfo(record->damagedPath).fileName();
  const QString stale = CRecoveryStore::Stale(*record);
  if (!stale.isEmpty()) {
    m_recovery.Remove();
    const QString text =
        RecoveryQuestion(*record).replace(QStringLiteral("Recover the"), QStringLiteral("The"));
    MessageBox(text.left(text.size() - 1).toStdString() + " cannot be recovered: " +
                   stale.toStdString() + ". It has been removed.",
               "");
    return false;
  }
  if (!AskQuestion(RecoveryQuestion(*record), QString(), QStringLiteral("Yes"),
                   QStringLiteral("No"))) {
    m_recovery.Remove();
    SetStatus(QStringLiteral("The unsaved result of %1 was discarded.").arg(name));
    return false;
  }
  Recover(*record);
  return true;
}

void CMainDlg::Recover(const RecoveryRecord& record) {
  const std::string damagedFile = QFile::encodeName(record.damagedPath).toStdString();
  const std::string originalFile = QFile::encodeName(record.originalPath).toStdString();
  auto image = std::make_shared<RgbImage>();
  auto original = std::make_shared<RgbImage>();
  auto read = std::make_shared<FileResult>();
  auto readOriginal = std::make_shared<FileResult>();
  auto data = std::make_shared<RecoveryData>();
  const QString name = QFileInfo(record.damagedPath).fileName();
  const QString question = RecoveryQuestion(record);
  const QString when = question.mid(question.lastIndexOf(QStringLiteral(" from ")) + 6).chopped(1);
  const auto failure = [=](const std::string& why) {
    FileResult r;
    r.ok = false;
    r.message = "The unsaved result of " + name.toStdString() + " from " + when.toStdString() +
                " cannot be recovered: " + why + ".";
    r.reason = "It has been removed.";
    return r;
  };
  const std::uint64_t need = kBytesPerPixelBudget * Pixels(record.width, record.height);
  const RecoveryRecord rec = record;
  StartJob(
      QStringLiteral("Recovering the result of %1...").arg(name),
      [this, rec, damagedFile, originalFile, image, original, read, readOriginal, data, failure,
       need] {
        try {
          *read = CImageFiles::ReadPicture(damagedFile, image.get());
          QString why;
          if (read->ok && !m_recovery.Read(rec, data.get(), &why))
            *read = failure(why.toStdString());
          readOriginal->ok = false;
          if (read->ok && !originalFile.empty() && QFileInfo::exists(rec.originalPath))
            *readOriginal = CImageFiles::ReadPicture(originalFile, original.get());
        } catch (const std::bad_alloc&) {
          *read = failure(NotEnoughMemory(QStringLiteral("restore"), QStringLiteral("picture"),
                                          rec.width, rec.height, need)
                              .toStdString());
        }
      },
      [this, rec, name, when, image, original, read, readOriginal, data, failure, need] {
        FileResult r = *read;
        if (r.ok && (image->width != rec.width || image->height != rec.height))
          r = failure(rec.damagedPath.toStdString() + " is now " +
                      SizeText(image->width, image->height).toStdString() + ", not " +
                      SizeText(rec.width, rec.height).toStdString());
        try {
          if (r.ok) r = m_files.LoadDamagedImage(*image);
          if (r.ok) {
            m_damagedPath = rec.damagedPath;
            m_damagedBytes = rec.damagedBytes;
            m_originalPath.clear();
            ClearHistory();
            r = m_files.LoadMaskImage(data->mask);
          }
          if (r.ok && m_engine.m_nMaskCount != rec.maskPixels)
            r = failure("its mask now gives " + std::to_string(m_engine.m_nMaskCount) +
                        " pixels, not " + std::to_string(rec.maskPixels));
          if (r.ok && readOriginal->ok && m_files.LoadOriginalImage(*original).ok)
            m_originalPath = rec.originalPath;
        } catch (const std::bad_alloc&) {
          r = failure(NotEnoughMemory(QStringLiteral("restore"), QStringLiteral("picture"),
                                      rec.width, rec.height, need)
                          .toStdString());
        }
        if (!r.ok) {
          if (r.message.rfind("The unsaved result", 0) != 0) r = failure(r.Text());
          m_recovery.Remove();
          SetStatus(QStringLiteral("The result of %1 was not recovered.").arg(name));
          ShowFigures();
          RefreshViewer();
          Report(r);
          return;
        }
        SetLastFolder(QFileInfo(rec.damagedPath).absolutePath());
        ++m_nMaskGeneration;
        m_nKeptMaskGeneration = m_nMaskGeneration;  // the mask kept is this one
        // Undo goes back to the damaged image as it loaded, as after a run.
        m_history.push_back(CaptureStep());
        m_historyAt = 0;
        RunStep step;
        step.masked = data->values;
        step.psnrDamaged = rec.psnrDamaged;
        step.psnrResult = rec.psnrResult;
        step.seconds = rec.seconds;
        step.totalIter = rec.totalIter;
        step.hasResult = true;
        RestoreStep(step);
        const QString status =
            QStringLiteral("Recovered the result of %1 from %2 (%3 iterations in all); it is not "
                           "saved yet.")
                .arg(name, when)
                .arg(rec.totalIter);
        SetStatus(status);
        m_history.push_back(CaptureStep());
        m_historyAt = 1;
        ShowFigures();
        RefreshViewer();
      });
}

void CMainDlg::LoadCommand(int paneId) {
  const std::optional<QString> chosen = ChooseFile(true);
  if (!chosen) return;  // Cancel: nothing happens
  LoadPicture(paneId, *chosen);
}

void CMainDlg::OpenFile(int paneId, const QString& path) {
  if (IsBusy()) return;
  LoadPicture(paneId == IDC_PANE_RESULT ? IDC_PANE_DAMAGED : paneId, path);
  UpdateControls();
}

void CMainDlg::LoadPicture(int paneId, const QString& path) {
  const std::string file = QFile::encodeName(path).toStdString();
  if (!CImageFiles::IsReadableName(file)) {
    MessageBox("Citra BMP please!\nthe file name must end in .bmp, .png, .jpg or .jpeg (not \"" +
                   file + "\")",
               "not valid");
    return;
  }
  if (paneId == IDC_PANE_DAMAGED && m_files.ResultUnsaved() &&
      !AskQuestion(
          QStringLiteral("The result has not been saved. Load another picture and discard it?"),
          QString(), QStringLiteral("Discard"), QStringLiteral("Cancel")))
    return;
  // The size from the header alone: a picture that cannot fit is refused before
  // any of it is decoded. A header the reader refuses is reported by the load.
  const ImageHeader header = ReadImageHeader(file, EngineImageLimits());
  if (header.ok() && !RoomForLoad(paneId, header)) return;
  auto image = std::make_shared<RgbImage>();
  auto read = std::make_shared<FileResult>();
  const QString name = QFileInfo(path).fileName();
  const QString what = paneId == IDC_PANE_DAMAGED ? QStringLiteral("picture")
                                                  : QString::fromUtf8(PaneWhat(paneId));
  const QString verb = paneId == IDC_PANE_DAMAGED ? QStringLiteral("restore") : QStringLiteral("load");
  const std::uint64_t perPixel = paneId == IDC_PANE_DAMAGED ? kBytesPerPixelBudget : kLoadBytesPerPixel;
  const auto outOfMemory = [=](int w, int h) {
    return MemoryFailure(NotEnoughMemory(verb, what, w, h, perPixel * Pixels(w, h)));
  };
  const qint64 bytes = QFileInfo(path).size();
  StartJob(
      QStringLiteral("Loading %1...").arg(name),
      [file, image, read, header, outOfMemory] {
        try {
          *read = CImageFiles::ReadPicture(file, image.get());
        } catch (const std::bad_alloc&) {
          read->error = ImageError::kOutOfMemory;
        }
        // The reader's own failure to allocate says so the same way.
        if (read->error == ImageError::kOutOfMemory) {
          *image = RgbImage();
          *read = outOfMemory(header.width, header.height);
        }
      },
      [this, paneId, path, name, image, read, outOfMemory, bytes] {
        FileResult r = *read;
        try {
          if (r.ok)
            r = paneId == IDC_PANE_MASK       ? m_files.LoadMaskImage(*image)
                : paneId == IDC_PANE_ORIGINAL ? m_files.LoadOriginalImage(*image)
                                              : m_files.LoadDamagedImage(*image);
        } catch (const std::bad_alloc&) {
          r = outOfMemory(image->width, image->height);
        }
        if (r.ok) {
          if (paneId == IDC_PANE_DAMAGED) {
            m_damagedPath = path;
            m_damagedBytes = bytes;
            // The result before it was discarded (or there was none).
            DropRecovery();
            if (!m_engine.HasOriginal()) m_originalPath.clear();
          }
          if (paneId == IDC_PANE_MASK) ++m_nMaskGeneration;
          if (paneId == IDC_PANE_ORIGINAL) {
            m_originalPath = QFileInfo(path).absoluteFilePath();
            // The figures of a result already there were taken against black (or an
            // earlier original): measured again, they are its quality.
            if (m_files.HasResult()) {
              m_engine.MeasurePsnr();
              SyncFieldEdits();
            }
          }
          // A file dropped or given on the command line: its folder is the one used last.
          SetLastFolder(QFileInfo(path).absolutePath());
          // The undo steps belong to one damaged image and one mask.
          if (paneId != IDC_PANE_ORIGINAL) ClearHistory();
          SetStatus(QStringLiteral("Loaded %1 as the %2 (%3).")
                        .arg(name, QString::fromUtf8(PaneWhat(paneId)),
                             SizeText(image->width, image->height)));
        } else {
          SetStatus(QStringLiteral("%1 was not loaded.").arg(name));
        }
        ShowFigures();
        RefreshViewer();
        Report(r);
      });
}

void CMainDlg::SaveCommand() {
  if (!m_files.HasResult()) {
    Report(m_files.SaveResult(std::string()));  // "Nothing to save yet."
    return;
  }
  const std::optional<QString> chosen = ChooseFile(false, ProposedSaveName());
  if (!chosen) return;
  const std::string file = QFile::encodeName(*chosen).toStdString();
  if (!CImageFiles::IsWritableName(file)) {
    MessageBox("Citra BMP please!\nthe file name must end in .bmp or .png (not \"" + file + "\")",
               "not valid");
    return;
  }
  auto saved = std::make_shared<FileResult>();
  const QString name = QFileInfo(*chosen).fileName();
  const int w = m_files.m_surfResult.nWidth, h = m_files.m_surfResult.nHeight;
  const QString size = SizeText(w, h);
  StartJob(
      QStringLiteral("Saving %1...").arg(name),
      [this, file, saved, w, h] {
        try {
          *saved = m_files.SaveResult(file);
        } catch (const std::bad_alloc&) {
          // The file is removed with the save's temporary file; the result stays unsaved.
          *saved = MemoryFailure(NotEnoughMemory(QStringLiteral("save"), QStringLiteral("picture"),
                                                 w, h, kSaveBytesPerPixel * Pixels(w, h)));
        }
      },
      [this, name, size, saved] {
        if (saved->ok) {
          SetStatus(QStringLiteral("Saved %1 (%2)").arg(name, size));
          if (!m_files.ResultUnsaved()) DropRecovery();
        } else
          SetStatus(QStringLiteral("%1 was not saved.").arg(name));
        Report(*saved);
      });
}

void CMainDlg::StartJob(const QString& busy, std::function<void()> work,
                        std::function<void()> done) {
  m_pJob = std::make_unique<FileJob>();
  m_pJob->done = std::move(done);
  m_pJob->focus = focusWidget();
  SetStatus(busy);
  if (m_pProgress) {
    m_pProgress->setFormat(QString());
    m_pProgress->setRange(0, 0);
  }
  UpdateControls();
  QApplication::setOverrideCursor(Qt::BusyCursor);
  m_pJob->worker = std::thread([this, work = std::move(work)] {
    work();
    QMetaObject::invokeMethod(
        this, [this] { FinishJob(); }, Qt::QueuedConnection);
  });
}

void CMainDlg::FinishJob() {
  if (!m_pJob) return;
  if (m_pJob->worker.joinable()) m_pJob->worker.join();
  std::unique_ptr<FileJob> job = std::move(m_pJob);
  QApplication::restoreOverrideCursor();
  if (m_pProgress) {
    m_pProgress->setRange(0, 1);
    m_pProgress->setValue(0);
  }
  UpdateControls();
  if (job->focus && job->focus->isEnabled() && job->focus->isVisible())
    job->focus->setFocus(Qt::OtherFocusReason);
  if (job->done) job->done();
  UpdateControls();
  if (m_bCloseAfterRun) {
    m_bCloseAfterRun = false;
    OnCancel();
  }
}

// --- the viewer and help -----------------------------------------------------------

void CMainDlg::OpenViewer(ViewerPicture picture, bool paint, const QPointF* at) {
  const bool created = !m_pViewer;
  if (created) {
    m_pViewer = new CPictureViewer(this, nullptr);
    m_pViewer->setWindowTitle(QStringLiteral("ruvanta - picture"));
    m_pViewer->setWindowIcon(m_hIcon);
    m_pViewer->installEventFilter(this);
  }
  RefreshViewer();
  if (created)
    m_pViewer->SetMask(m_panes[IDC_PANE_MASK].full);
  m_pViewer->ShowPicture(picture);
  if (paint) m_pViewer->Canvas()->SetPaintMode(true);
  m_pViewer->show();
  m_pViewer->raise();
  m_pViewer->activateWindow();
  if (at) m_pViewer->Canvas()->CentreOn(*at);
}

// The viewer shows the pictures as the panes do (the result as its surface holds it).
void CMainDlg::RefreshViewer() {
  if (!m_pViewer) return;
  const auto picture = [this](int paneId) { return m_panes[paneId].full; };
  const auto set = [this](ViewerPicture which, const QImage& image) {
    // The same picture is not handed over again (its zoom levels are kept).
    if (m_pViewer->Canvas()->Picture(which).cacheKey() != image.cacheKey() || image.isNull())
      m_pViewer->SetPicture(which, image);
  };
  set(ViewerPicture::kDamaged, picture(IDC_PANE_DAMAGED));
  set(ViewerPicture::kOriginal, picture(IDC_PANE_ORIGINAL));
  if (!IsRunning())
    set(ViewerPicture::kResult, m_files.HasResult() ? picture(IDC_PANE_RESULT) : QImage());
}

void CMainDlg::UseMask(const QImage& mask) {
  if (IsBusy()) {
    MessageBox(
        "A run is going or a picture is being read or written: use the mask once it has ended.",
        "not valid");
    return;
  }
  const FileResult r = m_files.LoadMaskImage(ToRgbImage(mask));
  if (r.ok) {
    ClearHistory();
    ++m_nMaskGeneration;
    SetStatus(QStringLiteral("Using the painted mask: %1 pixels.").arg(m_engine.m_nMaskCount));
  } else {
    MessageBox(r.Text(), r.caption);
  }
  UpdateControls();
}

void CMainDlg::SaveMask(const QImage& mask) {
  if (IsBusy()) return;
  const QString stem = m_damagedPath.isEmpty()
                           ? QStringLiteral("mask")
                           : QFileInfo(m_damagedPath).completeBaseName() + QStringLiteral("-mask");
  const std::optional<QString> chosen = ChooseFile(false, stem + QStringLiteral(".png"));
  // The keys go back to the viewer the command came from.
  if (m_pViewer) m_pViewer->activateWindow();
  if (!chosen) return;
  const std::string file = QFile::encodeName(*chosen).toStdString();
  if (!CImageFiles::IsWritableName(file)) {
    MessageBox("Citra BMP please!\nthe file name must end in .bmp or .png (not \"" + file + "\")",
               "not valid");
    return;
  }
  auto picture = std::make_shared<RgbImage>(ToRgbImage(mask));
  auto saved = std::make_shared<FileResult>();
  const QString name = QFileInfo(*chosen).fileName();
  StartJob(
      QStringLiteral("Saving the mask as %1...").arg(name),
      [this, file, picture, saved] { *saved = m_files.SaveMaskImage(file, *picture); },
      [this, name, picture, saved] {
        SetStatus(saved->ok ? QStringLiteral("Saved the mask as %1 (%2)")
                                  .arg(name, SizeText(picture->width, picture->height))
                            : QStringLiteral("%1 was not saved.").arg(name));
        Report(*saved);
      });
}

QString CMainDlg::HelpText() {
  QString methods;
  for (const RunMethodEntry& m : RunMethods())
    methods += QStringLiteral("<li><b>%1</b>: %2</li>")
                   .arg(QString::fromUtf8(m.label).toHtmlEscaped(),
                        QString::fromUtf8(m.tip).toHtmlEscaped());
  return QStringLiteral(
             "<h2>Restoring a photo with ruvanta</h2>"
             "<ol>"
             "<li><b>Load.</b> <i>Citra Rusak</i> (Ctrl+O) loads the damaged photo (BMP, PNG or "
             "JPEG). <i>Load Mask</i> (Ctrl+M) loads the mask: a picture of the same size whose "
             "non-black pixels are the ones to restore. <i>Citra Original</i> (Ctrl+Shift+O) "
             "loads the undamaged photo if you have it; it only measures the quality (PSNR). You "
             "can also drop a picture file onto a pane.</li>"
             "<li><b>Paint.</b> No mask yet? <i>Paint mask...</i> opens the viewer over the "
             "damaged photo: paint over the scratches with the brush (right button or Eraser to "
             "take pixels out, [ and ] for the brush size, Ctrl+Z to undo a stroke), then press "
             "<i>Use this mask</i>. <i>Save mask...</i> keeps it as a file.</li>"
             "<li><b>Run.</b> Choose the <i>Method</i> and press <i>RUVANTA</i> (Ctrl+R). "
             "<i>Go !!!</i> (Ctrl+G) runs transport cycles automatically while the result "
             "improves. <i>Stop</i> or Escape ends a run and keeps the result so far. Each run "
             "goes on from the last result; Undo (Ctrl+Z) and Redo (Ctrl+Shift+Z) step through "
             "the results of the runs.</li>"
             "<li><b>Compare.</b> Click a pane (or <i>View...</i>) to see its picture whole in "
             "the viewer: the wheel zooms at the pointer, dragging pans, + / - / 0 zoom in, out "
             "and fit, 1, 2 and 3 switch between the damaged photo, the result and the original, "
             "M shows the mask.</li>"
             "<li><b>Save.</b> <i>Save</i> (Ctrl+S) writes the result to a new PNG or BMP "
             "file; it proposes the damaged photo's name with -restored.</li>"
             "</ol>"
             "<h3>The fields</h3>"
             "<ul>"
             "<li><b>Ruvanta</b>: transport iterations of one run (100). <b>Diffussi</b>: "
             "diffusion iterations after each block (2; 0 for none). <b>Diffusi/Ruvanta</b>: "
             "transport iterations per block (15; 0 for one block).</li>"
             "<li><b>DeltaT</b>: the time step of the transport (0.01; a point or a comma).</li>"
             "<li><b>PSNR</b> (in <i>Load Citra</i> and <i>Hasil</i>): the quality in dB of the "
             "damaged photo and of the result, measured against the original; \"-\" without "
             "one, or after a fill or Go !!! the method's own estimate (\"est. 30.5 dB\"), made "
             "from known pixels it hid under shifted copies of the mask and restored.</li>"
             "<li><b>Jumlah Pixel</b>: the number of masked pixels. <b>Waktu</b>: the seconds "
             "(<i>detik</i>) of all runs.</li>"
             "<li><b>Threshold</b>: the PSNR gain in dB a further automatic cycle must exceed. "
             "Without an original Go !!! measures that gain on known pixels hidden under copies "
             "of the mask, and <b>Settle</b> keeps it going while the mean change of the masked "
             "values over a cycle is above it.</li>"
             "<li><b>Reset</b> sets the PSNR fields, the seconds and the pixel count to 0.</li>"
             "</ul>"
             "<h3>The methods</h3><ul>") +
         methods + QStringLiteral("</ul>");
}

void CMainDlg::ShowHelp() {
  if (!m_pHelp) {
    m_pHelp = new QDialog(this, Qt::Window);
    m_pHelp->setWindowTitle(QStringLiteral("ruvanta - help"));
    m_pHelp->setWindowIcon(m_hIcon);
    auto* text = new QTextBrowser(m_pHelp);
    text->setHtml(HelpText());
    text->setAccessibleName(QStringLiteral("help text"));
    auto* close = new QPushButton(QStringLiteral("Close"), m_pHelp);
    connect(close, &QPushButton::clicked, m_pHelp, &QDialog::close);
    auto* layout = new QVBoxLayout(m_pHelp);
    layout->addWidget(text);
    layout->addWidget(close, 0, Qt::AlignRight);
    m_pHelp->resize(620, 640);
    m_pHelp->installEventFilter(this);
  }
  m_pHelp->show();
  m_pHelp->raise();
  m_pHelp->activateWindow();
}

// --- dialog services -----------------------------------------------------------

std::string CMainDlg::GetItemText(int id) const {
  if (IsFigure(id)) {
    // The value the engine wrote, whatever the edit shows in its place.
    const auto it = m_figureTexts.find(id);
    return it == m_figureTexts.end() ? std::string("0") : it->second;
  }
  const QWidget* w = GetDlgItem(id);
  if (const auto* edit = qobject_cast<const QLineEdit*>(w)) {
    QString text = edit->text();
    // The decimal comma the locale may use is read as a point.
    if (TakesFraction(id)) text.replace(QLatin1Char(','), QLatin1Char('.'));
    return text.toStdString();
  }
  if (const auto* button = qobject_cast<const QAbstractButton*>(w))
    return StripMnemonic(button->text()).toStdString();
  if (const auto* label = qobject_cast<const QLabel*>(w)) return label->text().toStdString();
  if (const auto* box = qobject_cast<const QGroupBox*>(w)) return box->title().toStdString();
  return std::string();
}

void CMainDlg::SetItemText(int id, const std::string& text) {
  if (IsFigure(id)) {
    m_figureTexts[id] = text;
    ShowFigures();
    return;
  }
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
}

void CMainDlg::MessageBox(const std::string& text, const std::string& caption) {
  ShowMessage(QString::fromStdString(text),
              QString::fromStdString(caption.empty() ? std::string(kAppTitle) : caption));
}

void CMainDlg::ReportBadEntry(int id, const std::string& message) {
  MessageBox(message, "");
  FocusEdit(id);
}

bool CMainDlg::UpdateData(bool bSaveAndValidate) {
  if (!bSaveAndValidate) {
    m_engine.ShowFields();
    SyncFieldEdits();
    return true;
  }
  CDialogFields fields = m_engine.m_fields;
  const bool ok = ExchangeFields(&fields, *this, true);
  m_engine.m_fields = fields;
  m_engine.SetShownFields(fields);
  m_nFieldsWritten = m_engine.ShownVersion();  // the edits hold them already
  return ok;
}

void CMainDlg::SyncFieldEdits() {
  if (IsRunning() || m_nFieldsWritten == m_engine.ShownVersion()) return;
  m_nFieldsWritten = m_engine.ShownVersion();
  CDialogFields shown = m_engine.ShownFields();
  ExchangeFields(&shown, *this, false);
}

std::optional<std::string> CMainDlg::FileDialog(bool bOpen) {
  const std::optional<QString> chosen = ChooseFile(bOpen);
  if (!chosen) return std::nullopt;
  return QFile::encodeName(*chosen).toStdString();
}

void CMainDlg::PaneChanged(Pane pane) {
  SyncFieldEdits();
  PaneChanged(pane == Pane::kDamaged  ? int(IDC_PANE_DAMAGED)
              : pane == Pane::kMask   ? int(IDC_PANE_MASK)
              : pane == Pane::kResult ? int(IDC_PANE_RESULT)
                                      : int(IDC_PANE_ORIGINAL));
}

void CMainDlg::PaneChanged(int paneId) {
  // The one conversion of the pane's picture until it changes again.
  PaneCache& cache = m_panes[paneId];
  const ImageSurface* surface = PaneSurface(paneId);
  cache.full = surface && surface->bLoaded == 1 ? SurfaceImage(*surface) : QImage();
  cache.scaled = QImage();
  const QRect client = PaneClientRect(paneId);
  if (!client.isEmpty()) Client()->update(client);
  if (paneId == IDC_PANE_MASK && m_pViewer) m_pViewer->SetMask(cache.full);
  if (paneId == IDC_PANE_ORIGINAL || paneId == IDC_PANE_DAMAGED) ShowFigures();
}
