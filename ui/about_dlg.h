// The About box: template 100, closed by OK, Escape or its close box.
#pragma once

#include "ui/dialog_framework.h"

class CAboutDlg : public CDialog {
  Q_OBJECT
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};
