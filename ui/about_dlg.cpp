#include "ui/about_dlg.h"

#include "ui/resource.h"

CAboutDlg::CAboutDlg(QWidget* parent) : CDialog(AboutDialogTemplate(), parent) {
  SetIcon(LoadAppIcon());
}
