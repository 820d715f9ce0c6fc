// Command-line front end. It starts like the window (defaults in the edit texts),
// loads the damaged image, the mask and the original, types the option values into
// the edits, runs OnRun or OnAuto and saves the result if asked.
#include "cli/cli_app.h"

#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cmath>
#include <string>

#include "session/headless_session.h"

namespace {

// The command line's dialog: messages go to standard error, and in the automatic
// mode each measured cycle too when asked.
class CCliDialog : public CHeadlessSession, public CRunObserver {
 public:
  CCliDialog(std::FILE* err, bool progress) : m_err(err), m_progress(progress) {
    engine.SetObserver(this);
  }
  void MessageBox(const std::string& text, const std::string& caption) override {
    CHeadlessSession::MessageBox(text, caption);
    std::fprintf(m_err, "%s: %s\n", caption.empty() ? kAppTitle : caption.c_str(), text.c_str());
  }
  void Progress(const RunProgress& progress) override {
    if (m_progress && progress.automatic && progress.measured)
      std::fprintf(m_err, "cycle %d: psnr %.6g\n", progress.cycle, double(progress.psnr));
  }

 private:
  std::FILE* m_err;
  bool m_progress;
};

// Option checks, made before anything is loaded.
std::string CheckCount(const std::string& text) {
  std::int32_t v = 0;
  if (!ParseIntField(text, &v) || v < 0)
    return "must be a whole number from 0 to " + std::to_string(INT32_MAX) + ", not '" + text + "'";
  return std::string();
}

std::string CheckFinite(const std::string& text) {
  float v = 0;
  if (!ParseFloatField(text, &v) || !std::isfinite(v))
    return "must be a finite number, not '" + text + "'";
  return std::string();
}

std::string CheckThreshold(const std::string& text) {
  std::string why = CheckFinite(text);
  if (!why.empty()) return why;
  float v = 0;
  ParseFloatField(text, &v);
  return v < 0 ? "must not be negative (got '" + text + "')" : std::string();
}

std::string Number(float v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char text[64];
  std::snprintf(text, sizeof text, "%.9g", double(v));
  return text;
}

std::string JsonNumber(float v) {
  return std::isfinite(v) ? Number(v) : "\"" + Number(v) + "\"";
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

int RunCli(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  CLI::App app{
      "Restores the masked pixels of a damaged 24-bit BMP image and reports the PSNR of the\n"
      "damaged image and of the result against the original.",
      "ruvanta-cli"};
  std::string damaged, mask, original, output;
  std::string iterations = "100", diffusion = "2", perDiffusion = "15", deltaT = "0.01",
              threshold = "0";
  bool automatic = false, overwrite = false, json = false;
  app.add_option("--damaged", damaged, "Damaged image (24-bit BMP)")->required();
  app.add_option("--mask", mask,
                 "Mask of the same size: every pixel that is not pure black is restored")
      ->required();
  app.add_option("--original", original,
                 "Undamaged image, used only for the PSNR (without it the PSNR is measured "
                 "against black)");
  app.add_option("--iterations", iterations, "Transport iterations of the run (default 100)")
      ->check(CLI::Validator(CheckCount, "COUNT"));
  app.add_option("--diffusion", diffusion,
                 "Diffusion iterations after each block; 0 switches diffusion off (default 2)")
      ->check(CLI::Validator(CheckCount, "COUNT"));
  app.add_option("--per-diffusion", perDiffusion,
                 "Transport iterations per block; 0 makes one block (default 15)")
      ->check(CLI::Validator(CheckCount, "COUNT"));
  app.add_option("--delta-t", deltaT, "Time step of the transport (default 0.01)")
      ->check(CLI::Validator(CheckFinite, "NUMBER"));
  app.add_flag("--auto", automatic,
               "Automatic mode: cycles of 15 transport and 2 diffusion iterations, five, then "
               "more while the PSNR gain exceeds the threshold");
  app.add_option("--threshold", threshold,
                 "PSNR gain in dB a further automatic cycle must exceed (default 0)")
      ->check(CLI::Validator(CheckThreshold, "NUMBER"));
  app.add_option("--output", output, "Write the result to this new BMP file");
  app.add_flag("--overwrite", overwrite, "Let --output replace an existing file");
  app.add_flag("--json", json, "Print the results as one JSON object");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), out);
    return 0;
  } catch (const CLI::ParseError& e) {
    std::fprintf(err, "ruvanta-cli: %s\n", e.what());
    std::fprintf(err,
                 "usage: ruvanta-cli --damaged F --mask F [--original F] [--iterations N] "
                 "[--diffusion N] [--per-diffusion N] [--delta-t X] [--auto] [--threshold X] "
                 "[--output F] [--overwrite] [--json]\n(--help explains every option)\n");
    return 2;
  }

  if (!output.empty() && !overwrite && Exists(output)) {
    std::fprintf(err, "ruvanta: cannot create file\n%s: already exists (use --overwrite)\n",
                 output.c_str());
    return 1;
  }

  CCliDialog dlg(err, automatic && ::isatty(::fileno(err)));
  CImageFiles& files = dlg.files;
  CRestoreEngine& engine = dlg.engine;
  const CDialogFields& f = engine.m_fields;
  const auto report = [&](const FileResult& r) {
    std::fprintf(err, "%s: %s\n", r.caption.empty() ? kAppTitle : r.caption.c_str(),
                 r.Text().c_str());
  };
  FileResult r = files.LoadDamaged(damaged);
  if (r.ok) r = files.LoadMask(mask);
  if (r.ok && !original.empty()) r = files.LoadOriginal(original);
  if (!r.ok) {
    report(r);
    return 1;
  }
  dlg.SetItemText(IDC_EDIT_TRANSPORT_ITER, iterations);
  dlg.SetItemText(IDC_EDIT_DIFFUSION_ITER, diffusion);
  dlg.SetItemText(IDC_EDIT_TRANSPORT_PER_DIFFUSION, perDiffusion);
  dlg.SetItemText(IDC_EDIT_DELTA_T, deltaT);
  dlg.SetItemText(IDC_EDIT_THRESHOLD, threshold);
  const std::size_t messagesBefore = dlg.m_messages.size();
  if (automatic)
    engine.OnAuto();
  else
    engine.OnRun();
  if (dlg.m_messages.size() != messagesBefore) return 1;

  if (!output.empty()) {
    r = files.SaveResult(output, overwrite);
    if (!r.ok) {
      report(r);
      return 1;
    }
  }
  if (json) {
    std::fprintf(out,
                 "{\"mask_pixels\": %u, \"psnr_damaged\": %s, \"psnr_result\": %s, "
                 "\"iterations\": %u, \"seconds\": %.3f}\n",
                 f.m_nMaskPixels, JsonNumber(f.m_fPsnrDamaged).c_str(),
                 JsonNumber(f.m_fPsnrResult).c_str(), f.m_nTotalIter, double(f.m_fSeconds));
  } else {
    std::fprintf(out, "mask pixels: %u\n", f.m_nMaskPixels);
    std::fprintf(out, "psnr damaged: %s\n", Number(f.m_fPsnrDamaged).c_str());
    std::fprintf(out, "psnr result: %s\n", Number(f.m_fPsnrResult).c_str());
    std::fprintf(out, "iterations: %u\n", f.m_nTotalIter);
    std::fprintf(out, "seconds: %.3f\n", double(f.m_fSeconds));
  }
  return 0;
}
