// Shared pieces of the window tests: scripted answers for file dialogs, message
// boxes and modal dialogs (recorded as they would have been shown), small BMP
// files, the sample data, the command-line program, and a snapshot of the
// window's state for "nothing changed" checks.
#pragma once

#include <QFileDialog>
#include <QImage>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "ui/main_dlg.h"

class ModalScript {
 public:
  ModalScript();
  ~ModalScript();
  ModalScript(const ModalScript&) = delete;
  ModalScript& operator=(const ModalScript&) = delete;

  // The next file dialog chooses `path` (nothing: Cancel).
  void Answer(std::optional<QString> path) { m_answers.push_back(std::move(path)); }

  struct Box {
    QString text;
    QString caption;
    bool noIcon;
    bool okOnly;
    QWidget* owner;
  };
  struct FileAsk {
    bool open;
    QStringList nameFilters;
    QFileDialog::Options options;
    QFileDialog::FileMode fileMode;
    QStringList shownFilters;  // the entries of the dialog's file-type list
  };
  std::vector<Box> boxes;
  // Answers of the next questions (two-button boxes): true for the first button.
  // A question with no answer queued is answered with the second (the safe one).
  std::deque<bool> questionAnswers;
  std::vector<FileAsk> fileAsks;
  int unanswered = 0;  // file dialogs asked with no answer queued (taken as Cancel)
  // Modal dialogs other than boxes and file dialogs; the answer is the end code.
  std::function<int(CDialog&)> onModal;
  int modalRuns = 0;

 private:
  std::deque<std::optional<QString>> m_answers;
};

// Writes an uncompressed 24-bit BMP, bottom-up, from a colour function.
void WriteBmp(const QString& path, int width, int height,
              const std::function<QRgb(int x, int y)>& colour);
// A file in the sample data folder.
QString SampleFile(const char* name);
// The path of the command-line program.
QString CliProgram();

struct CliResult {
  int exitCode = -1;
  QString maskPixels, psnrDamaged, psnrResult, iterations;
  QString errors;
};
CliResult RunCli(const QStringList& args);
// A float field in the form the command line prints it (%.9g).
QString Exact(float value);

// A click as a person's arrives: pressed and released on the dialog's window at
// the control's centre, so whatever lies on top there receives it. A click on a
// run button waits for the run to end.
void Click(CMainDlg& dlg, int id);
// The same without waiting for a run.
void ClickOnly(CMainDlg& dlg, int id);
// The centre of a control in the dialog window's coordinates.
QPoint CentreOf(const CMainDlg& dlg, int id);
bool Enabled(const CMainDlg& dlg, int id);
QString EditText(const CMainDlg& dlg, int id);
void SetEditText(CMainDlg& dlg, int id, const QString& text);

// Everything a refused command must leave as it was.
struct WindowState {
  QStringList edits;
  std::vector<double> fields;
  struct Surface {
    int loaded, width, height;
    QImage pixels;
    bool operator==(const Surface& o) const {
      return loaded == o.loaded && width == o.width && height == o.height && pixels == o.pixels;
    }
  };
  std::vector<Surface> surfaces;
  int maskCount;
  bool operator==(const WindowState& o) const {
    return edits == o.edits && fields == o.fields && surfaces == o.surfaces &&
           maskCount == o.maskCount;
  }
};
WindowState Snapshot(const CMainDlg& dlg);
// Loads original, damaged image and mask from the sample data through the buttons.
void LoadSamples(CMainDlg& dlg, ModalScript& script);
