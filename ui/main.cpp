#include "ui/main_app.h"

CMainApp theApp;

int main(int argc, char** argv) { return theApp.Run(argc, argv); }
