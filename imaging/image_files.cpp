// Load and save commands. A load decodes the whole file, checks its size, builds
// every new surface and grid aside, and only then replaces the dialog's; so a
// refused or failed load leaves every plane, list, grid, surface and field as it
// was. Save creates a new file (or, asked to overwrite, renames a complete new file
// over the old one).
#include "imaging/image_files.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "imaging/bmp_reader.h"

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

std::string Size(int w, int h) { return std::to_string(w) + " x " + std::to_string(h); }

FileResult ReadImage(const std::string& path, RgbImage* image) {
  BmpReadResult read = ReadBmpFile(path);
  if (!read.ok) return Failure("File Gagal diBuka", "Error", path + ": " + read.reason);
  *image = std::move(read.image);
  return FileResult();
}

// Images must fit the planes.
FileResult CheckSize(const RgbImage& image) {
  if (image.width < 1 || image.height < 1 || image.width > kMaxImageSide ||
      image.height > kMaxImageSide)
    return Failure("Image too large", kNotValid,
                   "image is " + Size(image.width, image.height) + "; the limit is " +
                       Size(kMaxImageSide, kMaxImageSide));
  return FileResult();
}

FileResult OutOfMemory(const std::string& what) {
  return Failure("Cannot create array pointer", "error", "not enough memory for " + what);
}

bool IsBmpExtension(const std::string& ext) { return ext == "BMP" || ext == "bmp"; }
}  // namespace

std::string CImageFiles::FileExtension(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
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
  if (!CreateSurface(w, h, &damaged) || !CreateSurface(w, h, &result))
    return OutOfMemory("the image surfaces");
  DoubleGrid channel = AllocGrid(w, h), next = AllocGrid(w, h), weight = AllocGrid(w, h);
  if (channel.IsNull() || next.IsNull() || weight.IsNull())
    return OutOfMemory("the diffusion grids");
  FillSurface(image, &damaged);
  m_surfDamaged = std::move(damaged);
  m_surfResult = std::move(result);
  ReadDamagedPixels(m_surfDamaged.hMemDC.get());
  m_gridChannel = std::move(channel);
  m_gridNext = std::move(next);
  m_gridWeight = std::move(weight);
  ++m_nGeneration;
  PaneChanged(IDC_PANE_DAMAGED);
  PaneChanged(IDC_PANE_RESULT);
  return r;
}

FileResult CImageFiles::LoadMaskImage(const RgbImage& image) {
  FileResult r = CheckSize(image);
  if (!r.ok) return r;
  if (m_surfDamaged.bLoaded != 1)
    return Failure("Load a damaged image first.", kNotValid,
                   "the mask is " + Size(image.width, image.height) +
                       " but no damaged image is loaded");
  if (image.width != Width() || image.height != Height())
    return Failure("The mask does not match the damaged image.", kNotValid,
                   "mask is " + Size(image.width, image.height) + " but the damaged image is " +
                       Size(Width(), Height()));
  ImageSurface mask;
  if (!CreateSurface(image.width, image.height, &mask)) return OutOfMemory("the mask surface");
  FillSurface(image, &mask);
  std::swap(m_surfMask, mask);
  const int count = BuildMaskList(m_surfMask.hMemDC.get());
  if (count < 0) {
    std::swap(m_surfMask, mask);
    return OutOfMemory("the mask list");
  }
  m_nMaskCount = count;
  m_nMaskPixels = std::uint32_t(m_nMaskCount);
  UpdateData(false);
  PaneChanged(IDC_PANE_MASK);
  return r;
}

FileResult CImageFiles::LoadOriginalImage(const RgbImage& image) {
  FileResult r = CheckSize(image);
  if (!r.ok) return r;
  ImageSurface original;
  if (!CreateSurface(image.width, image.height, &original))
    return OutOfMemory("the image surface");
  FillSurface(image, &original);
  m_surfOriginal = std::move(original);
  ReadOriginalPixels(m_surfOriginal.hMemDC.get());
  PaneChanged(IDC_PANE_ORIGINAL);
  return r;
}

FileResult CImageFiles::SaveResult(const std::string& path, bool overwrite, FileSink& sink) {
  if (!overwrite) {
    const ::SaveResult s = SaveBmp(path, m_surfResult, sink);
    return s.ok ? FileResult() : Failure("cannot create file", "", s.reason);
  }
  // Write a complete new file beside the target, then put it in the target's place.
  const std::string temp = path + ".tmp-" + std::to_string(::getpid());
  const ::SaveResult s = SaveBmp(temp, m_surfResult, sink);
  if (!s.ok) return Failure("cannot create file", "", s.reason);
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    sink.Remove(temp);
    return Failure("cannot create file", "", path + ": cannot replace the existing file");
  }
  return FileResult();
}

// Asks for a file; refuses a cancelled dialog or an extension other than BMP/bmp.
std::optional<std::string> CImageFiles::ChooseBmpFile(bool bOpen) {
  const auto file = FileDialog(bOpen);
  if (file && IsBmpExtension(FileExtension(*file))) return file;
  MessageBox("Citra BMP please!", kNotValid);
  return std::nullopt;
}

void CImageFiles::Report(const FileResult& result) {
  if (!result.ok) MessageBox(result.Text(), result.caption);
}

void CImageFiles::OnLoadDamaged() {
  if (const auto file = ChooseBmpFile(true)) Report(LoadDamaged(*file));
}

void CImageFiles::OnLoadOriginal() {
  if (const auto file = ChooseBmpFile(true)) Report(LoadOriginal(*file));
}

void CImageFiles::OnLoadMask() {
  if (const auto file = ChooseBmpFile(true)) {
    Report(LoadMask(*file));
    return;
  }
  // Refused choice: the pixel count field shows the current mask again.
  m_nMaskPixels = std::uint32_t(m_nMaskCount);
  UpdateData(false);
}

void CImageFiles::OnSave() {
  if (const auto file = ChooseBmpFile(false)) Report(SaveResult(*file));
}
