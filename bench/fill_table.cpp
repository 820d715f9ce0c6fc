// The fills side by side on the project's pictures (data/original.bmp, 320 x 240, and
// bench/data/photo800.bmp, 800 x 800) under masks of six kinds drawn from seeds
// (bench/fill_masks.h): hole PSNR against the original, whole-picture SSIM and time per
// method, one row per picture and mask, then the means. The transport scheme runs
// through the engine as a default run and as the automatic mode with the original
// (the PSNR rule); the others are the engine's fills; auto never sees the original,
// and its estimate is printed beside what it reached. Timings are single runs on
// whatever the machine is doing: read them as rough.
//
//   build/bench/fill_table [--seeds N] [--no-transport-auto] [--threads T]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench/fill_masks.h"
#include "engine/auto_fill.h"
#include "engine/biharmonic.h"
#include "engine/membrane.h"
#include "engine/metrics.h"
#include "engine/texture.h"
#include "imaging/bmp_reader.h"
#include "session/headless_session.h"

namespace {
struct Result {
  double psnr = std::nan("");
  double ssim = std::nan("");
  double ms = std::nan("");
};

double Millis(const std::function<void()>& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

RgbPlane ToPlane(const RgbImage& image) {
  RgbPlane p;
  p.Resize(image.width, image.height);
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x)
      for (int c = 0; c < 3; ++c) p.At(x, y)[c] = image.At(x, y)[c];
  return p;
}

RgbImage ToImage(const RgbPlane& p) {
  RgbImage image;
  image.width = p.Width();
  image.height = p.Height();
  image.rgb.resize(std::size_t(p.Width()) * p.Height() * 3);
  for (int y = 0; y < p.Height(); ++y)
    for (int x = 0; x < p.Width(); ++x)
      for (int c = 0; c < 3; ++c) image.At(x, y)[c] = std::uint8_t(p.At(x, y)[c]);
  return image;
}

RgbImage MaskImage(const MaskPlane& m) {
  RgbImage image;
  image.width = m.Width();
  image.height = m.Height();
  image.rgb.assign(std::size_t(m.Width()) * m.Height() * 3, 0);
  for (int y = 0; y < m.Height(); ++y)
    for (int x = 0; x < m.Width(); ++x)
      if (m.At(x, y)) image.At(x, y)[0] = image.At(x, y)[1] = image.At(x, y)[2] = 255;
  return image;
}

// The damage painted into the mask: white scratches, lines, borders and hole, orange
// text, dark brown blotches.
RgbPlane Damage(const RgbPlane& photo, const MaskPlane& mask, MaskKind kind) {
  double colour[3] = {250, 250, 245};
  if (kind == MaskKind::kText) colour[1] = 140, colour[2] = 0, colour[0] = 255;
  if (kind == MaskKind::kBlotches) colour[0] = 60, colour[1] = 40, colour[2] = 20;
  RgbPlane d = photo;
  for (int y = 0; y < photo.Height(); ++y)
    for (int x = 0; x < photo.Width(); ++x)
      if (mask.At(x, y))
        for (int c = 0; c < 3; ++c) d.At(x, y)[c] = colour[c];
  return d;
}

Result Measure(const RgbPlane& photo, const MaskPlane& mask, const RgbPlane& result, double ms) {
  return {MaskedPsnr(photo, result, mask), Ssim(photo, result), ms};
}

// The transport scheme through a headless session: a default run or the automatic mode.
Result Transport(const RgbPlane& photo, const RgbPlane& damaged, const MaskPlane& mask,
                 bool automatic) {
  CHeadlessSession s;
  if (!s.files.LoadDamagedImage(ToImage(damaged)).ok ||
      !s.files.LoadMaskImage(MaskImage(mask)).ok || !s.files.LoadOriginalImage(ToImage(photo)).ok)
    return {};
  const double ms = Millis([&] { automatic ? s.engine.OnAuto() : s.engine.OnRun(); });
  RgbPlane out = s.engine.g_work;
  for (int y = 0; y < out.Height(); ++y)
    for (int x = 0; x < out.Width(); ++x)
      for (int c = 0; c < 3; ++c)
        out.At(x, y)[c] = std::trunc(out.At(x, y)[c]);  // as shown and saved
  return Measure(photo, mask, out, ms);
}

struct Row {
  std::string name;
  double masked = 0;
  std::vector<Result> results;  // per method
  double estimate = std::nan("");
  std::string choice;
};

double Mean(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x;
  return v.empty() ? std::nan("") : s / double(v.size());
}
}  // namespace

int main(int argc, char** argv) {
  int seeds = 2, threads = 1, margin = 2, rounds = 3, tile = 64;
  double priorCopies = 8.0;
  bool transportAuto = true;
  std::vector<double> autoTensions = AutoOptions().tensions;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--seeds") && i + 1 < argc)
      seeds = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--threads") && i + 1 < argc)
      threads = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--no-transport-auto"))
      transportAuto = false;
    else if (!std::strcmp(argv[i], "--margin") && i + 1 < argc)
      margin = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc)
      rounds = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--tile") && i + 1 < argc)
      tile = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--auto-tensions") && i + 1 < argc) {
      autoTensions.clear();
      for (char* t = std::strtok(argv[++i], ","); t; t = std::strtok(nullptr, ","))
        autoTensions.push_back(std::atof(t));
    } else if (!std::strcmp(argv[i], "--prior-copies") && i + 1 < argc)
      priorCopies = std::atof(argv[++i]);
  }
  const std::vector<double> tensions = {0.02, 0.05, 0.1, 0.3, 1.0, 3.0};
  std::vector<std::string> methods = {"transport, default run", "transport, automatic", "membrane",
                                      "biharmonic"};
  for (double t : tensions) methods.push_back("tension " + std::to_string(t).substr(0, 4));
  methods.push_back("texture");
  methods.push_back("auto");
  const std::size_t firstTension = 4, texture = firstTension + tensions.size(),
                    automatic = texture + 1;

  struct Case {
    std::string name;
    const RgbPlane* photo;
    MaskPlane mask;
    RgbPlane damaged;
  };
  std::vector<RgbPlane> photos(2);
  std::vector<Case> cases;
  const char* pictures[] = {"data/original.bmp", "bench/data/photo800.bmp"};
  const MaskKind kinds[] = {MaskKind::kScratches, MaskKind::kThickLines, MaskKind::kText,
                            MaskKind::kBlotches,  MaskKind::kBorders,    MaskKind::kHole};
  auto read = [](const std::string& file, RgbPlane* out) {
    ImageReadResult r = ReadBmpFile(std::string(RUVANTA_SOURCE_DIR) + "/" + file);
    if (!r.ok()) {
      std::fprintf(stderr, "%s: %s\n", file.c_str(), r.reason.c_str());
      return false;
    }
    *out = ToPlane(r.image);
    return true;
  };
  for (int p = 0; p < 2; ++p) {
    if (!read(pictures[p], &photos[std::size_t(p)])) return 1;
    const RgbPlane& photo = photos[std::size_t(p)];
    for (int seed = 1; seed <= seeds; ++seed)
      for (MaskKind kind : kinds) {
        Case c;
        c.name = std::string(p == 0 ? "cat" : "astronaut") + ", " + MaskKindName(kind) + " " +
                 std::to_string(seed);
        c.photo = &photo;
        c.mask = MakeFillMask(kind, photo.Width(), photo.Height(), std::uint32_t(seed));
        c.damaged = Damage(photo, c.mask, kind);
        cases.push_back(std::move(c));
      }
  }
  // The project's own damaged pictures and masks.
  const char* samples[][3] = {
      {"cat, sample mask", "data/damaged.bmp", "data/mask.bmp"},
      {"astronaut, sample 1 %", "bench/data/damaged800_1.bmp", "bench/data/mask800_1.bmp"},
      {"astronaut, sample 5 %", "bench/data/damaged800_5.bmp", "bench/data/mask800_5.bmp"},
      {"astronaut, sample 20 %", "bench/data/damaged800_20.bmp", "bench/data/mask800_20.bmp"}};
  for (int i = 0; i < 4; ++i) {
    Case c;
    c.name = samples[i][0];
    c.photo = &photos[i == 0 ? 0 : 1];
    RgbPlane m;
    if (!read(samples[i][1], &c.damaged) || !read(samples[i][2], &m)) return 1;
    c.mask.Resize(m.Width(), m.Height());
    for (int y = 0; y < m.Height(); ++y)
      for (int x = 0; x < m.Width(); ++x)
        c.mask.At(x, y) = (m.At(x, y)[0] + m.At(x, y)[1] + m.At(x, y)[2]) > 0;
    cases.push_back(std::move(c));
  }

  std::vector<Row> rows;
  for (const Case& c : cases) {
    const RgbPlane& photo = *c.photo;
    const MaskPlane& mask = c.mask;
    const RgbPlane& damaged = c.damaged;
    Row row;
    std::size_t masked = 0;
    for (std::size_t i = 0; i < mask.Size(); ++i) masked += mask.Data()[i] != 0;
    row.masked = 100.0 * double(masked) / double(mask.Size());
    row.name = c.name;
    row.results.resize(methods.size());
    row.results[0] = Transport(photo, damaged, mask, false);
    if (transportAuto) row.results[1] = Transport(photo, damaged, mask, true);
    RgbPlane work = damaged;
    double ms = Millis([&] { MembraneFill(&work, mask); });
    row.results[2] = Measure(photo, mask, work, ms);
    work = damaged;
    ms = Millis([&] { BiharmonicFill(&work, mask); });
    row.results[3] = Measure(photo, mask, work, ms);
    for (std::size_t t = 0; t < tensions.size(); ++t) {
      work = damaged;
      ms = Millis([&] { TensionFill(&work, mask, tensions[t]); });
      row.results[firstTension + t] = Measure(photo, mask, work, ms);
    }
    work = damaged;
    ms = Millis([&] { TextureFill(&work, mask); });
    row.results[texture] = Measure(photo, mask, work, ms);
    work = damaged;
    AutoOptions options;
    options.threads = threads;
    options.heldOut.margin = margin;
    options.heldOut.rounds = rounds;
    options.heldOut.tile = tile;
    options.tensions = autoTensions;
    options.prior.copies = priorCopies;
    AutoReport report;
    ms = Millis([&] { report = AutoFill(&work, mask, options); });
    row.results[automatic] = Measure(photo, mask, work, ms);
    row.estimate = report.estimatedPsnr;
    row.choice = report.single >= 0 ? report.candidates[std::size_t(report.single)] : "per region";
    std::fprintf(stderr, "%-28s %5.2f %%  auto %.2f dB (est %.2f, %s) in %.0f ms\n",
                 row.name.c_str(), row.masked, row.results[automatic].psnr, row.estimate,
                 row.choice.c_str(), ms);
    rows.push_back(std::move(row));
  }

  // The single methods auto competes with: the fills it chooses from.
  std::vector<std::size_t> singles = {2, 3};
  for (std::size_t t = 0; t < tensions.size(); ++t) singles.push_back(firstTension + t);
  singles.push_back(texture);

  std::printf(
      "| picture, mask | masked %% | transport default | transport auto | membrane | biharmonic |");
  std::size_t bestTension = firstTension;
  {
    double best = -1e9;
    for (std::size_t t = 0; t < tensions.size(); ++t) {
      std::vector<double> v;
      for (const Row& r : rows) v.push_back(r.results[firstTension + t].psnr);
      if (Mean(v) > best) best = Mean(v), bestTension = firstTension + t;
    }
  }
  std::printf(" %s | texture | auto | auto's estimate |\n", methods[bestTension].c_str());
  std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
  const std::size_t shown[] = {0, 1, 2, 3, bestTension, texture, automatic};
  for (const Row& r : rows) {
    std::printf("| %s | %.2f |", r.name.c_str(), r.masked);
    double best = -1e9;
    for (std::size_t m : singles) best = std::max(best, r.results[m].psnr);
    for (std::size_t m : shown) {
      const double v = r.results[m].psnr;
      const bool top = std::fabs(v - best) < 0.005 && m != automatic;
      std::printf(top ? " **%.2f** |" : " %.2f |", v);
    }
    std::printf(" %.2f (%s) |\n", r.estimate, r.choice.c_str());
  }

  std::printf("\n| method | mean hole PSNR | mean whole SSIM | mean time (ms) | best in |\n");
  std::printf("|---|---|---|---|---|\n");
  for (std::size_t m = 0; m < methods.size(); ++m) {
    std::vector<double> p, s, t;
    int best = 0;
    for (const Row& r : rows) {
      p.push_back(r.results[m].psnr);
      s.push_back(r.results[m].ssim);
      t.push_back(r.results[m].ms);
      double top = -1e9;
      for (std::size_t k : singles) top = std::max(top, r.results[k].psnr);
      best += std::find(singles.begin(), singles.end(), m) != singles.end() &&
              r.results[m].psnr >= top - 1e-9;
    }
    const bool single = std::find(singles.begin(), singles.end(), m) != singles.end();
    std::printf("| %s | %.2f | %.4f | %.0f | %s |\n", methods[m].c_str(), Mean(p), Mean(s), Mean(t),
                single ? std::to_string(best).c_str() : "-");
  }
  std::vector<double> oracle, estimateError;
  int atLeast = 0, within = 0;
  for (const Row& r : rows) {
    double top = -1e9;
    for (std::size_t k : singles) top = std::max(top, r.results[k].psnr);
    oracle.push_back(top);
    atLeast += r.results[automatic].psnr >= top - 1e-9;
    within += r.results[automatic].psnr >= top - 0.1;
    estimateError.push_back(std::fabs(r.estimate - r.results[automatic].psnr));
  }
  std::printf("| best single fill, chosen per picture afterwards | %.2f | | | |\n", Mean(oracle));
  std::printf(
      "\nauto at least the best single fill in %d of %zu cases, within 0.1 dB of it in %d;"
      " mean |estimate - hole PSNR| of auto %.2f dB\n",
      atLeast, rows.size(), within, Mean(estimateError));
  return 0;
}
