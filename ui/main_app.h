// The application object: runs the main dialog modally; the program ends when the
// dialog closes.
#pragma once

class CMainDlg;

class CMainApp {
 public:
  // Runs the main dialog; returns false, so no message loop follows.
  bool InitInstance();
  // Starts the toolkit and calls InitInstance; the process's exit code.
  int Run(int argc, char** argv);

  CMainDlg* m_pMainWnd = nullptr;
};

extern CMainApp theApp;
