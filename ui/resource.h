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
// Command id of the About item in the system menu.
constexpr unsigned IDM_ABOUTBOX = 0x0010;

// Dialog templates 102 (main window) and 100 (About box).
const DialogTemplate& MainDialogTemplate();
const DialogTemplate& AboutDialogTemplate();
// The string table; an empty string for an id it does not hold.
QString LoadString(int id);
// Icon 128: one picture at 32 x 32 and 16 x 16.
QIcon LoadAppIcon();
