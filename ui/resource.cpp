#include "ui/resource.h"

#include <QPainter>
#include <QPixmap>

namespace {
using K = ControlKind;

DialogTemplate MakeMainTemplate() {
  // The 42 controls of the dialog as it always was, then the strip below it: the
  // run's progress, the method, Stop, the viewer, undo and redo of runs, help, the
  // settle level and the cycle chart.
  DialogTemplate t{IDD_MAIN_DIALOG, "ruvanta", 471, 488, {}, false, 0, 0, {}};
  t.controls = {
      {1004, K::DefPushButton, "Citra Rusak", 401, 34, 57, 14},
      {2, K::PushButton, "Exit", 7, 382, 69, 14},
      {1000, K::GroupBox, "Citra Rusak", 199, 7, 186, 175},
      {1001, K::GroupBox, "Citra Mask", 7, 184, 186, 175},
      {1002, K::Pane, "", 205, 18, 170, 156},
      {1003, K::Pane, "", 13, 195, 170, 156},
      {1005, K::DefPushButton, "Load Mask", 401, 85, 57, 14},
      {1006, K::DefPushButton, "RUVANTA", 401, 283, 57, 14},
      {1009, K::GroupBox, "Citra Hasil", 199, 184, 186, 175},
      {1010, K::Pane, "", 205, 195, 170, 156},
      {-1, K::GroupBox, "Jumlah Iterasi", 396, 126, 68, 98},
      {1007, K::Edit, "", 402, 146, 53, 12},
      {-1, K::Label, "Ruvanta", 402, 136, 51, 9},
      {-1, K::Label, "Diffussi", 403, 161, 36, 9},
      {1008, K::Edit, "", 402, 171, 53, 12},
      {-1, K::Label, "Diffusi/Ruvanta", 402, 186, 53, 10},
      {1011, K::Edit, "", 402, 196, 53, 12},
      {-1, K::GroupBox, "DeltaT", 395, 235, 69, 28},
      {1012, K::Edit, "", 402, 246, 53, 12},
      {1014, K::GroupBox, "Citra Original", 7, 7, 186, 175},
      {1015, K::Pane, "", 13, 18, 170, 156},
      {1016, K::DefPushButton, "Citra Original", 401, 18, 57, 14},
      {-1, K::GroupBox, "Load Citra", 395, 7, 69, 64},
      {-1, K::Label, "PSNR", 401, 52, 21, 13},
      {1013, K::Edit, "", 426, 52, 32, 13},
      {-1, K::GroupBox, "Hasil", 395, 273, 69, 48},
      {-1, K::Label, "PSNR", 401, 303, 21, 13},
      {1017, K::Edit, "", 426, 303, 32, 13},
      {-1, K::GroupBox, "Waktu", 316, 367, 69, 29},
      {1019, K::Edit, "", 321, 377, 39, 12},
      {-1, K::Label, "detik", 362, 379, 18, 9},
      {3, K::PushButton, "Reset", 7, 365, 69, 14},
      {-1, K::GroupBox, "Automatic", 395, 325, 69, 53},
      {1020, K::Edit, "", 402, 343, 53, 12},
      {1021, K::PushButton, "Go !!!", 402, 361, 54, 12},
      {-1, K::Label, "Threshold", 401, 333, 56, 8},
      {1022, K::PushButton, "Save", 395, 382, 69, 14},
      {-1, K::Label, "Total Iterasi", 401, 213, 53, 10, false, false},
      {1018, K::Edit, "", 401, 223, 53, 12, false, false},
      {-1, K::Label, "Jumlah Pixel", 401, 101, 29, 17},
      {1023, K::Edit, "", 430, 101, 28, 13},
      {-1, K::GroupBox, "Masking", 395, 73, 69, 50},
      // The strip.
      {IDC_PROGRESS, K::Progress, "", 7, 404, 302, 12},
      {IDC_LABEL_METHOD, K::Label, "Method", 316, 405, 26, 9},
      {IDC_COMBO_METHOD, K::Combo, "", 343, 403, 121, 14},
      {IDC_STATUS, K::Label, "", 7, 420, 302, 12},
      {IDC_BTN_STOP, K::PushButton, "Stop", 316, 419, 69, 14, true, false},
      {IDC_BTN_VIEW, K::PushButton, "View...", 395, 419, 69, 14},
      {IDC_BTN_UNDO, K::PushButton, "Undo", 7, 435, 50, 14, true, false},
      {IDC_BTN_REDO, K::PushButton, "Redo", 60, 435, 50, 14, true, false},
      {IDC_BTN_HELP, K::PushButton, "Help", 113, 435, 50, 14},
      {-1, K::Label, "Settle", 316, 437, 26, 9},
      {IDC_EDIT_SETTLE, K::Edit, "", 343, 435, 42, 12, true, true, true},
      {IDC_BTN_PAINT, K::PushButton, "Paint mask...", 395, 435, 69, 14},
      {IDC_CHART, K::Pane, "", 7, 452, 457, 32},
  };
  // The four pictures fill the grid left of x = 390 and above y = 362; the column
  // of buttons beside it moves right, the rows under it move down.
  t.resizable = true;
  t.gridRight = 390;
  t.gridBottom = 362;
  for (const ControlTemplate& c : t.controls) {
    Anchor a;
    if (c.x + c.cx <= t.gridRight && c.y + c.cy <= t.gridBottom)
      a = Anchor::kGrid;
    else if (c.x >= t.gridRight && c.y < 400)
      a = Anchor::kRight;
    else if (c.y >= 400 && c.x < 310 && c.cx > 100)
      a = Anchor::kBottomStretch;  // the progress bar, the status line, the chart
    else if (c.x < 310)
      a = Anchor::kBottom;
    else
      a = Anchor::kBottomRight;
    t.anchors.push_back(a);
  }
  return t;
}

DialogTemplate MakeAboutTemplate() {
  DialogTemplate t{IDD_ABOUTBOX, "About ruvanta", 235, 55, {}, false, 0, 0, {}};
  t.controls = {
      {-1, K::Icon, "", 11, 17, 20, 20},
      {-1, K::Label, "ruvanta v 1.0", 40, 10, 119, 8},
      {IDOK, K::DefPushButton, "OK", 178, 7, 50, 14},
  };
  return t;
}

// A small picture: a framed landscape with a repaired stroke across it.
QPixmap DrawIcon(int side) {
  QPixmap pixmap(side, side);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  const double s = side / 32.0;
  p.scale(s, s);
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(QColor(0, 128, 255));
  p.drawRect(2, 4, 27, 23);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 128, 0));
  p.drawPolygon(
      QPolygon({QPoint(3, 27), QPoint(12, 14), QPoint(19, 22), QPoint(23, 18), QPoint(29, 27)}));
  p.setBrush(QColor(255, 255, 0));
  p.drawEllipse(QPoint(22, 10), 3, 3);
  p.setPen(QPen(QColor(255, 0, 0), 2));
  p.drawLine(5, 7, 26, 24);
  return pixmap;
}
}  // namespace

const DialogTemplate& MainDialogTemplate() {
  static const DialogTemplate t = MakeMainTemplate();
  return t;
}

const DialogTemplate& AboutDialogTemplate() {
  static const DialogTemplate t = MakeAboutTemplate();
  return t;
}

QString LoadString(int id) {
  switch (id) {
    case IDS_ABOUTBOX:
      return QStringLiteral("&About ruvanta...");
    default:
      return QString();
  }
}

QIcon LoadAppIcon() {
  QIcon icon;
  icon.addPixmap(DrawIcon(32));
  icon.addPixmap(DrawIcon(16));
  return icon;
}
