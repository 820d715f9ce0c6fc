// The batch runner. The manifest is read and every row checked before anything
// runs, so a mistake in row 19 does not leave 18 results behind. Workers take the
// rows in order from a shared counter, each row in its own session (the engine
// keeps no process-wide state, so a row's figures do not depend on the number of
// threads or on its neighbours); a finished row's JSON line is written whole under
// a lock, in the order the rows complete.
#include "cli/batch.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <mutex>
#include <thread>

#include "cli/csv.h"
#include "cli/interrupt.h"
#include "cli/json_out.h"
#include "cli/report.h"
#include "session/system_memory.h"

namespace {

const char* const kPathColumns[] = {"damaged", "mask", "original"};

std::string ColumnList() {
  std::string s;
  for (const char* c : kPathColumns) s += std::string(s.empty() ? "" : ", ") + c;
  for (const char* c : kRunOptionNames) s += std::string(", ") + c;
  return s;
}

std::string Trim(const std::string& s) {
  const std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

bool Blank(const CsvRecord& r) { return r.fields.size() == 1 && r.fields[0].empty(); }

std::string Resolve(const std::string& folder, const std::string& path) {
  if (folder.empty() || path.empty() || path[0] == '/') return path;
  return folder.back() == '/' ? folder + path : folder + "/" + path;
}

Manifest Refuse(std::string error) {
  Manifest m;
  m.error = std::move(error);
  return m;
}

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

using RowProgress = std::function<void(int row, const RunProgress& progress)>;

// A row's stop question (Ctrl-C), its share of the batch's memory and its progress.
class RowHooks : public RunHooks {
 public:
  RowHooks(MemoryBudget& budget, int row, const RowProgress& progress)
      : m_budget(budget), m_row(row), m_progress(progress) {}
  ~RowHooks() override { m_budget.Release(&m_held); }
  RowHooks(const RowHooks&) = delete;
  RowHooks& operator=(const RowHooks&) = delete;
  bool StopRequested() override { return InterruptRequested(); }
  void Progress(const RunProgress& progress) override {
    if (m_progress) m_progress(m_row, progress);
  }
  std::string Reserve(std::uint64_t bytes) override {
    return m_budget.Reserve(&m_held, bytes, [] { return InterruptRequested(); });
  }

 private:
  MemoryBudget& m_budget;
  std::uint64_t m_held = 0;
  int m_row;
  const RowProgress& m_progress;
};

class BatchOutput {
 public:
  BatchOutput(std::FILE* out, std::FILE* err, std::size_t total, bool progress)
      : m_out(out), m_err(err), m_total(total), m_progress(progress) {}

  void Row(const std::string& line, bool failed, bool stopped) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::fputs(line.c_str(), m_out);
    std::fputc('\n', m_out);
    std::fflush(m_out);
    ++m_done;
    if (failed) ++m_failed;
    if (stopped) ++m_stopped;
    DrawBar();
  }
  void Start() {
    std::lock_guard<std::mutex> lock(m_mutex);
    DrawBar();
  }
  void Finish() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_progress) std::fputc('\n', m_err);
  }
  std::size_t Done() const { return m_done; }
  std::size_t Failed() const { return m_failed; }
  std::size_t Stopped() const { return m_stopped; }

 private:
  void DrawBar() {
    if (!m_progress) return;
    constexpr std::size_t kWidth = 30;
    const std::size_t filled = m_total ? m_done * kWidth / m_total : kWidth;
    std::string bar(filled, '#');
    bar.resize(kWidth, '.');
    std::fprintf(m_err, "\r[%s] %zu/%zu rows", bar.c_str(), m_done, m_total);
    if (m_failed) std::fprintf(m_err, ", %zu failed", m_failed);
    std::fflush(m_err);
  }

  std::mutex m_mutex;
  std::FILE* m_out;
  std::FILE* m_err;
  std::size_t m_total;
  bool m_progress;
  std::size_t m_done = 0, m_failed = 0, m_stopped = 0;
};

// One row: its JSON line; `failed` and `stopped` say how it ended.
std::string RunRow(const ManifestRow& row, const std::string& outDir, const std::string& format,
                   int engineThreads, MemoryBudget& budget, const RowProgress& progress,
                   bool* failed, bool* stopped) {
  Json j;
  j["row"] = row.row;
  j["damaged"] = row.request.damaged;
  const std::string output = outDir + "/" + OutputName(row.row, row.request.damaged, format);
  RunResult outcome;
  if (Exists(output)) {
    outcome.failure.text = output + ": already exists; a batch never replaces a file";
  } else {
    RunRequest request = row.request;
    request.output = output;
    request.overwrite = false;
    if (request.threads == 0) request.threads = engineThreads;
    RowHooks hooks(budget, row.row, progress);
    try {
      outcome = ExecuteRun(request, hooks, true);
    } catch (const std::bad_alloc&) {
      outcome = RunResult();
      outcome.failure.text = "not enough memory for the row";
    } catch (const std::exception& e) {
      outcome = RunResult();
      outcome.failure.text = e.what();
    }
  }
  *failed = !outcome.ok || !outcome.incomplete.empty();
  *stopped = outcome.ok && outcome.stopped;
  j["output"] = outcome.ok ? Json(output) : Json(nullptr);
  if (outcome.ok) {
    const Json result = ResultJson(outcome);
    for (auto it = result.begin(); it != result.end(); ++it) j[it.key()] = it.value();
    if (!outcome.incomplete.empty()) j["error"] = outcome.incomplete;
  } else {
    j["error"] = outcome.failure.OneLine();
  }
  return DumpJson(j);
}

}  // namespace

std::uint64_t MemorySize(const std::string& text) {
  std::size_t at = 0;
  std::uint64_t whole = 0;
  bool digits = false;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, digits = true) {
    if (whole > (~std::uint64_t(0) - 9) / 10) return 0;
    whole = whole * 10 + std::uint64_t(text[at] - '0');
  }
  // A fraction is kept as a numerator over a power of ten (up to six digits).
  std::uint64_t fraction = 0, scale = 1;
  if (at < text.size() && text[at] == '.') {
    for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, digits = true)
      if (scale < 1000000) {
        fraction = fraction * 10 + std::uint64_t(text[at] - '0');
        scale *= 10;
      }
  }
  if (!digits) return 0;
  int shift = 0;
  if (at < text.size()) {
    const char unit = char(std::toupper(static_cast<unsigned char>(text[at])));
    const char* const units = "KMGT";
    const char* u = std::strchr(units, unit);
    if (unit == '\0' || u == nullptr) return 0;
    shift = 10 * int(u - units + 1);
    ++at;
    if (at < text.size() && (text[at] == 'B' || text[at] == 'b')) ++at;
  }
  if (at != text.size()) return 0;
  if (shift > 0 && whole > (~std::uint64_t(0) >> shift)) return 0;
  if (shift == 0 && fraction != 0) return 0;  // no fraction of a byte
  return (whole << shift) + (fraction << shift) / scale;
}

std::string MemoryBudget::Reserve(std::uint64_t* held, std::uint64_t bytes,
                                  const std::function<bool()>& stop) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_inUse -= *held;
  *held = 0;
  m_room.notify_all();
  if (!m_total) return std::string();
  if (bytes > *m_total)
    return "the batch's memory budget (--memory) is " + MemoryText(*m_total);
  while (m_inUse + bytes > *m_total) {
    if (stop()) return "stopped while waiting for memory";
    m_room.wait_for(lock, std::chrono::milliseconds(100));
  }
  m_inUse += bytes;
  *held = bytes;
  m_peak = std::max(m_peak, m_inUse);
  return std::string();
}

void MemoryBudget::Release(std::uint64_t* held) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_inUse -= *held;
  *held = 0;
  m_room.notify_all();
}

std::uint64_t MemoryBudget::InUse() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_inUse;
}

std::uint64_t MemoryBudget::Peak() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_peak;
}

Manifest ParseManifest(const std::string& text, const std::string& folder,
                       const RunRequest& defaults) {
  const CsvResult csv = ParseCsv(text);
  if (!csv.ok) return Refuse(csv.error);
  std::vector<const CsvRecord*> records;
  for (const CsvRecord& r : csv.records)
    if (!Blank(r)) records.push_back(&r);
  if (records.empty())
    return Refuse("the manifest is empty: its first line names the columns, e.g. damaged,mask");

  const CsvRecord& header = *records[0];
  const std::string where = "header (line " + std::to_string(header.line) + ")";
  std::vector<std::string> columns;
  for (std::size_t k = 0; k < header.fields.size(); ++k) {
    const std::string name = Trim(header.fields[k]);
    const bool path = name == "damaged" || name == "mask" || name == "original";
    if (!path && !IsRunOption(name))
      return Refuse(where + ", column " + std::to_string(k + 1) + " '" + name +
                    "': not a column of a manifest (they are " + ColumnList() + ")");
    if (std::find(columns.begin(), columns.end(), name) != columns.end())
      return Refuse(where + ": column '" + name + "' appears twice");
    columns.push_back(name);
  }
  for (const char* required : {"damaged", "mask"})
    if (std::find(columns.begin(), columns.end(), required) == columns.end())
      return Refuse(where + ": no '" + std::string(required) + "' column");

  RunRequest base = defaults;
  base.damaged = base.mask = base.original = base.output = std::string();
  base.settle.reset();
  Manifest m;
  for (std::size_t i = 1; i < records.size(); ++i) {
    const CsvRecord& record = *records[i];
    ManifestRow row;
    row.row = int(i);
    row.line = record.line;
    row.request = base;
    const std::string at =
        "row " + std::to_string(row.row) + " (line " + std::to_string(row.line) + ")";
    if (record.fields.size() != columns.size())
      return Refuse(at + ": " + std::to_string(record.fields.size()) +
                    " fields, but the header has " + std::to_string(columns.size()));
    bool settleCell = false;
    for (std::size_t k = 0; k < columns.size(); ++k) {
      const std::string& name = columns[k];
      const std::string& cell = record.fields[k];
      if (name == "damaged" || name == "mask") {
        if (cell.empty()) return Refuse(at + ", column " + name + ": empty");
        (name == "damaged" ? row.request.damaged : row.request.mask) = Resolve(folder, cell);
      } else if (name == "original") {
        row.request.original = Resolve(folder, cell);
      } else if (!cell.empty()) {
        const std::string why = SetRunOption(&row.request, name, cell);
        if (!why.empty()) return Refuse(at + ", column " + name + ": " + why);
        settleCell = settleCell || name == "settle";
      }
    }
    if (!settleCell && defaults.settle && row.request.automatic && row.request.original.empty() &&
        row.request.method == RunMethod::kTransport)
      row.request.settle = defaults.settle;
    const std::string why = CheckCombination(row.request, true);
    if (!why.empty()) return Refuse(at + ": " + why);
    m.rows.push_back(std::move(row));
  }
  m.ok = true;
  return m;
}

Manifest ReadManifest(const std::string& path, const RunRequest& defaults) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  Manifest m;
  m.unreadable = true;
  if (!f) {
    m.error = path + ": " + std::strerror(errno);
    return m;
  }
  std::string text;
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  const bool bad = std::ferror(f) != 0;
  const int error = errno;
  std::fclose(f);
  if (bad) {
    m.error = path + ": " + std::strerror(error);
    return m;
  }
  const std::size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  m = ParseManifest(text, folder, defaults);
  if (!m.ok) m.error = path + ": " + m.error;
  return m;
}

std::string OutputName(int row, const std::string& damaged, const std::string& format) {
  const std::size_t slash = damaged.find_last_of('/');
  std::string stem = slash == std::string::npos ? damaged : damaged.substr(slash + 1);
  const std::size_t dot = stem.find_last_of('.');
  if (dot != std::string::npos && dot > 0) stem.resize(dot);
  return std::to_string(row) + "-" + stem + "." + format;
}

int RowThreads(int cores, std::size_t jobs, std::size_t job) {
  if (jobs == 0 || std::size_t(cores) <= jobs) return 1;
  const std::size_t share = std::size_t(cores) / jobs;
  return int(share + (job < std::size_t(cores) % jobs ? 1 : 0));
}

int RunBatch(const BatchOptions& options, std::FILE* out, std::FILE* err) {
  const Manifest manifest = ReadManifest(options.manifest, options.defaults);
  if (!manifest.ok) {
    std::fprintf(err, "ruvanta-cli: %s\n", manifest.error.c_str());
    return manifest.unreadable ? 1 : 2;
  }
  std::error_code ec;
  std::filesystem::create_directories(options.outDir, ec);
  if (!std::filesystem::is_directory(options.outDir)) {
    std::fprintf(err, "ruvanta-cli: cannot make the output folder %s: %s\n", options.outDir.c_str(),
                 ec ? ec.message().c_str() : "a file of that name is in the way");
    return 1;
  }

  const std::vector<ManifestRow>& rows = manifest.rows;
  BatchOutput output(out, err, rows.size(), options.progress);
  InterruptScope interrupt;
  std::atomic<std::size_t> next{0};
  const std::size_t jobs =
      std::min<std::size_t>(std::size_t(std::max(options.jobs, 1)), rows.size());
  // Rows side by side share the cores: more threads than cores would only make
  // them wait for one another.
  const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
  std::optional<std::uint64_t> total = options.memory;
  if (!total)
    if (const std::optional<std::uint64_t> room = ReadMemoryFigures().Room())
      total = *room / 4 * 3;
  MemoryBudget budget(total);
  const auto work = [&](std::size_t job) {
    // No more than a run takes by default (see DefaultKernelThreads).
    const int engineThreads = std::min(RowThreads(cores, jobs, job), DefaultKernelThreads());
    while (!InterruptRequested()) {
      const std::size_t i = next.fetch_add(1);
      if (i >= rows.size()) return;
      bool failed = false, stopped = false;
      const std::string line = RunRow(rows[i], options.outDir, options.format, engineThreads,
                                      budget, options.onProgress, &failed, &stopped);
      output.Row(line, failed, stopped);
    }
  };
  output.Start();
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < jobs; ++t) {
    try {
      threads.emplace_back(work, t);
    } catch (const std::system_error&) {
      break;  // fewer threads than asked; the ones running take every row
    }
  }
  if (threads.empty()) work(0);
  for (std::thread& t : threads) t.join();
  output.Finish();

  const std::size_t notStarted = rows.size() - output.Done();
  if (InterruptRequested()) {
    std::fprintf(
        err, "ruvanta-cli: interrupted: %zu of %zu rows run (%zu stopped early), %zu not started\n",
        output.Done(), rows.size(), output.Stopped(), notStarted);
    return 130;
  }
  if (output.Failed() > 0) {
    std::fprintf(err, "ruvanta-cli: %zu of %zu rows failed\n", output.Failed(), rows.size());
    return 1;
  }
  return 0;
}
