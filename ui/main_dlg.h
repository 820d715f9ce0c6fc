// The main window: dialog template 102 over the restoration engine and the load
// and save commands. The engine's dialog services (control texts, buttons,
// message boxes, file dialogs, wait cursor, pane refresh) are the window's.
#pragma once

#include <QIcon>
#include <QImage>

#include <string>
#include <vector>

#include "imaging/image_files.h"
#include "ui/dialog_framework.h"

class QMenu;

class CMainDlg : public CDialog, public CImageFiles {
  Q_OBJECT
 public:
  explicit CMainDlg(QWidget* parent = nullptr);
  ~CMainDlg() override;

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
  // The pixels of a surface as a picture (black when the surface is empty).
  static QImage SurfaceImage(const ImageSurface& surface);

  // --- dialog services ---------------------------------------------------------
  std::string GetItemText(int id) const override;
  void SetItemText(int id, const std::string& text) override;
  void EnableItem(int id, bool enable) override;
  bool IsItemEnabled(int id) const override;
  void MessageBox(const std::string& text, const std::string& caption) override;
  std::optional<std::string> FileDialog(bool bOpen) override;
  void BeginWaitCursor() override;
  void EndWaitCursor() override;
  void PaneChanged(int paneId) override;

 protected:
  bool OnInitDialog() override;
  // Enter and the OK command do nothing: the dialog stays open, the fields unread.
  void OnOK() override {}
  void OnCommand(int id) override;
  void OnPaint() override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void ReportBadEntry(int id, const std::string& message) override;

 private:
  QIcon m_hIcon;
  QMenu* m_pSysMenu = nullptr;
  std::vector<int> m_paintedPanes;
  int m_nWaitCursor = 0;
};
