// The fast transport and diffusion kernels against the step-by-step reference, on
// pictures and masks of many sizes and shapes: every bit of the work plane, the
// update buffer, the weights and the measured fields must agree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <tuple>

#include "tests/support/engine_fixture.h"

namespace {

struct Outcome {
  std::vector<double> work;
  std::vector<double> update;
  std::vector<double> weight;
  float psnrDamaged, psnrResult;
};

// The fast kernels alone, with their AVX2 paths, and with two threads sharing even
// the smallest work.
enum class Kernel { kReference, kScalar, kVector, kThreads };

Outcome RunSession(Kernel kernel, const RgbImage& photo, const RgbImage& mask, const char* deltaT,
                   bool automatic) {
  TestDialog dlg;
  KernelSettings k;
  k.referenceKernels = kernel == Kernel::kReference;
  k.vectorKernel = kernel == Kernel::kVector || kernel == Kernel::kThreads;
  k.threads = kernel == Kernel::kThreads ? 2 : 1;
  k.parallelFrom = 1;
  dlg.engine.SetKernels(k);
  LoadPictures(dlg, photo, mask, &photo);
  dlg.SetItemText(IDC_EDIT_DELTA_T, deltaT);
  dlg.SetItemText(IDC_EDIT_TRANSPORT_ITER, "23");
  dlg.SetItemText(IDC_EDIT_TRANSPORT_PER_DIFFUSION, "4");
  if (automatic) {
    dlg.SetItemText(IDC_EDIT_THRESHOLD, "0");
    dlg.engine.OnAuto();
  } else {
    dlg.engine.OnRun();
    // Diffusion calls without iterations, and with a different count per channel.
    dlg.engine.DiffusionStep(0, 1);
    dlg.engine.DiffusionStep(3, 2);
  }
  Outcome out;
  const RgbPlane& work = dlg.engine.g_work;
  out.work.assign(work.Data(), work.Data() + std::size_t(photo.width) * photo.height * 3);
  out.update.assign(dlg.engine.m_pUpdate.get(),
                    dlg.engine.m_pUpdate.get() + dlg.engine.m_nMaskCount * 3);
  out.weight.assign(dlg.engine.GridWeight().Data(),
                    dlg.engine.GridWeight().Data() + std::size_t(photo.width) * photo.height);
  out.psnrDamaged = dlg.engine.m_fields.m_fPsnrDamaged;
  out.psnrResult = dlg.engine.m_fields.m_fPsnrResult;
  return out;
}

void ExpectSameBits(const std::vector<double>& a, const std::vector<double>& b, const char* what) {
  ASSERT_EQ(a.size(), b.size()) << what;
  EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.size() * sizeof(double))) << what;
}

class KernelEquivalence
    : public ::testing::TestWithParam<std::tuple<int, int, unsigned, const char*>> {};

TEST_P(KernelEquivalence, FastKernelsGiveTheReferenceBits) {
  const auto [w, h, seed, deltaT] = GetParam();
  const RgbImage photo = MakePhoto(w, h, seed);
  const RgbImage mask = MakeScratchMask(w, h, seed, 2 + int(seed % 5));
  for (bool automatic : {false, true}) {
    const Outcome ref = RunSession(Kernel::kReference, photo, mask, deltaT, automatic);
    for (Kernel kernel : {Kernel::kScalar, Kernel::kVector, Kernel::kThreads}) {
      const Outcome fast = RunSession(kernel, photo, mask, deltaT, automatic);
      ExpectSameBits(fast.work, ref.work, "work plane");
      ExpectSameBits(fast.update, ref.update, "update buffer");
      ExpectSameBits(fast.weight, ref.weight, "weights");
      EXPECT_EQ(0, std::memcmp(&fast.psnrResult, &ref.psnrResult, sizeof(float)));
      EXPECT_EQ(0, std::memcmp(&fast.psnrDamaged, &ref.psnrDamaged, sizeof(float)));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, KernelEquivalence,
    ::testing::Values(std::make_tuple(1, 9, 1u, "0.01"), std::make_tuple(9, 1, 2u, "0.5"),
                      std::make_tuple(2, 2, 3u, "0.3"), std::make_tuple(3, 5, 4u, "0.01"),
                      std::make_tuple(5, 4, 5u, "2"), std::make_tuple(7, 7, 6u, "0.01"),
                      std::make_tuple(20, 13, 7u, "0.25"), std::make_tuple(37, 29, 8u, "0.01"),
                      std::make_tuple(64, 48, 9u, "-0.2"), std::make_tuple(33, 61, 10u, "1")));

TEST(KernelEquivalenceMasks, FullMaskAndUniformAreas) {
  // Every pixel masked, on a picture with flat areas where the direction widens.
  const RgbImage photo = MakeImage(17, 11, [](int x, int y) {
    return RGB(x < 8 ? 40 : 200, BYTE(y > 5 ? 90 : 90 + x), BYTE((x * y) % 7 == 0 ? 255 : 0));
  });
  std::vector<std::pair<int, int>> all;
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 17; ++x) all.emplace_back(x, y);
  const RgbImage mask = MakeMask(17, 11, all);
  for (const char* dt : {"0.01", "0.7"}) {
    const Outcome ref = RunSession(Kernel::kReference, photo, mask, dt, false);
    for (Kernel kernel : {Kernel::kScalar, Kernel::kVector, Kernel::kThreads}) {
      const Outcome fast = RunSession(kernel, photo, mask, dt, false);
      ExpectSameBits(fast.work, ref.work, "work plane");
      ExpectSameBits(fast.weight, ref.weight, "weights");
    }
  }
}

// A frame of `width` pixels along the picture's edges, and a centred hole.
RgbImage FrameAndHole(int w, int h, int width, int holeW, int holeH) {
  return MakeImage(w, h, [=](int x, int y) {
    const bool frame = x < width || y < width || x >= w - width || y >= h - width;
    const bool hole = std::abs(2 * x - w) < holeW && std::abs(2 * y - h) < holeH;
    return frame || hole ? RGB(255, 255, 255) : RGB(0, 0, 0);
  });
}

// The masks people draw: a hole in a flat area, frames along every edge, and
// pictures wider or taller than any fixed size; pixels outside the mask never
// change, and a picture of one colour stays that colour.
TEST(KernelEquivalenceMasks, HolesFramesAndLongPictures) {
  struct Case {
    const char* name;
    RgbImage photo, mask;
  };
  const RgbImage flat = MakeImage(31, 23, [](int, int) { return RGB(120, 64, 200); });
  const std::vector<Case> cases = {
      {"flat picture, hole", flat, FrameAndHole(31, 23, 0, 17, 11)},
      {"photo, hole", MakePhoto(31, 23, 4), FrameAndHole(31, 23, 0, 17, 11)},
      {"photo, frame", MakePhoto(26, 19, 5), FrameAndHole(26, 19, 2, 0, 0)},
      {"830 wide", MakePhoto(830, 9, 6), FrameAndHole(830, 9, 1, 60, 3)},
      {"820 tall", MakePhoto(7, 820, 7), FrameAndHole(7, 820, 1, 3, 90)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome ref = RunSession(Kernel::kReference, c.photo, c.mask, "0.4", false);
    for (Kernel kernel : {Kernel::kScalar, Kernel::kVector, Kernel::kThreads}) {
      const Outcome fast = RunSession(kernel, c.photo, c.mask, "0.4", false);
      ExpectSameBits(fast.work, ref.work, "work plane");
      ExpectSameBits(fast.weight, ref.weight, "weights");
    }
    int changedOutside = 0, masked = 0, moved = 0;
    for (int y = 0; y < c.photo.height; ++y)
      for (int x = 0; x < c.photo.width; ++x) {
        const std::size_t i = (std::size_t(y) * c.photo.width + x) * 3;
        const bool inMask = c.mask.rgb[i] | c.mask.rgb[i + 1] | c.mask.rgb[i + 2];
        masked += inMask;
        for (int ch = 0; ch < 3; ++ch) {
          const bool same = ref.work[i + ch] == double(c.photo.rgb[i + ch]);
          changedOutside += !inMask && !same;
          moved += inMask && !same;
        }
      }
    EXPECT_GT(masked, 0);
    EXPECT_EQ(changedOutside, 0);
    if (&c == &cases[0]) EXPECT_EQ(moved, 0);
  }
}

}  // namespace
