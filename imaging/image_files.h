// The load and save commands: a file becomes surfaces, planes, a mask list or
// grids (or the result surface becomes a file). A refused or failed command
// changes nothing. The On... handlers add the file dialog, the extension test and
// the message boxes; the window and the command line share all of it.
#pragma once

#include <optional>
#include <string>

#include "engine/engine.h"
#include "imaging/bmp_reader.h"
#include "imaging/bmp_writer.h"

struct FileResult {
  bool ok = true;
  std::string message;  // the message box text, e.g. "File Gagal diBuka"
  std::string caption;  // its caption ("" shows the application title)
  std::string reason;   // one line a person can act on
  // message and reason on two lines, as a message box shows them
  std::string Text() const { return reason.empty() ? message : message + "\n" + reason; }
};

constexpr int kMaxImageSide = kPlaneSide;

class CImageFiles : public CRestoreEngine {
 public:
  FileResult LoadDamaged(const std::string& path);
  FileResult LoadMask(const std::string& path);
  FileResult LoadOriginal(const std::string& path);
  // The same from a decoded picture.
  FileResult LoadDamagedImage(const RgbImage& image);
  FileResult LoadMaskImage(const RgbImage& image);
  FileResult LoadOriginalImage(const RgbImage& image);
  // Writes the result surface to a new file; with `overwrite` an existing file is
  // replaced only once the new one is complete.
  FileResult SaveResult(const std::string& path, bool overwrite = false,
                        FileSink& sink = DefaultFileSink());

  // Button handlers: file dialog, extension test ("BMP" or "bmp"), message boxes.
  void OnLoadDamaged();
  void OnLoadMask();
  void OnLoadOriginal();
  void OnSave();

  // The extension of a path without its dot ("" when it has none).
  static std::string FileExtension(const std::string& path);

 private:
  std::optional<std::string> ChooseBmpFile(bool bOpen);
  void Report(const FileResult& result);
};
