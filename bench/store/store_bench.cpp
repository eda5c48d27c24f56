// ReadDoc and SaveDoc of tag documents of 1, 10 and 50 MB (UTF-16 input),
// beside pugixml parsing and writing the same tree as UTF-8 XML.
//
// Two settings, both printed:
// - as before: every benchmark and size in this one process, with glibc's
//   default allocator settings. At 50 MB glibc hands large blocks back to the
//   system after each iteration (mmap and heap trimming), so whichever side
//   keeps its own memory for reuse is spared the page faults of the other.
// - steady state: each benchmark and size in a fresh process of this
//   program, both sides under the same GLIBC_TUNABLES (no mmap for large
//   blocks, no trimming), so freed memory stays in the heap for the next
//   iteration. The processes run in rounds, the store and pugixml back to
//   back, and the ratio is the median of the ratios within each round.
// Each row shows the minor page faults per iteration, which tells whether a
// side was in a steady state.
//
// SaveDoc writes a temporary file, flushes it to disk (fsync) and renames it
// over the target. pugixml's save is measured plain, as before, and doing the
// same three steps ("pugi save+sync"), which is the like-for-like anchor.
// BM_StoreWriteText is SaveDoc's text without the file.
//
//   store_bench [--rounds N] [--tunables GLIBC_TUNABLES for the fresh processes]
//               [google benchmark flags, for the first setting;
//               names look like BM_StoreReadDoc/10/repeats:3/real_time]
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "common/utf.h"
#include "store/dom.h"

#ifdef STORE_BENCH_HAVE_PUGIXML
#include <pugixml.hpp>
#endif

namespace fs = std::filesystem;
using namespace quill;

namespace {

// Set in the fresh processes of the steady-state setting: the folder holding
// the inputs the first process made.
constexpr const char* kInputsVariable = "QUILLANT_STORE_BENCH_INPUTS";
constexpr const char* kSteadyTunables = "glibc.malloc.mmap_max=0:glibc.malloc.trim_threshold=68719476736";
// The allocator settings of the fresh processes; --tunables "" gives them
// glibc's defaults, which tells the effect of the settings from that of a
// fresh process.
std::string steadyTunables = kSteadyTunables;
const int kSizes[] = {1, 10, 50};

bool childProcess() { return std::getenv(kInputsVariable) != nullptr; }

struct Input {
  std::string tagPath;  // tag document (FF FE + UTF-16LE)
  std::string xmlPath;  // the same text as UTF-8 XML
  size_t tagBytes = 0;  // file size of the tag document
  size_t chars = 0;     // UTF-16 code units of its text
};

fs::path benchFolder() {
  static const fs::path dir = [] {
    if (const char* given = std::getenv(kInputsVariable)) return fs::path(given);
    fs::path d = fs::temp_directory_path() /
                 ("quillant-store-bench-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string utf16le(std::string_view utf8) { return stringToUtf16le(utf8ToUtf16(utf8)); }

// A catalogue-like document of about `mb` megabytes of UTF-16: items with
// attributes, text with entities and some Japanese, nested option lists.
std::string generate(size_t mb) {
  const size_t targetChars = mb * 1024 * 1024 / 2;
  std::mt19937 rng(42);
  std::string s = "<?xml version=\"1.0\"?>\r\n<Catalogue Name=\"Bench\">\r\n";
  size_t chars = s.size();
  for (int i = 0; chars < targetChars; ++i) {
    std::string item = "  <Item Code=\"A" + std::to_string(100000 + i) + "\" Name=\"Widget " + std::to_string(i) +
                       " \xE9\x83\xA8\xE5\x93\x81\" Price=\"" + std::to_string(rng() % 100000) +
                       "\" Group=\"Tools &amp; Parts\">\r\n    <Desc>A sturdy widget, size " +
                       std::to_string(rng() % 50) +
                       " &lt;mm&gt;, \xE6\x97\xA5\xE6\x9C\xAC\xE8\xA3\xBD. Ships in 3 days.</Desc>\r\n"
                       "    <Options>\r\n";
    for (int k = 0; k < 3; ++k)
      item += "      <Option Key=\"k" + std::to_string(k) + "\" Value=\"" + std::to_string(rng() % 1000) + "\"/>\r\n";
    item += "    </Options>\r\n  </Item>\r\n";
    chars += utf8ToUtf16(item).size();
    s += item;
  }
  s += "</Catalogue>";
  return s;
}

// The inputs of one size; made by the first process, found by the others.
const Input& input(size_t mb) {
  static std::map<size_t, Input> inputs;
  auto it = inputs.find(mb);
  if (it != inputs.end()) return it->second;
  Input in;
  const fs::path dir = benchFolder();
  in.tagPath = (dir / ("doc" + std::to_string(mb) + ".xml")).string();
  in.xmlPath = (dir / ("doc" + std::to_string(mb) + ".utf8.xml")).string();
  if (!fs::exists(in.xmlPath)) {
    writeFile(in.tagPath, "\xFF\xFE" + utf16le(generate(mb)));
    // Both sides work on the tree as the store writes it.
    cvDomDoc doc;
    doc.readDoc(in.tagPath);
    doc.saveDoc();
    writeFile(in.xmlPath, doc.documentText());
  }
  in.tagBytes = fs::file_size(in.tagPath);
  in.chars = (in.tagBytes - 2) / 2;
  return inputs.emplace(mb, in).first->second;
}

long minorFaults() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_minflt;
}

// Rates and page faults of the timed loop; `faultsBefore` is taken just
// before it.
void setRates(benchmark::State& state, const Input& in, long faultsBefore) {
  state.counters["faults"] =
      benchmark::Counter(static_cast<double>(minorFaults() - faultsBefore), benchmark::Counter::kAvgIterations);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.tagBytes));
  state.counters["chars"] =
      benchmark::Counter(static_cast<double>(in.chars) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}

void BM_StoreReadDoc(benchmark::State& state) {
  const Input& in = input(static_cast<size_t>(state.range(0)));
  const long faults = minorFaults();
  for (auto _ : state) {
    cvDomDoc doc;
    doc.readDoc(in.tagPath);
    benchmark::DoNotOptimize(doc.root());
  }
  setRates(state, in, faults);
}

void BM_StoreSaveDoc(benchmark::State& state) {
  const Input& in = input(static_cast<size_t>(state.range(0)));
  cvDomDoc doc;
  doc.readDoc(in.tagPath);
  const std::string out = in.tagPath + ".saved";
  const long faults = minorFaults();
  for (auto _ : state) doc.saveDoc(out);  // overwrites in place
  setRates(state, in, faults);
}

// SaveDoc without the file: the document text and its UTF-16 form.
void BM_StoreWriteText(benchmark::State& state) {
  const Input& in = input(static_cast<size_t>(state.range(0)));
  cvDomDoc doc;
  doc.readDoc(in.tagPath);
  const long faults = minorFaults();
  for (auto _ : state) benchmark::DoNotOptimize(utf16le(doc.documentText()));
  setRates(state, in, faults);
}

#ifdef STORE_BENCH_HAVE_PUGIXML
void BM_PugixmlParse(benchmark::State& state) {
  const Input& in = input(static_cast<size_t>(state.range(0)));
  const long faults = minorFaults();
  for (auto _ : state) {
    pugi::xml_document doc;
    auto result = doc.load_file(in.xmlPath.c_str(), pugi::parse_default, pugi::encoding_utf8);
    if (!result) state.SkipWithError(result.description());
    benchmark::DoNotOptimize(doc.first_child());
  }
  setRates(state, in, faults);
}

void BM_PugixmlSave(benchmark::State& state) {
  const Input& in = input(static_cast<size_t>(state.range(0)));
  pugi::xml_document doc;
  doc.load_file(in.xmlPath.c_str(), pugi::parse_default, pugi::encoding_utf8);
  const std::string out = in.xmlPath + ".saved";
  const long faults = minorFaults();
  for (auto _ : state)
    if (!doc.save_file(out.c_str(), "", pugi::format_raw, pugi::encoding_utf8)) state.SkipWithError("save");
  setRates(state, in, faults);
}

// pugixml doing what SaveDoc does with the file: a temporary file beside the
// target, flushed to disk, renamed over it.
void BM_PugixmlSaveSynced(benchmark::State& state) {
  const Input& in = input(static_cast<size_t>(state.range(0)));
  pugi::xml_document doc;
  doc.load_file(in.xmlPath.c_str(), pugi::parse_default, pugi::encoding_utf8);
  const std::string out = in.xmlPath + ".synced";
  const std::string tmp = out + ".tmp";
  const long faults = minorFaults();
  for (auto _ : state) {
    bool ok = doc.save_file(tmp.c_str(), "", pugi::format_raw, pugi::encoding_utf8);
    const int fd = ::open(tmp.c_str(), O_RDONLY);
    ok = ok && fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
    ok = ok && std::rename(tmp.c_str(), out.c_str()) == 0;
    if (!ok) state.SkipWithError("save");
  }
  setRates(state, in, faults);
}
#endif

// A fresh process measures one benchmark and size once; the first process
// takes the median of three repetitions, as before.
void sizes(benchmark::internal::Benchmark* b) {
  for (int mb : kSizes) b->Arg(mb);
  b->Unit(benchmark::kMillisecond)->UseRealTime();
  if (!childProcess()) b->Repetitions(3)->ReportAggregatesOnly(true);
}

BENCHMARK(BM_StoreReadDoc)->Apply(sizes);
BENCHMARK(BM_StoreSaveDoc)->Apply(sizes);
BENCHMARK(BM_StoreWriteText)->Apply(sizes);
#ifdef STORE_BENCH_HAVE_PUGIXML
BENCHMARK(BM_PugixmlParse)->Apply(sizes);
BENCHMARK(BM_PugixmlSave)->Apply(sizes);
BENCHMARK(BM_PugixmlSaveSynced)->Apply(sizes);
#endif

struct Figure {
  double seconds = 0;       // per iteration
  double charsPerSec = 0;
  double faults = 0;        // minor page faults per iteration
};

// Collects a figure per benchmark and size: the median of the repetitions,
// or the single run of a fresh process (which prints nothing else).
class Collector : public benchmark::ConsoleReporter {
 public:
  explicit Collector(bool quiet) : quiet_(quiet) {}
  bool ReportContext(const Context& context) override {
    return quiet_ || ConsoleReporter::ReportContext(context);
  }
  void ReportRuns(const std::vector<Run>& runs) override {
    if (!quiet_) ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      const bool single = r.run_type == Run::RT_Iteration && r.repetitions <= 1;
      if (!single && !(r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")) continue;
      auto counter = [&](const char* name) {
        auto c = r.counters.find(name);
        return c == r.counters.end() ? 0.0 : c->second.value;
      };
      figures[r.run_name.function_name + "/" + r.run_name.args] = {r.GetAdjustedRealTime() / 1e3,
                                                                   counter("chars"), counter("faults")};
    }
  }
  std::map<std::string, Figure> figures;

 private:
  bool quiet_;
};

// Runs one benchmark and size in a fresh process under the steady-state
// allocator settings; false when it failed.
bool runFresh(const std::string& self, const std::string& name, int mb, Figure& figure) {
  const std::string command = std::string("env ") + kInputsVariable + "='" + benchFolder().string() +
                              "' GLIBC_TUNABLES='" + steadyTunables + "' '" + self +
                              "' --benchmark_filter='^" + name + "/" + std::to_string(mb) + "/'";
  std::FILE* p = ::popen(command.c_str(), "r");
  if (!p) return false;
  char line[256];
  bool found = false;
  while (std::fgets(line, sizeof line, p))
    found = found || std::sscanf(line, "figure %lf %lf %lf", &figure.seconds, &figure.charsPerSec,
                                 &figure.faults) == 3;
  return ::pclose(p) == 0 && found;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double loadAverage() {
  double load = -1;
  if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%lf", &load) != 1) load = -1;
    std::fclose(f);
  }
  return load;
}

const char* const kNames[] = {"BM_StoreReadDoc",   "BM_PugixmlParse", "BM_StoreSaveDoc", "BM_PugixmlSaveSynced",
                              "BM_PugixmlSave",    "BM_StoreWriteText"};

// The first setting, as it has always been reported.
void summaryAsBefore(const Collector& c) {
  auto get = [&](const std::string& name, int mb) {
    auto it = c.figures.find(name + "/" + std::to_string(mb));
    return it == c.figures.end() ? Figure{} : it->second;
  };
  auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
  std::printf("\nAs before: one process, glibc's default allocator settings (medians of 3; Mc/s = millions "
              "of characters per second; ratio = store rate / pugixml rate; pf = minor page faults per "
              "iteration)\n");
  std::printf("%-6s %10s %8s %10s %8s %6s %10s %10s %6s\n", "size", "ReadDoc", "pf", "pugi parse", "pf",
              "ratio", "SaveDoc", "pugi save", "ratio");
  for (int mb : kSizes) {
    const Figure r = get("BM_StoreReadDoc", mb), pr = get("BM_PugixmlParse", mb);
    const Figure s = get("BM_StoreSaveDoc", mb), ps = get("BM_PugixmlSave", mb);
    std::printf("%3d MB %5.0f Mc/s %8.0f %5.0f Mc/s %8.0f %6.2f %5.0f Mc/s %5.0f Mc/s %6.2f  (SaveDoc syncs, "
                "pugi save does not)\n",
                mb, r.charsPerSec / 1e6, r.faults, pr.charsPerSec / 1e6, pr.faults,
                ratio(r.charsPerSec, pr.charsPerSec), s.charsPerSec / 1e6, ps.charsPerSec / 1e6,
                ratio(s.charsPerSec, ps.charsPerSec));
  }
  for (const char* name : kNames) {
    const double t1 = get(name, 1).seconds, t50 = get(name, 50).seconds;
    if (t1 > 0 && t50 > 0) std::printf("time 50 MB / 1 MB, %-20s %6.1f\n", name, t50 / t1);
  }
}

// The second setting: fresh processes in rounds, store and anchor back to back.
void steadyState(const std::string& self, int rounds) {
  std::map<std::string, std::vector<Figure>> runs;  // name/size -> one figure per round
  const double loadBefore = loadAverage();
  for (int round = 0; round < rounds; ++round)
    for (int mb : kSizes)
      for (const char* name : kNames) {
        Figure f;
        if (runFresh(self, name, mb, f))
          runs[std::string(name) + "/" + std::to_string(mb)].push_back(f);
        else
          std::fprintf(stderr, "steady state: %s/%d failed or is not built\n", name, mb);
      }
  auto rate = [&](const std::string& key) {
    std::vector<double> v;
    for (const Figure& f : runs[key]) v.push_back(f.charsPerSec);
    return median(v) / 1e6;
  };
  auto faults = [&](const std::string& key) {
    std::vector<double> v;
    for (const Figure& f : runs[key]) v.push_back(f.faults);
    return median(v);
  };
  // The median of the per-round ratios of the rates.
  auto pairedRatio = [&](const std::string& mine, const std::string& anchor) {
    std::vector<double> v;
    const auto &a = runs[mine], &b = runs[anchor];
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
      if (b[i].charsPerSec > 0) v.push_back(a[i].charsPerSec / b[i].charsPerSec);
    return median(v);
  };
  std::printf("\nSteady state: a fresh process per benchmark and size, GLIBC_TUNABLES=\"%s\" for both sides; "
              "medians of %d rounds; ratio = median over rounds of store rate / pugixml rate; load average "
              "%.1f before, %.1f after\n",
              steadyTunables.c_str(), rounds, loadBefore, loadAverage());
  std::printf("%-6s %10s %8s %10s %8s %6s | %10s %15s %6s | %10s %10s\n", "size", "ReadDoc", "pf", "pugi parse",
              "pf", "ratio", "SaveDoc", "pugi save+sync", "ratio", "pugi save", "WriteText");
  for (int mb : kSizes) {
    const std::string n = "/" + std::to_string(mb);
    std::printf("%3d MB %5.0f Mc/s %8.0f %5.0f Mc/s %8.0f %6.2f | %5.0f Mc/s %10.0f Mc/s %6.2f | %5.0f Mc/s %5.0f "
                "Mc/s\n",
                mb, rate("BM_StoreReadDoc" + n), faults("BM_StoreReadDoc" + n), rate("BM_PugixmlParse" + n),
                faults("BM_PugixmlParse" + n), pairedRatio("BM_StoreReadDoc" + n, "BM_PugixmlParse" + n),
                rate("BM_StoreSaveDoc" + n), rate("BM_PugixmlSaveSynced" + n),
                pairedRatio("BM_StoreSaveDoc" + n, "BM_PugixmlSaveSynced" + n), rate("BM_PugixmlSave" + n),
                rate("BM_StoreWriteText" + n));
  }
  std::printf("(pugi save: without the sync and rename, as in the first setting)\n");
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  std::vector<char*> args = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--rounds" && i + 1 < argc)
      rounds = std::max(1, std::atoi(argv[++i]));
    else if (std::string(argv[i]) == "--tunables" && i + 1 < argc)
      steadyTunables = argv[++i];
    else
      args.push_back(argv[i]);
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  const bool child = childProcess();
  Collector collector(child);
  if (!child) {
    for (int mb : kSizes) input(static_cast<size_t>(mb));
    std::printf("load average %.1f at the start\n", loadAverage());
  }
  benchmark::RunSpecifiedBenchmarks(&collector);
  if (child) {
    for (const auto& [name, f] : collector.figures) std::printf("figure %.9g %.9g %.9g\n", f.seconds, f.charsPerSec, f.faults);
  } else {
    if (!collector.figures.empty()) summaryAsBefore(collector);
    std::error_code ec;
    steadyState(fs::canonical("/proc/self/exe", ec).string(), rounds);
    fs::remove_all(benchFolder(), ec);
  }
  benchmark::Shutdown();
  return 0;
}
