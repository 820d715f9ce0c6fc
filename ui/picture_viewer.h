// The picture viewer: a window of its own that shows the damaged picture, the
// result or the original whole or zoomed, tints the mask over it, and paints the
// mask in place. The painted mask goes back to the main window only when the user
// asks ("Use this mask", "Save mask..."); closing the viewer changes nothing there.
#pragma once

#include <QImage>
#include <QWidget>

#include "ui/viewer_canvas.h"

class QAction;
class QLabel;
class QSpinBox;

// What the viewer asks of the window that opened it.
class CViewerHost {
 public:
  virtual ~CViewerHost() = default;
  // The painted mask, to be used for the next run. Damaged picture's size,
  // Format_RGB888, pure white where masked and pure black elsewhere.
  virtual void UseMask(const QImage& mask) = 0;
  // The same mask, to be written to a new file the host asks the user for.
  virtual void SaveMask(const QImage& mask) = 0;
};

class CPictureViewer : public QWidget {
  Q_OBJECT
 public:
  explicit CPictureViewer(CViewerHost* host, QWidget* parent = nullptr);

  // A null picture is not available (its button is disabled). The shown picture
  // is replaced in place, keeping zoom and position.
  void SetPicture(ViewerPicture which, const QImage& picture);
  // The loaded mask (non-black = masked), or null; painting starts over from it.
  void SetMask(const QImage& mask);
  // Keeps zoom and position.
  void ShowPicture(ViewerPicture which);
  ViewerPicture Current() const { return m_canvas->Current(); }

  // The drawing surface: zoom, position and the painted mask, for tests.
  CViewerCanvas* Canvas() const { return m_canvas; }
  // The painted mask as it would go to the host.
  QImage PaintedMask() const { return m_canvas->Mask().ToImage(); }
  QString StatusText() const;

 private:
  QAction* AddAction(const QString& text, const QString& tip, const QList<QKeySequence>& keys,
                     bool checkable);
  void SyncControls();
  void SyncStatus();

  CViewerHost* m_host;
  CViewerCanvas* m_canvas;
  QLabel* m_status;
  QSpinBox* m_brush;
  QAction* m_show[3];
  QAction* m_fit;
  QAction* m_actual;
  QAction* m_zoomIn;
  QAction* m_zoomOut;
  QAction* m_overlay;
  QAction* m_paint;
  QAction* m_eraser;
  QAction* m_smaller;
  QAction* m_larger;
  QAction* m_undo;
  QAction* m_redo;
  QAction* m_clear;
  QAction* m_use;
  QAction* m_save;
  QAction* m_close;
};
