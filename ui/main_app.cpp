#include "ui/main_app.h"

#include <QApplication>
#include <QStringList>

#include "session/image_files.h"
#include "ui/main_dlg.h"

CMainApp::CMainApp() = default;
CMainApp::~CMainApp() = default;

bool CMainApp::InitInstance() {
  m_pDlg = std::make_unique<CMainDlg>(nullptr);
  m_pMainWnd = m_pDlg.get();
  m_pDlg->Create();
  // Not modal: the viewer and the help page take input beside it. Closing it
  // (Exit, the close box) ends the program, whatever else is open.
  QObject::connect(m_pDlg.get(), &QDialog::finished, qApp, &QCoreApplication::quit);
  m_pDlg->show();
  m_pDlg->raise();
  m_pDlg->activateWindow();
  // Once the window is up: an unsaved result a crash left is offered back first;
  // a file named on the command line loads unless it is.
  const QStringList args = QCoreApplication::arguments();
  const QString file = args.size() > 1 ? args.at(1) : QString();
  CMainDlg* dlg = m_pDlg.get();
  QMetaObject::invokeMethod(
      dlg,
      [dlg, file] {
        if (!dlg->OfferRecovery() && !file.isEmpty()) dlg->OpenFile(IDC_PANE_DAMAGED, file);
      },
      Qt::QueuedConnection);
  return true;
}

int CMainApp::Run(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  int code = 0;
  if (InitInstance()) code = app.exec();
  m_pMainWnd = nullptr;
  m_pDlg.reset();
  return code;
}
