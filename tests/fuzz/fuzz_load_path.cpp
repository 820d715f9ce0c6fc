// The whole load path on a pair of files: damaged image (first file), mask (second
// file), original (first file again), then a run of one transport and one
// diffusion iteration when all loads succeed and the image is small.
//
// Input layout: two bytes little-endian N, then the first file (N bytes, or all
// that is left), then the second file (the rest).
//
// Each load must succeed exactly when it should (the reader accepts the file, the
// image is within the size limits, the mask matches the damaged image), load the pixels it
// decoded, and leave everything as it was when it refuses.
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "session/headless_session.h"
#include "tests/fuzz/fuzz_common.h"

namespace {

std::string TempDir() {
  static std::string dir = [] {
    char templ[] = "/tmp/ruvanta-fuzz-XXXXXX";
    char shm[] = "/dev/shm/ruvanta-fuzz-XXXXXX";
    const char* made = mkdtemp(shm);
    if (!made) made = mkdtemp(templ);
    if (!made) fuzz::Fail("cannot create a temporary folder");
    return std::string(made);
  }();
  return dir;
}

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) fuzz::Fail("cannot write a temporary file");
  if (size && std::fwrite(data, 1, size, f) != size) fuzz::Fail("short write of a temporary file");
  std::fclose(f);
}

bool Fits(const fuzz::Expected& e) {
  return e.ok && CheckImageLimits(e.width, e.height, EngineImageLimits()).empty();
}

void CheckRefusal(const FileResult& r) {
  FUZZ_CHECK(!r.ok);
  FUZZ_CHECK(!r.message.empty());
  FUZZ_CHECK(!r.reason.empty());
}

// The plane cells of an image equal its decoded pixels.
template <typename Plane>
void CheckPlane(const Plane& plane, const fuzz::Expected& e) {
  for (int y = 0; y < e.height; ++y)
    for (int x = 0; x < e.width; ++x)
      for (int c = 0; c < 3; ++c)
        FUZZ_CHECK(plane[x][y][c] == e.rgb[(std::size_t(y) * e.width + x) * 3 + c]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  std::size_t n1 = std::size_t(data[0]) | std::size_t(data[1]) << 8;
  data += 2;
  size -= 2;
  if (n1 > size) n1 = size;
  const std::uint8_t* file1 = data;
  const std::uint8_t* file2 = data + n1;
  const std::size_t n2 = size - n1;

  const std::string dir = TempDir();
  const std::string damagedPath = dir + "/damaged.bmp", maskPath = dir + "/mask.bmp";
  WriteFile(damagedPath, file1, n1);
  WriteFile(maskPath, file2, n2);
  const fuzz::Expected e1 = fuzz::ExpectedDecode(file1, n1);
  const fuzz::Expected e2 = fuzz::ExpectedDecode(file2, n2);

  CHeadlessSession dlg;
  const CRestoreEngine& engine = dlg.engine;
  const RgbPlane& g_work = engine.g_work;
  const BytePlane& g_damaged = engine.g_damaged;
  const BytePlane& g_original = engine.g_original;
  const MaskPlane& g_mask = engine.g_mask;

  // Damaged image.
  const FileResult damaged = dlg.files.LoadDamaged(damagedPath);
  FUZZ_CHECK(damaged.ok == Fits(e1));
  if (damaged.ok) {
    FUZZ_CHECK(dlg.files.m_surfDamaged.bLoaded == 1 && dlg.files.m_surfResult.bLoaded == 1);
    FUZZ_CHECK(dlg.engine.Width() == e1.width && dlg.engine.Height() == e1.height);
    FUZZ_CHECK(dlg.files.m_surfResult.nWidth == e1.width && dlg.files.m_surfResult.nHeight == e1.height);
    for (const DoubleGrid* g : {&dlg.engine.GridWeight(), &dlg.engine.GridNext(), &dlg.engine.GridChannel()})
      FUZZ_CHECK(!g->Empty() && g->Width() == e1.width && g->Height() == e1.height);
    CheckPlane(g_damaged, e1);
    CheckPlane(g_work, e1);
  } else {
    CheckRefusal(damaged);
    FUZZ_CHECK(dlg.files.m_surfDamaged.bLoaded == 0 && dlg.files.m_surfResult.bLoaded == 0);
    FUZZ_CHECK(dlg.engine.GridChannel().Empty());
  }

  // Mask.
  // A value typed over the shown one: a mask load shows the fields again, a
  // refused one does not.
  const std::int32_t shownBefore = dlg.engine.ShownFields().m_nTransportIter;
  CDialogFields typed = dlg.engine.ShownFields();
  typed.m_nTransportIter = shownBefore + 7;
  dlg.engine.SetShownFields(typed);
  const FileResult mask = dlg.files.LoadMask(maskPath);
  const bool maskFits =
      damaged.ok && Fits(e2) && e2.width == e1.width && e2.height == e1.height;
  FUZZ_CHECK(mask.ok == maskFits);
  if (mask.ok) {
    int count = 0;
    for (int y = 0; y < e2.height; ++y)
      for (int x = 0; x < e2.width; ++x) {
        const std::uint8_t* p = &e2.rgb[(std::size_t(y) * e2.width + x) * 3];
        const bool masked = p[0] || p[1] || p[2];
        FUZZ_CHECK(g_mask[x][y] == (masked ? 1 : 0));
        if (masked) {
          FUZZ_CHECK(count < dlg.engine.m_nMaskCount);
          const MaskPixel& m = dlg.engine.m_pMaskList[count];
          FUZZ_CHECK(m.x == x && m.y == y && m.active == 1);
          ++count;
        }
      }
    FUZZ_CHECK(count == dlg.engine.m_nMaskCount);
    FUZZ_CHECK(dlg.engine.m_fields.m_nMaskPixels == std::uint32_t(count));
    FUZZ_CHECK(dlg.engine.ShownFields().m_nTransportIter == shownBefore);  // shown again
  } else {
    CheckRefusal(mask);
    FUZZ_CHECK(dlg.engine.m_nMaskCount == 0 && !dlg.engine.m_pMaskList && !dlg.engine.m_pRowFlags);
    FUZZ_CHECK(dlg.files.m_surfMask.bLoaded == 0);
    FUZZ_CHECK(dlg.engine.ShownFields().m_nTransportIter == shownBefore + 7);
  }

  // Original: the first file again.
  const FileResult original = dlg.files.LoadOriginal(damagedPath);
  FUZZ_CHECK(original.ok == damaged.ok);
  if (original.ok) {
    FUZZ_CHECK(dlg.files.m_surfOriginal.nWidth == e1.width && dlg.files.m_surfOriginal.nHeight == e1.height);
    CheckPlane(g_original, e1);
  } else {
    CheckRefusal(original);
    FUZZ_CHECK(dlg.files.m_surfOriginal.bLoaded == 0);
  }

  // A short run, only where it stays cheap.
  if (damaged.ok && mask.ok && std::int64_t(e1.width) * e1.height <= 4096) {
    CDialogFields one = dlg.engine.ShownFields();
    one.m_nTransportIter = one.m_nDiffusionIter = one.m_nTransportPerDiffusion = 1;
    dlg.engine.SetShownFields(one);
    FUZZ_CHECK(dlg.engine.CanRun());
    dlg.engine.OnRun();
    FUZZ_CHECK(dlg.engine.m_fields.m_nTotalIter == 1);
    for (int y = 0; y < e1.height; ++y)
      for (int x = 0; x < e1.width; ++x)
        for (int c = 0; c < 3; ++c) {
          const double v = g_work[x][y][c];
          FUZZ_CHECK(v >= 0.0 && v <= 255.0);
          // Known pixels are never changed by a run.
          if (!g_mask[x][y]) FUZZ_CHECK(v == g_damaged[x][y][c]);
        }
    FUZZ_CHECK(dlg.files.m_surfResult.nWidth == e1.width && dlg.files.m_surfResult.nHeight == e1.height);
  }
  return 0;
}
