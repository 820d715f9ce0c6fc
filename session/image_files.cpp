// Load and save commands. A load decodes the whole file, checks its size against
// the engine's limits and the pictures already loaded, builds every new surface
// aside, hands the pixels to the engine (which makes its planes and grids aside
// too), and only then replaces what the dialog shows; so a refused or failed load
// leaves every plane, list, grid, surface and field as it was. A save writes the
// whole file or nothing (imaging/atomic_file.h): a new file, or, asked to
// overwrite, a complete new file moved over the old one.
#include "session/image_files.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "engine/limits.h"
#include "imaging/atomic_file.h"
#include "imaging/bmp_writer.h"
#include "imaging/image_reader.h"
#include "imaging/png_codec.h"

namespace {
constexpr const char* kNotValid = "not valid";

FileResult Failure(std::string message, std::string caption, std::string reason) {
  FileResult r;
  r.ok = false;
  r.message = std::move(message);
  r.caption = std::move(caption);
  r.reason = std::move(reason);
  return r;
}

std::string SizeText(int w, int h) { return std::to_string(w) + " x " + std::to_string(h); }

FileResult ReadRefused(const std::string& path, ImageError error, const std::string& reason) {
  FileResult r = error == ImageError::kTooLarge
                     ? Failure("Image too large", kNotValid, path + ": " + reason)
                     : Failure("File Gagal diBuka", "Error", path + ": " + reason);
  r.error = error;
  return r;
}

FileResult ReadImage(const std::string& path, RgbImage* image) {
  ImageReadResult read = ReadImageFile(path, EngineImageLimits());
  if (!read.ok()) return ReadRefused(path, read.error, read.reason);
  *image = std::move(read.image);
  return FileResult();
}

// A picture handed over in memory meets the same limits as one read from a file.
FileResult CheckSize(const RgbImage& image) {
  const std::string why = CheckImageLimits(image.width, image.height, EngineImageLimits());
  if (!why.empty()) {
    FileResult r = Failure("Image too large", kNotValid, why);
    r.error = ImageError::kTooLarge;
    return r;
  }
  return FileResult();
}

FileResult OutOfMemory(const std::string& what) {
  return Failure("Cannot create array pointer", "error", "not enough memory for " + what);
}

PixelBytes Bytes(const RgbImage& image) {
  return PixelBytes{image.width, image.height, image.rgb.data(), std::size_t(image.width) * 3};
}

std::string Lower(std::string s) {
  for (char& ch : s)
    if (ch >= 'A' && ch <= 'Z') ch = char(ch - 'A' + 'a');
  return s;
}

bool IsPngName(const std::string& path) { return Lower(CImageFiles::FileExtension(path)) == "png"; }

// The file for a picture, PNG or BMP by its name.
bool EncodePicture(const std::string& path, const RgbImage& picture,
                   std::vector<std::uint8_t>* file, std::string* reason) {
  return IsPngName(path) ? EncodePng(picture, file, reason) : EncodeBmp(picture, file, reason);
}

// Writes a file whole or not at all (see imaging/atomic_file.h). The name is
// checked and the temporary file made before anything is encoded, so an existing
// file is refused at once.
template <typename Encode>
SaveResult SaveEncoded(const std::string& path, Existing existing, FileSink& sink, Encode encode) {
  SaveResult r;
  AtomicFile file(sink);
  if (!file.Begin(path, existing, &r.reason)) return r;
  std::vector<std::uint8_t> bytes;
  std::string reason;
  if (!encode(&bytes, &reason)) {
    r.reason = "cannot save " + path + ": " + reason;
    return r;  // the temporary file goes with `file`
  }
  if (!file.Write(bytes.data(), bytes.size(), &r.reason)) return r;
  r.ok = file.Commit(&r.reason);
  return r;
}

// A picture to a new file.
SaveResult SavePicture(const std::string& path, const RgbImage& picture, FileSink& sink) {
  return SaveEncoded(path, Existing::kKeep, sink,
                     [&](std::vector<std::uint8_t>* file, std::string* why) {
                       return EncodePicture(path, picture, file, why);
                     });
}
}  // namespace

FileResult ReadPictureHeaders(const std::string& damaged, const std::string& mask,
                              const std::string& original, PictureHeaders* headers) {
  const std::pair<const std::string*, ImageHeader*> files[] = {
      {&damaged, &headers->damaged}, {&mask, &headers->mask}, {&original, &headers->original}};
  for (const auto& [path, header] : files) {
    if (path->empty()) continue;
    *header = ReadImageHeader(*path, EngineImageLimits());
    if (!header->ok()) return ReadRefused(*path, header->error, header->reason);
  }
  const ImageHeader& d = headers->damaged;
  const auto against = [&d](const std::string& what, const ImageHeader& h) {
    return what + " is " + SizeText(h.width, h.height) + " but the damaged image is " +
           SizeText(d.width, d.height);
  };
  const ImageHeader& m = headers->mask;
  if (m.width != d.width || m.height != d.height)
    return Failure("The mask does not match the damaged image.", kNotValid, against("mask", m));
  const ImageHeader& o = headers->original;
  if (!original.empty() && (o.width != d.width || o.height != d.height))
    return Failure("The original does not match the damaged image.", kNotValid,
                   against("the original", o));
  return FileResult();
}

ImageLimits EngineImageLimits() {
  ImageLimits limits;
  limits.maxSide = kMaxImageSide;
  limits.maxPixels = kMaxImagePixels;
  return limits;
}

std::string CImageFiles::FileExtension(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

bool CImageFiles::IsReadableName(const std::string& path) {
  const std::string ext = Lower(FileExtension(path));
  return ext == "bmp" || ext == "png" || ext == "jpg" || ext == "jpeg";
}

bool CImageFiles::IsWritableName(const std::string& path) {
  const std::string ext = Lower(FileExtension(path));
  return ext == "bmp" || ext == "png";
}

std::string CImageFiles::AgainstDamaged(const std::string& what, int w, int h) const {
  return what + " is " + SizeText(w, h) + " but the damaged image is " +
         SizeText(m_engine.Width(), m_engine.Height());
}

std::string CImageFiles::OriginalMismatch() const {
  return AgainstDamaged("the original image", m_surfOriginal.nWidth, m_surfOriginal.nHeight);
}

FileResult CImageFiles::ReadPicture(const std::string& path, RgbImage* image) {
  return ReadImage(path, image);
}

FileResult CImageFiles::LoadDamaged(const std::string& path) {
  RgbImage image;
  const FileResult r = ReadImage(path, &image);
  return r.ok ? LoadDamagedImage(image) : r;
}

FileResult CImageFiles::LoadMask(const std::string& path) {
  RgbImage image;
  const FileResult r = ReadImage(path, &image);
  return r.ok ? LoadMaskImage(image) : r;
}

FileResult CImageFiles::LoadOriginal(const std::string& path) {
  RgbImage image;
  const FileResult r = ReadImage(path, &image);
  return r.ok ? LoadOriginalImage(image) : r;
}

FileResult CImageFiles::LoadDamagedImage(const RgbImage& image) {
  FileResult r = CheckSize(image);
  if (!r.ok) return r;
  const int w = image.width, h = image.height;
  ImageSurface damaged, result;
  if (!PaneSurface(w, h, &damaged) || !CreateSurface(w, h, &result))
    return OutOfMemory("the image surfaces");
  const bool hadOriginal = m_engine.HasOriginal();
  if (!m_engine.ReadDamagedPixels(Bytes(image)))
    return OutOfMemory("the planes and diffusion grids of a " + SizeText(w, h) + " image");
  FillSurface(image, &damaged);
  m_surfDamaged = std::move(damaged);
  m_surfResult = std::move(result);
  m_nResultVersion = m_nSavedVersion = 0;
  // An original set aside for another size is taken up again when the size fits.
  if (!m_engine.HasOriginal() && m_surfOriginal.bLoaded == 1 && m_surfOriginal.nWidth == w &&
      m_surfOriginal.nHeight == h && m_surfOriginal.picture.width == w) {
    m_engine.ReadOriginalPixels(Bytes(m_surfOriginal.picture));
  }
  if (hadOriginal && !m_engine.HasOriginal())
    r.notice = "The original no longer matches: " + OriginalMismatch() +
               ". The PSNR is not measured against it until a matching original is loaded.";
  m_services.PaneChanged(Pane::kDamaged);
  m_services.PaneChanged(Pane::kResult);
  return r;
}

FileResult CImageFiles::LoadMaskImage(const RgbImage& image) {
  FileResult r = CheckSize(image);
  if (!r.ok) return r;
  if (!m_engine.HasDamaged())
    return Failure(
        "Load a damaged image first.", kNotValid,
        "the mask is " + SizeText(image.width, image.height) + " but no damaged image is loaded");
  if (image.width != m_engine.Width() || image.height != m_engine.Height())
    return Failure("The mask does not match the damaged image.", kNotValid,
                   AgainstDamaged("mask", image.width, image.height));
  ImageSurface mask;
  if (!PaneSurface(image.width, image.height, &mask)) return OutOfMemory("the mask surface");
  const int count = m_engine.BuildMaskList(Bytes(image));
  if (count < 0) return OutOfMemory("the mask list");
  FillSurface(image, &mask);
  m_surfMask = std::move(mask);
  m_engine.m_fields.m_nMaskPixels = std::uint32_t(m_engine.m_nMaskCount);
  m_engine.ShowFields();
  m_services.PaneChanged(Pane::kMask);
  return r;
}

FileResult CImageFiles::LoadOriginalImage(const RgbImage& image) {
  FileResult r = CheckSize(image);
  if (!r.ok) return r;
  if (m_engine.HasDamaged() &&
      (image.width != m_engine.Width() || image.height != m_engine.Height()))
    return Failure("The original does not match the damaged image.", kNotValid,
                   AgainstDamaged("the original", image.width, image.height));
  ImageSurface original;
  if (!PaneSurface(image.width, image.height, &original)) return OutOfMemory("the image surface");
  if (!m_engine.ReadOriginalPixels(Bytes(image))) return OutOfMemory("the original's plane");
  FillSurface(image, &original);
  m_surfOriginal = std::move(original);
  m_services.PaneChanged(Pane::kOriginal);
  return r;
}

bool CImageFiles::PaneSurface(int width, int height, ImageSurface* surface) const {
  if (m_bPanePictures) return CreateSurface(width, height, surface);
  if (width < 1 || height < 1) return false;
  *surface = ImageSurface();
  surface->nWidth = width;
  surface->nHeight = height;
  surface->bLoaded = 1;
  return true;
}

void CImageFiles::ShowResult() {
  // The surface is made with the damaged image, at the engine's extent.
  RgbImage& picture = m_surfResult.picture;
  if (picture.width != m_engine.Width() || picture.height != m_engine.Height()) return;
  m_engine.ResultPixels(picture.rgb.data(), std::size_t(picture.width) * 3);
  ++m_nResultVersion;
  m_services.PaneChanged(Pane::kResult);
}

void CImageFiles::ClearResult() {
  ImageSurface blank;
  if (m_surfDamaged.bLoaded == 1 &&
      CreateSurface(m_surfDamaged.nWidth, m_surfDamaged.nHeight, &blank))
    m_surfResult = std::move(blank);
  m_nResultVersion = m_nSavedVersion = 0;
  m_services.PaneChanged(Pane::kResult);
}

FileResult CImageFiles::SaveResult(const std::string& path, bool overwrite, FileSink& sink) {
  if (!HasResult())
    return Failure("Nothing to save yet.", kNotValid,
                   "run the restoration (RUVANTA or Go !!!) first; Save writes its result");
  const Existing existing = overwrite ? Existing::kReplace : Existing::kKeep;
  const ::SaveResult s =
      SaveEncoded(path, existing, sink, [&](std::vector<std::uint8_t>* file, std::string* why) {
        return EncodePicture(path, m_surfResult.picture, file, why);
      });
  if (!s.ok) return Failure("cannot create file", "", s.reason);
  m_nSavedVersion = m_nResultVersion;
  return FileResult();
}

FileResult CImageFiles::SaveMaskImage(const std::string& path, const RgbImage& mask,
                                      FileSink& sink) {
  const ::SaveResult s = SavePicture(path, mask, sink);
  return s.ok ? FileResult() : Failure("cannot create file", "", s.reason);
}
