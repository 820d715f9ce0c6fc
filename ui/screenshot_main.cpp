// Renders the main window after loading an original, a damaged image and a mask
// and one run into a PNG file. File dialogs are answered with the given files;
// any message box is printed and makes the program fail.
//
//   ruvanta-screenshot ORIGINAL DAMAGED MASK OUTPUT.png
#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPixmap>

#include <cstdio>
#include <deque>

#include "ui/main_dlg.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 5) {
    std::fprintf(stderr, "usage: ruvanta-screenshot ORIGINAL DAMAGED MASK OUTPUT.png\n");
    return 2;
  }
  std::deque<QString> answers = {QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]),
                                 QString::fromLocal8Bit(argv[3])};
  bool failed = false;
  ModalHooks().fileDialog = [&](QFileDialog&) -> std::optional<QString> {
    if (answers.empty()) return std::nullopt;
    QString next = answers.front();
    answers.pop_front();
    return next;
  };
  ModalHooks().messageBox = [&](QMessageBox& box) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(box.windowTitle()), qPrintable(box.text()));
    failed = true;
    return int(QMessageBox::Ok);
  };

  CMainDlg dlg;
  dlg.Create();
  dlg.show();
  for (int id : {int(IDC_BTN_LOAD_ORIGINAL), int(IDC_BTN_LOAD_DAMAGED), int(IDC_BTN_LOAD_MASK),
                 int(IDC_BTN_RUN)})
    static_cast<QAbstractButton*>(dlg.GetDlgItem(id))->click();
  dlg.WaitForRun();
  QApplication::processEvents();
  if (failed) return 1;
  if (!dlg.grab().save(QString::fromLocal8Bit(argv[4]), "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", argv[4]);
    return 1;
  }
  return 0;
}
