// The application object: shows the main dialog as the application's window and
// runs the event loop; the program ends when the dialog closes.
#pragma once

#include <memory>

class CMainDlg;

class CMainApp {
 public:
  CMainApp();
  ~CMainApp();
  // Creates and shows the main dialog (a picture file among the arguments loads as
  // the damaged image); true: the event loop follows.
  bool InitInstance();
  // Starts the toolkit, calls InitInstance and runs the event loop; the process's
  // exit code.
  int Run(int argc, char** argv);

  CMainDlg* m_pMainWnd = nullptr;

 private:
  std::unique_ptr<CMainDlg> m_pDlg;
};

extern CMainApp theApp;
