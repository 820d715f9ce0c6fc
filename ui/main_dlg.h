// The main window: dialog template 102 over the restoration engine and the load
// and save commands, which it has (it is neither of them). It gives both the
// services of a dialog: the edits' texts, the buttons, message boxes, file dialogs
// and pane refreshes.
//
// A run goes on a worker thread. It starts only when every edit it reads holds a
// number; the engine then reads and writes a copy of the edits' texts taken when
// the run started (so the run goes exactly as it would on the window's thread),
// and the edits show that copy when it ends. Meanwhile the window repaints, shows
// the progress, and disables what would change the run's inputs; Stop ends the
// run after its current sweep (cycle, in the automatic mode) and keeps the result.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPointer>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "session/image_files.h"
#include "ui/dialog_framework.h"
#include "ui/picture_viewer.h"

class QMenu;
class QProgressBar;

class CMainDlg : public CDialog,
                 private CEngineServices,
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
  // The dialog's data exchange: the ten fields with their edits.
  bool UpdateData(bool bSaveAndValidate = true) { return m_engine.UpdateData(bSaveAndValidate); }

  // Button 3: clears the two PSNR values, the seconds, the total iterations and
  // the pixel count, then writes every field to its edit.
  void OnReset();
  // A command of the system menu: 16 to 31 open the About box; the others move or
  // close the window.
  void OnSysCommand(unsigned nID, long lParam);

  // The window's system menu, shown as the dialog's context menu.
  QMenu* SystemMenu() const { return m_pSysMenu; }
  // The panes the last OnPaint drew a picture into, in drawing order.
  const std::vector<int>& PaintedPanes() const { return m_paintedPanes; }
  // The pixels of a surface as a picture (null when the surface is empty).
  static QImage SurfaceImage(const ImageSurface& surface);

  // --- runs ----------------------------------------------------------------
  bool IsRunning() const { return m_pRun != nullptr; }
  // Asks the run to stop after its current sweep or cycle.
  void RequestStop();
  // Blocks until the run (if any) has ended and its result is shown.
  void WaitForRun();
  // What the automatic mode measures and why it stopped, or the last run's outcome.
  QString StatusText() const;
  // The figures the chart shows: one per measured cycle of the last automatic run.
  const std::vector<double>& ChartValues() const { return m_chart; }
  bool ChartIsSettle() const { return m_bChartSettle; }

  // --- the viewer ----------------------------------------------------------
  // Opens (or raises) the viewer on `picture`; in paint mode over the damaged one.
  void OpenViewer(ViewerPicture picture, bool paint);
  CPictureViewer* Viewer() const { return m_pViewer; }

 protected:
  bool OnInitDialog() override;
  // Enter and the OK command do nothing: the dialog stays open, the fields unread.
  void OnOK() override {}
  // Exit, the close box and the system menu's Close: asks before a running
  // restoration or an unsaved result is lost; Escape does nothing.
  void OnCancel() override;
  void OnCommand(int id) override;
  void OnPaint() override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  // --- engine services (the worker thread uses them while a run goes) --------
  std::string GetItemText(int id) const override;
  void SetItemText(int id, const std::string& text) override;
  void MessageBox(const std::string& text, const std::string& caption) override;
  void ReportBadEntry(int id, const std::string& message) override;
  std::uint32_t GetTickCount() override { return MonotonicTickCount(); }
  void EnableItem(int id, bool enable) override;
  void ShowResult() override;
  // --- file services ---------------------------------------------------------
  std::optional<std::string> FileDialog(bool bOpen) override;
  void PaneChanged(int paneId) override;
  // --- run observer (called on the worker thread) ------------------------------
  void Progress(const RunProgress& progress) override;
  bool StopRequested() override { return m_bStopRequested.load(); }
  // --- viewer host -------------------------------------------------------------
  void UseMask(const QImage& mask) override;
  void SaveMask(const QImage& mask) override;

  // The one place that decides which controls are enabled.
  void UpdateControls();
  void StartRun(bool automatic);
  void FinishRun();
  void ShowProgress(const RunProgress& progress, const QImage& preview);
  void SetStatus(const QString& text);
  // Puts the focus on an edit and selects its text.
  void FocusEdit(int id);
  void PaintChart(QPainter& painter);
  void RefreshViewer();

  struct RunState {
    bool automatic = false;
    bool settling = false;
    std::map<int, std::string> texts;  // the edits as the run reads and writes them
    std::vector<std::pair<std::string, std::string>> messages;  // shown when it ends
    bool showResult = false;
    std::uint32_t startTick = 0;
    std::uint32_t lastPreviewTick = 0;
    std::uint32_t previewGap = 0;  // milliseconds between previews (more for larger pictures)
    std::thread worker;
  };

  CRestoreEngine m_engine;
  CImageFiles m_files;
  QIcon m_hIcon;
  QMenu* m_pSysMenu = nullptr;
  QPointer<CPictureViewer> m_pViewer;
  std::vector<int> m_paintedPanes;
  std::unique_ptr<RunState> m_pRun;
  std::atomic<bool> m_bStopRequested{false};
  bool m_bCloseAfterRun = false;  // Exit asked to stop the run and close
  QImage m_resultPreview;         // the result so far, in the result pane while a run goes
  QString m_status;
  std::vector<double> m_chart;
  bool m_bChartSettle = false;
  QProgressBar* m_pProgress = nullptr;
};
