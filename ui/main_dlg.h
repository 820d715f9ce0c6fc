// The main window: dialog template 102 over the restoration engine and the load
// and save commands, which it has (it is neither of them). The ten edits are
// exchanged with the engine's fields here: a run takes the fields its edits hold
// as typed settings, and the edits show the engine's fields again whenever the
// engine has shown them (a load, a measure, the end of a run). It is an ordinary top-level window: the viewer and the help
// page beside it take input while it is open.
//
// A run goes on a worker thread. It starts only when every edit it reads holds a
// number; the engine takes the fields as they read when the run started (so the
// run goes exactly as it would on the window's thread), and the edits show the
// engine's fields when it ends. Meanwhile the window repaints, shows
// the progress, and disables what would change the run's inputs; Stop ends the
// run after its current sweep (cycle, in the automatic mode) and keeps the result.
// Pictures are decoded and saved on a worker thread too, with the same rule.
//
// The results of the runs are kept as undo steps (the masked pixels, the totals
// and the PSNR after each run), so Undo and Redo step through them.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPointer>
#include <atomic>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine/restore.h"
#include "session/image_files.h"
#include "ui/dialog_fields.h"
#include "ui/dialog_framework.h"
#include "ui/picture_viewer.h"
#include "ui/recovery.h"

class QMenu;
class QProgressBar;
class QComboBox;
class QDialog;
struct RunMethodEntry;

class CMainDlg : public CDialog,
                 private CDialogServices,
                 private CFileServices,
                 private CRunObserver,
                 private CViewerHost {
  Q_OBJECT
 public:
  explicit CMainDlg(QWidget* parent = nullptr);
  ~CMainDlg() override;

  CRestoreEngine& Engine() { return m_engine; }
  const CRestoreEngine& Engine() const { return m_engine; }
  CImageFiles& Files() { return m_files; }
  const CImageFiles& Files() const { return m_files; }
  CDialogFields& Fields() { return m_engine.m_fields; }
  const CDialogFields& Fields() const { return m_engine.m_fields; }
  // The dialog's data exchange: the ten fields with their edits. TRUE also makes
  // the fields read the engine's shown fields (what a run starts from); FALSE shows
  // the engine's fields in the edits.
  bool UpdateData(bool bSaveAndValidate = true);

  // Button 3: clears the two PSNR values, the seconds, the total iterations and
  // the pixel count, then writes every field to its edit.
  void OnReset();
  // A command of the system menu: 16 to 31 open the About box; the others move or
  // close the window.
  void OnSysCommand(unsigned nID, long lParam);

  // The window's system menu, shown as the dialog's context menu.
  QMenu* SystemMenu() const { return m_pSysMenu; }
  // The panes the last OnPaint drew a picture into, in drawing order.
  const std::vector<int>& PaneOrder() const { return m_paintedPanes; }
  const std::vector<int>& PaintedPanes() const { return m_paintedPanes; }
  // The surface behind a pane (null for another id).
  const ImageSurface* PaneSurface(int paneId) const;
  // Where a pane's picture is drawn (Client() coordinates; empty when none).
  QRect PictureRect(int paneId) const;
  // A surface's picture as an image (null when the surface is empty).
  static QImage SurfaceImage(const ImageSurface& surface);

  // --- files -----------------------------------------------------------------
  // Loads a picture file as the picture of a pane (the damaged image for any
  // other place), as a drop does: off the window's thread, asking first when it
  // would discard an unsaved result.
  void OpenFile(int paneId, const QString& path);
  // The name Save proposes: the damaged image's stem, "-restored", its format
  // (PNG for anything but BMP).
  QString ProposedSaveName() const;

  // --- recovery ------------------------------------------------------------
  // At start: offers back the unsaved result an earlier start left in the cache
  // ("Recover the unsaved result of photo.png from 10:42?"). True when it is
  // being brought back (the window is busy loading it).
  bool OfferRecovery();
  const CRecoveryStore& Recovery() const { return m_recovery; }

  // --- runs ----------------------------------------------------------------
  bool IsRunning() const { return m_pRun != nullptr; }
  // A run, or a picture being read or written.
  bool IsBusy() const { return m_pRun != nullptr || m_pJob != nullptr; }
  // Asks the run to stop after its current sweep or cycle.
  void RequestStop();
  // Blocks until the run or file job (if any) has ended and its result is shown.
  void WaitForRun();
  // What the automatic mode measures and why it stopped, or the last run's outcome.
  QString StatusText() const;
  // The figures the chart shows: one per measured cycle of the last automatic run.
  const std::vector<double>& ChartValues() const { return m_chart; }
  bool ChartIsSettle() const { return m_bChartSettle; }
  // The method RUVANTA runs (a --method name of the command line).
  QString MethodName() const;
  void SetMethod(const QString& name);

  // --- undo of runs ----------------------------------------------------------
  static constexpr int kMaxUndoSteps = 20;
  static constexpr std::size_t kMaxUndoBytes = std::size_t(1) << 30;
  bool CanUndoRun() const;
  bool CanRedoRun() const;
  void UndoRun();
  void RedoRun();
  // Steps that can be undone now.
  int UndoSteps() const { return int(m_historyAt); }

  // --- the viewer ----------------------------------------------------------
  // Opens (or raises) the viewer on `picture`; in paint mode over the damaged one.
  // With `at` (a picture point) it shows that point at one screen pixel per
  // picture pixel (or fitted, when the picture fits the viewer).
  void OpenViewer(ViewerPicture picture, bool paint, const QPointF* at = nullptr);
  CPictureViewer* Viewer() const { return m_pViewer; }
  // The help page (F1), beside the window.
  void ShowHelp();
  QDialog* HelpWindow() const { return m_pHelp; }
  static QString HelpText();

 protected:
  bool OnInitDialog() override;
  // Enter and the OK command do nothing: the dialog stays open, the fields unread.
  void OnOK() override {}
  // Exit, the close box and the system menu's Close: asks before a running
  // restoration or an unsaved result is lost; Escape stops a run, nothing else.
  void OnCancel() override;
  void OnCommand(int id) override;
  void OnPaint() override;
  bool ClientEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  // The viewer or the help page closed: the keys come back to this window.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // --- engine services (the worker thread uses them while a run goes) --------
  std::string GetItemText(int id) const override;
  void SetItemText(int id, const std::string& text) override;
  void MessageBox(const std::string& text, const std::string& caption) override;
  void ReportBadEntry(int id, const std::string& message) override;
  // --- file services ---------------------------------------------------------
  std::optional<std::string> FileDialog(bool bOpen);
  void PaneChanged(Pane pane) override;
  void PaneChanged(int paneId);
  // The edits show the engine's shown fields when they changed since last written.
  void SyncFieldEdits();
  // --- run observer (called on the worker thread) ------------------------------
  void Progress(const RunProgress& progress) override;
  bool StopRequested() override { return m_bStopRequested.load(); }
  // --- viewer host -------------------------------------------------------------
  void UseMask(const QImage& mask) override;
  void SaveMask(const QImage& mask) override;

  // The one place that decides which controls are enabled.
  void UpdateControls();
  void SetUpControls();
  void StartRun(bool automatic);
  void FinishRun();
  void ShowProgress(const RunProgress& progress, const QImage& preview);
  void SetStatus(const QString& text);
  // Puts the focus on an edit and selects its text.
  void FocusEdit(int id);
  void PaintChart(QPainter& painter);
  void RefreshViewer();
  // The PSNR edits show their value, or "-" without an original to measure against.
  void ShowFigures();
  const RunMethodEntry& Method() const;

  // Load and save commands: file dialog, the name test, the work off the thread.
  void LoadCommand(int paneId);
  void SaveCommand();
  void LoadPicture(int paneId, const QString& path);
  // Runs `work` on a worker thread, then `done` on the window's; the window is busy.
  void StartJob(const QString& busy, std::function<void()> work, std::function<void()> done);
  void FinishJob();
  void Report(const FileResult& result);
  // Before a load: false (and the message shown) when the picture the file's
  // header declares cannot fit in the memory the machine can give.
  bool RoomForLoad(int paneId, const ImageHeader& header);
  // A time step outside (0, 1] is run only when the user says so, once per value typed.
  bool TimeStepAccepted();

  // Recovery: the current result kept in the cache after each run (and undo), and
  // dropped once it is saved or discarded.
  void KeepForRecovery();
  void DropRecovery();
  void Recover(const RecoveryRecord& record);

  // Undo steps: what a run changes, taken after it (and before the first one).
  struct RunStep {
    std::vector<double> masked;  // the masked pixels' channels, in list order
    float psnrDamaged = 0, psnrResult = 0, seconds = 0;
    std::uint32_t totalIter = 0;
    bool hasResult = false;
    QString status;
    std::vector<double> chart;
    bool chartSettle = false;
    bool chartHeldOut = false;
    double estimatedPsnr = std::numeric_limits<double>::quiet_NaN();
    std::size_t Bytes() const { return masked.size() * sizeof(double) + sizeof(RunStep); }
  };
  RunStep CaptureStep() const;
  void RestoreStep(const RunStep& step);
  void PushStep();
  void ClearHistory();

  struct RunState {
    bool automatic = false;
    bool settling = false;
    const RunMethodEntry* method = nullptr;
    RunSettings settings;
    RunOutcome outcome;
    QPointer<QWidget> focus;  // where the focus was when it started
    std::uint32_t startTick = 0;
    std::uint32_t lastPreviewTick = 0;
    std::uint32_t previewGap = 0;  // milliseconds between previews (more for larger pictures)
    int lastCycle = 0;
    bool outOfMemory = false;  // the run failed to allocate: its result is not taken
    bool estimate = false;     // a fill is asked for its estimate (no original loaded)
    double estimatedPsnr = std::numeric_limits<double>::quiet_NaN();
    std::thread worker;
  };
  struct FileJob {
    std::function<void()> done;
    QPointer<QWidget> focus;
    std::thread worker;
  };
  // A pane's picture as drawn: converted from its surface when that changes
  // (PaneChanged), and scaled to the pane once per size.
  struct PaneCache {
    QImage full;
    QImage scaled;
  };

  CRestoreEngine m_engine;
  CImageFiles m_files;
  QIcon m_hIcon;
  QMenu* m_pSysMenu = nullptr;
  QPointer<CPictureViewer> m_pViewer;
  QPointer<QDialog> m_pHelp;
  QComboBox* m_pMethod = nullptr;
  std::vector<int> m_paintedPanes;
  std::unique_ptr<RunState> m_pRun;
  std::uint64_t m_nFieldsWritten = ~std::uint64_t(0);  // the shown fields' version the edits show
  std::unique_ptr<FileJob> m_pJob;
  std::atomic<bool> m_bStopRequested{false};
  bool m_bCloseAfterRun = false;  // Exit asked to stop the run (or end the job) and close
  QImage m_resultPreview;         // the result so far, in the result pane while a run goes
  QString m_status;
  std::vector<double> m_chart;
  bool m_bChartSettle = false;
  bool m_bChartHeldOut = false;  // the chart holds the held-out PSNR (no original)
  QProgressBar* m_pProgress = nullptr;
  std::map<int, std::string> m_figureTexts;  // the PSNR edits' values as the engine wrote them
  // A fill's estimate of the hole PSNR of the result shown, made without an original
  // (NaN when there is none): shown in the result's PSNR field while no original is loaded.
  double m_estimatedPsnr = std::numeric_limits<double>::quiet_NaN();
  std::map<int, PaneCache> m_panes;
  QString m_damagedPath;
  std::vector<RunStep> m_history;
  std::size_t m_historyAt = 0;
  CRecoveryStore m_recovery;
  std::uint64_t m_nMaskGeneration = 0;      // counts the masks taken since start
  std::uint64_t m_nKeptMaskGeneration = 0;  // the mask the recovery files hold
  // The time step (its float's bits) the user agreed to run outside (0, 1], until
  // the edit is typed in again.
  std::optional<std::uint32_t> m_confirmedTimeStep;
  QString m_originalPath;     // the original's file, while it matches the damaged image
  qint64 m_damagedBytes = 0;  // the damaged file's size when it loaded
};
