// ruvanta's C++ interface: restores the masked pixels of a colour picture in memory,
// with the methods and the figures of ruvanta-cli, and the same bytes.
//
//   #include <ruvanta/ruvanta.h>
//   ruvanta::Image damaged{width, height, rgb_bytes};      // rows from the top, R G B
//   ruvanta::Mask mask{width, height, mask_bytes};         // a byte a pixel, non-zero restores
//   ruvanta::Result r = ruvanta::Restore(damaged, mask);   // the transport scheme's defaults
//   if (!r.ok()) std::cerr << r.error.message << "\n";
//
// Nothing here keeps state between calls: each Restore works on its own copy of the
// pictures, so calls on separate threads do not meet. No call throws: a refusal is
// a Result whose error names the values it refused.
//
// Link with ruvanta::ruvanta (find_package(ruvanta) in CMake).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#if defined(RUVANTA_BUILDING_LIBRARY)
#define RUVANTA_API __attribute__((visibility("default")))
#else
#define RUVANTA_API
#endif

namespace ruvanta {

// The library's version (the program's version; the shared object's SONAME changes
// with the major number only).
constexpr int kVersionMajor = 1;
constexpr int kVersionMinor = 0;
// The version of the library loaded at run time, "1.0".
RUVANTA_API const char* Version();

// How the masked pixels are restored.
enum class Method {
  kTransport,   // the transport scheme: the Laplacian carried along the isophotes,
                // interleaved with diffusion; iterated (Options' counts, delta_t)
  kMembrane,    // the harmonic fill (the Laplace equation in the hole)
  kBiharmonic,  // the thin-plate fill
  kTension,     // the thin-plate fill under tension (Options::tension)
  kTexture,     // the texture-aware (frequency-selective) fill
  kAuto,        // per region the fill that restores held-out known pixels best
};
// "transport", "membrane", "biharmonic", "tension", "texture", "auto".
RUVANTA_API const char* MethodName(Method method);
// The method of a name above; false (method unchanged) for any other text.
RUVANTA_API bool ParseMethod(const std::string& name, Method* method);

// A picture: width x height pixels of three bytes (red, green, blue), rows from the
// top, `stride` bytes from the start of one row to the next (0: width * 3).
struct Image {
  int width = 0;
  int height = 0;
  const std::uint8_t* rgb = nullptr;
  std::size_t stride = 0;
};

// The pixels to restore: a byte a pixel, non-zero for a pixel to restore, rows from
// the top, `stride` bytes a row (0: width).
struct Mask {
  int width = 0;
  int height = 0;
  const std::uint8_t* cells = nullptr;
  std::size_t stride = 0;
};

// The settings of a run. The defaults are the command line's and the window's.
struct Options {
  Method method = Method::kTransport;
  // The transport scheme: `iterations` transport sweeps in blocks of
  // `per_diffusion`, each block followed by `diffusion` diffusion iterations, with
  // the time step delta_t. Counts from 0 to 2147483647.
  int iterations = 100;
  int diffusion = 2;
  int per_diffusion = 15;
  double delta_t = 0.01;  // kept in single precision, as the window's field keeps it
  // The automatic mode (transport only): with an original, cycles while the PSNR
  // rises by more than `threshold` (>= 0, single precision). Without one the same
  // cycles also run on known pixels hidden under shifted copies of the mask, and go
  // on while their PSNR rises by more than `threshold` or the result still changes
  // (the held-out rule); with `settle` given, while the mean absolute change of the
  // masked values over a cycle exceeds it (the settle rule).
  bool automatic = false;
  double threshold = 0.0;
  double settle = -1.0;  // >= 0; negative: the engine's level (0.5). Only without an original.
  // The thin-plate fill's tension (kTension): finite, >= 0 (0 is kBiharmonic).
  double tension = 0.5;
  // Threads the run may use: 1 or more; 0 for the machine's default (all its
  // cores). The result is the same bits with any.
  int threads = 0;
};

// What a run reports while it works: after each block of the transport scheme and
// each cycle of the automatic mode.
struct Progress {
  bool automatic = false;
  int iterations_done = 0;     // transport iterations of this run so far
  int iterations_planned = 0;  // of a plain run; in the automatic mode those so far
  int cycle = 0;               // automatic mode: cycles done
  bool measured = false;       // psnr (or mean_change) holds this cycle's measurement
  float psnr = 0.0f;
  bool settling = false;     // automatic mode without an original: mean_change decides
  double mean_change = 0.0;  // mean absolute change of the masked values over the cycle
};
// Return false to stop: the run ends at its next sweep or cycle, with what it has
// done so far (Result::stopped). The fills other than the transport scheme run in
// one go and report nothing.
using ProgressCallback = std::function<bool(const Progress&)>;

enum class ErrorCode {
  kNone,
  kBadArgument,   // a null or short buffer, a value out of its range, a combination refused
  kSizeMismatch,  // the mask or the original is not the damaged picture's size
  kTooLarge,      // a picture beyond the engine's limits
  kOutOfMemory,
  kRunFailed,  // the run itself refused (its message says why)
};
// "none", "bad argument", "size mismatch", "too large", "out of memory", "run failed".
RUVANTA_API const char* ErrorCodeName(ErrorCode code);

struct Error {
  ErrorCode code = ErrorCode::kNone;
  std::string message;  // names the values ("the mask is 640 x 480 but ...")
};

// The quality measures against the original, as ruvanta-cli --metrics prints them.
// NaN where a value cannot be taken (an empty mask, a side under 11 pixels).
struct Quality {
  double psnr_hole_damaged = 0.0;  // PSNR over the masked pixels
  double psnr_hole_result = 0.0;
  double ssim_damaged = 0.0;  // mean SSIM over the whole picture
  double ssim_result = 0.0;
  double ssim_box_damaged = 0.0;  // over the windows centred in the mask's bounding box
  double ssim_box_result = 0.0;
  bool has_box = false;  // false for an empty mask
  int box_x0 = 0, box_y0 = 0, box_x1 = 0, box_y1 = 0;  // x0 <= x < x1, y0 <= y < y1
};

struct Result {
  Error error;  // code kNone when the run succeeded
  bool ok() const { return error.code == ErrorCode::kNone; }

  // The restored picture: width x height pixels, three bytes each, rows from the top,
  // no padding. The pixels outside the mask are the damaged picture's.
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;

  // The figures ruvanta-cli prints. Without an original the PSNR values are taken
  // against black, as the window shows them.
  std::uint32_t mask_pixels = 0;
  float psnr_damaged = 0.0f;
  float psnr_result = 0.0f;
  std::uint32_t iterations = 0;  // transport sweeps, or the solver's iterations
  float seconds = 0.0f;
  bool stopped = false;  // the progress callback stopped the run
  bool settled = false;  // automatic mode with `settle`: stopped by the settle rule
  bool unsettled = false;  // automatic mode without an original: ended at its cycle limit

  bool has_quality = false;  // an original was given
  Quality quality;

  // kAuto, and the automatic mode by the held-out rule: the estimated PSNR of the
  // restored pixels, from the held-out checks (NaN otherwise); kAuto: the fill chosen
  // for each region ("membrane", "tension 0.5", ...; one entry per region of the mask),
  // empty for the other methods.
  double estimated_psnr = 0.0;
  std::vector<std::string> chosen;
};

// Restores the masked pixels of `damaged`. `original` (may be null) is the undamaged
// picture, of the same size, used only to measure. The buffers are read during the
// call and never kept.
RUVANTA_API Result Restore(const Image& damaged, const Mask& mask, const Options& options = {},
                           const Image* original = nullptr, const ProgressCallback& progress = {});

}  // namespace ruvanta
