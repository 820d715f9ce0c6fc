// The restoration engine: mask pixel list, image surfaces, diffusion grids and the
// operations of a run (transport, diffusion, quality measure, run schedule).
// W x H, the extent of every loop, is the size of the damaged surface.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/exchange.h"
#include "engine/planes.h"
#include "imaging/surface.h"

class CRestoreEngine : public CDialogHost {
 public:
  CRestoreEngine() = default;

  // --- pixel store ---------------------------------------------------------
  std::unique_ptr<MaskPixel[]> m_pMaskList;
  std::unique_ptr<double[]> m_pUpdate;              // 3 doubles per list entry
  std::unique_ptr<unsigned char[]> m_pRowFlags;     // one per row of the mask image
  int m_nMaskCount = 0;

  ImageSurface m_surfDamaged;
  ImageSurface m_surfResult;
  ImageSurface m_surfMask;
  ImageSurface m_surfOriginal;

  DoubleGrid m_gridWeight;
  DoubleGrid m_gridNext;
  DoubleGrid m_gridChannel;

  // Whether a mask list exists, and the damaged extent it was built against.
  bool m_bMaskBuilt = false;
  int m_nMaskExtentW = 0;
  int m_nMaskExtentH = 0;

  int Width() const { return m_surfDamaged.nWidth; }
  int Height() const { return m_surfDamaged.nHeight; }

  int ClampX(int i) const;
  int ClampY(int j) const;

  // Fill g_damaged and g_work (or g_original) from a surface, over the width and
  // height of the damaged (original) surface.
  bool ReadDamagedPixels(HDC context);
  bool ReadOriginalPixels(HDC context);
  // Sets g_mask over W x H and builds the list, update buffer and row flags
  // (rows: the mask surface's height). Returns the number of masked pixels;
  // -1 (nothing changed) when the new arrays cannot be allocated.
  int BuildMaskList(HDC context);

  // --- transport -----------------------------------------------------------
  virtual void TransportStep(int iterations, int count);
  // The same step computed through the operations below one by one.
  void TransportStepReference(int iterations, int count);
  double Laplacian(int x, int y, int c) const;
  Vec3 LaplacianGradient(MaskPixel p, int c) const;
  Vec3 IsophoteDirection(MaskPixel p, int c) const;
  static double DotProduct(Vec3 a, Vec3 b);
  double SlopeLimitedGradient(MaskPixel p, int c, double beta) const;
  static double LimitTransport(double v);
  static double Clamp255(double v);

  // --- diffusion -----------------------------------------------------------
  virtual void DiffusionStep(int iterations, int channel);
  void DiffusionStepReference(int iterations, int channel);

  // --- quality and schedule ------------------------------------------------
  virtual void MeasurePsnr();
  // True when a damaged image and a mask built against its extent are loaded;
  // otherwise shows "Load a damaged image and a mask first." and returns false.
  bool CanRun();
  void OnRun();
  void OnAuto();
  void RunCycle();
  // Writes g_work into the result surface, then copies it into `pane` if given.
  void ShowResult(HDC pane);

  // Use the reference (one operation at a time) transport and diffusion.
  bool m_bReferenceKernels = false;
  // Let the fast transport use AVX2 where the processor has it.
  bool m_bVectorKernel = true;

  // The direction cross from radius 2 on (see the transport step); the norm found.
  double WidenDirection(int x, int y, int c, double* dX, double* dY) const;

  // Bumped whenever the mask list or the grids are replaced.
  std::uint64_t m_nGeneration = 0;

 private:
  struct DiffusionCell {
    std::int32_t cell;  // x * H + y in the grids
    std::int32_t x;
    std::int32_t y;
  };
  struct DiffusionCache {
    std::uint64_t generation = ~std::uint64_t(0);
    std::vector<DiffusionCell> region;  // in pass order
    std::vector<DiffusionCell> load;    // every cell a call reads
  };
  DiffusionCache m_diffusionCache;

  void TransportSweep(double dt, int count);
  void BuildDiffusionCache();
};
