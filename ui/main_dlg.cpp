#include "ui/main_dlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QWindow>
#include <cmath>
#include <cstdio>

#include "ui/about_dlg.h"
#include "ui/resource.h"

namespace {
// Set on the worker thread for the life of a run: the engine's calls of the
// dialog's services come from there and go to the run's copy of the edits.
thread_local bool t_onRunThread = false;

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
}  // namespace

CMainDlg::CMainDlg(QWidget* parent)
    : CDialog(MainDialogTemplate(), parent), m_engine(*this), m_files(m_engine, *this) {
  m_hIcon = LoadAppIcon();
  m_engine.SetObserver(this);
}

CMainDlg::~CMainDlg() {
  if (m_pRun) {
    m_bStopRequested = true;
    if (m_pRun->worker.joinable()) m_pRun->worker.join();
  }
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

  for (const FieldDef& def : kFields)
    if (auto* edit = qobject_cast<CDigitEdit*>(GetDlgItem(def.id)))
      edit->SetTakesFraction(def.typedFraction);
  if (auto* settle = qobject_cast<QLineEdit*>(GetDlgItem(IDC_EDIT_SETTLE))) {
    settle->setText(QString::fromStdString(FormatFloatField(float(kDefaultSettleLevel))));
    settle->setToolTip(QStringLiteral(
        "Without an original, Go !!! runs further cycles while the mean change of the masked "
        "values over a cycle is above this level"));
  }
  m_pProgress = qobject_cast<QProgressBar*>(GetDlgItem(IDC_PROGRESS));
  if (m_pProgress) m_pProgress->setFormat(QString());

  SetIcon(m_hIcon);
  m_engine.SetDefaults();  // 100, 2, 15, 0.01, the others 0, written to the edits
  UpdateControls();
  return true;
}

void CMainDlg::OnCommand(int id) {
  // A click that reaches a button while a run goes (queued before the buttons
  // were disabled) changes nothing; Stop and the viewer are what a run allows.
  if (IsRunning() && id != IDC_BTN_STOP && id != IDC_BTN_VIEW) return;
  switch (id) {
    case IDC_BTN_LOAD_DAMAGED:
      m_files.OnLoadDamaged();
      break;
    case IDC_BTN_LOAD_MASK:
      m_files.OnLoadMask();
      break;
    case IDC_BTN_RUN:
      StartRun(false);
      break;
    case IDC_BTN_LOAD_ORIGINAL:
      m_files.OnLoadOriginal();
      break;
    case IDC_BTN_RESET:
      OnReset();
      break;
    case IDC_BTN_AUTO:
      StartRun(true);
      break;
    case IDC_BTN_SAVE:
      m_files.OnSave();
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
    default:
      break;
  }
  UpdateControls();
  RefreshViewer();
}

void CMainDlg::OnReset() {
  CDialogFields& f = m_engine.m_fields;
  f.m_fPsnrDamaged = 0;
  f.m_fPsnrResult = 0;
  f.m_fSeconds = 0;
  f.m_nTotalIter = 0;
  f.m_nMaskPixels = 0;
  m_engine.UpdateData(false);
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
  if (m_pViewer) m_pViewer->close();
  EndDialog(IDCANCEL);
}

void CMainDlg::keyPressEvent(QKeyEvent* event) {
  // Escape would end the program at once; a key must never lose a result.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    event->accept();
    return;
  }
  CDialog::keyPressEvent(event);
}

void CMainDlg::contextMenuEvent(QContextMenuEvent* event) {
  if (m_pSysMenu) m_pSysMenu->exec(event->globalPos());
  event->accept();
}

void CMainDlg::mouseDoubleClickEvent(QMouseEvent* event) {
  const struct {
    int pane;
    ViewerPicture picture;
  } panes[] = {{IDC_PANE_DAMAGED, ViewerPicture::kDamaged},
               {IDC_PANE_MASK, ViewerPicture::kDamaged},
               {IDC_PANE_RESULT, ViewerPicture::kResult},
               {IDC_PANE_ORIGINAL, ViewerPicture::kOriginal}};
  for (const auto& p : panes) {
    if (!PaneClientRect(p.pane).contains(event->pos())) continue;
    const bool shown = p.picture == ViewerPicture::kDamaged  ? m_files.m_surfDamaged.bLoaded == 1
                       : p.picture == ViewerPicture::kResult ? m_files.HasResult()
                                                             : m_files.m_surfOriginal.bLoaded == 1;
    if (shown) OpenViewer(p.picture, false);
    event->accept();
    return;
  }
  CDialog::mouseDoubleClickEvent(event);
}

QImage CMainDlg::SurfaceImage(const ImageSurface& surface) {
  return ToQImage(::SurfaceImage(surface));
}

void CMainDlg::OnPaint() {
  Default();
  m_paintedPanes.clear();
  QPainter painter(this);
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
    const QRect client = PaneClientRect(pane.id);
    if (client.isEmpty()) continue;
    // Unscaled at the pane's (0, 0), clipped to the pane; the viewer shows it whole.
    painter.setClipRect(client);
    const bool preview = pane.id == IDC_PANE_RESULT && m_pRun && !m_resultPreview.isNull();
    painter.drawImage(client.topLeft(), preview ? m_resultPreview : SurfaceImage(*pane.surface));
    m_paintedPanes.push_back(pane.id);
  }
  painter.setClipping(false);
  PaintChart(painter);
}

// The automatic mode's figure per measured cycle: the PSNR of the result, or
// without an original the mean change, scaled to the chart's height.
void CMainDlg::PaintChart(QPainter& painter) {
  const QRect area = PaneClientRect(IDC_CHART).adjusted(2, 2, -2, -2);
  if (area.isEmpty()) return;
  painter.fillRect(area, Qt::white);
  const QString title = m_bChartSettle ? QStringLiteral("mean change per cycle")
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

void CMainDlg::StartRun(bool automatic) {
  if (IsRunning() || !m_engine.CanRun()) return;
  // Every edit the run will read must hold a number: one message, naming it.
  if (const auto problem = FirstBadField(*this)) {
    MessageBox(problem->message, "");
    FocusEdit(problem->id);
    return;
  }
  const bool settling = automatic && !m_engine.HasOriginal();
  if (settling) {
    float level = 0;
    if (!ParseFloatField(GetItemText(IDC_EDIT_SETTLE), &level) || !std::isfinite(level) ||
        level < 0) {
      MessageBox("Settle: please enter a number, 0 or more.", "");
      FocusEdit(IDC_EDIT_SETTLE);
      return;
    }
    m_engine.m_dSettleLevel = double(level);
  }
  auto run = std::make_unique<RunState>();
  run->automatic = automatic;
  run->settling = settling;
  for (const FieldDef& def : kFields) run->texts[def.id] = GetItemText(def.id);
  run->startTick = MonotonicTickCount();
  m_bStopRequested = false;
  if (automatic) {
    m_chart.clear();
    m_bChartSettle = settling;
  }
  if (m_pProgress) {
    // The run's count is the one typed in the edit: the field is read by the run.
    std::int32_t planned = 0;
    ParseIntField(run->texts[IDC_EDIT_TRANSPORT_ITER], &planned);
    m_pProgress->setRange(0, automatic ? 0 : std::max(1, planned));
    m_pProgress->setValue(0);
  }
  QString rule;
  if (automatic)
    rule = settling
               ? QStringLiteral(
                     "Automatic mode without an original: until the mean change "
                     "is no more than ") +
                     Number(m_engine.m_dSettleLevel)
               : QStringLiteral("Automatic mode: while the PSNR gain is above ") +
                     QString::fromStdString(run->texts[IDC_EDIT_THRESHOLD]) + QStringLiteral(" dB");
  else
    rule = QStringLiteral("Running");
  if (m_files.OriginalStale())
    rule = QString::fromStdString(m_files.OriginalMismatch()) +
           QStringLiteral(": no PSNR against it. ") + rule;
  SetStatus(rule + QStringLiteral("..."));
  m_pRun = std::move(run);
  UpdateControls();
  QApplication::setOverrideCursor(Qt::BusyCursor);
  m_pRun->worker = std::thread([this, automatic] {
    t_onRunThread = true;
    if (automatic)
      m_engine.OnAuto();
    else
      m_engine.OnRun();
    t_onRunThread = false;
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
  for (const auto& text : run->texts) SetItemText(text.first, text.second);
  if (run->showResult) m_files.ShowResult();
  const CDialogFields& f = m_engine.m_fields;
  const bool stopped = m_engine.LastRunStopped();
  QString outcome;
  if (!run->automatic) {
    outcome = stopped ? QStringLiteral("Stopped: the result so far is shown; ")
                      : QStringLiteral("Done: ");
    outcome += QStringLiteral("%1 iterations in all, %2 s.")
                   .arg(f.m_nTotalIter)
                   .arg(Number(double(f.m_fSeconds)));
  } else {
    const QString cycles = QString::number(m_chart.empty() ? 0 : m_chart.size() + 4);
    if (stopped)
      outcome = QStringLiteral("Automatic mode stopped by you after cycle ") + cycles +
                QStringLiteral("; the result so far is shown.");
    else if (run->settling)
      outcome = QStringLiteral("Automatic mode without an original: settled after cycle ") +
                cycles + QStringLiteral(" (mean change ") +
                Number(m_chart.empty() ? 0.0 : m_chart.back(), 4) +
                QStringLiteral(", no more than ") + Number(m_engine.m_dSettleLevel) +
                QStringLiteral(").");
    else
      outcome = QStringLiteral("Automatic mode: stopped after cycle ") + cycles +
                QStringLiteral(", when the PSNR gain was no longer above ") +
                Number(double(f.m_fThreshold)) + QStringLiteral(" dB.");
  }
  if (m_files.OriginalStale())
    outcome = QString::fromStdString(m_files.OriginalMismatch()) +
              QStringLiteral(": no PSNR against it. ") + outcome;
  SetStatus(outcome);
  if (m_pProgress) {
    if (m_pProgress->maximum() == 0) m_pProgress->setRange(0, 1);
    if (!stopped) m_pProgress->setValue(m_pProgress->maximum());
  }
  UpdateControls();
  RefreshViewer();
  update();
  for (const auto& m : run->messages) MessageBox(m.first, m.second);
  if (m_bCloseAfterRun) {
    m_bCloseAfterRun = false;
    OnCancel();
  }
}

void CMainDlg::RequestStop() {
  if (IsRunning()) {
    m_bStopRequested = true;
    SetStatus(QStringLiteral("Stopping: the result so far will be kept..."));
  }
}

void CMainDlg::WaitForRun() {
  while (m_pRun) {
    if (m_pRun->worker.joinable()) m_pRun->worker.join();
    // The worker's last act is to queue FinishRun; run it now.
    QCoreApplication::sendPostedEvents(this);
    if (m_pRun) FinishRun();
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
    if (p.measured) {
      m_chart.push_back(p.settling ? p.meanChange : double(p.psnr));
      update(PaneClientRect(IDC_CHART));
    }
    text = QStringLiteral("Automatic: cycle %1").arg(p.cycle);
    if (p.measured)
      text += p.settling
                  ? QStringLiteral(", mean change ") + Number(p.meanChange, 4)
                  : QStringLiteral(", PSNR ") + Number(double(p.psnr)) + QStringLiteral(" dB");
    if (m_pProgress) m_pProgress->setFormat(text);
  }
  if (!m_bStopRequested) SetStatus(text);
  if (preview.isNull()) return;
  m_resultPreview = preview;
  update(PaneClientRect(IDC_PANE_RESULT));
  if (m_pViewer) m_pViewer->SetPicture(ViewerPicture::kResult, preview);
}

QString CMainDlg::StatusText() const { return m_status; }

void CMainDlg::SetStatus(const QString& text) {
  m_status = text;
  if (auto* label = qobject_cast<QLabel*>(GetDlgItem(IDC_STATUS))) label->setText(text);
}

void CMainDlg::UpdateControls() {
  const bool running = IsRunning();
  const bool damaged = m_files.m_surfDamaged.bLoaded == 1;
  const auto enable = [this](int id, bool on) {
    if (QWidget* w = GetDlgItem(id)) w->setEnabled(on);
  };
  for (int id : {int(IDC_BTN_LOAD_DAMAGED), int(IDC_BTN_LOAD_MASK), int(IDC_BTN_LOAD_ORIGINAL),
                 int(IDC_BTN_RUN), int(IDC_BTN_AUTO), int(IDC_BTN_RESET), int(IDC_BTN_SAVE),
                 int(IDC_EDIT_SETTLE)})
    enable(id, !running);
  for (const FieldDef& def : kFields)
    if (def.id != IDC_EDIT_TOTAL_ITER) enable(def.id, !running);  // 1018 stays disabled
  enable(IDC_BTN_STOP, running);
  enable(IDC_BTN_VIEW, damaged || m_files.m_surfOriginal.bLoaded == 1);
  enable(IDC_BTN_PAINT, damaged && !running);
}

void CMainDlg::FocusEdit(int id) {
  if (auto* edit = qobject_cast<QLineEdit*>(GetDlgItem(id))) {
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
  }
}

// --- the viewer ------------------------------------------------------------------

void CMainDlg::OpenViewer(ViewerPicture picture, bool paint) {
  if (!m_pViewer) {
    m_pViewer = new CPictureViewer(this, nullptr);
    m_pViewer->setWindowTitle(QStringLiteral("ruvanta - picture"));
    m_pViewer->setWindowIcon(m_hIcon);
    m_pViewer->resize(900, 700);
  }
  RefreshViewer();
  m_pViewer->ShowPicture(picture);
  if (paint) m_pViewer->Canvas()->SetPaintMode(true);
  m_pViewer->show();
  m_pViewer->raise();
  m_pViewer->activateWindow();
}

// The viewer shows the pictures as the panes do (the result as its surface holds it).
void CMainDlg::RefreshViewer() {
  if (!m_pViewer) return;
  const auto picture = [](const ImageSurface& s) {
    return s.bLoaded == 1 ? SurfaceImage(s) : QImage();
  };
  m_pViewer->SetPicture(ViewerPicture::kDamaged, picture(m_files.m_surfDamaged));
  m_pViewer->SetPicture(ViewerPicture::kOriginal, picture(m_files.m_surfOriginal));
  if (!IsRunning())
    m_pViewer->SetPicture(ViewerPicture::kResult,
                          m_files.HasResult() ? SurfaceImage(m_files.m_surfResult) : QImage());
}

void CMainDlg::UseMask(const QImage& mask) {
  if (IsRunning()) {
    MessageBox("A run is going: stop it (or let it end) before using another mask.", "not valid");
    return;
  }
  const FileResult r = m_files.LoadMaskImage(ToRgbImage(mask));
  if (!r.ok) MessageBox(r.Text(), r.caption);
  UpdateControls();
}

void CMainDlg::SaveMask(const QImage& mask) {
  const std::optional<std::string> file = FileDialog(false);
  if (!file) return;
  const FileResult r = m_files.SaveMaskImage(*file, ToRgbImage(mask));
  if (!r.ok) MessageBox(r.Text(), r.caption);
}

// --- dialog services -----------------------------------------------------------

std::string CMainDlg::GetItemText(int id) const {
  if (t_onRunThread && m_pRun) {
    const auto it = m_pRun->texts.find(id);
    return it == m_pRun->texts.end() ? std::string() : it->second;
  }
  const QWidget* w = GetDlgItem(id);
  if (const auto* edit = qobject_cast<const QLineEdit*>(w)) return edit->text().toStdString();
  if (const auto* button = qobject_cast<const QAbstractButton*>(w))
    return button->text().toStdString();
  if (const auto* label = qobject_cast<const QLabel*>(w)) return label->text().toStdString();
  if (const auto* box = qobject_cast<const QGroupBox*>(w)) return box->title().toStdString();
  return std::string();
}

void CMainDlg::SetItemText(int id, const std::string& text) {
  if (t_onRunThread && m_pRun) {
    m_pRun->texts[id] = text;
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

void CMainDlg::EnableItem(int id, bool enable) {
  if (t_onRunThread) return;  // while a run goes, UpdateControls decides
  if (QWidget* w = GetDlgItem(id)) w->setEnabled(enable);
}

void CMainDlg::MessageBox(const std::string& text, const std::string& caption) {
  if (t_onRunThread && m_pRun) {
    m_pRun->messages.emplace_back(text, caption);
    return;
  }
  ShowMessage(QString::fromStdString(text),
              QString::fromStdString(caption.empty() ? std::string(kAppTitle) : caption));
}

void CMainDlg::ReportBadEntry(int id, const std::string& message) {
  MessageBox(message, "");
  if (!t_onRunThread) FocusEdit(id);
}

void CMainDlg::ShowResult() {
  if (t_onRunThread && m_pRun) {
    m_pRun->showResult = true;
    return;
  }
  m_files.ShowResult();
}

std::optional<std::string> CMainDlg::FileDialog(bool bOpen) {
  const std::optional<QString> chosen = ChooseFile(bOpen);
  if (!chosen) return std::nullopt;
  return QFile::encodeName(*chosen).toStdString();
}

void CMainDlg::PaneChanged(int paneId) {
  const QRect client = PaneClientRect(paneId);
  if (!client.isEmpty()) update(client);
  if (paneId == IDC_PANE_MASK && m_pViewer) m_pViewer->SetMask(SurfaceImage(m_files.m_surfMask));
}
