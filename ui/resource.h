// Resource ids of the window program.
#pragma once

#include <QIcon>
#include <QString>

#include "ui/dialog_framework.h"

enum : int {
  IDD_ABOUTBOX = 100,
  IDS_ABOUTBOX = 101,
  IDD_MAIN_DIALOG = 102,
  IDR_MAINFRAME = 128,
};
// The controls of the strip below the original dialog.
enum : int {
  IDC_PROGRESS = 1030,
  IDC_BTN_STOP = 1031,
  IDC_BTN_VIEW = 1032,
  IDC_STATUS = 1033,
  IDC_EDIT_SETTLE = 1034,
  IDC_BTN_PAINT = 1035,
  IDC_CHART = 1036,
  IDC_LABEL_METHOD = 1037,
  IDC_COMBO_METHOD = 1038,
  IDC_BTN_UNDO = 1039,
  IDC_BTN_REDO = 1040,
  IDC_BTN_HELP = 1041,
};
// The number of controls of the original dialog, which come first in its template.
constexpr int kOriginalControlCount = 42;

// Command id of the About item in the system menu.
constexpr unsigned IDM_ABOUTBOX = 0x0010;

// Dialog templates 102 (main window) and 100 (About box).
const DialogTemplate& MainDialogTemplate();
const DialogTemplate& AboutDialogTemplate();
// The string table; an empty string for an id it does not hold.
QString LoadString(int id);
// Icon 128: one picture at 32 x 32 and 16 x 16.
QIcon LoadAppIcon();
