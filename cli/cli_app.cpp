// Command-line front end. A single run starts like the window (defaults in the
// edit texts), loads the damaged image, the mask and the original, types the
// option values into the edits, runs OnRun, OnAuto or one of the fills and saves
// the result if asked; --batch runs the rows of a manifest instead. Every option
// value and combination is checked before anything is loaded or written.
#include "cli/cli_app.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <string>
#include <thread>

#include "cli/batch.h"
#include "cli/interrupt.h"
#include "cli/report.h"
#include "cli/run.h"
#include "session/trace.h"

namespace {

constexpr int kMaxJobs = 256;

const char* const kUsage =
    "usage: ruvanta-cli --damaged F --mask F [--original F] [--method M] [--tension X]\n"
    "                   [--iterations N] [--diffusion N] [--per-diffusion N] [--delta-t X]\n"
    "                   [--auto] [--threshold X] [--settle X] [--output F] [--overwrite]\n"
    "                   [--init damaged|fill] [--trace F.csv] [--metrics] [--json]\n"
    "                   [--threads N]\n"
    "       ruvanta-cli --batch MANIFEST.csv --out-dir DIR [--jobs N] [--format bmp|png]\n"
    "                   [run options for every row] [--metrics]\n"
    "(--help explains every option)\n";

int Usage(std::FILE* err, const std::string& message) {
  std::fprintf(err, "ruvanta-cli: %s\n%s", message.c_str(), kUsage);
  return 2;
}

std::string CheckJobs(const std::string& text) {
  std::int32_t v = 0;
  if (!ParseIntField(text, &v) || v < 1 || v > kMaxJobs)
    return "must be a whole number from 1 to " + std::to_string(kMaxJobs) + ", not '" + text + "'";
  return std::string();
}

std::string CheckThreads(const std::string& text) {
  const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
  std::int32_t v = 0;
  if (!ParseIntField(text, &v) || v < 1 || v > cores)
    return "must be a whole number from 1 to " + std::to_string(cores) +
           " (the processor's threads), not '" + text + "'";
  return std::string();
}

std::string CheckFormat(const std::string& text) {
  if (text == "bmp" || text == "png") return std::string();
  return "must be bmp or png, not '" + text + "'";
}

std::string CheckMemorySize(const std::string& text) {
  if (MemorySize(text) == 0)
    return "must be a size such as 6G, 500M or 250000K (bytes without a unit), not '" + text +
           "'";
  return std::string();
}

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// A single run's reports: the measured cycles on a terminal, the trace, Ctrl-C.
class CliHooks : public RunHooks {
 public:
  CliHooks(std::FILE* err, bool terminal, TraceFile* trace)
      : m_err(err), m_terminal(terminal), m_trace(trace) {}
  void Starting() override {
    m_started = true;
    if (m_trace->IsOpen()) m_trace->Start();
  }
  void Progress(const RunProgress& progress) override {
    if (m_terminal) {
      const std::string line = ProgressLine(progress);
      if (!line.empty()) std::fprintf(m_err, "%s\n", line.c_str());
    }
    m_trace->Add(progress);
  }
  bool StopRequested() override { return InterruptRequested(); }
  bool Started() const { return m_started; }

 private:
  std::FILE* m_err;
  bool m_terminal;
  TraceFile* m_trace;
  bool m_started = false;
};

int RunSingle(const RunRequest& request, const std::string& tracePath, bool json, std::FILE* out,
              std::FILE* err) {
  if (!request.output.empty() && !request.overwrite && Exists(request.output)) {
    std::fprintf(err, "ruvanta: cannot create file\n%s: already exists (use --overwrite)\n",
                 request.output.c_str());
    return 1;
  }
  if (!tracePath.empty() && Exists(tracePath)) {
    std::fprintf(
        err,
        "ruvanta: cannot create the trace\n%s: already exists (a trace is always a new file)\n",
        tracePath.c_str());
    return 1;
  }
  InterruptScope interrupt;
  TraceFile trace;
  std::string why;
  if (!tracePath.empty() && !trace.Create(tracePath, &why)) {
    std::fprintf(err, "ruvanta: cannot create the trace\n%s\n", why.c_str());
    return 1;
  }
  CliHooks hooks(err, request.automatic && ::isatty(::fileno(err)), &trace);
  const RunResult outcome = ExecuteRun(request, hooks, json || request.metrics);
  // A run that never started leaves no trace behind.
  const bool traced = trace.Close(&why);
  if (!outcome.ok) {
    std::fprintf(err, "%s\n", outcome.failure.Printed().c_str());
    return 1;
  }
  if (json)
    std::fprintf(out, "%s\n", DumpJson(ResultJson(outcome)).c_str());
  else
    std::fputs(ResultLines(outcome, request.metrics).c_str(), out);
  std::fflush(out);
  if (const auto& m = outcome.membrane) {
    if (!m->converged)
      std::fprintf(err,
                   "ruvanta-cli: the membrane fill stopped at %d iterations before converging "
                   "(relative residual %g)\n",
                   m->iterations, m->relativeResidual);
    if (m->unboundedPixels > 0)
      std::fprintf(err,
                   "ruvanta-cli: %d masked pixels touch no unmasked pixel and were left as they "
                   "were\n",
                   m->unboundedPixels);
  }
  int status = 0;
  if (!outcome.incomplete.empty()) {
    std::fprintf(err, "ruvanta: %s\n", outcome.incomplete.c_str());
    status = 1;
  }
  if (!traced) {
    std::fprintf(err, "ruvanta: cannot write the trace\n%s\n", why.c_str());
    status = 1;
  }
  if (outcome.atCap)
    std::fprintf(err,
                 "ruvanta-cli: the automatic mode stopped at the %d-cycle cap before its rule "
                 "ended it\n",
                 kMaxSettleCycles);
  if (outcome.stopped)
    std::fprintf(err, "ruvanta-cli: stopped after %u iterations\n", outcome.fields.m_nTotalIter);
  else if (InterruptRequested())
    std::fprintf(err, "ruvanta-cli: interrupted after the run had ended (%u iterations)\n",
                 outcome.fields.m_nTotalIter);
  if (status == 0 && InterruptRequested()) status = 130;
  return status;
}

}  // namespace

int RunCli(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  CLI::App app{
      "Restores the masked pixels of a damaged image (BMP, PNG or JPEG) and reports the PSNR\n"
      "of the damaged image and of the result against the original; or, with --batch,\n"
      "restores every row of a manifest.",
      "ruvanta-cli"};
  RunRequest request;
  std::string settle, tension, init = "damaged", method = "transport", trace, batch, outDir, jobs, threads, format = "bmp",
      memory;
  bool json = false;
  app.add_option("--damaged", request.damaged, "Damaged image: 24-bit BMP, PNG or JPEG");
  app.add_option("--mask", request.mask,
                 "Mask of the same size: every pixel that is not pure black is restored");
  app.add_option("--original", request.original,
                 "Undamaged image, used only to measure quality (without it the PSNR is "
                 "measured against black)");
  app.add_option("--method", method,
                 "transport: the transport and diffusion run (default); membrane: the harmonic "
                 "fill; biharmonic: the thin-plate fill; tension: the thin-plate fill under "
                 "--tension; texture: the frequency-selective fill, for texture; auto: per "
                 "region of the mask the fill that restores known pixels hidden under shifted "
                 "copies of it best. The fills are solved in one go (their solver iterations "
                 "count as iterations) and never read the values under the mask")
      ->check(CLI::Validator(CheckMethod, "transport|membrane|biharmonic|tension|texture|auto"));
  app.add_option("--init", init,
                 "With --method transport: what the masked pixels start from, damaged (the "
                 "values under the mask, the default) or fill (the membrane fill, so that the "
                 "result no longer depends on what the mask covers)")
      ->check(CLI::Validator(CheckInit, "damaged|fill"));
  app.add_option("--tension", tension,
                 "With --method tension: the weight of the membrane's term against the "
                 "thin plate's, a number >= 0 (0 is the biharmonic fill, large values approach "
                 "the membrane; default 0.5)")
      ->check(CLI::Validator(CheckTension, "NUMBER"));
  app.add_option("--iterations", request.iterations,
                 "Transport iterations of the run (default 100)")
      ->check(CLI::Validator(CheckCount, "COUNT"));
  app.add_option("--diffusion", request.diffusion,
                 "Diffusion iterations after each block; 0 switches diffusion off (default 2)")
      ->check(CLI::Validator(CheckCount, "COUNT"));
  app.add_option("--per-diffusion", request.perDiffusion,
                 "Transport iterations per block; 0 makes one block (default 15)")
      ->check(CLI::Validator(CheckCount, "COUNT"));
  app.add_option("--delta-t", request.deltaT, "Time step of the transport (default 0.01)")
      ->check(CLI::Validator(CheckFinite, "NUMBER"));
  app.add_flag("--force", request.force,
               "Run with a --delta-t at or below 0 or above 1, which is otherwise refused (such "
               "a step moves the values away from the fill or overshoots it)");
  app.add_flag("--auto", request.automatic,
               "Automatic mode: cycles of 15 transport and 2 diffusion iterations, five, then "
               "more while the PSNR gain exceeds the threshold. With --original the PSNR is "
               "measured against it; without, the same cycles run on known pixels hidden under "
               "shifted copies of the mask, and their PSNR decides (or, with --settle, the "
               "result's change)");
  app.add_option("--threshold", request.threshold,
                 "PSNR gain in dB a further automatic cycle must exceed (default 0)")
      ->check(CLI::Validator(CheckThreshold, "NUMBER"));
  app.add_option("--settle", settle,
                 "Automatic mode without --original, by the settle rule instead of the "
                 "held-out pixels: a further cycle runs while the mean absolute change of the "
                 "masked values over the last cycle exceeds this (" +
                     NumberText(kDefaultSettleLevel) + " is the level the window uses)")
      ->check(CLI::Validator(CheckSettle, "NUMBER"));
  app.add_option("--output", request.output, "Write the result to this new BMP file");
  app.add_flag("--overwrite", request.overwrite, "Let --output replace an existing file");
  app.add_option("--trace", trace,
                 "Write a new CSV file with a row per measured automatic cycle or block of a "
                 "run: cycle,iterations,seconds,psnr,mean_change");
  app.add_flag("--metrics", request.metrics,
               "Also print the PSNR over the masked pixels (all channels and each alone), the "
               "mean absolute error there, and the SSIM over the picture and the mask's box, of "
               "the damaged image and of the result (needs --original); and a fill's estimate "
               "of its hole PSNR, made without the original");
  app.add_flag("--json", json, "Print the results as one JSON object");
  app.add_option("--batch", batch,
                 "Run every row of this CSV manifest (columns damaged, mask, optional original, "
                 "and any run option by its name without dashes; paths relative to its folder)");
  app.add_option("--out-dir", outDir,
                 "With --batch: the folder of the results, DIR/<row>-<damaged file's name>.bmp "
                 "(made when missing; a file already there is never replaced)");
  app.add_option("--jobs", jobs,
                 "With --batch: rows run at once (default: the processor's threads)")
      ->check(CLI::Validator(CheckJobs, "N"));
  app.add_option("--memory", memory,
                 "With --batch: the memory the rows running at once may take between them, "
                 "e.g. 6G or 500M (default: three quarters of the memory available when the "
                 "batch starts); a row waits until its estimate fits")
      ->check(CLI::Validator(CheckMemorySize, "SIZE"));
  app.add_option("--threads", threads,
                 "Threads of one run, from 1 to the processor's threads, the same result on "
                 "any (default: two where the processor has them; the rows of a batch share "
                 "the processor's threads between its jobs, at most two each)")
      ->check(CLI::Validator(CheckThreads, "N"));
  app.add_option("--format", format, "With --batch: the results' file format, bmp (default) or png")
      ->check(CLI::Validator(CheckFormat, "bmp|png"));

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), out);
    return 0;
  } catch (const CLI::ParseError& e) {
    return Usage(err, e.what());
  }
  const auto given = [&](const char* option) { return app.count(option) > 0; };
  request.method = MethodValue(method);
  if (given("--settle")) request.settle = SettleValue(settle);
  if (given("--tension")) request.tension = SettleValue(tension);
  request.initFill = init == "fill";
  if (given("--threads")) request.threads = std::stoi(threads);

  if (given("--batch")) {
    for (const char* option :
         {"--damaged", "--mask", "--original", "--output", "--overwrite", "--trace"})
      if (given(option))
        return Usage(err,
                     std::string("--batch takes its pictures and outputs from the manifest; ") +
                         option + " does not go with it");
    if (!given("--out-dir")) return Usage(err, "--batch needs --out-dir");
    // The combinations are checked row by row, with each row's own cells.
    BatchOptions options;
    options.manifest = batch;
    options.outDir = outDir;
    options.format = format;
    const unsigned threads = std::thread::hardware_concurrency();
    options.jobs = given("--jobs") ? std::stoi(jobs)
                                   : int(std::max(1u, std::min(threads, unsigned(kMaxJobs))));
    if (given("--memory")) options.memory = MemorySize(memory);
    options.defaults = request;
    options.progress = ::isatty(::fileno(err)) != 0;
    return RunBatch(options, out, err);
  }

  for (const char* option : {"--out-dir", "--jobs", "--format", "--memory"})
    if (given(option)) return Usage(err, std::string(option) + " applies only to --batch");
  for (const char* option : {"--damaged", "--mask"})
    if (!given(option)) return Usage(err, std::string(option) + " is required");
  const std::string why = CheckCombination(request, false);
  if (!why.empty()) return Usage(err, why);
  if (!trace.empty() && trace == request.output)
    return Usage(err, "--trace and --output name the same file '" + trace + "'");
  return RunSingle(request, trace, json, out, err);
}
