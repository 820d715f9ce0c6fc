// The load and save commands: they join the file layer and the engine. A file is
// decoded into a picture, checked against the engine's limits and the pictures
// already loaded, and its pixels go straight into the engine's planes (or mask
// list); a surface keeps each picture for display and saving. A refused or failed
// command changes nothing and says why as a value; the window and the command
// line share all of it (the window adds its file dialogs and message boxes).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/engine.h"
#include "imaging/file_sink.h"
#include "imaging/image_error.h"
#include "imaging/surface.h"

// The program's name, where a message has no caption of its own.
constexpr const char* kAppTitle = "ruvanta";

// The four panes, each showing one picture.
enum class Pane { kDamaged, kMask, kResult, kOriginal };

// What the commands tell the window.
class CFileServices {
 public:
  virtual ~CFileServices() = default;
  // A pane's picture changed (after a load or a run).
  virtual void PaneChanged(Pane /*pane*/) {}
};

struct FileResult {
  bool ok = true;
  std::string message;                   // the message box text, e.g. "File Gagal diBuka"
  std::string caption;                   // its caption ("" shows the application title)
  std::string reason;                    // one line a person can act on
  ImageError error = ImageError::kNone;  // the reader's, when it refused the file
  std::string notice;  // after a load that succeeded: something the user should know
  // message and reason on two lines, as a message box shows them
  std::string Text() const { return reason.empty() ? message : message + "\n" + reason; }
};

// The readers' limits: the engine's.
ImageLimits EngineImageLimits();

// The headers of a restoration's pictures, read and compared before any pixel is
// decoded: a file a load would refuse by its header is refused with the load's
// message, and a mask or original whose size differs from the damaged image's
// with the message loading it would give. `original` "" for none.
struct PictureHeaders {
  ImageHeader damaged, mask, original;
};
FileResult ReadPictureHeaders(const std::string& damaged, const std::string& mask,
                              const std::string& original, PictureHeaders* headers);

class CImageFiles {
 public:
  CImageFiles(CRestoreEngine& engine, CFileServices& services)
      : m_engine(engine), m_services(services) {}
  CImageFiles(const CImageFiles&) = delete;
  CImageFiles& operator=(const CImageFiles&) = delete;

  // Whether the damaged, mask and original surfaces keep their pictures (true, the
  // default: a window shows them). A run that shows nothing needs only their sizes
  // (the result's surface always keeps its picture: it is what a save writes); an
  // original of another size is then not taken up again when the size returns.
  void SetPanePictures(bool keep) { m_bPanePictures = keep; }

  ImageSurface m_surfDamaged;
  ImageSurface m_surfResult;
  ImageSurface m_surfMask;
  ImageSurface m_surfOriginal;

  // Decodes a picture file within the engine's limits, with the messages a load
  // gives (so a window can decode off its thread and load the picture after).
  static FileResult ReadPicture(const std::string& path, RgbImage* image);
  FileResult LoadDamaged(const std::string& path);
  FileResult LoadMask(const std::string& path);
  FileResult LoadOriginal(const std::string& path);
  // The same from a decoded picture.
  FileResult LoadDamagedImage(const RgbImage& image);
  FileResult LoadMaskImage(const RgbImage& image);
  FileResult LoadOriginalImage(const RgbImage& image);
  // Writes the result to a new file: PNG when the name ends in .png (in any
  // case), a 24-bit BMP otherwise. The whole file appears or nothing does. With
  // `overwrite` an existing file is replaced once the new one is complete, keeping
  // its permission bits, and a link's target is replaced, not the link. Refused
  // before any run.
  FileResult SaveResult(const std::string& path, bool overwrite = false,
                        FileSink& sink = DefaultFileSink());
  // Writes a mask (a painted one) to a new file, by the same rule; never over an
  // existing file.
  FileResult SaveMaskImage(const std::string& path, const RgbImage& mask,
                           FileSink& sink = DefaultFileSink());

  // The work plane into the result surface, and the result pane told.
  void ShowResult();
  // Back to no result (black, nothing to save), as right after the damaged image
  // loaded: for undoing the first run.
  void ClearResult();
  // A run has produced the result surface's picture since the damaged image loaded.
  bool HasResult() const { return m_nResultVersion != 0; }
  // A result that no save has written since it last changed.
  bool ResultUnsaved() const { return HasResult() && m_nResultVersion != m_nSavedVersion; }
  // An original is shown but no longer matches the damaged image's size.
  bool OriginalStale() const { return m_surfOriginal.bLoaded == 1 && !m_engine.HasOriginal(); }
  // "the original image is 320 x 240 but the damaged image is 800 x 600".
  std::string OriginalMismatch() const;

  // The extension of a path without its dot ("" when it has none).
  static std::string FileExtension(const std::string& path);
  // Whether a name's extension is one a picture is read from (or written to).
  static bool IsReadableName(const std::string& path);
  static bool IsWritableName(const std::string& path);

 private:
  // "<what> is W x H but the damaged image is W x H".
  std::string AgainstDamaged(const std::string& what, int w, int h) const;

  // A surface for a pane, with its picture when they are kept.
  bool PaneSurface(int width, int height, ImageSurface* surface) const;

  CRestoreEngine& m_engine;
  CFileServices& m_services;
  bool m_bPanePictures = true;
  std::uint64_t m_nResultVersion = 0;
  std::uint64_t m_nSavedVersion = 0;
};
