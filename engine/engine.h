// The restoration engine: one object that owns the pixel planes, the mask list
// with its update buffer and row flags, the diffusion grids and the ten fields,
// and performs the operations of a run (transport, diffusion, quality measure,
// run schedule). It knows no dialog: a run reads its settings from the fields as
// they were last shown or set (ShownFields), and a refusal is a value.
//
// W x H, the extent of every loop, is the size of the damaged image last loaded.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/fields.h"
#include "engine/flat_runs.h"
#include "engine/planes.h"
#include "engine/run_clock.h"
#include "engine/worker.h"

class CHeldOutCycles;

// What a run reports after each block (OnRun) and each cycle (OnAuto).
struct RunProgress {
  bool automatic = false;
  int iterationsDone = 0;     // transport iterations of this run so far
  int iterationsPlanned = 0;  // of OnRun; in the automatic mode the iterations so far
  int cycle = 0;              // automatic mode: cycles done
  bool measured = false;      // psnr (or meanChange) holds a measurement of this cycle
  float psnr = 0.0f;         // with heldOut: the held-out PSNR
  bool heldOut = false;      // the held-out rule decides (psnr is that of the copies)
  bool settling = false;    // the automatic mode without an original: meanChange decides
  double meanChange = 0.0;  // mean absolute change of the masked values over the cycle
};

// The automatic mode without an original goes on while the mean absolute change
// of the masked channel values over a cycle exceeds this (see OnAuto). The change
// never falls to 0: the scheme keeps moving values by a step or so, and how many
// it moves depends on the mask (about 0.35 a value on the sample pictures with
// 5 % masked, 0.7 with 20 %). Below that floor a run would not settle, so it also
// ends after kMaxSettleCycles cycles.
constexpr double kDefaultSettleLevel = 0.5;
constexpr int kMaxSettleCycles = 400;

// What ends the automatic mode: with an original the PSNR rule; without one either
// the settle rule, or the held-out rule (engine/held_out_cycles.h): the cycles run on
// known pixels hidden under shifted copies of the mask as well, and go on while
// their PSNR rises by more than the threshold, as the PSNR rule does with an
// original. Either ends after kMaxSettleCycles cycles.
enum class AutoRule { kPsnr, kSettle, kHeldOut };

// Told of a run's progress (after each block or cycle) on the thread that runs
// it; asked between sweeps and cycles whether to stop.
class CRunObserver {
 public:
  virtual ~CRunObserver() = default;
  virtual void Progress(const RunProgress& /*progress*/) {}
  virtual bool StopRequested() { return false; }
};

// What the transport sweeps cost, added up while a benchmark asks: sweeps on one
// thread and shared ones; of the shared ones, the time all threads spent taking
// bands and the part of it spent waiting for the band above.
struct SweepCounters {
  std::atomic<std::uint64_t> solo{0}, shared{0};
  std::atomic<std::uint64_t> bandNs{0}, waitNs{0};
};

// Two where the processor has them, else one.
int DefaultKernelThreads();

// How the kernels compute (never what: every choice gives the same bits).

struct KernelSettings {
  // The reference (one operation at a time) transport and diffusion.
  bool referenceKernels = false;
  // The fast transport may use AVX2 where the processor has it.
  bool vectorKernel = true;
  // Threads the fast kernels may use (1 or more; more than the machine's cores only
  // take turns), and the smallest mask or pass they share between threads.
  int threads = DefaultKernelThreads();
  std::size_t parallelFrom = 12000;
  // What the transport sweeps cost, added up while set (for a benchmark; null
  // counts nothing).
  SweepCounters* sweepCounters = nullptr;
};
class CRestoreEngine {
 public:
  CRestoreEngine() : m_clock(&m_monotonic) {}
  // Runs timed by `clock` (a test's scripted ticks); it must outlive the engine.
  explicit CRestoreEngine(CRunClock& clock) : m_clock(&clock) {}
  virtual ~CRestoreEngine() = default;
  CRestoreEngine(const CRestoreEngine&) = delete;
  CRestoreEngine& operator=(const CRestoreEngine&) = delete;

  CRunClock& Clock() { return *m_clock; }

  // --- the ten fields ----------------------------------------------------------
  // The fields as the operations compute them.
  CDialogFields m_fields;
  // The fields as they were last shown (QuantizeAsDialogText of m_fields) or set
  // (as typed: exactly what the texts read): what a run reads, at each point where
  // it refreshes its fields, and what a dialog shows.
  const CDialogFields& ShownFields() const { return m_shown; }
  void SetShownFields(const CDialogFields& fields) {
    m_shown = fields;
    ++m_nShownVersion;
  }
  // m_fields shown: the shown fields become their six-digit round trip.
  void ShowFields() { SetShownFields(QuantizeAsDialogText(m_fields)); }
  // m_fields from the shown fields: where a run has always refreshed them.
  void ReadShownFields() { m_fields = m_shown; }
  // Bumped whenever the shown fields change, for a dialog to know when to redraw them.
  std::uint64_t ShownVersion() const { return m_nShownVersion; }
  // The defaults a new dialog shows, shown.
  void SetDefaults();

  // --- pixel store -------------------------------------------------------------
  RgbPlane g_work;      // the image being restored
  BytePlane g_damaged;   // the damaged image as loaded
  BytePlane g_original;  // the undamaged image (empty when none matches the extent)
  MaskPlane g_mask;     // 1 for a pixel to restore
  std::unique_ptr<MaskPixel[]> m_pMaskList;
  std::unique_ptr<double[]> m_pUpdate;           // 3 doubles per list entry
  std::unique_ptr<unsigned char[]> m_pRowFlags;  // one per row
  int m_nMaskCount = 0;
  // The diffusion's three grids (W x H). The fast diffusion works on its own cell
  // lists and leaves the grids to be brought up to date when they are read, so that
  // a run never touches the grid cells far from its mask (their pages are then never
  // made): read them through these.
  const DoubleGrid& GridWeight() const;
  const DoubleGrid& GridNext() const;
  const DoubleGrid& GridChannel() const;

  int Width() const { return m_nWidth; }
  int Height() const { return m_nHeight; }
  bool HasDamaged() const { return m_nWidth > 0 && m_nHeight > 0; }
  // A mask list built against the current extent. A damaged image of another
  // size keeps the list, which counts again when an image of its size returns.
  bool HasMask() const {
    return m_bMaskBuilt && g_mask.Width() == m_nWidth && g_mask.Height() == m_nHeight;
  }
  // An original of the damaged image's size (the quality measure uses it).
  bool HasOriginal() const { return m_bOriginalLoaded; }

  // The neighbour clamps of every stencil: an index of 0 or less reads 1, then one
  // of W (H) or more reads W - 1 (H - 1).
  int ClampX(int i) const {
    if (i <= 0) i = 1;
    return i >= m_nWidth ? m_nWidth - 1 : i;
  }
  int ClampY(int j) const {
    if (j <= 0) j = 1;
    return j >= m_nHeight ? m_nHeight - 1 : j;
  }

  // Makes `image` the damaged image: the extent becomes its size, g_work and
  // g_damaged take its pixels, three zero grids of that size replace the old ones.
  // An original of another size stops being used; the mask list stays as it is.
  // False (nothing changed) when the memory cannot be had.
  bool ReadDamagedPixels(const PixelBytes& image);
  // g_original from `image`, which must have the damaged image's size when a
  // damaged image is loaded. False (nothing changed) when out of memory.
  bool ReadOriginalPixels(const PixelBytes& image);
  // Sets g_mask over W x H (a pixel is masked when any channel is not zero) and
  // builds the list, update buffer and row flags. `mask` must be W x H. Returns
  // the number of masked pixels; -1 (nothing changed) when out of memory.
  int BuildMaskList(const PixelBytes& mask);
  // About the most memory the engine holds for a picture of `pixels` pixels,
  // `masked` of them to restore, from its loads to the end of a run: the planes,
  // grids and mask plane, the mask list with its update buffer, the transport's
  // sweep order and the diffusion's cell lists. An upper bound for the layout of
  // this store, transport and diffusion (store.cpp counts each allocation); a
  // load or a budget weighs a picture by it before any of it is made. Saturates
  // at 2^64 - 1.
  static std::uint64_t BytesNeeded(std::uint64_t pixels, std::uint64_t masked);

  // --- transport -------------------------------------------------------------
  // `iterations` sweeps over the first `count` list entries with time step dt.
  virtual void TransportStep(int iterations, int count, double dt);
  // A block of the run: the shown fields are read (the refresh every
  // transport step of a run begins with), then `iterations` sweeps over the whole
  // list with the time step of the DeltaT field. A `stoppable` block ends early
  // when a stop is asked for between its sweeps. Returns the sweeps it ran.
  int TransportBlock(int iterations, bool stoppable = false);
  // The same step computed through the operations below one by one.
  void TransportStepReference(int iterations, int count, double dt);
  double Laplacian(int x, int y, int c) const;
  Vec3 LaplacianGradient(MaskPixel p, int c) const;
  Vec3 IsophoteDirection(MaskPixel p, int c) const;
  static double DotProduct(Vec3 a, Vec3 b);
  double SlopeLimitedGradient(MaskPixel p, int c, double beta) const;
  static double LimitTransport(double v);
  static double Clamp255(double v);

  // --- diffusion -------------------------------------------------------------
  virtual void DiffusionStep(int iterations, int channel);
  void DiffusionStepReference(int iterations, int channel);
  // DiffusionStep(iterations, 0), (iterations, 1) and (iterations, 2), as every
  // block of a run makes them; with the fast kernels the three channels go through
  // one pass, side by side, with the same bits.
  virtual void DiffusionSteps(int iterations);

  // --- quality and schedule --------------------------------------------------
  virtual void MeasurePsnr();
  // True when a damaged image and a mask built against its extent are loaded (the
  // runs below do nothing otherwise; kNotLoadedText says why).
  bool CanRun() const;
  static constexpr const char* kNotLoadedText = "Load a damaged image and a mask first.";
  void OnRun();
  // The masked pixels of the work plane take the membrane fill (engine/membrane.h),
  // so that the runs after it start from there rather than from the values under
  // the mask; the held-out copies of the automatic mode start the same way. False
  // (nothing changed) when the fill refuses.
  bool StartFromMembraneFill();
  // The hole PSNR a run (OnRun) with the current settings is estimated to reach,
  // from the same run on held-out copies of the mask (engine/held_out_cycles.h); NaN
  // when no copy fits. Changes nothing here; throws std::bad_alloc when out of memory.
  double EstimateRunPsnr();
  // About the most memory the held-out copies of the automatic mode (or of an
  // estimate) add to a run of this picture and mask: an engine per round of copies.
  std::uint64_t HeldOutBytes() const;
  bool StartedFromFill() const { return m_bStartedFromFill; }
  // With an original: cycles while the PSNR gain exceeds the threshold. Without
  // one (nothing to measure the PSNR against) it stops when the result settles:
  // after the opening cycles, a further cycle runs while the mean absolute change
  // of the masked channel values over the last cycle exceeds m_dSettleLevel.
  void OnAuto();
  void RunCycle();
  // Without an original, the rule OnAuto ends by: kSettle, or kHeldOut (which falls
  // back to kSettle when no copy of the mask fits in the picture); and the settle level.
  void SetAutoRule(AutoRule withoutOriginal, double settleLevel) {
    m_autoRuleWithoutOriginal = withoutOriginal;
    m_dSettleLevel = settleLevel;
  }
  AutoRule AutoRuleWithoutOriginal() const { return m_autoRuleWithoutOriginal; }
  double SettleLevel() const { return m_dSettleLevel; }
  // The work plane as the result shows it: each channel truncated toward zero,
  // its lowest eight bits; rows from the top, red-green-blue, `stride` bytes a row.
  void ResultPixels(std::uint8_t* rgb, std::size_t stride) const;

  // Progress reports and stop requests of the runs; null for none.
  void SetObserver(CRunObserver* observer) { m_pObserver = observer; }
  // Whether the last run ended early on a stop request.
  bool LastRunStopped() const { return m_bStopped; }
  // Whether the last automatic run without an original ended at kMaxSettleCycles
  // rather than by settling.
  bool LastRunUnsettled() const { return m_bUnsettled; }
  // The cycles the last automatic run ran.
  int LastCycles() const { return m_nLastCycles; }
  // The rule that ended the last automatic run, and with kHeldOut the last held-out
  // PSNR (NaN otherwise): an estimate of the result's hole PSNR.
  AutoRule LastAutoRule() const { return m_lastAutoRule; }
  double LastHeldOutPsnr() const { return m_dLastHeldOutPsnr; }

  const KernelSettings& Kernels() const { return m_kernels; }
  void SetKernels(const KernelSettings& kernels) { m_kernels = kernels; }
  // Only the thread count changed.
  void SetThreads(int threads) { m_kernels.threads = threads; }
  int Threads() const { return m_kernels.threads; }
  // The most threads the engine makes for a run; a larger count counts as this.
  static constexpr int kMostThreads = 256;

  // The direction cross beyond radius 1 (see the transport step); the norm found.
  double WidenDirection(int x, int y, int c, double* dX, double* dY);

 private:
  struct DiffusionCell {
    std::int32_t cell;  // y * W + x in the grids
    std::int32_t x;
    std::int32_t y;
  };
  struct DiffusionCache {
    std::uint64_t generation = ~std::uint64_t(0);
    std::vector<DiffusionCell> region;  // in pass order
    std::vector<DiffusionCell> load;    // every cell a call reads
    // For the three channels at once: the cells of `load` numbered in order; per
    // region pixel its own number and then its eight neighbours' (rows y-1, y, y+1,
    // each from the left, the pixel itself left out) through the clamps; per mask
    // list entry its number; per number whether it is a region pixel.
    std::vector<std::int32_t> regionCells;  // 9 per region pixel
    std::vector<std::int32_t> maskedCells;
    std::vector<unsigned char> inRegion;
    // The numbered cells that change from call to call: the masked pixels (the
    // others are unmasked neighbours, whose values and weights stay while the
    // mask stays).
    std::vector<std::int32_t> changing;
    CellBuffer<double> channel, next, weight;  // 4 doubles per numbered cell
    bool steady = false;                       // channel, next, weight hold the unchanging cells
    // The cells hold values (channel 2's) the grids have not taken yet.
    bool gridsPending = false;
    bool weightsPending = false;  // ... and the region's weights
  };

  struct RowSegment {
    int begin;  // list entries [begin, end), all of one row
    int end;
  };
  // The order in which bands of rows take their pixels, worked out once per
  // transport step: rounds of pixels none of which reads another.
  struct SweepRound {
    std::int32_t first;  // its pixels are pixels[first, first + size)
    std::int32_t size;
    std::int32_t need;      // the band above must have come this far first
    std::int32_t frontier;  // how far this band has come once the round is done
  };
  struct SweepPlan {
    std::vector<std::int32_t> pixels;  // list entries
    std::vector<SweepRound> rounds;
    std::vector<std::size_t> bands;  // band b's rounds are [bands[b], bands[b + 1])
    bool built = false;
  };
  void BuildRowSegments(int count);
  // Appends the rounds of rows rows[begin, end) to `plan` as one band.
  void PlanRows(std::size_t begin, std::size_t end, SweepPlan* plan) const;
  const SweepPlan& Plan(bool shared, std::size_t first);
  void TransportSweep(double dt, int count);
  struct Frontier;
  // Rounds [from, to) of a plan; of band `band` of a shared sweep when `frontiers`
  // is given (see SweepRounds in transport.cpp).
  void SweepRounds(const SweepPlan& plan, std::size_t from, std::size_t to, double dt, bool vector,
                   Frontier* frontiers, std::size_t band, std::atomic<bool>* stalled,
                   std::uint64_t* waitNs);
  static constexpr int kBand = 6;        // rows side by side
  static constexpr int kThreadBand = 6;  // rows a thread takes at a time
  static constexpr std::chrono::milliseconds kStalledWait{2};
  static constexpr int kFewestSoloSweeps = 16;
  static constexpr int kMostSoloSweeps = 1024;
  // How far a band of a shared sweep has come: -1 until it starts; then a column
  // that its own rows and every band above have all reached (a pixel of a band
  // below at column x may go once this is x + 4 or more); kRowsDone once its own
  // rows are done (the bands above then say how far the sweep has come).
  static constexpr int kRowsDone = -2;
  struct alignas(64) Frontier {
    std::atomic<int> column{-1};
    Frontier() = default;
    Frontier(const Frontier&) {}
    Frontier& operator=(const Frontier&) { return *this; }
  };
  bool IsInterior(int x, int y) const;
  void UpdateOne(int k, double dt, bool vector);
  template <int N>
  void UpdateGroup(const int* k, double dt, bool vector);
  void BuildDiffusionCache();
  // The grids as the last diffusion call (for channel 2) leaves them.
  void FlushDiffusionGrids() const;
  // Whether every channel of every masked pixel of g_work is a whole number.
  bool MaskedValuesWhole() const;
  bool UnmaskedWorkWhole();
  // The quality measure's sums that stay while the pictures and the mask stay.
  struct QualitySums {
    std::uint64_t generation = ~std::uint64_t(0);
    std::uint64_t originalVersion = ~std::uint64_t(0);
    double damaged[3] = {0, 0, 0};
    double unmasked[3] = {0, 0, 0};  // of the result over the unmasked pixels
    std::uint64_t wholeGeneration = ~std::uint64_t(0);
    bool unmaskedWhole = false;
  };
  void DiffusionStepsAvx2(int iterations);
  // body(begin, end) over [0, n): in m_kernels.threads parts, each on a thread of its
  // own, when the engine has them and n is worth it; for bodies whose result does
  // not depend on where the parts begin and end.
  void Split(std::size_t n, const std::function<void(std::size_t, std::size_t)>& body);
  bool StopRequested();
  void Report(const RunProgress& progress);
  void AutoByPsnr(RunProgress* progress, int* counter);
  void AutoBySettling(RunProgress* progress, int* counter);
  void AutoByHeldOut(RunProgress* progress, int* counter, CHeldOutCycles& copies);
  // The masked channel values, in list order; and their mean absolute change since.
  void SaveMaskedValues(std::vector<double>* values) const;
  double MeanChange(const std::vector<double>& before) const;

  KernelSettings m_kernels;
  double m_dSettleLevel = kDefaultSettleLevel;
  AutoRule m_autoRuleWithoutOriginal = AutoRule::kSettle;
  CRunClock m_monotonic;
  CRunClock* m_clock;
  CDialogFields m_shown;
  std::uint64_t m_nShownVersion = 0;
  CRunObserver* m_pObserver = nullptr;
  bool m_bStopped = false;
  bool m_bUnsettled = false;
  int m_nLastCycles = 0;
  bool m_bStartedFromFill = false;
  AutoRule m_lastAutoRule = AutoRule::kPsnr;
  double m_dLastHeldOutPsnr = 0.0;
  int m_nWidth = 0;
  int m_nHeight = 0;
  bool m_bMaskBuilt = false;
  bool m_bOriginalLoaded = false;
  // Bumped whenever the mask list or the grids are replaced.
  std::uint64_t m_nGeneration = 0;
  mutable DiffusionCache m_diffusionCache;
  mutable DoubleGrid m_gridWeight;
  mutable DoubleGrid m_gridNext;
  mutable DoubleGrid m_gridChannel;
  QualitySums m_qualitySums;
  std::uint64_t m_nOriginalVersion = 0;  // bumped by every original load
  std::vector<RowSegment> m_rowSegments;
  std::vector<std::int32_t> m_sweepX;
  std::vector<std::int32_t> m_sweepOffset;     // of the pixel in g_work
  std::vector<unsigned char> m_sweepInterior;  // active and for the interior kernel
  SweepPlan m_soloPlan;                        // all rows as one band, for one thread
  SweepPlan m_sharedPlan;                      // bands of kThreadBand rows, for the threads
  CFlatRuns m_flatRuns;
  std::vector<Frontier> m_frontiers;
  // The threads beside the caller's that share sweeps and passes, made when first
  // needed; Workers(n) makes up to n and says how many there are.
  std::vector<std::unique_ptr<CWorkerThread>> m_workers;
  std::size_t Workers(std::size_t wanted);
  // Sweeps still to run on one thread because the last shared one kept a thread
  // waiting for the other, which had lost its core (a busy machine).
  int m_nSoloSweeps = 0;
  // What TransportBlock tells TransportStep: whether to look for a stop between
  // sweeps, and back how many sweeps ran.
  bool m_bStepStoppable = false;
  int m_nStepSweeps = 0;
  int m_nSoloAfterStall = kFewestSoloSweeps;
};
