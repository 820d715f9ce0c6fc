#include "ui/main_app.h"

#include <QApplication>

#include "ui/main_dlg.h"

bool CMainApp::InitInstance() {
  CMainDlg dlg(nullptr);
  m_pMainWnd = &dlg;
  dlg.DoModal();
  m_pMainWnd = nullptr;
  return false;
}

int CMainApp::Run(int argc, char** argv) {
  QApplication app(argc, argv);
  InitInstance();
  return 0;
}
